#pragma once
// The undo steps of mark edits: a mark put on or taken off its page, its keys
// changed, the page's stacking order changed. Each makes its edit in its first
// redo, names its page by the page object and looks the page's index up when
// it runs, so a step still lands on its own page after pages moved; a step
// whose page is gone does nothing. MarkEdits.h makes and pushes them.
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Document/DocumentCommand.h"

#include <vector>

namespace quarnkit {

// A new mark: the first redo makes it and puts it on top of the page; undo
// takes it off and redo puts the same object back where it stood.
class MarkAddCommand : public DocumentCommand {
public:
    MarkAddCommand(QuarnDocument& document, PageId page, platform::PdfAnnotation mark, const QString& name);
    // The mark's object number once it is on the page.
    int object() const { return object_; }

protected:
    bool apply(QuarnDocument& document, bool forward) override;

private:
    PageId page_;
    platform::PdfAnnotation mark_;
    int object_ = 0;
    int index_ = 0; // its place in /Annots while off the page
};

// A mark taken off its page: undo puts it back at its former place in the
// stacking order (the dictionary stays in the file), redo takes it off again.
class MarkRemoveCommand : public DocumentCommand {
public:
    MarkRemoveCommand(QuarnDocument& document, PageId page, int object, const QString& name);

protected:
    bool apply(QuarnDocument& document, bool forward) override;

private:
    PageId page_;
    int object_;
    int index_ = 0;
};

// A mark's keys changed (moved, resized, restyled, retyped): redo writes the
// later value, undo the former one. Steps made with `continuesRun` fold into
// the step before them when it is of the same mark and name, so a run of
// quick changes undoes as one.
class MarkChangeCommand : public DocumentCommand {
public:
    MarkChangeCommand(QuarnDocument& document, PageId page, platform::PdfAnnotation before,
                      platform::PdfAnnotation after, const QString& name, bool continuesRun = false);

    int id() const override { return 0x4d41524b; }
    bool mergeWith(const QUndoCommand* other) override;

protected:
    bool apply(QuarnDocument& document, bool forward) override;

private:
    PageId page_;
    platform::PdfAnnotation before_, after_;
    bool continuesRun_;
};

// The page's stacking order (object numbers, popups left out) undone and redone as a whole.
class MarkOrderCommand : public DocumentCommand {
public:
    MarkOrderCommand(QuarnDocument& document, PageId page, std::vector<int> before, std::vector<int> after,
                     const QString& name);

protected:
    bool apply(QuarnDocument& document, bool forward) override;

private:
    PageId page_;
    std::vector<int> before_, after_;
};

} // namespace quarnkit
