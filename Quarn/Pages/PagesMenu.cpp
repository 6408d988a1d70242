#include "Quarn/Pages/PagesMenu.h"
#include "Quarn/Pages/PagePanels.h"
#include "Quarn/Pages/PagesModel.h"

#include "Quarn/History/LibraryMenuItems.h"
#include "Quarn/Shell/QuarnCommands.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Pages/PageEditor.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include <functional>

namespace quarn {

namespace Keys = quarnkit::KeyboardShortcuts;
using quarnkit::ShortcutCommand;
namespace PageEditor = quarnkit::PageEditor;

PageCommands::PageCommands(QuarnCommands& commands, ViewerModel* viewer, QObject* parent)
    : QObject(parent), viewer_(viewer)
{
    // A child of the bar, like the other menus, so the window holds its items.
    QMenu* view = commands.menu(tr("View"));
    menu_ = new QMenu(tr("&Pages"), view ? view->parentWidget() : nullptr);
    const auto item = [this](const QString& title, std::optional<ShortcutCommand> command,
                             std::function<void(ViewerModel&)> run) {
        QAction* action = menu_->addAction(title);
        if (command) action->setShortcuts(Keys::keys(*command));
        connect(action, &QAction::triggered, this, [this, run = std::move(run)] {
            // The model as it is now, not as it was when the menu was built.
            if (const QPointer<ViewerModel> viewer = viewer_) run(*viewer);
            refresh();
        });
        return action;
    };
    rotateLeft_ = item(tr("Rotate Left"), ShortcutCommand::rotateLeft,
                       [](ViewerModel& m) { PagesModel::of(m).rotatePages(-90); });
    rotateRight_ = item(tr("Rotate Right"), ShortcutCommand::rotateRight,
                        [](ViewerModel& m) { PagesModel::of(m).rotatePages(90); });
    menu_->addSeparator();
    insertBlank_ = item(tr("Insert Blank Page"), ShortcutCommand::insertBlankPage,
                        [](ViewerModel& m) { PagesModel::of(m).insertBlankPage(); });
    insertFile_ = item(tr("Insert Pages from File…"), ShortcutCommand::insertPagesFromFile,
                       [this](ViewerModel& m) { askForPagesToInsert(m, menu_->parentWidget()); });
    duplicate_ = item(PageEditor::title(tr("Duplicate"), 1, false), std::nullopt,
                      [](ViewerModel& m) { PagesModel::of(m).duplicatePages(); });
    menu_->addSeparator();
    extract_ = item(PageEditor::title(tr("Extract"), 1, true), std::nullopt,
                    [this](ViewerModel& m) { askWhereToExtract(m, menu_->parentWidget()); });
    menu_->addSeparator();
    // No key: in the window Delete belongs to whatever has the focus (a mark,
    // a field), and deletes pages only in the page list, whose own menu shows it.
    delete_ = item(PageEditor::title(tr("Delete"), 1, false), std::nullopt,
                   [](ViewerModel& m) { PagesModel::of(m).deletePages(); });

    commands.insertMenu(menu_);
    addSidebarToggles(commands);
    connect(menu_, &QMenu::aboutToShow, this, &PageCommands::refresh);
    if (viewer) {
        connect(viewer, &ViewerModel::changed, this, &PageCommands::refresh);
        connect(&PagesModel::of(*viewer), &PagesModel::changed, this, &PageCommands::refresh);
        watchDocument();
    }
    refresh();
}

void PageCommands::addSidebarToggles(QuarnCommands& commands)
{
    QMenu* view = commands.menu(tr("View"));
    QAction* sidebar = commands.action(ShortcutCommand::toggleSidebar);
    if (!view) return;
    // Right after Show Sidebar, as a group of its own.
    const QList<QAction*> items = view->actions();
    const int at = int(items.indexOf(sidebar));
    QAction* before = at >= 0 && at + 1 < items.size() ? items[at + 1] : nullptr;
    view->insertSeparator(before);
    const ShortcutCommand keys[] = {ShortcutCommand::sidebarPages, ShortcutCommand::sidebarOutline,
                                    ShortcutCommand::sidebarMarks};
    for (size_t i = 0; i < quarnkit::allSidebarTabs.size(); ++i) {
        const quarnkit::SidebarTab tab = quarnkit::allSidebarTabs[i];
        auto* toggle = new QAction(quarnkit::title(tab), this);
        toggle->setCheckable(true);
        toggle->setShortcuts(Keys::keys(keys[i]));
        // Choosing the tab already on leaves the sidebar shown.
        connect(toggle, &QAction::triggered, this, [this, tab] {
            if (viewer_) PagesModel::of(*viewer_).chooseSidebarTab(tab);
            refresh();
        });
        view->insertAction(before, toggle);
        tabs_[tab] = toggle;
    }
    // The library panels' items follow the tabs, as a group of their own.
    new LibraryMenuItems(view, before, viewer_.data(), this);
}

PageCommands::~PageCommands() { delete menu_.data(); }

void PageCommands::watchDocument()
{
    // Pages that come and go change the titles and the enabled states.
    disconnect(documentConnection_);
    if (viewer_ && viewer_->document())
        documentConnection_ =
            connect(viewer_->document(), &quarnkit::QuarnDocument::generationChanged, this, &PageCommands::refresh);
}

void PageCommands::refresh()
{
    ViewerModel* viewer = viewer_.data();
    const quarnkit::QuarnDocument* document = viewer ? viewer->document() : nullptr;
    const int n = viewer ? std::max<int>(1, int(PagesModel::of(*viewer).pageTargets().size())) : 1;
    const bool ready = viewer && PagesModel::of(*viewer).canEditPages();
    // Inserting stays possible without pages, where no page view is built:
    // it is the only way out of that state.
    const bool insertable = viewer && document && !document->isLocked();
    for (QAction* action : {rotateLeft_, rotateRight_, duplicate_, extract_}) action->setEnabled(ready);
    insertBlank_->setEnabled(insertable);
    insertFile_->setEnabled(insertable);
    delete_->setEnabled(viewer && PagesModel::of(*viewer).canDeletePages());
    for (const auto& [tab, toggle] : tabs_) {
        toggle->setEnabled(viewer != nullptr);
        toggle->setChecked(viewer && PagesModel::of(*viewer).sidebar()
                           && PagesModel::of(*viewer).libraryPanel() == LibraryPanel::document
                           && PagesModel::of(*viewer).sidebarTab() == tab);
    }
    duplicate_->setText(PageEditor::title(tr("Duplicate"), n, false));
    extract_->setText(PageEditor::title(tr("Extract"), n, true));
    delete_->setText(PageEditor::title(tr("Delete"), n, false));
}

} // namespace quarn
