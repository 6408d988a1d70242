// The Explore column as a user meets it: a search over a stand-in index,
// keys to the window, clicks on chips, rows and menus, and the window's
// Ctrl+Alt+F.
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/Design/ChromeMenuButton.h"
#include "Quarn/Design/ChromeSegmented.h"
#include "Quarn/Explore/ExploreControls.h"
#include "Quarn/Explore/ExploreList.h"
#include "Quarn/Explore/ExplorePanel.h"
#include "Quarn/History/HistoryHooks.h"
#include "Quarn/Shell/WindowEvents.h"
#include "Quarn/History/HistoryPanel.h"
#include "Quarn/History/LibraryColumn.h"
#include "Quarn/History/LibraryThumbnails.h"
#include "Quarn/History/LibraryViews.h"
#include "Quarn/App/ViewerScreen.h"
#include "Quarn/Pages/PagesModel.h"
#include "QuarnKit/Explore/ExploreModel.h"
#include "QuarnKit/History/HistoryLibraryFixture.h"
#include "Quarn/Design/UnnamedControls.h"
#include "support/UrlCatcher.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QTest>

#include <set>

using namespace quarn;
using historytest::Library;
using historytest::titledPdf;
using quarnkit::ExploreItem;
using quarnkit::ExploreLocation;
using quarnkit::ExploreModel;

namespace {

const bool privateConfig = testsupport::usePrivateConfigDir();

// The user's folders in the scratch folder.
quarnkit::ExploreFolders foldersIn(const Library& h)
{
    const QString home = h.dir.filePath("files");
    return {home, home + "/Downloads", home + "/Desktop", home + "/Documents"};
}

// A stand-in index over these PDFs, written into the scratch folder.
std::unique_ptr<quarnkit::ExploreSource> standInIndex(const Library& h, const QStringList& names)
{
    std::vector<ExploreItem> items;
    for (const QString& name : names) {
        const QString path = h.write(name, titledPdf("x", 2));
        items.push_back(ExploreItem::make(path, std::nullopt, std::nullopt, 2, QFileInfo(path).size()));
    }
    return std::make_unique<quarnkit::FixedExploreSource>(std::move(items), 300, true, foldersIn(h));
}

// A panel over a library and a stand-in index of their own, shown as a window of its own.
struct Panel {
    Library h;
    LibraryThumbnails thumbnails{h.dir.filePath("thumbnails")};
    std::unique_ptr<ExploreModel> explore;
    std::unique_ptr<ExplorePanel> panel;
    std::vector<QString> opened;
    std::set<QString> refused; // paths the document system fails to open

    ~Panel()
    {
        testsupport::waitFor([this] { return thumbnails.idle(); }, 10000);
    }

    void show(const QStringList& names)
    {
        quarnkit::HistoryLibrary& library = h.make();
        library.opener = [this](const QString& path, std::function<void(const quarnkit::OpenOutcome&)> done) {
            if (refused.count(path)) return done({quarnkit::OpenOutcome::Kind::failed, "It is no PDF."});
            opened.push_back(path);
            done({});
        };
        explore = std::make_unique<ExploreModel>(standInIndex(h, names), true, h.defaults);
        panel = std::make_unique<ExplorePanel>(*explore, nullptr, library, nullptr, &thumbnails);
        panel->resize(ExplorePanel::columnWidth, 700);
        panel->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(panel.get()));
    }
    QWindow* window() { return panel->windowHandle(); }
    void type(const QString& text)
    {
        for (const QChar c : text) QTest::keyClick(window(), c.toLatin1());
    }
    // The titles of the rows, top to bottom, once the search has settled.
    QStringList rows()
    {
        testsupport::waitFor([this] { return explore->status() == ExploreModel::Status::ready; }, 5000);
        QStringList titles;
        const ExploreListModel* model = panel->results()->list()->exploreModel();
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->item(row)) titles << model->rowData(row).title;
        return titles;
    }
    QString emptyTitle() { return panel->results()->emptyView()->message()->title(); }
};

} // namespace

