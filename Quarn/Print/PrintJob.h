#pragma once
// Printing the chosen pages of a document without losing what a reader sees.
// Each page goes on a sheet of the chosen paper, turned to fit it when its
// shape asks for that, scaled to fit inside a 36-point margin on every side
// and centred, the marks flagged to print printed with it. Into a PDF
// file and to a printer alike the sheets are written as PDF, so text stays
// text: to a printer they go to CUPS through `lp`, which takes PDF. Where
// `lp` is missing, those sheets are drawn at the printer's own resolution.
#include "QuarnKit/Document/QuarnDocument.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QObject;
class QPrinter;
class QString;

namespace quarn {
class QuarnPDFView;
}

namespace quarn::printing {

// Asks for a printer, the pages and the copies, then prints the document
// `view` shows (over the view's window).
void printDocument(QuarnPDFView& view);
// Starts printing the pages `printer` names of the document `view` shows,
// its current page being the page being read; a failure, then or later, gets
// the error alert. False when nothing could start. Into a file (the
// printer's output file name): `file`, as the print dialog's question saw
// it, or, without one, the question is asked now (a file or a link there is
// replaced once the user said so).
bool print(QuarnPDFView& view, QPrinter& printer, std::optional<quarnkit::ChosenFile> file = std::nullopt);

// The zero-based pages the printer's settings name: all of them, the given
// ranges, or the page being read.
std::vector<int> chosenPages(const QPrinter& printer, int pageCount, int currentPage);

// Starts printing, into `file` when there is one, else to the printer; the
// copying and writing run off the UI thread. `finished` is called on
// `context`'s thread with whether the job was handed over, and when not,
// why, when there is more to say than that. False (and no call) when there
// is nothing to print: a locked document or no pages.
// Into a file, a copy that may show less than the damaged original is asked
// about first (no call when the user cancels).
bool print(quarnkit::QuarnDocument& document, QPrinter& printer, int currentPage, QObject* context,
           std::function<void(bool ok, const QString& reason)> finished,
           std::optional<quarnkit::ChosenFile> file = std::nullopt);

} // namespace quarn::printing
