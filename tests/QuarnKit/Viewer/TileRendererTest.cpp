// The tile renderer: tiles drawn on worker threads from display lists, kept
// in a cache under its budget, dropped when their page changes.
#include "QuarnKit/Viewer/TileRenderer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThreadPool>

#include <cmath>

using namespace quarnkit;

namespace {

std::shared_ptr<platform::PdfDocument> textDocument(int pages)
{
    return platform::PdfDocument::openBytes(testsupport::makeTextPdf(pages));
}

std::vector<TileRequest> wholePage(int page, int level, const platform::PdfSize& size)
{
    std::vector<TileRequest> tiles;
    const int t = TileRenderer::tileSize;
    const QRect full(0, 0, int(std::ceil(size.width * level / 1000.0)), int(std::ceil(size.height * level / 1000.0)));
    for (int r = 0; r * t < full.height(); ++r)
        for (int c = 0; c * t < full.width(); ++c)
            tiles.push_back({TileKey{page, level, c, r}, QRect(c * t, r * t, t, t).intersected(full)});
    return tiles;
}

// The renderers' workers have all finished what they took.
bool workersIdle() { return TileRenderer::workerPool().activeThreadCount() == 0; }

} // namespace

TEST(TileRenderer, RendersRequestedTilesOffTheCallingThread)
{
    TileRenderer renderer;
    renderer.setDocument(textDocument(2));
    const auto tiles = wholePage(0, 2000, {612, 792}); // 1224 × 1584 pixels: 3 × 4 tiles
    ASSERT_EQ(tiles.size(), 12u);
    int ready = 0;
    QObject::connect(&renderer, &TileRenderer::tileReady, [&] { ++ready; });
    renderer.request(tiles);
    // Nothing is drawn on this thread: the request returns before any tile exists.
    EXPECT_FALSE(renderer.contains(tiles.front().key));
    ASSERT_TRUE(testsupport::waitFor([&] { return bool((renderer.cachedTiles()) == (12)); }, 30000));
    EXPECT_EQ(ready, 12);
    // Edge tiles are cut to the page.
    const QImage* corner = renderer.tile(tiles.back().key);
    ASSERT_TRUE(corner);
    EXPECT_EQ(corner->size(), tiles.back().clip.size());
    // "Page 1" is at 72,700: in the first tile, 144 px in, about 184 px down at 2×.
    const QImage* first = renderer.tile(tiles.front().key);
    int darkest = 255;
    for (int y = 150; y < 200; ++y)
        for (int x = 140; x < 300; ++x) darkest = std::min(darkest, qGray(first->pixel(x, y)));
    EXPECT_LT(darkest, 100);
    // Asking again for cached tiles renders nothing more.
    renderer.request(tiles);
    EXPECT_EQ(renderer.pendingCount(), 0);
}

TEST(TileRenderer, CacheStaysUnderItsBudget)
{
    TileRenderer renderer;
    renderer.setDocument(textDocument(6));
    const std::size_t oneTile = std::size_t(TileRenderer::tileSize) * TileRenderer::tileSize * 4;
    renderer.setBudget(3 * oneTile);
    std::size_t peak = 0;
    QObject::connect(&renderer, &TileRenderer::tileReady, [&] { peak = std::max(peak, renderer.cachedBytes()); });
    int arrived = 0;
    QObject::connect(&renderer, &TileRenderer::tileReady, [&] { ++arrived; });
    for (int page = 0; page < 6; ++page) {
        renderer.request(wholePage(page, 1000, {612, 792}));
        ASSERT_TRUE(testsupport::waitFor([&] { return bool(renderer.pendingCount() == 0); }, 30000));
    }
    EXPECT_GE(arrived, 6 * 4);
    EXPECT_LE(peak, 3 * oneTile);
    EXPECT_LE(renderer.cachedBytes(), 3 * oneTile);
    EXPECT_GT(renderer.cachedTiles(), 0);
    // The newest tiles stay: the last page's.
    EXPECT_TRUE(renderer.contains(TileKey{5, 1000, 0, 0}) || renderer.contains(TileKey{5, 1000, 1, 1}));
    EXPECT_FALSE(renderer.contains(TileKey{0, 1000, 0, 0}));
}

TEST(TileRenderer, InvalidateAndNewDocumentsDropTiles)
{
    TileRenderer renderer;
    renderer.setDocument(textDocument(3));
    auto tiles = wholePage(0, 500, {612, 792});
    const auto second = wholePage(1, 500, {612, 792});
    tiles.insert(tiles.end(), second.begin(), second.end());
    renderer.request(tiles);
    ASSERT_TRUE(testsupport::waitFor([&] { return bool((renderer.cachedTiles()) == (int(tiles.size()))); }, 30000));
    renderer.invalidate(0);
    EXPECT_FALSE(renderer.contains(tiles.front().key));
    EXPECT_TRUE(renderer.contains(second.front().key));
    renderer.invalidate(std::nullopt);
    EXPECT_EQ(renderer.cachedTiles(), 0);
    EXPECT_EQ(renderer.cachedBytes(), 0u);

    // Results of a document that was replaced never land in the cache.
    renderer.request(wholePage(2, 3000, {612, 792}));
    renderer.setDocument(textDocument(1));
    ASSERT_TRUE(testsupport::waitFor(workersIdle));
    QCoreApplication::processEvents(); // what they sent has arrived
    EXPECT_EQ(renderer.cachedTiles(), 0);
}

