#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Viewer/TileRenderer.h"
#include "Quarn/Viewer/PageTiles.h"
#include "support/PageViewSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

using namespace quarn;

namespace {

std::shared_ptr<platform::PdfDocument> textDocument(int pages)
{
    return platform::PdfDocument::openBytes(testsupport::makeTextPdf(pages));
}

} // namespace

TEST(QuarnPDFViewTilesTest, VisibleTilesArriveAndZoomShowsOldTilesMeanwhile)
{
    QuarnPDFView view;
    view.resize(700, 900);
    testsupport::showPdf(view, textDocument(3));
    view.show();
    view.setScaleFactor(1);
    // Every visible tile has come, and nothing more is being drawn: what the
    // zoom finds cached no longer changes under it.
    ASSERT_TRUE(testsupport::waitFor([&] { return view.tiles().visibleReady() && !view.tiles().rendering(); }));

    // Just after a zoom the page is not blank: the old tiles are stretched in.
    view.setScaleFactor(2);
    view.goToPage(0);
    const QPointF text = view.placement().convertFromPage(platform::PdfPoint{90, 708}, 0);
    EXPECT_LT(testsupport::Shot(*view.viewport()).darkest(QRectF(text - QPointF(20, 20), QSizeF(140, 40))), 160);
    ASSERT_TRUE(testsupport::waitFor([&] { return view.tiles().visibleReady(); }));
}

// A page of squares, each of its own colour, shows every square where the
// view places it, at the device pixels per view pixel the screen has: tiles
// are drawn in device pixels and placed in view pixels.
TEST(QuarnPDFViewTilesTest, EverySquareOfAPageShowsInItsPlace)
{
    struct Case {
        const char* name;
        double scale;
        QPoint scrolled; // view pixels right and down
    };
    for (const Case& c : {Case{"whole page", 1.6, {0, 0}}, Case{"scrolled into the page", 2.5, {133, 177}},
                          Case{"small", 0.7, {0, 0}}}) {
        SCOPED_TRACE(c.name);
        QuarnPDFView view;
        view.resize(760, 760);
        testsupport::showPdf(view, platform::PdfDocument::openBytes(testsupport::makeCheckerboardPdf()));
        view.show();
        view.setScaleFactor(c.scale);
        view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->value() + c.scrolled.x());
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->value() + c.scrolled.y());
        ASSERT_TRUE(testsupport::waitFor([&] { return view.tiles().visibleReady(); }));
        EXPECT_DOUBLE_EQ(view.viewport()->devicePixelRatioF(), testsupport::testPixelRatio());

        view.viewport()->repaint();
        const testsupport::Shot shot(*view.viewport());
        EXPECT_DOUBLE_EQ(shot.ratio(), testsupport::testPixelRatio());
        EXPECT_EQ(shot.image().size(), view.viewport()->size() * testsupport::testPixelRatio());
        const testsupport::SquaresShown squares = testsupport::checkSquares(view, shot);
        EXPECT_GE(squares.seen, 9);
        EXPECT_EQ(squares.misplaced, std::vector<std::string>{});

        // What the window shows: the view drawn into its window's own pixels.
        const testsupport::Shot window = testsupport::Shot::fromWindow(*view.viewport());
        EXPECT_EQ(window.image().size(), view.viewport()->size() * testsupport::testPixelRatio());
        const testsupport::SquaresShown onScreen = testsupport::checkSquares(view, window);
        EXPECT_EQ(onScreen.seen, squares.seen);
        EXPECT_EQ(onScreen.misplaced, std::vector<std::string>{});
    }
}

