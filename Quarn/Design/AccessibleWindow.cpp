#include "Quarn/Design/AccessibleWindow.h"

#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace quarn {

namespace {

const char* const asWindow = "quarnAccessibleWindow";

// Asked for each class of the object, most derived first: the first answer
// stands in for the widget's own.
QAccessibleInterface* windowAccessible(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    return widget && widget->isWindow() && widget->property(asWindow).toBool()
               ? new QAccessibleWidget(widget, QAccessible::Window)
               : nullptr;
}

} // namespace

void exposeAsWindow(QWidget* window)
{
    static const bool installed = (QAccessible::installFactory(windowAccessible), true);
    Q_UNUSED(installed);
    window->setProperty(asWindow, true);
}

} // namespace quarn
