#pragma once
// The undo step of a page edit. Its first redo makes the edit: `make` picks
// the pages and writes them, and the step keeps the PageEdit it returns; undo
// applies the inverse and later redos the edit again, each announced as a
// change of the whole document. PageEdits.h makes and pushes these steps.
#include "QuarnKit/Document/DocumentCommand.h"
#include "QuarnKit/Pages/PageEdit.h"

#include <functional>
#include <optional>

namespace quarnkit {

class PageEditCommand : public DocumentCommand {
public:
    // The edit made on the document, none when there was nothing to change.
    using Make = std::function<std::optional<PageEdit>(platform::PdfDocument&)>;
    // The step's name for the edit made: "Rotate 3 Pages".
    using Name = std::function<QString(const PageEdit&)>;
    // Told after every later undo and redo the edit just applied (the inverse
    // on undo), so a window can select and show the pages it put in.
    using FollowUp = std::function<void(const PageEdit& applied)>;

    PageEditCommand(QuarnDocument& document, Make make, Name name, FollowUp followUp);
    // The edit once the first redo made it.
    const PageEdit& edit() const { return edit_; }

protected:
    bool apply(QuarnDocument& document, bool forward) override;

private:
    Make make_;
    Name name_;
    FollowUp followUp_;
    PageEdit edit_;
};

} // namespace quarnkit
