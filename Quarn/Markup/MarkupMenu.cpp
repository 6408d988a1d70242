#include "Quarn/Markup/MarkupMenu.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Markup/MarkClipboardCommands.h"
#include "Quarn/Markup/MarkupModel.h"

#include "Quarn/Viewer/QuarnPDFView.h"
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
                             std::function<void(QuarnPDFView&)> run) {
        auto* action = new QAction(title, this);
        if (command) action->setShortcuts(Keys::keys(*command));
        connect(action, &QAction::triggered, this, [this, run = std::move(run)] {
            // Nothing once the window's model or its page view is gone.
            if (const QPointer<ViewerModel> viewer = viewer_)
                if (QuarnPDFView* view = viewer->pdfView()) run(*view);
            refresh();
        });
        return action;
    };
    duplicate_ = item(tr("Duplicate"), ShortcutCommand::duplicateMark,
                      [](QuarnPDFView& v) { duplicateSelection(MarkEditor::of(v)); });
    delete_ = item(tr("Delete Mark"), std::nullopt,
                   [](QuarnPDFView& v) { MarkEditor::of(v).removeSelection(QStringLiteral("Delete")); });
    front_ = item(tr("Bring to Front"), ShortcutCommand::bringToFront,
                  [](QuarnPDFView& v) { MarkEditor::of(v).reorderSelection(true); });
    back_ = item(tr("Send to Back"), ShortcutCommand::sendToBack,
                 [](QuarnPDFView& v) { MarkEditor::of(v).reorderSelection(false); });

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
