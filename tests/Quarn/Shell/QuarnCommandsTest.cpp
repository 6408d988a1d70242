// The menu bar: its items, their keys from the shortcut table, their states
// with and without a document window, and the keys reaching the window's model.
#include "Quarn/App/BarsWindow.h"
#include "Quarn/Viewer/PageSteps.h"
#include "Quarn/Viewer/DocumentActions.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Find/FindModel.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Export/ExportSheet.h"
#include "Quarn/Viewer/DocumentInfoView.h"
#include "Quarn/Find/FindBar.h"
#include "Quarn/Viewer/StateMessages.h"
#include "Quarn/App/ViewerScreen.h"

#include <gtest/gtest.h>

#include <QAction>
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QUndoStack>

#include <set>

using namespace quarn;
using quarn::testing::BarsWindow;
using quarnkit::DisplayMode;
using quarnkit::ShortcutCommand;
using quarnkit::ZoomPreset;
namespace Keys = quarnkit::KeyboardShortcuts;

namespace {

QStringList menuTitles(const QMenuBar& bar)
{
    QStringList titles;
    for (QAction* action : bar.actions()) titles << action->text().remove(QLatin1Char('&'));
    return titles;
}

} // namespace

// ---------------------------------------------------------------- without a document window

TEST(QuarnCommandsTest, WithoutADocumentWindowItemsThatNeedOneAreDisabled)
{
    QMenuBar bar;
    QuarnCommands commands(&bar, nullptr);
    EXPECT_EQ(menuTitles(bar), (QStringList{"File", "Edit", "View", "Go", "Tools", "Window", "Help"}));
    for (const ShortcutCommand command :
         {ShortcutCommand::exportDocument, ShortcutCommand::copyPage, ShortcutCommand::print, ShortcutCommand::find,
          ShortcutCommand::findNext, ShortcutCommand::singlePage, ShortcutCommand::zoomIn, ShortcutCommand::fitPage,
          ShortcutCommand::slideshow, ShortcutCommand::nextPage, ShortcutCommand::goToPage, ShortcutCommand::back,
          ShortcutCommand::toggleSidebar, ShortcutCommand::undo}) {
        ASSERT_NE(commands.action(command), nullptr);
        EXPECT_FALSE(commands.action(command)->isEnabled()) << commands.action(command)->text().toStdString();
        EXPECT_FALSE(commands.action(command)->isChecked());
    }
    EXPECT_FALSE(commands.menu(QStringLiteral("Find"))->menuAction()->isEnabled());
    EXPECT_FALSE(commands.action(QStringLiteral("Pen"))->isEnabled());
    EXPECT_FALSE(commands.action(QStringLiteral("Match Case"))->isChecked());
    EXPECT_EQ(commands.action(ShortcutCommand::toggleSidebar)->text(), QStringLiteral("Show Sidebar"));
    // The application's own items stay available.
    EXPECT_TRUE(commands.action(ShortcutCommand::keyboardShortcuts)->isEnabled());
    EXPECT_TRUE(commands.action(QStringLiteral("About ravlen"))->isEnabled());
    EXPECT_TRUE(commands.action(ShortcutCommand::settings)->isEnabled());
}

TEST(QuarnCommandsTest, WelcomeIsAlwaysAvailable)
{
    // It needs no document: enabled with and without one, whatever the model does.
    QMenuBar bar;
    QuarnCommands commands(&bar, nullptr);
    EXPECT_TRUE(commands.action(ShortcutCommand::welcome)->isEnabled());
    ViewerModel model;
    QMenuBar windowBar;
    QuarnCommands windowCommands(&windowBar, &model);
    windowCommands.refresh();
    EXPECT_TRUE(windowCommands.action(ShortcutCommand::welcome)->isEnabled());
}

