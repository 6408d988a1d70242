#include "Quarn/Design/AccessiblePopover.h"

#include "Quarn/Design/AccessibleRoles.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QContextMenuEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QMenu>
#include <QMenuBar>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <map>

namespace quarn {

namespace {

const char* const asPopover = "quarnAccessiblePopover";
const char* const asMenu = "quarnAccessibleMenu";

// A popover, or a menu popped up for readers: its own role, listed among the windows.
bool isShownPopover(const QWidget* widget)
{
    return widget->isWindow() && widget->isVisible()
           && (widget->property(asPopover).toBool() || widget->property(asMenu).toBool());
}

QList<QWidget*> shownPopovers()
{
    QList<QWidget*> popovers;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (isShownPopover(widget)) popovers << widget;
    return popovers;
}

// The application's windows as Qt lists them, then the popovers shown.
class ApplicationAccessible : public QAccessibleApplication {
public:
    int childCount() const override { return QAccessibleApplication::childCount() + int(shownPopovers().size()); }
    QAccessibleInterface* child(int index) const override
    {
        const int windows = QAccessibleApplication::childCount();
        if (index < windows) return QAccessibleApplication::child(index);
        const QList<QWidget*> popovers = shownPopovers();
        return index - windows < popovers.size() ? QAccessible::queryAccessibleInterface(popovers[index - windows])
                                                 : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* widget = child ? qobject_cast<const QWidget*>(child->object()) : nullptr;
        if (!widget || !isShownPopover(widget)) return QAccessibleApplication::indexOfChild(child);
        return QAccessibleApplication::childCount() + int(shownPopovers().indexOf(const_cast<QWidget*>(widget)));
    }
    QAccessibleInterface* focusChild() const override
    {
        if (QWidget* popup = QApplication::activePopupWidget(); popup && isShownPopover(popup))
            return QAccessible::queryAccessibleInterface(popup);
        return QAccessibleApplication::focusChild();
    }
};

// A popover: a dialog whose parent is the application, as for any window
// (Qt would name the button it hangs from, which does not list it).
class PopoverAccessible : public QAccessibleWidget {
public:
    explicit PopoverAccessible(QWidget* popover) : QAccessibleWidget(popover, QAccessible::Dialog) {}
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(qApp); }
};

const char* const openerName = "quarnAccessibleOpener";
const char* const asBarMenu = "quarnAccessibleBarMenu";

// Gives `menu` the keys, so that the control under it is no second object
// focused beside its item; closing gives them back to the window's focus.
void giveKeys(QMenu* menu)
{
    if (menu->isVisible() && menu != QApplication::focusWidget()) menu->setFocus(Qt::PopupFocusReason);
}

// A menu's text as a reader hears it: without the marks of its mnemonics.
QString spoken(QString text)
{
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

// What a menu or a menu bar holds: its active item and where each stands.
QAction* activeOf(const QWidget* holder)
{
    if (const auto* menu = qobject_cast<const QMenu*>(holder)) return menu->activeAction();
    if (const auto* bar = qobject_cast<const QMenuBar*>(holder)) return bar->activeAction();
    return nullptr;
}

QRect placeOf(const QWidget* holder, QAction* action)
{
    if (const auto* menu = qobject_cast<const QMenu*>(holder)) return menu->actionGeometry(action);
    if (const auto* bar = qobject_cast<const QMenuBar*>(holder)) return bar->actionGeometry(action);
    return {};
}

// One item of a menu or a menu bar. The item the keys are on is the one
// object focused: not while the menu it opens shows, whose item is.
class MenuItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    MenuItemAccessible(QWidget* holder, QAction* action) : holder_(holder), action_(action) {}

    QAction* action() const { return action_; }
    bool isValid() const override { return holder_ && action_ && holder_->actions().contains(action_.data()); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return holder_ ? holder_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(holder_.data()); }
    int childCount() const override { return isValid() && action_->menu() ? 1 : 0; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 && childCount() ? QAccessible::queryAccessibleInterface(action_->menu()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return childCount() && child == this->child(0) ? 0 : -1;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid()) return {};
        if (t == QAccessible::Name) return spoken(action_->text());
        if (t == QAccessible::Accelerator) return action_->shortcut().toString(QKeySequence::NativeText);
        if (t == QAccessible::Description)
            return action_->toolTip() == spoken(action_->text()) ? QString() : action_->toolTip();
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        if (!isValid()) return {};
        const QRect at = placeOf(holder_, action_);
        return QRect(holder_->mapToGlobal(at.topLeft()), at.size());
    }
    QAccessible::Role role() const override
    {
        return action_ && action_->isSeparator() ? QAccessible::Separator : QAccessible::MenuItem;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.invisible = !action_->isVisible() || !holder_->isVisible();
        state.disabled = !action_->isEnabled();
        state.focusable = !action_->isSeparator() && action_->isEnabled();
        const bool opened = action_->menu() && action_->menu()->isVisible();
        state.focused = holder_->isVisible() && activeOf(holder_) == action_ && !opened;
        state.checkable = action_->isCheckable();
        state.checked = action_->isChecked();
        state.hasPopup = action_->menu() != nullptr;
        state.expanded = opened;
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    QStringList actionNames() const override
    {
        if (!isValid() || action_->isSeparator() || !action_->isEnabled()) return {};
        return {action_->menu() ? showMenuAction() : pressAction()};
    }
    // As the keys do it: the item made active, then Return.
    void doAction(const QString& name) override
    {
        if (!actionNames().contains(name)) return;
        if (auto* bar = qobject_cast<QMenuBar*>(holder_.data())) return bar->setActiveAction(action_);
        auto* menu = static_cast<QMenu*>(holder_.data());
        menu->setActiveAction(action_);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(menu, &press);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<QWidget> holder_;
    QPointer<QAction> action_;
};

// A menu or a menu bar: its actions its items, one kept per action for as
// long as it lives (a reader holds on to them).
class ActionsAccessible : public QAccessibleWidget {
public:
    ActionsAccessible(QWidget* holder, QAccessible::Role role) : QAccessibleWidget(holder, role) {}
    ~ActionsAccessible() override
    {
        for (const auto& [action, id] : items_) QAccessible::deleteAccessibleInterface(id);
    }
    int childCount() const override { return int(widget()->actions().size()); }
    QAccessibleInterface* child(int index) const override
    {
        const QList<QAction*> actions = widget()->actions();
        if (index < 0 || index >= actions.size()) return nullptr;
        QAction* action = actions[index];
        auto found = items_.find(action);
        // A stale one stands for an action gone, whose address came back.
        if (found != items_.end()
            && !static_cast<MenuItemAccessible*>(QAccessible::accessibleInterface(found->second))->action()) {
            QAccessible::deleteAccessibleInterface(found->second);
            items_.erase(found);
            found = items_.end();
        }
        if (found == items_.end())
            found =
                items_
                    .emplace(action, QAccessible::registerAccessibleInterface(new MenuItemAccessible(widget(), action)))
                    .first;
        return QAccessible::accessibleInterface(found->second);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* item = dynamic_cast<const MenuItemAccessible*>(child);
        return item && item->action() ? int(widget()->actions().indexOf(item->action())) : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QPoint at = widget()->mapFromGlobal(QPoint(x, y));
        const QList<QAction*> actions = widget()->actions();
        for (int i = 0; i < actions.size(); ++i)
            if (placeOf(widget(), actions[i]).contains(at)) return child(i);
        return nullptr;
    }
    QAccessibleInterface* focusChild() const override
    {
        QAction* active = widget()->isVisible() ? activeOf(widget()) : nullptr;
        return active ? child(int(widget()->actions().indexOf(active))) : nullptr;
    }

private:
    mutable std::map<QAction*, QAccessible::Id> items_;
};

// A menu popped up for readers: named by its title, else by what opened it;
// never focused itself while one of its items is.
class MenuAccessible : public ActionsAccessible {
public:
    explicit MenuAccessible(QMenu* menu) : ActionsAccessible(menu, QAccessible::PopupMenu) {}
    QMenu* menu() const { return static_cast<QMenu*>(widget()); }

    // A popped-up menu is among the application's windows; a menu bar's
    // stands under its item in the bar or in the menu it opens from.
    QAccessibleInterface* parent() const override
    {
        if (menu()->property(asMenu).toBool()) return QAccessible::queryAccessibleInterface(qApp);
        QAction* own = menu()->menuAction();
        for (QObject* object : own->associatedObjects()) {
            auto* holder = qobject_cast<QWidget*>(object);
            if (!holder || holder == menu() || !holder->actions().contains(own)) continue;
            if (QAccessibleInterface* items = QAccessible::queryAccessibleInterface(holder))
                return items->child(int(holder->actions().indexOf(own)));
        }
        return QAccessibleWidget::parent();
    }
    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name) return QAccessibleWidget::text(t);
        if (!menu()->accessibleName().isEmpty()) return menu()->accessibleName();
        if (!menu()->title().isEmpty()) return spoken(menu()->title());
        return menu()->property(openerName).toString();
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.focused = false;
        return state;
    }
};

// A menu bar: never focused itself while one of its items, or one of its
// menus' items, is.
class MenuBarAccessible : public ActionsAccessible {
public:
    explicit MenuBarAccessible(QMenuBar* bar) : ActionsAccessible(bar, QAccessible::MenuBar) {}
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.focused = false;
        return state;
    }
};