TEST(FlowRow, BreaksItsItemsIntoLinesThatFit)
{
    const struct {
        std::vector<int> widths;
        int maxWidth;
        std::vector<std::vector<int>> lines;
        int height;
    } cases[] = {
        {{}, 100, {}, 0},
        {{40, 54}, 100, {{0, 1}}, 22},          // 40 + 6 + 54: exactly the width, one line
        {{40, 55, 30}, 100, {{0}, {1, 2}}, 50}, // one more point goes to the next line
        {{150, 20}, 100, {{0}, {1}}, 50},       // too wide: a line of its own, never shrunk
        {{90, 90, 90}, -1, {{0, 1, 2}}, 22},    // no width given: one line
    };
    for (const auto& c : cases) {
        std::vector<QSize> sizes;
        for (const int width : c.widths) sizes.emplace_back(width, 22);
        const std::vector<FlowRow::Row> rows = FlowRow::rows(sizes, c.maxWidth, 6, 6);
        std::vector<std::vector<int>> lines;
        for (const FlowRow::Row& row : rows) lines.push_back(row.indices);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(rows.empty() ? 0 : rows.back().y + rows.back().height, c.height);
    }
}

TEST(ExplorePanel, SearchesAsTheUserTypesAndOpensWhatTheyPick)
{
    Panel p;
    p.show({"Downloads/tax 2023.pdf", "Documents/tax notes.pdf", "Desktop/holiday.pdf"});
    // Nothing opened lately and no words: the recents request finds nothing.
    EXPECT_EQ(p.rows(), QStringList());
    EXPECT_EQ(p.emptyTitle(), "Nothing opened lately");

    QTest::mouseClick(p.panel->searchField(), Qt::LeftButton);
    p.type("tax");
    ASSERT_TRUE(testsupport::waitFor([&] { return p.rows().size() == 2; }));
    EXPECT_EQ(p.panel->results()->summary()->text(), "2 PDFs");

    // A chip narrows the search to its folder and is the one chosen.
    QTest::mouseClick(p.panel->chip(ExploreLocation::downloads), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([&] { return p.rows() == QStringList{"tax 2023"}; }));
    EXPECT_TRUE(p.panel->chip(ExploreLocation::downloads)->isChosen());
    EXPECT_FALSE(p.panel->chip(ExploreLocation::all)->isChosen());
    EXPECT_EQ(p.h.defaults.stringValue(ExploreModel::locationKey), "downloads");

    // Words that match nothing there say so, with a hint to search the contents.
    p.type(" zz");
    ASSERT_TRUE(testsupport::waitFor([&] { return p.rows().isEmpty(); }));
    EXPECT_EQ(p.emptyTitle(), "No matches");
    EXPECT_EQ(p.panel->results()->emptyView()->message()->detail(),
              "No PDFs in Downloads match “tax zz”. Try Contents to search inside them.");
    QTest::keyClick(p.window(), Qt::Key_Return); // nothing to open
    for (int i = 0; i < 3; ++i) QTest::keyClick(p.window(), Qt::Key_Backspace);
    QTest::mouseClick(p.panel->chip(ExploreLocation::all), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([&] { return p.rows().size() == 2; }));
    EXPECT_TRUE(p.opened.empty());

    // A row that fails to open says why above the list; Return opens the
    // first row and puts the notice away.
    const QString first = p.explore->items().front().path;
    const QString second = p.explore->items().back().path;
    p.refused.insert(second);
    ExploreList* list = p.panel->results()->list();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->rowRect(1).center());
    ASSERT_TRUE(p.panel->notice()->isVisible());
    EXPECT_EQ(p.panel->notice()->problem().detail, "It is no PDF.");
    QTest::keyClick(p.window(), Qt::Key_Return);
    EXPECT_EQ(p.opened, std::vector<QString>{first});
    EXPECT_FALSE(p.panel->notice()->isVisible());

    // The row's menu; Copy Path puts the path on the clipboard.
    p.panel->showMenu(p.explore->items().front(), p.panel->mapToGlobal(QPoint(20, 300)), MenuAsked::byPointer);
    QMenu* menu = p.panel->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    QStringList items;
    for (QAction* action : menu->actions()) items << action->text();
    EXPECT_EQ(items, QStringList({"Open", "Show in Folder", "Copy Path"}));
    menu->actions()[2]->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), first);
    menu->close();
}

