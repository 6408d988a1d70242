#include "QuarnKit/Pages/ThumbnailRenderer.h"

#include "Platform/PdfPageDraw.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Export/PageRender.h"
#include "QuarnKit/Viewer/TileRenderer.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

namespace quarnkit {

ThumbnailRenderer::ThumbnailRenderer(QObject* parent) : QObject(parent) {}

void ThumbnailRenderer::render(const QuarnDocument* document, const ThumbnailRequest& request, Done done)
{
    render(document ? pdfOf(*document) : nullptr, request, std::move(done));
}

void ThumbnailRenderer::render(const std::shared_ptr<const platform::PdfDocument>& document,
                               const ThumbnailRequest& request, Done done)
{
    const QPointer<ThumbnailRenderer> self(this);
    // Beside the page view's tiles, off the pool Qt splits its own painting over.
    TileRenderer::workerPool().start([self, document, request, done = std::move(done)] {
        QImage image;
        try {
            if (const auto recording =
                    document ? platform::recordPage(*document, request.page, request.index) : nullptr) {
                const double scale = thumbnailScale(recording->geometry(), request.pixels);
                if (scale > 0) image = Exporter::bitmap(*recording, scale);
            }
        } catch (const platform::PdfError&) {
            image = QImage();
        } catch (const Exporter::RenderFailed&) {
            image = QImage();
        } catch (const std::bad_alloc&) {
            image = QImage();
        }
        // Back on the application's thread, where the renderer may be gone by then.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, request, image, done] {
                if (self) done(request, image);
            },
            Qt::QueuedConnection);
    });
}

} // namespace quarnkit