// Asked for each class of the object, most derived first: the first answer
// stands in for the object's own.
QAccessibleInterface* popoverAccessible(const QString&, QObject* object)
{
    if (object && object == QCoreApplication::instance() && qobject_cast<QApplication*>(object))
        return new ApplicationAccessible;
    auto* widget = qobject_cast<QWidget*>(object);
    if (auto* menu = qobject_cast<QMenu*>(widget);
        menu && (menu->property(asMenu).toBool() || menu->property(asBarMenu).toBool()))
        return new MenuAccessible(menu);
    if (auto* bar = qobject_cast<QMenuBar*>(widget); bar && bar->property(asBarMenu).toBool())
        return new MenuBarAccessible(bar);
    return widget && widget->isWindow() && widget->property(asPopover).toBool() ? new PopoverAccessible(widget)
                                                                                : nullptr;
}

// Tells a screen reader that the application has one more window as a
// popover shows. A popover hidden is left out of the list again. A popover
// (not a menu, which has its active item) takes the keys once it shows,
// unless one of its controls took them meanwhile: the keys stayed on its
// button, and a reader announced nothing of it.
class ShowNotice : public QObject {
public:
    ShowNotice(QWidget* popover, bool takesKeys) : QObject(popover), takesKeys_(takesKeys)
    {
        popover->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Show) return false;
        if (QAccessible::isActive()) {
            QAccessibleEvent added(watched, QAccessible::ObjectCreated);
            QAccessible::updateAccessibility(&added);
        }
        if (takesKeys_)
            QMetaObject::invokeMethod(
                this,
                [popover = static_cast<QWidget*>(watched)] {
                    const QWidget* focus = QApplication::focusWidget();
                    if (popover->isVisible() && focus != popover && !popover->isAncestorOf(focus))
                        popover->setFocus(Qt::PopupFocusReason);
                },
                Qt::QueuedConnection);
        return false;
    }

