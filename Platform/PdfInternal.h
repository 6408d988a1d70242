#pragma once
// Shared by the Platform sources that talk to MuPDF; never included outside Platform/.
//
// Rules for every MuPDF call:
// - fz_try is setjmp/longjmp: a function that uses it keeps no C++ object with a
//   destructor in its frame, never returns from inside the try, and lets no
//   C++ exception through it. Such functions are plain "static" C-style helpers
//   that report into an FzError, which C++ code turns into a PdfError after.
// - Each thread uses its own clone of one base context (pdfContext()).
extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

#include "Platform/PdfDocument.h"
#include "Platform/PdfFileIo.h"
#include "Platform/PdfPageIdentity.h"

#include <atomic>
#include <cerrno>
#include <functional>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace platform {

// The calling thread's MuPDF context, cloned on first use from the base context.
fz_context* pdfContext();

// A context of its own, for a document that one thread at a time reads
// apart from all others: it shares no lock, store or cache with
// pdfContext()'s, so its thread never waits for theirs. What it opens is used
// and dropped with it alone.
class PrivateContext {
public:
    explicit PrivateContext(std::size_t storeBytes); // throws PdfError
    ~PrivateContext();
    PrivateContext(const PrivateContext&) = delete;
    PrivateContext& operator=(const PrivateContext&) = delete;
    fz_context* get() const { return ctx_; }

private:
    fz_context* ctx_;
};

// All documents share MuPDF's store (every context is a clone of one base), and
// dropping a document touches it: a document is dropped only while no thread
// does MuPDF work. Work holds the engine shared (nested holds on one thread
// count once); retireDocument never waits, and when work is running the
// document is dropped by the last thread to leave it.
void enterEngine();
void leaveEngine();
void retireDocument(pdf_document* doc);

// While it lives, the calling thread's engine work may ask for blocks of up
// to `bytes` (engineBlockLimit otherwise): work that knows its size up front,
// such as decoding an image file of a checked size into a page.
class EngineBlockLimit {
public:
    explicit EngineBlockLimit(std::size_t bytes);
    ~EngineBlockLimit();
    EngineBlockLimit(const EngineBlockLimit&) = delete;
    EngineBlockLimit& operator=(const EngineBlockLimit&) = delete;

private:
    std::size_t outer_;
};

// Counts what MuPDF allocates on the calling thread while the tally lives and
// has not freed again: what a recording made costs to keep. Blocks freed that
// were allocated before (store entries dropped to make room) do not count.
class EngineAllocationTally {
public:
    EngineAllocationTally();
    ~EngineAllocationTally();
    EngineAllocationTally(const EngineAllocationTally&) = delete;
    EngineAllocationTally& operator=(const EngineAllocationTally&) = delete;
    std::size_t liveBytes() const { return bytes_; }

    void allocated(void* block, std::size_t size) noexcept;
    // The size the tally knew the block by, or 0.
    std::size_t freed(void* block) noexcept;

private:
    EngineAllocationTally* outer_;
    std::unordered_map<void*, std::size_t> live_;
    std::size_t bytes_ = 0;
};

// Counts the warnings MuPDF gives on the calling thread while it lives,
// through `ctx` or any context: the damage it read past by guessing (a
// stream whose check sum is wrong, an object that does not end where it
// should). Counts nest: an outer one counts what an inner one does.
class EngineWarnings {
public:
    explicit EngineWarnings(fz_context* ctx);
    ~EngineWarnings();
    EngineWarnings(const EngineWarnings&) = delete;
    EngineWarnings& operator=(const EngineWarnings&) = delete;
    int count() const { return count_; }
    void noted() noexcept;

private:
    EngineWarnings* outer_;
    int count_ = 0;
};

// Counts the errors MuPDF raises on the calling thread while it lives,
// caught or not: a stream's reader takes one for the stream's end (a
// filter that met damage part way). Counts nest as EngineWarnings' do.
class EngineErrors {
public:
    EngineErrors();
    ~EngineErrors();
    EngineErrors(const EngineErrors&) = delete;
    EngineErrors& operator=(const EngineErrors&) = delete;
    int count() const { return count_; }
    void noted() noexcept;

private:
    EngineErrors* outer_;
    int count_ = 0;
};

struct EngineWork {
    EngineWork() { enterEngine(); }
    ~EngineWork() { leaveEngine(); }
    EngineWork(const EngineWork&) = delete;
    EngineWork& operator=(const EngineWork&) = delete;
};

// Whether the calling thread is the one the windows run on (the Qt
// application's thread): work of other threads gives way to it.
bool onWindowThread();

// The runs of a document's page content in progress (see PageWork), so that
// they can be interrupted or stopped. Shared with the document's text
// readers, which may outlive it.
class PageWorkRegistry {
public:
    struct Work {
        fz_cookie* cookie;
        bool interruptible; // by the window's thread; stop() stops every one
        bool interrupted = false;
    };
    void add(Work* work);
    void remove(Work* work);
    // Interrupts the interruptible runs in progress.
    void interrupt();
    // While the window's thread waits for the document, interruptible runs
    // that start give way at once.
    void setWindowWaiting(bool waiting);
    bool windowWaiting() const { return windowWaiting_.load() > 0; }
    // Calls off every run, now and later; see PdfDocument::stopPageWork.
    void stop();
    // Whether `work` was interrupted (and may run again), or stopped for good.
    bool interrupted(const Work& work);
    bool stopped();

private:
    std::atomic<int> windowWaiting_{0};
    std::mutex mutex_; // guards the two below
    std::vector<Work*> work_;
    bool stopped_ = false;
};

