#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/PageSteps.h"
#include "Quarn/Viewer/PageInteractions.h"
#include "Quarn/Viewer/ReadingHistory.h"
#include "Quarn/Viewer/PageTiles.h"
#include "Quarn/Viewer/TextSelection.h"
#include "Quarn/Viewer/PageLinks.h"
#include "Platform/PdfPageAssembly.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Pages/PageEdits.h"
#include "QuarnKit/Viewer/PageLayout.h"
#include "support/PageViewSupport.h"
#include "support/TestSupport.h"
#include "Quarn/Viewer/DroppedFiles.h"
#include "Quarn/Viewer/CopyPage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <cstdio>
#include <functional>

using namespace quarn;
using quarnkit::DisplayMode;
using quarnkit::PdfDisplayMode;

namespace {

std::shared_ptr<platform::PdfDocument> textDocument(int pages)
{
    return platform::PdfDocument::openBytes(testsupport::makeTextPdf(pages));
}

// A view of `pages` letter pages, shown at a fixed size.
struct ShownView {
    QuarnPDFView view;
    explicit ShownView(int pages, QSize size = {800, 600})
    {
        view.resize(size);
        testsupport::showPdf(view, textDocument(pages));
        view.show();
        QApplication::processEvents();
    }
};

} // namespace

TEST(QuarnPDFViewTest, FourModesAndCoverPlacePages)
{
    ShownView shown(5);
    QuarnPDFView& view = shown.view;
    view.setScaleFactor(0.25);

    view.applyDisplay(DisplayMode::continuous, false);
    EXPECT_EQ(view.displayMode(), PdfDisplayMode::singlePageContinuous);
    EXPECT_FALSE(view.displaysAsBook());
    EXPECT_NEAR(view.placement().pageRect(1).top() - view.placement().pageRect(0).top(), (792 + 16) * 0.25, 1);
    EXPECT_EQ(view.placement().pageRect(1).left(), view.placement().pageRect(0).left());
    EXPECT_EQ(view.visiblePages().size(), 3u);

    view.applyDisplay(DisplayMode::twoPagesContinuous, false);
    EXPECT_EQ(view.placement().pageRect(0).top(), view.placement().pageRect(1).top());
    EXPECT_NEAR(view.placement().pageRect(1).left() - view.placement().pageRect(0).right(), 8 * 0.25, 1);
    EXPECT_GT(view.placement().pageRect(2).top(), view.placement().pageRect(0).bottom());

    // The cover: page 1 alone, then 2 and 3 side by side.
    view.applyDisplay(DisplayMode::twoPagesContinuous, true);
    EXPECT_TRUE(view.displaysAsBook());
    EXPECT_LT(view.placement().pageRect(0).bottom(), view.placement().pageRect(1).top());
    EXPECT_EQ(view.placement().pageRect(1).top(), view.placement().pageRect(2).top());
    EXPECT_NEAR(view.placement().pageRect(0).left(), view.placement().pageRect(2).left(), 1); // on the right side

    // The cover has no effect in the single-page modes.
    view.applyDisplay(DisplayMode::singlePage, true);
    EXPECT_FALSE(view.displaysAsBook());
    EXPECT_TRUE(view.placement().pageRect(1).isEmpty()); // one page at a time
    EXPECT_EQ(view.visiblePages(), std::vector<int>{0});
    goToNextPage(view);
    EXPECT_EQ(view.currentPageIndex(), 1);
    EXPECT_TRUE(view.placement().pageRect(0).isEmpty());
    EXPECT_FALSE(view.placement().pageRect(1).isEmpty());

    view.applyDisplay(DisplayMode::twoPages, false);
    EXPECT_EQ(view.visiblePages(), (std::vector<int>{0, 1}));
    goToNextPage(view);
    EXPECT_EQ(view.visiblePages(), (std::vector<int>{2, 3}));
    EXPECT_EQ(view.currentPageIndex(), 2);
}

TEST(QuarnPDFViewTest, ApplyingTheSameDisplayChangesNothing)
{
    ShownView shown(3);
    QSignalSpy spy(&shown.view, &QuarnPDFView::displayModeChanged);
    shown.view.applyDisplay(DisplayMode::continuous, false);
    shown.view.applyDisplay(DisplayMode::continuous, true); // the cover is ignored without spreads
    EXPECT_EQ(spy.count(), 0);
    shown.view.applyDisplay(DisplayMode::twoPages, false);
    EXPECT_EQ(spy.count(), 1);
}

// ---------------------------------------------------------------- fits and the zoom ladder

