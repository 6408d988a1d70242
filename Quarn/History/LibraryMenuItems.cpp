#include "Quarn/History/LibraryMenuItems.h"

#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QAction>
#include <QMenu>

namespace quarn {

using quarnkit::LibraryPanel;

LibraryMenuItems::LibraryMenuItems(QMenu* menu, QAction* before, ViewerModel* viewer, QObject* parent)
    : QObject(parent), viewer_(viewer)
{
    menu->insertSeparator(before);
    history_ = new QAction(tr("History"), menu);
    history_->setCheckable(true);
    history_->setShortcuts(quarnkit::KeyboardShortcuts::keys(quarnkit::ShortcutCommand::history));
    menu->insertAction(before, history_);
    connect(history_, &QAction::triggered, this, [this] {
        if (viewer_) viewer_->toggleLibraryAndFocus(LibraryPanel::history);
        refresh();
    });
    if (viewer_) connect(viewer_, &ViewerModel::changed, this, &LibraryMenuItems::refresh);
    refresh();
}

void LibraryMenuItems::refresh()
{
    history_->setEnabled(viewer_ != nullptr);
    history_->setChecked(viewer_ && viewer_->sidebar() && viewer_->libraryPanel() == LibraryPanel::history);
}

} // namespace quarn
