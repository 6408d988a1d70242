#pragma once
// The one label of the interface: a design-system font and colour, and always
// plain text, since what it shows may come from a PDF or from the user (a
// Producer of "<h1>…</h1>" must read as those characters). Also the two dimmed
// text styles of the dark interface.
#include "Quarn/Design/Appearance.h"
#include "QuarnKit/Shell/Design.h"

#include <QLabel>

namespace quarn::shelltext {

// The secondary and tertiary text of the dark interface: paper, dimmed.
inline QColor secondary() { return withOpacity(quarnkit::Design::paper(), 0.6); }
inline QColor tertiary() { return withOpacity(quarnkit::Design::paper(), 0.35); }

// `Label` is QLabel or a kind of it made from a text and a parent.
template <typename Label = QLabel>
inline Label* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent = nullptr)
{
    auto* l = new Label(text, parent);
    l->setFont(font);
    l->setTextFormat(Qt::PlainText); // texts can hold what the user typed
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    l->setPalette(p);
    return l;
}

} // namespace quarn::shelltext
