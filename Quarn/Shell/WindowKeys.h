#pragma once
// The one application-wide filter for the key presses of every window. A part
// of a window that must see keys before the focused widget does (the page
// keys, the mark keys) listens through it instead of installing a filter on
// the application of its own, so that each key press is looked at by one
// filter however many windows are open. A listener hears a key press at its
// first delivery (to the focused widget, or to the window when nothing has
// the focus), and only when that widget is in the listener's window.
#include <functional>

class QKeyEvent;
class QObject;
class QWidget;

namespace quarn::WindowKeys {

// True when the key was taken: no one hears it after.
using Take = std::function<bool(QKeyEvent* event, QObject* receiver)>;

// The window `owner` is in (as of each key) hears its key presses through
// `take` until `owner` goes; a window's latest listener hears first.
void listen(QWidget& owner, Take take);

} // namespace quarn::WindowKeys