// A document's lock: one thread at a time inside MuPDF for this document,
// and that thread holds the engine while it is inside. The window's thread
// comes first. Page work of other threads (PageWork) does not start while the
// window's thread wants the document or has just let go of it, and the page
// work it finds running is interrupted once it has waited a moment, so that a
// page that takes long to read, or never ends, does not freeze the window.
class DocumentMutex {
public:
    void lock();
    bool try_lock();
    void unlock();

    // A thread about to start page work waits here, without the lock, while
    // the window's thread wants the document or used it a moment ago. At
    // once on the window's thread, and for a thread that holds the lock.
    void yieldToWindow() const;
    // Whether the calling thread holds the lock.
    bool heldHere() const { return owner_.load() == std::this_thread::get_id(); }
    // Runs with the lock still held as its outermost hold ends: it notes
    // what readers that never wait are shown (PdfDocument::pageCount).
    std::function<void()> beforeRelease;
    const std::shared_ptr<PageWorkRegistry>& work() const { return work_; }

private:
    std::recursive_timed_mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    int depth_ = 0;                           // the owner's nested holds
    std::atomic<std::int64_t> windowLeft_{0}; // when the window's thread last let go (steady clock, ns)
    std::shared_ptr<PageWorkRegistry> work_ = std::make_shared<PageWorkRegistry>();
};

struct FzError {
    int code = 0; // 0: no error
    char message[256] = {};
};

inline void captureError(fz_context* ctx, FzError* err)
{
    err->code = fz_caught(ctx) ? fz_caught(ctx) : FZ_ERROR_GENERIC;
    const char* msg = fz_caught_message(ctx);
    std::strncpy(err->message, msg ? msg : "unknown error", sizeof err->message - 1);
    err->message[sizeof err->message - 1] = 0;
}

// Throws a PdfError for a captured error; does nothing when there was none.
// The errno a caught error stands for: ENOMEM where memory ran out, else 0.
inline int systemErrorOf(const FzError& err) { return err.code == FZ_ERROR_MEMORY ? ENOMEM : 0; }

void throwIfFailed(const FzError& err, PdfErrorCode code = PdfErrorCode::general);

// The page count, or 0 with `err` set when the page tree cannot be read.
inline int countPagesC(fz_context* ctx, pdf_document* doc, FzError* err)
{
    int n = 0;
    fz_var(n);
    fz_try(ctx) n = pdf_count_pages(ctx, doc);
    fz_catch(ctx) {
        captureError(ctx, err);
        n = 0;
    }
    return n;
}

inline fz_rect toFz(const PdfRect& r) { return fz_make_rect(float(r.x), float(r.y), float(r.maxX()), float(r.maxY())); }
inline PdfRect fromFz(const fz_rect& r) { return {r.x0, r.y0, double(r.x1) - r.x0, double(r.y1) - r.y0}; }
inline fz_matrix toFz(const PdfMatrix& m)
{
    return fz_make_matrix(float(m.a), float(m.b), float(m.c), float(m.d), float(m.e), float(m.f));
}
inline PdfMatrix fromFz(const fz_matrix& m) { return {m.a, m.b, m.c, m.d, m.e, m.f}; }

// Every page's object and geometry, read in one pass over the page tree.
// Without it each look-up walks the tree from its root, which makes laying
// out or identifying all pages cost the square of their number.
struct PageMap {
    std::vector<PdfPageId> ids; // by index; none for a page whose object cannot be read
    std::vector<std::optional<PdfPageGeometry>> geometries;
    std::unordered_map<int, int> indexByObject;
};

// What settling found of one object stream.
struct ObjectStreamRead {
    bool damaged = false;     // its check sum, or its table: any member may be damaged
    std::vector<int> guessed; // members damaged themselves, which MuPDF reads by guessing or not at all
};

class OriginBytes;

// What led to a page out of the page tree, taken from where it stood while
// the page is out: whatever refers to the page, or to what is of it alone
// (its marks and beads, the form fields whose widgets are all on pages out,
// the structure elements that mark content on pages out alone), and every
// destination and GoTo action that leads there. A whole-file save then
// keeps nothing of the page; putting the page back puts it back. It is
// found again by object number, which a document read again from its
// update keeps. `path`, `key` and `value` are kept references (neither bound
// to a document but `value`), dropped with the document.
struct HeldReference {
    int holder = 0, holderGeneration = 0; // the object it was taken from, 0: the trailer
    pdf_obj* path = nullptr; // the keys and places from there to its dictionary or array; none: the object itself
    pdf_obj* key = nullptr;  // in a dictionary, the key it stood under; in a name or number tree, its key
    int at = -1;             // in an array, its place (in a tree, its key's)
    pdf_obj* value = nullptr;
    pdf_obj* put = nullptr; // what stands there instead while it is held (a bead's neighbour), if anything
};