TEST(QuarnPDFViewTest, FitPageAndFitWidthAlsoForSpreads)
{
    ShownView shown(4, {1000, 700});
    QuarnPDFView& view = shown.view;
    view.applyDisplay(DisplayMode::twoPagesContinuous, false);
    const auto spreadWidth = view.fitWidth(true);
    ASSERT_TRUE(spreadWidth);
    EXPECT_NEAR(*spreadWidth, (1000.0 - 36) / 1232, 1e-6);
    EXPECT_NEAR(view.scaleFactor(), 0.782, 0.001);
    EXPECT_FALSE(view.autoScales());
    EXPECT_FALSE(view.placement().overflowsHorizontally());

    const auto width = view.fitWidth(false);
    EXPECT_NEAR(*width, (1000.0 - 36) / 612, 1e-6);
    EXPECT_TRUE(view.placement().overflowsHorizontally()); // a single page's width, two pages wide

    // Continuous: the page break counts instead of the height margin.
    const auto page = view.fitPage(false, true);
    EXPECT_NEAR(*page, 700.0 / (792 + 16), 1e-6);
    const auto spread = view.fitPage(true, true);
    EXPECT_NEAR(*spread, std::min(964.0 / 1232, 700.0 / 808), 1e-6);

    view.applyDisplay(DisplayMode::singlePage, false);
    EXPECT_NEAR(*view.fitPage(false, false), (700.0 - 24) / 792, 1e-6);
    // The whole page shows.
    const QRectF rect = view.placement().pageRect(view.currentPageIndex());
    EXPECT_TRUE(QRectF(view.viewport()->rect()).adjusted(-1, -1, 1, 1).contains(rect));
}

TEST(QuarnPDFViewTest, FitsNeedAPageLargerThanOnePoint)
{
    QuarnPDFView view;
    view.resize(800, 600);
    EXPECT_FALSE(view.fitWidth(false));
    EXPECT_FALSE(view.fitPage(false, true));
    testsupport::showPdf(view, platform::PdfDocument::createBlank(1, 1));
    view.show();
    view.setScaleFactor(2);
    EXPECT_FALSE(view.fitWidth(false));
    EXPECT_FALSE(view.fitPage(true, false));
    EXPECT_DOUBLE_EQ(view.scaleFactor(), 2);
}

TEST(QuarnPDFViewTest, ZoomLadderStaysBetweenLimits)
{
    ShownView shown(2);
    QuarnPDFView& view = shown.view;
    view.setScaleFactor(1);
    zoomIn(view);
    EXPECT_DOUBLE_EQ(view.scaleFactor(), 1.25);
    for (int i = 0; i < 30; ++i) zoomIn(view);
    EXPECT_DOUBLE_EQ(view.scaleFactor(), 10);
    for (int i = 0; i < 30; ++i) zoomOut(view);
    EXPECT_DOUBLE_EQ(view.scaleFactor(), 0.05);
    view.setScaleFactor(0.001);
    EXPECT_DOUBLE_EQ(view.scaleFactor(), 0.05);
    view.setScaleFactor(50);
    EXPECT_DOUBLE_EQ(view.scaleFactor(), 10);
    view.setMaxScaleFactor(4);
    EXPECT_DOUBLE_EQ(view.scaleFactor(), 4);
}

TEST(QuarnPDFViewTest, ZoomKeepsTheCurrentPage)
{
    ShownView shown(20);
    QuarnPDFView& view = shown.view;
    view.setScaleFactor(1);
    view.goToPage(7);
    view.setScaleFactor(0.5);
    EXPECT_EQ(view.currentPageIndex(), 7);
    view.setScaleFactor(3);
    EXPECT_EQ(view.currentPageIndex(), 7);
    EXPECT_NEAR(view.placement().pageRect(7).top(), 0, 1);
}

// ---------------------------------------------------------------- navigation

TEST(QuarnPDFViewTest, GoToPageClampsIntoTheDocument)
{
    ShownView shown(6);
    QuarnPDFView& view = shown.view;
    view.setScaleFactor(1);
    view.goToPage(3);
    EXPECT_EQ(view.currentPageIndex(), 3);
    EXPECT_NEAR(view.placement().pageRect(3).top(), 0, 1);
    view.goToPage(-3);
    EXPECT_EQ(view.currentPageIndex(), 0);
    view.goToPage(99);
    EXPECT_EQ(view.currentPageIndex(), 5);
    // A point outside the page is pulled onto its edge.
    view.goToPage(2, platform::PdfPoint{-50, 5000});
    const auto where = view.readingPoint();
    ASSERT_TRUE(where);
    EXPECT_EQ(where->page, 2);
    EXPECT_NEAR(where->point.y, 792, 0.5);
    EXPECT_NEAR(where->point.x, 0, 0.5);
}

TEST(QuarnPDFViewTest, ReadingPointRoundTrips)
{
    ShownView shown(10);
    QuarnPDFView& view = shown.view;
    view.setScaleFactor(1.5);
    view.goToPage(4, platform::PdfPoint{0, 500});
    const auto where = view.readingPoint();
    ASSERT_TRUE(where);
    EXPECT_EQ(where->page, 4);
    EXPECT_NEAR(where->point.y, 500, 1);
    view.goToPage(0);
    view.goToPage(where->page, where->point);
    EXPECT_EQ(view.readingPoint()->page, 4);
    EXPECT_NEAR(view.readingPoint()->point.y, 500, 1);
}

