#include "Quarn/Forms/FieldControl.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>

namespace quarn {

using Kind = quarnkit::FormFields::WidgetKind;

namespace {

QAccessible::Role roleOf(Kind kind)
{
    switch (kind) {
    case Kind::checkBox: return QAccessible::CheckBox;
    case Kind::radioButton: return QAccessible::RadioButton;
    default: return QAccessible::ComboBox;
    }
}

// The field as a reader meets it: a check box, a radio button or a pop-up
// of options, named by the field, whose one action is Space's.
class FieldAccessible : public QAccessibleWidget {
public:
    explicit FieldAccessible(FieldControl* control) : QAccessibleWidget(control, roleOf(control->field().kind)) {}
    FieldControl* control() const { return static_cast<FieldControl*>(widget()); }
    QString text(QAccessible::Text t) const override
    {
        const QString shown = control()->shownOption();
        if (t == QAccessible::Value) return shown;
        // The option chosen is in the name, as a reader on Linux hears a combo box's.
        if (t == QAccessible::Name && !shown.isEmpty())
            return widget()->accessibleName() + QStringLiteral(", ") + shown;
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        if (control()->field().kind != Kind::choice) {
            state.checkable = true;
            state.checked = control()->field().state != 0;
        } else {
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
    }
}

QString FieldControl::shownOption() const
{
    if (field_.kind != Kind::choice || !field_.value) return {};
    for (size_t i = 0; i < field_.options.size() && i < field_.exportValues.size(); ++i)
        if (field_.exportValues[i] == *field_.value) return QString::fromStdString(field_.options[i]);
    return QString::fromStdString(*field_.value);
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