TEST(QuarnCommandsTest, ItemsGoDisabledWhenTheWindowsModelGoes)
{
    QMenuBar bar;
    auto model = std::make_unique<ViewerModel>();
    QuarnCommands commands(&bar, model.get());
    EXPECT_TRUE(commands.action(ShortcutCommand::find)->isEnabled());
    model.reset();
    QApplication::processEvents();
    EXPECT_FALSE(commands.action(ShortcutCommand::find)->isEnabled());
    commands.action(ShortcutCommand::find)->trigger(); // nothing to reach, nothing happens
}

// ---------------------------------------------------------------- keys from the table

TEST(QuarnCommandsTest, EveryItemTakesItsKeysFromTheShortcutTable)
{
    QMenuBar bar;
    QuarnCommands commands(&bar, nullptr);
    for (const ShortcutCommand command : {ShortcutCommand::exportDocument,
                                          ShortcutCommand::copyPage,
                                          ShortcutCommand::print,
                                          ShortcutCommand::undo,
                                          ShortcutCommand::redo,
                                          ShortcutCommand::find,
                                          ShortcutCommand::findNext,
                                          ShortcutCommand::findPrevious,
                                          ShortcutCommand::toggleSidebar,
                                          ShortcutCommand::singlePage,
                                          ShortcutCommand::continuous,
                                          ShortcutCommand::twoPages,
                                          ShortcutCommand::twoPagesContinuous,
                                          ShortcutCommand::zoomIn,
                                          ShortcutCommand::zoomOut,
                                          ShortcutCommand::actualSize,
                                          ShortcutCommand::fitPage,
                                          ShortcutCommand::fitWidth,
                                          ShortcutCommand::slideshow,
                                          ShortcutCommand::nextPage,
                                          ShortcutCommand::previousPage,
                                          ShortcutCommand::firstPage,
                                          ShortcutCommand::lastPage,
                                          ShortcutCommand::goToPage,
                                          ShortcutCommand::back,
                                          ShortcutCommand::forward,
                                          ShortcutCommand::welcome,
                                          ShortcutCommand::keyboardShortcuts,
                                          ShortcutCommand::settings}) {
        ASSERT_NE(commands.action(command), nullptr);
        EXPECT_EQ(commands.action(command)->shortcuts(), Keys::keys(command))
            << commands.action(command)->text().toStdString();
    }
    // Zoom In answers to both of its keys; the menu shows the first.
    EXPECT_EQ(commands.action(ShortcutCommand::zoomIn)->shortcut(), QKeySequence(QStringLiteral("Ctrl+=")));
    // No item makes a new document.
    for (QAction* item : commands.menu(QStringLiteral("File"))->actions())
        EXPECT_NE(item->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
}

TEST(QuarnCommandsTest, FileItemsGoBeforeTheQuitGroupOfAnExistingFileMenu)
{
    QMenuBar bar;
    QMenu* file = bar.addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("Open…"));
    file->addAction(QStringLiteral("Save"));
    file->addSeparator();
    file->addAction(QStringLiteral("Quit ravlen"));
    QuarnCommands commands(&bar, nullptr);
    QStringList titles;
    for (QAction* item : file->actions()) titles << (item->isSeparator() ? QStringLiteral("-") : item->text());
    EXPECT_EQ(titles, (QStringList{"Open…", "Save", "-", "Export…", "Document Info", "Copy Page", "-",
                                   "Export as Smaller PDF…", "Export Redacted PDF…", "Export Marks Summary…", "-",
                                   "Share…", "-", "Print…", "-", "Quit ravlen"}));
    EXPECT_EQ(menuTitles(bar).count(QStringLiteral("File")), 1);
}

TEST(QuarnCommandsTest, OtherMenusStandBeforeTheWindowMenu)
{
    QMenuBar bar;
    QuarnCommands commands(&bar, nullptr);
    commands.insertMenu(new QMenu(QStringLiteral("Pages"), &bar));
    commands.insertMenu(new QMenu(QStringLiteral("Sign"), &bar));
    EXPECT_EQ(menuTitles(bar), (QStringList{"File", "Edit", "View", "Go", "Tools", "Pages", "Sign", "Window", "Help"}));
}

