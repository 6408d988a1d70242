// Marks on the clipboard from the mark editor: Copy, Cut, Paste and Duplicate
// of the selected mark, each edit one undo step.
#include "Quarn/Markup/InlineEditor.h"
#include "Quarn/Markup/MarkEditor.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/MarkClipboard.h"

#include <QApplication>
#include <QClipboard>

namespace quarn {

using platform::PdfAnnotation;
using platform::PdfRect;
namespace AnnotationFactory = quarnkit::AnnotationFactory;
namespace MarkClipboard = quarnkit::MarkClipboard;
namespace MarkupGeometry = quarnkit::MarkupGeometry;

namespace {

constexpr double pasteStep = 12; // pasted copies step this far right and down off identical marks

// The boxes of the marks already on a page, which pasted copies keep off.
std::vector<PdfRect> markBounds(const platform::PdfDocument& doc, int page)
{
    std::vector<PdfRect> result;
    for (const auto& a : platform::PdfAnnotations::list(doc, page))
        if (AnnotationFactory::isMarkup(a)) result.push_back(a.rect);
    return result;
}

} // namespace

bool MarkEditor::copySelectedMark()
{
    if (!selected_ || !view_.document()) return false;
    const auto mark = annotation(*selected_);
    if (!mark) return false;
    return MarkClipboard::write({*mark}, (*view_.geometry(selected_->page)).mediaBox, QApplication::clipboard());
}

bool MarkEditor::cutSelectedMark()
{
    if (hasEditor() || !selected_) return false;
    const MarkRef mark = *selected_;
    if (!copySelectedMark()) return false;
    remove(mark, QStringLiteral("Cut"));
    return true;
}

bool MarkEditor::canPasteMarks() const
{
    return view_.document() && view_.pageCount() > 0 && !hasEditor() && MarkClipboard::canRead(QApplication::clipboard()->mimeData());
}

void MarkEditor::pasteMarks()
{
    if (!view_.document() || hasEditor()) return;
    std::vector<PdfAnnotation> marks = MarkClipboard::read(QApplication::clipboard()->mimeData());
    if (marks.empty()) return;
    // The page in the middle of the view, whatever page the marks came from.
    int page = view_.pageAt(QRectF(view_.viewport()->rect()).center(), true).value_or(view_.currentPageIndex());
    if (page < 0 || page >= view_.pageCount()) return;

    std::vector<PdfRect> rects;
    for (const auto& m : marks) rects.push_back(m.rect);
    const auto offset =
        MarkupGeometry::pasteOffset(rects, markBounds(*view_.document(), page), pasteStep, (*view_.geometry(page)).cropBox);

    QUndoStack* undo = stack();
    if (undo) undo->beginMacro(QStringLiteral("Paste")); // one undo takes the whole paste away
    std::optional<MarkRef> last;
    try {
        for (auto& m : marks) {
            quarnkit::MarkFrame::of(m).offset(offset).apply(m);
            if (const auto added = addMark(page, m, QStringLiteral("Paste"))) last = added;
        }
    } catch (const std::exception& error) {
        if (undo) undo->endMacro();
        view_.showErrorAlert(QString::fromUtf8(error.what()));
        return;
    }
    if (undo) undo->endMacro();
    if (last) select(last);
}

void MarkEditor::duplicateSelection()
{
    if (!selected_ || !view_.document()) return;
    const MarkRef selected = *selected_;
    const auto mark = annotation(selected);
    if (!mark) return;
    // Through the clipboard format, so the copy carries only the keys a mark needs.
    auto copies = MarkClipboard::annotations(MarkClipboard::data({*mark}, (*view_.geometry(selected.page)).mediaBox));
    if (copies.empty()) return;
    PdfAnnotation copy = copies.front();
    const auto offset = MarkupGeometry::pasteOffset({copy.rect}, markBounds(*view_.document(), selected.page), pasteStep,
                                                    (*view_.geometry(selected.page)).cropBox);
    quarnkit::MarkFrame::of(copy).offset(offset).apply(copy);
    if (const auto added = addMark(selected.page, copy, QStringLiteral("Duplicate"))) select(added);
}

void MarkEditor::editSelectedText()
{
    if (!selected_) return;
    const auto mark = annotation(*selected_);
    const auto kind = mark ? quarnkit::MarkCatalog::kind(*mark) : std::nullopt;
    if (kind == quarnkit::MarkKind::text) beginEditing(EditorTarget::text(*selected_));
    else if (kind == quarnkit::MarkKind::note) beginEditing(EditorTarget::note(*selected_));
}

void MarkEditor::removeMarks(const std::vector<MarkRef>& marks, const QString& actionName)
{
    if (!view_.document() || marks.empty()) return;
    QUndoStack* undo = stack();
    if (undo) undo->beginMacro(actionName);
    for (const MarkRef& mark : marks) {
        if (mark.page < 0 || mark.page >= view_.pageCount()) continue; // its page is gone
        try {
            remove(mark, actionName);
        } catch (const std::exception&) {
            continue; // a page that cannot be read keeps its marks
        }
    }
    if (undo) undo->endMacro();
}

} // namespace quarn
