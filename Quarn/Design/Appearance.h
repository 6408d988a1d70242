#pragma once
// The forced dark appearance: the Fusion style with a palette made from the
// design tokens, set on the application before any window exists.
#include <QColor>
#include <QFont>
#include <QPalette>

class QApplication;
class QWidget;

namespace quarn {

// The application-wide dark palette.
QPalette darkPalette();
// Fusion style, the dark palette, the interface font and the keyboard focus
// ring on the application.
void applyDarkAppearance(QApplication& app);

// Paints `widget`'s background in the chrome colour of bars and panels.
void fillWithChrome(QWidget* widget);
// `color` with its alpha multiplied by `opacity` ("paper at 0.78").
QColor withOpacity(const QColor& color, double opacity);
// `from` at 0, `to` at 1, and between them in proportion (an eased change of colour).
QColor blend(const QColor& from, const QColor& to, double t);
// The desktop's interface font at a pixel size and weight.
QFont uiFont(int pixels, QFont::Weight weight = QFont::Normal);

} // namespace quarn
