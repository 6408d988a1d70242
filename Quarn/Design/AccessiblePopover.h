#pragma once
// A popover (a Qt::Popup panel under its button) that a screen reader meets
// among the application's windows, as a dialog named by its accessible name,
// with its fields inside. Qt leaves popups out of the application's windows,
// so a reader walking the tree would never find one open.
class QMenu;
class QPoint;
class QWidget;

namespace quarn {

// From now on `popover` is listed among the application's windows while it
// shows.
void exposeAsPopover(QWidget* popover);

// Pops `menu` up at `at` (global) as a screen reader meets a menu: listed
// among the application's windows while it shows, and with an item focused
// at once, its checked item or else its first: a reader hears where the
// arrows start, as the keys find it.
void popUpMenu(QMenu* menu, const QPoint& at);

} // namespace quarn
