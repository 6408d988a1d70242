#pragma once
// The design system's flat text field: no platform frame, a faint fill and a
// one-point outline that turns to the accent colour while the field has the
// keyboard focus (only the colour changes). 26 high, 8 of room left and right.
#include <QLineEdit>

namespace quarn {

class FlatField : public QLineEdit {
    Q_OBJECT
public:
    explicit FlatField(QWidget* parent = nullptr);
    // The field's font; default 13 px medium.
    void setFieldFont(const QFont& font);

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

// Selects the whole text of the line edit that has the keyboard focus, one
// event-loop turn later, so that typing replaces it. Nothing when no window
// is active or the focus is not in a line edit.
void selectFieldEditorTextSoon();

} // namespace quarn