TEST(ExplorePanel, ModeAndSortAreChosenAndRemembered)
{
    Panel p;
    p.show({"Documents/b.pdf", "Documents/a.pdf"});
    ChromeSegmented* mode = p.panel->modeControl();
    EXPECT_EQ(mode->toolTip(), "Search file names and PDF titles.");
    const auto segments = mode->findChildren<QAbstractButton*>();
    ASSERT_EQ(segments.size(), 2);
    // Each mode's segment bears its own title, and choosing it chooses that mode.
    const struct {
        const char* title;
        quarnkit::ExploreMode mode;
        const char* help;
    } modes[] = {{"Contents", quarnkit::ExploreMode::contents, "Search names and the text inside PDFs."},
                 {"Names", quarnkit::ExploreMode::names, "Search file names and PDF titles."},
                 {"Contents", quarnkit::ExploreMode::contents, "Search names and the text inside PDFs."}};
    for (const auto& row : modes) {
        const auto titled = std::find_if(segments.begin(), segments.end(), [&](QAbstractButton* segment) {
            return segment->accessibleName() == row.title;
        });
        ASSERT_NE(titled, segments.end()) << row.title;
        QTest::mouseClick(*titled, Qt::LeftButton);
        EXPECT_EQ(p.explore->mode(), row.mode) << row.title;
        EXPECT_EQ(mode->toolTip(), row.help);
        EXPECT_EQ(quarnkit::title(row.mode), row.title);
    }

    QTest::mouseClick(p.panel->results()->sortButton(), Qt::LeftButton);
    QMenu* menu = p.panel->results()->sortButton()->openMenu();
    ASSERT_NE(menu, nullptr);
    QStringList titles;
    for (QAction* action : menu->actions()) titles << action->text() + (action->isChecked() ? "*" : "");
    EXPECT_EQ(titles, QStringList({"Last opened*", "Name", "Date added", "Size"}));
    menu->actions()[1]->trigger();
    ASSERT_TRUE(testsupport::waitFor([&] { return p.explore->sort() == quarnkit::ExploreSort::name; }));
    EXPECT_EQ(p.h.defaults.stringValue(ExploreModel::sortKey), "name");
    EXPECT_EQ(p.h.defaults.stringValue(ExploreModel::modeKey), "contents");
    // A new window's model starts with them.
    ExploreModel next(standInIndex(p.h, {}), true, p.h.defaults);
    EXPECT_EQ(next.sort(), quarnkit::ExploreSort::name);
    EXPECT_EQ(next.mode(), quarnkit::ExploreMode::contents);
}