struct PdfDocument::Impl {
    Impl();
    pdf_document* doc = nullptr;
    mutable DocumentMutex mutex;
    // The page count as the last holder of the lock left it (0 while locked).
    std::atomic<int> countSeen{0};
    bool passwordProtected = false; // fixed when opened
    // The password that unlocked it: a copy written with its encryption
    // must open with it too, and so must the document read again after an
    // incremental save.
    std::string password;
    std::atomic<bool> locked{false};
    // What opening found, so that a save can tell when MuPDF rebuilt the file
    // later (dropping objects made since) or the pages changed under the views.
    bool repairedAtOpen = false;
    // Whether that repair found just what the file's own tables list, where
    // they list it: tables only malformed, read alike by every reader.
    bool repairLostNothing = false;
    int expectedPageCount = 0;
    // Whose page tree the document shows: the file's own; one rebuilt from
    // the file's page objects that holds the pages the file's own reaches,
    // in its order (only its count lied); or one that holds other pages
    // (the file's tree lost or looping), which other readers do not show.
    enum class PageTree { asFiled, rebuiltAlike, rebuiltOtherwise };
    PageTree pageTree = PageTree::asFiled;
    // Whether objects MuPDF could not read were read as other readers read
    // them (see mendPageTree): MuPDF reading the file afresh would not.
    bool readAsOthers = false;
    // Whether every object of an opened file has been read (settleObjects),
    // and the next one to read.
    bool settled = true;
    int nextUnsettled = 1;
    // The highest object number the objects read so far refer to, and
    // whether the numbers up to it are taken (reserveReferencedNumbers).
    int highestReference = 0;
    bool numbersReserved = false;
    // Whether a long document was opened without its page map, which is
    // built later on a worker (mapPages) or at the first need of every page.
    bool pagesDeferred = false;
    // Whether reading the whole of a long document (settling it, mapping its
    // pages) lets go of what it read, which is read again from the file when
    // it is needed: kept, a long document's dictionaries take more memory than
    // all else the viewer holds. A short document keeps them.
    bool releasesWhatItReads = false;
    // Pages loaded since releaseUnusedObjects last ran.
    int loadsSinceRelease = 0;
    // What settling found that a save would write otherwise than the file
    // holds it: objects MuPDF could not parse (written as null) or parsed
    // only by guessing past damage (a byte changed in an object stream, whose
    // check sum tells; a table naming another generation than the object's),
    // and names longer than MuPDF keeps (cut in the objects, whole in the
    // content streams that use them). See saveToFile. `objectStreams` holds
    // each object stream read so far: whether it was damaged as a whole, or
    // which of its members are.
    std::vector<int> unparsedObjects;
    // The file's streams MuPDF could not decode to their end, which a copy
    // written anew holds only as far as MuPDF read them: found on the first
    // question after settling (newCopyShowsLess).
    std::optional<std::vector<int>> streamsCutShort;
    std::unordered_map<int, ObjectStreamRead> objectStreams;
    bool namesCut = false;
    // The widgets, by object number, that showFieldValues has judged, and
    // whether the file is signed, once asked (signedDocument).
    std::unordered_set<int> fieldsJudged;
    std::optional<bool> signedFile;
    // The widgets, by object number, that a save's drawing left not showing
    // their values, and how each stood then (widgetLookC): each try leaves
    // a drawing behind, and one made again at every save would grow the
    // document and each file saved from it.
    std::unordered_map<int, std::uint64_t> fieldsUndrawn;
    // Whether a save is drawing the form into the file (drawNeededAppearances):
    // pages loaded then draw nothing for the screen alone.
    bool drawingFormForFile = false;
    // The file the document was read from (device and inode), when it was.
    std::uint64_t fileDevice = 0, fileInode = 0;
    // The file the document was opened from or last saved to, as the
    // descriptor read or written found it: what Save writes into (sameFile).
    std::optional<std::pair<std::uint64_t, std::uint64_t>> ownFile;
    // The file it reads as it needs it, watched for another program's
    // change; none when it holds its bytes itself (`source`).
    std::shared_ptr<WatchedFile> watch;
    // Whether that file is short enough to be held whole, and is still to be
    // read whole (holdWhole): opening reads only what the first page needs.
    bool holdsWholeLater = false;
    ~Impl();
    mutable std::optional<PageMap> pageMap; // a cache, built on first need: see pageTreeChanged
    // The bytes it reads, when it holds them: opened from bytes, or a small
    // file read whole (see PdfTextReader).
    fz_buffer* source = nullptr;
    // The bytes of the documents whose pages or objects were copied into
    // this one (and theirs): a written copy may carry their damage along,
    // which its read-back holds against them, not against the copy.
    std::vector<std::shared_ptr<const OriginBytes>> origins;
    // The page objects those documents held outside their page trees as
    // their own, by what they are (strayPageIdentityC), whatever number a
    // copy holds them under: a written copy may hold them so too.
    std::unordered_set<std::uint64_t> strayPagesCarried;
    // Read from bytes written of another document (PdfDocument::copy), which
    // no read-back judged: the pages its file holds outside its tree are its
    // own only where that document held them so (strayPagesCarried).
    bool writtenFromDocument = false;
    // The references to pages out of the page tree (see PdfPageEditing):
    // every reader of the file then reads an outline entry or a link as one
    // without a destination, where MuPDF would refuse the whole outline, and
    // a save keeps nothing of the page. Putting the page back puts them back.
    std::vector<HeldReference> heldReferences;
    // The pages out of the page tree now, by object: what an update of the
    // file leaves readable in its earlier version (removedPagesStayInFile).
    std::vector<PdfPageId> pagesOut;
    // Why the last walk for what leads to them was cut short (0: it was not):
    // it took nothing, and is walked again before the next edit or save.
    FzError walkCutShort;
    // Whether a write changed the document and it could not be put back as
    // it was (writeDocument): no later write continues from the changed one.
    bool changedByWrite = false;
    // Whether such a write's document was read again (writeDocument): from
    // the bytes it was read from and what it held before that write, in one
    // table as a repair leaves it. A file written from it now holds that
    // reading, which may show less than the file: it asks first, and goes
    // over no file it was read from.
    bool rebuiltAfterWrite = false;
};

