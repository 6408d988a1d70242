#pragma once
// The keyboard's place on a form field that takes no typing (a check box, a
// radio button, a choice field): a widget laid over the field, drawing
// nothing (the page shows the field), that holds the focus, so that Tab stops
// there, the focus ring shows where, Space and the arrows reach the field and
// a screen reader hears its name, role and state.
#include "QuarnKit/Document/FormFields.h"

#include <QWidget>

#include <functional>
#include <optional>

namespace quarn {

class FieldControl : public QWidget {
    Q_OBJECT

public:
    using Widget = quarnkit::FormFields::Widget;
    // Where an arrow, Home or End moves: to the button of the radio group or
    // the option before or after, or the first or the last.
    enum class Step { back, on, first, last };

    // `name` is what a reader hears it called.
    FieldControl(const Widget& field, const QString& name, QWidget* parent);

    const Widget& field() const { return field_; }
    // The field as read again after an edit: a reader hears what changed.
    void setField(const Widget& field);
    // The option a choice field shows; empty for none or another field.
    QString shownOption() const;
    // The index of the option a choice field shows; -1 for none or another field.
    int chosenOption() const;

    // Space (and Return or Alt+Down on a choice): ticks, chooses or shows the options.
    std::function<void()> onPress;
    std::function<void(Step)> onStep;
    // Escape: the keys go back to the page.
    std::function<void()> onLeave;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The step a key makes on this field, if any.
    std::optional<Step> stepOf(const QKeyEvent& key) const;
    bool pressedBy(const QKeyEvent& key) const;

    Widget field_;
};

} // namespace quarn
