#pragma once
// The small pieces of the design system that are not text or icon buttons:
// colour swatches and dots, hairlines, the page emblem, key caps.
#include "Quarn/Design/ChromeButtons.h"
#include "QuarnKit/Shell/RGBA.h"

#include <QWidget>

namespace quarn {

// A colour chip that chooses an ink colour: an 18 × 18 chip inside a ring, 22 × 22 in all.
class SwatchButton : public ChromeButton {
    Q_OBJECT
public:
    SwatchButton(const quarnkit::RGBA& ink, bool chosen, QWidget* parent = nullptr);
    const quarnkit::RGBA& ink() const { return ink_; }
    bool isChosen() const { return chosen_; }
    void setChosen(bool chosen);
    // The ring's width and colour as drawn now.
    double ringWidth() const { return chosen_ ? 1.5 : 1.0; }
    QColor ringColor() const;
    // The chip's inner outline: light on a dark ink, none otherwise.
    QColor chipOutline() const;
    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    quarnkit::RGBA ink_;
    bool chosen_;
};

// A round dot that shows an ink colour; not a control.
class InkDot : public QWidget {
    Q_OBJECT
public:
    InkDot(const quarnkit::RGBA& ink, int size, QWidget* parent = nullptr);
    double outlineWidth() const { return ink_.isDark() ? 1.0 : 0.5; }
    QColor outlineColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    quarnkit::RGBA ink_;
};

// A one-point divider: horizontal (width from the layout) or vertical.
class Hairline : public QWidget {
    Q_OBJECT
public:
    explicit Hairline(bool vertical, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A small drawing of a page with an accent line across it; `side` is its height.
class PageMark : public QWidget {
    Q_OBJECT
public:
    explicit PageMark(double side, QWidget* parent = nullptr);
    // A side × side square for rows that lay out the page itself rather
    // than the room its shadow takes: the page stands at the square's top,
    // and its shadow is drawn whole beyond the square, under the row's
    // other views (the mark is the square's sibling, not its child).
    static QWidget* inSquare(double side);
    QSizeF pageSize() const { return {side_ * 0.76, side_}; }
    double lineWidth() const { return std::max(side_ * 0.76 * 0.045, 2.0); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double side_;
};

// One key of a shortcut drawn as a key cap: at least 20 × 20, growing in width.
class KeyCap : public QWidget {
    Q_OBJECT
public:
    explicit KeyCap(const QString& text, QWidget* parent = nullptr);
    QString text() const { return text_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

} // namespace quarn
