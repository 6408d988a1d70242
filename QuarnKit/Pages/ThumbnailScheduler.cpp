#include "QuarnKit/Pages/ThumbnailScheduler.h"

#include "QuarnKit/Export/PageRender.h"

#include <algorithm>
#include <cmath>

namespace quarnkit {

platform::PdfSize thumbnailSize(const platform::PdfPageGeometry& page)
{
    const platform::PdfSize drawn = Exporter::drawnSize(page, Exporter::displayBox(page));
    if (!(drawn.width > 0) || !(drawn.height > 0)) return thumbnailBox;
    const double s = std::min(thumbnailBox.width / drawn.width, thumbnailBox.height / drawn.height);
    return {std::round(drawn.width * s), std::round(drawn.height * s)};
}

double thumbnailScale(const platform::PdfPageGeometry& page, QSize pixels)
{
    const platform::PdfSize drawn = Exporter::drawnSize(page, Exporter::displayBox(page));
    if (!(drawn.width > 0) || !(drawn.height > 0)) return 0;
    return std::min(pixels.width() / drawn.width, pixels.height() / drawn.height);
}

ThumbnailScheduler::ThumbnailScheduler(Wanted wanted, Render render)
    : wanted_(std::move(wanted)), render_(std::move(render)), cache_(costLimit)
{}

QSize ThumbnailScheduler::pixelsFor(platform::PdfSize points, double scale)
{
    double w = std::round(points.width * scale);
    double h = std::round(points.height * scale);
    if (!(w >= 1) || !(h >= 1)) return {};
    if (w * h > double(maxPixels)) {
        const double shrink = std::sqrt(double(maxPixels) / (w * h));
        w = std::max(1.0, std::floor(w * shrink));
        h = std::max(1.0, std::floor(h * shrink));
    }
    return {int(w), int(h)};
}

ThumbnailStamp ThumbnailScheduler::stampOf(platform::PdfPageId page) const
{
    const auto token = tokens_.find(page);
    return {epoch_, token == tokens_.end() ? 0 : token->second};
}

void ThumbnailScheduler::request(platform::PdfPageId page, platform::PdfSize points, double scale, int index)
{
    const QSize pixels = pixelsFor(points, scale);
    if (pixels.isEmpty() || !page) return;
    const ThumbnailRequest wanted{page, pixels, stampOf(page), index};
    if (const Thumbnail* cached = cache_.object(page);
        cached && cached->pixels == pixels && cached->stamp == wanted.stamp)
        return;
    if (running_ && running_->page == page && running_->pixels == pixels && running_->stamp == wanted.stamp) return;
    cancel(page);
    queue_.push_back(wanted);
    startNext();
}

QImage ThumbnailScheduler::image(platform::PdfPageId page)
{
    const Thumbnail* cached = cache_.object(page);
    return cached ? cached->image : QImage();
}

bool ThumbnailScheduler::isCurrent(platform::PdfPageId page, QSize pixels)
{
    const Thumbnail* cached = cache_.object(page);
    return cached && cached->pixels == pixels && cached->stamp == stampOf(page);
}

void ThumbnailScheduler::invalidate(platform::PdfPageId page) { tokens_[page] = ++counter_; }

void ThumbnailScheduler::invalidateAll() { epoch_ = ++counter_; }

void ThumbnailScheduler::cancel(platform::PdfPageId page)
{
    std::erase_if(queue_, [page](const ThumbnailRequest& r) { return r.page == page; });
}

void ThumbnailScheduler::clear()
{
    cache_.clear();
    queue_.clear();
    invalidateAll();
    shownSince_ = epoch_;
}

bool ThumbnailScheduler::finish(const ThumbnailRequest& request, const QImage& image)
{
    running_.reset();
    bool stored = false;
    // A render of a document shown no more is dropped: its page may share
    // its object with one of the document shown now.
    if (!image.isNull() && request.stamp.epoch >= shownSince_) {
        // The stamp is the request's even when the page was edited meanwhile:
        // the next request then sees it stale and renders again.
        const qint64 cost = qint64(image.bytesPerLine()) * image.height() * 2;
        stored = cache_.insert(request.page, new Thumbnail{image, request.pixels, request.stamp}, cost);
        peakCost_ = std::max(peakCost_, cache_.totalCost());
    }
    startNext();
    return stored;
}

void ThumbnailScheduler::startNext()
{
    while (!running_ && !queue_.empty()) {
        const ThumbnailRequest next = queue_.back();
        queue_.pop_back();
        if (!wanted_(next.page)) continue;
        running_ = next;
        render_(next);
    }
}

} // namespace quarnkit
