#include "QuarnKit/Markup/MarkCommands.h"

#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/MarkOrder.h"

namespace quarnkit {

namespace PdfAnnotations = platform::PdfAnnotations;

MarkAddCommand::MarkAddCommand(QuarnDocument& document, PageId page, platform::PdfAnnotation mark, const QString& name)
    : DocumentCommand(document, name), page_(page), mark_(std::move(mark))
{}

bool MarkAddCommand::apply(QuarnDocument& document, bool forward)
{
    const auto page = document.pageIndex(page_);
    if (!page) return false;
    if (!forward) {
        const auto index = PdfAnnotations::remove(*pdfOf(document), *page, object_);
        if (!index) return false;
        index_ = *index;
    } else if (object_ == 0) {
        object_ = std::max(0, PdfAnnotations::add(*pdfOf(document), *page, mark_));
        if (object_ == 0) return false;
    } else if (!PdfAnnotations::insert(*pdfOf(document), *page, object_, index_)) {
        return false;
    }
    document.noteEdit(page_);
    return true;
}

MarkRemoveCommand::MarkRemoveCommand(QuarnDocument& document, PageId page, int object, const QString& name)
    : DocumentCommand(document, name), page_(page), object_(object)
{}

bool MarkRemoveCommand::apply(QuarnDocument& document, bool forward)
{
    const auto page = document.pageIndex(page_);
    if (!page) return false;
    if (forward) {
        const auto index = PdfAnnotations::remove(*pdfOf(document), *page, object_);
        if (!index) return false;
        index_ = *index;
    } else if (!PdfAnnotations::insert(*pdfOf(document), *page, object_, index_)) {
        return false;
    }
    document.noteEdit(page_);
    return true;
}

MarkChangeCommand::MarkChangeCommand(QuarnDocument& document, PageId page, platform::PdfAnnotation before,
                                     platform::PdfAnnotation after, const QString& name, bool continuesRun)
    : DocumentCommand(document, name), page_(page), before_(std::move(before)), after_(std::move(after)),
      continuesRun_(continuesRun)
{}

bool MarkChangeCommand::apply(QuarnDocument& document, bool forward)
{
    const auto page = document.pageIndex(page_);
    if (!page || !PdfAnnotations::update(*pdfOf(document), *page, forward ? after_ : before_)) return false;
    document.noteEdit(page_);
    return true;
}

bool MarkChangeCommand::mergeWith(const QUndoCommand* other)
{
    const auto* next = dynamic_cast<const MarkChangeCommand*>(other);
    if (!next || !next->continuesRun_ || next->page_ != page_ || next->after_.objectNumber != after_.objectNumber
        || next->text() != text())
        return false;
    after_ = next->after_;
    return true;
}

MarkOrderCommand::MarkOrderCommand(QuarnDocument& document, PageId page, std::vector<int> before,
                                   std::vector<int> after, const QString& name)
    : DocumentCommand(document, name), page_(page), before_(std::move(before)), after_(std::move(after))
{}

bool MarkOrderCommand::apply(QuarnDocument& document, bool forward)
{
    const auto page = document.pageIndex(page_);
    if (!page || !MarkOrder::restore(*pdfOf(document), *page, forward ? after_ : before_)) return false;
    document.noteEdit(page_);
    return true;
}

} // namespace quarnkit
