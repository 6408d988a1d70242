#include "support/FailingAllocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include <dlfcn.h>

namespace {

std::atomic<std::uint64_t> target{0}, count{0};
std::atomic<bool> hit{false};

// Whether the calling thread is destroying a read-back reader
// (QpdfReadBack.cpp), whose allocations the blocks it held back serve: the
// C allocator gives those without asking the system, and no shortage fails them.
using ReserveProbe = int (*)();
std::atomic<ReserveProbe> servedByReserve{nullptr};

bool failsNow()
{
    const std::uint64_t n = target.load(std::memory_order_relaxed);
    if (n == 0 || count.fetch_add(1, std::memory_order_relaxed) + 1 != n) return false;
    hit.store(true);
    const ReserveProbe probe = servedByReserve.load();
    return !(probe && probe() > 0);
}

} // namespace

void testsupport::allocation::failNth(std::uint64_t n)
{
    if (void* library = ::dlopen("libravlen-qpdf.so", RTLD_NOLOAD | RTLD_LAZY)) {
        servedByReserve.store(reinterpret_cast<ReserveProbe>(::dlsym(library, "ravlenQpdfServedByReserve")));
        ::dlclose(library);
    }
    target.store(0);
    count.store(0);
    hit.store(false);
    target.store(n);
}

bool testsupport::allocation::reached() { return hit.load(); }

// Every form, so that the sanitizer's own forms never free what these made.
void* operator new(std::size_t size)
{
    void* p = failsNow() ? nullptr : std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return failsNow() ? nullptr : std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& t) noexcept { return operator new(size, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
