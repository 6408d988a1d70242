#include "Quarn/Markup/MarkupOverlay.h"

#include "QuarnKit/Shell/Design.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetricsF>
#include <QTextLayout>
#include <QLineF>
#include <QPainter>
#include <QPolygonF>
#include <QWidget>

#include <cmath>
#include <numbers>

namespace quarn {

namespace {

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(color.alphaF() * alpha));
    return color;
}

QRectF spanned(const QPointF& a, const QPointF& b)
{
    return QRectF(QPointF(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                  QPointF(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

QPen roundPen(const QColor& color, double width)
{
    QPen pen(color, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void paintStroke(QPainter& painter, const MarkupOverlay::Stroke& stroke)
{
    using quarnkit::MarkupTool;
    const auto& pts = stroke.points;
    if (stroke.tool == MarkupTool::pen) {
        if (pts.size() == 1) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(stroke.color);
            const double r = stroke.lineWidth / 2;
            painter.drawEllipse(pts.front(), r, r);
        } else if (pts.size() > 1) {
            painter.setPen(roundPen(stroke.color, stroke.lineWidth));
            painter.setBrush(Qt::NoBrush);
            painter.drawPolyline(QPolygonF(QList<QPointF>(pts.begin(), pts.end())));
        }
        return;
    }
    if (pts.size() < 2) return; // the other shapes need both points
    const QRectF box = spanned(pts[0], pts[1]);
    switch (stroke.tool) {
    case MarkupTool::highlight: painter.fillRect(box, withAlpha(stroke.color, 0.35)); break;
    case MarkupTool::rectangle:
    case MarkupTool::ellipse: {
        painter.setBrush(stroke.filled ? QBrush(withAlpha(stroke.color, 0.22)) : QBrush(Qt::NoBrush));
        painter.setPen(QPen(stroke.color, stroke.lineWidth));
        if (stroke.tool == MarkupTool::rectangle) painter.drawRect(box);
        else painter.drawEllipse(box);
        break;
    }
    case MarkupTool::line:
    case MarkupTool::arrow: {
        painter.setPen(roundPen(stroke.color, stroke.lineWidth));
        painter.drawLine(pts[0], pts[1]);
        if (stroke.tool == MarkupTool::arrow) {
            const double a = std::atan2(pts[1].y() - pts[0].y(), pts[1].x() - pts[0].x());
            const double length = std::max(4 * stroke.lineWidth, 12.0);
            const double spread = std::numbers::pi / 7;
            const QPointF tip = pts[1];
            QPolygonF head;
            head << tip << tip - length * QPointF(std::cos(a - spread), std::sin(a - spread))
                 << tip - length * QPointF(std::cos(a + spread), std::sin(a + spread));
            painter.setPen(Qt::NoPen);
            painter.setBrush(stroke.color);
            painter.drawPolygon(head);
        }
        break;
    }
    case MarkupTool::redact: painter.fillRect(box, QColor(0, 0, 0, int(0.85 * 255))); break;
    default: break;
    }
}

// The bubble's text laid out within 240 × 220 points, the last visible line
// cut short when the text runs longer.
struct BubbleText {
    QString text;
    QSizeF size;
};

BubbleText layBubbleText(const QString& text, const QFont& font)
{
    constexpr double maxWidth = 240, maxHeight = 220;
    const QFontMetricsF metrics(font);
    QStringList shown;
    double width = 0, height = 0;
    const QStringList paragraphs = text.split(QLatin1Char('\n'));
    for (int p = 0; p < paragraphs.size(); ++p) {
        QTextLayout layout(paragraphs[p], font);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(maxWidth);
            const double lineHeight = metrics.lineSpacing();
            QString piece = paragraphs[p].mid(line.textStart(), line.textLength()).trimmed();
            const bool last = height + 2 * lineHeight > maxHeight;
            const bool more = line.textStart() + line.textLength() < paragraphs[p].size() || p + 1 < paragraphs.size();
            if (last && more) piece = metrics.elidedText(piece + QStringLiteral(" …"), Qt::ElideRight, maxWidth);
            shown << piece;
            width = std::max(width, std::min(maxWidth, metrics.horizontalAdvance(piece)));
            height += lineHeight;
            if (last) {
                layout.endLayout();
                return {shown.join(QLatin1Char('\n')), {width, height}};
            }
        }
        layout.endLayout();
    }
    return {shown.join(QLatin1Char('\n')), {width, height}};
}

} // namespace

QRectF MarkupOverlay::bubbleRect(const QRectF& anchor, QSizeF size, const QRectF& area)
{
    const double w = size.width(), h = size.height();
    double x = anchor.right() + 8;
    if (x + w > area.right() - 8) x = anchor.left() - w - 8;
    x = std::max(x, area.left() + 8);
    // Top-aligned with the note, then kept inside: the top edge wins.
    double y = anchor.top();
    y = std::min(y, area.bottom() - h - 8);
    y = std::max(y, area.top() + 8);
    return {x, y, w, h};
}

MarkupOverlay::MarkupOverlay(QWidget* target) : QObject(target), target_(target)
{
    target->setAttribute(Qt::WA_TransparentForMouseEvents);
    target->installEventFilter(this);
}

void MarkupOverlay::update()
{
    if (target_) target_->update();
}

bool MarkupOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == target_ && event->type() == QEvent::Paint) {
        if (beforePaint) beforePaint();
        QPainter painter(target_);
        painter.setRenderHint(QPainter::Antialiasing);
        paint(painter);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void MarkupOverlay::paint(QPainter& painter) const
{
    using quarnkit::MarkupTool;
    const QColor accent = quarnkit::Design::accent();
    const QColor record = quarnkit::Design::record();

    if (hover) {
        painter.setBrush(Qt::NoBrush);
        if (hover->outline) {
            painter.setPen(QPen(withAlpha(accent, 0.55), 1));
            painter.drawRoundedRect(*hover->outline, 3, 3);
        }
        if (hover->erase) {
            if (hover->eraseWidth > 2) {
                painter.strokePath(*hover->erase, roundPen(withAlpha(record, 0.45), hover->eraseWidth));
            } else {
                painter.fillPath(*hover->erase, withAlpha(record, 0.12));
                painter.strokePath(*hover->erase, QPen(record, 1.5));
            }
        }
    }

    if (textLines) {
        for (const QRectF& r : textLines->rects) {
            // The view's y grows downwards: a page's baseline side is the rectangle's bottom.
            if (textLines->tool == MarkupTool::underline)
                painter.fillRect(QRectF(r.left(), r.bottom() - textLines->weight, r.width(), textLines->weight),
                                 textLines->color);
            else if (textLines->tool == MarkupTool::strikethrough)
                painter.fillRect(QRectF(r.left(), r.center().y() - textLines->weight / 2, r.width(), textLines->weight),
                                 textLines->color);
            else painter.fillRect(r, withAlpha(textLines->color, 0.35));
        }
    }

    if (stroke) paintStroke(painter, *stroke);

    if (selection) {
        painter.setBrush(Qt::NoBrush);
        if (selection->frame) {
            QPen pen(accent, 1.5);
            pen.setDashPattern({4.0 / 1.5, 3.0 / 1.5}); // Qt counts dashes in pen widths
            painter.setPen(pen);
            painter.drawRoundedRect(*selection->frame, 3, 3);
        }
        if (selection->line) {
            painter.setPen(QPen(withAlpha(accent, 0.7), 1));
            painter.drawLine(selection->line->first, selection->line->second);
        }
        painter.setPen(QPen(accent, 1.5));
        painter.setBrush(quarnkit::Design::paper());
        for (const QPointF& h : selection->handles)
            painter.drawRoundedRect(QRectF(h.x() - handleSize / 2, h.y() - handleSize / 2, handleSize, handleSize), 2,
                                    2);
    }

    if (bubble && target_) {
        QFont font = QApplication::font();
        font.setPixelSize(12);
        const BubbleText laid = layBubbleText(bubble->text, font);
        const QSizeF size(std::ceil(laid.size.width()) + 20, std::min(std::ceil(laid.size.height()), 220.0) + 14);
        const QRectF body = bubbleRect(bubble->anchor, size, QRectF(target_->rect()));
        // A soft shadow under the body only.
        for (int i = 1; i <= 4; ++i) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0, 0, 0, int(0.35 * 255 / (i + 1))));
            painter.drawRoundedRect(body.translated(0, 3).adjusted(-i, -i, i, i), 4 + i, 4 + i);
        }
        painter.setBrush(quarnkit::Design::chrome());
        painter.setPen(QPen(quarnkit::Design::hairline(), 1));
        painter.drawRoundedRect(body, 4, 4);
        painter.setPen(Qt::NoPen);
        painter.setBrush(bubble->tint);
        painter.drawRoundedRect(QRectF(body.left(), body.top(), 3, body.height()), 1.5, 1.5);
        painter.setPen(quarnkit::Design::paper());
        painter.setFont(font);
        painter.drawText(QRectF(body.left() + 11, body.top() + 7, body.width() - 20, body.height() - 14),
                         Qt::AlignLeft | Qt::AlignTop, laid.text);
    }
}

} // namespace quarn