// One run of a page's content through MuPDF, made on the stack with the
// document's lock held: MuPDF reads the cookie's abort flag between operators,
// and the content streams the run opens read it every few kilobytes, which is
// how the run is interrupted (DocumentMutex) or stopped (stopPageWork).
// On the window's thread nothing interrupts it, so it has a time limit
// (windowWorkLimit) after which it counts as stopped: a page that never ends
// holds the window for that long at most.
class PageWork {
public:
    explicit PageWork(const PdfDocument::Impl& d, bool interruptible = true);
    PageWork(std::shared_ptr<PageWorkRegistry> registry, bool interruptible);
    ~PageWork();
    PageWork(const PageWork&) = delete;
    PageWork& operator=(const PageWork&) = delete;
    fz_cookie* cookie() { return &cookie_; }
    // After the run: it gave way to the window's thread and must run again.
    bool interrupted() const;
    // After the run: throws PdfError(cancelled) when it was stopped, for
    // what it made is then only part of the page.
    void throwIfStopped() const;

private:
    std::shared_ptr<PageWorkRegistry> registry_;
    fz_cookie cookie_ = {};
    PageWorkRegistry::Work work_;
    bool watched_ = false;   // run on the window's thread, under a time limit
    fz_cookie* outerCookie_; // the page work this one runs inside, if any
};

// Runs `run(work)`, which reads a page's content with the work's cookie and
// returns an owner of what it made, as page work: on another thread than the
// window's, after the window's thread has let go of the document, and from the
// start again whenever that thread interrupts it. Throws what `run` throws,
// and PdfError(cancelled) when the work was stopped. Without `yield` it does
// not wait for the window's thread to have been quiet a moment.
template <typename Run>
auto runPageWork(const PdfDocument::Impl& d, Run&& run, bool interruptible = true, bool yield = true)
{
    for (;;) {
        if (yield) d.mutex.yieldToWindow();
        std::lock_guard lock(d.mutex);
        PageWork work(d, interruptible);
        try {
            auto made = run(work);
            if (work.interrupted()) continue;
            work.throwIfStopped();
            return made;
        } catch (const PdfError&) {
            if (!work.interrupted()) throw;
        }
    }
}

// From this many pages on, opening leaves the page map for later: reading
// every page object takes longer than the first page's rendering.
constexpr int deferredMapPages = 1000;

// The page map of an unlocked document, built on first need. For a document
// opened without it, that first build also makes sure the tree holds as many
// pages as it claims, as opening does for shorter ones (settlePageCount).
// The caller holds d.mutex.
const PageMap& pageMap(PdfDocument::Impl& d);
// The object of the page at `index`, none outside the document, and an empty
// id for a page that cannot be read. Before a long document's pages are mapped,
// MuPDF walks the tree to that page alone. The caller holds d.mutex.
std::optional<PdfPageId> pageIdAt(PdfDocument::Impl& d, int index);
// Forgets the page map, with d.mutex held: call it whenever pages are added,
// removed, moved or renumbered; the next look-up reads the tree afresh.
void pageTreeChanged(PdfDocument::Impl& d);
// After the page objects `pages` left the page tree: every reference to
// them, or to what is of them alone (HeldReference), is taken into
// d.heldReferences, in one walk of what the trailer reaches, whatever their
// number. The caller holds d.mutex.
void holdReferences(PdfDocument::Impl& d, const std::vector<PdfPageId>& pages);
// After `pages` came back into the tree: the references held go back where
// they stood, unless another took the place meanwhile, and those to pages
// still out are taken again. Throws
// PdfError when one cannot; the others go back all the same. The caller
// holds d.mutex.
void giveReferencesBack(PdfDocument::Impl& d, const std::vector<PdfPageId>& pages);
// Before d reads `fresh`, the same document read again from what an update
// wrote: the references held become references of `fresh`, which holds
// every object under the number it had. The caller holds d.mutex.
void moveHeldReferences(PdfDocument::Impl& d, pdf_document* fresh);
// A walk for what leads to pages out that was cut short (memory ran out part
// way) is walked again; throwIfWalkCutShort throws its error when that was
// cut short too, where a written file would keep a page the user took out.
void walkAgainIfCutShort(PdfDocument::Impl& d);
void throwIfWalkCutShort(const PdfDocument::Impl& d);
void dropHeldReferences(PdfDocument::Impl& d);
// Whether the file's own bytes hold a page that is out of the tree now: an
// update leaves it there, readable in the file's earlier version.
bool removedPagesInFile(const PdfDocument::Impl& d);
// Whether object `num` may be a page outside the tree in a file written of
// d: one the file's own bytes hold (a file that held it so), which in a
// whole file no edit took out; an update keeps the file's earlier version.
// Called with d.mutex held.
std::function<bool(int num)> ownPageOutsideTree(const PdfDocument::Impl& d, bool update);