TEST(QuarnPDFViewTest, ScrollingMovesTheCurrentPageAndReports)
{
    ShownView shown(10);
    QuarnPDFView& view = shown.view;
    view.setScaleFactor(1);
    QSignalSpy pages(&view, &QuarnPDFView::pageChanged);
    std::vector<std::pair<int, int>> reports;
    view.onPage = [&](int page, int count) { reports.emplace_back(page, count); };
    view.verticalScrollBar()->setValue(int((792 + 16) * 3 + 100));
    EXPECT_EQ(view.currentPageIndex(), 3);
    EXPECT_EQ(pages.count(), 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return bool(!reports.empty()); }, 30000));
    EXPECT_EQ(reports.back(), std::make_pair(3, 10));
}

TEST(QuarnPDFViewTest, BackAndForwardHistory)
{
    ShownView shown(10);
    QuarnPDFView& view = shown.view;
    QSignalSpy history(&view.history(), &ReadingHistory::changed);
    EXPECT_FALSE(view.history().canGoBack());
    view.goToPage(5);
    view.goToPage(8);
    EXPECT_TRUE(view.history().canGoBack());
    EXPECT_FALSE(view.history().canGoForward());
    view.history().goBack();
    EXPECT_EQ(view.currentPageIndex(), 5);
    EXPECT_TRUE(view.history().canGoForward());
    view.history().goBack();
    EXPECT_EQ(view.currentPageIndex(), 0);
    EXPECT_FALSE(view.history().canGoBack());
    view.history().goForward();
    view.history().goForward();
    EXPECT_EQ(view.currentPageIndex(), 8);
    EXPECT_GE(history.count(), 6);
    // A new jump drops the forward list.
    view.history().goBack();
    view.goToPage(2);
    EXPECT_FALSE(view.history().canGoForward());
}

// Back and Forward go to the pages the reader was on, wherever page edits
// have put them since (moved, or other pages moved, deleted or put in before
// them), not to the numbers they had; undone, the edit takes them back.
TEST(QuarnPDFViewTest, BackAndForwardFollowThePagesThroughPageEdits)
{
    using quarnkit::QuarnDocument;
    namespace PageEdits = quarnkit::PageEdits;
    struct Case {
        const char* name;
        std::function<void(QuarnDocument&)> edit;
    };
    const std::vector<Case> cases = {
        {"the page moved to the start", [](QuarnDocument& d) { PageEdits::move(d, {5}, 0); }},
        {"the page moved to the end", [](QuarnDocument& d) { PageEdits::move(d, {5}, 10); }},
        {"pages before it moved after it",
         [](QuarnDocument& d) {
             PageEdits::move(d, {1, 2}, 7);
         }},
        {"pages after it moved before it",
         [](QuarnDocument& d) {
             PageEdits::move(d, {6, 7, 9}, 0);
         }},
        {"a page before it deleted",
         [](QuarnDocument& d) {
             PageEdits::deletePages(d, {0, 1});
         }},
        {"a page put in before it", [](QuarnDocument& d) { PageEdits::duplicate(d, {2}); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QuarnDocument document(textDocument(10));
        QuarnPDFView view;
        view.resize(800, 600);
        view.load(&document);
        view.show();
        QApplication::processEvents();
        view.goToPage(5);
        view.goToPage(8);
        const auto fifth = document.pageId(5);
        ASSERT_TRUE(fifth);
        c.edit(document);
        ASSERT_EQ(document.undoStack().count(), 1);
        ASSERT_NE(document.pageIndex(*fifth), std::optional<int>(5)) << "the edit moves the page";
        // Where the reader is when going back, which Forward comes back to.
        const auto left = document.pageId(view.currentPageIndex());
        ASSERT_TRUE(left);
        view.history().goBack();
        EXPECT_EQ(std::optional(view.currentPageIndex()), document.pageIndex(*fifth)) << "back";
        view.history().goForward();
        EXPECT_EQ(std::optional(view.currentPageIndex()), document.pageIndex(*left)) << "forward";
        document.undoStack().undo();
        const auto undone = document.pageId(view.currentPageIndex());
        ASSERT_TRUE(undone);
        view.history().goBack();
        EXPECT_EQ(view.currentPageIndex(), 5) << "back, the edit undone";
        view.history().goForward();
        EXPECT_EQ(std::optional(view.currentPageIndex()), document.pageIndex(*undone)) << "forward, the edit undone";
    }
}

TEST(QuarnPDFViewTest, WhenReadyWaitsForAShownViewWithADocument)
{
    QuarnPDFView view;
    view.resize(600, 400);
    int ran = 0;
    view.whenReady(1, [&](QuarnPDFView&) { ++ran; });
    QTest::qWait(60); // that it does not run is the point: a ready view's would have by now
    EXPECT_EQ(ran, 0);
    testsupport::showPdf(view, textDocument(2));
    view.show();
    ASSERT_TRUE(testsupport::waitFor([&] { return bool((ran) == (1)); }, 30000));
}

// ---------------------------------------------------------------- painting

TEST(QuarnPDFViewTest, PaintBeforeTilesShowsWhitePagesThenText)
{
    QuarnPDFView view;
    view.resize(700, 900);
    view.setBackgroundColor(QColor(20, 20, 20));
    testsupport::showPdf(view, textDocument(3));
    view.show();
    view.setScaleFactor(1);
    // The first paint does not wait: pages are white sheets on the canvas.
    const testsupport::Shot first(*view.viewport());
    const QRect page = view.placement().pageRect(0).toAlignedRect().adjusted(4, 4, -4, -4);
    ASSERT_FALSE(page.isEmpty());
    EXPECT_EQ(qGray(first.at(page.center()).rgb()), 255);
    EXPECT_EQ(first.at(QPointF(2, 2)), QColor(20, 20, 20));
    // "Page 1" is drawn 72 points in and about 92 points below the top.
    const QRect text(page.left() + 68, page.top() + 72, 100, 30);
    EXPECT_EQ(first.darkest(text), 255);
    // Once the tiles arrive the text shows.
    ASSERT_TRUE(testsupport::waitFor([&] { return testsupport::Shot(*view.viewport()).darkest(text) < 100; }));
}

// ---------------------------------------------------------------- text, links

TEST(QuarnPDFViewTest, DragSelectsTextAndCopyPutsItOnTheClipboard)
{
    ShownView shown(2, {700, 900});
    QuarnPDFView& view = shown.view;
    view.setScaleFactor(1);
    // "Page 1" at 72,700 in 24-point type: from left of it to right of it.
    const QPointF from = view.placement().convertFromPage(platform::PdfPoint{70, 708}, 0);
    const QPointF to = view.placement().convertFromPage(platform::PdfPoint{200, 708}, 0);
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, from.toPoint());
    QTest::mouseMove(view.viewport(), ((from + to) / 2).toPoint());
    QTest::mouseMove(view.viewport(), to.toPoint());
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, to.toPoint());
    // Once a worker has read the page's text.
    ASSERT_TRUE(testsupport::waitFor([&] { return !view.interactions().textSelection().current().isEmpty(); }));
    EXPECT_EQ(view.interactions().textSelection().current().text, "Page 1");
    EXPECT_EQ(view.interactions().textSelection().current().firstPage(), 0);
    QApplication::clipboard()->clear();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "Page 1");
    view.interactions().textSelection().clear();
    EXPECT_TRUE(view.interactions().textSelection().current().isEmpty());
}

