#include "Platform/PdfInternal.h"

#include "Platform/MemoryUse.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
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

// The count of warnings the calling thread's engine work keeps (EngineWarnings).
thread_local EngineWarnings* t_warnings = nullptr;

extern "C" void warningCallback(void* user, const char* message)
{
    if (t_warnings) t_warnings->noted();
    messageCallback(user, message);
}

// And of errors, which MuPDF reports as it raises them (EngineErrors).
thread_local EngineErrors* t_errors = nullptr;

extern "C" void errorCallback(void* user, const char* message)
{
    if (t_errors) t_errors->noted();
    messageCallback(user, message);
}

// ---------------------------------------------------------------- allocations

// Read on every allocation MuPDF makes: the initial-exec model reads it
// without a call (the library is loaded with the program, never opened later).
__attribute__((tls_model("initial-exec"))) thread_local EngineAllocationTally* t_tally = nullptr;
// The largest block this thread's engine work may ask for (EngineBlockLimit).
__attribute__((tls_model("initial-exec"))) thread_local std::size_t t_blockLimit = engineBlockLimit;

extern "C" void* mallocCallback(void*, size_t size)
{
    if (size > t_blockLimit) return nullptr;
    void* block = std::malloc(size);
    if (block && t_tally) t_tally->allocated(block, size);
    return block;
}

