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

namespace quarnkit {

class DocumentCommand : public QUndoCommand {
public:
    void undo() final;
    void redo() final;

protected:
    // `made`: the edit was made before the step is pushed, so the first redo
    // (run by the push) changes nothing.
    DocumentCommand(QuarnDocument& document, const QString& name, bool made, QUndoCommand* parent = nullptr);
    // Puts the earlier state back (forward false) or the later one. Called
    // only while the document exists and is unlocked.
    virtual void apply(QuarnDocument& document, bool forward) = 0;
    QuarnDocument* document() const { return document_.data(); }

private:
    void run(bool forward);
    QPointer<QuarnDocument> document_;
    bool skipRedo_;
};

// One edit of the document's attributes (Title, Author, …): a whole-document edit.
class DocumentInfoCommand : public DocumentCommand {
public:
    DocumentInfoCommand(QuarnDocument& document, DocumentAttributes before, DocumentAttributes after);

protected:
    void apply(QuarnDocument& document, bool forward) override;

private:
    DocumentAttributes before_, after_;
};

} // namespace quarnkit