// Reads up to `count` more of the objects an opened file has not read yet,
// with d.mutex held; true once every object has been read. MuPDF rebuilds a
// damaged cross-reference table the first time it meets a bad entry, and a
// rebuild drops every object made since opening: reading them all before the
// first edit makes any rebuild happen while there is nothing to lose.
bool settleObjects(PdfDocument::Impl& d, int count);
// The page count of an unlocked document once it can be trusted, with
// d.mutex held: a count the file cannot hold (or, with `findLastPage`, whose
// last page MuPDF cannot find) has the file read whole, then the tree rebuilt
// from the page objects that exist. 0 and `err` set when that fails.
int settlePageCount(PdfDocument::Impl& d, bool findLastPage, FzError* err);
// Lets go of object `num` as parsed when nothing but the cross-reference
// table holds it and it is as the file has it; MuPDF parses it again from
// the file when it is next needed. Reading every object of a long document
// once (settling, mapping its pages) then keeps none of them in memory.
// Never throws. The caller holds the document's mutex.
void releaseParsedObjectC(fz_context* ctx, pdf_document* doc, int num);
// Lets go, as releaseParsedObjectC does, of every object of a long document
// (releasesWhatItReads) that nothing holds any more: the pages drawn or read
// and left (their dictionaries, resources and fonts' dictionaries) would
// otherwise stay parsed, all of them by the end of a long scroll. The
// caller holds d.mutex.
void releaseUnusedObjects(PdfDocument::Impl& d);
// A damaged file may refer to objects it does not hold (a font's /ToUnicode
// 81 0 R in a file cut short before object 81). MuPDF numbers a new object
// with the table's length, so a note added later could become object 81 and
// the font's ToUnicode with it. This takes every number up to the highest
// one referred to, once the whole file has been read; d.mutex held.
void reserveReferencedNumbers(PdfDocument::Impl& d);
// Reads a short file that `d` reads as it needs it (holdsWholeLater) whole,
// and reads it from memory from then on, unless another program changed it
// meanwhile: then it stays watched, and its saves are refused. The caller
// holds d.mutex; PdfDocument::settle reads the file without it.
void holdWhole(PdfDocument::Impl& d);
// What every edit does first, with d.mutex held: the edit then meets a page
// tree that holds the pages it claims, as after opening a short document,
// and makes objects under numbers that nothing in the file refers to; a
// short file is held whole from then on, whatever another program does to it.
inline void settleBeforeEditing(PdfDocument::Impl& d)
{
    holdWhole(d);
    settleObjects(d, std::numeric_limits<int>::max());
    if (d.pagesDeferred) pageMap(d);
    reserveReferencedNumbers(d);
    walkAgainIfCutShort(d);
}

// Owner of a loaded page; drops it with the calling thread's context.
struct PageRef {
    pdf_page* page = nullptr;
    PageRef() = default;
    explicit PageRef(pdf_page* p) : page(p) {}
    PageRef(PageRef&& o) noexcept : page(o.page) { o.page = nullptr; }
    PageRef& operator=(PageRef&& o) noexcept
    {
        std::swap(page, o.page);
        return *this;
    }
    ~PageRef()
    {
        if (page) fz_drop_page(pdfContext(), &page->super);
    }
    PageRef(const PageRef&) = delete;
};

// Whether the bytes or the file `d` was opened from still show just what `d`
// shows, so that another document opened over them reads the same pages:
// none when `d` changed since, needs a password, was made rather than opened,
// or its file changed on disk. The caller holds d.mutex.
bool hasReadingSource(const PdfDocument::Impl& d);

