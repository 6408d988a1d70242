#include "Platform/UserDefaults.h"
#include "Quarn/Viewer/Slideshow.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/App/ViewerScreen.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "support/TestSupport.h"

#include <QUndoStack> // before the view header

#include "Quarn/App/PageViewHost.h"
#include "Quarn/Viewer/QuarnPDFView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quarn;
using quarnkit::QuarnDocument;

namespace {

struct Window {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath("defaults.json")};
    quarnkit::ReadingPositionStore positions{defaults};
    std::unique_ptr<QuarnDocument> document;
    std::unique_ptr<ViewerScreen> screen;

    explicit Window(int pages) : document(QuarnDocument::fromData(testsupport::makeTextPdf(pages)))
    {
        screen = std::make_unique<ViewerScreen>(document.get(), QString(), nullptr, &defaults, &positions);
        screen->resize(1000, 760);
        screen->show();
        EXPECT_TRUE(testsupport::waitFor([this] { return screen->model().isReading(); }));
    }
    ViewerModel& model() { return screen->model(); }
    QuarnPDFView* view() { return screen->pageViewHost()->view(); }
};

// Ends whatever a failed test left running.
struct EndsSlideshow {
    ~EndsSlideshow()
    {
        if (Slideshow* running = Slideshow::current()) running->end();
        QApplication::processEvents();
    }
};

} // namespace

TEST(Slideshow, RightArrowShowsTheNextPageAndEscapeReturnsToItInTheWindow)
{
    EndsSlideshow cleanup;
    Window window(3);
    ASSERT_EQ(window.view()->currentPageIndex(), 0);
    window.model().startSlideshow();
    Slideshow* show = Slideshow::current();
    ASSERT_NE(show, nullptr);
    EXPECT_TRUE(show->window()->isVisible());
    EXPECT_TRUE(show->window()->isFullScreen());
    EXPECT_EQ(show->window()->windowTitle(), "Slideshow");
    EXPECT_EQ(show->counter()->text(), "1 of 3");
    EXPECT_TRUE(show->counterFadePending());

    QTest::keyClick(show->pages(), Qt::Key_Right);
    EXPECT_EQ(show->pages()->currentPageIndex(), 1);
    EXPECT_EQ(show->counter()->text(), "2 of 3");
    EXPECT_TRUE(show->pages()->pointerHidden());

    const QPointer<Slideshow> watched(show);
    QTest::keyClick(show->pages(), Qt::Key_Escape);
    EXPECT_EQ(Slideshow::current(), nullptr);
    EXPECT_FALSE(show->window()->isVisible());
    EXPECT_EQ(show->pages()->document(), nullptr); // the document is let go
    EXPECT_EQ(window.view()->currentPageIndex(), 1);
    QApplication::processEvents();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.model().pageIndex() == 1; }));
    EXPECT_TRUE(testsupport::waitFor([&] { return watched.isNull(); }));
    EXPECT_TRUE(watched.isNull());
}

TEST(Slideshow, StartsAtTheWindowsPageAndOnlyOneRuns)
{
    EndsSlideshow cleanup;
    Window window(4);
    window.view()->goToPage(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.model().pageIndex() == 2; }));
    window.model().startSlideshow();
    Slideshow* first = Slideshow::current();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->counter()->text(), "3 of 4");
    window.model().startSlideshow();
    EXPECT_EQ(Slideshow::current(), first);
    first->end();
    first->end(); // a second end does nothing more
    EXPECT_EQ(Slideshow::current(), nullptr);
}

