// The rail, the library column and the History road of a whole window.
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/History/HistoryHooks.h"
#include "Quarn/History/HistoryList.h"
#include "Quarn/History/HistoryPanel.h"
#include "Quarn/History/LibraryColumn.h"
#include "Quarn/History/LibraryRail.h"
#include "Quarn/History/LibraryViews.h"
#include "Quarn/Explore/ExplorePanel.h"
#include "Quarn/Pages/PageTableView.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Pages/SidebarPane.h"
#include "Quarn/Viewer/PageTiles.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/StateMessages.h"
#include "Quarn/App/ViewerScreen.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/History/HistoryLibraryFixture.h"
#include "Quarn/App/ViewerScreenHarness.h"
#include "Quarn/Design/MotionRig.h"
#include "support/PageViewSupport.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QScrollBar>
#include <QTest>

using namespace quarn;
using historytest::Library;
using historytest::titledPdf;
using quarnkit::LibraryPanel;

namespace {

const bool privateConfig = testsupport::usePrivateConfigDir();

// A viewer screen over a PDF, recording into a library of its own.
struct Screen {
    viewertest::Settings settings;
    Library h;
    std::unique_ptr<quarnkit::QuarnDocument> document;
    std::unique_ptr<ViewerScreen> screen;

    explicit Screen(const QString& path)
    {
        h.make();
        document = quarnkit::QuarnDocument::open(path);
        screen = std::make_unique<ViewerScreen>(document.get(), path, nullptr, &settings.defaults, &settings.positions,
                                                h.library.get());
        screen->resize(1100, 760);
        screen->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(screen.get()));
    }
    void click(LibraryPanel panel) { QTest::mouseClick(screen->rail()->button(panel), Qt::LeftButton); }
    bool historyShown() { return screen->libraryColumn()->isVisible() && screen->libraryColumn()->historyPanel(); }
    bool sidebarShown()
    {
        auto* pane = screen->findChild<SidebarPane*>();
        return pane && pane->isVisible();
    }
};

// A document controller whose windows record into a library of their own,
// whose alerts are counted, and which opens for the library.
struct Controller {
    Library h;
    DocumentController controller;
    int alerts = 0;

    Controller()
    {
        attachHistory(controller, h.make());
        controller.showFailure = [this](const QString&, const QString&, QWidget*) { ++alerts; };
        controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    }
    ~Controller()
    {
        controller.closeAll();
        platform::UserDefaults::standard().remove(quarnkit::LibraryPanels::savedKey);
    }
    quarnkit::HistoryLibrary& library() { return *h.library; }
};

} // namespace

TEST(LibraryRail, TogglesTheColumnAndRemembersThePanel)
{
    Screen s(QString::fromStdString(testsupport::corpusPath("pdflatex-4-pages.pdf")));
    ASSERT_TRUE(s.screen->rail()->button(LibraryPanel::document)->isEnabled());
    EXPECT_TRUE(s.sidebarShown());

    const struct {
        LibraryPanel clicked;
        bool history, sidebar;
    } steps[] = {
        {LibraryPanel::history, true, false},  // another panel: shown
        {LibraryPanel::history, false, false}, // the panel shown: the column hides
        {LibraryPanel::history, true, false},  // and comes back
        {LibraryPanel::document, false, true},
    };
    for (const auto& step : steps) {
        s.click(step.clicked);
        EXPECT_EQ(s.historyShown(), step.history);
        EXPECT_EQ(s.sidebarShown(), step.sidebar);
        EXPECT_EQ(s.screen->rail()->button(LibraryPanel::history)->isChosen(), step.history);
    }
    s.click(LibraryPanel::history);
    s.click(LibraryPanel::history);
    // Hidden, History stays the choice, and a new window starts with it.
    EXPECT_EQ(PagesModel::of(s.screen->model()).libraryPanel(), LibraryPanel::history);
    EXPECT_EQ(s.settings.defaults.stringValue(quarnkit::LibraryPanels::savedKey), "history");
    ViewerModel next(&s.settings.defaults, &s.settings.positions);
    EXPECT_EQ(PagesModel::of(next).libraryPanel(), LibraryPanel::history);
    // Explore opens through the library too, so it has its button.
    EXPECT_TRUE(s.screen->rail()->button(LibraryPanel::explore)->isVisible());
}

