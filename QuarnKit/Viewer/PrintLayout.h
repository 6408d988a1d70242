#pragma once
// What a print job puts on paper: which pages the print dialog's choice
// names, and where a page sits on the sheet when it is drawn there.
#include "Platform/PdfGeometry.h"

#include <QRectF>

#include <utility>
#include <vector>

namespace quarnkit {

// The pages to print, zero-based and ascending, from the dialog's one-based
// inclusive ranges: every page when there are none. Pages past the end are
// dropped, so "2-9" of a 4-page document prints pages 2 to 4.
std::vector<int> printedPages(int pageCount, const std::vector<std::pair<int, int>>& ranges);

// A page placed on the printable area of a sheet: as large as fits, centred,
// turned a quarter when its orientation differs from the sheet's.
struct PrintPlacement {
    QRectF rect;        // in the area's units
    bool turned = false; // a quarter turn clockwise
};
PrintPlacement placeOnSheet(platform::PdfSize page, const QRectF& area);

} // namespace quarnkit
