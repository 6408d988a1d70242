#pragma once
// Page sizes in words: "Letter, 8.5 × 11 in", "A4, 210 × 297 mm", "500 × 700 pt".
#include "Platform/PdfDocument.h"

#include <QString>

namespace quarnkit::PaperSize {

// A page size in points (width, height as displayed). Standard sizes are
// named within 2.5 points and written in the page's orientation; any other
// size is written in whole points.
QString describe(platform::PdfSize size);

// The size of a document's pages: the first page's description, followed by
// ", and other sizes" when another page differs from it by more than 2.5
// points; "No pages" for a document without pages.
QString describe(const platform::PdfDocument& document);

// A page's size as displayed: its crop box, or its media box when the crop
// box is 1 point or less across, turned for rotations of 90 and 270 degrees.
platform::PdfSize displayedSize(const platform::PdfPageGeometry& geometry);

} // namespace quarnkit::PaperSize
