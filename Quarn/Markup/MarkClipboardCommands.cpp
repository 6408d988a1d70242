#include "Quarn/Markup/MarkClipboardCommands.h"

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

bool copySelectedMark(MarkEditor& marks)
{
    const auto selected = marks.selected();
    if (!selected) return false;
    const auto mark = marks.annotation(*selected);
    if (!mark) return false;
    return MarkClipboard::write({*mark}, marks.view().placement().geometry(selected->page)->mediaBox,
                                QApplication::clipboard());
}

bool cutSelectedMark(MarkEditor& marks)
{
    if (marks.hasEditor() || !marks.selected()) return false;
    const MarkRef mark = *marks.selected();
    if (!copySelectedMark(marks)) return false;
    marks.remove(mark, QStringLiteral("Cut"));
    return true;
}

bool canPasteMarks(const MarkEditor& marks)
{
    return marks.document() && marks.view().pageCount() > 0 && !marks.hasEditor()
           && MarkClipboard::canRead(QApplication::clipboard()->mimeData());
}

void pasteMarks(MarkEditor& marks)
{
    quarnkit::QuarnDocument* document = marks.document();
    if (!document || marks.hasEditor()) return;
    std::vector<quarnkit::Annotation> read = MarkClipboard::read(QApplication::clipboard()->mimeData());
    if (read.empty()) return;
    // The page in the middle of the view, whatever page the marks came from.
    const QuarnPDFView& view = marks.view();
    const int page =
        view.placement().pageAt(QRectF(view.viewport()->rect()).center(), true).value_or(view.currentPageIndex());
    if (page >= view.pageCount()) return;
    std::optional<int> last;
    try {
        // One undo takes the whole paste away.
        last = MarkEdits::paste(*document, MarkEdits::pageTakingMarks(*document, page), std::move(read),
                                QStringLiteral("Paste"));
    } catch (const std::exception& error) {
        showErrorAlert(&marks.view(), QString::fromUtf8(error.what()));
        return;
    }
    if (last) marks.select(MarkRef{page, *last});
}

void duplicateSelection(MarkEditor& marks) { marks.selection().duplicate(); }

} // namespace quarn
