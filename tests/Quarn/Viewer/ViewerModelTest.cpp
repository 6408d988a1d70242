#include "Quarn/Markup/MarkEditor.h"
#include "Platform/UserDefaults.h"
#include "Quarn/Viewer/ViewerOnPages.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Find/FindModel.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "support/TestSupport.h"

#include <QUndoStack> // before the view header

#include "Quarn/Viewer/QuarnPDFView.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

using namespace quarn;
using quarnkit::DisplayMode;
using quarnkit::QuarnDocument;
using quarnkit::ZoomPreset;

namespace {

// A model bound to a shown page view of a ten-page file, with private settings.
struct Harness {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath("defaults.json")};
    quarnkit::ReadingPositionStore positions{defaults};
    QString path;
    std::unique_ptr<QuarnDocument> document;
    std::unique_ptr<ViewerModel> model;
    std::unique_ptr<PageViewHost> pageViewHost;

    explicit Harness(int pages = 10, std::function<void(platform::UserDefaults&)> setUp = {})
    {
        if (setUp) setUp(defaults);
        path = dir.filePath("doc.pdf");
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(testsupport::makeTextPdf(pages));
        file.close();
        document = QuarnDocument::open(path);
    }
    void open(QSize size = {1000, 800})
    {
        model = std::make_unique<ViewerModel>(&defaults, &positions);
        model->setFilePath(path);
        // What the viewer screen wires up.
        QObject::connect(model.get(), &ViewerModel::pageIndexChanged, model.get(),
                         &ViewerModel::scheduleReadingPositionSave);
        QObject::connect(model.get(), &ViewerModel::zoomValueChanged, model.get(), &ViewerModel::zoomChanged);
        pageViewHost = std::make_unique<PageViewHost>(document.get(), model.get());
        pageViewHost->resize(size);
        pageViewHost->show();
        model->start();
    }
    QuarnPDFView& view() { return *pageViewHost->view(); }
    void close()
    {
        model->stop();
        pageViewHost.reset();
        model.reset();
    }
    ~Harness()
    {
        if (model) model->stop();
    }
};

} // namespace

TEST(ViewerModel, NewWindowStartsWithItsDefaults)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("d.json"));
    ViewerModel plain(&defaults);
    EXPECT_EQ(MarkupModel::of(plain).tool(), quarnkit::MarkupTool::select);
    EXPECT_EQ(MarkupModel::of(plain).color(), quarnkit::RGBA::ink);
    EXPECT_EQ(MarkupModel::of(plain).swatchIndex(), 1);
    EXPECT_EQ(MarkupModel::of(plain).stroke(), 3);
    EXPECT_EQ(MarkupModel::of(plain).textSize(), 18);
    EXPECT_TRUE(PagesModel::of(plain).sidebar());
    EXPECT_EQ(plain.zoomFit(), ZoomPreset::fitPage);
    EXPECT_EQ(plain.displayMode(), DisplayMode::continuous);

    defaults.set("ravlenDefaultDisplayMode", "twoPages");
    EXPECT_EQ(ViewerModel(&defaults).displayMode(), DisplayMode::twoPages);
    defaults.set("ravlenDefaultDisplayMode", "TwoPages");
    EXPECT_EQ(ViewerModel(&defaults).displayMode(), DisplayMode::continuous);
}

TEST(ViewerModel, ReportsPublishOnlyRealChanges)
{
    Harness h;
    h.open();
    ViewerModel& model = *h.model;
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.pageCount() == 10; }));
    QSignalSpy changes(&model, &ViewerModel::changed);
    h.view().onPage(model.pageIndex(), model.pageCount());
    h.view().onZoom(model.zoom() + 0.0005);
    MarkEditor::of(h.view()).select(std::nullopt);
    MarkEditor::of(h.view()).onSwatchIndex(8);
    MarkEditor::of(h.view()).onSwatchIndex(-1);
    EXPECT_EQ(changes.count(), 0);
    MarkEditor::of(h.view()).onSwatchIndex(2);
    EXPECT_EQ(MarkupModel::of(model).color(), quarnkit::RGBA::crimson);

    // After the model is gone, a late callback from the view does nothing.
    auto onPage = h.view().onPage;
    h.model->stop();
    h.model.reset();
    onPage(3, 10);
    SUCCEED();
}

