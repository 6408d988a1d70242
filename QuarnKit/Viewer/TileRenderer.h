#pragma once
// Renders page tiles on worker threads and keeps them in a cache bounded by
// memory. The page view asks for the tiles it is about to paint and paints
// what the cache already holds; finished tiles arrive on the UI thread and
// are announced with tileReady. Nothing here ever blocks the UI thread on
// rendering: workers make each page's display list once (lazily, on first
// need) and render tiles from it.
#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QHash>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QSet>

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <vector>

class QThreadPool;

namespace quarnkit {

// One tile: a square of `TileRenderer::tileSize` device pixels of a page
// rendered at `level` / 1000 pixels per point.
struct TileKey {
    int page = 0;
    int level = 0;
    int column = 0;
    int row = 0;
    friend bool operator==(const TileKey&, const TileKey&) = default;
    friend auto operator<=>(const TileKey&, const TileKey&) = default;
};

inline size_t qHash(const TileKey& key, size_t seed = 0)
{
    return qHashMulti(seed, key.page, key.level, key.column, key.row);
}

struct TileRequest {
    TileKey key;
    QRect clip; // device pixels of the page at the key's level
    // Nothing of the page shows on screen until it comes (a first paint):
    // its page is recorded without waiting for the window to be quiet.
    bool windowWaits = false;
};

class TileRenderer : public QObject {
    Q_OBJECT

public:
    static constexpr int tileSize = 512;

    explicit TileRenderer(QObject* parent = nullptr);
    ~TileRenderer() override;

    // The threads every renderer's workers (and the thumbnails') run on. Not
    // Qt's global pool: Qt splits large fills and image conversions of the UI
    // thread's painting over that pool and waits for them, so a window's
    // first paint would wait behind the renders of its pages.
    static QThreadPool& workerPool();

    // Forgets every tile and display list; later results of the old document are dropped.
    void setDocument(std::shared_ptr<platform::PdfDocument> document);
    // The pages of the document (none: no pages), drawn as it is edited.
    void setDocument(const QuarnDocument* document);
    // After an edit: forgets the tiles and display list of a page, or of all pages.
    void invalidate(std::optional<int> page);
    // The same for several pages at once; the other pages keep theirs.
    void invalidate(const std::vector<int>& pages);

    // The cached tile, or null. A failed tile is cached as a null image (so it
    // is not asked for again): check `found`.
    const QImage* tile(const TileKey& key);
    bool contains(const TileKey& key) const { return cache_.contains(key); }

    // Replaces what the workers should render next with `wanted`, most urgent
    // first. Tiles already cached or in flight are skipped.
    void request(const std::vector<TileRequest>& wanted);

    // Memory budget of the tile cache in bytes.
    void setBudget(std::size_t bytes);
    // The cache may grow to this, above the budget, so that the tiles of one
    // view always fit (a view larger than the budget would evict its own tiles).
    void setFloor(std::size_t bytes);
    std::size_t budget() const { return budget_; }
    std::size_t cachedBytes() const { return bytes_; }
    int cachedTiles() const { return int(cache_.size()); }
    // Memory the pages' display lists may hold, by their cost (an estimate of
    // what each recording keeps in memory); over it the least recently used go.
    void setDisplayListBudget(std::size_t bytes);
    std::size_t displayListBudget() const;
    std::size_t displayListBytes() const;
    // Pages whose display list is kept now, ascending.
    std::vector<int> pagesWithDisplayLists() const;
    // Tiles drawn into the buffer of a tile that had left the cache.
    quint64 reusedBuffers() const;
    // Requests not yet finished (queued or rendering).
    int pendingCount() const;
    // For tests: runs on the worker after it takes a request, before it reads the page.
    void setWorkerHook(std::function<void()> hook);

    // Tiles of a page at one level, cached now (for drawing a stale scale).
    std::vector<std::pair<TileKey, const QImage*>> tilesOfPage(int page, int level) const;
    // Levels at which some tile of the page is cached.
    std::vector<int> cachedLevels(int page) const;

    // The links of a page, read by the worker that recorded the page, so that
    // the UI thread finds them without asking the document; null until then.
    const std::vector<platform::PdfLink>* links(int page) const;
    // Whether the page's drawing failed part way (damaged content): its tiles
    // show what was drawn before the failure. Known once it is recorded.
    bool damaged(int page) const { return damaged_.contains(page); }

signals:
    void tileReady(int page);

private:
    class Buffers;
    struct Shared;
    struct Entry {
        QImage image;
        std::list<TileKey>::iterator lru;
    };

    void accept(const TileKey& key, QImage image, quint64 generation);
    // Forgets every tile, list and queued request; `alsoUnderLock` runs under the same lock.
    void dropAll(const std::function<void()>& alsoUnderLock);
    void acceptRecorded(int page, std::vector<platform::PdfLink> links, bool damaged, quint64 generation);
    void evictToBudget();
    void startWorkers();

    std::shared_ptr<Shared> shared_;
    QHash<TileKey, Entry> cache_;
    QHash<int, QHash<TileKey, bool>> byPage_; // page → its cached keys
    QHash<int, std::vector<platform::PdfLink>> links_;
    QSet<int> damaged_;
    std::list<TileKey> lru_; // front: most recently used
    std::size_t bytes_ = 0;
    std::size_t budget_ = 64u << 20;
    std::size_t floor_ = 0;
};

} // namespace quarnkit
