#pragma once
// The undo step of a page edit. It is pushed after the edit was made; undo
// applies the inverse, redo the edit again, each announced as a change of the
// whole document.
#include "QuarnKit/Document/DocumentCommand.h"
#include "QuarnKit/Pages/PageEdit.h"

#include <functional>

namespace quarnkit {

class PageEditCommand : public DocumentCommand {
public:
    PageEditCommand(QuarnDocument& document, PageEdit edit, const QString& name);
    const PageEdit& edit() const { return edit_; }
    // Told, after every undo and redo, the edit just applied (the inverse on
    // undo), so a window can select and show the pages it put in.
    std::function<void(const PageEdit& applied)> followUp;

protected:
    bool apply(QuarnDocument& document, bool forward) override;

private:
    PageEdit edit_;
};

} // namespace quarnkit
