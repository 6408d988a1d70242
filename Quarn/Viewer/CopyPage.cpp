#include "Quarn/Viewer/CopyPage.h"

#include "Quarn/Design/ErrorAlert.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Document/DocumentPages.h"

#include <QApplication>
#include <QClipboard>

#include <algorithm>

namespace quarn {

void copyPage(QuarnPDFView& view)
{
    const quarnkit::QuarnDocument* document = view.quarnDocument();
    if (!document || view.pageCount() == 0) return;
    const int page = std::max(0, view.currentPageIndex());
    // Twice the page's size in points, but never a picture beyond 8192 pixels
    // a side: a page of a few metres would otherwise ask for gigabytes.
    const platform::PdfSize size = view.placement().geometry(page)->displaySize;
    const double longest = std::max(size.width, size.height);
    const double scale = longest > 0 ? std::min(2.0, 8192.0 / longest) : 2.0;
    QImage image;
    try {
        image = quarnkit::DocumentPages::image(*document, page, scale);
    } catch (const std::exception& error) {
        showErrorAlert(&view, QString::fromUtf8(error.what()));
        return;
    }
    if (image.isNull()) {
        showErrorAlert(&view, QObject::tr("The page could not be drawn."));
        return;
    }
    image.setDevicePixelRatio(scale); // its size stays the page's size in points
    QApplication::clipboard()->clear();
    QApplication::clipboard()->setImage(image);
}

} // namespace quarn
