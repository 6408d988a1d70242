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
    QApplication::processEvents();
    ASSERT_TRUE(testsupport::waitFor([&] { return bool(view.tiles().visibleReady()); }, 30000));

    // Just after a zoom the page is not blank: the old tiles are stretched in.
    view.setScaleFactor(2);
    view.goToPage(0);
    const QImage image = view.viewport()->grab().toImage();
    const QPointF text = view.placement().convertFromPage(platform::PdfPoint{90, 708}, 0);
    int darkest = 255;
    for (int y = int(text.y()) - 20; y < int(text.y()) + 20; ++y)
        for (int x = int(text.x()) - 20; x < int(text.x()) + 120; ++x)
            if (image.rect().contains(x, y)) darkest = std::min(darkest, qGray(image.pixel(x, y)));
    EXPECT_LT(darkest, 160);
    ASSERT_TRUE(testsupport::waitFor([&] { return bool(view.tiles().visibleReady()); }, 30000));
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
    const QImage image = view.viewport()->grab().toImage();
    const auto at = [&](double x, double y) {
        return QColor(image.pixel(view.placement().convertFromPage(platform::PdfPoint{x, y}, 0).toPoint()));
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
    const std::size_t budget = 8u << 20;
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
