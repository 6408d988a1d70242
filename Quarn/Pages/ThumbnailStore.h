#pragma once
// The page thumbnails of one window. The scheduler decides what to render,
// one render at a time; the renderer draws each page on a worker, and the UI
// thread never waits for it. Finished images come back to the UI thread and
// the listener is told.
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Pages/ThumbnailRenderer.h"
#include "QuarnKit/Pages/ThumbnailScheduler.h"

#include <QObject>
#include <QPointer>

namespace quarnkit {
class QuarnDocument;
}

namespace quarn {

// The page list that shows the thumbnails. Both calls come on the UI thread.
class ThumbnailListener {
public:
    // The page is on or near the shown rows: still worth rendering.
    virtual bool wantsThumbnail(quarnkit::PageId page) const = 0;
    // A new image of the page is in the store.
    virtual void thumbnailReady(quarnkit::PageId page) = 0;

protected:
    ~ThumbnailListener() = default;
};

class ThumbnailStore : public QObject {
    Q_OBJECT

public:
    explicit ThumbnailStore(QObject* parent = nullptr);

    // The document whose pages are asked for; another one forgets every image.
    void setDocument(quarnkit::QuarnDocument* document);
    // The list that shows the thumbnails: the last one made; `object` is the
    // listener itself, so that a list that goes away is never called.
    void setListener(ThumbnailListener* listener, QObject* object);
    ThumbnailListener* listener() const { return listenerObject_ ? listener_ : nullptr; }

    // A thumbnail of the page at `points` (its fitted size) and the screen's
    // scale; `index`: where the page stands now.
    void request(quarnkit::PageId page, platform::PdfSize points, double scale, int index = -1);
    QImage image(quarnkit::PageId page) { return scheduler_.image(page); }
    void invalidate(quarnkit::PageId page) { scheduler_.invalidate(page); }
    void invalidateAll() { scheduler_.invalidateAll(); }
    void cancel(quarnkit::PageId page) { scheduler_.cancel(page); }

    const quarnkit::ThumbnailScheduler& scheduler() const { return scheduler_; }
    // Nothing is rendering or waiting.
    bool idle() const { return !scheduler_.running() && scheduler_.waiting().empty(); }

signals:
    // After every finished render, stored or not (for waiting in tests and benchmarks).
    void renderFinished();

private:
    bool wanted(quarnkit::PageId page) const;
    void render(const quarnkit::ThumbnailRequest& request);
    void finished(const quarnkit::ThumbnailRequest& request, const QImage& image);

    QPointer<quarnkit::QuarnDocument> document_;
    ThumbnailListener* listener_ = nullptr;
    QPointer<QObject> listenerObject_;
    quarnkit::ThumbnailScheduler scheduler_;
    quarnkit::ThumbnailRenderer renderer_;
};

} // namespace quarn
