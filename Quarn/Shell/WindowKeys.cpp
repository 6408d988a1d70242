#include "Quarn/Shell/WindowKeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace quarn::WindowKeys {

namespace {

class Filter : public QObject {
public:
    using QObject::QObject;

    void add(QWidget& owner, Take take)
    {
        std::erase_if(listeners_, [](const Listener& each) { return !each.owner; });
        listeners_.push_back({&owner, std::move(take)});
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
        // A key press comes to the window first, then to the focused widget
        // (the window's own widget when nothing has the focus), then up the
        // parents of that widget while none takes it: heard once, at the
        // focused widget.
        QWidget* first = QApplication::focusWidget();
        if (!first) first = static_cast<QWidget*>(watched)->window();
        if (watched != first) return false;
        const QWidget* window = first->window();
        // A listener may close its window or open another: the list as it is now.
        const std::vector<Listener> now = listeners_;
        for (auto each = now.rbegin(); each != now.rend(); ++each) {
            if (!each->owner || each->owner->window() != window) continue;
            if (each->take(static_cast<QKeyEvent*>(event), watched)) return true;
        }
        return false;
    }

private:
    struct Listener {
        QPointer<QWidget> owner;
        Take take;
    };
    std::vector<Listener> listeners_;
};

} // namespace

void listen(QWidget& owner, Take take)
{
    // The application's own: made with the first listener, gone with the application.
    static QPointer<Filter> filter;
    if (!filter) {
        filter = new Filter(qApp);
        qApp->installEventFilter(filter);
    }
    filter->add(owner, std::move(take));
}

} // namespace quarn::WindowKeys
