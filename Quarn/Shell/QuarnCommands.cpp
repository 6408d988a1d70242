#include "Quarn/Shell/QuarnCommands.h"
#include "Quarn/Design/AccessiblePopover.h"
#include "Quarn/Viewer/DocumentActions.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Markup/MarkupModel.h"

#include "Quarn/Find/FindModel.h"
#include "Quarn/Markup/MarkupMenu.h"
#include "Quarn/Markup/Pasteboard.h"

#include "Quarn/Shell/SettingsWindow.h"
#include "Quarn/Shell/ShortcutsWindow.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/PageSteps.h"
#include "Quarn/Viewer/ReadingHistory.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Welcome/WelcomeController.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Markup/MarkupTool.h"
#include "QuarnKit/Shell/VersionTexts.h"
#include "QuarnKit/Viewer/DisplayModes.h"
#include "Quarn/Viewer/CopyPage.h"
#include "Quarn/Print/PrintJob.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>
#include <utility>
#include <QMessageBox>

namespace quarn {

using quarnkit::DisplayMode;
using quarnkit::ShortcutCommand;
using quarnkit::ZoomPreset;
namespace Keys = quarnkit::KeyboardShortcuts;

namespace {

QString plainTitle(QString title) { return title.remove(QLatin1Char('&')); }

// The menu of the bar with this title (mnemonics ignored), or none.
QMenu* existingMenu(QMenuBar* bar, const QString& title)
{
    for (QAction* action : bar->actions())
        if (action->menu() && plainTitle(action->text()) == title) return action->menu();
    return nullptr;
}

ShortcutCommand displayModeCommand(DisplayMode mode)
{
    switch (mode) {
    case DisplayMode::singlePage: return ShortcutCommand::singlePage;
    case DisplayMode::continuous: return ShortcutCommand::continuous;
    case DisplayMode::twoPages: return ShortcutCommand::twoPages;
    case DisplayMode::twoPagesContinuous: return ShortcutCommand::twoPagesContinuous;
    }
    return ShortcutCommand::continuous;
}

} // namespace

QuarnCommands::QuarnCommands(QMenuBar* bar, ViewerModel* viewer, QObject* parent)
    : QObject(parent), viewer_(viewer), bar_(bar)
{
    buildFile(bar);
    buildEdit(bar);
    buildView(bar);
    buildGo(bar);
    buildTools(bar);
    buildWindowAndHelp(bar);
    // The mark items stand in the Edit menu after its pasteboard group.
    new MarkupCommands(menu(tr("Edit")), viewer, this);
    exposeMenusOf(bar);
    watch(viewer);
    refresh();
}

QuarnCommands::~QuarnCommands() { disconnect(viewConnection_); }

void QuarnCommands::watch(ViewerModel* viewer)
{
    if (!viewer) return;
    // Whatever the models publish may change a title, a check or an enabled state.
    connect(viewer, &ViewerModel::changed, this, &QuarnCommands::refresh);
    connect(&FindModel::of(*viewer), &FindModel::changed, this, &QuarnCommands::refresh);
    connect(&MarkupModel::of(*viewer), &MarkupModel::changed, this, &QuarnCommands::refresh);
    connect(&PagesModel::of(*viewer), &PagesModel::changed, this, &QuarnCommands::refresh);
    connect(viewer, &QObject::destroyed, this, &QuarnCommands::refresh, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- items

QAction* QuarnCommands::add(QMenu* menu, const QString& title, std::optional<ShortcutCommand> command,
                            std::function<void(ViewerModel&)> run, Rule rule)
{
    auto* action = new QAction(title, this);
    if (menu) menu->addAction(action);
    if (command) {
        action->setShortcuts(Keys::keys(*command));
        byCommand_[*command] = action;
    }
    byTitle_[plainTitle(title)] = action;
    connect(action, &QAction::triggered, this, [this, run = std::move(run)] {
        // Held for the whole action: the command may close the window.
        if (const QPointer<ViewerModel> viewer = viewer_) run(*viewer);
        refresh();
    });
    rules_.emplace_back(action, std::move(rule));
    return action;
}

QAction* QuarnCommands::action(ShortcutCommand command) const
{
    const auto it = byCommand_.find(command);
    return it == byCommand_.end() ? nullptr : it->second;
}

QAction* QuarnCommands::action(const QString& title) const
{
    const auto it = byTitle_.find(title);
    return it == byTitle_.end() ? nullptr : it->second;
}

QMenu* QuarnCommands::menu(const QString& title) const
{
    const auto it = menus_.find(title);
    return it == menus_.end() ? nullptr : it->second;
}

void QuarnCommands::insertMenu(QMenu* menu)
{
    if (!bar_ || !menu) return;
    bar_->insertMenu(windowMenu_ ? windowMenu_->menuAction() : nullptr, menu);
    menus_[plainTitle(menu->title())] = menu;
    exposeMenusOf(bar_);
}

void QuarnCommands::refresh()
{
    // A locked PDF offers nothing to find, show or go to until it is unlocked.
    ViewerModel* viewer =
        viewer_ && !(viewer_->document() && viewer_->document()->isLocked()) ? viewer_.data() : nullptr;
    for (auto& [action, rule] : rules_) {
        action->setEnabled(viewer != nullptr);
        if (action->isCheckable()) action->setChecked(false);
        if (rule) rule(*action, viewer);
    }
    // Export… opens the sheet for a locked PDF too, which says it must be
    // unlocked first and offers no export.
    if (exportItem_) exportItem_->setEnabled(viewer_ != nullptr);
    // The whole submenu goes grey without a document window.
    if (findMenu_) findMenu_->menuAction()->setEnabled(viewer != nullptr);
    if (undo_) undo_->setEnabled(undoStack_ && undoStack_->canUndo());
    if (redo_) redo_->setEnabled(undoStack_ && undoStack_->canRedo());
}

// ---------------------------------------------------------------- File

void QuarnCommands::buildFile(QMenuBar* bar)
{
    QMenu* file = existingMenu(bar, tr("File"));
    QAction* before = nullptr;
    if (file) {
        // Before the last group (Quit), after the Save group.
        const QList<QAction*> actions = file->actions();
        for (auto it = actions.rbegin(); it != actions.rend(); ++it)
            if ((*it)->isSeparator()) {
                before = *it;
                break;
            }
    } else {
        file = bar->addMenu(tr("&File"));
    }
    menus_[tr("File")] = file;
    QAction* exportItem = exportItem_ = add(nullptr, tr("Export…"), ShortcutCommand::exportDocument,
                                            [](ViewerModel& v) { DocumentActions::of(v).setExportPresented(true); });
    QAction* info = add(nullptr, tr("Document Info"), ShortcutCommand::documentInfo,
                        [](ViewerModel& v) { DocumentActions::of(v).toggleInfo(); });
    // The export sheet opened with a format chosen, then sharing; the viewer
    // beeps when it has nothing to act on.
    using quarnkit::ExportFormat;
    const QList<QAction*> exportGroup = {
        add(nullptr, tr("Export as Smaller PDF…"), std::nullopt,
            [](ViewerModel& v) { DocumentActions::of(v).presentExport(ExportFormat::smallerPDF); }),
        add(nullptr, tr("Export Redacted PDF…"), std::nullopt,
            [](ViewerModel& v) { DocumentActions::of(v).presentExport(ExportFormat::redactedPDF); }),
        add(nullptr, tr("Export Marks Summary…"), std::nullopt,
            [](ViewerModel& v) { DocumentActions::of(v).presentExport(ExportFormat::marksSummary); }),
    };
    QAction* share =
        add(nullptr, tr("Share…"), std::nullopt, [](ViewerModel& v) { DocumentActions::of(v).shareCopy(); });
    QAction* copyPage = add(nullptr, tr("Copy Page"), ShortcutCommand::copyPage, [](ViewerModel& v) {
        if (QuarnPDFView* view = v.pdfView()) quarn::copyPage(*view);
    });
    QAction* print = add(nullptr, tr("Print…"), ShortcutCommand::print, [](ViewerModel& v) {
        if (QuarnPDFView* view = v.pdfView()) printing::printDocument(*view);
    });
    if (before || !file->isEmpty()) file->insertSeparator(before);
    file->insertActions(before, {exportItem, info, copyPage});
    file->insertSeparator(before);
    file->insertActions(before, exportGroup);
    file->insertSeparator(before);
    file->insertAction(before, share);
    file->insertSeparator(before);
    file->insertAction(before, print);
}

// ---------------------------------------------------------------- Edit

void QuarnCommands::setUndoStack(QUndoStack* stack)
{
    for (const QMetaObject::Connection& c : undoConnections_) disconnect(c);
    undoConnections_.clear();
    undoStack_ = stack;
    if (stack) {
        undoConnections_ << connect(stack, &QUndoStack::canUndoChanged, this, &QuarnCommands::refresh)
                         << connect(stack, &QUndoStack::canRedoChanged, this, &QuarnCommands::refresh)
                         << connect(stack, &QUndoStack::undoTextChanged, this, &QuarnCommands::refresh)
                         << connect(stack, &QUndoStack::redoTextChanged, this, &QuarnCommands::refresh);
    }
    refresh();
    // The titles name the step: "Undo Move".
    const auto retitle = [this] {
        const QString undoText = undoStack_ ? undoStack_->undoText() : QString();
        const QString redoText = undoStack_ ? undoStack_->redoText() : QString();
        undo_->setText(undoText.isEmpty() ? tr("Undo") : tr("Undo %1").arg(undoText));
        redo_->setText(redoText.isEmpty() ? tr("Redo") : tr("Redo %1").arg(redoText));
    };
    retitle();
    if (stack) {
        undoConnections_ << connect(stack, &QUndoStack::undoTextChanged, this, retitle)
                         << connect(stack, &QUndoStack::redoTextChanged, this, retitle);
    }
}

void QuarnCommands::buildEdit(QMenuBar* bar)
{
    QMenu* edit = existingMenu(bar, tr("Edit"));
    if (!edit) edit = bar->addMenu(tr("&Edit"));
    menus_[tr("Edit")] = edit;

    undo_ = edit->addAction(tr("Undo"));
    undo_->setShortcuts(Keys::keys(ShortcutCommand::undo));
    connect(undo_, &QAction::triggered, this, [this] {
        if (undoStack_) undoStack_->undo();
    });
    byCommand_[ShortcutCommand::undo] = undo_;
    redo_ = edit->addAction(tr("Redo"));
    redo_->setShortcuts(Keys::keys(ShortcutCommand::redo));
    connect(redo_, &QAction::triggered, this, [this] {
        if (undoStack_) undoStack_->redo();
    });
    byCommand_[ShortcutCommand::redo] = redo_;
    edit->addSeparator();

    // The pasteboard group: the words of the field being typed in, else the
    // selected mark, else the selected text; enabled only when it would act.
    using Pasteboard::Command;
    for (const auto& [title, key, command] : {std::tuple{tr("Cut"), ShortcutCommand::cut, Command::cut},
                                              std::tuple{tr("Copy"), ShortcutCommand::copy, Command::copy},
                                              std::tuple{tr("Paste"), ShortcutCommand::paste, Command::paste}}) {
        add(
            edit, title, key, [command](ViewerModel& v) { Pasteboard::run(command, v.pdfView()); },
            [command](QAction& a, ViewerModel* v) {
                a.setEnabled(Pasteboard::canRun(command, v ? v->pdfView() : nullptr));
            });
    }
    // What they act on changes with the focus, the selection and the clipboard.
    connect(edit, &QMenu::aboutToShow, this, &QuarnCommands::refresh);
    connect(qApp, &QApplication::focusChanged, this, &QuarnCommands::refresh);
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &QuarnCommands::refresh);
    edit->addSeparator();

    findMenu_ = edit->addMenu(tr("Find"));
    menus_[tr("Find")] = findMenu_;
    const Rule whileShown = [](QAction& a, ViewerModel* v) { a.setEnabled(v && FindModel::of(*v).presented()); };
    add(findMenu_, tr("Find…"), ShortcutCommand::find, [](ViewerModel& v) { FindModel::of(v).show(); });
    add(
        findMenu_, tr("Find Next"), ShortcutCommand::findNext, [](ViewerModel& v) { FindModel::of(v).nextMatch(); },
        whileShown);
    add(
        findMenu_, tr("Find Previous"), ShortcutCommand::findPrevious,
        [](ViewerModel& v) { FindModel::of(v).previousMatch(); }, whileShown);
    findMenu_->addSeparator();
    QAction* matchCase = add(
        findMenu_, tr("Match Case"), std::nullopt,
        [](ViewerModel& v) { FindModel::of(v).setMatchCase(!FindModel::of(v).matchCase()); },
        [](QAction& a, ViewerModel* v) { a.setChecked(v && FindModel::of(*v).matchCase()); });
    matchCase->setCheckable(true);
    QAction* wholeWords = add(
        findMenu_, tr("Whole Words"), std::nullopt,
        [](ViewerModel& v) { FindModel::of(v).setWholeWords(!FindModel::of(v).wholeWords()); },
        [](QAction& a, ViewerModel* v) { a.setChecked(v && FindModel::of(*v).wholeWords()); });
    wholeWords->setCheckable(true);

    edit->addSeparator();
    QAction* settings = edit->addAction(tr("Settings…"));
    settings->setShortcuts(Keys::keys(ShortcutCommand::settings));
    settings->setMenuRole(QAction::PreferencesRole);
    connect(settings, &QAction::triggered, this, [] { SettingsWindow::shared().show(); });
    byCommand_[ShortcutCommand::settings] = settings;
    byTitle_[tr("Settings…")] = settings;
}

// ---------------------------------------------------------------- View

void QuarnCommands::buildView(QMenuBar* bar)
{
    QMenu* view = bar->addMenu(tr("&View"));
    menus_[tr("View")] = view;
    add(
        view, tr("Show Sidebar"), ShortcutCommand::toggleSidebar,
        [](ViewerModel& v) { PagesModel::of(v).setSidebar(!PagesModel::of(v).sidebar()); },
        [](QAction& a, ViewerModel* v) {
            a.setText(v && PagesModel::of(*v).sidebar() ? tr("Hide Sidebar") : tr("Show Sidebar"));
        });
    view->addSeparator();
    for (const DisplayMode mode : quarnkit::allDisplayModes) {
        QAction* item = add(
            view, quarnkit::title(mode), displayModeCommand(mode), [mode](ViewerModel& v) { v.setDisplayMode(mode); },
            [mode](QAction& a, ViewerModel* v) { a.setChecked(v && v->displayMode() == mode); });
        item->setCheckable(true);
    }
    QAction* cover = add(
        view, tr("Show Cover Separately"), std::nullopt,
        [](ViewerModel& v) {
            v.setCoverSeparately(!v.coverSeparately());
            v.applyDisplayMode();
        },
        [](QAction& a, ViewerModel* v) {
            a.setEnabled(v && quarnkit::showsSpreads(v->displayMode()));
            a.setChecked(v && v->coverSeparately());
        });
    cover->setCheckable(true);
    view->addSeparator();
    add(view, tr("Zoom In"), ShortcutCommand::zoomIn, [](ViewerModel& v) { v.zoomIn(); });
    add(view, tr("Zoom Out"), ShortcutCommand::zoomOut, [](ViewerModel& v) { v.zoomOut(); });
    add(view, tr("Actual Size"), ShortcutCommand::actualSize, [](ViewerModel& v) { v.setZoom(1.0); });
    QAction* fitPage = add(
        view, quarnkit::title(ZoomPreset::fitPage), ShortcutCommand::fitPage, [](ViewerModel& v) { v.fitPage(); },
        [](QAction& a, ViewerModel* v) { a.setChecked(v && v->zoomFit() == ZoomPreset::fitPage); });
    fitPage->setCheckable(true);
    QAction* fitWidth = add(
        view, quarnkit::title(ZoomPreset::fitWidth), ShortcutCommand::fitWidth, [](ViewerModel& v) { v.fitWidth(); },
        [](QAction& a, ViewerModel* v) { a.setChecked(v && v->zoomFit() == ZoomPreset::fitWidth); });
    fitWidth->setCheckable(true);
    view->addSeparator();
    add(view, tr("Slideshow"), ShortcutCommand::slideshow, [this](ViewerModel&) { emit slideshowRequested(); });
}

// ---------------------------------------------------------------- Go

void QuarnCommands::buildGo(QMenuBar* bar)
{
    QMenu* go = bar->addMenu(tr("&Go"));
    menus_[tr("Go")] = go;
    const Rule canNext = [](QAction& a, ViewerModel* v) {
        a.setEnabled(v && v->pdfView() && canGoToNextPage(*v->pdfView()));
    };
    const Rule canPrevious = [](QAction& a, ViewerModel* v) {
        a.setEnabled(v && v->pdfView() && canGoToPreviousPage(*v->pdfView()));
    };
    const auto onView = [](void (*move)(QuarnPDFView&)) {
        return [move](ViewerModel& v) {
            if (QuarnPDFView* view = v.pdfView()) move(*view);
        };
    };
    add(go, tr("Next Page"), ShortcutCommand::nextPage, onView(&goToNextPage), canNext);
    add(go, tr("Previous Page"), ShortcutCommand::previousPage, onView(&goToPreviousPage), canPrevious);
    go->addSeparator();
    add(go, tr("First Page"), ShortcutCommand::firstPage, onView(&goToFirstPage), canPrevious);
    add(go, tr("Last Page"), ShortcutCommand::lastPage, onView(&goToLastPage), canNext);
    add(go, tr("Go to Page…"), ShortcutCommand::goToPage, [](ViewerModel& v) { v.focusPageField(); });
    go->addSeparator();
    add(go, tr("Back"), ShortcutCommand::back, onView([](QuarnPDFView& view) { view.history().goBack(); }),
        [](QAction& a, ViewerModel* v) { a.setEnabled(v && v->canGoBack()); });
    add(go, tr("Forward"), ShortcutCommand::forward, onView([](QuarnPDFView& view) { view.history().goForward(); }),
        [](QAction& a, ViewerModel* v) { a.setEnabled(v && v->canGoForward()); });
    // The page tests read the view, which moves before the model hears of it.
    connect(go, &QMenu::aboutToShow, this, &QuarnCommands::refresh);
}

// ---------------------------------------------------------------- Tools

void QuarnCommands::buildTools(QMenuBar* bar)
{
    QMenu* tools = bar->addMenu(tr("&Tools"));
    menus_[tr("Tools")] = tools;
    for (const quarnkit::MarkupTool tool : quarnkit::allTools)
        add(tools, quarnkit::title(tool), std::nullopt,
            [tool](ViewerModel& v) { MarkupModel::of(v).chooseTool(tool); });
}

// ---------------------------------------------------------------- Window and Help

// Every open window of the application, the current one checked: choosing
// one brings it forward, from minimised as well, as the desktop's own window
// lists do.
void QuarnCommands::listWindows()
{
    for (QAction* item : std::exchange(windowItems_, {})) {
        windowMenu_->removeAction(item);
        item->deleteLater();
    }
    const QWidget* current = bar_ ? bar_->window() : nullptr;
    // By title: the application keeps its windows in no lasting order.
    std::vector<std::pair<QString, QWidget*>> windows;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->windowType() != Qt::Window || !window->isVisible() || window->windowTitle().isEmpty()) continue;
        windows.emplace_back(window->windowTitle().remove(QStringLiteral("[*]")), window);
    }
    std::stable_sort(windows.begin(), windows.end(),
                     [](const auto& a, const auto& b) { return QString::localeAwareCompare(a.first, b.first) < 0; });
    for (const auto& [title, found] : windows) {
        QWidget* window = found;
        auto* item = new QAction(title, windowMenu_);
        item->setCheckable(window == current); // the others show no empty box
        item->setChecked(window == current);
        connect(item, &QAction::triggered, window, [window] {
            if (window->isMinimized()) window->showNormal();
            window->raise();
            window->activateWindow();
        });
        windowMenu_->insertAction(windowsEnd_, item);
        windowItems_.push_back(item);
    }
}

