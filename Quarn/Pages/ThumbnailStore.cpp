#include "Quarn/Pages/ThumbnailStore.h"

#include "QuarnKit/Document/QuarnDocument.h"

namespace quarn {

ThumbnailStore::ThumbnailStore(QObject* parent)
    : QObject(parent), scheduler_([this](quarnkit::PageId page) { return wanted(page); },
                                  [this](const quarnkit::ThumbnailRequest& request) { render(request); })
{}

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

void ThumbnailStore::request(quarnkit::PageId page, platform::PdfSize points, double scale, int index)
{
    scheduler_.request(page, points, scale, index);
}

bool ThumbnailStore::wanted(quarnkit::PageId page) const
{
    // The list shows the document's pages as they are: no need to ask the
    // document, which a render on a worker may be reading.
    return document_ && listener() && listener()->wantsThumbnail(page);
}

void ThumbnailStore::render(const quarnkit::ThumbnailRequest& request)
{
    renderer_.render(document_, request,
                     [this](const quarnkit::ThumbnailRequest& done, const QImage& image) { finished(done, image); });
}

void ThumbnailStore::finished(const quarnkit::ThumbnailRequest& request, const QImage& image)
{
    if (scheduler_.finish(request, image) && listener()) listener()->thumbnailReady(request.page);
    emit renderFinished();
}

} // namespace quarn
