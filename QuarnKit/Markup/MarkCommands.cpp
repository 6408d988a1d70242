#include "QuarnKit/Markup/MarkCommands.h"

#include "QuarnKit/Markup/MarkGeometry.h"

namespace quarnkit {

namespace PdfAnnotations = platform::PdfAnnotations;

MarkPresenceCommand::MarkPresenceCommand(QuarnDocument& document, platform::PdfPageId page, int object, bool added,
                                         int index, const QString& name, QUndoCommand* parent)
    : DocumentCommand(document, name, true, parent), page_(page), object_(object), added_(added), index_(index)
{
}

void MarkPresenceCommand::apply(QuarnDocument& document, bool forward)
{
    const auto page = document.pageIndex(page_);
    if (!page) return;
    const bool present = forward == added_;
    if (present) {
        if (!PdfAnnotations::insert(*document.pdf(), *page, object_, index_)) return;
    } else if (const auto index = PdfAnnotations::remove(*document.pdf(), *page, object_)) {
        index_ = *index;
    } else {
        return;
    }
    document.noteEdit(page_);
}

MarkChangeCommand::MarkChangeCommand(QuarnDocument& document, platform::PdfPageId page, platform::PdfAnnotation before,
                                     platform::PdfAnnotation after, const QString& name, bool continuesRun)
    : DocumentCommand(document, name, true), page_(page), before_(std::move(before)), after_(std::move(after)),
      continuesRun_(continuesRun)
{
}

void MarkChangeCommand::apply(QuarnDocument& document, bool forward)
{
    const auto page = document.pageIndex(page_);
    if (!page || !PdfAnnotations::update(*document.pdf(), *page, forward ? after_ : before_)) return;
    document.noteEdit(page_);
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

MarkOrderCommand::MarkOrderCommand(QuarnDocument& document, platform::PdfPageId page, std::vector<int> before,
                                   std::vector<int> after, const QString& name)
    : DocumentCommand(document, name, true), page_(page), before_(std::move(before)), after_(std::move(after))
{
}

void MarkOrderCommand::apply(QuarnDocument& document, bool forward)
{
    const auto page = document.pageIndex(page_);
    if (!page || !MarkOrder::restore(*document.pdf(), *page, forward ? after_ : before_)) return;
    document.noteEdit(page_);
}

} // namespace quarnkit