// Runs the first `parts` of a page through `ctm` (its content, its marks,
// its form fields), each on its own: a part that fails part way (an image
// with no width, a content stream that cannot be decoded) keeps what it
// drew before, and the parts after it still draw, as other readers draw
// such a page. Returns whether a part failed; a run called off, or out of
// memory, throws.
int runPagePartsC(fz_context* ctx, fz_page* page, fz_device* dev, fz_matrix ctm, fz_cookie* cookie, int parts);
// The text of a page, or of its recording when `list` is given, as find and
// selection read it (what a page whose content fails part way holds before
// the failure); `cookie` may be null.
fz_stext_page* stextC(fz_context* ctx, pdf_page* page, fz_display_list* list, fz_cookie* cookie, FzError* err);
// A recording of the page with its annotations and widgets, as
// fz_new_display_list_from_page makes it, with a cookie that can stop it.
// A page whose drawing fails part way is recorded up to the failure, with
// `damaged` set; `err` is set only when nothing could be recorded.
fz_display_list* recordPageC(fz_context* ctx, pdf_page* page, fz_cookie* cookie, int* damaged, FzError* err);
// Our form of MuPDF's text: `toUser` maps its page space to user space.
PdfTextPage textPageOf(const fz_stext_page* text, const PdfMatrix& toUser);

// Loads a page of a locked-by-caller document; throws PdfError.
PageRef loadPage(const PdfDocument::Impl& d, int index);

// The transform from user space to MuPDF's page space (display space in points).
PdfMatrix pageTransform(pdf_page* page);

// The one page renderer (PdfPageDraw.cpp). The pixels of an image the caller
// owns, `stride` bytes a row, covering `bbox` of the drawing's pixel space:
// RGB, or with `bgra` blue, green, red and an opaque alpha (QImage's 32-bit
// layout on a little-endian machine); with `alpha` and not `bgra`, RGBA.
struct PixelTarget {
    unsigned char* samples = nullptr;
    int stride = 0;
    fz_irect bbox{};
    bool bgra = false;
    bool alpha = false;
    bool clearToWhite = false; // else the page is drawn over what the pixels hold
};
// A page just loaded shows its form as ravlen draws it: the drawings MuPDF
// made for fields that had none are mended (drawRequestedC), and each
// password field whose drawing shows more than a mask (one asterisk a
// character, as other readers draw it) is drawn as that mask, but for a
// drawing a signed file holds; `staySigned` says whether the file is signed,
// -1 when not known yet (signedDocument). Never throws.
void showFormC(fz_context* ctx, pdf_page* page, int staySigned);
// A pop-up whose drawing MuPDF made for the screen alone (the file holds
// none) shows the label of the option its value names, as other readers draw
// it, where MuPDF shows the value: it is drawn anew for the screen, the
// document left as it was (PdfForms.cpp). Throws like any MuPDF call.
void showLabelForScreenC(fz_context* ctx, pdf_annot* widget);