// What a screen reader hears of the rail and the panels: each rail item is
// one choice among three, chosen or not, and its action shows its panel;
// each panel's title is a heading to jump to.
TEST(LibraryRail, AScreenReaderHearsChoicesAndPanelTitlesAsHeadings)
{
    Screen s(QString::fromStdString(testsupport::corpusPath("pdflatex-4-pages.pdf")));
    const auto element = [&](LibraryPanel panel) {
        return QAccessible::queryAccessibleInterface(s.screen->rail()->button(panel));
    };
    const LibraryPanel panels[] = {LibraryPanel::document, LibraryPanel::history, LibraryPanel::explore};
    for (const LibraryPanel chosen : {LibraryPanel::history, LibraryPanel::explore}) {
        element(chosen)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        ASSERT_TRUE(s.screen->rail()->button(chosen)->isChosen());
        for (const LibraryPanel panel : panels) {
            QAccessibleInterface* item = element(panel);
            EXPECT_EQ(item->role(), QAccessible::RadioButton) << int(panel);
            EXPECT_EQ(bool(item->state().checked), panel == chosen) << int(panel);
        }
    }
    for (const auto& [panel, title] :
         {std::pair<QWidget*, QString>{s.screen->libraryColumn()->historyPanel(), "History"},
          {s.screen->libraryColumn()->explorePanel(), "Explore"}}) {
        QAccessibleInterface* heading =
            QAccessible::queryAccessibleInterface(panel->findChild<LibraryPanelHeader*>()->findChild<QLabel*>());
        EXPECT_EQ(heading->role(), QAccessible::Heading) << title.toStdString();
        EXPECT_EQ(heading->text(QAccessible::Name), title);
    }
}

// Chosen on the rail, a panel fades in over 0.14 s, its capsule coming with
// it, and the panel and capsule left go out as gently: when the column
// shows, switches and hides, and for This PDF's sidebar. What is left
// behind is a picture only: the panel itself goes at once. The same change
// by the window's keys, or with less motion asked for by the desktop, is
// there at once.
TEST(LibraryRail, APanelChosenOnTheRailFadesInAndTheOneLeftFadesOutUnlessMotionIsReduced)
{
    for (const bool reduced : {false, true}) {
        SCOPED_TRACE(reduced ? "reduced motion" : "full motion");
        motiontest::DesktopMotion motion(reduced);
        const double atOnce = reduced ? 1.0 : 0.0; // how far in each is just after the click
        Controller c;
        DocumentWindow* window = c.controller.openDocument(c.h.write("paper.pdf", titledPdf("Paper", 2)));
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        LibraryRail* rail = window->screen()->rail();
        LibraryColumn* column = window->screen()->libraryColumn();
        QWidget* side = window->screen()->findChild<SidebarPane*>()->parentWidget();
        const auto chosen = [&](LibraryPanel panel) { return rail->button(panel)->chosenAmount(); };
        const auto click = [&](LibraryPanel panel) { QTest::mouseClick(rail->button(panel), Qt::LeftButton); };
        ASSERT_EQ(chosen(LibraryPanel::document), 1.0);

        const struct {
            LibraryPanel clicked;
            QWidget* left; // what the click puts away
        } steps[] = {{LibraryPanel::history, side}, {LibraryPanel::explore, column}};
        for (const auto& step : steps) {
            SCOPED_TRACE(libraryPanelTitle(step.clicked).toStdString());
            const LibraryPanel before = PagesModel::of(window->screen()->model()).libraryPanel();
            click(step.clicked);
            ASSERT_TRUE(column->isVisible());
            EXPECT_EQ(column->opacity(), atOnce);
            EXPECT_EQ(motion::leftBehind(step.left), 1 - atOnce);
            EXPECT_EQ(chosen(step.clicked), atOnce);
            EXPECT_EQ(chosen(before), 1 - atOnce); // goes out from where it stood
            EXPECT_TRUE(testsupport::waitFor([&] {
                return column->opacity() == 1.0 && motion::leftBehind(step.left) == 0.0 && chosen(step.clicked) == 1.0
                       && chosen(before) == 0.0;
            }));
        }

        // Hidden from the rail, the column is gone at once and its picture
        // fades out where it stood, over the pages that take its room.
        QApplication::processEvents();
        const QRect room(column->mapTo(window, QPoint(0, 0)), column->size());
        const QImage shown = window->grab(room).toImage();
        click(LibraryPanel::explore);
        EXPECT_FALSE(column->isVisible());
        EXPECT_EQ(motion::leftBehind(column), 1 - atOnce);
        EXPECT_EQ(window->grab(room).toImage() == shown, !reduced);
        EXPECT_TRUE(testsupport::waitFor([&] { return motion::leftBehind(column) == 0.0; }));
        EXPECT_NE(window->grab(room).toImage(), shown);

        // This PDF's sidebar fades in and out the same way.
        for (const bool showing : {true, false}) {
            click(LibraryPanel::document);
            ASSERT_EQ(side->isVisible(), showing);
            EXPECT_EQ(showing ? motion::fadedIn(side) : 1 - motion::leftBehind(side), atOnce);
            EXPECT_TRUE(testsupport::waitFor([&] {
                return motion::fadedIn(side) == 1.0 && !motion::leftBehind(side)
                       && chosen(LibraryPanel::document) == (showing ? 1.0 : 0.0);
            }));
        }

        // The window's keys (the View menu's History) show it at once.
        QTest::keyClick(window->windowHandle(), Qt::Key_Y, Qt::ControlModifier);
        ASSERT_TRUE(column->isVisible());
        EXPECT_EQ(column->opacity(), 1.0);
        EXPECT_EQ(chosen(LibraryPanel::history), 1.0);
        EXPECT_EQ(chosen(LibraryPanel::document), 0.0);
        QTest::keyClick(window->windowHandle(), Qt::Key_Y, Qt::ControlModifier);
        EXPECT_FALSE(column->isVisible());
        EXPECT_EQ(motion::leftBehind(column), 0.0);
    }
}

