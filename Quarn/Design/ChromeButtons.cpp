#include "Quarn/Design/ChromeButtons.h"

#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/Motion.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Design/TabStop.h"
#include "QuarnKit/Shell/Design.h"

#include <QEasingCurve>
#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>

namespace quarn {

namespace D = quarnkit::Design;

namespace {

constexpr int kEaseMs = 120;

void fillRounded(QPainter& p, const QRectF& rect, qreal radius, const QColor& color)
{
    if (color.alpha() == 0) return;
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    p.fillPath(path, color);
}

// A chrome button as a screen reader sees it: its role follows its kind, not
// whether it happens to be chosen now.
class ChromeButtonAccessible : public ButtonAccessible {
public:
    explicit ChromeButtonAccessible(ChromeButton* button) : ButtonAccessible(button, QAccessible::Button) {}

    ChromeButton* chrome() const { return static_cast<ChromeButton*>(button()); }
    QAccessible::Role role() const override
    {
        switch (chrome()->kind()) {
        case ChromeButton::Kind::action: break;
        case ChromeButton::Kind::toggle: return QAccessible::CheckBox;
        case ChromeButton::Kind::choice: return QAccessible::RadioButton;
        }
        return QAccessible::Button;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = ButtonAccessible::state();
        const bool checks = chrome()->kind() != ChromeButton::Kind::action;
        state.checkable = checks;
        state.checked = checks && button()->isChecked();
        state.pressed = button()->isDown();
        return state;
    }

protected:
    QString ownAction() const override
    {
        return chrome()->kind() == ChromeButton::Kind::toggle ? toggleAction() : pressAction();
    }
};

// Asked with the most derived class name first: a button with an interface
// of its own (a welcome card) keeps it.
QAccessibleInterface* chromeButtonAccessible(const QString& className, QObject* object)
{
    auto* button = qobject_cast<ChromeButton*>(object);
    return button && className == QLatin1String(ChromeButton::staticMetaObject.className())
               ? new ChromeButtonAccessible(button)
               : nullptr;
}

} // namespace

// ---------------------------------------------------------------- press style

ChromePressStyle::ChromePressStyle(QAbstractButton* button) : QObject(button), button_(button)
{
    animation_.setDuration(kEaseMs);
    animation_.setEasingCurve(QEasingCurve::OutCubic);
    connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        amount_ = v.toDouble();
        button_->update();
    });
    connect(button, &QAbstractButton::pressed, this, [this] { pressedChanged(true); });
    connect(button, &QAbstractButton::released, this, [this] { pressedChanged(false); });
    // A release away from the button ends the press without a released signal.
    button->installEventFilter(this);
}

bool ChromePressStyle::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease)
        QMetaObject::invokeMethod(
            this, [this] { pressedChanged(button_->isDown()); }, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

void ChromePressStyle::pressedChanged(bool pressed)
{
    if (pressed == pressed_) return;
    pressed_ = pressed;
    animation_.stop();
    animation_.setStartValue(amount_);
    animation_.setEndValue(pressed ? 1.0 : 0.0);
    animation_.start();
}

void ChromePressStyle::apply(QPainter& painter, const QRectF& rect) const
{
    painter.setOpacity(painter.opacity() * opacity());
    const QPointF c = rect.center();
    painter.translate(c);
    painter.scale(scale(), scale());
    painter.translate(-c);
}

// ---------------------------------------------------------------- shared button

ChromeButton::ChromeButton(QWidget* parent) : QAbstractButton(parent), press_(this)
{
    static const bool accessible = (QAccessible::installFactory(chromeButtonAccessible), true);
    Q_UNUSED(accessible);
    makeTabStop(this);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::ArrowCursor);
    hoverAnimation_.setDuration(kEaseMs);
    hoverAnimation_.setEasingCurve(QEasingCurve::OutCubic);
    connect(&hoverAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        hoverAmount_ = v.toDouble();
        update();
    });
}

void ChromeButton::setKind(Kind kind)
{
    kind_ = kind;
    setCheckable(kind != Kind::action);
}

void ChromeButton::setHoverEase(int milliseconds) { hoverAnimation_.setDuration(milliseconds); }

void ChromeButton::setHover(bool hover)
{
    if (hover == hover_) return;
    hover_ = hover;
    hoverAnimation_.stop();
    if (motion::reduced()) {
        hoverAmount_ = hover ? 1.0 : 0.0;
        update();
        return;
    }
    hoverAnimation_.setStartValue(hoverAmount_);
    hoverAnimation_.setEndValue(hover ? 1.0 : 0.0);
    hoverAnimation_.start();
}

void ChromeButton::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    setHover(true);
}

void ChromeButton::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    setHover(false);
}

void ChromeButton::changeEvent(QEvent* event)
{
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) update();
}

// ---------------------------------------------------------------- tool button

