#pragma once
// The undo steps of mark edits: a mark put on or taken off its page, its keys
// changed, the page's stacking order changed. Each names its page by the page
// object and looks the page's index up when it runs, so a step still lands on
// its own page after pages moved; a step whose page is gone does nothing.
// Each is pushed after its edit was made: the first redo changes nothing.
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Document/DocumentCommand.h"

#include <vector>

namespace quarnkit {

// A mark that came onto a page (added) or left it (removed): undo reverses,
// redo repeats. The dictionary stays in the file, so the same object returns
// to its former place in the page's stacking order.
class MarkPresenceCommand : public DocumentCommand {
public:
    // `index`: the mark's place in /Annots while on the page.
    MarkPresenceCommand(QuarnDocument& document, platform::PdfPageId page, int object, bool added, int index,
                        const QString& name, QUndoCommand* parent = nullptr);

protected:
    void apply(QuarnDocument& document, bool forward) override;

private:
    platform::PdfPageId page_;
    int object_;
    bool added_;
    int index_;
};

// A mark's keys changed (moved, resized, restyled, retyped): undo writes the
// former value back, redo the later one. Steps made with `continuesRun` fold
// into the step before them when it is of the same mark and name, so a run
// of quick changes undoes as one.
class MarkChangeCommand : public DocumentCommand {
public:
    MarkChangeCommand(QuarnDocument& document, platform::PdfPageId page, platform::PdfAnnotation before,
                      platform::PdfAnnotation after, const QString& name, bool continuesRun = false);

    int id() const override { return 0x4d41524b; }
    bool mergeWith(const QUndoCommand* other) override;

protected:
    void apply(QuarnDocument& document, bool forward) override;

private:
    platform::PdfPageId page_;
    platform::PdfAnnotation before_, after_;
    bool continuesRun_;
};

// The page's stacking order (object numbers, popups left out) undone and redone as a whole.
class MarkOrderCommand : public DocumentCommand {
public:
    MarkOrderCommand(QuarnDocument& document, platform::PdfPageId page, std::vector<int> before,
                     std::vector<int> after, const QString& name);

protected:
    void apply(QuarnDocument& document, bool forward) override;

private:
    platform::PdfPageId page_;
    std::vector<int> before_, after_;
};

} // namespace quarnkit