// Form drawings (PdfFormDrawings.cpp). Each throws like any MuPDF call unless
// it says otherwise.
// The one judge of a form drawing: whether every reader draws it. It must be
// a form with a box of some area that its matrix maps to one of some area
// (not squashed flat), and no font that hides its glyphs from other readers.
int usableDrawingC(fz_context* ctx, pdf_obj* drawing);
// Whether option `i` of a choice field is chosen, as other readers take it:
// its value (or one of its values) is the option's export value, which is
// its label when it has no other.
int chosenOptionC(fz_context* ctx, pdf_obj* field, int i);
// Whether a list box's drawing marks the options chosen, and only them, as
// poppler draws a list box: white letters (on a dark bar).
int marksChosenC(fz_context* ctx, pdf_annot* widget);
// The one road by which ravlen draws form fields: MuPDF draws what was asked
// of it (a value typed, a box ticked, a field with no drawing), then every
// drawing it made is mended so that other readers draw it as ravlen shows
// it: a Dingbats tick keeps its font's own encoding, one line of text sits
// inside its box, a list box marks its chosen options, and a pop-up drawn
// for the screen shows its option's label. A drawing MuPDF made is known by
// its word, or, drawn for the screen as a page loads, by where it lives; a
// drawing the file holds is never mended here. Runs over the page's marks
// and widgets.
void drawRequestedC(fz_context* ctx, pdf_page* page);
// Whether the widget shows a drawing MuPDF made for the screen alone, in the
// annotation's scratch table, which no save writes.
bool drawnForScreenC(fz_context* ctx, pdf_annot* widget);
// The same for one annotation: brings its drawing up to date, mending it
// when MuPDF made it.
void updateAnnotC(fz_context* ctx, pdf_annot* annot);
// Asks MuPDF to draw a widget anew from its value and state, through drawRequestedC.
void drawAnewC(fz_context* ctx, pdf_annot* widget);
// Whether every reader draws a check box or radio button in each of its
// states: they are a set of drawings, each usable, the on state's painting
// something.
int soundStatesC(fz_context* ctx, pdf_obj* widget);
// Makes a check box or radio button drawn, in each of its states, as every
// reader draws it, keeping each drawing of the form's own that every reader
// draws: only a state whose drawing is missing or unusable (an on state: one
// that paints nothing) is drawn anew, from the field's look (/MK) as a reader
// drawing the field itself draws it. Returns whether every reader now draws
// the button's states; if not, its drawings are put back as they were. Never
// throws.
int soundButtonC(fz_context* ctx, pdf_annot* widget);
// Whether a widget of page `index` has a drawing without a box or with a
// font that hides its glyphs, which mendFormDrawingsC mends: a drawing
// without a box gets the widget's rectangle (as readers that draw it take
// it, and ravlen's window with them), a Dingbats font its own encoding.
// Read from the page's objects before MuPDF loads it; neither throws.
int formDrawingsToMendC(fz_context* ctx, pdf_document* doc, int index);
void mendFormDrawingsC(fz_context* ctx, pdf_document* doc, int index);
// Before a save: a form that asks readers to draw its fields has each field
// that shows a value drawn anew from that value, then, when every one was,
// no longer asks. Some readers (poppler) draw a field afresh when asked and
// fail on the fonts that programs like LibreOffice name in it, showing a
// ticked box or a chosen option as empty; a stored drawing, on the other
// hand, may show a value the field no longer holds. A page or field that
// cannot be drawn keeps the request. A signed file's fields stay as signed,
// in every copy, until the user fills one in: the window drew it, and the
// update that holds it is drawn as any save is, each field judged by the
// drawing the file holds, not the one the window drew for the screen alone.
// The caller holds d.mutex; never throws.
void drawNeededAppearances(PdfDocument::Impl& d);
// Whether drawNeededAppearances draws anything: the form asks readers to
// draw its fields, and they do not stay as signed (a signed file's stay
// until a field is filled in). The caller holds d.mutex.
bool appearancesToDraw(PdfDocument::Impl& d);
// A page just loaded shows a form that asks readers to draw its fields as a
// save writes it, so that the window and a flattened copy show the words
// that other readers show: each widget is judged by the save's rule, and a
// field whose drawing shows other words than its value is drawn anew from
// it. Each widget is judged once a document (fieldsJudged): one that MuPDF
// cannot draw right is not drawn again at every rendering. A signed file's
// fields stay as signed: a text or choice field there is drawn from its
// value for the screen alone, in the annotation's scratch table, which no
// save writes, and again as a page loads after a change of the document or
// a save dropped that table. Returns false, having changed nothing, when a field
// is to be drawn anew in a document not yet read whole: that edit comes
// after settleBeforeEditing, and the page must then be loaded again. The
// caller holds d.mutex; throws what settleBeforeEditing throws.
bool showFieldValues(PdfDocument::Impl& d, pdf_page* page);
// Whether `test` holds for a field of the form's field tree, walked with a
// bounded stack: a damaged file may make the tree a cycle. Throws like any
// MuPDF call.
int anyFieldC(fz_context* ctx, pdf_document* doc, int (*test)(fz_context*, pdf_document*, pdf_obj* field));
// Whether a field of the form, or a widget on a page, is a signature with a
// value, in one walk of the page tree; with `release`, each page dictionary
// read is let go of (releaseParsedObjectC). A file that cannot be read
// through counts as signed. Never throws.
int isSignedC(fz_context* ctx, pdf_document* doc, int release);
// Whether the document is signed (isSignedC), asked once a document read:
// no edit ravlen makes signs it, and an update keeps the signed bytes. A
// page edit that takes pages out asks it before they go (a page out takes
// the signature's field with it), so that a save's questions on the
// window's thread walk no pages. False while locked. The
// caller holds d.mutex; never throws.
bool signedDocument(PdfDocument::Impl& d);
// Whether the document's fields stay as its file holds them, whatever is
// written or shown: a signed file's do (signedDocument). The caller holds
// d.mutex.
bool fieldsStaySigned(PdfDocument::Impl& d);
// Draws a page (runPagePartsC), or its recording when `list` is given,
// through `ctm` into `target`.
void drawC(fz_context* ctx, pdf_page* page, fz_display_list* list, fz_matrix ctm, const PixelTarget& target,
           fz_cookie* cookie, FzError* err);

// ---------------------------------------------------------------- read-back
struct PdfWriteIntent;
struct ReadBackBytes;
struct WrittenTrailer;
class MappedFile;

// Whether MuPDF decodes stream `num` to its end, reading at most `limit`
// bytes of it (PdfDocument.cpp says what it reads); 0 too where memory ran
// out, which is in `err`, if given. Never throws.
int decodesToItsEndC(fz_context* ctx, pdf_document* doc, int num, std::size_t limit, FzError* err = nullptr);
// A stream is decoded up to this length to find whether it decodes to its
// end: damage further in is as rare as such streams.
constexpr std::size_t streamCheckLimit = std::size_t(256) << 20;

// Marks in `reached` (pdf_xref_len bytes, zeroed) each object a chain of
// references from the trailer reaches, as MuPDF's garbage collection does
// (the encryption dictionary only with `keepsEncryption`). Throws (MuPDF).
void markReachedC(fz_context* ctx, pdf_document* doc, int keepsEncryption, unsigned char* reached);
// What the document holds, object by object: each object's kind of entry,
// generation and value, and its stream's data, by number (0 for none), and
// the trailer's entries that name the document. `asStored`, as the
// document stores them (a stream's storage keys and stored bytes): no write
// may change that (writeDocument), as MuPDF's writer edits what it shares
// with the document it writes. Else as readers take them (the data
// decoded): what a save by update reads again from the bytes it wrote.
struct DocumentState {
    std::vector<std::uint64_t> objects; // without the 0s after the last object
    std::uint64_t trailer = 0;
    bool operator==(const DocumentState&) const = default;
};
// Sums up objects 1 to `count` - 1 of `doc` into `objects` (`count` long)
// and its trailer into `*trailer`; a failure is in `err`.
void documentStateC(fz_context* ctx, pdf_document* doc, int asStored, std::uint64_t* objects, int count,
                    std::uint64_t* trailer, FzError* err);

