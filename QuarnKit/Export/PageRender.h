#pragma once
// How the exporter measures and renders one page: the box a page is drawn
// with, its size as shown (rotation applied) and bitmaps of it. Thumbnails,
// Copy Page, text recognition and the image exports all draw through here, so
// every page image of the program looks the same.
#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "Platform/PdfPageDraw.h"

#include <QImage>
#include <QSize>

#include <functional>
#include <stdexcept>

class QPainter;

namespace quarnkit::Exporter {

// The exporter's render failure. Its message is the sentence shown to the user.
class RenderFailed : public std::runtime_error {
public:
    RenderFailed() : std::runtime_error("The page could not be rendered.") {}
};

// The pixel layouts of page bitmaps: with premultiplied alpha (always opaque
// here); without alpha, the fourth byte skipped (text recognition); and
// without alpha in three bytes (the image files, which hold just that).
enum class BitmapAlpha { premultipliedLast, noneSkipLast, none };

// Draws over a rendered page. The painter maps PDF user space (the
// coordinates of annotation bounds) to the bitmap's pixels.
using Overlay = std::function<void(QPainter&)>;

// The box a page is drawn with: its crop box, unless the crop box's width or
// height is not above 1 point; then its media box. User space.
platform::PdfRect displayBox(const platform::PdfPageGeometry& page);
platform::PdfRect displayBox(const platform::PdfDocument& doc, int pageIndex); // throws PdfError

// The size of `box` as drawn: width and height swapped for quarter turns.
// The rotation is normalised first, so -90 or 450 count as quarter turns.
platform::PdfSize drawnSize(const platform::PdfPageGeometry& page, const platform::PdfRect& box);

// The bitmap size of a drawn size at a scale: each side rounded, halves away
// from zero, and at least 1.
QSize pixelSize(platform::PdfSize drawn, double scale);

// `scale`, or the largest smaller scale whose bitmap render() can still make:
// a poster-sized page drawn at a high resolution falls back to a lower one.
double cappedScale(platform::PdfSize drawn, double scale);

// The transform from user space to the bitmap's pixels for a page drawn in
// its display box at `scale`.
platform::PdfMatrix userToPixels(const platform::PdfPageGeometry& page, double scale);

// Renders the page's display box at `scale` on opaque white, annotations
// included, then the overlay when given. Throws RenderFailed when the page
// cannot be read or the bitmap cannot be made (including bitmaps too large
// to hold: a side above 32767 or more than 2^28 pixels).
QImage render(const QuarnDocument& document, int pageIndex, double scale);
QImage render(const platform::PdfDocument& doc, int pageIndex, double scale, const Overlay& overlay = {},
              BitmapAlpha alpha = BitmapAlpha::premultipliedLast);

// The page as render() draws it, without overlay, with premultiplied alpha.
QImage bitmap(const platform::PdfDocument& doc, int pageIndex, double scale);
// The same from a recording of the page, on any thread. Throws RenderFailed.
QImage bitmap(const platform::PdfPageRecording& page, double scale);

} // namespace quarnkit::Exporter
