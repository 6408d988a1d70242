#include "Quarn/Markup/MarkupMenu.h"
#include "Quarn/Markup/MarkupModel.h"

#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QAction>
#include <QMenu>

namespace quarn {

namespace Keys = quarnkit::KeyboardShortcuts;
using quarnkit::ShortcutCommand;

MarkupCommands::MarkupCommands(QMenu* edit, ViewerModel* viewer, QObject* parent) : QObject(parent), viewer_(viewer)
{
    const auto item = [this](const QString& title, std::optional<ShortcutCommand> command,
                             std::function<void(MarkupModel&)> run) {
        auto* action = new QAction(title, this);
        if (command) action->setShortcuts(Keys::keys(*command));
        connect(action, &QAction::triggered, this, [this, run = std::move(run)] {
            // Nothing once the window's model is gone.
            if (const QPointer<ViewerModel> viewer = viewer_) run(MarkupModel::of(*viewer));
            refresh();
        });
        return action;
    };
    duplicate_ = item(tr("Duplicate"), ShortcutCommand::duplicateMark, &MarkupModel::duplicateSelection);
    delete_ = item(tr("Delete Mark"), std::nullopt, &MarkupModel::deleteSelection);
    front_ = item(tr("Bring to Front"), ShortcutCommand::bringToFront, &MarkupModel::bringSelectionToFront);
    back_ = item(tr("Send to Back"), ShortcutCommand::sendToBack, &MarkupModel::sendSelectionToBack);

    if (edit) {
        // After the pasteboard group: right before the group that holds Find.
        QAction* before = nullptr;
        QAction* previous = nullptr;
        for (QAction* a : edit->actions()) {
            if (a->menu() && a->menu()->title() == tr("Find")) {
                before = previous && previous->isSeparator() ? previous : a;
                break;
            }
            previous = a;
        }
        edit->insertSeparator(before);
        edit->insertActions(before, {duplicate_, delete_, front_, back_});
        if (!before) edit->addSeparator();
    }
    if (viewer) connect(&MarkupModel::of(*viewer), &MarkupModel::hasSelectionChanged, this, &MarkupCommands::refresh);
    refresh();
}

void MarkupCommands::refresh()
{
    const bool selected = viewer_ && MarkupModel::of(*viewer_).hasSelection();
    for (QAction* a : {duplicate_, delete_, front_, back_}) a->setEnabled(selected);
}

} // namespace quarn
