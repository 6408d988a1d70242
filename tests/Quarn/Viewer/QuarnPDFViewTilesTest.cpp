#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/TileRenderer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace quarn;

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

} // namespace

TEST(QuarnPDFViewTileRendererTest, RendersRequestedTilesOffTheCallingThread)
{
    TileRenderer renderer;
    renderer.setDocument(textDocument(2));
    const auto tiles = wholePage(0, 2000, {612, 792}); // 1224 × 1584 pixels: 3 × 4 tiles
    ASSERT_EQ(tiles.size(), 12u);
    QSignalSpy ready(&renderer, &TileRenderer::tileReady);
    renderer.request(tiles);
    // Nothing is drawn on this thread: the request returns before any tile exists.
    EXPECT_FALSE(renderer.contains(tiles.front().key));
    ASSERT_TRUE(testsupport::waitFor([&] { return bool((renderer.cachedTiles()) == (12)); }, 30000));
    EXPECT_EQ(ready.count(), 12);
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

TEST(QuarnPDFViewTileRendererTest, CacheStaysUnderItsBudget)
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

TEST(QuarnPDFViewTileRendererTest, InvalidateAndNewDocumentsDropTiles)
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
    QTest::qWait(300);
    EXPECT_EQ(renderer.cachedTiles(), 0);
}

TEST(QuarnPDFViewTileRendererTest, DestroyedWhileWorkersRender)
{
    for (int i = 0; i < 5; ++i) {
        auto renderer = std::make_unique<TileRenderer>();
        renderer->setDocument(textDocument(4));
        for (int page = 0; page < 4; ++page) renderer->request(wholePage(page, 4000, {612, 792}));
        renderer.reset(); // workers still run; their results must go nowhere
    }
    QTest::qWait(200);
    QApplication::processEvents();
    SUCCEED();
}

TEST(QuarnPDFViewTilesTest, VisibleTilesArriveAndZoomShowsOldTilesMeanwhile)
{
    QuarnPDFView view;
    view.resize(700, 900);
    view.load(textDocument(3));
    view.show();
    view.setScaleFactor(1);
    QApplication::processEvents();
    ASSERT_TRUE(testsupport::waitFor([&] { return bool(view.visibleTilesReady()); }, 30000));

    // Just after a zoom the page is not blank: the old tiles are stretched in.
    view.setScaleFactor(2);
    view.goToPage(0);
    const QImage image = view.viewport()->grab().toImage();
    const QPointF text = view.convertFromPage(platform::PdfPoint{90, 708}, 0);
    int darkest = 255;
    for (int y = int(text.y()) - 20; y < int(text.y()) + 20; ++y)
        for (int x = int(text.x()) - 20; x < int(text.x()) + 120; ++x)
            if (image.rect().contains(x, y)) darkest = std::min(darkest, qGray(image.pixel(x, y)));
    EXPECT_LT(darkest, 160);
    ASSERT_TRUE(testsupport::waitFor([&] { return bool(view.visibleTilesReady()); }, 30000));
}

TEST(QuarnPDFViewTilesTest, ScrollingThroughStaysWithinTheBudget)
{
    QuarnPDFView view;
    view.resize(600, 500);
    view.load(textDocument(60));
    view.show();
    const std::size_t budget = 8u << 20;
    view.setTileCacheBudget(budget);
    QScrollBar* bar = view.verticalScrollBar();
    std::size_t peak = 0;
    while (bar->value() < bar->maximum()) {
        bar->setValue(bar->value() + 400);
        view.viewport()->repaint();
        QApplication::processEvents();
        peak = std::max(peak, view.tileCacheBytes());
    }
    EXPECT_EQ(view.currentPageIndex(), 59);
    ASSERT_TRUE(testsupport::waitFor([&] { return bool(view.visibleTilesReady()); }, 30000));
    EXPECT_LE(peak, budget);
}

TEST(QuarnPDFViewTilesTest, ViewClosedWhileRendering)
{
    for (int i = 0; i < 3; ++i) {
        auto view = std::make_unique<QuarnPDFView>();
        view->resize(900, 900);
        view->load(textDocument(8));
        view->show();
        view->setScaleFactor(4);
        view->viewport()->repaint();
        view.reset();
    }
    QTest::qWait(200);
    SUCCEED();
}