TEST(ExploreWindow, TheExploreKeyShowsThePanelWithTheKeysInItsField)
{
    Library h;
    DocumentController controller;
    attachHistory(controller, h.make());
    controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    DocumentWindow* window = controller.openDocument(h.write("paper.pdf", titledPdf("Paper", 1)));
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    LibraryColumn* column = window->screen()->libraryColumn();
    column->exploreSource = [&] { return standInIndex(h, {"Documents/birds.pdf", "Documents/bees.pdf"}); };

    QTest::keyClick(window->windowHandle(), Qt::Key_F, Qt::ControlModifier | Qt::AltModifier);
    ExplorePanel* panel = column->explorePanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    ASSERT_TRUE(testsupport::waitFor([&] { return QApplication::focusWidget() == panel->searchField(); }));
    EXPECT_FALSE(PagesModel::of(window->screen()->model()).libraryFocusRequest()); // taken, once
    for (const char key : std::string("bir")) QTest::keyClick(window->windowHandle(), key);
    ASSERT_TRUE(testsupport::waitFor([&] { return panel->explore().items().size() == 1; }));
    EXPECT_TRUE(panel->explore().isActive());
    // Names or Contents by the arrows: the keys stay on the choice.
    for (int i = 0; i < 10 && QApplication::focusWidget()->parentWidget() != panel->modeControl(); ++i)
        QTest::keyClick(window->windowHandle(), Qt::Key_Tab);
    for (const auto mode : {quarnkit::ExploreMode::contents, quarnkit::ExploreMode::names}) {
        QTest::keyClick(window->windowHandle(), mode == quarnkit::ExploreMode::names ? Qt::Key_Left : Qt::Key_Right);
        QCoreApplication::processEvents();
        EXPECT_EQ(panel->explore().mode(), mode);
        EXPECT_EQ(QApplication::focusWidget()->parentWidget(), panel->modeControl());
    }

    // The key again hides the column, and the search stops; the words stay.
    QTest::keyClick(window->windowHandle(), Qt::Key_F, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(panel->explore().isActive());
    EXPECT_EQ(panel->explore().text(), "bir");
    // History in its place takes its own request, not Explore's.
    QTest::keyClick(window->windowHandle(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_TRUE(column->historyPanel()->isVisible());
    EXPECT_FALSE(panel->isVisible());
    EXPECT_TRUE(controller.closeAll());
    platform::UserDefaults::standard().remove(quarnkit::LibraryPanels::savedKey);
}

TEST(ExplorePanel, TheKeysAndAScreenReaderReachTheResultsAndTheLocations)
{
    Panel p;
    p.show({"Downloads/tax 2023.pdf", "Documents/tax notes.pdf"});
    QTest::mouseClick(p.panel->searchField(), Qt::LeftButton);
    p.type("tax");
    ASSERT_TRUE(testsupport::waitFor([&] { return p.rows().size() == 2; }));
    const QString first = p.explore->items().front().path;
    const QString second = p.explore->items().back().path;

    // Tab through the choices to the list, whose keys are the history list's.
    ExploreList* list = p.panel->results()->list();
    for (int i = 0; i < 20 && !list->hasFocus(); ++i) QTest::keyClick(p.window(), Qt::Key_Tab);
    ASSERT_TRUE(list->hasFocus());
    EXPECT_EQ(list->keyboardRow(), 0);
    QTest::keyClick(p.window(), Qt::Key_Down);
    QTest::keyClick(p.window(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(p.opened, std::vector<QString>{second});

    // The menu key, or Shift+F10, offers the row's menu, its first item
    // focused for a reader.
    WindowEvents::offerMenusOnShiftF10(); // as the application does as it starts
    for (const QKeyCombination keys : {QKeyCombination(Qt::Key_Menu), Qt::ShiftModifier | Qt::Key_F10}) {
        QTest::keyClick(p.window(), keys.key(), keys.keyboardModifiers());
        QMenu* menu = p.panel->findChild<QMenu*>();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(accessibletest::focusedMenuItems(menu), QStringList{"Open"});
        menu->close();
        delete menu;
    }

    // A screen reader: a named list, a button per result that opens, and Show in Folder.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(list)->role(), QAccessible::List);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(list)->text(QAccessible::Name), "Explore results");
    QAccessibleInterface* row = QAccessible::queryAccessibleInterface(list)->child(0);
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(row->text(QAccessible::Name).startsWith("tax 2023, "));
    EXPECT_EQ(row->role(), QAccessible::Button);
    ASSERT_NE(row->actionInterface(), nullptr);
    EXPECT_EQ(row->actionInterface()->actionNames(),
              QStringList({QAccessibleActionInterface::pressAction(), "Show in Folder"}));
    row->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(p.opened, (std::vector<QString>{second, first}));
    testsupport::UrlCatcher catcher;
    row->actionInterface()->doAction("Show in Folder");
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return catcher.opened() == QList<QUrl>{QUrl::fromLocalFile(QFileInfo(first).path())}; }));

    // Each location chip is one choice among four, the chosen one checked, and its action chooses it.
    const auto chip = [&](ExploreLocation location) {
        return QAccessible::queryAccessibleInterface(p.panel->chip(location));
    };
    for (const ExploreLocation chosen : {ExploreLocation::downloads, ExploreLocation::all}) {
        chip(chosen)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        ASSERT_EQ(p.explore->location(), chosen);
        for (const ExploreLocation location : quarnkit::allExploreLocations) {
            EXPECT_EQ(chip(location)->role(), QAccessible::RadioButton) << int(location);
            EXPECT_EQ(bool(chip(location)->state().checked), location == chosen) << int(location);
        }
    }
    // The locations are one stop of Tab, the chosen one; the arrows choose among them.
    const QList<QWidget*> stops = accessibletest::tabStops(p.window());
    EXPECT_EQ(std::count_if(stops.begin(), stops.end(), [](QWidget* w) { return qobject_cast<ChromeChip*>(w); }), 1);
    p.panel->chip(ExploreLocation::all)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(p.window(), Qt::Key_Right);
    EXPECT_EQ(p.explore->location(), ExploreLocation::downloads);
    EXPECT_TRUE(p.panel->chip(ExploreLocation::downloads)->hasFocus());
}
