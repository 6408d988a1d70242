#include "Quarn/History/LibraryMenuItems.h"

#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Welcome/WelcomeController.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QAction>
#include <QMenu>

namespace quarn {

using quarnkit::LibraryPanel;
using quarnkit::ShortcutCommand;

LibraryMenuItems::LibraryMenuItems(QMenu* menu, QAction* before, ViewerModel* viewer, QObject* parent)
    : QObject(parent), viewer_(viewer)
{
    menu->insertSeparator(before);
    history_ = add(menu, before, tr("History"), LibraryPanel::history);
    explore_ = add(menu, before, tr("Explore"), LibraryPanel::explore);
    if (viewer_) connect(&PagesModel::of(*viewer_), &PagesModel::changed, this, &LibraryMenuItems::refresh);
    refresh();
}

QAction* LibraryMenuItems::add(QMenu* menu, QAction* before, const QString& title, LibraryPanel panel)
{
    auto* action = new QAction(title, menu);
    action->setCheckable(true);
    action->setShortcuts(quarnkit::KeyboardShortcuts::keys(panel == LibraryPanel::history ? ShortcutCommand::history
                                                                                          : ShortcutCommand::explore));
    menu->insertAction(before, action);
    connect(action, &QAction::triggered, this, [this, panel] {
        if (viewer_) PagesModel::of(*viewer_).toggleLibraryAndFocus(panel);
        else WelcomeController::shared().show(panel == LibraryPanel::explore);
        refresh();
    });
    return action;
}

void LibraryMenuItems::refresh()
{
    for (const auto& [action, panel] :
         {std::pair{history_, LibraryPanel::history}, std::pair{explore_, LibraryPanel::explore}})
        action->setChecked(viewer_ && PagesModel::of(*viewer_).sidebar()
                           && PagesModel::of(*viewer_).libraryPanel() == panel);
}

} // namespace quarn
