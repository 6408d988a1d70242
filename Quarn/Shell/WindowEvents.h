#pragma once
// The one application-wide filter for the events a window's parts must see
// before, or besides, the widget they are sent to: key presses, focus coming
// in, mouse presses, closing, commands run by their keys. A part listens
// through it instead of installing a filter on the application of its own,
// so that each event is looked at by one filter however many windows are
// open, and a listener hears the events of its own window only.
#include <QEvent>

#include <functional>
#include <initializer_list>

class QKeyEvent;
class QObject;
class QWidget;

namespace quarn::WindowEvents {

// True when the event was taken: no one hears it after. `receiver` is the
// object the event was sent to.
using Hear = std::function<bool(QEvent* event, QObject* receiver)>;
using Take = std::function<bool(QKeyEvent* event, QObject* receiver)>;

// The window `owner` is in (as of each event) hears the events of `types`
// through `hear` until `owner` goes; a window's latest listener hears first.
// Whose window an event is: a key press's, the focused widget's (the window
// when nothing has the focus), heard once there at its first delivery; a
// shortcut's, the active window's; any other's, the widget it is sent to,
// at each delivery.
void listen(QWidget& owner, std::initializer_list<QEvent::Type> types, Hear hear);

// Key presses alone.
void listenForKeys(QWidget& owner, Take take);

// Return (or Enter) anywhere in `owner`'s window runs `run`, as a dialog's
// default button does: on a card, a segment, a check box or a one-line
// field alike. A field of several lines keeps it for a new line, and a
// button that Tab brought the keys to for its own press; Space still
// presses the control that has the focus.
void returnRuns(QWidget& owner, std::function<void()> run);

// For a control's event(): claims a key it answers itself while it has the
// focus, as a shortcut would be claimed, so that the window's listeners
// leave it alone (the mark keys would nudge the selected mark on an arrow).
// True, and the event accepted, for a ShortcutOverride of one of `keys`
// with no modifier beyond `allowed` (the keypad's aside).
bool claimsKey(QEvent* event, std::initializer_list<int> keys, Qt::KeyboardModifiers allowed = {});
// Whether the widget with the focus claims the key of `event` so (a window
// listener leaves such a key alone).
bool focusClaims(const QKeyEvent* event);

// For a text field's filter: whether the field types or edits with this
// ShortcutOverride's key itself (a letter, an arrow, Copy, Undo, Select All,
// a word deleted). The other keys held with Ctrl or Alt are the window's
// shortcuts: Qt's line edits take Ctrl+E, say, as End, which End already
// does, and the window's Export would never run from a field.
bool fieldUsesKey(const QKeyEvent* event);

// From now on Shift+F10 asks the focused widget of any window for its menu,
// as the menu key does (the application's filter hears it first).
void offerMenusOnShiftF10();

// `owner`'s listeners hear nothing more: for a widget's destructor, whose
// children may still move the focus as they go.
void forget(const QWidget& owner);

} // namespace quarn::WindowEvents
