#include "QuarnKit/Export/PageRender.h"

#include "Platform/PdfPageDraw.h"
#include "QuarnKit/Document/DocumentEngine.h"

#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarnkit::Exporter {

namespace {

// A bitmap larger than this is refused rather than risking the machine's
// memory on a page with an absurd box (about 1 GB of pixels).
constexpr qint64 maximumPixels = qint64(1) << 28;
constexpr int maximumSide = 32767; // QPainter's limit

bool fits(QSize size)
{
    return size.width() <= maximumSide && size.height() <= maximumSide
           && qint64(size.width()) * size.height() <= maximumPixels;
}

// The opaque white bitmap of a page drawn at `scale`, refused when too large.
QImage whitePage(const platform::PdfPageGeometry& page, double scale, BitmapAlpha alpha)
{
    const QSize size = pixelSize(drawnSize(page, displayBox(page)), scale);
    if (!fits(size)) throw RenderFailed();
    const QImage::Format format = alpha == BitmapAlpha::premultipliedLast ? QImage::Format_RGBA8888_Premultiplied
                                  : alpha == BitmapAlpha::noneSkipLast    ? QImage::Format_RGBX8888
                                                                          : QImage::Format_RGB888;
    QImage image(size, format);
    if (image.isNull()) throw RenderFailed();
    image.fill(Qt::white);
    return image;
}

} // namespace

platform::PdfRect displayBox(const platform::PdfPageGeometry& page)
{
    const platform::PdfRect& crop = page.cropBox;
    return crop.width > 1 && crop.height > 1 ? crop : page.mediaBox;
}

platform::PdfRect displayBox(const platform::PdfDocument& doc, int pageIndex)
{
    return displayBox(doc.pageGeometry(pageIndex));
}

platform::PdfSize drawnSize(const platform::PdfPageGeometry& page, const platform::PdfRect& box)
{
    const int rotation = platform::normalizedRotation(page.rotation);
    if (rotation == 90 || rotation == 270) return {box.height, box.width};
    return {box.width, box.height};
}

QSize pixelSize(platform::PdfSize drawn, double scale)
{
    auto side = [scale](double points) {
        const double pixels = std::round(points * scale); // halves away from zero
        if (!(pixels >= 1)) return 1;                     // also catches not-a-number
        return pixels > double(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max() : int(pixels);
    };
    return {side(drawn.width), side(drawn.height)};
}

double cappedScale(platform::PdfSize drawn, double scale)
{
    if (fits(pixelSize(drawn, scale))) return scale;
    const double side = std::max(drawn.width, drawn.height);
    const double area = drawn.width * drawn.height;
    double capped = scale;
    if (side > 0) capped = std::min(capped, (maximumSide - 1) / side);
    if (area > 0) capped = std::min(capped, std::sqrt(double(maximumPixels) / area) * 0.999);
    // Rounding up may still overshoot by a pixel; step down until it fits.
    while (capped > 0 && !fits(pixelSize(drawn, capped))) capped *= 0.99;
    return capped;
}

platform::PdfMatrix userToPixels(const platform::PdfPageGeometry& page, double scale)
{
    // The page's own transform shows its crop box turned by its rotation; move
    // the display box to the origin instead, and stretch it to the drawn size
    // should that transform carry a scale of its own.
    const platform::PdfRect box = displayBox(page);
    const platform::PdfRect shown = page.userToDisplay.mapRect(box);
    const platform::PdfSize drawn = drawnSize(page, box);
    const double sx = shown.width > 0 ? drawn.width / shown.width : 1;
    const double sy = shown.height > 0 ? drawn.height / shown.height : 1;
    return page.userToDisplay.then(platform::PdfMatrix::translate(-shown.x, -shown.y))
        .then(platform::PdfMatrix::scale(sx * scale, sy * scale));
}

QImage render(const QuarnDocument& document, int pageIndex, double scale)
{
    return render(*pdfOf(document), pageIndex, scale);
}

QImage render(const platform::PdfDocument& doc, int pageIndex, double scale, const Overlay& overlay, BitmapAlpha alpha)
{
    if (!(scale > 0) || !std::isfinite(scale)) throw RenderFailed();
    QImage image;
    try {
        const platform::PdfPageGeometry page = doc.pageGeometry(pageIndex);
        image = whitePage(page, scale, alpha);
        const platform::PdfMatrix m = userToPixels(page, scale);
        platform::drawPage(doc, pageIndex, m, image);
        if (overlay) {
            QPainter painter(&image);
            if (!painter.isActive()) throw RenderFailed();
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setTransform(QTransform(m.a, m.b, m.c, m.d, m.e, m.f));
            overlay(painter);
        }
    } catch (const platform::PdfError&) {
        throw RenderFailed();
    } catch (const std::bad_alloc&) {
        throw RenderFailed();
    }
    return image;
}

QImage bitmap(const platform::PdfDocument& doc, int pageIndex, double scale)
{
    return render(doc, pageIndex, scale, {}, BitmapAlpha::premultipliedLast);
}

QImage bitmap(const platform::PdfPageRecording& page, double scale)
{
    if (!(scale > 0) || !std::isfinite(scale)) throw RenderFailed();
    try {
        QImage image = whitePage(page.geometry(), scale, BitmapAlpha::premultipliedLast);
        platform::drawRecording(page, userToPixels(page.geometry(), scale), image);
        return image;
    } catch (const platform::PdfError&) {
        throw RenderFailed();
    } catch (const std::bad_alloc&) {
        throw RenderFailed();
    }
}

} // namespace quarnkit::Exporter