// History and Explore take the same room: switching between them from the
// rail never moves the pages beside the column.
TEST(LibraryRail, HistoryAndExploreLeaveThePagesWhereTheyAre)
{
    Screen s(QString::fromStdString(testsupport::corpusPath("pdflatex-4-pages.pdf")));
    ASSERT_TRUE(testsupport::waitFor([&] { return s.screen->filledIn(); }));
    QuarnPDFView* view = s.screen->pageViewHost()->view();
    s.click(LibraryPanel::history);
    ASSERT_TRUE(s.historyShown());
    QApplication::processEvents();
    const QRect pages(view->mapTo(s.screen.get(), QPoint(0, 0)), view->size());
    for (const LibraryPanel panel : {LibraryPanel::explore, LibraryPanel::history, LibraryPanel::explore}) {
        s.click(panel);
        QApplication::processEvents();
        EXPECT_EQ(QRect(view->mapTo(s.screen.get(), QPoint(0, 0)), view->size()), pages) << int(panel);
        EXPECT_EQ(s.screen->libraryColumn()->width(), HistoryPanel::columnWidth + 1) << int(panel);
    }
}

// A window that opens on History makes its page list behind it; chosen
// later, the list starts at the current page's thumbnail, whole, not
// scrolled by where the hidden list stood.
TEST(LibraryRail, ThePagesListChosenAfterHistoryShowsTheCurrentPageWhole)
{
    viewertest::Settings settings;
    quarnkit::LibraryPanels::save(settings.defaults, LibraryPanel::history);
    Library h;
    h.make();
    const QString path = QString::fromStdString(testsupport::corpusPath("pdflatex-4-pages.pdf"));
    auto document = quarnkit::QuarnDocument::open(path);
    ViewerScreen screen(document.get(), path, nullptr, &settings.defaults, &settings.positions, h.library.get());
    screen.resize(1100, 760);
    screen.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&screen));
    ASSERT_TRUE(testsupport::waitFor([&] { return screen.filledIn() && screen.findChild<PageTableView*>(); }));
    auto* table = screen.findChild<PageTableView*>();
    ASSERT_FALSE(table->isVisible());
    QApplication::processEvents();

    // The first page, then the last one (End on the pages).
    for (const int page : {0, 3}) {
        if (page == 3) {
            QTest::mouseClick(screen.rail()->button(LibraryPanel::history), Qt::LeftButton);
            ASSERT_FALSE(table->isVisible());
            QTest::keyClick(screen.windowHandle(), Qt::Key_End);
            ASSERT_TRUE(testsupport::waitFor([&] { return screen.model().pageIndex() == 3; }));
        }
        QTest::mouseClick(screen.rail()->button(LibraryPanel::document), Qt::LeftButton);
        ASSERT_TRUE(table->isVisible());
        const QRect row = table->visualRect(table->model()->index(page, 0));
        EXPECT_TRUE(testsupport::waitFor([&] {
            return table->viewport()->rect().contains(table->visualRect(table->model()->index(page, 0)));
        })) << page
            << ": " << row.y() << " in " << table->viewport()->height();
        if (page == 0) {
            EXPECT_EQ(table->verticalScrollBar()->value(), 0);
        }
    }
}

