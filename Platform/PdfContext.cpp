#include "Platform/PdfInternal.h"

#include "Platform/MemoryUse.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

// MuPDF takes its locks for a few instructions at a time, many times per
// character when it reads text (a font's reference count, a glyph's
// advance): a sleeping mutex would put every thread to sleep in turn. These
// spin briefly and only then give way.
inline void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

class EngineLock {
public:
    void lock()
    {
        for (int spins = 0; held_.exchange(true, std::memory_order_acquire); ++spins) {
            while (held_.load(std::memory_order_relaxed)) {
                if (++spins > 100) std::this_thread::yield(); // the holder may be off its core
                else relax();
            }
        }
    }
    void unlock() { held_.store(false, std::memory_order_release); }

private:
    alignas(64) std::atomic<bool> held_{false}; // one cache line each: the locks do not slow one another
};

EngineLock g_locks[FZ_LOCK_MAX];

extern "C" void lockCallback(void*, int lock) { g_locks[lock].lock(); }
extern "C" void unlockCallback(void*, int lock) { g_locks[lock].unlock(); }

// MuPDF reports recoverable damage as warnings; the program keeps no log, so
// they are dropped unless RAVLEN_MUPDF_WARNINGS is set for debugging.
extern "C" void messageCallback(void* user, const char* message)
{
    if (user) std::fprintf(stderr, "mupdf: %s\n", message);
}

// ---------------------------------------------------------------- allocations

// Read on every allocation MuPDF makes: the initial-exec model reads it
// without a call (the library is loaded with the program, never opened later).
__attribute__((tls_model("initial-exec"))) thread_local EngineAllocationTally* t_tally = nullptr;

extern "C" void* mallocCallback(void*, size_t size)
{
    void* block = std::malloc(size);
    if (block && t_tally) t_tally->allocated(block, size);
    return block;
}

extern "C" void* reallocCallback(void*, void* old, size_t size)
{
    if (!t_tally) return std::realloc(old, size);
    const std::size_t had = old ? t_tally->freed(old) : 0;
    void* block = std::realloc(old, size);
    if (block) t_tally->allocated(block, size);
    else if (had && size > 0) t_tally->allocated(old, had); // failed: the old block stays
    return block;
}

extern "C" void freeCallback(void*, void* block)
{
    if (block && t_tally) t_tally->freed(block);
    std::free(block);
}

void* warningsWanted() { return std::getenv("RAVLEN_MUPDF_WARNINGS") ? reinterpret_cast<void*>(1) : nullptr; }

fz_context* baseContext()
{
    // Made once and kept for the life of the process: every thread's context is a clone.
    static fz_context* base = [] {
        tuneAllocator();
        static fz_locks_context locks{nullptr, lockCallback, unlockCallback};
        static fz_alloc_context alloc{nullptr, mallocCallback, reallocCallback, freeCallback};
        fz_context* ctx = fz_new_context(&alloc, &locks, engineStoreBudget);
        if (!ctx) {
            std::fputs("ravlen: cannot create the PDF engine\n", stderr);
            std::abort();
        }
        fz_set_warning_callback(ctx, messageCallback, warningsWanted());
        fz_set_error_callback(ctx, messageCallback, warningsWanted());
        fz_register_document_handlers(ctx);
        return ctx;
    }();
    return base;
}

// ---------------------------------------------------------------- engine gate

std::shared_mutex g_engine;
thread_local int t_engineDepth = 0;

std::mutex g_retiredMutex;
std::vector<pdf_document*> g_retired; // waiting for a moment without MuPDF work
std::atomic<bool> g_hasRetired{false};

std::vector<pdf_document*> takeRetired()
{
    std::lock_guard lock(g_retiredMutex);
    g_hasRetired = false;
    return std::exchange(g_retired, {});
}

// Drops the retired documents if no thread is doing MuPDF work now; called
// by a thread that holds no part of the engine.
void dropRetiredIfIdle()
{
    while (g_hasRetired.load()) {
        std::unique_lock exclusive(g_engine, std::try_to_lock);
        if (!exclusive.owns_lock()) return; // whoever holds it drops them on leaving
        fz_context* ctx = pdfContext();
        for (pdf_document* doc : takeRetired()) pdf_drop_document(ctx, doc);
    }
}

struct ThreadContext {
    fz_context* ctx = nullptr;
    ~ThreadContext() { if (ctx) fz_drop_context(ctx); }
};

} // namespace

fz_context* pdfContext()
{
    thread_local ThreadContext holder;
    if (!holder.ctx) {
        holder.ctx = fz_clone_context(baseContext());
        if (!holder.ctx) throw PdfError(PdfErrorCode::general, "out of memory");
    }
    return holder.ctx;
}

// Without locks: MuPDF asks that every context in a process share its lock
// callbacks, for the sake of the allocation hooks that its own copies of
// OpenJPEG and HarfBuzz call through a process-wide pointer guarded by the
// FreeType lock. Debian's MuPDF is built against the system's libraries,
// which allocate for themselves and never call those hooks; everything else
// a private context holds (allocations, store, fonts, FreeType library) is
// its own.
PrivateContext::PrivateContext(std::size_t storeBytes) : ctx_(fz_new_context(nullptr, nullptr, storeBytes))
{
    if (!ctx_) throw PdfError(PdfErrorCode::general, "out of memory");
    fz_set_warning_callback(ctx_, messageCallback, warningsWanted());
    fz_set_error_callback(ctx_, messageCallback, warningsWanted());
}

PrivateContext::~PrivateContext()
{
    fz_drop_context(ctx_);
}

void enterEngine()
{
    if (t_engineDepth++ == 0) g_engine.lock_shared();
}

void leaveEngine()
{
    if (--t_engineDepth > 0) return;
    g_engine.unlock_shared();
    dropRetiredIfIdle();
}

void retireDocument(pdf_document* doc)
{
    if (!doc) return;
    {
        std::lock_guard lock(g_retiredMutex);
        g_retired.push_back(doc);
        g_hasRetired = true;
    }
    if (t_engineDepth == 0) dropRetiredIfIdle();
}

EngineAllocationTally::EngineAllocationTally() : outer_(std::exchange(t_tally, this)) {}

EngineAllocationTally::~EngineAllocationTally() { t_tally = outer_; }

void EngineAllocationTally::allocated(void* block, std::size_t size) noexcept
{
    try {
        live_[block] = size;
        bytes_ += size;
    } catch (...) {
        // Out of memory for the tally itself: the block goes uncounted.
    }
    if (outer_) outer_->allocated(block, size);
}

std::size_t EngineAllocationTally::freed(void* block) noexcept
{
    // Blocks from before the tally began (a store entry dropped to make room)
    // are not this tally's.
    std::size_t size = 0;
    if (auto found = live_.find(block); found != live_.end()) {
        size = found->second;
        bytes_ -= size;
        live_.erase(found);
    }
    if (outer_) outer_->freed(block);
    return size;
}

void throwIfFailed(const FzError& err, PdfErrorCode code)
{
    if (err.code == 0) return;
    throw PdfError(code, err.message[0] ? err.message : "PDF engine error");
}

} // namespace platform