TEST(QuarnPDFViewTest, ADragMadeBeforeThePagesTextHasComeSelectsWhenItComes)
{
    ShownView shown(2, {700, 900});
    QuarnPDFView& view = shown.view;
    view.setScaleFactor(1);
    TextSelection& selection = view.interactions().textSelection();
    // The worker that reads the page's text waits until released.
    testsupport::WorkerGate gate;
    selection.workerHook = gate.hook();
    const QPointF from = view.placement().convertFromPage(platform::PdfPoint{70, 708}, 0);
    const QPointF to = view.placement().convertFromPage(platform::PdfPoint{200, 708}, 0);
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, from.toPoint());
    QTest::mouseMove(view.viewport(), to.toPoint());
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, to.toPoint());
    ASSERT_TRUE(gate.waitUntilReached());
    EXPECT_TRUE(selection.current().isEmpty());
    // The view answers its keys meanwhile.
    QTest::keyClick(&view, Qt::Key_End);
    EXPECT_EQ(view.currentPageIndex(), 1);
    selection.workerHook = nullptr;
    gate.release();
    // The press and the drag were kept: the words they span are selected.
    ASSERT_TRUE(testsupport::waitFor([&] { return !selection.current().isEmpty(); }));
    EXPECT_EQ(selection.current().text, "Page 1");
    EXPECT_EQ(selection.current().firstPage(), 0);
}

// A one-page PDF with a link annotation to `uri` over the rectangle 100 100 300 200.
static QByteArray pdfWithUriLink(const std::string& uri)
{
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [4 0 R] >>",
        "<< /Type /Annot /Subtype /Link /Rect [100 100 300 200] /Border [0 0 0] /A << /S /URI /URI (" + uri + ") >> >>",
    };
    return testsupport::writePdf(objects, "1.4");
}

TEST(QuarnPDFViewTest, InternalLinkGoesToItsPageAndCanGoBack)
{
    const auto doc = platform::PdfDocument::openFile(testsupport::corpusPath("pdflatex-outline.pdf"));
    QuarnPDFView view;
    view.resize(800, 1000);
    testsupport::showPdf(view, doc);
    view.show();
    view.setScaleFactor(1);
    const auto links = doc->links(0);
    ASSERT_FALSE(links.empty());
    ASSERT_TRUE(links.front().targetPage);
    const platform::PdfRect r = links.front().rect;
    const QPoint at = view.placement().convertFromPage(platform::PdfPoint{r.midX(), r.midY()}, 0).toPoint();
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(view.currentPageIndex(), *links.front().targetPage);
    EXPECT_TRUE(view.history().canGoBack());
    view.history().goBack();
    EXPECT_EQ(view.currentPageIndex(), 0);
}

