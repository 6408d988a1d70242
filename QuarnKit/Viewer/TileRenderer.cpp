#include "QuarnKit/Viewer/TileRenderer.h"

#include "Platform/MemoryUse.h"
#include "QuarnKit/Document/DocumentEngine.h"

#include <QMetaObject>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

namespace quarnkit {

namespace {
// Display lists are kept for reuse by what they hold in memory: a list is a
// page's recorded drawing, a few hundred kilobytes for most pages and tens of
// megabytes for pages full of images. However cheap, no more than this many.
constexpr std::size_t mostDisplayLists = 48;
// Memory dropped (tiles, lists) after which idle workers hand the allocator's
// free memory back to the system, and busy ones after this much: the
// arenas of workers that never go idle keep what they freed otherwise.
constexpr std::size_t releaseAfterBytes = 32u << 20;
constexpr std::size_t busyReleaseAfterBytes = 128u << 20;

} // namespace

// Tiles are drawn into buffers that come back here when their image is
// destroyed (a tile left the cache, or was dropped on its way there): a long
// scroll reuses the same few megabytes instead of asking the allocator for a
// fresh block per tile on a worker and freeing it on the UI thread. Buffers are
// kept by exact size; a page's tiles come in a handful of sizes.
class TileRenderer::Buffers : public std::enable_shared_from_this<Buffers> {
public:
    explicit Buffers(std::size_t keep) : keep_(keep) {}
    ~Buffers()
    {
        for (auto& spare : spares_) std::free(spare.data);
    }

    // A 32-bit image of `size` over a spare buffer when one of that size is free.
    QImage take(QSize size)
    {
        const std::size_t bytes = std::size_t(size.width()) * 4 * std::size_t(size.height());
        uchar* data = nullptr;
        {
            std::lock_guard lock(mutex_);
            auto found = std::find_if(spares_.rbegin(), spares_.rend(), [&](const Spare& s) { return s.size == size; });
            if (found != spares_.rend()) {
                data = found->data;
                spareBytes_ -= bytes;
                spares_.erase(std::next(found).base());
                ++reused_;
            }
        }
        if (!data) data = static_cast<uchar*>(std::malloc(bytes));
        if (!data) return {};
        auto* back = new Return{shared_from_this(), data, size};
        return QImage(data, size.width(), size.height(), size.width() * 4, QImage::Format_RGB32, &Buffers::giveBack,
                      back);
    }

    quint64 reused() const
    {
        std::lock_guard lock(mutex_);
        return reused_;
    }

private:
    struct Spare {
        uchar* data;
        QSize size;
    };
    struct Return {
        std::shared_ptr<Buffers> to;
        uchar* data;
        QSize size;
    };

    // QImage's clean-up: runs on whichever thread drops the image's last copy.
    static void giveBack(void* info)
    {
        std::unique_ptr<Return> back(static_cast<Return*>(info));
        back->to->keep(back->data, back->size);
    }

    void keep(uchar* data, QSize size)
    {
        const std::size_t bytes = std::size_t(size.width()) * 4 * std::size_t(size.height());
        std::vector<uchar*> surplus;
        {
            std::lock_guard lock(mutex_);
            spares_.push_back({data, size});
            spareBytes_ += bytes;
            // The oldest spares go first: their size is the least likely to come again.
            while (spareBytes_ > keep_ && !spares_.empty()) {
                const Spare& oldest = spares_.front();
                spareBytes_ -= std::size_t(oldest.size.width()) * 4 * std::size_t(oldest.size.height());
                surplus.push_back(oldest.data);
                spares_.erase(spares_.begin());
            }
        }
        for (uchar* block : surplus) std::free(block);
    }

    mutable std::mutex mutex_;
    std::vector<Spare> spares_; // oldest first
    std::size_t spareBytes_ = 0;
    std::size_t keep_;
    quint64 reused_ = 0;
};

// What the workers share with the renderer. Workers hold it by shared_ptr, so
// it outlives a renderer that is destroyed while they still run; `receiver`
// is cleared (under the mutex) when the renderer goes, and nothing is posted
// after that.
struct TileRenderer::Shared {
    std::mutex mutex;
    TileRenderer* receiver = nullptr;
    std::shared_ptr<platform::PdfDocument> document;
    quint64 generation = 0;
    std::deque<TileRequest> queue;
    std::set<TileKey> inFlight; // queued, rendering, or done and on its way to the UI thread
    int workers = 0;
    int maxWorkers = 2;
    std::shared_ptr<Buffers> buffers = std::make_shared<Buffers>(std::size_t(16) << 20);
    std::atomic<std::size_t> droppedBytes{0}; // since memory was last handed back
    std::function<void()> workerHook;

