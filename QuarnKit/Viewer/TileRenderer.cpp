#include "QuarnKit/Viewer/TileRenderer.h"

#include <QMetaObject>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

namespace quarnkit {

namespace {
// Display lists kept for reuse; a list is a page's recorded drawing, a few
// hundred kilobytes for most pages, more for pages full of images.
constexpr std::size_t keptDisplayLists = 12;

} // namespace

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

    struct ListEntry {
        std::shared_future<std::shared_ptr<platform::PdfDisplayList>> list;
        quint64 generation = 0;
        quint64 used = 0;
    };
    std::map<int, ListEntry> lists;
    quint64 useClock = 0;

    // The page's display list, made once per page and generation by the first
    // worker that needs it; other workers wait for that one (never the UI thread).
    std::shared_ptr<platform::PdfDisplayList> displayList(int page, quint64 gen,
                                                          const std::shared_ptr<platform::PdfDocument>& doc)
    {
        std::unique_lock lock(mutex);
        auto found = lists.find(page);
        if (found != lists.end() && found->second.generation == gen) {
            found->second.used = ++useClock;
            auto future = found->second.list;
            lock.unlock();
            return future.get();
        }
        std::promise<std::shared_ptr<platform::PdfDisplayList>> promise;
        lists[page] = {promise.get_future().share(), gen, ++useClock};
        while (lists.size() > keptDisplayLists) {
            auto oldest = std::min_element(lists.begin(), lists.end(), [](const auto& a, const auto& b) {
                return a.second.used < b.second.used;
            });
            lists.erase(oldest);
        }
        lock.unlock();

        std::shared_ptr<platform::PdfDisplayList> list;
        std::vector<platform::PdfLink> links;
        try {
            if (doc) list = doc->displayList(page);
        } catch (...) {
            // A page that cannot be recorded renders as nothing: its tiles stay white.
        }
        promise.set_value(list);
        try {
            if (doc) links = doc->links(page);
        } catch (...) {
        }
        std::lock_guard relock(mutex);
        if (receiver && gen == generation) {
            TileRenderer* to = receiver;
            QMetaObject::invokeMethod(
                to, [to, page, links = std::move(links), gen]() mutable { to->acceptLinks(page, std::move(links), gen); },
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
            {
                std::lock_guard lock(self->mutex);
                if (!self->receiver || self->queue.empty()) {
                    --self->workers;
                    return;
                }
                request = self->queue.front();
                self->queue.pop_front();
                gen = self->generation;
                doc = self->document;
            }
            QImage image;
            try {
                if (auto list = self->displayList(request.key.page, gen, doc)) {
                    image = list->render(request.key.level / 1000.0, request.clip);
                    // 32-bit pixels draw without conversion on every paint.
                    if (!image.isNull()) image = std::move(image).convertToFormat(QImage::Format_RGB32);
                }
            } catch (...) {
            }
            // The key stays in flight until the UI thread has taken the tile,
            // so that a paint in between does not ask for it again.
            std::lock_guard lock(self->mutex);
            if (self->receiver && gen == self->generation) {
                TileRenderer* receiver = self->receiver;
                const TileKey key = request.key;
                QMetaObject::invokeMethod(
                    receiver, [receiver, key, image = std::move(image), gen]() mutable {
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

TileRenderer::~TileRenderer()
{
    std::lock_guard lock(shared_->mutex);
    shared_->receiver = nullptr;
    shared_->queue.clear();
    shared_->lists.clear();
}

void TileRenderer::setDocument(std::shared_ptr<platform::PdfDocument> document)
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->document = std::move(document);
        ++shared_->generation;
        shared_->queue.clear();
        shared_->inFlight.clear();
        shared_->lists.clear();
    }
    cache_.clear();
    byPage_.clear();
    lru_.clear();
    bytes_ = 0;
}

void TileRenderer::invalidate(std::optional<int> page)
{
    {
        std::lock_guard lock(shared_->mutex);
        // Tiles of every page in flight belong to the old generation and are
        // dropped on arrival; the simplest correct rule, and edits are rare.
        ++shared_->generation;
        shared_->queue.clear();
        shared_->inFlight.clear();
        if (page) {
            // The other pages' recordings still hold: carry them into the new generation.
            shared_->lists.erase(*page);
            for (auto& [index, entry] : shared_->lists) entry.generation = shared_->generation;
        } else {
            shared_->lists.clear();
        }
    }
    if (!page) {
        cache_.clear();
        byPage_.clear();
        lru_.clear();
        bytes_ = 0;
        return;
    }
    const auto keys = byPage_.take(*page);
    for (auto it = keys.begin(); it != keys.end(); ++it) {
        auto entry = cache_.find(it.key());
        if (entry == cache_.end()) continue;
        bytes_ -= std::size_t(entry->image.sizeInBytes());
        lru_.erase(entry->lru);
        cache_.erase(entry);
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
        QThreadPool::globalInstance()->start([shared] { Shared::work(shared); });
    }
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

void TileRenderer::acceptLinks(int page, std::vector<platform::PdfLink> links, quint64 generation)
{
    {
        std::lock_guard lock(shared_->mutex);
        if (generation != shared_->generation) return;
    }
    emit linksReady(page, links);
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
        if (std::find(levels.begin(), levels.end(), it.key().level) == levels.end())
            levels.push_back(it.key().level);
    return levels;
}

} // namespace quarnkit
