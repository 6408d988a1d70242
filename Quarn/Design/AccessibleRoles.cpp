#include "Quarn/Design/AccessibleRoles.h"

#include <QAbstractButton>
#include <QVariant>

namespace quarn {

ButtonAccessible::ButtonAccessible(QAbstractButton* button, QAccessible::Role role) : QAccessibleWidget(button, role) {}

QAbstractButton* ButtonAccessible::button() const { return static_cast<QAbstractButton*>(widget()); }

QString ButtonAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name && button()->accessibleName().isEmpty()) return button()->text();
    return QAccessibleWidget::text(t);
}

QStringList ButtonAccessible::actionNames() const
{
    QStringList names;
    if (button()->isEnabled()) names << ownAction();
    return names + QAccessibleWidget::actionNames();
}

void ButtonAccessible::doAction(const QString& name)
{
    if (name != ownAction()) {
        QAccessibleWidget::doAction(name);
        return;
    }
    if (button()->isEnabled()) button()->click();
}

namespace {

const char* const playedRole = "quarnAccessibleRole";

enum class Played { oneElement = 1, tabBar, tab, choice };

Played playedBy(const QObject* object) { return Played(object->property(playedRole).toInt()); }

class OneElementAccessible : public QAccessibleWidget {
public:
    explicit OneElementAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::StaticText) {}
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
};

class TabBarAccessible : public QAccessibleWidget {
public:
    explicit TabBarAccessible(QWidget* bar) : QAccessibleWidget(bar, QAccessible::PageTabList) {}
};

// A tab or a choice: a button whose state is whether it is the one chosen.
class ChosenAccessible : public ButtonAccessible {
public:
    ChosenAccessible(QAbstractButton* button, bool tab)
        : ButtonAccessible(button, tab ? QAccessible::PageTab : QAccessible::RadioButton), tab_(tab)
    {}
    QAccessible::State state() const override
    {
        QAccessible::State state = ButtonAccessible::state();
        if (tab_) {
            state.selectable = true;
            state.selected = button()->isChecked();
        } else {
            state.checkable = true;
            state.checked = button()->isChecked();
        }
        return state;
    }

private:
    bool tab_;
};

// Asked for each class of the object, most derived first: the first answer
// stands in for the widget's own.
QAccessibleInterface* roleAccessible(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return nullptr;
    switch (playedBy(widget)) {
    case Played::oneElement: return new OneElementAccessible(widget);
    case Played::tabBar: return new TabBarAccessible(widget);
    case Played::tab: return new ChosenAccessible(static_cast<QAbstractButton*>(widget), true);
    case Played::choice: return new ChosenAccessible(static_cast<QAbstractButton*>(widget), false);
    }
    return nullptr;
}

void play(QWidget* widget, Played role)
{
    static const bool installed = (QAccessible::installFactory(roleAccessible), true);
    Q_UNUSED(installed);
    widget->setProperty(playedRole, int(role));
    remakeAccessible<OneElementAccessible, TabBarAccessible, ChosenAccessible>(widget);
}

} // namespace

void exposeAsOneElement(QWidget* widget) { play(widget, Played::oneElement); }

void exposeAsTabBar(QWidget* bar) { play(bar, Played::tabBar); }

void exposeAsTab(QAbstractButton* tab)
{
    play(tab, Played::tab);
    // Qt tells a reader of a checked state; a tab's is its selection.
    QObject::connect(tab, &QAbstractButton::toggled, tab, [tab](bool on) {
        if (!QAccessible::isActive()) return;
        QAccessibleEvent event(tab, on ? QAccessible::SelectionAdd : QAccessible::SelectionRemove);
        QAccessible::updateAccessibility(&event);
    });
}

void exposeAsChoice(QAbstractButton* button) { play(button, Played::choice); }

void setReaderName(QWidget* widget, const QString& name)
{
    if (widget->accessibleName() != name) widget->setAccessibleName(name);
}

} // namespace quarn