TEST(ViewerModel, ZoomLadderStopsAtItsEnds)
{
    Harness h;
    h.open();
    ViewerModel& model = *h.model;
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isReading(); }));
    model.setZoom(20);
    EXPECT_DOUBLE_EQ(h.view().scaleFactor(), 10.0);
    EXPECT_FALSE(model.zoomFit().has_value());
    model.zoomIn();
    EXPECT_DOUBLE_EQ(h.view().scaleFactor(), 10.0);
    model.setZoom(0.01);
    EXPECT_DOUBLE_EQ(h.view().scaleFactor(), 0.05);
    model.zoomOut();
    EXPECT_DOUBLE_EQ(h.view().scaleFactor(), 0.05);
    model.zoomIn();
    EXPECT_DOUBLE_EQ(h.view().scaleFactor(), 0.1);
    model.setZoom(1.0);
    model.zoomIn();
    EXPECT_DOUBLE_EQ(h.view().scaleFactor(), 1.25);
    model.zoomOut();
    model.zoomOut();
    EXPECT_DOUBLE_EQ(h.view().scaleFactor(), 0.75);
}

TEST(ViewerModel, FitsAreRememberedUntilTheUserZoomsAway)
{
    Harness h;
    h.open();
    ViewerModel& model = *h.model;
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isReading(); }));
    model.fitWidth();
    EXPECT_EQ(model.zoomFit(), ZoomPreset::fitWidth);
    ASSERT_TRUE(model.fittedScale().has_value());
    const double fitted = *model.fittedScale();
    EXPECT_DOUBLE_EQ(h.view().scaleFactor(), fitted);

    // Within 0.002 the fit stays; beyond, it is dropped.
    h.view().setScaleFactor(fitted + 0.001);
    model.zoomChanged();
    EXPECT_EQ(model.zoomFit(), ZoomPreset::fitWidth);
    h.view().setScaleFactor(fitted + 0.01);
    model.zoomChanged();
    EXPECT_FALSE(model.zoomFit().has_value());

    // Actual size after fit width stops refitting on resize.
    model.fitWidth();
    model.setZoom(1.0);
    h.pageViewHost->resize(700, 800);
    QTest::qWait(20); // that no refit comes is the point: one would have by now
    EXPECT_DOUBLE_EQ(h.view().scaleFactor(), 1.0);

    // A width fit follows the view's size.
    model.fitWidth();
    const double wide = h.view().scaleFactor();
    h.pageViewHost->resize(1200, 800);
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.view().scaleFactor() > wide + 0.01; }));
    EXPECT_EQ(model.zoomFit(), ZoomPreset::fitWidth);
}

TEST(ViewerModel, FitPageInTwoPageModesFitsASpread)
{
    Harness h;
    h.open();
    ViewerModel& model = *h.model;
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isReading(); }));
    model.fitPage();
    const double single = *model.fittedScale();
    model.setDisplayMode(DisplayMode::twoPages);
    EXPECT_EQ(h.view().displayMode(), quarnkit::PdfDisplayMode::twoUp);
    ASSERT_TRUE(model.fittedScale().has_value());
    EXPECT_LT(*model.fittedScale(), single); // two pages side by side need a smaller scale
    model.setCoverSeparately(true);
    model.applyDisplayMode();
    EXPECT_TRUE(h.view().displaysAsBook());
}

TEST(ViewerModel, DisplayModeChangeKeepsThePage)
{
    Harness h;
    h.open();
    ViewerModel& model = *h.model;
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isReading(); }));
    h.view().goToPage(4);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.pageIndex() == 4; }));
    model.setDisplayMode(DisplayMode::singlePage);
    EXPECT_EQ(h.view().currentPageIndex(), 4);
    model.setDisplayMode(DisplayMode::twoPagesContinuous);
    EXPECT_EQ(h.view().displayMode(), quarnkit::PdfDisplayMode::twoUpContinuous);
    EXPECT_TRUE(h.view().currentPageIndex() == 4 || h.view().currentPageIndex() == 5);
}

