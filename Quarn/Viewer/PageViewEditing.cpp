// The page view's side of mark editing: the calls that hand on to its mark
// editor, and copying a page.
#include "Quarn/Viewer/QuarnPDFView.h"

#include "Quarn/Markup/InlineEditor.h"
#include "Quarn/Markup/MarkEditor.h"

#include <QApplication>
#include <QClipboard>

#include <algorithm>

namespace quarn {

const quarnkit::PageGeometry* QuarnPDFView::geometry(int page) const
{
    return page >= 0 && page < int(geometries_.size()) ? &geometries_[size_t(page)] : nullptr;
}

void QuarnPDFView::select(std::optional<MarkRef> mark) { markEditor_->select(mark); }
std::optional<MarkRef> QuarnPDFView::selectedAnnotation() const { return markEditor_->selected(); }
bool QuarnPDFView::handleKey(QKeyEvent* event) { return markEditor_->key(event); }
void QuarnPDFView::refreshSelection() { markEditor_->refresh(); }
void QuarnPDFView::layoutEditor() { markEditor_->layoutEditor(); }
void QuarnPDFView::setHover(std::optional<MarkRef> mark) { markEditor_->setHover(mark); }
std::optional<MarkRef> QuarnPDFView::mark(platform::PdfPoint at, int page) const { return markEditor_->markAt(at, page); }
QMenu* QuarnPDFView::contextMenu() { return markEditor_->contextMenu(); }
void QuarnPDFView::finishEditing() { markEditor_->commitEditing(); }
void QuarnPDFView::closeEditor() { markEditor_->closeEditor(); }
bool QuarnPDFView::hasEditor() const { return markEditor_->hasEditor(); }
void QuarnPDFView::beginEditing(const EditorTarget& target) { markEditor_->beginEditing(target); }
void QuarnPDFView::commitEditing() { markEditor_->commitEditing(); }
QWidget* QuarnPDFView::editor() const { return markEditor_->editor(); }
bool QuarnPDFView::copySelectedMark() { return markEditor_->copySelectedMark(); }
bool QuarnPDFView::cutSelectedMark() { return markEditor_->cutSelectedMark(); }
void QuarnPDFView::pasteMarks() { markEditor_->pasteMarks(); }
bool QuarnPDFView::canPasteMarks() const { return markEditor_->canPasteMarks(); }
void QuarnPDFView::duplicateSelection() { markEditor_->duplicateSelection(); }
void QuarnPDFView::editSelectedText() { markEditor_->editSelectedText(); }
void QuarnPDFView::removeMarks(const std::vector<MarkRef>& marks, const QString& actionName)
{
    markEditor_->removeMarks(marks, actionName);
}
void QuarnPDFView::applyColor(const quarnkit::RGBA& color) { markEditor_->applyColor(color); }
void QuarnPDFView::applyStroke(double width) { markEditor_->applyStroke(width); }
void QuarnPDFView::applyFill(bool filled) { markEditor_->applyFill(filled); }
void QuarnPDFView::applyTextSize(double size) { markEditor_->applyTextSize(size); }
void QuarnPDFView::applyFont(quarnkit::TextFont font) { markEditor_->applyFont(font); }
void QuarnPDFView::setArrowhead(bool on) { markEditor_->setArrowhead(on); }
void QuarnPDFView::reorderSelection(bool toFront) { markEditor_->reorderSelection(toFront); }
void QuarnPDFView::removeSelection(const QString& actionName) { markEditor_->removeSelection(actionName); }

void QuarnPDFView::copyPage()
{
    if (!document_ || pageCount() == 0) return;
    const int page = std::max(0, currentPageIndex());
    // Twice the page's size in points, but never a picture beyond 8192 pixels
    // a side: a page of a few metres would otherwise ask for gigabytes.
    const platform::PdfSize size = geometries_[page].displaySize;
    const double longest = std::max(size.width, size.height);
    const double scale = longest > 0 ? std::min(2.0, 8192.0 / longest) : 2.0;
    QImage image;
    try {
        image = quarnkit::DocumentPages::image(*document_, page, scale);
    } catch (const std::exception& error) {
        showErrorAlert(QString::fromUtf8(error.what()));
        return;
    }
    if (image.isNull()) {
        showErrorAlert(tr("The page could not be drawn."));
        return;
    }
    image.setDevicePixelRatio(scale); // its size stays the page's size in points
    QApplication::clipboard()->clear();
    QApplication::clipboard()->setImage(image);
}

} // namespace quarn
