#include "QuarnKit/Document/DocumentCommand.h"

#include "QuarnKit/Document/DocumentEngine.h"

#include <QObject>
#include <QTimer>

namespace quarnkit {

DocumentCommand::DocumentCommand(QuarnDocument& document, const QString& name)
    : QUndoCommand(name), document_(&document)
{}

bool DocumentCommand::push(DocumentCommand* command)
{
    QuarnDocument* document = command->document();
    if (!document) {
        delete command;
        return false;
    }
    const auto firstRun = command->firstRun_ = std::make_shared<FirstRun>();
    document->undoStack().push(command); // may delete the command
    if (firstRun->error) std::rethrow_exception(firstRun->error);
    return firstRun->changed;
}

void DocumentCommand::undo() { run(false); }

void DocumentCommand::redo()
{
    if (const std::shared_ptr<FirstRun> first = std::exchange(firstRun_, nullptr)) {
        // The push: what fails or changes nothing stays off the stack.
        try {
            first->changed = document_ && !document_->isLocked() && apply(*document_, true);
        } catch (...) {
            first->error = std::current_exception();
        }
        if (!first->changed) setObsolete(true);
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
        // A document that no longer takes the change keeps what it has, which
        // is no longer the state the stack claims: the steps around this one
        // would act on the wrong pages and marks, so the history goes once the
        // stack is done with this step, and the file counts as out of date.
        QuarnDocument* document = document_.data();
        document->noteUnrecordedEdit(std::nullopt);
        QTimer::singleShot(0, document, [document] { document->undoStack().clear(); });
        emit document->stepFailed(text(), !forward);
    }
}

DocumentInfoCommand::DocumentInfoCommand(QuarnDocument& document, DocumentAttributes before, DocumentAttributes after)
    : DocumentCommand(document, QObject::tr("Document Info")), before_(std::move(before)), after_(std::move(after))
{}

bool DocumentInfoCommand::apply(QuarnDocument& document, bool forward)
{
    writeDocumentAttributes(*pdfOf(document), forward ? after_ : before_);
    document.noteEdit(std::nullopt);
    return true;
}

} // namespace quarnkit
