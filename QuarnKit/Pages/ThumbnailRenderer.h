#pragma once
// Draws page thumbnails away from the UI thread, as the exporter draws page
// bitmaps (thumbnails look like exported pages): the page is found by its
// page object, recorded and drawn on a worker. Nothing here ever waits for a
// render. A page whose content takes long to read, or never ends (a crafted
// file), holds only that worker, and stops when its document's page work is
// stopped; a renderer that goes away leaves its render behind and the image
// is dropped.
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Pages/ThumbnailScheduler.h"

#include <QObject>

#include <functional>
#include <memory>

namespace quarnkit {

class ThumbnailRenderer : public QObject {
    Q_OBJECT

public:
    explicit ThumbnailRenderer(QObject* parent = nullptr);

    // Called on the application's thread with the image: null when the page
    // is no longer in the document or could not be drawn.
    using Done = std::function<void(const ThumbnailRequest&, const QImage&)>;
    // Starts drawing the request's page of `document` at the request's size.
    void render(const std::shared_ptr<const platform::PdfDocument>& document, const ThumbnailRequest& request,
                Done done);
    // The same of the document's pages; a null image without a document.
    void render(const QuarnDocument* document, const ThumbnailRequest& request, Done done);
};

} // namespace quarnkit