ChromeToolButton::ChromeToolButton(const QString& symbol, const QString& help, QWidget* parent)
    : ChromeButton(parent), symbol_(symbol)
{
    setToolTip(help);
    setAccessibleName(help);
    setFixedSize(32, 28);
}

void ChromeButton::exposeChosen(bool chosen)
{
    if (kind_ != Kind::action) setChecked(chosen);
}

void ChromeToolButton::setChosen(bool chosen)
{
    exposeChosen(chosen);
    if (chosen == chosen_) return;
    chosen_ = chosen;
    update();
}

void ChromeToolButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) p.setOpacity(0.35);
    pressStyle().apply(p, rect());
    const QRectF frame = rect();
    if (chosen_) fillRounded(p, frame, 4, withOpacity(D::accent(), 0.16));
    else if (isEnabled()) fillRounded(p, frame, 4, withOpacity(D::paper(), 0.06 * hoverAmount()));
    const QColor fg = chosen_ ? D::accent() : withOpacity(D::paper(), 0.78);
    drawSymbol(p, symbol_, QRectF(frame.center() - QPointF(8, 8), QSizeF(16, 16)), fg);
}

// ---------------------------------------------------------------- status icon button

StatusIconButton::StatusIconButton(const QString& symbol, const QString& label, QWidget* parent)
    : ChromeButton(parent), symbol_(symbol)
{
    setToolTip(label);
    setAccessibleName(label);
    setFixedSize(26, 26);
}

void StatusIconButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    pressStyle().apply(p, rect());
    if (isEnabled()) fillRounded(p, rect(), 4, withOpacity(D::paper(), 0.07 * hoverAmount()));
    const QColor fg = withOpacity(D::paper(), isEnabled() ? 0.82 : 0.3);
    drawSymbol(p, symbol_, QRectF(QPointF(rect().center()) - QPointF(6.5, 6.5), QSizeF(13, 13)), fg);
}

// ---------------------------------------------------------------- accent button

namespace {
const QFont& accentTitleFont()
{
    static const QFont f = uiFont(13, QFont::DemiBold);
    return f;
}
const QFont& accentHintFont()
{
    static const QFont f = uiFont(12, QFont::Medium);
    return f;
}
const QFont& quietFont()
{
    static const QFont f = uiFont(12, QFont::Medium);
    return f;
}
} // namespace

AccentButton::AccentButton(const QString& title, std::optional<QString> shortcut, QWidget* parent)
    : ChromeButton(parent), shortcut_(std::move(shortcut))
{
    setText(title);
    setFixedHeight(26);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize AccentButton::sizeHint() const
{
    int width = QFontMetrics(accentTitleFont()).horizontalAdvance(text());
    // A present but empty hint still takes its place 8 pt after the title.
    if (shortcut_) width += 8 + QFontMetrics(accentHintFont()).horizontalAdvance(*shortcut_);
    return {width + 28, 26};
}

void AccentButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    pressStyle().apply(p, rect());
    fillRounded(p, rect(), 4, isEnabled() ? D::accent() : withOpacity(D::paper(), 0.08));
    if (isEnabled()) fillRounded(p, rect(), 4, QColor::fromRgbF(1, 1, 1, float(0.08 * hoverAmount())));

    const QColor fg = withOpacity(D::paper(), isEnabled() ? 1.0 : 0.4);
    const QFontMetrics titleMetrics(accentTitleFont());
    const int titleWidth = titleMetrics.horizontalAdvance(text());
    const int hintWidth = shortcut_ ? 8 + QFontMetrics(accentHintFont()).horizontalAdvance(*shortcut_) : 0;
    int x = (width() - titleWidth - hintWidth) / 2;
    p.setPen(fg);
    p.setFont(accentTitleFont());
    p.drawText(QRect(x, 0, titleWidth, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    if (shortcut_) {
        x += titleWidth + 8;
        p.setFont(accentHintFont());
        p.setPen(withOpacity(fg, 0.62));
        p.drawText(QRect(x, 0, hintWidth, height()), Qt::AlignVCenter | Qt::AlignLeft, *shortcut_);
    }
}

// ---------------------------------------------------------------- quiet button

QuietButton::QuietButton(const QString& title, QWidget* parent) : ChromeButton(parent)
{
    setText(title);
    setFixedHeight(22);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize QuietButton::sizeHint() const { return {QFontMetrics(quietFont()).horizontalAdvance(text()) + 16, 22}; }

void QuietButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    pressStyle().apply(p, rect());
    if (isEnabled()) fillRounded(p, rect(), 4, withOpacity(D::paper(), 0.07 * hoverAmount()));
    p.setPen(withOpacity(D::paper(), isEnabled() ? 0.88 : 0.35));
    p.setFont(quietFont());
    p.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace quarn
