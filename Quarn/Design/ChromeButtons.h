#pragma once
// The design system's buttons: one press style and four members of one
// family (tool, status icon, accent, quiet). The whole frame as the hit area,
// hover as a faint fill while enabled, disabled dimmed. Each is a tab stop
// (TabStop.h): the keyboard reaches it, a click does not take the focus.
#include <QAbstractButton>
#include <QVariantAnimation>

#include <optional>

namespace quarn {

// The press style every chrome control shares: while pressed the label is
// drawn at 0.7 opacity and scaled to 0.97 about its centre, both eased out
// over 0.12 s. Owned by its button.
class ChromePressStyle : public QObject {
    Q_OBJECT
public:
    explicit ChromePressStyle(QAbstractButton* button);
    // 0 at rest, 1 fully pressed; animated.
    double pressAmount() const { return amount_; }
    double opacity() const { return 1.0 - 0.3 * amount_; }
    double scale() const { return 1.0 - 0.03 * amount_; }
    // Applies opacity and scale to a painter about `rect`'s centre.
    void apply(QPainter& painter, const QRectF& rect) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pressedChanged(bool pressed);
    QAbstractButton* button_;
    bool pressed_ = false;
    QVariantAnimation animation_;
    double amount_ = 0;
};

// Hover and press plumbing shared by the family and the other chrome controls.
class ChromeButton : public QAbstractButton {
    Q_OBJECT
public:
    // What the button does, as a screen reader tells it: act once (a push
    // button), switch something on and off (a check box), or stand for one
    // choice among several (a radio button). A toggle or a choice is checked
    // while on or chosen, and reads the same whether chosen or not; any of
    // them acts by a click of its own.
    enum class Kind { action, toggle, choice };

    explicit ChromeButton(QWidget* parent = nullptr);
    Kind kind() const { return kind_; }
    void setKind(Kind kind);
    bool isHovered() const { return hover_; }
    // 0 … 1, eased out over 0.12 s; the hover fill is drawn at this strength.
    double hoverAmount() const { return hoverAmount_; }
    const ChromePressStyle& pressStyle() const { return press_; }

protected:
    // A chosen tool, segment or swatch is told to screen readers as checked;
    // the state follows the owner's choice, never a click of its own. Only a
    // toggle or a choice is ever checked.
    void exposeChosen(bool chosen);
    void nextCheckState() override {}
    // How long the hover fill takes to come and go; 0.12 s unless set.
    void setHoverEase(int milliseconds);
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    // The hover fill shows only while hovered and enabled.
    bool showsHover() const { return hover_ && isEnabled(); }

private:
    void setHover(bool hover);
    Kind kind_ = Kind::action;
    ChromePressStyle press_;
    QVariantAnimation hoverAnimation_;
    bool hover_ = false;
    double hoverAmount_ = 0;
};

// An icon button for toolbars and tool palettes: 32 × 28. It acts once
// unless its owner makes it a toggle (a tool, a panel it shows and hides).
class ChromeToolButton : public ChromeButton {
    Q_OBJECT
public:
    ChromeToolButton(const QString& symbol, const QString& help, QWidget* parent = nullptr);
    QString symbol() const { return symbol_; }
    bool isChosen() const { return chosen_; }
    void setChosen(bool chosen);
    QSize sizeHint() const override { return {32, 28}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    bool chosen_ = false;
};

// A small square icon button for the status bar: 26 × 26.
class StatusIconButton : public ChromeButton {
    Q_OBJECT
public:
    StatusIconButton(const QString& symbol, const QString& label, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {26, 26}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
};

// The primary text button of a dialog or panel, filled with the accent colour,
// with an optional hint (a key combination) after its title.
class AccentButton : public ChromeButton {
    Q_OBJECT
public:
    AccentButton(const QString& title, std::optional<QString> shortcut = std::nullopt, QWidget* parent = nullptr);
    std::optional<QString> shortcutHint() const { return shortcut_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QString> shortcut_;
};

// A low-emphasis text button for secondary actions.
class QuietButton : public ChromeButton {
    Q_OBJECT
public:
    explicit QuietButton(const QString& title, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quarn