    struct ListEntry {
        std::shared_future<std::shared_ptr<platform::PdfDisplayList>> list;
        quint64 generation = 0;
        quint64 used = 0;
        quint64 recording = 0; // tells this recording from a later one of the page
        std::size_t cost = 0;  // 0 while recording
    };
    std::map<int, ListEntry> lists;
    quint64 useClock = 0;
    std::size_t listBytes = 0;
    std::size_t listBudget = 64u << 20;

    // Drops lists, least recently used first, until they fit their budget; a
    // list being recorded and the one of `keep` stay. Holds the mutex.
    void trimLists(int keep)
    {
        for (;;) {
            const bool over = listBytes > listBudget || lists.size() > mostDisplayLists;
            if (!over) return;
            auto oldest = lists.end();
            for (auto it = lists.begin(); it != lists.end(); ++it)
                if (it->first != keep && it->second.cost > 0
                    && (oldest == lists.end() || it->second.used < oldest->second.used))
                    oldest = it;
            if (oldest == lists.end()) return;
            dropList(oldest);
        }
    }

    void dropList(std::map<int, ListEntry>::iterator entry)
    {
        listBytes -= entry->second.cost;
        droppedBytes += entry->second.cost;
        lists.erase(entry);
    }

    void clearLists()
    {
        while (!lists.empty()) dropList(lists.begin());
    }

    // The page's display list, made once per page and generation by the first
    // worker that needs it; other workers wait for that one (never the UI thread).
    std::shared_ptr<platform::PdfDisplayList>
    displayList(int page, quint64 gen, const std::shared_ptr<platform::PdfDocument>& doc, bool windowWaits)
    {
        std::unique_lock lock(mutex);
        // A request taken before the document was closed, replaced or edited:
        // its tile would be dropped on arrival, and a recording made for it
        // would stay behind, counted against the budget of the pages shown now.
        if (!receiver || gen != generation) return nullptr;
        auto found = lists.find(page);
        if (found != lists.end() && found->second.generation == gen) {
            found->second.used = ++useClock;
            auto future = found->second.list;
            lock.unlock();
            return future.get();
        }
        if (found != lists.end()) dropList(found);
        std::promise<std::shared_ptr<platform::PdfDisplayList>> promise;
        const quint64 recording = ++useClock;
        lists[page] = {promise.get_future().share(), gen, recording, recording, 0};
        lock.unlock();

        std::shared_ptr<platform::PdfDisplayList> list;
        std::vector<platform::PdfLink> links;
        try {
            if (doc) list = doc->displayList(page, windowWaits);
        } catch (...) {
            // A page that cannot be recorded renders as nothing: its tiles stay white.
        }
        promise.set_value(list);
        try {
            if (doc) links = doc->links(page);
        } catch (...) {}
        std::lock_guard relock(mutex);
        // The entry is still this recording's unless an edit or a new document dropped it meanwhile.
        auto entry = lists.find(page);
        if (entry != lists.end() && entry->second.recording == recording) {
            entry->second.cost = std::max<std::size_t>(1, list ? list->cost() : 0);
            listBytes += entry->second.cost;
            trimLists(page);
        }
        if (receiver && gen == generation) {
            TileRenderer* to = receiver;
            const bool damaged = list && list->damaged();
            QMetaObject::invokeMethod(
                to,
                [to, page, links = std::move(links), damaged, gen]() mutable {
                    to->acceptRecorded(page, std::move(links), damaged, gen);
                },
                Qt::QueuedConnection);
        }
        return list;
    }

