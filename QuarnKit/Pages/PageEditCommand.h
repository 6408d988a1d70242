#pragma once
// The undo step of a page edit. Its first redo makes the edit: `make` picks
// the pages and writes them, and the step keeps the PageEdit it returns; undo
// applies the inverse and later redos the edit again. Each run is told through
// the document (notePagesEdit): where the pages it put in stand and which it
// turned, so that the window can select and show them; the step knows no
// window. PageEdits.h makes and pushes these steps.
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

    PageEditCommand(QuarnDocument& document, Make make, Name name);
    // The edit once the first redo made it.
    const PageEdit& edit() const { return edit_; }

protected:
    bool apply(QuarnDocument& document, bool forward) override;

private:
    Make make_;
    Name name_;
    PageEdit edit_;
};

} // namespace quarnkit
