#include "support/FailingAllocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include <dlfcn.h>

namespace testsupport::allocation {
namespace {

std::atomic<std::uint64_t> target{0};
std::atomic<std::uint64_t> count{0};
std::atomic<bool> reached{false};

// Whether the calling thread is destroying a read-back reader, whose
// allocations the blocks it held back serve (QpdfReadBack.cpp): those the C
// allocator gives without asking the system, which no shortage fails.
using ReserveProbe = int (*)();
std::atomic<ReserveProbe> servedByReserve{nullptr};

void findReserveProbe()
{
    if (servedByReserve.load()) return;
    void* library = ::dlopen("libravlen-qpdf.so", RTLD_NOLOAD | RTLD_LAZY);
    if (!library) return;
    servedByReserve.store(reinterpret_cast<ReserveProbe>(::dlsym(library, "ravlenQpdfServedByReserve")));
    ::dlclose(library);
}

// Where an allocation is made to fail: a place for a debugger to stop.
[[gnu::noinline]] bool failing()
{
    asm volatile("");
    return true;
}

// Whether this allocation is the one to fail.
bool failsNow()
{
    const std::uint64_t n = target.load(std::memory_order_relaxed);
    if (n == 0) return false;
    if (count.fetch_add(1, std::memory_order_relaxed) + 1 != n) return false;
    reached.store(true);
    const ReserveProbe probe = servedByReserve.load();
    return !(probe && probe() > 0) && failing();
}

} // namespace

void failNth(std::uint64_t n)
{
    findReserveProbe();
    target.store(0);
    count.store(0);
    reached.store(false);
    target.store(n);
}

bool failed() { return reached.load(); }

std::uint64_t counted() { return count.load(); }

} // namespace testsupport::allocation

namespace {

void* allocate(std::size_t size)
{
    if (testsupport::allocation::failsNow()) return nullptr;
    return std::malloc(size ? size : 1);
}

} // namespace

void* operator new(std::size_t size)
{
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