// What takes the place of a whole file's cross-reference table, `table`
// (`length` bytes from its "xref" at offset `at` to the file's end, as
// MuPDF's writer ends a file it writes anew). The table ends with the last
// object in use: numbers past it, which the document let go of (a form's
// field drawn again in each session leaves its earlier drawing behind),
// would grow the file save after save. MuPDF writes a row of 20 bytes for
// every number up to the highest in use, and a file whose numbers run high
// (a 100 KB file numbering its objects up to 156,343) would grow by
// megabytes of rows for numbers it does not use. Where most of its numbers
// are free, the same rows go into a compressed cross-reference stream,
// written as an object after the last, with the trailer's entries,
// "startxref" and "%%EOF"; where most are in use, the table cut after its
// last object in use: the objects stay where they are, and keep their
// numbers. Null where MuPDF's table stays (most numbers in use and none
// past the last in use, or a table of another form); else the trailer's
// /Size goes in `*size`. Printed `tight` as the write was (see
// writesEmptyNameC). Throws (MuPDF) only when memory runs out.
fz_buffer* crossReferenceStreamC(fz_context* ctx, pdf_document* doc, const unsigned char* table, size_t length,
                                 std::int64_t at, int tight, int* size);

// A whole file as MuPDF's writer writes it, `file` (`length` bytes, its
// table at offset `at`), written again with its small objects packed into
// object streams, compressed where `compress`, and a cross-reference stream
// in place of its table: each object keeps its number, the streams and the
// table take the numbers after the last. What PDF keeps out of object
// streams stays as it was (streams, objects of a generation but 0), and so
// does a signature's value, which its byte range leaves out of the file's
// bytes. Null where the file stays as it is: a file encrypted (each
// object's strings are encrypted under its own number), a table of another
// form, nothing to pack. The trailer's /Size goes in `*size`. Printed
// `tight` as the write was (see writesEmptyNameC). Throws (MuPDF) only
// when memory runs out.
fz_buffer* objectStreamsC(fz_context* ctx, pdf_document* doc, const unsigned char* file, size_t length, std::int64_t at,
                          int compress, int tight, int* size);

// Sums up the trailer's /Root, /Info and /ID as the writer holds them at the
// end of a write into `*trailer`, if given. Throws (MuPDF).
void writtenTrailerC(fz_context* ctx, pdf_document* doc, WrittenTrailer* trailer);

// The bytes a document was read from, kept as long as documents made from
// it are.
class OriginBytes {
public:
    // `d`'s own bytes (its file, or the bytes it holds); none for a document
    // made here. The caller holds d.mutex.
    static std::shared_ptr<const OriginBytes> of(const PdfDocument::Impl& d);
    ~OriginBytes();
    OriginBytes(const OriginBytes&) = delete;
    OriginBytes& operator=(const OriginBytes&) = delete;
    // The bytes, mapped into `*mapped` when they lie in a file. Throws
    // PdfError(unverifiedCopy) when they cannot be mapped.
    ReadBackBytes bytes(std::unique_ptr<MappedFile>* mapped) const;
    // Whether `other` stands for the very bytes this does.
    bool sameAs(const OriginBytes& other) const { return file_ == other.file_ && buffer_ == other.buffer_; }

private:
    OriginBytes() = default;
    std::shared_ptr<WatchedFile> file_;
    fz_buffer* buffer_ = nullptr;
};

// Notes that objects of `source` are copied into `target`: its bytes and
// its own origins become the target's, and the pages it holds outside its
// tree that a file written of it may hold (strayPagesCarried). The caller
// holds both mutexes. Throws PdfError.
void inheritOrigins(PdfDocument::Impl& target, const PdfDocument::Impl& source);
// Whether page object `num`, outside d's page tree, may be in a file written
// of d (whole, or an `update`): one d's file held so itself
// (ownPageOutsideTree), or one the documents its objects came from held so
// (strayPagesCarried); never a page out of the tree now, in a whole file.
// The caller holds d.mutex while it is called. Throws PdfError.
std::function<bool(int num)> mayHoldPageOutsideTree(const PdfDocument::Impl& d, bool update);

// What a write of the document with `opts` meant to write, for the
// read-back of the written bytes (PdfReadBack.h): the document as it stands
// once written, the caller holding d.mutex. `mapped` keeps the bytes it was
// read from (and its origins') mapped while the intent is used. The objects
// `leftOut` marks (by number) were left out of the write (a write into
// memory leaves out what nothing refers to, the document keeping them):
// none of them is meant, and a reference to one reaches nothing.
PdfWriteIntent writeIntent(PdfDocument::Impl& d, const pdf_write_options& opts,
                           std::vector<std::unique_ptr<MappedFile>>* mapped, std::vector<unsigned char> leftOut = {});

} // namespace platform
