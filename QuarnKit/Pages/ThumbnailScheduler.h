#pragma once
// Which page thumbnails to render and in what order, and the cache of those
// rendered, without any widget or thread: the window's thumbnail store runs
// the renders and the page list answers which pages it still shows. One
// render at a time, the newest request first (the rows the user scrolled to
// last), at most one waiting request per page, and a request that the list no
// longer wants when its turn comes is dropped. Images are cached by page
// object under a cost limit; after an edit they stay on show, stale, until
// their replacement is ready, so edits never blank the list.
#include "Platform/PdfDocument.h"
#include "Platform/PdfPageIdentity.h"

#include <QCache>
#include <QImage>
#include <QSize>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace platform {
inline size_t qHash(const PdfPageId& page, size_t seed = 0) { return qHashMulti(seed, page.object, page.generation); }
} // namespace platform

namespace quarnkit {

// When a thumbnail was asked for: current while equal to the store's epoch
// (raised for every page at once) and the page's own token (raised per page).
struct ThumbnailStamp {
    quint64 epoch = 0;
    quint64 token = 0;
    friend bool operator==(const ThumbnailStamp&, const ThumbnailStamp&) = default;
};

struct ThumbnailRequest {
    platform::PdfPageId page;
    QSize pixels;
    ThumbnailStamp stamp;
    int index = -1; // where the page stood when asked for (platform::recordPage)
    friend bool operator==(const ThumbnailRequest&, const ThumbnailRequest&) = default;
};

// The box every thumbnail fits, in points.
inline constexpr platform::PdfSize thumbnailBox{128, 150};
// The size a page's thumbnail is shown at: the page as drawn (its display
// box, turned by its rotation) fitted into thumbnailBox, each side rounded;
// the whole box for a page without a size.
platform::PdfSize thumbnailSize(const platform::PdfPageGeometry& page);
// The scale that draws the page into `pixels`; 0 for a page without a size.
double thumbnailScale(const platform::PdfPageGeometry& page, QSize pixels);

class ThumbnailScheduler {
public:
    // Twice the bitmaps' bytes count against this: about 48 MiB of pixels.
    static constexpr qint64 costLimit = 100663296;
    // No thumbnail holds more pixels than this; a larger one is asked for at a
    // lower scale (a page list drawn at an absurd scale must not eat the cache).
    static constexpr qint64 maxPixels = 1 << 20;

    // `wanted`: whether a page is still in its document and on or near the
    // shown rows. `render`: start rendering a request; its image (null when
    // it failed) must come back through finish() later.
    using Wanted = std::function<bool(platform::PdfPageId)>;
    using Render = std::function<void(const ThumbnailRequest&)>;
    ThumbnailScheduler(Wanted wanted, Render render);

    // The pixel size asked for a size in points at a backing scale: each side
    // rounded, shrunk to maxPixels; empty when a side rounds below 1.
    static QSize pixelsFor(platform::PdfSize points, double scale);

    // Asks for a current thumbnail of the page at this size; nothing when one
    // is cached or rendering already. `index`: where the page stands now.
    void request(platform::PdfPageId page, platform::PdfSize points, double scale, int index = -1);
    // The cached image of the page, current or stale; null when none.
    QImage image(platform::PdfPageId page);
    // The cached image is of the page as it is now, at the size last asked for.
    bool isCurrent(platform::PdfPageId page, QSize pixels);
    // Makes the page's cached image stale.
    void invalidate(platform::PdfPageId page);
    // Makes every cached image stale.
    void invalidateAll();
    // Drops the waiting requests for the page; a running render goes on.
    void cancel(platform::PdfPageId page);
    // Forgets every image and waiting request (another document is shown).
    void clear();

    // A render ended. Returns true when its image went into the cache (the
    // list is then told). Starts the next render either way.
    bool finish(const ThumbnailRequest& request, const QImage& image);
    // Renders waiting requests again, for instance once the list shows rows.
    void startNext();

    const std::optional<ThumbnailRequest>& running() const { return running_; }
    // The waiting requests, oldest first.
    const std::vector<ThumbnailRequest>& waiting() const { return queue_; }
    qint64 cost() const { return cache_.totalCost(); }
    qint64 peakCost() const { return peakCost_; }

private:
    struct Thumbnail {
        QImage image;
        QSize pixels;
        ThumbnailStamp stamp;
    };
    ThumbnailStamp stampOf(platform::PdfPageId page) const;

    Wanted wanted_;
    Render render_;
    QCache<platform::PdfPageId, Thumbnail> cache_;
    std::map<platform::PdfPageId, quint64> tokens_;
    quint64 epoch_ = 0;
    quint64 shownSince_ = 0; // the epoch the document shown now started at (clear)
    quint64 counter_ = 0;
    std::vector<ThumbnailRequest> queue_;
    std::optional<ThumbnailRequest> running_;
    qint64 peakCost_ = 0;
};

} // namespace quarnkit