    static void work(const std::shared_ptr<Shared>& self)
    {
        for (;;) {
            TileRequest request;
            quint64 gen;
            std::shared_ptr<platform::PdfDocument> doc;
            std::function<void()> hook;
            {
                std::unique_lock lock(self->mutex);
                if (!self->receiver || self->queue.empty()) {
                    const bool last = --self->workers == 0;
                    lock.unlock();
                    // The last worker to go idle hands what the caches dropped back to the system.
                    if (last && self->droppedBytes >= releaseAfterBytes) {
                        self->droppedBytes = 0;
                        platform::releaseFreedMemory();
                    }
                    return;
                }
                request = self->queue.front();
                self->queue.pop_front();
                gen = self->generation;
                doc = self->document;
                hook = self->workerHook;
            }
            if (hook) hook();
            // In a long scroll the workers are never idle: one of them hands
            // memory back now and then all the same.
            std::size_t dropped = self->droppedBytes;
            if (dropped >= busyReleaseAfterBytes && self->droppedBytes.compare_exchange_strong(dropped, 0))
                platform::releaseFreedMemory();
            QImage image;
            try {
                // 32-bit pixels draw without conversion on every paint.
                if (auto list = self->displayList(request.key.page, gen, doc, request.windowWaits)) {
                    const auto buffers = self->buffers;
                    image = list->renderRgb32(request.key.level / 1000.0, request.clip,
                                              [&buffers](QSize size) { return buffers->take(size); });
                }
            } catch (...) {}
            // The key stays in flight until the UI thread has taken the tile,
            // so that a paint in between does not ask for it again.
            std::lock_guard lock(self->mutex);
            if (self->receiver && gen == self->generation) {
                TileRenderer* receiver = self->receiver;
                const TileKey key = request.key;
                QMetaObject::invokeMethod(
                    receiver,
                    [receiver, key, image = std::move(image), gen]() mutable {
                        receiver->accept(key, std::move(image), gen);
                    },
                    Qt::QueuedConnection);
            }
        }
    }
};

TileRenderer::TileRenderer(QObject* parent) : QObject(parent), shared_(std::make_shared<Shared>())
{
    shared_->receiver = this;
    // Leave a core for the UI thread; more than four workers gain little on one document.
    shared_->maxWorkers = std::clamp(QThread::idealThreadCount() - 1, 2, 4);
}

QThreadPool& TileRenderer::workerPool()
{
    // Never destroyed: at exit a render of a crafted page may still run, and
    // the application decides how long to wait for it.
    static QThreadPool* const pool = [] {
        auto* threads = new QThreadPool;
        // Each renderer limits its own workers; this only bounds several windows together.
        threads->setMaxThreadCount(std::max(4, QThread::idealThreadCount()));
        return threads;
    }();
    return *pool;
}

TileRenderer::~TileRenderer()
{
    std::lock_guard lock(shared_->mutex);
    shared_->receiver = nullptr;
    shared_->queue.clear();
    shared_->clearLists();
}

void TileRenderer::setDocument(const QuarnDocument* document) { setDocument(document ? pdfOf(*document) : nullptr); }

void TileRenderer::setDocument(std::shared_ptr<platform::PdfDocument> document)
{
    dropAll([&] { shared_->document = std::move(document); });
}

void TileRenderer::invalidate(std::optional<int> page)
{
    if (page) return invalidate(std::vector<int>{*page});
    dropAll({});
}

void TileRenderer::dropAll(const std::function<void()>& alsoUnderLock)
{
    {
        std::lock_guard lock(shared_->mutex);
        if (alsoUnderLock) alsoUnderLock();
        ++shared_->generation;
        shared_->queue.clear();
        shared_->inFlight.clear();
        shared_->clearLists();
    }
    cache_.clear();
    byPage_.clear();
    lru_.clear();
    links_.clear();
    damaged_.clear();
    bytes_ = 0;
}

void TileRenderer::invalidate(const std::vector<int>& pages)
{
    {
        std::lock_guard lock(shared_->mutex);
        // Tiles of every page in flight belong to the old generation and are
        // dropped on arrival; the simplest correct rule, and edits are rare.
        ++shared_->generation;
        shared_->queue.clear();
        shared_->inFlight.clear();
        // The other pages' recordings still hold: carry them into the new generation.
        for (const int page : pages)
            if (auto found = shared_->lists.find(page); found != shared_->lists.end()) shared_->dropList(found);
        for (auto& [index, entry] : shared_->lists) entry.generation = shared_->generation;
    }
    for (const int page : pages) {
        links_.remove(page);
        damaged_.remove(page);
        const auto keys = byPage_.take(page);
        for (auto it = keys.begin(); it != keys.end(); ++it) {
            auto entry = cache_.find(it.key());
            if (entry == cache_.end()) continue;
            bytes_ -= std::size_t(entry->image.sizeInBytes());
            lru_.erase(entry->lru);
            cache_.erase(entry);
        }
    }
}

const QImage* TileRenderer::tile(const TileKey& key)
{
    auto found = cache_.find(key);
    if (found == cache_.end()) return nullptr;
    lru_.splice(lru_.begin(), lru_, found->lru);
    return &found->image;
}

void TileRenderer::request(const std::vector<TileRequest>& wanted)
{
    {
        std::lock_guard lock(shared_->mutex);
        // Requests no longer wanted are dropped; those being rendered finish.
        for (const TileRequest& old : shared_->queue) shared_->inFlight.erase(old.key);
        shared_->queue.clear();
        for (const TileRequest& request : wanted) {
            if (cache_.contains(request.key) || shared_->inFlight.count(request.key)) continue;
            shared_->inFlight.insert(request.key);
            shared_->queue.push_back(request);
        }
    }
    startWorkers();
}

void TileRenderer::startWorkers()
{
    std::lock_guard lock(shared_->mutex);
    const int needed = std::min<int>(shared_->maxWorkers, int(shared_->queue.size()));
    while (shared_->workers < needed) {
        ++shared_->workers;
        std::shared_ptr<Shared> shared = shared_;
        workerPool().start([shared] { Shared::work(shared); });
    }
}

void TileRenderer::setWorkerHook(std::function<void()> hook)
{
    std::lock_guard lock(shared_->mutex);
    shared_->workerHook = std::move(hook);
}

int TileRenderer::pendingCount() const
{
    std::lock_guard lock(shared_->mutex);
    return int(shared_->inFlight.size());
}

void TileRenderer::accept(const TileKey& key, QImage image, quint64 generation)
{
    {
        std::lock_guard lock(shared_->mutex);
        if (generation != shared_->generation) return;
        shared_->inFlight.erase(key);
    }
    if (cache_.contains(key)) return;
    lru_.push_front(key);
    bytes_ += std::size_t(image.sizeInBytes());
    cache_.insert(key, Entry{std::move(image), lru_.begin()});
    byPage_[key.page].insert(key, true);
    evictToBudget();
    emit tileReady(key.page);
}

void TileRenderer::acceptRecorded(int page, std::vector<platform::PdfLink> links, bool damaged, quint64 generation)
{
    {
        std::lock_guard lock(shared_->mutex);
        if (generation != shared_->generation) return;
    }
    links_.insert(page, std::move(links));
    if (damaged) damaged_.insert(page);
    else damaged_.remove(page);
}

const std::vector<platform::PdfLink>* TileRenderer::links(int page) const
{
    const auto found = links_.constFind(page);
    return found == links_.constEnd() ? nullptr : &found.value();
}

void TileRenderer::evictToBudget()
{
    // Keep at least the newest tile, whatever its size.
    const std::size_t limit = std::max(budget_, floor_);
    while (bytes_ > limit && lru_.size() > 1) {
        const TileKey oldest = lru_.back();
        lru_.pop_back();
        auto entry = cache_.find(oldest);
        bytes_ -= std::size_t(entry->image.sizeInBytes());
        shared_->droppedBytes += std::size_t(entry->image.sizeInBytes());
        cache_.erase(entry);
        auto page = byPage_.find(oldest.page);
        if (page != byPage_.end()) {
            page->remove(oldest);
            if (page->isEmpty()) byPage_.erase(page);
        }
    }
}

void TileRenderer::setBudget(std::size_t bytes)
{
    budget_ = bytes;
    evictToBudget();
}

void TileRenderer::setFloor(std::size_t bytes) { floor_ = bytes; }

void TileRenderer::setDisplayListBudget(std::size_t bytes)
{
    std::lock_guard lock(shared_->mutex);
    shared_->listBudget = bytes;
    shared_->trimLists(-1);
}

std::size_t TileRenderer::displayListBudget() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->listBudget;
}

