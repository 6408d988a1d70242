#include "Platform/UserDefaults.h"
#include "Quarn/Design/FocusRing.h"
#include "Quarn/Viewer/StatusBar.h"
#include "Quarn/Viewer/Slideshow.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/App/ViewerScreen.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Viewer/TileRenderer.h"
#include "Quarn/Design/UnnamedControls.h"
#include "support/TestSupport.h"

#include <QUndoStack> // before the view header

#include "Quarn/App/PageViewHost.h"
#include "Quarn/Viewer/QuarnPDFView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QMouseEvent>
#include <QSemaphore>
#include <QThreadPool>
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

    explicit Window(int pages) : Window(testsupport::makeTextPdf(pages)) {}
    explicit Window(const QByteArray& pdf) : document(QuarnDocument::fromData(pdf))
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

// Keeps every render worker busy until released (at the latest when the test ends).
struct HeldRenders {
    QSemaphore started, released;
    int count = quarnkit::TileRenderer::workerPool().maxThreadCount();
    HeldRenders()
    {
        for (int i = 0; i < count; ++i)
            quarnkit::TileRenderer::workerPool().start([this] {
                started.release();
                released.acquire();
            });
    }
    bool holding() { return started.tryAcquire(count, 10000); }
    void release() { released.release(std::exchange(count, 0)); }
    ~HeldRenders() { release(); }
};

} // namespace

TEST(Slideshow, PagesAreDrawnOnAWorkerWhileTheLastImageStaysOnShow)
{
    EndsSlideshow cleanup;
    // A red page, then a blue one.
    Window window(
        testsupport::writePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>",
                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
                               testsupport::pdfStream("", "1 0 0 rg 0 0 612 792 re f"),
                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R >>",
                               testsupport::pdfStream("", "0 0 1 rg 0 0 612 792 re f")}));
    window.model().startSlideshow();
    Slideshow* show = Slideshow::current();
    ASSERT_NE(show, nullptr);
    SlideshowView* pages = show->pages();
    const auto middle = [pages] {
        const QImage shot = pages->grab().toImage();
        return shot.pixelColor(shot.width() / 2, shot.height() / 2);
    };
    ASSERT_TRUE(testsupport::waitFor([&] { return pages->showsCurrentPage(); }));
    EXPECT_EQ(middle(), QColor(Qt::red));

    // With every worker held, the next page is painted at once with the red image.
    HeldRenders held;
    ASSERT_TRUE(held.holding());
    QTest::keyClick(show->window()->windowHandle(), Qt::Key_Right);
    ASSERT_EQ(pages->currentPageIndex(), 1);
    EXPECT_EQ(middle(), QColor(Qt::red));
    EXPECT_FALSE(pages->showsCurrentPage());

    held.release();
    ASSERT_TRUE(testsupport::waitFor([&] { return pages->showsCurrentPage(); }));
    EXPECT_EQ(middle(), QColor(Qt::blue));
}

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
    // A window to a screen reader, named as it is.
    QAccessibleInterface* node = accessibletest::applicationWindow(show->window());
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->role(), QAccessible::Window);
    EXPECT_EQ(node->text(QAccessible::Name), "Slideshow");
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

// A reader meets the page shown as a document named "Page N of M" with that
// page's text, read on a worker once a reader listens, and hears the next
// page's name and text as the keys turn to it.
TEST(Slideshow, AReaderHearsThePageAndItsText)
{
    EndsSlideshow cleanup;
    Window window(3);
    const auto textOf = [&](int page) {
        return QString::fromStdString(pdfOf(*window.document)->textPage(page).text());
    };
    window.model().startSlideshow();
    Slideshow* show = Slideshow::current();
    ASSERT_NE(show, nullptr);
    QAccessibleInterface* page = QAccessible::queryAccessibleInterface(show->pages());
    ASSERT_NE(page, nullptr);
    ASSERT_NE(page->textInterface(), nullptr);
    EXPECT_EQ(page->role(), QAccessible::Document);
    EXPECT_EQ(page->text(QAccessible::Name), "Page 1 of 3");
    EXPECT_EQ(page->textInterface()->characterCount(), 0); // no reader, nothing read
    QAccessible::setActive(true);
    const std::shared_ptr<void> quiet(nullptr, [](void*) { QAccessible::setActive(false); });
    for (int at = 0; at < 3; ++at) {
        EXPECT_EQ(page->text(QAccessible::Name), QStringLiteral("Page %1 of 3").arg(at + 1));
        const QString words = textOf(at); // read once: the window's own read would hold the worker's up
        ASSERT_FALSE(words.isEmpty());
        EXPECT_TRUE(testsupport::waitFor([&] { return page->textInterface()->text(0, -1) == words; }))
            << page->textInterface()->text(0, -1).toStdString();
        QTest::keyClick(show->window()->windowHandle(), Qt::Key_Right);
    }
}