TEST(QuarnPDFViewTest, ExternalLinksOpenOnlyForWebAndMail)
{
    // What is handed to the desktop for each link; empty when nothing is.
    for (const auto& [uri, handed] : std::vector<std::pair<std::string, std::string>>{
             {"https://example.org/a?b=c", "https://example.org/a?b=c"},
             {"mailto:someone@example.org", "mailto:someone@example.org"},
             {"mailto:someone@example.org?subject=Hi&body=Hello", "mailto:someone@example.org?subject=Hi&body=Hello"},
             // Some mail programs attach the files a link names.
             {"mailto:someone@example.org?subject=Hi&attach=/home/someone/.ssh/id_rsa&body=Hello",
              "mailto:someone@example.org?subject=Hi&body=Hello"},
             {"mailto:someone@example.org?Attachment=file:///etc/passwd", "mailto:someone@example.org"},
             {"mailto:someone@example.org?%61ttach=/etc/passwd", "mailto:someone@example.org"},
             {"mailto:someone@example.org?subject=Hi#?attach=/home/someone/secret.pdf",
              "mailto:someone@example.org?subject=Hi"},
             // Addresses a mail program decodes into fields of its own.
             {"mailto:someone%3Fattach=/etc/passwd@example.org", ""},
             {"mailto:someone@example.org?cc=x%26attach%3D/etc/passwd", ""},
             {"mailto:someone@example.org%23?attach=/etc/passwd", ""},
             {"file:///bin/sh", ""},
             {"javascript:alert(1)", ""},
             {"smb://server/share", ""}}) {
        const bool opens = !handed.empty();
        QuarnPDFView view;
        view.resize(700, 900);
        testsupport::showPdf(view, platform::PdfDocument::openBytes(pdfWithUriLink(uri)));
        view.show();
        view.setScaleFactor(1);
        std::vector<QUrl> opened;
        view.interactions().links().openExternalUrl = [&](const QUrl& url) { opened.push_back(url); };
        const QPoint at = view.placement().convertFromPage(platform::PdfPoint{200, 150}, 0).toPoint();
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, at);
        EXPECT_EQ(opened.size(), opens ? 1u : 0u) << uri;
        if (opens && !opened.empty()) {
            EXPECT_EQ(opened.front().toString().toStdString(), handed);
        }
        // A drag that starts on a link selects instead of following it.
        opened.clear();
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseMove(view.viewport(), at + QPoint(40, 0));
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, at + QPoint(40, 0));
        EXPECT_TRUE(opened.empty());
    }
}

TEST(QuarnPDFViewTest, HoverShowsTheLinkCursorOnceTheWorkersReadThePage)
{
    QuarnPDFView view;
    view.resize(700, 900);
    testsupport::showPdf(view, platform::PdfDocument::openBytes(pdfWithUriLink("https://example.org/")));
    view.show();
    view.setScaleFactor(1);
    ASSERT_TRUE(testsupport::waitFor([&] { return bool(view.tiles().visibleReady()); }, 30000));
    QApplication::processEvents();
    const QPoint onLink = view.placement().convertFromPage(platform::PdfPoint{200, 150}, 0).toPoint();
    testsupport::hover(view.viewport(), onLink);
    EXPECT_EQ(view.viewport()->cursor().shape(), Qt::PointingHandCursor);
    testsupport::hover(view.viewport(), view.placement().convertFromPage(platform::PdfPoint{400, 500}, 0).toPoint());
    EXPECT_EQ(view.viewport()->cursor().shape(), Qt::ArrowCursor);
    // Drawing tools show their own cursors everywhere.
    view.setTool(quarnkit::MarkupTool::pen, {});
    testsupport::hover(view.viewport(), onLink);
    EXPECT_EQ(view.viewport()->cursor().shape(), Qt::CrossCursor);
    view.setTool(quarnkit::MarkupTool::text, {});
    testsupport::hover(view.viewport(), onLink + QPoint(1, 1));
    EXPECT_EQ(view.viewport()->cursor().shape(), Qt::IBeamCursor);
}

// ---------------------------------------------------------------- drops

TEST(QuarnPDFViewTest, DropReportsOnlyThePdf)
{
    ShownView shown(1);
    QuarnPDFView& view = shown.view;
    std::vector<QString> opened;
    acceptDroppedPdfs(view, [&](const QString& path) { opened.push_back(path); });

    QMimeData both;
    both.setUrls({QUrl::fromLocalFile("/tmp/picture.png"), QUrl::fromLocalFile("/tmp/Report.PDF"),
                  QUrl::fromLocalFile("/tmp/second.pdf")});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &both, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &both, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(opened, std::vector<QString>{"/tmp/Report.PDF"});

    QMimeData png;
    png.setUrls({QUrl::fromLocalFile("/tmp/picture.png")});
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &png, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &refused);
    EXPECT_FALSE(refused.isAccepted());
    QDropEvent pngDrop(QPointF(10, 10), Qt::CopyAction, &png, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &pngDrop);
    EXPECT_FALSE(pngDrop.isAccepted());
    EXPECT_EQ(opened.size(), 1u);
}

// ---------------------------------------------------------------- reports

