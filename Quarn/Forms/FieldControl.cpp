#include "Quarn/Forms/FieldControl.h"

#include "Quarn/Design/AccessibleItemList.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QPointer>
#include <QWindow>

namespace quarn {

using Kind = quarnkit::FormFields::WidgetKind;

namespace {

bool isListBox(const FieldControl::Widget& field) { return field.kind == Kind::choice && !field.comboBox; }

QAccessible::Role roleOf(const FieldControl::Widget& field)
{
    switch (field.kind) {
    case Kind::checkBox: return QAccessible::CheckBox;
    case Kind::radioButton: return QAccessible::RadioButton;
    default: return isListBox(field) ? QAccessible::List : QAccessible::ComboBox;
    }
}

// One option of a list box: selected while it is the field's value, and
// the focus within the list while the list has it.
class OptionAccessible : public QAccessibleInterface {
public:
    OptionAccessible(FieldControl* control, int index) : control_(control), index_(index) {}

    bool isValid() const override { return control_ && index_ < int(control_->field().options.size()); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return control_ ? control_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(control_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        return isValid() && t == QAccessible::Name ? QString::fromStdString(control_->field().options[size_t(index_)])
                                                   : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        return control_ ? QRect(control_->mapToGlobal(QPoint()), control_->size()) : QRect();
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.selectable = true;
        state.selected = control_->chosenOption() == index_;
        state.focused = state.selected && control_->hasFocus();
        return state;
    }

private:
    QPointer<FieldControl> control_;
    int index_;
};

// The field as a reader meets it: a check box, a radio button, a pop-up of
// options or a list of them, named by the field, whose one action is
// Space's.
class FieldAccessible : public RowListAccessible {
public:
    explicit FieldAccessible(FieldControl* control) : RowListAccessible(control, roleOf(control->field())) {}
    ~FieldAccessible() override
    {
        for (const QAccessible::Id id : std::as_const(options_)) QAccessible::deleteAccessibleInterface(id);
    }
    FieldControl* control() const { return static_cast<FieldControl*>(widget()); }
    QString text(QAccessible::Text t) const override
    {
        const QString shown = control()->shownOption();
        if (t == QAccessible::Value) return shown;
        // The option chosen is in the name, as a reader on Linux hears a
        // combo box's; a list's is its item with the focus.
        if (t == QAccessible::Name && !shown.isEmpty() && !isListBox(control()->field()))
            return widget()->accessibleName() + QStringLiteral(", ") + shown;
        return QAccessibleWidget::text(t);
    }
    int childCount() const override
    {
        return isListBox(control()->field()) ? int(control()->field().options.size()) : 0;
    }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= childCount()) return nullptr;
        while (options_.size() <= index)
            options_ << QAccessible::registerAccessibleInterface(new OptionAccessible(control(), int(options_.size())));
        return QAccessible::accessibleInterface(options_[index]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (int i = 0; i < options_.size(); ++i)
            if (QAccessible::accessibleInterface(options_[i]) == child) return i;
        return -1;
    }
    QAccessibleInterface* focusChild() const override
    {
        return control()->hasFocus() ? child(control()->chosenOption()) : nullptr;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = RowListAccessible::state();
        if (control()->field().kind != Kind::choice) {
            state.checkable = true;
            state.checked = control()->field().state != 0;
        } else if (!isListBox(control()->field())) {
            state.hasPopup = true;
        }
        return state;
    }
    QStringList actionNames() const override
    {
        return {control()->field().kind == Kind::choice ? showMenuAction() : toggleAction()};
    }
    void doAction(const QString& name) override
    {
        if (actionNames().contains(name) && control()->onPress) control()->onPress();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {QStringLiteral("Space")}; }

private:
    mutable QList<QAccessible::Id> options_;
};

QAccessibleInterface* fieldAccessible(const QString&, QObject* object)
{
    auto* control = qobject_cast<FieldControl*>(object);
    return control ? new FieldAccessible(control) : nullptr;
}

} // namespace

FieldControl::FieldControl(const Widget& field, const QString& name, QWidget* parent) : QWidget(parent), field_(field)
{
    static const bool readable = (QAccessible::installFactory(fieldAccessible), true);
    Q_UNUSED(readable);
    setFocusPolicy(Qt::StrongFocus);
    // Clicks reach the page under it, where the field takes them as ever.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAccessibleName(name);
}

void FieldControl::setField(const Widget& field)
{
    const Widget before = std::exchange(field_, field);
    if (!QAccessible::isActive()) return;
    if (before.state != field.state) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
    if (before.value != field.value && field.kind == Kind::choice) {
        QAccessibleValueChangeEvent event(this, shownOption());
        QAccessible::updateAccessibility(&event);
        // A list's reader follows the item with the focus.
        if (isListBox(field) && hasFocus() && chosenOption() >= 0) {
            QAccessibleEvent focus(this, QAccessible::Focus);
            focus.setChild(chosenOption());
            QAccessible::updateAccessibility(&focus);
        }
    }
}

QString FieldControl::shownOption() const
{
    if (field_.kind != Kind::choice || !field_.value) return {};
    const int chosen = chosenOption();
    return chosen >= 0 ? QString::fromStdString(field_.options[size_t(chosen)]) : QString::fromStdString(*field_.value);
}

int FieldControl::chosenOption() const
{
    if (field_.kind != Kind::choice || !field_.value) return -1;
    for (size_t i = 0; i < field_.options.size() && i < field_.exportValues.size(); ++i)
        if (field_.exportValues[i] == *field_.value) return int(i);
    return -1;
}

std::optional<FieldControl::Step> FieldControl::stepOf(const QKeyEvent& key) const
{
    if (field_.kind == Kind::checkBox || (key.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return std::nullopt;
    // A radio group goes round with any arrow; a list steps up and down.
    const bool radio = field_.kind == Kind::radioButton;
    switch (key.key()) {
    case Qt::Key_Up: return Step::back;
    case Qt::Key_Down: return Step::on;
    case Qt::Key_Left:
        if (radio) return Step::back;
        break;
    case Qt::Key_Right:
        if (radio) return Step::on;
        break;
    case Qt::Key_Home: return Step::first;
    case Qt::Key_End: return Step::last;
    default: break;
    }
    return std::nullopt;
}

bool FieldControl::pressedBy(const QKeyEvent& key) const
{
    const Qt::KeyboardModifiers held = key.modifiers() & ~Qt::KeypadModifier;
    if (key.key() == Qt::Key_Space) return held == Qt::NoModifier;
    if (field_.kind != Kind::choice) return false;
    return (held == Qt::NoModifier && (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter))
           || (held == Qt::AltModifier && key.key() == Qt::Key_Down);
}

namespace {

// A letter, digit or sign typed on the field: never the page's tool keys,
// which would pick a tool unseen while the user thinks they are filling in.
bool typesText(const QKeyEvent& key)
{
    const Qt::KeyboardModifiers held = key.modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    return held == Qt::NoModifier && !key.text().isEmpty() && key.text().front().isPrint();
}

} // namespace

bool FieldControl::event(QEvent* event)
{
    // Its keys are its own while it has them, before the window's page keys.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto& key = *static_cast<QKeyEvent*>(event);
        const bool escape = key.key() == Qt::Key_Escape && key.modifiers() == Qt::NoModifier;
        if (stepOf(key) || pressedBy(key) || escape || typesText(key)) {
            event->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void FieldControl::keyPressEvent(QKeyEvent* event)
{
    if (pressedBy(*event)) {
        if (onPress) onPress();
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (onLeave) onLeave();
        return;
    }
    if (const auto step = stepOf(*event)) {
        if (onStep) onStep(*step);
        return;
    }
    if (typesText(*event)) return;
    QWidget::keyPressEvent(event);
}

} // namespace quarn
