#include "Quarn/Design/AccessiblePopover.h"

#include "Quarn/Design/AccessibleRoles.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QContextMenuEvent>
#include <QEvent>
#include <QMenu>
#include <QVariant>
#include <QWidget>

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

// Asked for each class of the object, most derived first: the first answer
// stands in for the object's own.
QAccessibleInterface* popoverAccessible(const QString&, QObject* object)
{
    if (object && object == QCoreApplication::instance() && qobject_cast<QApplication*>(object))
        return new ApplicationAccessible;
    auto* widget = qobject_cast<QWidget*>(object);
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
    }
    menu->popup(at);
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
