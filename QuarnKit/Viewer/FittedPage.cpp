#include "QuarnKit/Viewer/FittedPage.h"

#include "Platform/PdfPageDraw.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Export/PageRender.h"
#include "QuarnKit/Viewer/TileRenderer.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <exception>

namespace quarnkit {

namespace {

QImage fitted(const platform::PdfDocument& pdf, int page, QSize pixels)
{
    try {
        // Recorded first, so that the document is held only while the page is read.
        const auto recording = platform::recordPage(pdf, page);
        const platform::PdfPageGeometry& geometry = recording->geometry();
        const platform::PdfSize drawn = Exporter::drawnSize(geometry, Exporter::displayBox(geometry));
        if (!(drawn.width > 1) || !(drawn.height > 1)) return {};
        const double scale = std::min(pixels.width() / drawn.width, pixels.height() / drawn.height);
        return Exporter::bitmap(*recording, scale);
    } catch (const std::exception&) {
        // A damaged page, a stopped read, a bitmap too large: no image.
        return {};
    }
}

std::optional<QSizeF> drawnSize(const platform::PdfDocument& pdf, int page)
{
    try {
        const platform::PdfPageGeometry geometry = pdf.pageGeometry(page);
        const platform::PdfSize drawn = Exporter::drawnSize(geometry, Exporter::displayBox(geometry));
        if (drawn.width > 1 && drawn.height > 1) return QSizeF(drawn.width, drawn.height);
    } catch (const std::exception&) {
        // A page that cannot be read has no size.
    }
    return std::nullopt;
}

} // namespace

void renderFittedPage(const QuarnDocument& document, int page, QSize pixels, QObject* context, FittedPageDone done)
{
    const QPointer<QObject> guard(context);
    // Beside the page view's tiles, off the pool Qt splits its own painting over.
    TileRenderer::workerPool().start([pdf = pdfOf(document), page, pixels, guard, done = std::move(done)] {
        QImage image = fitted(*pdf, page, pixels);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, image = std::move(image), done] {
                if (guard) done(image);
            },
            Qt::QueuedConnection);
    });
}

void readDrawnSize(const QuarnDocument& document, int page, QObject* context, DrawnSizeDone done)
{
    const QPointer<QObject> guard(context);
    // Beside the renders of the page it sizes, off the pool Qt paints with.
    TileRenderer::workerPool().start([pdf = pdfOf(document), page, guard, done = std::move(done)] {
        const std::optional<QSizeF> size = drawnSize(*pdf, page);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, size, done] {
                if (guard) done(size);
            },
            Qt::QueuedConnection);
    });
}

} // namespace quarnkit
