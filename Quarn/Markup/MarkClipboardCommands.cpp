// Marks on the clipboard from the mark editor: Copy, Cut, Paste and Duplicate
// of the selected mark, each edit one undo step of the document.
#include "Quarn/Markup/InlineEditor.h"
#include "Quarn/Markup/MarkEditor.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/MarkClipboard.h"
#include "QuarnKit/Markup/MarkEdits.h"
#include "Quarn/Design/ErrorAlert.h"

#include <QApplication>
#include <QClipboard>

namespace quarn {

namespace MarkClipboard = quarnkit::MarkClipboard;
namespace MarkEdits = quarnkit::MarkEdits;

bool MarkEditor::copySelectedMark()
{
    if (!selected_) return false;
    const auto mark = annotation(*selected_);
    if (!mark) return false;
    return MarkClipboard::write({*mark}, view_.placement().geometry(selected_->page)->mediaBox, QApplication::clipboard());
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
    return document() && view_.pageCount() > 0 && !hasEditor() && MarkClipboard::canRead(QApplication::clipboard()->mimeData());
}

void MarkEditor::pasteMarks()
{
    if (!document() || hasEditor()) return;
    std::vector<Annotation> marks = MarkClipboard::read(QApplication::clipboard()->mimeData());
    if (marks.empty()) return;
    // The page in the middle of the view, whatever page the marks came from.
    const int page = view_.placement().pageAt(QRectF(view_.viewport()->rect()).center(), true).value_or(view_.currentPageIndex());
    const auto id = page < view_.pageCount() ? pageId(page) : std::nullopt;
    if (!id) return;
    burst_.reset();
    std::optional<int> last;
    try {
        // One undo takes the whole paste away.
        last = own([&] { return MarkEdits::paste(*document(), *id, std::move(marks), QStringLiteral("Paste")); });
    } catch (const std::exception& error) {
        showErrorAlert(&view_, QString::fromUtf8(error.what()));
        return;
    }
    if (last) select(MarkRef{page, *last});
}

void MarkEditor::duplicateSelection()
{
    if (!selected_) return;
    const MarkRef selected = *selected_;
    const auto page = pageId(selected.page);
    if (!page) return;
    burst_.reset();
    if (const auto copy = own([&] { return MarkEdits::duplicate(*document(), *page, selected.object); }))
        select(MarkRef{selected.page, *copy});
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
    if (!document() || marks.empty()) return;
    std::vector<std::pair<quarnkit::PageId, int>> placed;
    for (const MarkRef& mark : marks) {
        if (mark.page < 0 || mark.page >= view_.pageCount()) continue; // its page is gone
        if (const auto page = pageId(mark.page)) placed.emplace_back(*page, mark.object);
    }
    burst_.reset();
    own([&] { MarkEdits::remove(*document(), placed, actionName); });
}

} // namespace quarn
