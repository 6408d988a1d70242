#include "Quarn/Viewer/QuarnPDFView.h"

#include "Quarn/Viewer/PageInteraction.h"
#include "Quarn/Viewer/PageViewInternal.h"
#include "QuarnKit/Viewer/PageLayout.h"
#include "QuarnKit/Viewer/TileRenderer.h"
#include "QuarnKit/Shell/Design.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace quarn {

using namespace pageview;
using quarnkit::PageDestination;
using quarnkit::PageSelection;

// ---------------------------------------------------------------- painting

int QuarnPDFView::tileLevel() const
{
    return std::max(1, int(std::lround(scale_ * viewport()->devicePixelRatioF() * 1000)));
}

std::vector<TileRequest> QuarnPDFView::tilesIn(const QRectF& area) const
{
    std::vector<TileRequest> tiles;
    if (pageCount() == 0) return tiles;
    const double dpr = viewport()->devicePixelRatioF();
    const int level = tileLevel();
    const double renderScale = level / 1000.0;
    const int t = TileRenderer::tileSize;
    const QPointF origin = contentOrigin();
    const QRectF pointsArea((area.topLeft() - origin) / scale_, area.size() / scale_);
    for (int page : layout_->pagesIn(pointsArea)) {
        const QRectF rect = pageRect(page);
        const QRectF shown = rect.intersected(area);
        if (shown.isEmpty()) continue;
        const platform::PdfSize size = layout_->sizes[page];
        const QRect full(0, 0, int(std::ceil(size.width * renderScale)), int(std::ceil(size.height * renderScale)));
        if (full.isEmpty()) continue;
        const QRectF device((shown.topLeft() - rect.topLeft()) * dpr, shown.size() * dpr);
        const int c0 = std::max(0, int(device.left()) / t);
        const int c1 = std::min((full.width() - 1) / t, int(device.right()) / t);
        const int r0 = std::max(0, int(device.top()) / t);
        const int r1 = std::min((full.height() - 1) / t, int(device.bottom()) / t);
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c)
                tiles.push_back({TileKey{page, level, c, r}, QRect(c * t, r * t, t, t).intersected(full)});
    }
    return tiles;
}

bool QuarnPDFView::visibleTilesReady() const
{
    for (const TileRequest& tile : tilesIn(viewport()->rect()))
        if (!renderer_->contains(tile.key)) return false;
    return true;
}

void QuarnPDFView::setTileCacheBudget(std::size_t bytes) { renderer_->setBudget(bytes); }

std::size_t QuarnPDFView::tileCacheBudget() const { return renderer_->budget(); }

std::size_t QuarnPDFView::tileCacheBytes() const { return renderer_->cachedBytes(); }

void QuarnPDFView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect exposed = event->rect();
    painter.fillRect(exposed, background_);
    if (pageCount() == 0) return;

    for (int page : visiblePages()) {
        const QRectF rect = pageRect(page);
        if (rect.intersects(exposed)) paintPage(painter, page, rect, exposed);
    }
    for (const auto& each : interactions_) each->paint(painter);

    // What the workers should render next, whatever part this paint covered:
    // the missing tiles of the whole view, nearest the centre first, then
    // those of one view height above and below, so that scrolling finds them.
    const QRectF view = viewport()->rect();
    const QPointF centre = view.center();
    std::vector<TileRequest> wanted;
    for (const TileRequest& tile : tilesIn(view))
        if (!renderer_->contains(tile.key)) wanted.push_back(tile);
    std::stable_sort(wanted.begin(), wanted.end(), [&](const TileRequest& a, const TileRequest& b) {
        return QLineF(tileRectInView(a).center(), centre).length() < QLineF(tileRectInView(b).center(), centre).length();
    });
    // Prefetch only while it leaves room: tiles fetched ahead must never push
    // out the tiles on screen.
    const auto bytesOf = [](const TileRequest& tile) { return std::size_t(tile.clip.width()) * tile.clip.height() * 4; };
    std::size_t onScreen = 0;
    for (const TileRequest& tile : tilesIn(view)) onScreen += bytesOf(tile);
    renderer_->setFloor(2 * onScreen);
    std::size_t planned = onScreen;
    const std::size_t visibleCount = wanted.size();
    for (const QRectF& around : {view.translated(0, view.height()), view.translated(0, -view.height())}) {
        for (const TileRequest& tile : tilesIn(around)) {
            if (planned + bytesOf(tile) > renderer_->budget() / 2) break;
            if (std::any_of(wanted.begin(), wanted.begin() + visibleCount,
                            [&](const TileRequest& w) { return w.key == tile.key; }))
                continue;
            planned += bytesOf(tile);
            if (!renderer_->contains(tile.key)) wanted.push_back(tile);
        }
    }
    renderer_->request(wanted);
}

QRectF QuarnPDFView::tileRectInView(const TileRequest& request) const
{
    const double dpr = viewport()->devicePixelRatioF();
    const QRectF page = pageRect(request.key.page);
    return QRectF(page.topLeft() + QPointF(request.clip.topLeft()) / dpr, QSizeF(request.clip.size()) / dpr);
}

void QuarnPDFView::paintPage(QPainter& painter, int page, const QRectF& rect, const QRect& exposed)
{
    if (pageShadows_) {
        for (int i = 1; i <= 3; ++i)
            painter.fillRect(rect.translated(0, i).adjusted(-i / 2.0, 0, i / 2.0, 0), QColor(0, 0, 0, 40 / i));
    }
    // The white sheet: all there is until the page's tiles arrive.
    painter.fillRect(rect, Qt::white);

    const QRectF visible = rect.intersected(QRectF(exposed));
    if (visible.isEmpty()) return;
    const double dpr = viewport()->devicePixelRatioF();
    const int level = tileLevel();
    const int t = TileRenderer::tileSize;

    bool missing = false;
    std::vector<std::pair<QRectF, const QImage*>> ready;
    for (const TileRequest& tile : tilesIn(visible)) {
        if (tile.key.page != page) continue;
        if (const QImage* image = renderer_->tile(tile.key)) ready.emplace_back(tileRectInView(tile), image);
        else missing = true;
    }
    painter.save();
    painter.setClipRect(rect.intersected(QRectF(exposed)));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (missing) {
        // Meanwhile, the tiles of one other scale (say, from before a zoom) stand in, stretched.
        for (int other : renderer_->cachedLevels(page)) {
            if (other == level) continue;
            const double ratio = double(level) / other;
            for (const auto& [key, image] : renderer_->tilesOfPage(page, other)) {
                if (image->isNull()) continue;
                const QRectF target(rect.topLeft() + QPointF(key.column * t, key.row * t) * ratio / dpr,
                                    QSizeF(image->size()) * ratio / dpr);
                if (target.intersects(visible)) painter.drawImage(target, *image);
            }
            break;
        }
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    for (const auto& [target, image] : ready)
        if (!image->isNull()) painter.drawImage(target, *image);
    painter.restore();
}

} // namespace quarn
