#include "Quarn/Design/AccessibleShown.h"

#include <QAccessibleWidget>
#include <QMenu>
#include <QVariant>

namespace quarn {

namespace {

const char* const shownOnly = "quarnShownChildrenOnly";

class ShownChildrenAccessible : public QAccessibleWidget {
public:
    using QAccessibleWidget::QAccessibleWidget;

    int childCount() const override { return int(shown().size()); }
    QAccessibleInterface* child(int index) const override
    {
        const QList<QWidget*> children = shown();
        return index >= 0 && index < children.size() ? QAccessible::queryAccessibleInterface(children[index]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child ? int(shown().indexOf(qobject_cast<QWidget*>(child->object()))) : -1;
    }

private:
    QList<QWidget*> shown() const
    {
        QList<QWidget*> children;
        for (QObject* object : widget()->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (child && !child->isWindow() && !child->isHidden() && !qobject_cast<QMenu*>(child)) children << child;
        }
        return children;
    }
};

// Asked for each class of the object, most derived first: the first answer
// stands in for the container's own.
QAccessibleInterface* shownChildrenAccessible(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    return widget && widget->property(shownOnly).toBool() ? new ShownChildrenAccessible(widget) : nullptr;
}

} // namespace

void exposeShownChildrenOnly(QWidget* container)
{
    static const bool installed = (QAccessible::installFactory(shownChildrenAccessible), true);
    Q_UNUSED(installed);
    container->setProperty(shownOnly, true);
}

} // namespace quarn
