#include "Quarn/Design/TabStop.h"

#include <QAbstractButton>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QWidget>

namespace quarn {

namespace {

// Return presses the button only when the keyboard brought the focus there:
// a dialog's first button, focused as its window opens, leaves Return to the
// dialog's own default action.
class ReturnPress : public QObject {
public:
    explicit ReturnPress(QAbstractButton* button) : QObject(button), button_(button) {}
    bool keyboard() const { return keyboard_; }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::FocusIn: {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            // Back from a menu it opened, or from another window: as it was.
            if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason) break;
            keyboard_ =
                reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
            break;
        }
        case QEvent::FocusOut: {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) keyboard_ = false;
            break;
        }
        case QEvent::ShortcutOverride: // before a window shortcut on Return
        case QEvent::KeyPress:
            if (keyboard_ && isReturn(static_cast<QKeyEvent*>(event))) {
                event->accept();
                if (event->type() == QEvent::KeyPress) button_->click();
                return true;
            }
            break;
        default: break;
        }
        return false;
    }

private:
    static bool isReturn(const QKeyEvent* key)
    {
        return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
               && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    }

    QAbstractButton* button_;
    bool keyboard_ = false;
};

} // namespace

void makeTabStop(QAbstractButton* button)
{
    button->setFocusPolicy(Qt::TabFocus);
    button->installEventFilter(new ReturnPress(button));
}

void orderTabStops(const std::vector<QWidget*>& order)
{
    // Qt orders only widgets that take focus: each takes it for the while.
    std::vector<Qt::FocusPolicy> policies;
    for (QWidget* widget : order) {
        policies.push_back(widget->focusPolicy());
        if (widget->focusPolicy() == Qt::NoFocus) widget->setFocusPolicy(Qt::TabFocus);
    }
    for (size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
    for (size_t i = 0; i < order.size(); ++i) order[i]->setFocusPolicy(policies[i]);
}

bool returnPresses(const QWidget* widget)
{
    if (!widget) return false;
    for (const QObject* child : widget->children())
        if (const auto* press = dynamic_cast<const ReturnPress*>(child)) return press->keyboard();
    return false;
}

} // namespace quarn