extern "C" void* reallocCallback(void*, void* old, size_t size)
{
    if (size > t_blockLimit) return nullptr; // the old block stays, as for any failed realloc
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

fz_alloc_context g_alloc{nullptr, mallocCallback, reallocCallback, freeCallback};

fz_context* baseContext()
{
    // Made once and kept for the life of the process: every thread's context is a clone.
    static fz_context* base = [] {
        tuneAllocator();
        static fz_locks_context locks{nullptr, lockCallback, unlockCallback};
        fz_context* ctx = fz_new_context(&g_alloc, &locks, engineStoreBudget);
        if (!ctx) {
            std::fputs("ravlen: cannot create the PDF engine\n", stderr);
            std::abort();
        }
        fz_set_warning_callback(ctx, warningCallback, warningsWanted());
        fz_set_error_callback(ctx, errorCallback, warningsWanted());
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
    ~ThreadContext()
    {
        if (ctx) fz_drop_context(ctx);
    }
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
// a private context holds (store, fonts, FreeType library) is its own. The
// allocation callbacks take no lock: it shares them, and their block limit.
PrivateContext::PrivateContext(std::size_t storeBytes) : ctx_(fz_new_context(&g_alloc, nullptr, storeBytes))
{
    if (!ctx_) throw PdfError(PdfErrorCode::general, "out of memory");
    fz_set_warning_callback(ctx_, warningCallback, warningsWanted());
    fz_set_error_callback(ctx_, errorCallback, warningsWanted());
}

PrivateContext::~PrivateContext() { fz_drop_context(ctx_); }

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

EngineBlockLimit::EngineBlockLimit(std::size_t bytes) : outer_(std::exchange(t_blockLimit, bytes)) {}

EngineBlockLimit::~EngineBlockLimit() { t_blockLimit = outer_; }

EngineWarnings::EngineWarnings(fz_context* ctx) : outer_(t_warnings)
{
    // MuPDF passes a warning on only when it differs from the one before it
    // on this context: the one before is printed now and forgotten, so that
    // a repeat of it counts here.
    fz_flush_warnings(ctx);
    ctx->warn.message[0] = 0;
    ctx->warn.count = 0;
    t_warnings = this;
}

EngineWarnings::~EngineWarnings() { t_warnings = outer_; }

void EngineWarnings::noted() noexcept
{
    ++count_;
    if (outer_) outer_->noted();
}

EngineErrors::EngineErrors() : outer_(t_errors) { t_errors = this; }

EngineErrors::~EngineErrors() { t_errors = outer_; }

void EngineErrors::noted() noexcept
{
    ++count_;
    if (outer_) outer_->noted();
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

// ---------------------------------------------------------------- the window's thread first

namespace {

// How long the window's thread waits for page work before it interrupts it,
// and how long after it let go of a document new page work keeps off, so that
// a run of quick calls from the window (one per page, say) is not held up.
constexpr auto windowGrace = std::chrono::milliseconds(100);
constexpr std::int64_t windowQuietNs = 30'000'000;
// The longest a run of page content may take on the window's thread (text
// for a selection, Copy Page, a slide): far beyond any real page.
constexpr auto windowWorkLimit = std::chrono::seconds(10);

// Calls off page work of the window's thread that runs past windowWorkLimit,
// from a thread of its own that sleeps until the next run is due.
class WindowWorkWatch {
public:
    void watch(fz_cookie* cookie)
    {
        std::lock_guard lock(mutex_);
        if (!started_) {
            started_ = true;
            std::thread([this] { run(); }).detach();
        }
        watched_.emplace_back(cookie, std::chrono::steady_clock::now() + windowWorkLimit);
        wake_.notify_one();
    }
    void unwatch(fz_cookie* cookie)
    {
        std::lock_guard lock(mutex_);
        std::erase_if(watched_, [cookie](const auto& w) { return w.first == cookie; });
        std::erase(expired_, cookie);
    }
    // Whether the limit called the run off.
    bool expired(const fz_cookie* cookie)
    {
        std::lock_guard lock(mutex_);
        return std::find(expired_.begin(), expired_.end(), cookie) != expired_.end();
    }

private:
    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (watched_.empty()) {
                wake_.wait(lock);
                continue;
            }
            const auto due = std::min_element(watched_.begin(), watched_.end(), [](const auto& a, const auto& b) {
                                 return a.second < b.second;
                             })->second;
            wake_.wait_until(lock, due);
            const auto now = std::chrono::steady_clock::now();
            for (auto it = watched_.begin(); it != watched_.end();) {
                if (it->second > now) {
                    ++it;
                    continue;
                }
                it->first->abort = 1;
                expired_.push_back(it->first);
                it = watched_.erase(it);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::pair<fz_cookie*, std::chrono::steady_clock::time_point>> watched_;
    std::vector<fz_cookie*> expired_;
    bool started_ = false;
};

// Made once and never destroyed: its thread waits on it until the process ends.
WindowWorkWatch& windowWorkWatch()
{
    static auto* watch = new WindowWorkWatch;
    return *watch;
}

std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The thread the application was made on, the one its windows run on.
std::atomic<Qt::HANDLE> windowThread{nullptr};
void noteWindowThread() { windowThread.store(QThread::currentThreadId()); }
Q_COREAPP_STARTUP_FUNCTION(noteWindowThread)

} // namespace

bool onWindowThread()
{
    // By the thread's id: asking Qt for the thread's QThread would make it
    // adopt a worker of ours, an allocation whose failure Qt does not survive.
    const Qt::HANDLE window = windowThread.load();
    return window && QCoreApplication::instance() && window == QThread::currentThreadId();
}

void DocumentMutex::lock()
{
    enterEngine();
    if (!onWindowThread()) {
        mutex_.lock();
    } else if (!mutex_.try_lock()) {
        work_->setWindowWaiting(true);
        // Work that started before the window came keeps the document a
        // moment; then it gives way, as does any that slipped in since.
        if (!mutex_.try_lock_for(windowGrace)) {
            do {
                work_->interrupt();
            } while (!mutex_.try_lock_for(std::chrono::milliseconds(5)));
        }
        work_->setWindowWaiting(false);
    }
    if (depth_++ == 0) owner_ = std::this_thread::get_id();
}

bool DocumentMutex::try_lock()
{
    enterEngine();
    if (!mutex_.try_lock()) {
        leaveEngine();
        return false;
    }
    if (depth_++ == 0) owner_ = std::this_thread::get_id();
    return true;
}

void DocumentMutex::unlock()
{
    if (depth_ == 1 && beforeRelease) beforeRelease();
    if (--depth_ == 0) {
        owner_ = std::thread::id();
        if (onWindowThread()) windowLeft_ = steadyNs();
    }
    mutex_.unlock();
    leaveEngine();
}

void DocumentMutex::yieldToWindow() const
{
    if (onWindowThread() || owner_.load() == std::this_thread::get_id()) return;
    while (work_->windowWaiting() || steadyNs() - windowLeft_.load() < windowQuietNs)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void PageWorkRegistry::add(Work* work)
{
    std::lock_guard lock(mutex_);
    // Work that starts while the window waits gives way at once.
    if (stopped_ || (work->interruptible && windowWaiting())) {
        work->cookie->abort = 1;
        work->interrupted = !stopped_;
    }
    work_.push_back(work);
}

void PageWorkRegistry::remove(Work* work)
{
    std::lock_guard lock(mutex_);
    std::erase(work_, work);
}

void PageWorkRegistry::setWindowWaiting(bool waiting) { waiting ? ++windowWaiting_ : --windowWaiting_; }

void PageWorkRegistry::interrupt()
{
    std::lock_guard lock(mutex_);
    for (Work* work : work_) {
        if (!work->interruptible) continue;
        work->interrupted = true;
        work->cookie->abort = 1;
    }
}

void PageWorkRegistry::stop()
{
    std::lock_guard lock(mutex_);
    stopped_ = true;
    for (Work* work : work_) work->cookie->abort = 1;
}

bool PageWorkRegistry::interrupted(const Work& work)
{
    std::lock_guard lock(mutex_);
    return work.interrupted && !stopped_;
}

bool PageWorkRegistry::stopped()
{
    std::lock_guard lock(mutex_);
    return stopped_;
}

// ---------------------------------------------------------------- content read by the byte

namespace {

// The cookie of the page work running on this thread, if any: the content
// streams it opens read through a stream that watches its abort flag.
thread_local fz_cookie* t_pageWorkCookie = nullptr;

// MuPDF checks the abort flag between two operators only: a content stream
// that inflates to a gigabyte of spaces has none, and its run would go on to
// its end. This many bytes of content at most are read between two looks.
constexpr std::size_t contentBytesBetweenChecks = 64 * 1024;

struct WatchedContent {
    fz_stream* inner;
    const fz_cookie* cookie;
};

// Hands on the inner stream's bytes as they are, in slices, and ends the
// stream once the work is called off: the interpreter then meets the end of
// the content and returns, and the work counts as called off (PageWork).
int nextWatchedContent(fz_context* ctx, fz_stream* stm, size_t max)
{
    auto* state = static_cast<WatchedContent*>(stm->state);
    if (std::atomic_ref(const_cast<int&>(state->cookie->abort)).load(std::memory_order_relaxed)) return EOF;
    std::size_t n = fz_available(ctx, state->inner, max);
    if (n == 0) return EOF;
    n = std::min(n, contentBytesBetweenChecks);
    stm->rp = state->inner->rp;
    stm->wp = stm->rp + n;
    state->inner->rp += n;
    stm->pos += std::int64_t(n);
    return *stm->rp++;
}

void dropWatchedContent(fz_context* ctx, void* state)
{
    auto* watched = static_cast<WatchedContent*>(state);
    fz_drop_stream(ctx, watched->inner);
    fz_free(ctx, watched);
}

} // namespace

// Every content stream MuPDF interprets (a page's, a form's, a pattern's, a
// mark's appearance) is opened here: the link step routes MuPDF's calls of
// pdf_open_contents_stream to this function (see Platform/CMakeLists.txt).
extern "C" fz_stream* __real_pdf_open_contents_stream(fz_context* ctx, pdf_document* doc, pdf_obj* obj);

extern "C" fz_stream* __wrap_pdf_open_contents_stream(fz_context* ctx, pdf_document* doc, pdf_obj* obj)
{
    fz_stream* inner = __real_pdf_open_contents_stream(ctx, doc, obj);
    const fz_cookie* cookie = t_pageWorkCookie;
    if (!cookie) return inner; // not page work (an edit, a save): read to the end
    WatchedContent* state = nullptr;
    fz_var(state);
    fz_try(ctx) {
        state = static_cast<WatchedContent*>(fz_malloc(ctx, sizeof(WatchedContent)));
        state->inner = inner;
        state->cookie = cookie;
    }
    fz_catch(ctx) {
        fz_drop_stream(ctx, inner);
        fz_rethrow(ctx);
    }
    // fz_new_stream drops the state (and with it the inner stream) when it fails.
    return fz_new_stream(ctx, state, nextWatchedContent, dropWatchedContent);
}

PageWork::PageWork(const PdfDocument::Impl& d, bool interruptible) : PageWork(d.mutex.work(), interruptible) {}

PageWork::PageWork(std::shared_ptr<PageWorkRegistry> registry, bool interruptible)
    : registry_(std::move(registry)), work_{&cookie_, interruptible && !onWindowThread()}, watched_(onWindowThread()),
      outerCookie_(std::exchange(t_pageWorkCookie, &cookie_))
{
    registry_->add(&work_);
    if (watched_) windowWorkWatch().watch(&cookie_);
}

PageWork::~PageWork()
{
    t_pageWorkCookie = outerCookie_;
    if (watched_) windowWorkWatch().unwatch(&cookie_);
    registry_->remove(&work_);
}

bool PageWork::interrupted() const { return registry_->interrupted(work_); }

void PageWork::throwIfStopped() const
{
    if (cookie_.abort && (registry_->stopped() || (watched_ && windowWorkWatch().expired(&cookie_))))
        throw PdfError(PdfErrorCode::cancelled, "the page's content was not read to its end");
}

void throwIfFailed(const FzError& err, PdfErrorCode code)
{
    if (err.code == 0) return;
    throw PdfError(code, err.message[0] ? err.message : "PDF engine error", systemErrorOf(err));
}

} // namespace platform
