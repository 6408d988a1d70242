#include "QuarnKit/Shell/Design.h"

#include <QFontDatabase>

namespace quarnkit::Design {

namespace {

QColor srgb(double r, double g, double b, double a = 1)
{
    return QColor::fromRgbF(float(r), float(g), float(b), float(a));
}

// The layout is measured in logical pixels, so the sizes are pixel sizes: a
// 13-pixel label keeps its proportion to the controls around it at any DPI
// (Qt scales logical pixels for high-density screens).
QFont systemFont(QFontDatabase::SystemFont kind, int pixels, QFont::Weight weight)
{
    QFont f = QFontDatabase::systemFont(kind);
    f.setPixelSize(pixels);
    f.setWeight(weight);
    if (kind == QFontDatabase::FixedFont) f.setStyleHint(QFont::Monospace);
    return f;
}

} // namespace

const QColor& accent()
{
    static const QColor c = srgb(0.345, 0.478, 0.902);
    return c;
}
const QColor& record()
{
    static const QColor c = srgb(0.75, 0.32, 0.30);
    return c;
}
const QColor& window()
{
    static const QColor c = srgb(0.102, 0.094, 0.086);
    return c;
}
const QColor& chrome()
{
    static const QColor c = srgb(0.149, 0.137, 0.125);
    return c;
}
const QColor& canvas()
{
    static const QColor c = srgb(0.067, 0.059, 0.051);
    return c;
}
const QColor& paper()
{
    static const QColor c = srgb(0.945, 0.925, 0.89);
    return c;
}

const QColor& hairline()
{
    static const QColor c = [] {
        QColor h = paper();
        h.setAlphaF(0.12f);
        return h;
    }();
    return c;
}

const QFont& font()
{
    static const QFont f = systemFont(QFontDatabase::GeneralFont, 13, QFont::Medium);
    return f;
}
const QFont& fontBold()
{
    static const QFont f = systemFont(QFontDatabase::GeneralFont, 13, QFont::DemiBold);
    return f;
}
const QFont& title()
{
    static const QFont f = systemFont(QFontDatabase::GeneralFont, 18, QFont::DemiBold);
    return f;
}
const QFont& mono()
{
    static const QFont f = systemFont(QFontDatabase::FixedFont, 12, QFont::Medium);
    return f;
}

} // namespace quarnkit::Design
