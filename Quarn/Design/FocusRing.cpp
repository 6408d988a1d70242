#include "Quarn/Design/FocusRing.h"

#include "Quarn/Design/FlatField.h"
#include "QuarnKit/Shell/Design.h"

#include <QApplication>
#include <QFocusEvent>
#include <QMainWindow>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace quarn::focusring {

namespace {

constexpr int ringWidth = 2;
// The ring stands one pixel clear of the control, so it never covers the
// control's own edge (a field's outline, a list's first row).
constexpr int outset = ringWidth + 1;

// The ring itself: a child of the control's window, on top of its siblings,
// taking no clicks and covering nothing but the ring's own pixels.
class Ring : public QWidget {
public:
    Ring()
    {
        setObjectName(QStringLiteral("focusRing"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }

    void surround(QWidget* target)
    {
        QWidget* window = target->window();
        if (parentWidget() != window) setParent(window);
        const QRect control(target->mapTo(window, QPoint(0, 0)), target->size());
        // A control at the window's edge (the rail's buttons) keeps all four
        // sides of its ring inside the window.
        setGeometry(control.adjusted(-outset, -outset, outset, outset).intersected(window->rect()));
        // Rounded corners bend at most two pixels further in.
        setMask(QRegion(rect()).subtracted(
            QRegion(rect().adjusted(ringWidth + 2, ringWidth + 2, -ringWidth - 2, -ringWidth - 2))));
        raise();
        show();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(quarnkit::Design::accent(), ringWidth));
        p.setBrush(Qt::NoBrush);
        const qreal half = ringWidth / 2.0;
        p.drawRoundedRect(QRectF(rect()).adjusted(half, half, -half, -half), 5, 5);
    }
};

// A control that is the whole of its window's content (the slideshow's page,
// the welcome window's view) is the window to the user: a ring would only
// frame the window.
bool isWholeContent(const QWidget& control)
{
    const QWidget* window = control.window();
    if (control.size() == window->size()) return true;
    const auto* main = qobject_cast<const QMainWindow*>(window);
    return main && main->centralWidget() == &control;
}

class Follower : public QObject {
public:
    using QObject::QObject;
    QWidget* target() const { return target_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::FocusIn:
            switch (static_cast<QFocusEvent*>(event)->reason()) {
            case Qt::TabFocusReason:
            case Qt::BacktabFocusReason:
            case Qt::ShortcutFocusReason: keyboard_ = true; break;
            case Qt::MouseFocusReason: keyboard_ = false; break;
            default: break; // a window coming back, a popup closing: as it was
            }
            schedule();
            break;
        case QEvent::FocusOut: schedule(); break;
        case QEvent::MouseButtonPress:
            if (keyboard_) {
                keyboard_ = false;
                schedule();
            }
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::ParentChange:
        case QEvent::ZOrderChange:
            if (ring_ && ring_->isVisible() && watched != ring_ && watched->isWidgetType()
                && moves(static_cast<QWidget*>(watched)))
                schedule();
            break;
        default: break;
        }
        return false;
    }

private:
    // Whether a change of `widget` may move the control or hide the ring.
    bool moves(QWidget* widget) const
    {
        return target_
               && (widget == target_ || widget->isAncestorOf(target_)
                   || widget->parentWidget() == ring_->parentWidget());
    }

    void schedule()
    {
        if (pending_) return;
        pending_ = true;
        // Once the focus change and the layout it causes have settled.
        QTimer::singleShot(0, this, [this] {
            pending_ = false;
            place();
        });
    }

    void place()
    {
        QWidget* control = keyboard_ ? QApplication::focusWidget() : nullptr;
        if (control
            && (control->isWindow() || !control->isVisible() || qobject_cast<FlatField*>(control)
                || isWholeContent(*control)))
            control = nullptr;
        target_ = control;
        if (!control) {
            if (ring_) ring_->hide();
            return;
        }
        if (!ring_) ring_ = new Ring; // parented to the control's window before it shows
        ring_->surround(control);
    }

    bool keyboard_ = false;
    bool pending_ = false;
    QPointer<QWidget> target_;
    QPointer<Ring> ring_; // goes with the window it was last in
};

Follower*& follower()
{
    static Follower* value = nullptr;
    return value;
}

} // namespace

void install()
{
    if (follower() || !qApp) return;
    follower() = new Follower(qApp);
    qApp->installEventFilter(follower());
}

QWidget* target() { return follower() ? follower()->target() : nullptr; }

} // namespace quarn::focusring
