#include "QuarnKit/Pages/PageEditCommand.h"

#include "QuarnKit/Document/DocumentEngine.h"

namespace quarnkit {

PageEditCommand::PageEditCommand(QuarnDocument& document, Make make, Name name, FollowUp followUp)
    : DocumentCommand(document, QString()), make_(std::move(make)), name_(std::move(name)),
      followUp_(std::move(followUp))
{}

bool PageEditCommand::apply(QuarnDocument& document, bool forward)
{
    if (make_) {
        // The first redo: the pages are picked in the document as it is now.
        const std::optional<PageEdit> made = std::exchange(make_, nullptr)(*pdfOf(document));
        if (!made) return false;
        edit_ = *made;
        setText(name_(edit_));
        document.noteEdit(std::nullopt);
        return true;
    }
    const PageEdit edit = forward ? edit_ : edit_.inverse();
    edit.apply(*pdfOf(document));
    document.noteEdit(std::nullopt);
    if (followUp_) followUp_(edit);
    return true;
}

} // namespace quarnkit
