#include "Quarn/Design/AccessibleRoles.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QVariant>

namespace quarn {

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

// A tab or a choice: a button whose state is whether it is the one chosen,
// and whose one action is the click that chooses it.
class ChosenAccessible : public QAccessibleWidget {
public:
    ChosenAccessible(QAbstractButton* button, bool tab)
        : QAccessibleWidget(button, tab ? QAccessible::PageTab : QAccessible::RadioButton), tab_(tab)
    {}
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        if (tab_) {
            state.selectable = true;
            state.selected = button()->isChecked();
        } else {
            state.checkable = true;
            state.checked = button()->isChecked();
        }
        return state;
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && button()->accessibleName().isEmpty()) return button()->text();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override
    {
        QStringList names;
        if (button()->isEnabled()) names << pressAction();
        return names + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override
    {
        if (name == pressAction()) {
            if (button()->isEnabled()) button()->click();
        } else {
            QAccessibleWidget::doAction(name);
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

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

bool isOurs(QAccessibleInterface* made)
{
    return dynamic_cast<OneElementAccessible*>(made) || dynamic_cast<TabBarAccessible*>(made)
           || dynamic_cast<ChosenAccessible*>(made);
}

void play(QWidget* widget, Played role)
{
    static const bool installed = (QAccessible::installFactory(roleAccessible), true);
    Q_UNUSED(installed);
    widget->setProperty(playedRole, int(role));
    // Qt keeps the element it made for a widget: one made while the widget
    // was being built (a name set tells the reader) is made again.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget);
    if (made && !isOurs(made)) QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
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

} // namespace quarn