TEST(LibraryRail, HistoryStaysReachableBesideTheLockedGate)
{
    Screen s(QString::fromStdString(testsupport::corpusPath("libreoffice-writer-password.pdf")));
    ASSERT_NE(s.screen->gate(), nullptr);
    EXPECT_FALSE(s.screen->rail()->button(LibraryPanel::document)->isEnabled());
    s.click(LibraryPanel::history);
    EXPECT_TRUE(s.historyShown());
    EXPECT_TRUE(s.screen->gate()->isVisible());
    // Recorded without details while locked; unlocking brings them.
    ASSERT_EQ(s.h.library->entries().size(), 1u);
    EXPECT_FALSE(s.h.library->entries().front().pageCount);
    for (const char key : std::string("openpassword")) QTest::keyClick(s.screen->windowHandle(), key);
    QTest::keyClick(s.screen->windowHandle(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return s.screen->content() == ViewerScreen::Content::document; }));
    EXPECT_TRUE(s.h.library->entries().front().pageCount.has_value());
    EXPECT_TRUE(s.screen->rail()->button(LibraryPanel::document)->isEnabled());
    EXPECT_TRUE(s.historyShown()); // the column moved into the pages' view
}

// The library's symbols show every device pixel of the screen: on one of two
// per view pixel, a symbol painted at one would show each pixel as a pair
// (the rail's, the search field's), and one shown as a picture (an empty
// list's) would be blurred.
TEST(LibrarySymbols, AreDrawnAtTheScreensPixelRatio)
{
    Screen s(QString::fromStdString(testsupport::corpusPath("minimal-document.pdf")));
    ASSERT_DOUBLE_EQ(s.screen->devicePixelRatioF(), testsupport::testPixelRatio());
    const auto devicePixels = [](QWidget* widget, const QRectF& area) {
        const QImage shot = widget->grab(area.toAlignedRect()).toImage();
        const auto pairs = [&](int from) { // each pixel from column `from` on, every other one, as its right neighbour
            for (int y = 0; y < shot.height(); ++y)
                for (int x = from; x + 1 < shot.width(); x += 2)
                    if (shot.pixel(x, y) != shot.pixel(x + 1, y)) return false;
            return true;
        };
        return !pairs(0) && !pairs(1);
    };
    s.click(LibraryPanel::history);
    HistoryPanel* history = s.screen->libraryColumn()->historyPanel();
    ASSERT_TRUE(testsupport::waitFor([&] { return history->searchField()->isVisible(); })); // the PDF recorded
    history->searchField()->setText("no such file");
    ASSERT_TRUE(testsupport::waitFor([&] { return history->message() && history->message()->isVisible(); }));
    QLabel* icon = history->message()->findChild<QLabel*>(); // the first of its labels
    EXPECT_EQ(icon->pixmap().devicePixelRatio(), s.screen->devicePixelRatioF());
    s.click(LibraryPanel::explore);
    LibrarySearchField* field = s.screen->libraryColumn()->explorePanel()->searchField();
    ASSERT_TRUE(testsupport::waitFor([&] { return field->isVisible(); }));
    EXPECT_TRUE(devicePixels(field, QRectF(8, field->height() / 2.0 - 5.5, 11, 11)));
    for (const LibraryPanel panel : quarnkit::allLibraryPanels) {
        QWidget* button = s.screen->rail()->button(panel);
        EXPECT_TRUE(devicePixels(
            button, QRectF(QPointF(button->width(), button->height()) / 2 - QPointF(8, 8), QSizeF(16, 16))))
            << int(panel);
    }
}