// Started from the keyboard (Tab to the status bar's button, Space), the
// slideshow fills the screen with the page alone: no focus ring frames it.
TEST(Slideshow, StartedFromTheKeyboardShowsNoFocusRing)
{
    EndsSlideshow cleanup;
    focusring::install();
    Window window(3);
    QApplication::setActiveWindow(window.screen.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.screen.get()));
    QWidget* button = window.screen->statusBar()->slideshowButton();
    for (int press = 0; press < 60 && QApplication::focusWidget() != button; ++press)
        QTest::keyClick(window.screen->windowHandle(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), button);
    ASSERT_TRUE(testsupport::waitFor([&] { return focusring::target() == button; }));

    QTest::keyClick(window.screen->windowHandle(), Qt::Key_Space);
    Slideshow* show = Slideshow::current();
    ASSERT_NE(show, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return show->pages()->hasFocus() && focusring::target() != button; }));
    EXPECT_EQ(focusring::target(), nullptr);
    QWidget* ring = show->window()->findChild<QWidget*>(QStringLiteral("focusRing"));
    EXPECT_TRUE(ring == nullptr || !ring->isVisible());
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
    auto* show =
        new Slideshow(document.get(), QGuiApplication::primaryScreen(), host.get(), [&](int page) { exitedAt = page; });
    Slideshow::setCurrent(show);
    show->start(2);
    EXPECT_EQ(show->counter()->text(), "3 of 3");
    host.reset(); // the document window closes meanwhile
    show->end();
    EXPECT_EQ(exitedAt, 2);
}

TEST(Slideshow, ThePageIsSizedOnAWorkerAndTheCounterPlacedWhenItIs)
{
    EndsSlideshow cleanup;
    // Pages of the screen's shape: the counter needs a strip below them.
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(screen.width()) + " "
                             + std::to_string(screen.height()) + "] >>";
    Window window(testsupport::writePdf(
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>", page, page}));
    HeldRenders held;
    ASSERT_TRUE(held.holding());
    window.model().startSlideshow();
    Slideshow* show = Slideshow::current();
    ASSERT_NE(show, nullptr);
    QApplication::processEvents();
    // Nothing is read here: the size waits for a worker, and the keys work meanwhile.
    EXPECT_FALSE(show->pages()->currentPageSized());
    QTest::keyClick(show->window()->windowHandle(), Qt::Key_Right);
    EXPECT_EQ(show->pages()->currentPageIndex(), 1);
    EXPECT_EQ(show->counter()->text(), "2 of 2");
    EXPECT_FALSE(show->pages()->currentPageSized());
    held.release();
    ASSERT_TRUE(testsupport::waitFor([&] { return show->pages()->currentPageSized(); }));
    const QRect shown = show->pages()->pageRect(show->pages()->reservedBottom());
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_GT(show->pages()->reservedBottom(), 0);
    EXPECT_FALSE(show->counter()->geometry().intersects(shown));
    // The page is drawn in the room left above the counter.
    EXPECT_TRUE(testsupport::waitFor([&] { return show->pages()->showsCurrentPage(); }));
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

TEST(Slideshow, TheCounterKeepsClearOfEveryPage)
{
    EndsSlideshow cleanup;
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    // A tall page (room beside it), a wide one (room below it) and one of the
    // screen's own shape (no room at all until the page gives some).
    const struct {
        const char* name;
        QSize points;
    } pages[] = {{"tall", {612, 792}}, {"wide", {1000, 300}}, {"screen-shaped", screen}};
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                                        "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>"};
    for (const auto& page : pages)
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(page.points.width()) + " "
                          + std::to_string(page.points.height()) + "] >>");
    Window window(testsupport::writePdf(objects));
    window.model().startSlideshow();
    Slideshow* show = Slideshow::current();
    ASSERT_NE(show, nullptr);
    for (const auto& page : pages) {
        SCOPED_TRACE(page.name);
        // Placed once a worker has read the page's size.
        ASSERT_TRUE(testsupport::waitFor([&] { return show->pages()->currentPageSized(); }));
        const QRect counter = show->counter()->geometry();
        const QRect shown = show->pages()->pageRect(show->pages()->reservedBottom());
        ASSERT_FALSE(shown.isEmpty());
        EXPECT_FALSE(counter.intersects(shown));
        EXPECT_TRUE(show->window()->rect().contains(counter));
        // The page still fills most of the screen one way.
        EXPECT_TRUE(shown.height() * 10 >= show->window()->height() * 8
                    || shown.width() * 10 >= show->window()->width() * 8);
        QTest::keyClick(show->window()->windowHandle(), Qt::Key_Right);
    }
}