TEST(QuarnPDFViewTest, FirstLayoutReportsAndSmallScaleChangesDoNot)
{
    QuarnPDFView view;
    int reports = 0;
    view.onPage = [&](int, int) { ++reports; };
    view.resize(500, 400);
    view.show();
    ASSERT_TRUE(testsupport::waitFor([&] { return bool((reports) == (1)); }, 30000)); // page 0 of 0
    testsupport::showPdf(view, textDocument(3));
    ASSERT_TRUE(testsupport::waitFor([&] { return bool((reports) == (2)); }, 30000));
    view.setScaleFactor(view.scaleFactor() + 0.0005);
    QApplication::processEvents();
    view.reportViewChanges();
    QApplication::processEvents();
    EXPECT_EQ(reports, 2);
}

// ---------------------------------------------------------------- rotation, edits, locking

TEST(QuarnPDFViewTest, RotatedPagesConvertBothWaysAndJumpToTheirVisualTop)
{
    const auto doc = platform::PdfDocument::openFile(testsupport::corpusPath("habibi-rotated.pdf"));
    ShownView shown(1);
    QuarnPDFView& view = shown.view;
    testsupport::showPdf(view, doc);
    view.setScaleFactor(0.75);
    bool sawRotation = false;
    for (int page = 0; page < view.pageCount(); ++page) {
        const auto geometry = doc->pageGeometry(page);
        sawRotation = sawRotation || geometry.rotation != 0;
        const platform::PdfPoint inside{geometry.cropBox.x + 30, geometry.cropBox.y + 50};
        const platform::PdfPoint back =
            view.placement().convertToPage(view.placement().convertFromPage(inside, page), page);
        EXPECT_NEAR(back.x, inside.x, 1e-6);
        EXPECT_NEAR(back.y, inside.y, 1e-6);
        view.goToPage(page);
        const auto where = view.readingPoint();
        ASSERT_TRUE(where);
        EXPECT_EQ(where->page, page);
        const auto top = quarnkit::PageJump::top(page, geometry);
        if (view.verticalScrollBar()->value() < view.verticalScrollBar()->maximum()) {
            EXPECT_NEAR(where->point.x, top.point.x, 1);
            EXPECT_NEAR(where->point.y, top.point.y, 1);
        }
        // The rotated page is drawn upright in its display size.
        EXPECT_NEAR(view.placement().pageRect(page).width(), geometry.displaySize.width * 0.75, 1);
    }
    EXPECT_TRUE(sawRotation);
}

TEST(QuarnPDFViewTest, DocumentChangesReachTheLayoutAndTiles)
{
    const auto doc = textDocument(2);
    QuarnPDFView view;
    view.resize(700, 900);
    testsupport::showPdf(view, doc);
    view.show();
    view.setScaleFactor(0.5);
    ASSERT_TRUE(testsupport::waitFor([&] { return bool(view.tiles().visibleReady()); }, 30000));
    const auto other = platform::PdfDocument::openFile(testsupport::corpusPath("pdflatex-4-pages.pdf"));
    platform::appendPages(*doc, *other, 0, 3);
    EXPECT_EQ(view.pageCount(), 2);
    view.quarnDocument()->noteEdit(std::nullopt);
    EXPECT_EQ(view.pageCount(), 5);
    view.goToPage(4);
    EXPECT_EQ(view.currentPageIndex(), 4);
    EXPECT_FALSE(view.placement().pageRect(4).isEmpty());
    ASSERT_TRUE(testsupport::waitFor([&] { return bool(view.tiles().visibleReady()); }, 30000));
    view.quarnDocument()->noteEditOfPage(4);
    EXPECT_FALSE(view.tiles().visibleReady()); // the edited page renders again
    ASSERT_TRUE(testsupport::waitFor([&] { return bool(view.tiles().visibleReady()); }, 30000));
}

TEST(QuarnPDFViewTest, LockedDocumentShowsNoPagesUntilUnlocked)
{
    const auto doc = platform::PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    ASSERT_TRUE(doc->isLocked());
    QuarnPDFView view;
    view.resize(600, 600);
    testsupport::showPdf(view, doc);
    view.show();
    EXPECT_EQ(view.pageCount(), 0);
    EXPECT_EQ(view.currentPageIndex(), -1);
    EXPECT_FALSE(view.readingPoint());
    view.goToPage(0); // nothing to go to
    view.viewport()->repaint();
    ASSERT_TRUE(doc->unlock("openpassword"));
    testsupport::showPdf(view, doc);
    EXPECT_EQ(view.pageCount(), 1);
    EXPECT_EQ(view.currentPageIndex(), 0);
}

// ---------------------------------------------------------------- keys and wheel