TEST(ViewerModel, PageKeysTurnPagesOnlyWhenThePageViewOwnsThem)
{
    Harness h;
    h.open();
    ViewerModel& model = *h.model;
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isReading(); }));
    model.setZoom(0.5); // the page is narrower than the view
    h.pageViewHost->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(h.pageViewHost.get()));
    // The user clicks the page, then presses keys: they come to the window,
    // which hands them to the focused widget.
    QTest::mouseClick(h.view().viewport(), Qt::LeftButton, {}, h.view().viewport()->rect().center());
    QWindow* window = h.pageViewHost->windowHandle();

    QTest::keyClick(window, Qt::Key_End);
    EXPECT_EQ(h.view().currentPageIndex(), 9);
    QTest::keyClick(window, Qt::Key_Home);
    EXPECT_EQ(h.view().currentPageIndex(), 0);
    QTest::keyClick(window, Qt::Key_Right);
    EXPECT_EQ(h.view().currentPageIndex(), 1);
    QTest::keyClick(window, Qt::Key_Right);
    EXPECT_EQ(h.view().currentPageIndex(), 2);
    QTest::keyClick(window, Qt::Key_Left);
    EXPECT_EQ(h.view().currentPageIndex(), 1);
    // With a modifier the key is not a page key.
    QKeyEvent commandEnd(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
    EXPECT_FALSE(handlePageKey(h.view(), &commandEnd, &h.view()));
    // A page wider than the view leaves the arrows to scrolling.
    model.setZoom(4);
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    EXPECT_FALSE(handlePageKey(h.view(), &right, &h.view()));
}

TEST(ViewerModel, GoingToANegativePageLandsOnTheFirst)
{
    Harness h;
    h.open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.model->isReading(); }));
    h.view().goToPage(5);
    h.view().goToPage(-3);
    EXPECT_EQ(h.view().currentPageIndex(), 0);
    h.view().goToPage(99);
    EXPECT_EQ(h.view().currentPageIndex(), 9);
}

TEST(ViewerModel, StopCancelsWorkThatWasStillPending)
{
    Harness h;
    h.model = std::make_unique<ViewerModel>(&h.defaults, &h.positions);
    h.model->setFilePath(h.path);
    h.pageViewHost = std::make_unique<PageViewHost>(h.document.get(), h.model.get());
    h.pageViewHost->resize(1000, 800);
    h.model->start();
    // The restore waits for the view to show; stopping first means it never runs.
    h.model->stop();
    h.pageViewHost->show();
    QTest::qWait(100); // that the restore never runs is the point: it would have by now
    EXPECT_FALSE(h.model->isReading());
    EXPECT_EQ(h.positions.count(), 0);
}

TEST(ViewerModel, StopEndsASearchThatWasAboutToStart)
{
    Harness h;
    h.open();
    ViewerModel& model = *h.model;
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isReading(); }));
    FindModel::of(model).show();
    FindModel::of(model).setQuery("Page");
    FindModel::of(model).start(50);
    model.stop();
    QTest::qWait(200); // past the typing pause: that no search runs is the point
    EXPECT_EQ(FindModel::of(model).count(), 0);
    EXPECT_FALSE(FindModel::of(model).presented());
}

TEST(ViewerModel, PositionIsSavedOnceAfterABurstOfPageChanges)
{
    Harness h;
    h.open();
    ViewerModel& model = *h.model;
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isReading(); }));
    for (int page : {1, 2, 3, 4}) {
        h.view().goToPage(page);
        ASSERT_TRUE(QTest::qWaitFor([&] { return model.pageIndex() == page; }));
    }
    EXPECT_EQ(h.positions.count(), 0); // not yet: the save waits for quiet
    const auto fingerprint = quarnkit::FileFingerprint::of(h.path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.positions.position(*fingerprint).has_value(); }, 3000));
    EXPECT_EQ(h.positions.position(*fingerprint)->page, 4);
}

TEST(ViewerModel, RestoreSettingOffOpensAtTheStartButStillSaves)
{
    Harness first;
    first.open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.model->isReading(); }));
    first.view().goToPage(7);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.model->pageIndex() == 7; }));
    first.model->fitWidth();
    first.close();
    const auto fingerprint = quarnkit::FileFingerprint::of(first.path);
    ASSERT_TRUE(first.positions.position(*fingerprint).has_value());

    first.defaults.set("ravlenRestorePosition", false);
    first.open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.model->isReading(); }));
    EXPECT_EQ(first.view().currentPageIndex(), 0);
    EXPECT_EQ(first.model->zoomFit(), ZoomPreset::fitPage);
    first.view().goToPage(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.model->pageIndex() == 2; }));
    first.close();
    EXPECT_EQ(first.positions.position(*fingerprint)->page, 2);
}

TEST(ViewerModel, StoredFitWidthComesBackAsAFit)
{
    Harness h;
    h.open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.model->isReading(); }));
    h.model->fitWidth();
    h.close();
    h.open({800, 700});
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.model->isReading(); }));
    EXPECT_EQ(h.model->zoomFit(), ZoomPreset::fitWidth);
    const double before = h.view().scaleFactor();
    h.pageViewHost->resize(1100, 700);
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.view().scaleFactor() > before + 0.01; }));
}
