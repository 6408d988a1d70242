#include "QuarnKit/Document/DocumentCommand.h"

#include <QObject>

namespace quarnkit {

DocumentCommand::DocumentCommand(QuarnDocument& document, const QString& name, bool made, QUndoCommand* parent)
    : QUndoCommand(name, parent), document_(&document), skipRedo_(made)
{
}

void DocumentCommand::undo() { run(false); }

void DocumentCommand::redo()
{
    if (skipRedo_) {
        skipRedo_ = false; // the edit is already made
        return;
    }
    run(true);
}

void DocumentCommand::run(bool forward)
{
    if (!document_ || document_->isLocked()) return;
    try {
        apply(*document_, forward);
    } catch (const std::exception&) {
        // A document that no longer takes the change keeps what it has.
    }
}

DocumentInfoCommand::DocumentInfoCommand(QuarnDocument& document, DocumentAttributes before, DocumentAttributes after)
    : DocumentCommand(document, QObject::tr("Document Info"), false), before_(std::move(before)), after_(std::move(after))
{
}

void DocumentInfoCommand::apply(QuarnDocument& document, bool forward)
{
    writeDocumentAttributes(*document.pdf(), forward ? after_ : before_);
    document.noteEdit(std::nullopt);
}

} // namespace quarnkit