TEST(QuarnPDFViewTest, PageKeysTurnPagesInTheSinglePageModes)
{
    ShownView shown(4);
    QuarnPDFView& view = shown.view;
    view.applyDisplay(DisplayMode::singlePage, false);
    view.fitPage(false, true);
    QTest::keyClick(&view, Qt::Key_PageDown);
    EXPECT_EQ(view.currentPageIndex(), 1);
    QTest::keyClick(&view, Qt::Key_End);
    EXPECT_EQ(view.currentPageIndex(), 3);
    QTest::keyClick(&view, Qt::Key_PageDown); // no page after the last
    EXPECT_EQ(view.currentPageIndex(), 3);
    QTest::keyClick(&view, Qt::Key_PageUp);
    EXPECT_EQ(view.currentPageIndex(), 2);
    QTest::keyClick(&view, Qt::Key_Home);
    EXPECT_EQ(view.currentPageIndex(), 0);
    EXPECT_FALSE(canGoToPreviousPage(view));
}

TEST(QuarnPDFViewTest, ControlWheelZoomsAlongTheLadder)
{
    ShownView shown(3);
    QuarnPDFView& view = shown.view;
    view.setScaleFactor(1);
    QSignalSpy scales(&view, &QuarnPDFView::scaleChanged);
    const QPointF at(300, 300);
    QWheelEvent up(at, view.viewport()->mapToGlobal(at), {}, QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &up);
    EXPECT_DOUBLE_EQ(view.scaleFactor(), 1.25);
    EXPECT_FALSE(view.autoScales());
    QWheelEvent down(at, view.viewport()->mapToGlobal(at), {}, QPoint(0, -240), Qt::NoButton, Qt::ControlModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &down);
    EXPECT_DOUBLE_EQ(view.scaleFactor(), 0.75);
    EXPECT_EQ(scales.count(), 3);
}

TEST(QuarnPDFViewTest, AScaleSetBeforeTheFirstLayoutSurvivesIt)
{
    QuarnPDFView view;
    testsupport::showPdf(view, textDocument(3));
    view.setScaleFactor(1.5); // before the view was ever laid out
    view.resize(700, 500);
    view.show();
    QApplication::processEvents();
    EXPECT_DOUBLE_EQ(view.scaleFactor(), 1.5);
    EXPECT_FALSE(view.autoScales());

    // Without a chosen scale, the first layout fits the pages.
    QuarnPDFView fitted;
    testsupport::showPdf(fitted, textDocument(3));
    fitted.resize(700, 500);
    fitted.show();
    QApplication::processEvents();
    EXPECT_TRUE(fitted.autoScales());
    EXPECT_NEAR(fitted.scaleFactor(), (700.0 - 36) / 612, 1e-6);
}

TEST(QuarnPDFViewTest, ResizingKeepsThePageBeingRead)
{
    ShownView shown(12, {700, 600});
    QuarnPDFView& view = shown.view;
    ASSERT_TRUE(view.autoScales());
    view.goToPage(5);
    const double before = view.scaleFactor();
    view.resize(900, 500);
    QApplication::processEvents();
    EXPECT_GT(view.scaleFactor(), before); // still fitted, now wider
    EXPECT_EQ(view.currentPageIndex(), 5);
    EXPECT_NEAR(view.placement().pageRect(5).top(), 0, 1);

    // At the top of the document the margin above the first page stays in view.
    view.goToPage(0);
    view.verticalScrollBar()->setValue(0);
    view.setScaleFactor(1.5);
    view.resize(800, 700);
    QApplication::processEvents();
    EXPECT_EQ(view.verticalScrollBar()->value(), 0);
    EXPECT_NEAR(view.placement().pageRect(0).top(), 8 * 1.5, 1);
}

TEST(QuarnPDFViewTest, DoubleClickSelectsAWordAndShiftClickExtends)
{
    ShownView shown(1, {700, 900});
    QuarnPDFView& view = shown.view;
    testsupport::showPdf(view, platform::PdfDocument::openBytes(testsupport::makeTextPdf(1, "alpha beta gamma")));
    view.setScaleFactor(1);
    // The extra text is 12-point at 72,660: "beta" starts about 33 points in.
    const QPoint onBeta = view.placement().convertFromPage(platform::PdfPoint{72 + 40, 664}, 0).toPoint();
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, onBeta);
    ASSERT_TRUE(testsupport::waitFor([&] { return !view.interactions().textSelection().current().isEmpty(); }));
    EXPECT_EQ(view.interactions().textSelection().current().text, "beta");
    const QPoint pastGamma = view.placement().convertFromPage(platform::PdfPoint{200, 664}, 0).toPoint();
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier, pastGamma);
    EXPECT_EQ(view.interactions().textSelection().current().text.rfind("beta gamma", 0), 0u)
        << view.interactions().textSelection().current().text;
    // A plain click clears it.
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, pastGamma);
    EXPECT_TRUE(view.interactions().textSelection().current().isEmpty());
}

TEST(QuarnPDFViewTest, NoDocumentAndEmptyDocumentsPaintTheCanvas)
{
    ShownView shown(3);
    QuarnPDFView& view = shown.view;
    view.setBackgroundColor(QColor(30, 30, 30));
    view.load(nullptr);
    EXPECT_EQ(view.pageCount(), 0);
    EXPECT_EQ(view.currentPageIndex(), -1);
    EXPECT_TRUE(view.visiblePages().empty());
    QImage image = view.viewport()->grab().toImage();
    EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() / 2), QColor(30, 30, 30));
    testsupport::showPdf(view, platform::PdfDocument::createEmpty());
    goToNextPage(view);
    goToLastPage(view);
    EXPECT_FALSE(view.fitPage(false, true));
    image = view.viewport()->grab().toImage();
    EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() / 2), QColor(30, 30, 30));
}

