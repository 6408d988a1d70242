#include "Quarn/Design/SmallMarks.h"

#include "Quarn/Design/Appearance.h"
#include "QuarnKit/Shell/Design.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

namespace quarn {

namespace D = quarnkit::Design;

// ---------------------------------------------------------------- swatch

SwatchButton::SwatchButton(const quarnkit::RGBA& ink, bool chosen, QWidget* parent)
    : ChromeButton(parent), ink_(ink), chosen_(chosen)
{
    setToolTip(ink.name());
    setAccessibleName(ink.name());
    setFixedSize(22, 22);
    setKind(Kind::choice);
    exposeChosen(chosen);
}

void SwatchButton::setChosen(bool chosen)
{
    exposeChosen(chosen);
    if (chosen == chosen_) return;
    chosen_ = chosen;
    update();
}

QColor SwatchButton::ringColor() const
{
    if (chosen_) return D::accent();
    return withOpacity(D::paper(), isHovered() ? 0.42 : 0.18);
}

QColor SwatchButton::chipOutline() const
{
    return ink_.isDark() ? withOpacity(D::paper(), 0.34) : QColor(Qt::transparent);
}

void SwatchButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    pressStyle().apply(p, rect());
    const QRectF chip = QRectF(rect()).adjusted(2, 2, -2, -2);
    QPainterPath chipPath;
    chipPath.addRoundedRect(chip, 3, 3);
    p.fillPath(chipPath, ink_.toQColor());
    if (chipOutline().alpha() > 0) {
        QPainterPath inner;
        inner.addRoundedRect(chip.adjusted(0.5, 0.5, -0.5, -0.5), 2.5, 2.5);
        p.setPen(QPen(chipOutline(), 1));
        p.drawPath(inner);
    }
    // The ring lies on the frame's edge, drawn inside it.
    const double w = ringWidth();
    QPainterPath ring;
    ring.addRoundedRect(QRectF(rect()).adjusted(w / 2, w / 2, -w / 2, -w / 2), 4, 4);
    p.setPen(QPen(ringColor(), w));
    p.setBrush(Qt::NoBrush);
    p.drawPath(ring);
}

// ---------------------------------------------------------------- ink dot

InkDot::InkDot(const quarnkit::RGBA& ink, int size, QWidget* parent) : QWidget(parent), ink_(ink)
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QColor InkDot::outlineColor() const { return withOpacity(D::paper(), ink_.isDark() ? 0.5 : 0.2); }

void InkDot::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    p.setPen(Qt::NoPen);
    p.setBrush(ink_.toQColor());
    p.drawEllipse(r);
    const double w = outlineWidth();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(outlineColor(), w));
    p.drawEllipse(r.adjusted(w / 2, w / 2, -w / 2, -w / 2));
}

// ---------------------------------------------------------------- hairline

Hairline::Hairline(bool vertical, QWidget* parent) : QWidget(parent)
{
    if (vertical) {
        setFixedWidth(1);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    } else {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
}

void Hairline::paintEvent(QPaintEvent*) { QPainter(this).fillRect(rect(), D::hairline()); }

// ---------------------------------------------------------------- page mark

PageMark::PageMark(double side, QWidget* parent) : QWidget(parent), side_(side)
{
    // Room for the soft shadow beneath the page (blur 18, 10 down).
    setFixedSize(int(std::ceil(side * 0.76)) + 36, int(std::ceil(side)) + 46);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

namespace {

// Holds a page mark's place in a row; the mark itself stands beside it in
// the same parent, so that nothing clips its shadow.
class PageSquare : public QWidget {
public:
    explicit PageSquare(double side) : side_(side)
    {
        setFixedSize(int(std::ceil(side)), int(std::ceil(side)));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    ~PageSquare() override { delete mark_.data(); }

protected:
    bool event(QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::ParentChange:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide: follow(); break;
        default: break;
        }
        return QWidget::event(event);
    }

private:
    void follow()
    {
        QWidget* parent = parentWidget();
        if (!parent) return;
        if (!mark_) mark_ = new PageMark(side_, parent);
        else if (mark_->parentWidget() != parent) mark_->setParent(parent);
        mark_->move(pos() + QPoint((width() - mark_->width()) / 2, -18)); // the page's top at the square's
        mark_->lower();                                                   // under the row's texts
        mark_->setVisible(!isHidden());
    }

    double side_;
    QPointer<PageMark> mark_;
};

} // namespace

QWidget* PageMark::inSquare(double side) { return new PageSquare(side); }

void PageMark::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = side_ * 0.76, h = side_;
    const QPointF origin((width() - w) / 2, 18);
    // A soft shadow: black at 0.28 spread over 18 px, 10 down, in thin rings.
    for (int i = 18; i > 0; i -= 2) {
        QPainterPath shadow;
        shadow.addRoundedRect(QRectF(origin + QPointF(-i / 2.0, 10 - i / 2.0), QSizeF(w + i, h + i)),
                              w * 0.08 + i / 2.0, w * 0.08 + i / 2.0);
        p.fillPath(shadow, QColor::fromRgbF(0, 0, 0, float(0.28 / 9 * (1 - i / 19.0))));
    }
    QPainterPath page;
    page.addRoundedRect(QRectF(origin, QSizeF(w, h)), w * 0.08, w * 0.08);
    p.fillPath(page, D::paper());
    p.setPen(QPen(D::accent(), lineWidth(), Qt::SolidLine, Qt::FlatCap));
    p.drawLine(origin + QPointF(w * 0.16, h * 0.62), origin + QPointF(w - w * 0.16, h * 0.62));
}

// ---------------------------------------------------------------- key cap

namespace {
QFont keyCapFont() { return uiFont(11, QFont::Medium); }
} // namespace

KeyCap::KeyCap(const QString& text, QWidget* parent) : QWidget(parent), text_(text)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedSize(sizeHint());
}

QSize KeyCap::sizeHint() const
{
    const int w = QFontMetrics(keyCapFont()).horizontalAdvance(text_) + 10;
    return {std::max(20, w), 20};
}

void KeyCap::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    p.fillPath(path, withOpacity(D::paper(), 0.07));
    p.setPen(QPen(withOpacity(D::paper(), 0.14), 1));
    p.drawPath(path);
    p.setPen(withOpacity(D::paper(), 0.86));
    p.setFont(keyCapFont());
    p.drawText(rect(), Qt::AlignCenter, text_);
}

} // namespace quarn
