#pragma once
// The icon table: symbol names (the names the design uses, "lock.fill",
// "magnifyingglass", …) to SVG drawings bundled with the program, drawn in any
// colour. An unknown name draws a plain circle, never nothing.
#include <QColor>
#include <QPixmap>
#include <QSize>
#include <QString>

class QPainter;
class QRectF;

namespace quarn {

// Whether the table holds a drawing for `name`.
bool hasSymbol(const QString& name);
// Draws the symbol fitted into `rect`, in `color`.
void drawSymbol(QPainter& painter, const QString& name, const QRectF& rect, const QColor& color);
// The symbol as a pixmap of `size` logical pixels at `devicePixelRatio`.
QPixmap symbolPixmap(const QString& name, QSize size, const QColor& color, qreal devicePixelRatio = 1.0);

} // namespace quarn
