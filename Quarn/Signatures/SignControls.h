#pragma once
// The small controls the signature views share: the chip (a symbol and a
// title on a faint rounded fill, brighter under the pointer), the secondary
// text button, and the rounded-rectangle painting they and the cards use.
#include "Quarn/Design/ChromeButtons.h"

class QPainter;
class QRectF;

namespace quarn {

class ChipButton : public ChromeButton {
    Q_OBJECT
public:
    // `symbol` empty: the title alone.
    ChipButton(const QString& title, const QString& symbol, QWidget* parent = nullptr);
    QString symbol() const { return symbol_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
};

class SecondaryButton : public ChromeButton {
    Q_OBJECT
public:
    explicit SecondaryButton(const QString& title, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

namespace signview {

// Fills a rounded rectangle (radius in points).
void fillRounded(QPainter& painter, const QRectF& rect, double radius, const QColor& color);
// Strokes a rounded rectangle along the inside of its edge.
void strokeRoundedInside(QPainter& painter, const QRectF& rect, double radius, double width, const QColor& color);
// Registers the symbols the signature views draw.
void useSymbols();

} // namespace signview

} // namespace quarn
