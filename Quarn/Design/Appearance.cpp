#include "Quarn/Design/Appearance.h"
#include "QuarnKit/Shell/DroppableWork.h"

#include "Quarn/Design/FocusRing.h"

#include "QuarnKit/Shell/Design.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QStyleFactory>
#include <QWidget>

namespace quarn {

namespace D = quarnkit::Design;

void fillWithChrome(QWidget* widget)
{
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, D::chrome());
    widget->setPalette(palette);
}

QColor withOpacity(const QColor& color, double opacity)
{
    QColor c = color;
    c.setAlphaF(float(color.alphaF() * opacity));
    return c;
}

QColor blend(const QColor& from, const QColor& to, double t)
{
    const auto mix = [t](float a, float b) { return float(a + (b - a) * t); };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()), mix(from.blueF(), to.blueF()),
                            mix(from.alphaF(), to.alphaF()));
}

QFont uiFont(int pixels, QFont::Weight weight)
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setPixelSize(pixels);
    f.setWeight(weight);
    return f;
}

QPalette darkPalette()
{
    const QColor paper = D::paper();
    QPalette p;
    auto both = [&p](QPalette::ColorRole role, const QColor& c) {
        p.setColor(QPalette::Active, role, c);
        p.setColor(QPalette::Inactive, role, c);
    };
    both(QPalette::Window, D::window());
    both(QPalette::WindowText, paper);
    both(QPalette::Base, D::canvas());
    both(QPalette::AlternateBase, D::chrome());
    both(QPalette::ToolTipBase, D::chrome());
    both(QPalette::ToolTipText, paper);
    both(QPalette::PlaceholderText, withOpacity(paper, 0.4));
    both(QPalette::Text, paper);
    both(QPalette::Button, D::chrome());
    both(QPalette::ButtonText, paper);
    both(QPalette::BrightText, D::record());
    both(QPalette::Highlight, D::accent());
    both(QPalette::HighlightedText, paper);
    both(QPalette::Link, D::accent());
    both(QPalette::LinkVisited, D::accent());
    both(QPalette::Light, withOpacity(paper, 0.16));
    both(QPalette::Midlight, withOpacity(paper, 0.10));
    both(QPalette::Mid, D::chrome());
    both(QPalette::Dark, D::window());
    both(QPalette::Shadow, Qt::black);

    // Disabled: the same surfaces, text dimmed as the design system does (0.35).
    const QColor dim = withOpacity(paper, 0.35);
    for (QPalette::ColorRole role :
         {QPalette::Window, QPalette::Base, QPalette::AlternateBase, QPalette::Button, QPalette::ToolTipBase,
          QPalette::Light, QPalette::Midlight, QPalette::Mid, QPalette::Dark, QPalette::Shadow})
        p.setColor(QPalette::Disabled, role, p.color(QPalette::Active, role));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText,
                                     QPalette::HighlightedText, QPalette::ToolTipText, QPalette::PlaceholderText})
        p.setColor(QPalette::Disabled, role, dim);
    p.setColor(QPalette::Disabled, QPalette::Highlight, withOpacity(D::accent(), 0.4));
    return p;
}

void applyDarkAppearance(QApplication& app)
{
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
    app.setPalette(darkPalette());
    QApplication::setFont(uiFont(13));
    focusring::install();
    // Finding the interface's faces (the font database, their fallbacks) is
    // the same for every thread and took most of a window's making at start:
    // a worker finds them while the first window is made.
    quarnkit::DroppableWork::shared().start([] {
        for (const QFont& font : {uiFont(13), D::font(), D::fontBold(), D::title()})
            QFontMetrics(font).horizontalAdvance(QStringLiteral("ravlen"));
    });
}

} // namespace quarn