TEST(HistoryWindow, AnOpenedPdfIsRecordedAndQuittingLosesNothing)
{
    Controller c;
    const QString path = c.h.write("paper.pdf", titledPdf("A Paper on Birds", 3));
    DocumentWindow* window = c.controller.openDocument(path);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(c.library().entries().size(), 1u);
    const quarnkit::HistoryEntry entry = c.library().entries().front();
    EXPECT_EQ(entry.path, path);
    EXPECT_EQ(entry.title, "A Paper on Birds");
    EXPECT_EQ(entry.pageCount, 3);

    // Ctrl+Y to the window: History shows with the keys in its field.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QTest::keyClick(window->windowHandle(), Qt::Key_Y, Qt::ControlModifier);
    HistoryPanel* panel = window->screen()->libraryColumn()->historyPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(testsupport::waitFor([&] { return QApplication::focusWidget() == panel->searchField(); }));
    // The window's own file is marked.
    EXPECT_TRUE(panel->listModel()->rowData(panel->listModel()->rowOf(entry.id)).current);
    QTest::keyClick(window->windowHandle(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_FALSE(panel->isVisible());

    // Quitting right away: the windows close, then the pending change is written.
    EXPECT_TRUE(c.controller.closeAll());
    c.library().store().flush();
    const QByteArray written = testsupport::readFile(c.h.historyFile());
    EXPECT_TRUE(written.contains("A Paper on Birds"));
    EXPECT_TRUE(written.contains("\"pageCount\":3"));
}

TEST(HistoryWindow, OpeningFromHistoryOpensAWindowOrSaysWhy)
{
    Controller c;
    const QString good = c.h.write("good.pdf", titledPdf("Good", 2));
    const QString bad = c.h.write("bad.pdf", "this is no PDF");
    c.h.seed({{good}, {bad}});
    c.h.make();
    attachHistory(c.controller, c.library());
    HistoryPanel panel(c.library(), nullptr);
    panel.show();
    const auto entry = [&](const QString& path) { return *c.library().store().entryForPath(path); };

    panel.openEntry(entry(good));
    ASSERT_TRUE(testsupport::waitFor([&] { return c.controller.windows().size() == 1; }));
    EXPECT_EQ(entry(good).openCount, 2); // recorded by the window as it showed

    // Already open: brought forward, one more opening, no second window.
    panel.openEntry(entry(good));
    ASSERT_TRUE(testsupport::waitFor([&] { return entry(good).openCount == 3; }));
    EXPECT_EQ(c.controller.windows().size(), 1u);

    // Not a PDF: said in the panel, never as an alert.
    panel.openEntry(entry(bad));
    ASSERT_TRUE(testsupport::waitFor([&] { return panel.notice()->isVisible(); }));
    EXPECT_EQ(panel.notice()->problem(),
              (quarnkit::OpenProblem{"ravlen couldn't open “bad”.",
                                     "The file couldn't be opened because it isn't in the correct format."}));
    EXPECT_EQ(c.alerts, 0);
    EXPECT_EQ(c.controller.windows().size(), 1u);
}

TEST(WindowFillIn, PanelsMadeAfterTheFirstPaintKeepTheirRoomAndWork)
{
    Controller c;
    // History was the last panel: the window starts with its column.
    quarnkit::LibraryPanels::save(platform::UserDefaults::standard(), LibraryPanel::history);
    const QString path = c.h.write("paper.pdf", titledPdf("A Paper on Birds", 3));
    DocumentWindow* window = c.controller.openDocument(path);
    ASSERT_NE(window, nullptr);
    ViewerScreen* screen = window->screen();
    QuarnPDFView* view = screen->pageViewHost()->view();
    // Shown, not yet painted: the column holds its room, its panel and the
    // sidebar's list wait.
    ASSERT_FALSE(screen->filledIn());
    EXPECT_TRUE(screen->libraryColumn()->isVisible());
    EXPECT_EQ(screen->libraryColumn()->historyPanel(), nullptr);
    EXPECT_EQ(screen->findChild<PageTableView*>(), nullptr);
    // Across: the window's own height is fitted to the screen once shown.
    const int pagesLeft = view->mapTo(window, QPoint(0, 0)).x();
    const int pagesWidth = view->width();

    ASSERT_TRUE(testsupport::waitFor([&] { return screen->filledIn(); }));
    EXPECT_TRUE(view->tiles().visibleReady()); // after the first page, not before
    HistoryPanel* history = screen->libraryColumn()->historyPanel();
    ASSERT_NE(history, nullptr);
    EXPECT_TRUE(history->isVisible());
    // The pages stayed where they were painted.
    EXPECT_EQ(view->mapTo(window, QPoint(0, 0)).x(), pagesLeft);
    EXPECT_EQ(view->width(), pagesWidth);
    // History lists the file, marked as this window's.
    const quarnkit::HistoryEntry entry = c.library().entries().front();
    ASSERT_GE(history->listModel()->rowOf(entry.id), 0);
    EXPECT_TRUE(history->listModel()->rowData(history->listModel()->rowOf(entry.id)).current);

    // Explore, first used now, is made and shown.
    QTest::mouseClick(screen->rail()->button(LibraryPanel::explore), Qt::LeftButton);
    ASSERT_NE(screen->libraryColumn()->explorePanel(), nullptr);
    EXPECT_TRUE(screen->libraryColumn()->explorePanel()->isVisible());
    EXPECT_FALSE(history->isVisible());

    // Pages: the list has every page, and a click on one shows it.
    QTest::mouseClick(screen->rail()->button(LibraryPanel::document), Qt::LeftButton);
    auto* table = screen->findChild<PageTableView*>();
    ASSERT_NE(table, nullptr);
    ASSERT_TRUE(table->isVisible());
    ASSERT_EQ(table->model()->rowCount(), 3);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(table->model()->index(2, 0)).center());
    EXPECT_TRUE(testsupport::waitFor([&] { return view->currentPageIndex() == 2; }));
}

TEST(WindowFillIn, TheSidebarsListComesAfterTheFirstPaintWithoutMovingThePages)
{
    Controller c;
    const QString path = c.h.write("paper.pdf", titledPdf("A Paper on Birds", 4));
    DocumentWindow* window = c.controller.openDocument(path);
    ASSERT_NE(window, nullptr);
    ViewerScreen* screen = window->screen();
    QuarnPDFView* view = screen->pageViewHost()->view();
    auto* pane = screen->findChild<SidebarPane*>();
    ASSERT_NE(pane, nullptr);
    ASSERT_FALSE(screen->filledIn());
    // The sidebar stands at its width with its tabs; its list waits.
    EXPECT_TRUE(pane->isVisible());
    EXPECT_EQ(pane->content(), nullptr);
    // Across: the window's own height is fitted to the screen once shown.
    const int pagesLeft = view->mapTo(window, QPoint(0, 0)).x();
    const int pagesWidth = view->width();

    ASSERT_TRUE(testsupport::waitFor([&] { return screen->filledIn(); }));
    auto* table = screen->findChild<PageTableView*>();
    ASSERT_NE(table, nullptr);
    EXPECT_TRUE(table->isVisible());
    EXPECT_EQ(table->model()->rowCount(), 4);
    EXPECT_EQ(view->mapTo(window, QPoint(0, 0)).x(), pagesLeft);
    EXPECT_EQ(view->width(), pagesWidth);
}

TEST(WindowFillIn, APanelChosenBeforeTheFirstPaintIsMadeAtOnce)
{
    Controller c;
    const QString path = c.h.write("paper.pdf", titledPdf("A Paper on Birds", 2));
    DocumentWindow* window = c.controller.openDocument(path);
    ASSERT_NE(window, nullptr);
    ViewerScreen* screen = window->screen();
    ASSERT_FALSE(screen->filledIn());
    QTest::mouseClick(screen->rail()->button(LibraryPanel::history), Qt::LeftButton);
    ASSERT_NE(screen->libraryColumn()->historyPanel(), nullptr);
    EXPECT_TRUE(screen->libraryColumn()->historyPanel()->isVisible());
}
