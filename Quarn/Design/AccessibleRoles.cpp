#include "Quarn/Design/AccessibleRoles.h"

#include <QAbstractButton>
#include <QHash>
#include <QPointer>
#include <QTabBar>
#include <QVariant>

#include <memory>
#include <utility>

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

enum class Played { oneElement = 1, tabBar, tab, choice, toolkitTabs };

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

// One tab of a toolkit tab bar: no widget of its own, its bar's tab at
// `index`.
class ToolkitTabAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    ToolkitTabAccessible(QTabBar* bar, int index) : bar_(bar), index_(index) {}

    bool isValid() const override { return bar_ && index_ < bar_->count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return bar_ ? bar_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(bar_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::PageTab; }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid()) return {};
        if (t == QAccessible::Name) {
            const QString name = bar_->accessibleTabName(index_);
            return name.isEmpty() ? QString(bar_->tabText(index_)).remove(QLatin1Char('&')) : name;
        }
        if (t == QAccessible::Description) return bar_->tabToolTip(index_);
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        if (!isValid()) return {};
        const QRect tab = bar_->tabRect(index_);
        return QRect(bar_->mapToGlobal(tab.topLeft()), tab.size());
    }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.selectable = true;
        state.selected = index_ == bar_->currentIndex();
        state.focusable = bar_->focusPolicy() != Qt::NoFocus;
        state.focused = state.selected && bar_->hasFocus();
        state.disabled = !bar_->isEnabled() || !bar_->isTabEnabled(index_);
        state.invisible = !bar_->isVisible() || !bar_->isTabVisible(index_);
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    QStringList actionNames() const override
    {
        return isValid() && bar_->isTabEnabled(index_) ? QStringList{pressAction()} : QStringList();
    }
    void doAction(const QString& name) override
    {
        if (name == pressAction() && isValid() && bar_->isTabEnabled(index_)) bar_->setCurrentIndex(index_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<QTabBar> bar_;
    int index_;
};

// A toolkit tab bar whose tabs are ToolkitTabAccessible, one kept per index
// for as long as the bar's element lives (a reader holds on to them).
class ToolkitTabsAccessible : public QAccessibleWidget {
public:
    explicit ToolkitTabsAccessible(QTabBar* bar) : QAccessibleWidget(bar, QAccessible::PageTabList) {}
    ~ToolkitTabsAccessible() override
    {
        for (const QAccessible::Id id : std::as_const(tabs_)) QAccessible::deleteAccessibleInterface(id);
    }
    QTabBar* bar() const { return static_cast<QTabBar*>(widget()); }
    int childCount() const override { return bar()->count(); }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= bar()->count()) return nullptr;
        if (const auto found = tabs_.constFind(index); found != tabs_.constEnd())
            return QAccessible::accessibleInterface(*found);
        auto* tab = new ToolkitTabAccessible(bar(), index);
        tabs_.insert(index, QAccessible::registerAccessibleInterface(tab));
        return tab;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (auto it = tabs_.constBegin(); it != tabs_.constEnd(); ++it)
            if (QAccessible::accessibleInterface(it.value()) == child) return it.key();
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const int index = bar()->tabAt(bar()->mapFromGlobal(QPoint(x, y)));
        return index >= 0 ? child(index) : nullptr;
    }
    QAccessibleInterface* focusChild() const override
    {
        return bar()->hasFocus() ? child(bar()->currentIndex()) : nullptr;
    }

private:
    mutable QHash<int, QAccessible::Id> tabs_;
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
    case Played::toolkitTabs:
        if (auto* bar = qobject_cast<QTabBar*>(widget)) return new ToolkitTabsAccessible(bar);
        return nullptr;
    }
    // Qt's own tells the current tab of every tab bar focused, the keys
    // wherever they are (the print dialog's): ours, which says selected.
    if (auto* bar = qobject_cast<QTabBar*>(widget)) return new ToolkitTabsAccessible(bar);
    return nullptr;
}

void play(QWidget* widget, Played role)
{
    static const bool installed = (QAccessible::installFactory(roleAccessible), true);
    Q_UNUSED(installed);
    widget->setProperty(playedRole, int(role));
    remakeAccessible<OneElementAccessible, TabBarAccessible, ChosenAccessible, ToolkitTabsAccessible>(widget);
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

void exposeTabSelection(QTabBar* bar)
{
    play(bar, Played::toolkitTabs);
    // The tab chosen before and the one chosen now change their state.
    auto chosen = std::make_shared<int>(bar->currentIndex());
    QObject::connect(bar, &QTabBar::currentChanged, bar, [bar, chosen](int index) {
        const int before = std::exchange(*chosen, index);
        if (!QAccessible::isActive()) return;
        QAccessibleInterface* tabs = QAccessible::queryAccessibleInterface(bar);
        for (const int tab : {before, index}) {
            QAccessibleInterface* node = tabs ? tabs->child(tab) : nullptr;
            if (!node) continue;
            QAccessible::State changed;
            changed.selected = true;
            QAccessibleStateChangeEvent event(node, changed);
            QAccessible::updateAccessibility(&event);
        }
    });
}

void setReaderName(QWidget* widget, const QString& name)
{
    if (widget->accessibleName() != name) widget->setAccessibleName(name);
}

} // namespace quarn
