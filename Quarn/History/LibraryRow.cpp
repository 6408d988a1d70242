#include "Quarn/History/LibraryRow.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/History/LibraryViews.h"
#include "QuarnKit/Shell/Design.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace quarn::LibraryRow {

namespace D = quarnkit::Design;

namespace {

constexpr int padX = 8;
constexpr int padY = 7;
constexpr int gap = 10; // between the thumbnail and the texts
constexpr int lineGap = 2;
constexpr int linkGap = 4; // between two links
constexpr int linksAbove = 3;
constexpr int linkPull = 6; // links stand a little left of the texts, so their words line up

const QFont& titleFont()
{
    static const QFont font = uiFont(13, QFont::Medium);
    return font;
}

const QFont& lineFont()
{
    static const QFont font = uiFont(11);
    return font;
}

// The desktop fonts' digits are of one width already.
const QFont& detailFont() { return lineFont(); }

int lineHeight(const QFont& font) { return QFontMetrics(font).height(); }

int textHeight(const LibraryRowData& row)
{
    int h = 1 + lineHeight(titleFont()) + lineGap + lineHeight(lineFont());
    if (!row.detail.isEmpty()) h += lineGap + lineHeight(detailFont());
    if (!row.links.empty()) h += lineGap + linksAbove + 20;
    return h;
}

} // namespace

int height(const LibraryRowData& row) { return padY + std::max(thumbnailHeight, textHeight(row)) + padY; }

int thumbnailPixels(double scale)
{
    // The picture fits the frame less 3 points on each side.
    return int(std::ceil((thumbnailHeight - 6) * scale));
}

std::vector<QRectF> linkRects(const QRectF& rect, const LibraryRowData& row)
{
    std::vector<QRectF> rects;
    if (row.links.empty()) return rects;
    const double bottom = rect.top() + padY + textHeight(row);
    double x = rect.left() + padX + thumbnailWidth + gap - linkPull;
    for (const LibraryRowLink& link : row.links) {
        const QSize size = LinkButton::sizeFor(link.title);
        rects.emplace_back(x, bottom - size.height(), size.width(), size.height());
        x += size.width() + linkGap;
    }
    return rects;
}

void paintThumbnail(QPainter& p, const QRectF& frame, const QImage& image, bool dimmed, double shown)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath plate;
    plate.addRoundedRect(frame, 3, 3);
    p.fillPath(plate, D::canvas());
    const double picture = !image.isNull() && !dimmed ? std::clamp(shown, 0.0, 1.0) : 0.0;
    if (picture < 1) {
        const QRectF symbol(frame.center().x() - 6, frame.center().y() - 6, 12, 12);
        drawSymbol(p, dimmed ? QStringLiteral("questionmark") : QStringLiteral("doc"), symbol,
                   withOpacity(D::paper(), 0.3 * (1 - picture)));
    }
    if (picture > 0) {
        const QRectF room = frame.adjusted(3, 3, -3, -3);
        QSizeF size = QSizeF(image.size()).scaled(room.size(), Qt::KeepAspectRatio);
        const QRectF target(room.center().x() - size.width() / 2, room.center().y() - size.height() / 2, size.width(),
                            size.height());
        p.setOpacity(picture);
        p.drawImage(target, image);
        p.setOpacity(1);
    }
    p.setPen(QPen(D::hairline(), 1));
    p.drawRoundedRect(frame.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    p.restore();
}

void paint(QPainter& p, const QRectF& rect, const LibraryRowData& row, const LibraryRowLook& look)
{
    const double lit = look.lit;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QColor fill = row.current ? withOpacity(D::accent(), 0.16)
                        : lit > 0   ? withOpacity(D::paper(), 0.06 * lit)
                                    : QColor(Qt::transparent);
    if (fill.alpha() > 0) {
        QPainterPath back;
        back.addRoundedRect(rect, 4, 4);
        p.fillPath(back, fill);
    }
    const QRectF frame(rect.left() + padX, rect.top() + padY, thumbnailWidth, thumbnailHeight);
    paintThumbnail(p, frame, look.thumbnail, row.dimmed, look.pictureShown);

    const double left = frame.right() + gap;
    const double width = rect.right() - padX - left;
    double y = rect.top() + padY + 1;
    const auto line = [&](const QString& text, const QFont& font, double opacity, Qt::TextElideMode elide) {
        const QFontMetrics metrics(font);
        p.setFont(font);
        p.setPen(withOpacity(D::paper(), opacity));
        p.drawText(QRectF(left, y, width, metrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   metrics.elidedText(text, elide, int(width)));
        y += metrics.height() + lineGap;
    };
    line(row.title, titleFont(), row.dimmed ? 0.5 : 0.95, Qt::ElideRight);
    line(row.folder, lineFont(), row.dimmed ? 0.38 : 0.58, Qt::ElideMiddle);
    if (!row.detail.isEmpty()) line(row.detail, detailFont(), row.dimmed ? 0.38 : 0.45, Qt::ElideRight);
    const std::vector<QRectF> links = linkRects(rect, row);
    for (size_t i = 0; i < links.size(); ++i)
        LinkButton::paint(p, links[i], row.links[i].title, row.links[i].tint,
                          i < look.links.size() ? look.links[i] : 0.0);
    p.restore();
}

} // namespace quarn::LibraryRow
