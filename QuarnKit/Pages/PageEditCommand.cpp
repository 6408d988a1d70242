#include "QuarnKit/Pages/PageEditCommand.h"

#include "QuarnKit/Document/DocumentEngine.h"

namespace quarnkit {

namespace {

// What an applied edit did, as the document tells it.
PagesEdit told(const PageEdit& applied)
{
    PagesEdit edit;
    edit.placed = applied.insertedIndexes();
    for (const PageRotation& rotation : applied.rotations) edit.turned.push_back(rotation.page);
    return edit;
}

} // namespace

PageEditCommand::PageEditCommand(QuarnDocument& document, Make make, Name name)
    : DocumentCommand(document, QString()), make_(std::move(make)), name_(std::move(name))
{}

bool PageEditCommand::apply(QuarnDocument& document, bool forward)
{
    if (make_) {
        // The first redo: the pages are picked in the document as it is now.
        const std::optional<PageEdit> made = std::exchange(make_, nullptr)(*pdfOf(document));
        if (!made) return false;
        edit_ = *made;
        setText(name_(edit_));
        document.notePagesEdit(told(edit_));
        return true;
    }
    const PageEdit edit = forward ? edit_ : edit_.inverse();
    edit.apply(*pdfOf(document));
    document.notePagesEdit(told(edit));
    return true;
}

} // namespace quarnkit