std::size_t TileRenderer::displayListBytes() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->listBytes;
}

std::vector<int> TileRenderer::pagesWithDisplayLists() const
{
    std::lock_guard lock(shared_->mutex);
    std::vector<int> pages;
    for (const auto& [page, entry] : shared_->lists)
        if (entry.cost > 0) pages.push_back(page);
    return pages;
}

quint64 TileRenderer::reusedBuffers() const { return shared_->buffers->reused(); }

std::vector<std::pair<TileKey, const QImage*>> TileRenderer::tilesOfPage(int page, int level) const
{
    std::vector<std::pair<TileKey, const QImage*>> result;
    const auto keys = byPage_.constFind(page);
    if (keys == byPage_.cend()) return result;
    for (auto it = keys->cbegin(); it != keys->cend(); ++it) {
        if (it.key().level != level) continue;
        const auto entry = cache_.constFind(it.key());
        if (entry != cache_.cend()) result.emplace_back(it.key(), &entry->image);
    }
    return result;
}

std::vector<int> TileRenderer::cachedLevels(int page) const
{
    std::vector<int> levels;
    const auto keys = byPage_.constFind(page);
    if (keys == byPage_.cend()) return levels;
    for (auto it = keys->cbegin(); it != keys->cend(); ++it)
        if (std::find(levels.begin(), levels.end(), it.key().level) == levels.end()) levels.push_back(it.key().level);
    return levels;
}

} // namespace quarnkit
