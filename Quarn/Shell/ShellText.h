#pragma once
// Plain texts of the shell's windows (Settings, keyboard shortcuts): a label
// in a design-system font and colour, and the two dimmed text styles.
#include "Quarn/Design/Appearance.h"
#include "QuarnKit/Shell/Design.h"

#include <QLabel>

namespace quarn::shelltext {

// The secondary and tertiary text of the dark interface: paper, dimmed.
inline QColor secondary() { return withOpacity(quarnkit::Design::paper(), 0.6); }
inline QColor tertiary() { return withOpacity(quarnkit::Design::paper(), 0.35); }

inline QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent = nullptr)
{
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    l->setTextFormat(Qt::PlainText); // texts can hold what the user typed
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    l->setPalette(p);
    return l;
}

} // namespace quarn::shelltext