// ---------------------------------------------------------------- with a document window

TEST(QuarnCommandsTest, TheDisplayModeKeysReachTheWindowsModel)
{
    BarsWindow w(6);
    const std::pair<Qt::Key, DisplayMode> keys[] = {{Qt::Key_3, DisplayMode::twoPages},
                                                    {Qt::Key_1, DisplayMode::singlePage},
                                                    {Qt::Key_4, DisplayMode::twoPagesContinuous},
                                                    {Qt::Key_2, DisplayMode::continuous}};
    for (const auto& [key, mode] : keys) {
        QTest::keyClick(w.view, key, Qt::ControlModifier);
        EXPECT_EQ(w.model.displayMode(), mode);
        EXPECT_EQ(w.view->displayMode(), quarnkit::pdf(mode));
        for (const DisplayMode other : quarnkit::allDisplayModes)
            EXPECT_EQ(w.commands->action(quarnkit::title(other))->isChecked(), other == mode);
    }
}

TEST(QuarnCommandsTest, ChoosingTheMarkedModeAgainKeepsItMarked)
{
    BarsWindow w(6);
    QAction* continuous = w.commands->action(ShortcutCommand::continuous);
    w.model.setDisplayMode(DisplayMode::continuous);
    continuous->trigger();
    EXPECT_TRUE(continuous->isChecked());
    EXPECT_EQ(w.model.displayMode(), DisplayMode::continuous);
}

TEST(QuarnCommandsTest, ShowCoverSeparatelyOnlyInSpreadModes)
{
    BarsWindow w(6);
    QAction* cover = w.commands->action(QStringLiteral("Show Cover Separately"));
    w.model.setDisplayMode(DisplayMode::continuous);
    EXPECT_FALSE(cover->isEnabled());
    w.model.setDisplayMode(DisplayMode::twoPages);
    EXPECT_TRUE(cover->isEnabled());
    cover->trigger();
    EXPECT_TRUE(w.model.coverSeparately());
    EXPECT_TRUE(cover->isChecked());
    EXPECT_TRUE(w.view->displaysAsBook());
    w.model.setDisplayMode(DisplayMode::singlePage);
    EXPECT_FALSE(cover->isEnabled());
    EXPECT_TRUE(cover->isChecked()); // keeps its mark
}

