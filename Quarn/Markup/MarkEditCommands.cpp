#include "Quarn/Markup/MarkEditCommands.h"

namespace quarn {

MarkPresenceCommand::MarkPresenceCommand(std::weak_ptr<platform::PdfDocument> document, int page, int object,
                                         bool added, int index, const QString& name, MarkChanged changed,
                                         QUndoCommand* parent)
    : QUndoCommand(name, parent), document_(std::move(document)), page_(page), object_(object), added_(added),
      index_(index), changed_(std::move(changed))
{
}

void MarkPresenceCommand::setPresent(bool present)
{
    const auto document = document_.lock();
    if (!document || page_ >= document->pageCount()) return;
    try {
        if (present) {
            platform::PdfAnnotations::insert(*document, page_, object_, index_);
        } else if (const auto index = platform::PdfAnnotations::remove(*document, page_, object_)) {
            index_ = *index;
        }
    } catch (const std::exception&) {
        return; // a document that no longer takes the change keeps what it has
    }
    if (changed_) changed_(page_, object_, !present);
}

void MarkPresenceCommand::undo() { setPresent(!added_); }

void MarkPresenceCommand::redo()
{
    if (!pushed_) {
        pushed_ = true; // the edit is already made
        return;
    }
    setPresent(added_);
}

MarkChangeCommand::MarkChangeCommand(std::weak_ptr<platform::PdfDocument> document, int page,
                                     platform::PdfAnnotation before, platform::PdfAnnotation after,
                                     const QString& name, MarkChanged changed, bool continuesRun)
    : QUndoCommand(name), document_(std::move(document)), page_(page), before_(std::move(before)),
      after_(std::move(after)), changed_(std::move(changed)), continuesRun_(continuesRun)
{
}

void MarkChangeCommand::write(const platform::PdfAnnotation& value)
{
    const auto document = document_.lock();
    if (!document || page_ >= document->pageCount()) return;
    try {
        platform::PdfAnnotations::update(*document, page_, value);
    } catch (const std::exception&) {
        return;
    }
    if (changed_) changed_(page_, value.objectNumber, false);
}

void MarkChangeCommand::undo() { write(before_); }

void MarkChangeCommand::redo()
{
    if (!pushed_) {
        pushed_ = true;
        return;
    }
    write(after_);
}

bool MarkChangeCommand::mergeWith(const QUndoCommand* other)
{
    const auto* next = dynamic_cast<const MarkChangeCommand*>(other);
    if (!next || !next->continuesRun_ || next->page_ != page_ || next->after_.objectNumber != after_.objectNumber ||
        next->text() != text())
        return false;
    after_ = next->after_;
    return true;
}

} // namespace quarn
