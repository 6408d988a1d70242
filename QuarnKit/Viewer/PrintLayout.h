#pragma once
// What a print job puts on paper: which pages the print dialog's choice
// names, and where a page sits on the sheet when it is drawn there.
#include "Platform/PdfGeometry.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QRectF>
#include <QString>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace quarnkit {

class QuarnDocument;

// Printed pages keep this margin, in points, on every side of the sheet.
inline constexpr double printMargin = 36;

// The pages to print, zero-based and ascending, from the dialog's one-based
// inclusive ranges: every page when there are none. Pages past the end are
// dropped, so "2-9" of a 4-page document prints pages 2 to 4.
std::vector<int> printedPages(int pageCount, const std::vector<std::pair<int, int>>& ranges);

// A page placed on the printable area of a sheet: as large as fits, centred,
// turned a quarter when its orientation differs from the sheet's.
struct PrintPlacement {
    QRectF rect;         // in the area's units
    bool turned = false; // a quarter turn clockwise
};
PrintPlacement placeOnSheet(platform::PdfSize page, const QRectF& area);

// The part of a sheet that pages are printed in: the sheet less the margin
// on every side, in the sheet's units (`unitsPerPoint` of them to a point).
QRectF printArea(const QSizeF& sheet, double unitsPerPoint);

// The chosen pages (zero-based, in the order given) as they go to paper: a
// PDF of one sheet of `sheet` points a page, the page with its marks and
// form fields painted in, placed in the sheet's print area as placeOnSheet
// puts it; text stays text. Written atomically to `file`, the one its
// question saw, by a job that any thread may run, never through another
// user's link (as a save). The job reads the document as it is when it runs.
struct PrintOutcome {
    bool written = false;
    QString reason;           // why nothing was written, for the alert; empty when there is nothing more to say
    bool mayShowLess = false; // nothing written: the user must be asked first (copyNeedsLossQuestion)
    explicit operator bool() const { return written; }
};
std::function<PrintOutcome()> printingJob(const QuarnDocument& document, std::vector<int> pages, QSizeF sheet,
                                          ChosenFile file, bool lossAccepted = true);

// The file the job writes at `path`, as its question saw it
// (Exporter::chooseFile: `question` is asked about a file or a link there).
// None when the user declined, or when the job could not write there:
// `problem` then says why, found as its writer finds it before writing
// anything (a folder on the way that is not there, another user's link, a
// file or folder the user may not write, …), in the words the job's failure
// would use: for the print dialog, which stays open on such a name.
std::optional<ChosenFile> choosePrintFile(const QString& path, const ReplaceQuestion& question, QString* problem);

} // namespace quarnkit