void QuarnCommands::buildWindowAndHelp(QMenuBar* bar)
{
    windowMenu_ = bar->addMenu(tr("&Window"));
    menus_[tr("Window")] = windowMenu_;
    // The open windows come first, listed afresh each time the menu opens.
    windowsEnd_ = windowMenu_->addSeparator();
    connect(windowMenu_, &QMenu::aboutToShow, this, &QuarnCommands::listWindows);
    // Always available: it needs no document.
    QAction* welcome = windowMenu_->addAction(tr("Welcome to ravlen"));
    welcome->setShortcuts(Keys::keys(ShortcutCommand::welcome));
    connect(welcome, &QAction::triggered, this, [] { WelcomeController::shared().show(); });
    byCommand_[ShortcutCommand::welcome] = welcome;
    byTitle_[welcome->text()] = welcome;

    QMenu* help = bar->addMenu(tr("&Help"));
    menus_[tr("Help")] = help;
    QAction* shortcuts = help->addAction(tr("Keyboard Shortcuts"));
    shortcuts->setShortcuts(Keys::keys(ShortcutCommand::keyboardShortcuts));
    connect(shortcuts, &QAction::triggered, this, [] { ShortcutsWindow::shared().show(); });
    byCommand_[ShortcutCommand::keyboardShortcuts] = shortcuts;
    byTitle_[shortcuts->text()] = shortcuts;
    help->addSeparator();
    // Linux programs keep About in the Help menu.
    QAction* about = help->addAction(tr("About ravlen"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, [this] { showAboutPanel(bar_ ? bar_->window() : nullptr); });
    byTitle_[about->text()] = about;
}

void QuarnCommands::showAboutPanel(QWidget* parent)
{
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(tr("About ravlen"));
    box->setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
    box->setText(QStringLiteral("<b>ravlen</b>"));
    box->setInformativeText(tr("Version %1 (%2)").arg(quarnkit::appShortVersion(), quarnkit::appBuildVersion())
                            + QStringLiteral("<br><br><small>%1<br>%2</small>")
                                  .arg(tr("Read, mark up, sign, and export PDFs."), tr("Made by Ombri.")));
    box->setStandardButtons(QMessageBox::Ok);
    box->setWindowModality(Qt::NonModal);
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace quarn