TEST(TileRenderer, DestroyedWhileWorkersRender)
{
    for (int i = 0; i < 5; ++i) {
        auto renderer = std::make_unique<TileRenderer>();
        renderer->setDocument(textDocument(4));
        for (int page = 0; page < 4; ++page) renderer->request(wholePage(page, 4000, {612, 792}));
        renderer.reset(); // workers still run; their results must go nowhere
    }
    ASSERT_TRUE(testsupport::waitFor(workersIdle));
    QCoreApplication::processEvents(); // their results arrive, for no one
    SUCCEED();
}

// Display lists are kept by what they cost: over the budget the least
// recently used go, and a page whose list and tiles were dropped is recorded
// and drawn again to the same pixels, into buffers of tiles that left the cache.
TEST(TileRenderer, DropsDisplayListsOverBudgetAndRedrawsThePageTheSame)
{
    const std::size_t oneTile = std::size_t(TileRenderer::tileSize) * TileRenderer::tileSize * 4;
    struct Case {
        const char* name;
        std::size_t listBudget;
        bool keepsEveryList;
    };
    for (const Case& c : {Case{"room for all", std::size_t(256) << 20, true}, Case{"room for one", 1, false}}) {
        SCOPED_TRACE(c.name);
        TileRenderer renderer;
        renderer.setDocument(textDocument(6));
        renderer.setDisplayListBudget(c.listBudget);
        renderer.setBudget(4 * oneTile); // a page at 1× is four tiles: earlier pages' tiles go
        const auto firstTiles = wholePage(0, 1000, {612, 792});
        renderer.request(firstTiles);
        ASSERT_TRUE(testsupport::waitFor([&] { return renderer.pendingCount() == 0; }));
        const QImage* drawn = renderer.tile(firstTiles.front().key);
        ASSERT_TRUE(drawn && !drawn->isNull());
        const QImage first = drawn->copy();

        for (int page = 1; page < 6; ++page) {
            renderer.request(wholePage(page, 1000, {612, 792}));
            ASSERT_TRUE(testsupport::waitFor([&] { return renderer.pendingCount() == 0; }));
        }
        const std::vector<int> kept = renderer.pagesWithDisplayLists();
        if (c.keepsEveryList) {
            EXPECT_EQ(kept, (std::vector<int>{0, 1, 2, 3, 4, 5}));
            EXPECT_LE(renderer.displayListBytes(), c.listBudget);
        } else {
            EXPECT_EQ(kept, std::vector<int>{5}); // the newest stays, whatever it costs
        }
        EXPECT_FALSE(renderer.contains(firstTiles.front().key));
        EXPECT_GT(renderer.reusedBuffers(), 0u);

        renderer.request(firstTiles);
        ASSERT_TRUE(testsupport::waitFor([&] { return renderer.pendingCount() == 0; }));
        const QImage* again = renderer.tile(firstTiles.front().key);
        ASSERT_TRUE(again);
        EXPECT_EQ(*again, first);
    }
}

// A document closed or replaced while a worker is about to record one of its
// pages leaves nothing behind: its recordings neither stay in memory nor
// count against the budget of the pages shown next.
TEST(TileRenderer, ADocumentClosedWhileItsPagesAreDrawnLeavesNothingInTheBudget)
{
    struct Case {
        const char* name;
        bool another; // replaced by another document, else closed
    };
    for (const Case& c : {Case{"closed", false}, Case{"replaced", true}}) {
        SCOPED_TRACE(c.name);
        TileRenderer renderer;
        testsupport::WorkerGate gate;
        renderer.setWorkerHook(gate.hook());
        std::weak_ptr<platform::PdfDocument> closed;
        {
            auto document = textDocument(4);
            closed = document;
            renderer.setDocument(document);
        }
        std::vector<TileRequest> tiles;
        for (int page = 0; page < 4; ++page) {
            const auto more = wholePage(page, 1000, {612, 792});
            tiles.insert(tiles.end(), more.begin(), more.end());
        }
        renderer.request(tiles);
        ASSERT_TRUE(gate.waitUntilReached()); // a worker holds a page of the document, not yet recorded
        renderer.setDocument(c.another ? textDocument(2) : nullptr);
        gate.release();
        ASSERT_TRUE(testsupport::waitFor(workersIdle));
        QCoreApplication::processEvents();
        EXPECT_EQ(renderer.displayListBytes(), 0u);
        EXPECT_TRUE(renderer.pagesWithDisplayLists().empty());
        EXPECT_EQ(renderer.cachedBytes(), 0u);
        EXPECT_TRUE(closed.expired()) << "nothing holds the closed document";
        if (!c.another) continue;
        // The next document's pages have the whole budget, and are drawn.
        renderer.setDisplayListBudget(1);
        const auto next = wholePage(1, 1000, {612, 792});
        renderer.request(next);
        ASSERT_TRUE(testsupport::waitFor([&] { return renderer.pendingCount() == 0; }));
        EXPECT_EQ(renderer.pagesWithDisplayLists(), std::vector<int>{1});
        EXPECT_TRUE(renderer.contains(next.front().key));
    }
}