TEST(Slideshow, KeysClicksAndEnds)
{
    EndsSlideshow cleanup;
    Window window(3);
    window.model().startSlideshow();
    Slideshow* show = Slideshow::current();
    ASSERT_NE(show, nullptr);
    SlideshowView* pages = show->pages();

    QTest::keyClick(pages, Qt::Key_End);
    EXPECT_EQ(pages->currentPageIndex(), 2);
    // At the last page nothing moves; the counter shows again.
    QTest::keyClick(pages, Qt::Key_Right);
    EXPECT_EQ(pages->currentPageIndex(), 2);
    EXPECT_EQ(show->counter()->text(), "3 of 3");
    EXPECT_TRUE(show->counterFadePending());
    QTest::keyClick(pages, Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_EQ(pages->currentPageIndex(), 1);
    QTest::keyClick(pages, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(pages->currentPageIndex(), 2);
    QTest::keyClick(pages, Qt::Key_Home);
    EXPECT_EQ(pages->currentPageIndex(), 0);
    QTest::keyClick(pages, Qt::Key_N);
    QTest::keyClick(pages, Qt::Key_Backspace);
    EXPECT_EQ(pages->currentPageIndex(), 0);
    // Ctrl+Right is not the slideshow's.
    QTest::keyClick(pages, Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(pages->currentPageIndex(), 0);

    // A left click goes on, a right click back.
    QTest::mouseClick(pages, Qt::LeftButton);
    EXPECT_EQ(pages->currentPageIndex(), 1);
    QTest::mouseClick(pages, Qt::RightButton);
    EXPECT_EQ(pages->currentPageIndex(), 0);
    QTest::mouseClick(pages, Qt::LeftButton);

    // Moving the mouse brings the pointer back.
    QMouseEvent move(QEvent::MouseMove, QPointF(40, 40), pages->mapToGlobal(QPointF(40, 40)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(pages, &move);
    EXPECT_FALSE(pages->pointerHidden());

    // Ctrl+. ends like Escape, at the page shown.
    QTest::keyClick(pages, Qt::Key_Period, Qt::ControlModifier);
    EXPECT_EQ(Slideshow::current(), nullptr);
    EXPECT_EQ(window.view()->currentPageIndex(), 1);
}

TEST(Slideshow, TheCounterFadesAndThePointerHides)
{
    EndsSlideshow cleanup;
    Window window(2);
    window.model().startSlideshow();
    Slideshow* show = Slideshow::current();
    ASSERT_NE(show, nullptr);
    show->hideCounter();
    EXPECT_TRUE(show->pages()->pointerHidden());
    ASSERT_TRUE(QTest::qWaitFor([&] { return show->counter()->opacity() == 0.0; }, 3000));
    show->showCounter();
    ASSERT_TRUE(QTest::qWaitFor([&] { return show->counter()->opacity() == 1.0; }, 3000));
    // Sits at the bottom centre, 28 up.
    const QRect counter = show->counter()->geometry();
    EXPECT_EQ(show->window()->height() - counter.bottom() - 1, 28);
    EXPECT_LE(std::abs(counter.center().x() - show->window()->width() / 2), 1);
}

TEST(Slideshow, ClosingTheWindowEndsIt)
{
    EndsSlideshow cleanup;
    Window window(2);
    window.model().startSlideshow();
    Slideshow* show = Slideshow::current();
    ASSERT_NE(show, nullptr);
    QTest::keyClick(show->pages(), Qt::Key_Down);
    show->window()->close();
    EXPECT_EQ(Slideshow::current(), nullptr);
    EXPECT_EQ(window.view()->currentPageIndex(), 1);
}

TEST(Slideshow, HoldsTheWindowWeakly)
{
    EndsSlideshow cleanup;
    int exitedAt = -1;
    auto document = QuarnDocument::fromData(testsupport::makeTextPdf(3));
    auto host = std::make_unique<QWidget>();
    host->show();
    auto* show = new Slideshow(document.get(), QGuiApplication::primaryScreen(), host.get(), [&](int page) { exitedAt = page; });
    Slideshow::setCurrent(show);
    show->start(2);
    EXPECT_EQ(show->counter()->text(), "3 of 3");
    host.reset(); // the document window closes meanwhile
    show->end();
    EXPECT_EQ(exitedAt, 2);
}

TEST(Slideshow, NothingForADocumentWithoutPages)
{
    EndsSlideshow cleanup;
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("defaults.json"));
    quarnkit::ReadingPositionStore positions(defaults);
    ViewerModel model(&defaults, &positions);
    QuarnDocument empty(platform::PdfDocument::createEmpty());
    model.setDocument(&empty);
    model.startSlideshow();
    EXPECT_EQ(Slideshow::current(), nullptr);
}
