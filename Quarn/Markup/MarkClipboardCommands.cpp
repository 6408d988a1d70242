// Marks on the clipboard from the page view: Copy, Cut, Paste and Duplicate
// of the selected mark, each edit one undo step.
#include "Quarn/Markup/InlineEditor.h"
#include "Quarn/Markup/MarkGestures.h"
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

bool QuarnPDFView::copySelectedMark()
{
    if (!selectedAnnotation_ || !document()) return false;
    const auto mark = gestures().annotation(*selectedAnnotation_);
    if (!mark) return false;
    return MarkClipboard::write({*mark}, geometries_[selectedAnnotation_->page].mediaBox, QApplication::clipboard());
}

bool QuarnPDFView::cutSelectedMark()
{
    if (hasEditor() || !selectedAnnotation_) return false;
    const MarkRef mark = *selectedAnnotation_;
    if (!copySelectedMark()) return false;
    gestures().remove(mark, QStringLiteral("Cut"));
    return true;
}

bool QuarnPDFView::canPasteMarks() const
{
    return document() && pageCount() > 0 && !hasEditor() && MarkClipboard::canRead(QApplication::clipboard()->mimeData());
}

void QuarnPDFView::pasteMarks()
{
    if (!document() || hasEditor()) return;
    std::vector<PdfAnnotation> marks = MarkClipboard::read(QApplication::clipboard()->mimeData());
    if (marks.empty()) return;
    // The page in the middle of the view, whatever page the marks came from.
    int page = pageAt(QRectF(viewport()->rect()).center(), true).value_or(currentPageIndex());
    if (page < 0 || page >= pageCount()) return;

    std::vector<PdfRect> rects;
    for (const auto& m : marks) rects.push_back(m.rect);
    const auto offset =
        MarkupGeometry::pasteOffset(rects, markBounds(*document(), page), pasteStep, geometries_[page].cropBox);

    QUndoStack* undo = undoManager();
    if (undo) undo->beginMacro(QStringLiteral("Paste")); // one undo takes the whole paste away
    std::optional<MarkRef> last;
    try {
        for (auto& m : marks) {
            quarnkit::MarkFrame::of(m).offset(offset).apply(m);
            if (const auto added = gestures().addMark(page, m, QStringLiteral("Paste"))) last = added;
        }
    } catch (const std::exception& error) {
        if (undo) undo->endMacro();
        showErrorAlert(QString::fromUtf8(error.what()));
        return;
    }
    if (undo) undo->endMacro();
    if (last) select(last);
}

void QuarnPDFView::duplicateSelection()
{
    if (!selectedAnnotation_ || !document()) return;
    const MarkRef selected = *selectedAnnotation_;
    const auto mark = gestures().annotation(selected);
    if (!mark) return;
    // Through the clipboard format, so the copy carries only the keys a mark needs.
    auto copies = MarkClipboard::annotations(MarkClipboard::data({*mark}, geometries_[selected.page].mediaBox));
    if (copies.empty()) return;
    PdfAnnotation copy = copies.front();
    const auto offset = MarkupGeometry::pasteOffset({copy.rect}, markBounds(*document(), selected.page), pasteStep,
                                                    geometries_[selected.page].cropBox);
    quarnkit::MarkFrame::of(copy).offset(offset).apply(copy);
    if (const auto added = gestures().addMark(selected.page, copy, QStringLiteral("Duplicate"))) select(added);
}

void QuarnPDFView::editSelectedText()
{
    if (!selectedAnnotation_) return;
    const auto mark = gestures().annotation(*selectedAnnotation_);
    const auto kind = mark ? quarnkit::MarkCatalog::kind(*mark) : std::nullopt;
    if (kind == quarnkit::MarkKind::text) beginEditing(EditorTarget::text(*selectedAnnotation_));
    else if (kind == quarnkit::MarkKind::note) beginEditing(EditorTarget::note(*selectedAnnotation_));
}

void QuarnPDFView::removeMarks(const std::vector<MarkRef>& marks, const QString& actionName)
{
    if (!document() || marks.empty()) return;
    QUndoStack* undo = undoManager();
    if (undo) undo->beginMacro(actionName);
    for (const MarkRef& mark : marks) {
        if (mark.page < 0 || mark.page >= pageCount()) continue; // its page is gone
        try {
            gestures().remove(mark, actionName);
        } catch (const std::exception&) {
            continue; // a page that cannot be read keeps its marks
        }
    }
    if (undo) undo->endMacro();
}

} // namespace quarn