TEST(QuarnPDFViewTest, HighlightsAreDrawnAndGoToSelectionShowsTheMatch)
{
    ShownView shown(30, {700, 600});
    QuarnPDFView& view = shown.view;
    view.setScaleFactor(1);
    quarnkit::PageSelection match;
    match.pieces = {{20, {platform::PdfQuad{{72, 725}, {150, 725}, {72, 695}, {150, 695}}}}};
    match.text = "Page 21";
    view.goToSelection(match);
    EXPECT_EQ(view.currentPageIndex(), 20);
    EXPECT_TRUE(view.history().canGoBack());
    const QRectF box = view.placement().convertFromPage(match.bounds(20), 20);
    EXPECT_TRUE(QRectF(view.viewport()->rect()).contains(box));

    view.interactions().textSelection().setHighlights({{match, QColor(255, 200, 0, 255)}});
    // A corner of the box, off the glyphs, in the highlight's colour.
    const QPointF corner = box.topLeft() + QPointF(2, 2);
    EXPECT_EQ(testsupport::Shot(*view.viewport()).at(corner), QColor(255, 200, 0));
    view.interactions().textSelection().setHighlights({});
    EXPECT_EQ(testsupport::Shot(*view.viewport()).at(corner), QColor(Qt::white));
}

TEST(QuarnPDFViewTest, ChangesReachTheViewThroughTheDocument)
{
    quarnkit::QuarnDocument document(textDocument(2));
    QuarnPDFView view;
    view.resize(600, 600);
    view.load(&document);
    view.show();
    const auto other = platform::PdfDocument::openFile(testsupport::corpusPath("pdflatex-4-pages.pdf"));
    platform::appendPages(*pdfOf(document), *other, 0, 2);
    document.noteEdit(std::nullopt);
    EXPECT_EQ(view.pageCount(), 4);

    // A page moved: the view reads the whole document again and keeps its page.
    view.goToPage(3);
    platform::movePage(*pdfOf(document), 3, 0);
    document.noteEditOfPage(0); // the moved page, found again by its object
    EXPECT_EQ(view.pageCount(), 4);

    // Unlocking a shown document: showing it again brings its pages in.
    quarnkit::QuarnDocument locked(
        platform::PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf")));
    view.load(&locked);
    EXPECT_EQ(view.pageCount(), 0);
    ASSERT_TRUE(locked.unlock("openpassword"));
    view.load(&locked);
    EXPECT_EQ(view.pageCount(), 1);
}

TEST(QuarnPDFViewTest, SpreadsWithACoverStepBySpreadAndTheWheelTurnsPages)
{
    ShownView shown(6, {900, 700});
    QuarnPDFView& view = shown.view;
    view.applyDisplay(DisplayMode::twoPages, true);
    view.fitPage(true, true);
    EXPECT_EQ(view.visiblePages(), std::vector<int>{0}); // the cover alone
    goToNextPage(view);
    EXPECT_EQ(view.visiblePages(), (std::vector<int>{1, 2}));
    view.goToPage(4);
    EXPECT_EQ(view.currentPageIndex(), 4);
    EXPECT_EQ(view.visiblePages(), (std::vector<int>{3, 4}));
    goToPreviousPage(view);
    EXPECT_EQ(view.visiblePages(), (std::vector<int>{1, 2}));

    // The whole spread fits, so the wheel turns to the next spread.
    const QPointF at(400, 300);
    QWheelEvent down(at, view.viewport()->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &down);
    EXPECT_EQ(view.visiblePages(), (std::vector<int>{3, 4}));
    QWheelEvent up(at, view.viewport()->mapToGlobal(at), {}, QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &up);
    EXPECT_EQ(view.visiblePages(), (std::vector<int>{1, 2}));
}

TEST(QuarnPDFViewTest, CopyPagePutsThePageOnTheClipboardAtItsSizeInPoints)
{
    ShownView shown(3);
    QuarnPDFView& view = shown.view;
    view.goToPage(1);
    QApplication::clipboard()->clear();
    copyPage(view);
    const QImage image = QApplication::clipboard()->image();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 1224); // 612 points at twice the pixels
    EXPECT_EQ(image.height(), 1584);
}

TEST(QuarnPDFViewTest, CopyPageOfAHugePageStaysWithinBounds)
{
    QuarnPDFView view;
    view.resize(500, 500);
    testsupport::showPdf(view, platform::PdfDocument::createBlank(14400, 7200));
    view.show();
    QApplication::clipboard()->clear();
    copyPage(view);
    const QImage image = QApplication::clipboard()->image();
    ASSERT_FALSE(image.isNull());
    EXPECT_LE(std::max(image.width(), image.height()), 8192);
    EXPECT_GE(image.width(), 8000);
}
