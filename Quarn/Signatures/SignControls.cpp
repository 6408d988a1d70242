#include "Quarn/Signatures/SignControls.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/Symbols.h"
#include "QuarnKit/Shell/Design.h"

#include <QPainter>
#include <QPainterPath>

static void initSignSymbols()
{
    Q_INIT_RESOURCE(SignSymbols);
    Q_INIT_RESOURCE(StatusBarSymbols); // "plus" and "xmark" are drawn there
}

namespace quarn {

namespace D = quarnkit::Design;

namespace signview {

void fillRounded(QPainter& painter, const QRectF& rect, double radius, const QColor& color)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    painter.fillPath(path, color);
}

void strokeRoundedInside(QPainter& painter, const QRectF& rect, double radius, double width, const QColor& color)
{
    if (color.alpha() == 0) return;
    const double half = width / 2;
    QPainterPath path;
    path.addRoundedRect(rect.adjusted(half, half, -half, -half), std::max(0.0, radius - half),
                        std::max(0.0, radius - half));
    painter.strokePath(path, QPen(color, width));
}

void useSymbols()
{
    static const bool done = (initSignSymbols(), true);
    (void)done;
}

} // namespace signview

namespace {
const QFont& chipSymbolFont()
{
    static const QFont f = uiFont(11, QFont::Medium);
    return f;
}
const QFont& chipTitleFont()
{
    static const QFont f = uiFont(12, QFont::Medium);
    return f;
}
const QFont& secondaryFont()
{
    static const QFont f = uiFont(13, QFont::DemiBold);
    return f;
}
} // namespace

// ---------------------------------------------------------------- chip

ChipButton::ChipButton(const QString& title, const QString& symbol, QWidget* parent)
    : ChromeButton(parent), symbol_(symbol)
{
    signview::useSymbols();
    setText(title);
    setAccessibleName(title);
    setFixedHeight(26);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ChipButton::sizeHint() const
{
    const int symbolWidth = symbol_.isEmpty() ? 0 : QFontMetrics(chipSymbolFont()).height() + 5;
    return {symbolWidth + QFontMetrics(chipTitleFont()).horizontalAdvance(text()) + 20, 26};
}

void ChipButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    pressStyle().apply(p, rect());
    signview::fillRounded(p, rect(), 4, withOpacity(D::paper(), showsHover() ? 0.12 : 0.07));
    const QColor fg = withOpacity(D::paper(), isEnabled() ? 0.9 : 0.35);
    const double side = QFontMetrics(chipSymbolFont()).height() - 2;
    const int titleWidth = QFontMetrics(chipTitleFont()).horizontalAdvance(text());
    const double content = (symbol_.isEmpty() ? 0 : side + 5) + titleWidth;
    double x = (width() - content) / 2;
    if (!symbol_.isEmpty()) {
        drawSymbol(p, symbol_, QRectF(x, (height() - side) / 2, side, side), fg);
        x += side + 5;
    }
    p.setPen(fg);
    p.setFont(chipTitleFont());
    p.drawText(QRectF(x, 0, titleWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
}

// ---------------------------------------------------------------- secondary button

SecondaryButton::SecondaryButton(const QString& title, QWidget* parent) : ChromeButton(parent)
{
    setText(title);
    setAccessibleName(title);
    setFixedHeight(26);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SecondaryButton::sizeHint() const { return {QFontMetrics(secondaryFont()).horizontalAdvance(text()) + 28, 26}; }

void SecondaryButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    pressStyle().apply(p, rect());
    signview::fillRounded(p, rect(), 4, withOpacity(D::paper(), 0.08));
    p.setPen(withOpacity(D::paper(), 0.9));
    p.setFont(secondaryFont());
    p.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace quarn
