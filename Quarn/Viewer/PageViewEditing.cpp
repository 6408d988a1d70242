#include "Quarn/Viewer/QuarnPDFView.h"

#include <QApplication>
#include <QClipboard>

#include <algorithm>

namespace quarn {

const quarnkit::PageGeometry* QuarnPDFView::geometry(int page) const
{
    return page >= 0 && page < int(geometries_.size()) ? &geometries_[size_t(page)] : nullptr;
}

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
