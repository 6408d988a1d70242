#pragma once
// The base of every undo step of a document edit. A step acts on the document
// alone: it makes its change through the PDF layer and announces it with the
// document's noteEdit, and views hear of it from the document, never from the
// step. The document is held weakly: a step left on a stack after its
// document went does nothing.
#include "QuarnKit/Document/DocumentMetadata.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QPointer>
#include <QUndoCommand>

#include <exception>
#include <memory>

namespace quarnkit {

class DocumentCommand : public QUndoCommand {
public:
    void undo() final;
    void redo() final;

    // Pushes `command` onto its document's undo stack, where its first redo
    // makes the edit. True when the edit changed the document; a first redo
    // that changed nothing leaves no step behind, and one that failed leaves
    // none either and throws its error here.
    static bool push(DocumentCommand* command);

protected:
    DocumentCommand(QuarnDocument& document, const QString& name);
    // Puts the earlier state back (forward false) or the later one; false
    // when nothing changed. Called only while the document exists and is
    // unlocked.
    virtual bool apply(QuarnDocument& document, bool forward) = 0;
    QuarnDocument* document() const { return document_.data(); }

private:
    // What the first redo did, read by push after the stack may have dropped the step.
    struct FirstRun {
        bool changed = false;
        std::exception_ptr error;
    };
    void run(bool forward);
    QPointer<QuarnDocument> document_;
    std::shared_ptr<FirstRun> firstRun_;
};

// One edit of the document's attributes (Title, Author, …): a whole-document edit.
class DocumentInfoCommand : public DocumentCommand {
public:
    DocumentInfoCommand(QuarnDocument& document, DocumentAttributes before, DocumentAttributes after);

protected:
    bool apply(QuarnDocument& document, bool forward) override;

private:
    DocumentAttributes before_, after_;
};

} // namespace quarnkit
