#pragma once
// The undo steps of mark edits in the page view. Each acts on one mark of one
// page by its object number and tells its owner what changed, so the page is
// redrawn and the document hears of the edit. A step is pushed after its edit
// was made: its first redo, run by the push, changes nothing.
#include "Platform/PdfAnnotations.h"

#include <QUndoCommand>

#include <functional>
#include <memory>

namespace quarn {

// Told after a step changed a page: the page, the mark and whether the mark
// is now off the page.
using MarkChanged = std::function<void(int page, int object, bool gone)>;

// A mark that came onto a page (added) or left it (removed): undo reverses,
// redo repeats. The dictionary stays in the file, so the same object returns
// to its former place in the page's stacking order.
class MarkPresenceCommand : public QUndoCommand {
public:
    MarkPresenceCommand(std::weak_ptr<platform::PdfDocument> document, int page, int object, bool added,
                        int index, const QString& name, MarkChanged changed, QUndoCommand* parent = nullptr);

    void undo() override;
    void redo() override;

private:
    void setPresent(bool present);

    std::weak_ptr<platform::PdfDocument> document_;
    int page_, object_;
    bool added_;
    int index_; // its place in /Annots while on the page
    MarkChanged changed_;
    bool pushed_ = false;
};

// A mark's keys changed (moved, resized, nudged): undo writes the former
// value back, redo the later one. Steps made with `continuesRun` fold into the
// step before them when it is of the same mark, so a run undoes as one.
class MarkChangeCommand : public QUndoCommand {
public:
    MarkChangeCommand(std::weak_ptr<platform::PdfDocument> document, int page, platform::PdfAnnotation before,
                      platform::PdfAnnotation after, const QString& name, MarkChanged changed, bool continuesRun = false);

    void undo() override;
    void redo() override;
    int id() const override { return 0x4d41524b; }
    bool mergeWith(const QUndoCommand* other) override;

private:
    void write(const platform::PdfAnnotation& value);

    std::weak_ptr<platform::PdfDocument> document_;
    int page_;
    platform::PdfAnnotation before_, after_;
    MarkChanged changed_;
    bool continuesRun_;
    bool pushed_ = false;
};

} // namespace quarn