TEST(QuarnCommandsTest, FindItemsFollowTheFindBar)
{
    BarsWindow w(4);
    QAction* next = w.commands->action(ShortcutCommand::findNext);
    QAction* previous = w.commands->action(ShortcutCommand::findPrevious);
    EXPECT_FALSE(next->isEnabled());
    EXPECT_FALSE(previous->isEnabled());
    QTest::keyClick(w.view, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(FindModel::of(w.model).presented());
    EXPECT_TRUE(next->isEnabled());
    EXPECT_TRUE(previous->isEnabled());

    QTest::keyClicks(w.findBar->field(), QStringLiteral("page"));
    ASSERT_TRUE(w.waitForMatches());
    QTest::keyClick(w.view, Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(FindModel::of(w.model).index(), 1);
    QTest::keyClick(w.view, Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(w.view, Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(FindModel::of(w.model).index(), 3); // wrapped

    QAction* matchCase = w.commands->action(QStringLiteral("Match Case"));
    matchCase->trigger();
    EXPECT_TRUE(FindModel::of(w.model).matchCase());
    EXPECT_TRUE(matchCase->isChecked());
    ASSERT_TRUE(w.waitForSearch());
    EXPECT_EQ(FindModel::of(w.model).count(), 0); // "page" against "Page"
}

TEST(QuarnCommandsTest, ZoomItemsAndTheirMarks)
{
    BarsWindow w(3);
    QAction* fitPage = w.commands->action(ShortcutCommand::fitPage);
    QAction* fitWidth = w.commands->action(ShortcutCommand::fitWidth);
    fitPage->trigger();
    EXPECT_TRUE(fitPage->isChecked());
    fitPage->trigger(); // the marked fit again: fits again and stays marked
    EXPECT_TRUE(fitPage->isChecked());
    QTest::keyClick(w.view, Qt::Key_8, Qt::ControlModifier);
    EXPECT_EQ(w.model.zoomFit(), ZoomPreset::fitWidth);
    EXPECT_TRUE(fitWidth->isChecked());
    EXPECT_FALSE(fitPage->isChecked());
    QTest::keyClick(w.view, Qt::Key_0, Qt::ControlModifier);
    (void)w.waitForReports();
    EXPECT_NEAR(w.view->scaleFactor(), 1.0, 0.001);
    EXPECT_FALSE(fitWidth->isChecked());
    EXPECT_FALSE(fitPage->isChecked());
}

TEST(QuarnCommandsTest, GoItemsFollowThePage)
{
    BarsWindow w(3);
    goToFirstPage(*w.view);
    QApplication::processEvents();
    w.commands->refresh();
    EXPECT_FALSE(w.commands->action(ShortcutCommand::previousPage)->isEnabled());
    EXPECT_FALSE(w.commands->action(ShortcutCommand::firstPage)->isEnabled());
    EXPECT_TRUE(w.commands->action(ShortcutCommand::nextPage)->isEnabled());
    QTest::keyClick(w.view, Qt::Key_Down, Qt::ControlModifier); // Last Page
    testsupport::waitFor([&] { return w.model.pageIndex() == 2; });
    EXPECT_EQ(w.view->currentPageIndex(), 2);
    EXPECT_FALSE(w.commands->action(ShortcutCommand::nextPage)->isEnabled());
    EXPECT_FALSE(w.commands->action(ShortcutCommand::lastPage)->isEnabled());
    w.view->goToPage(0); // a jump the history records
    testsupport::waitFor([&] { return w.model.pageIndex() == 0; });
    EXPECT_TRUE(w.commands->action(ShortcutCommand::back)->isEnabled());
    EXPECT_FALSE(w.commands->action(ShortcutCommand::forward)->isEnabled());
    w.commands->action(ShortcutCommand::back)->trigger();
    testsupport::waitFor([&] { return w.model.pageIndex() == 2; });
    EXPECT_EQ(w.view->currentPageIndex(), 2);
    EXPECT_TRUE(w.commands->action(ShortcutCommand::forward)->isEnabled());
}

TEST(QuarnCommandsTest, SidebarTitleExportToolsAndSlideshow)
{
    BarsWindow w(3);
    QAction* sidebar = w.commands->action(ShortcutCommand::toggleSidebar);
    EXPECT_EQ(sidebar->text(), QStringLiteral("Hide Sidebar"));
    PagesModel::of(w.model).setSidebar(false); // whoever changes it
    EXPECT_EQ(sidebar->text(), QStringLiteral("Show Sidebar"));
    sidebar->trigger();
    EXPECT_TRUE(PagesModel::of(w.model).sidebar());

    w.commands->action(ShortcutCommand::exportDocument)->trigger();
    EXPECT_TRUE(DocumentActions::of(w.model).exportPresented());

    w.commands->action(QStringLiteral("Highlight"))->trigger();
    EXPECT_EQ(MarkupModel::of(w.model).tool(), quarnkit::MarkupTool::highlight);

    QSignalSpy slideshow(w.commands, &QuarnCommands::slideshowRequested);
    QTest::keyClick(w.view, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(slideshow.count(), 1);
}

TEST(QuarnCommandsTest, UndoAndRedoFollowTheWindowsStack)
{
    QMenuBar bar;
    QuarnCommands commands(&bar, nullptr);
    QUndoStack stack;
    commands.setUndoStack(&stack);
    QAction* undo = commands.action(ShortcutCommand::undo);
    EXPECT_FALSE(undo->isEnabled());
    int value = 0;
    struct Step : QUndoCommand {
        int& value;
        explicit Step(int& v) : QUndoCommand(QStringLiteral("Move")), value(v) {}
        void redo() override { ++value; }
        void undo() override { --value; }
    };
    stack.push(new Step(value));
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_EQ(undo->text(), QStringLiteral("Undo Move"));
    undo->trigger();
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(commands.action(ShortcutCommand::redo)->isEnabled());
    EXPECT_EQ(commands.action(ShortcutCommand::redo)->text(), QStringLiteral("Redo Move"));
}

// ---------------------------------------------------------------- in a document window

TEST(QuarnCommandsTest, ADocumentWindowHasTheMenusTheFindBarAndTheStatusBar)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("words.pdf"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(testsupport::makeTextPdf(3, "Cat cat concat cats"));
    }
    DocumentController controller;
    DocumentWindow* window = controller.openDocument(path);
    ASSERT_NE(window, nullptr);
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    ASSERT_TRUE(testsupport::waitFor([&] { return menuTitles(*window->menuBar()).contains(QStringLiteral("Help")); }));
    EXPECT_EQ(menuTitles(*window->menuBar()).mid(0, 5), (QStringList{"File", "Edit", "View", "Go", "Tools"}));
    // Each menu opens with Alt and a letter of its own, the Pages menu with Alt+P.
    std::set<int> letters;
    for (QAction* action : window->menuBar()->actions())
        letters.insert(QKeySequence::mnemonic(action->text())[0].toCombined());
    EXPECT_EQ(letters.size(), window->menuBar()->actions().size());
    EXPECT_FALSE(letters.count(0));
    QTest::keyClick(window->windowHandle(), Qt::Key_P, Qt::AltModifier);
    QMenu* menu = nullptr;
    ASSERT_TRUE(testsupport::waitFor([&] { return menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()); }));
    EXPECT_EQ(menu->title(), "&Pages");
    menu->close();

    ViewerScreen* bars = window->screen();
    ASSERT_NE(bars, nullptr);
    EXPECT_TRUE(bars->statusBar()->isVisible());
    EXPECT_EQ(bars->statusBar()->pageTotal(), 3);
    EXPECT_FALSE(bars->findBar()->isVisible());

    QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_TRUE(bars->findBar()->isVisible());
    QTest::keyClicks(bars->findBar()->field(), QStringLiteral("cat"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return bars->findBar()->countLabel()->text() == QStringLiteral("1 of 12"); }, 10000));
    QTest::keyClick(bars->findBar()->field(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(bars->findBar()->countLabel()->text(), QStringLiteral("12 of 12"));
    window->close();
    QApplication::processEvents();
}

TEST(QuarnCommandsTest, TheWindowMenuListsTheOpenWindowsAndBringsOneForward)
{
    QTemporaryDir dir;
    DocumentController controller;
    std::vector<DocumentWindow*> windows;
    for (const char* name : {"first.pdf", "second.pdf"}) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(testsupport::makeTextPdf(1));
        file.close();
        windows.push_back(controller.openDocument(path));
        ASSERT_NE(windows.back(), nullptr);
    }
    // The window opened last is in front.
    ASSERT_TRUE(testsupport::waitFor([&] { return QApplication::activeWindow() == windows[1]; }));

    // Alt+W opens its Window menu.
    QTest::keyClick(windows[1]->windowHandle(), Qt::Key_W, Qt::AltModifier);
    QMenu* menu = nullptr;
    ASSERT_TRUE(testsupport::waitFor([&] { return menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()); }));
    std::map<QString, QAction*> items;
    QStringList titles;
    for (QAction* item : menu->actions()) items[item->text()] = item, titles << item->text();
    // By title, then the separator and Welcome.
    EXPECT_EQ(titles, (QStringList{"first.pdf", "second.pdf", "", "Welcome to ravlen"}));
    ASSERT_TRUE(items.count(QStringLiteral("first.pdf")) && items.count(QStringLiteral("second.pdf")));
    EXPECT_FALSE(items[QStringLiteral("first.pdf")]->isChecked());
    EXPECT_TRUE(items[QStringLiteral("second.pdf")]->isChecked());
    EXPECT_TRUE(items.count(QStringLiteral("Welcome to ravlen")));

    // Choosing the other one brings it forward, even from minimised.
    windows[0]->showMinimized();
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(items[QStringLiteral("first.pdf")]).center());
    EXPECT_TRUE(testsupport::waitFor([&] { return QApplication::activeWindow() == windows[0]; }));
    EXPECT_FALSE(windows[0]->isMinimized());
    controller.closeAll();
}

TEST(QuarnCommandsTest, ExportItemsAskForTheSheetWithTheirFormat)
{
    BarsWindow w(3);
    // Without a document the item only beeps.
    w.commands->action(QStringLiteral("Export Redacted PDF…"))->trigger();
    EXPECT_FALSE(DocumentActions::of(w.model).exportPresented());
    quarnkit::QuarnDocument document(platform::PdfDocument::openBytes(testsupport::makeTextPdf(3)));
    w.model.setDocument(&document);
    const std::pair<const char*, quarnkit::ExportFormat> items[] = {
        {"Export as Smaller PDF…", quarnkit::ExportFormat::smallerPDF},
        {"Export Redacted PDF…", quarnkit::ExportFormat::redactedPDF},
        {"Export Marks Summary…", quarnkit::ExportFormat::marksSummary}};
    for (const auto& [title, format] : items) {
        DocumentActions::of(w.model).setExportPresented(false);
        w.commands->action(QString::fromUtf8(title))->trigger();
        EXPECT_TRUE(DocumentActions::of(w.model).exportPresented()) << title;
        EXPECT_EQ(DocumentActions::of(w.model).exportPreset(), format) << title;
    }
    QAction* info = w.commands->action(ShortcutCommand::documentInfo);
    info->trigger();
    EXPECT_TRUE(DocumentActions::of(w.model).infoPresented());
    w.model.setDocument(nullptr);
}

TEST(QuarnCommandsTest, ALockedWindowOffersViewerCommandsOnlyOnceUnlocked)
{
    DocumentController controller;
    controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    DocumentWindow* window =
        controller.openDocument(QString::fromStdString(testsupport::corpusPath("libreoffice-writer-password.pdf")));
    ASSERT_NE(window, nullptr);
    QApplication::setActiveWindow(window);
    (void)QTest::qWaitForWindowActive(window);
    auto* commands = window->findChild<QuarnCommands*>();
    ASSERT_NE(commands, nullptr);
    for (const ShortcutCommand command : {ShortcutCommand::find, ShortcutCommand::print, ShortcutCommand::zoomIn})
        EXPECT_FALSE(commands->action(command)->isEnabled()) << int(command);

    // Ctrl+F on the password screen opens no find bar.
    QTest::keyClick(window->windowHandle(), Qt::Key_F, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_FALSE(FindModel::of(window->screen()->model()).presented());

    // Export… opens the sheet, which says the PDF must be unlocked and offers no export.
    ASSERT_TRUE(commands->action(ShortcutCommand::exportDocument)->isEnabled());
    QTest::keyClick(window->windowHandle(), Qt::Key_E, Qt::ControlModifier);
    ExportSheet* sheet = nullptr;
    ASSERT_TRUE(
        testsupport::waitFor([&] { return (sheet = window->findChild<ExportSheet*>()) && sheet->isVisible(); }));
    EXPECT_EQ(sheet->validation()->text(), QStringLiteral("Unlock the PDF to export it."));
    EXPECT_FALSE(sheet->exportButton()->isEnabled());
    QTest::keyClick(sheet->windowHandle(), Qt::Key_Escape);
    ASSERT_TRUE(
        testsupport::waitFor([&] { return !DocumentActions::of(window->screen()->model()).exportPresented(); }));
    QApplication::setActiveWindow(window); // the sheet had the keys while it showed

    LockedGate* gate = window->screen()->gate();
    ASSERT_NE(gate, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return gate->field()->hasFocus(); }));
    for (const char key : std::string("openpassword")) QTest::keyClick(window->windowHandle(), key);
    QTest::keyClick(window->windowHandle(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return window->screen()->content() == ViewerScreen::Content::document; }));
    ASSERT_TRUE(testsupport::waitFor([&] { return commands->action(ShortcutCommand::find)->isEnabled(); }));
    QTest::keyClick(window->windowHandle(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(
        testsupport::waitFor([&] { return window->screen()->findBar() && window->screen()->findBar()->isVisible(); }));
    window->close();
    QApplication::processEvents();
}

// The shortcuts window lists every key of the table: each menu key of it
// runs an item of the document window's menus.
TEST(QuarnCommandsTest, EveryMenuKeyOfTheTableRunsACommand)
{
    DocumentController controller;
    controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    DocumentWindow* window =
        controller.openDocument(QString::fromStdString(testsupport::corpusPath("pdflatex-4-pages.pdf")));
    ASSERT_NE(window, nullptr);
    // The keys a document window's items answer to: its own, and those of
    // the menus in its bar, which the bar does not own.
    QList<QKeySequence> boundKeys;
    QList<QAction*> actions = window->findChildren<QAction*>();
    for (QAction* item : window->menuBar()->actions())
        if (item->menu()) actions += item->menu()->findChildren<QAction*>();
    for (QAction* action : actions)
        for (const QKeySequence& key : action->shortcuts()) boundKeys.append(key);

    for (const quarnkit::Shortcut& entry : Keys::table()) {
        if (entry.context != quarnkit::ShortcutContext::window
            && entry.context != quarnkit::ShortcutContext::application)
            continue;
        for (const QKeySequence& key : entry.keys)
            EXPECT_TRUE(boundKeys.contains(key)) << "listed but not bound: " << key.toString().toStdString();
    }
    window->close();
    QApplication::processEvents();
}

TEST(QuarnCommandsTest, CtrlITogglesDocumentInfo)
{
    DocumentController controller;
    controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    DocumentWindow* window =
        controller.openDocument(QString::fromStdString(testsupport::corpusPath("pdflatex-4-pages.pdf")));
    ASSERT_NE(window, nullptr);
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    // Partly off the screen's left edge: the screen would leave the panel room past the window's right edge.
    window->move(-200, 0);
    QApplication::processEvents();
    QTest::keyClick(window->windowHandle(), Qt::Key_I, Qt::ControlModifier);
    EXPECT_TRUE(testsupport::waitFor([&] { return DocumentActions::of(window->screen()->model()).infoPresented(); }));
    // The panel opens under its button, within the window.
    DocumentInfoPopover* popover = nullptr;
    ASSERT_TRUE(testsupport::waitFor([&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* p = qobject_cast<DocumentInfoPopover*>(w); p && p->isVisible()) popover = p;
        return popover != nullptr;
    }));
    EXPECT_GE(popover->frameGeometry().left(), window->frameGeometry().left());
    EXPECT_LE(popover->frameGeometry().right(), window->frameGeometry().right());
    QTest::keyClick(popover->windowHandle(), Qt::Key_I, Qt::ControlModifier);
    EXPECT_TRUE(testsupport::waitFor([&] { return !DocumentActions::of(window->screen()->model()).infoPresented(); }));
    window->close();
    QApplication::processEvents();
}