// Just after a zoom, the tiles of the scales drawn before stand in for those
// still to come, every square in its place. A scale may hold only part of the
// page (here, its lower right): the parts it lacks come from another.
TEST(QuarnPDFViewTilesTest, AZoomShowsEverySquareFromTheScalesDrawnBefore)
{
    struct Case {
        double whole;                // the whole page drawn at this scale
        std::vector<double> partial; // then only its lower right at these
        double zoom;                 // then the zoom, to the page's top left
    };
    for (const Case& c : {Case{1.5, {6, 5, 4}, 2}, Case{1.25, {7, 5.5, 4.5}, 2.5}, Case{1, {8, 6.5}, 3}}) {
        SCOPED_TRACE(c.zoom);
        QuarnPDFView view;
        view.resize(700, 700);
        testsupport::showPdf(view, platform::PdfDocument::openBytes(testsupport::makeCheckerboardPdf()));
        view.show();
        view.tiles().setBudget(std::size_t(512) << 20); // every scale drawn stays
        const auto drawnAt = [&](double scale, bool lowerRight) {
            view.setScaleFactor(scale);
            if (lowerRight) {
                view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum());
                view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
            }
            return testsupport::waitFor([&] { return view.tiles().visibleReady() && !view.tiles().rendering(); });
        };
        ASSERT_TRUE(drawnAt(c.whole, false));
        for (double scale : c.partial) ASSERT_TRUE(drawnAt(scale, true)) << scale;

        view.setScaleFactor(c.zoom);
        view.goToPage(0);
        ASSERT_FALSE(view.tiles().visibleReady());
        const auto squares = testsupport::checkSquares(view, testsupport::Shot(*view.viewport()), 24);
        EXPECT_GE(squares.seen, 4);
        EXPECT_EQ(squares.misplaced, std::vector<std::string>{});
    }
}

TEST(QuarnPDFViewTilesTest, APageWhoseDrawingFailsPartWayShowsWhatWasDrawnAndSaysItIsDamaged)
{
    QuarnPDFView view;
    view.resize(700, 900);
    testsupport::showPdf(view, platform::PdfDocument::openBytes(
                                   testsupport::makeHalfDrawnPagePdf(testsupport::PageFailure::zeroWidthImage)));
    view.show();
    view.setScaleFactor(1);
    ASSERT_TRUE(testsupport::waitFor([&] { return bool(view.tiles().visibleReady()); }, 30000));
    EXPECT_TRUE(view.tiles().damaged(0));
    view.viewport()->repaint();
    const testsupport::Shot shot(*view.viewport());
    const auto at = [&](double x, double y) {
        return shot.at(view.placement().convertFromPage(platform::PdfPoint{x, y}, 0));
    };
    EXPECT_EQ(at(306, 600), QColor(Qt::red)) << "drawn before the failure";
    EXPECT_EQ(at(306, 300), QColor(Qt::white)) << "after it";
    // The notice in the page's lower left corner, in the chrome's dark.
    EXPECT_LT(at(60, 10).lightness(), 100);
}

TEST(QuarnPDFViewTilesTest, ScrollingThroughStaysWithinTheBudget)
{
    QuarnPDFView view;
    view.resize(600, 500);
    testsupport::showPdf(view, textDocument(60));
    view.show();
    // A view's tiles take the square of the device pixels per view pixel.
    const double ratio = testsupport::testPixelRatio();
    const std::size_t budget = std::size_t((8u << 20) * ratio * ratio);
    view.tiles().setBudget(budget);
    QScrollBar* bar = view.verticalScrollBar();
    std::size_t peak = 0;
    while (bar->value() < bar->maximum()) {
        bar->setValue(bar->value() + 400);
        view.viewport()->repaint();
        QApplication::processEvents();
        peak = std::max(peak, view.tiles().cachedBytes());
    }
    EXPECT_EQ(view.currentPageIndex(), 59);
    ASSERT_TRUE(testsupport::waitFor([&] { return bool(view.tiles().visibleReady()); }, 30000));
    EXPECT_LE(peak, budget);
}

TEST(QuarnPDFViewTilesTest, ViewClosedWhileRendering)
{
    for (int i = 0; i < 3; ++i) {
        auto view = std::make_unique<QuarnPDFView>();
        view->resize(900, 900);
        testsupport::showPdf(*view, textDocument(8));
        view->show();
        view->setScaleFactor(4);
        view->viewport()->repaint();
        view.reset();
    }
    // Renders begun for the views end and report to nobody.
    ASSERT_TRUE(testsupport::waitFor([] { return quarnkit::TileRenderer::workerPool().activeThreadCount() == 0; }));
    QCoreApplication::processEvents();
    SUCCEED();
}
