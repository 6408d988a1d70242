#include "Quarn/Pages/ThumbnailStore.h"

#include "Platform/PdfPageDraw.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Export/PageRender.h"

#include <QCoreApplication>

namespace quarn {

ThumbnailStore::ThumbnailStore(QObject* parent)
    : QObject(parent),
      scheduler_([this](platform::PdfPageId page) { return wanted(page); },
                 [this](const quarnkit::ThumbnailRequest& request) { render(request); })
{
    worker_.setMaxThreadCount(1);
    worker_.setObjectName(QStringLiteral("com.ombri.ravlen.thumbnails"));
}

// The worker holds only recordings; waiting here is for one thumbnail at most.
ThumbnailStore::~ThumbnailStore() { worker_.waitForDone(); }

void ThumbnailStore::setDocument(quarnkit::QuarnDocument* document)
{
    if (document == document_) return;
    document_ = document;
    scheduler_.clear();
}

void ThumbnailStore::setListener(ThumbnailListener* listener, QObject* object)
{
    listener_ = listener;
    listenerObject_ = object;
}

void ThumbnailStore::request(platform::PdfPageId page, platform::PdfSize points, double scale)
{
    scheduler_.request(page, points, scale);
}

bool ThumbnailStore::wanted(platform::PdfPageId page) const
{
    return document_ && listener() && document_->pageIndex(page) && listener()->wantsThumbnail(page);
}

void ThumbnailStore::render(const quarnkit::ThumbnailRequest& request)
{
    // The recording is made here, on the thread that edits the document.
    std::shared_ptr<const platform::PdfPageRecording> recording;
    if (document_)
        if (const std::optional<int> index = document_->pageIndex(request.page)) try {
                recording = platform::recordPage(*document_->pdf(), *index);
            } catch (const platform::PdfError&) {
            }
    const QPointer<ThumbnailStore> self(this);
    if (!recording) {
        QMetaObject::invokeMethod(
            this, [self, request] { if (self) self->finished(request, {}); }, Qt::QueuedConnection);
        return;
    }
    worker_.start([self, request, recording] {
        QImage image;
        const double scale = quarnkit::thumbnailScale(recording->geometry(), request.pixels);
        if (scale > 0) try {
                image = quarnkit::Exporter::bitmap(*recording, scale);
            } catch (const quarnkit::Exporter::RenderFailed&) {
                image = QImage();
            }
        // Back on the UI thread, where the store may be gone by then.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [self, request, image] { if (self) self->finished(request, image); },
            Qt::QueuedConnection);
    });
}

void ThumbnailStore::finished(const quarnkit::ThumbnailRequest& request, const QImage& image)
{
    if (scheduler_.finish(request, image) && listener()) listener()->thumbnailReady(request.page);
    emit renderFinished();
}

} // namespace quarn
