#pragma once
// Printing the chosen pages of a document without losing what a reader sees.
// Each page goes on a sheet of the chosen paper, turned to fit it when its
// shape asks for that, scaled to fit inside a 36-point margin on every side
// and centred, the marks flagged to print printed with it. Into a PDF
// file and to a printer alike the sheets are written as PDF, so text stays
// text: to a printer they go to CUPS through `lp`, which takes PDF. Where
// `lp` is missing, those sheets are drawn at the printer's own resolution.
#include <functional>
#include <memory>
#include <vector>

class QObject;
class QPrinter;
class QString;

namespace quarnkit {
class QuarnDocument;
}

namespace quarn {
class QuarnPDFView;
}

namespace quarn::printing {

// Asks for a printer, the pages and the copies, then prints the document
// `view` shows (over the view's window).
void printDocument(QuarnPDFView& view);
// Starts printing the pages `printer` names of the document `view` shows,
// its current page being the page being read; a failure, then or later, gets
// the error alert. False when nothing could start.
bool print(QuarnPDFView& view, QPrinter& printer);

// The zero-based pages the printer's settings name: all of them, the given
// ranges, or the page being read.
std::vector<int> chosenPages(const QPrinter& printer, int pageCount, int currentPage);

// Starts printing; the copying and writing run off the UI thread. `finished`
// is called on `context`'s thread with whether the job was handed over, and
// when not, why, when there is more to say than that. False (and no call)
// when there is nothing to print: a locked document or no pages.
bool print(const quarnkit::QuarnDocument& document, QPrinter& printer, int currentPage, QObject* context,
           std::function<void(bool ok, const QString& reason)> finished);

} // namespace quarn::printing
