#include "Quarn/Shell/WindowEvents.h"

#include "Quarn/Design/TabStop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace quarn::WindowEvents {

namespace {

// The window whose listeners hear `event`, sent to `watched`; none when nobody does.
const QWidget* windowOf(QObject* watched, const QEvent* event)
{
    if (event->type() == QEvent::Shortcut) return QApplication::activeWindow();
    if (!watched->isWidgetType()) return nullptr;
    if (event->type() != QEvent::KeyPress) return static_cast<QWidget*>(watched)->window();
    // A key press comes to the window first, then to the focused widget (the
    // window's own widget when nothing has the focus), then up the parents of
    // that widget while none takes it: heard once, at the focused widget.
    QWidget* first = QApplication::focusWidget();
    if (!first) first = static_cast<QWidget*>(watched)->window();
    return watched == first ? first->window() : nullptr;
}

class Filter : public QObject {
public:
    using QObject::QObject;

    void add(QWidget& owner, std::initializer_list<QEvent::Type> types, Hear hear)
    {
        std::erase_if(listeners_, [](const Listener& each) { return !each.owner; });
        listeners_.push_back({++made_, &owner, std::vector<QEvent::Type>(types), std::move(hear)});
    }

    void remove(const QWidget& owner)
    {
        std::erase_if(listeners_, [&owner](const Listener& each) { return !each.owner || each.owner == &owner; });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!heard(event->type())) return false;
        const QWidget* window = windowOf(watched, event);
        if (!window) return false;
        // A listener may close its window or open another: the list as it is
        // now, less those forgotten meanwhile.
        const std::vector<Listener> now = listeners_;
        for (auto each = now.rbegin(); each != now.rend(); ++each) {
            if (!each->owner || each->owner->window() != window
                || std::find(each->types.begin(), each->types.end(), event->type()) == each->types.end()
                || !listening(each->id))
                continue;
            if (each->hear(event, watched)) return true;
        }
        return event->type() == QEvent::KeyPress && asksForMenu(static_cast<QKeyEvent*>(event), watched);
    }

private:
    // Shift+F10 asks the focused widget for its menu, as the menu key does.
    static bool asksForMenu(const QKeyEvent* key, QObject* watched)
    {
        if (key->key() != Qt::Key_F10 || (key->modifiers() & ~Qt::KeypadModifier) != Qt::ShiftModifier) return false;
        auto* widget = static_cast<QWidget*>(watched);
        const QPoint centre = widget->rect().center();
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, centre, widget->mapToGlobal(centre), key->modifiers());
        QApplication::sendEvent(widget, &menu);
        return true;
    }

    static bool heard(QEvent::Type type)
    {
        switch (type) {
        case QEvent::KeyPress:
        case QEvent::Shortcut:
        case QEvent::FocusIn:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease:
        case QEvent::Close: return true;
        default: return false;
        }
    }

    bool listening(quint64 id) const
    {
        return std::any_of(listeners_.begin(), listeners_.end(), [id](const Listener& each) { return each.id == id; });
    }

    struct Listener {
        quint64 id;
        QPointer<QWidget> owner;
        std::vector<QEvent::Type> types;
        Hear hear;
    };
    std::vector<Listener> listeners_;
    quint64 made_ = 0;
};

// The application's own: made with the first listener, gone with the application.
QPointer<Filter>& filter()
{
    static QPointer<Filter> value;
    return value;
}

} // namespace

void offerMenusOnShiftF10()
{
    if (filter()) return;
    filter() = new Filter(qApp);
    qApp->installEventFilter(filter());
}

void listen(QWidget& owner, std::initializer_list<QEvent::Type> types, Hear hear)
{
    offerMenusOnShiftF10(); // the filter, made with the first listener
    filter()->add(owner, types, std::move(hear));
}

void forget(const QWidget& owner)
{
    if (filter()) filter()->remove(owner);
}

void listenForKeys(QWidget& owner, Take take)
{
    listen(owner, {QEvent::KeyPress}, [take = std::move(take)](QEvent* event, QObject* receiver) {
        return take(static_cast<QKeyEvent*>(event), receiver);
    });
}

bool claimsKey(QEvent* event, std::initializer_list<int> keys, Qt::KeyboardModifiers allowed)
{
    if (event->type() != QEvent::ShortcutOverride) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & ~(Qt::KeypadModifier | allowed)) != Qt::NoModifier
        || std::find(keys.begin(), keys.end(), key->key()) == keys.end())
        return false;
    event->accept();
    return true;
}

bool focusClaims(const QKeyEvent* event)
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus) return false;
    QKeyEvent claim(QEvent::ShortcutOverride, event->key(), event->modifiers(), event->text());
    claim.ignore();
    QApplication::sendEvent(focus, &claim);
    return claim.isAccepted();
}

bool fieldUsesKey(const QKeyEvent* event)
{
    const Qt::KeyboardModifiers held = event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    if (!(held & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) return true;
    static const QKeySequence::StandardKey editing[] = {
        QKeySequence::Copy,
        QKeySequence::Cut,
        QKeySequence::Paste,
        QKeySequence::Undo,
        QKeySequence::Redo,
        QKeySequence::SelectAll,
        QKeySequence::Deselect,
        QKeySequence::DeleteStartOfWord,
        QKeySequence::DeleteEndOfWord,
        QKeySequence::MoveToNextWord,
        QKeySequence::MoveToPreviousWord,
        QKeySequence::SelectNextWord,
        QKeySequence::SelectPreviousWord,
        QKeySequence::MoveToStartOfDocument,
        QKeySequence::MoveToEndOfDocument,
        QKeySequence::SelectStartOfDocument,
        QKeySequence::SelectEndOfDocument,
    };
    // Ctrl with an arrow, Home, End, Delete or Backspace moves or deletes by words and lines.
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Delete:
    case Qt::Key_Backspace: return true;
    default: break;
    }
    return std::any_of(std::begin(editing), std::end(editing),
                       [event](QKeySequence::StandardKey key) { return event->matches(key); });
}

void returnRuns(QWidget& owner, std::function<void()> run)
{
    listenForKeys(owner, [run = std::move(run)](QKeyEvent* event, QObject*) {
        const bool plainReturn = (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
                                 && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        const QWidget* focus = QApplication::focusWidget();
        if (!plainReturn || qobject_cast<const QTextEdit*>(focus) || qobject_cast<const QPlainTextEdit*>(focus))
            return false;
        // A button Tab brought the keys to takes Return as its press (Cancel
        // cancels); a choice on a card or a segment does not.
        if (const auto* button = qobject_cast<const QAbstractButton*>(focus);
            button && !button->isCheckable() && returnPresses(button))
            return false;
        run();
        return true;
    });
}

} // namespace quarn::WindowEvents