private:
    bool takesKeys_;
};

void install()
{
    QAccessible::installFactory(popoverAccessible);
    // One made before now would not list popovers.
    remakeAccessible<ApplicationAccessible>(qApp);
}

} // namespace

void exposeAsPopover(QWidget* popover)
{
    static const bool installed = (install(), true);
    Q_UNUSED(installed);
    // A popover's role is a dialog's; a menu keeps its own (popUpMenu).
    popover->setProperty(asMenu, false);
    if (popover->property(asPopover).toBool()) return;
    popover->setProperty(asPopover, true);
    new ShowNotice(popover, true);
    remakeAccessible<PopoverAccessible>(popover);
}

void exposeMenusOf(QMenuBar* bar)
{
    static const bool installed = (install(), true);
    Q_UNUSED(installed);
    bar->setProperty(asBarMenu, true);
    remakeAccessible<MenuBarAccessible>(bar);
    // The menus its items open, and theirs, wherever they were made.
    std::function<void(const QWidget*)> walk = [&walk](const QWidget* holder) {
        for (QAction* action : holder->actions()) {
            QMenu* menu = action->menu();
            if (!menu || menu->property(asBarMenu).toBool() || menu->property(asMenu).toBool()) continue;
            menu->setProperty(asBarMenu, true);
            remakeAccessible<MenuAccessible>(menu);
            walk(menu);
        }
    };
    walk(bar);
}

MenuAsked askedBy(const QContextMenuEvent& event)
{
    return event.reason() == QContextMenuEvent::Mouse ? MenuAsked::byPointer : MenuAsked::byKeys;
}

void popUpMenu(QMenu* menu, const QPoint& at, MenuAsked asked)
{
    static const bool installed = (install(), true);
    Q_UNUSED(installed);
    if (!menu->property(asMenu).toBool()) {
        menu->setProperty(asMenu, true);
        new ShowNotice(menu, false);
        remakeAccessible<MenuAccessible>(menu);
    }
    // Named by what opened it: the control the keys were on.
    QWidget* opener = QApplication::focusWidget();
    QAccessibleInterface* openedBy = opener ? QAccessible::queryAccessibleInterface(opener) : nullptr;
    menu->setProperty(openerName, openedBy ? openedBy->text(QAccessible::Name) : QString());
    menu->popup(at);
    // The keys are the menu's while it shows: its opener, which Qt leaves
    // the focus on, is no second object focused beside its item. Closing
    // gives them back to the opener, the window's focus all along.
    giveKeys(menu);
    if (menu->activeAction() || asked == MenuAsked::byPointer) return;
    QAction* first = nullptr;
    QAction* checked = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || !action->isVisible() || !action->isEnabled()) continue;
        if (!first) first = action;
        if (!checked && action->isChecked()) checked = action;
    }
    QAction* focused = checked ? checked : first;
    if (!focused) return;
    menu->setActiveAction(focused);
    if (QAccessible::isActive()) {
        QAccessibleEvent focus(menu, QAccessible::Focus);
        focus.setChild(int(menu->actions().indexOf(focused)));
        QAccessible::updateAccessibility(&focus);
    }
}

} // namespace quarn
