#include "Quarn/Viewer/PageTiles.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Viewer/TileRenderer.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace quarn {

using quarnkit::TileKey;
using quarnkit::TileRenderer;
using quarnkit::TileRequest;
namespace D = quarnkit::Design;

PageTiles::PageTiles(QuarnPDFView& view) : view_(view), renderer_(std::make_unique<TileRenderer>())
{
    QObject::connect(renderer_.get(), &TileRenderer::tileReady, &view, [this](int page) {
        const QRectF rect = view_.placement().pageRect(page);
        if (!rect.isEmpty()) view_.viewport()->update(rect.toAlignedRect());
    });
}

PageTiles::~PageTiles() = default;

void PageTiles::setDocument(const quarnkit::QuarnDocument* document) { renderer_->setDocument(document); }

void PageTiles::invalidate(std::optional<int> page) { renderer_->invalidate(page); }

void PageTiles::invalidate(const std::vector<int>& pages) { renderer_->invalidate(pages); }

int PageTiles::level() const
{
    return std::max(1, int(std::lround(view_.scaleFactor() * view_.viewport()->devicePixelRatioF() * 1000)));
}

std::vector<TileRequest> PageTiles::tilesIn(const QRectF& area) const
{
    std::vector<TileRequest> tiles;
    if (view_.pageCount() == 0) return tiles;
    const double dpr = view_.viewport()->devicePixelRatioF();
    const int level = this->level();
    const double renderScale = level / 1000.0;
    const int t = TileRenderer::tileSize;
    for (int page : view_.placement().pagesIn(area)) {
        const QRectF rect = view_.placement().pageRect(page);
        const QRectF shown = rect.intersected(area);
        if (shown.isEmpty()) continue;
        const platform::PdfSize size = view_.placement().geometry(page)->displaySize;
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

bool PageTiles::visibleReady() const
{
    for (const TileRequest& tile : tilesIn(view_.viewport()->rect()))
        if (!renderer_->contains(tile.key)) return false;
    return true;
}

bool PageTiles::rendering() const { return renderer_->pendingCount() > 0; }

std::size_t PageTiles::cachedBytes() const { return renderer_->cachedBytes(); }

std::size_t PageTiles::budget() const { return renderer_->budget(); }

void PageTiles::setBudget(std::size_t bytes) { renderer_->setBudget(bytes); }

std::size_t PageTiles::displayListBytes() const { return renderer_->displayListBytes(); }

std::vector<int> PageTiles::pagesWithDisplayLists() const { return renderer_->pagesWithDisplayLists(); }

void PageTiles::setWorkerHook(std::function<void()> hook) { renderer_->setWorkerHook(std::move(hook)); }

const std::vector<quarnkit::PageLink>* PageTiles::linksRead(int page) const { return renderer_->links(page); }

bool PageTiles::damaged(int page) const { return renderer_->damaged(page); }

void PageTiles::paint(QPainter& painter, const QRect& exposed)
{
    for (int page : view_.visiblePages()) {
        const QRectF rect = view_.placement().pageRect(page);
        if (rect.intersects(exposed)) paintPage(painter, page, rect, exposed);
    }
    requestMissing();
}

void PageTiles::requestMissing()
{
    // What the workers should render next, whatever part a paint covered:
    // the missing tiles of the whole view, nearest the centre first, then
    // those of one view height above and below, so that scrolling finds them.
    const QRectF view = view_.viewport()->rect();
    const QPointF centre = view.center();
    std::vector<TileRequest> wanted;
    for (TileRequest tile : tilesIn(view))
        if (!renderer_->contains(tile.key)) {
            tile.windowWaits = renderer_->cachedLevels(tile.key.page).empty();
            wanted.push_back(tile);
        }
    std::stable_sort(wanted.begin(), wanted.end(), [&](const TileRequest& a, const TileRequest& b) {
        return QLineF(rectInView(a).center(), centre).length() < QLineF(rectInView(b).center(), centre).length();
    });
    // Prefetch only while it leaves room: tiles fetched ahead must never push
    // out the tiles on screen.
    const auto bytesOf = [](const TileRequest& tile) {
        return std::size_t(tile.clip.width()) * tile.clip.height() * 4;
    };
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

QRectF PageTiles::rectInView(const TileRequest& request) const
{
    const double dpr = view_.viewport()->devicePixelRatioF();
    const QRectF page = view_.placement().pageRect(request.key.page);
    return QRectF(page.topLeft() + QPointF(request.clip.topLeft()) / dpr, QSizeF(request.clip.size()) / dpr);
}

void PageTiles::paintPage(QPainter& painter, int page, const QRectF& rect, const QRect& exposed)
{
    // A soft shadow below the sheet.
    for (int i = 1; i <= 3; ++i)
        painter.fillRect(rect.translated(0, i).adjusted(-i / 2.0, 0, i / 2.0, 0), QColor(0, 0, 0, 40 / i));
    // The white sheet: all there is until the page's tiles arrive.
    painter.fillRect(rect, Qt::white);

    const QRectF visible = rect.intersected(QRectF(exposed));
    if (visible.isEmpty()) return;
    const double dpr = view_.viewport()->devicePixelRatioF();
    const int level = this->level();
    const int t = TileRenderer::tileSize;

    bool missing = false;
    std::vector<std::pair<QRectF, const QImage*>> ready;
    for (const TileRequest& tile : tilesIn(visible)) {
        if (tile.key.page != page) continue;
        if (const QImage* image = renderer_->tile(tile.key)) ready.emplace_back(rectInView(tile), image);
        else missing = true;
    }
    painter.save();
    painter.setClipRect(rect.intersected(QRectF(exposed)));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (missing) {
        // Meanwhile, the tiles of other scales (say, from before a zoom) stand
        // in, stretched. A scale may hold only some of the page (its renders
        // were cut short), so every scale cached is drawn, the nearest to this
        // one last: it shows wherever it has tiles, the others elsewhere.
        std::vector<int> others = renderer_->cachedLevels(page);
        std::erase(others, level);
        const auto farFirst = [level](int a, int b) {
            const double da = std::fabs(std::log(double(a) / level)), db = std::fabs(std::log(double(b) / level));
            return da != db ? da > db : a < b;
        };
        std::sort(others.begin(), others.end(), farFirst);
        for (int other : others) {
            const double ratio = double(level) / other;
            for (const auto& [key, image] : renderer_->tilesOfPage(page, other)) {
                if (image->isNull()) continue;
                const QRectF target(rect.topLeft() + QPointF(key.column * t, key.row * t) * ratio / dpr,
                                    QSizeF(image->size()) * ratio / dpr);
                if (target.intersects(visible)) painter.drawImage(target, *image);
            }
        }
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    for (const auto& [target, image] : ready)
        if (!image->isNull()) painter.drawImage(target, *image);
    if (renderer_->damaged(page)) paintDamageNotice(painter, rect);
    painter.restore();
}

void PageTiles::paintDamageNotice(QPainter& painter, const QRectF& page)
{
    // The page shows what was drawn before its content failed; this says so,
    // on the page itself, in its lower left corner.
    constexpr double inset = 8, height = 24, pad = 8, symbol = 14;
    if (page.width() < 120 || page.height() < 3 * height) return;
    const QFont font = uiFont(12, QFont::Medium);
    const QString text = QObject::tr("This page is damaged: only part of it can be shown.");
    const double room = page.width() - 2 * inset - 3 * pad - symbol;
    const QString shown = QFontMetricsF(font).elidedText(text, Qt::ElideRight, room);
    const double width =
        std::min(page.width() - 2 * inset, 3 * pad + symbol + QFontMetricsF(font).horizontalAdvance(shown) + 1);
    const QRectF box(page.left() + inset, page.bottom() - inset - height, width, height);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(D::chrome(), 0.92));
    painter.drawRoundedRect(box, 6, 6);
    drawSymbol(painter, QStringLiteral("exclamationmark.triangle"),
               QRectF(box.left() + pad, box.center().y() - symbol / 2, symbol, symbol), D::record());
    painter.setFont(font);
    painter.setPen(D::paper());
    painter.drawText(box.adjusted(2 * pad + symbol, 0, -pad, 0), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

} // namespace quarn
