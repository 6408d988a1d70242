#pragma once
// A popover (a Qt::Popup panel under its button) that a screen reader meets
// among the application's windows, as a dialog named by its accessible name,
// with its fields inside. Qt leaves popups out of the application's windows,
// so a reader walking the tree would never find one open.
class QContextMenuEvent;
class QMenu;
class QMenuBar;
class QPoint;
class QWidget;

namespace quarn {

// From now on `popover` is listed among the application's windows while it
// shows, and takes the keys as it shows (itself, unless a control of its own
// took them), so that a reader announces it.
void exposeAsPopover(QWidget* popover);

// How a menu was asked for, which says whether an item is active as it opens.
enum class MenuAsked {
    choices,  // a button's menu of choices, by a click or a key: its checked item, else its first
    byKeys,   // a context menu by the menu key or Shift+F10: the same, where the arrows start
    byPointer // a context menu by a right-click: none, so that Return runs nothing unseen
};
// A context menu's, by how its event came.
MenuAsked askedBy(const QContextMenuEvent& event);

// `bar` and its menus as a screen reader meets them: each menu named by its
// title, and the item the keys are on the one object focused, not the bar
// (which holds the keys while its menus are gone through) nor its item too.
void exposeMenusOf(QMenuBar* bar);

// Pops `menu` up at `at` (global) as a screen reader meets a menu: listed
// among the application's windows while it shows, and with the item `asked`
// says focused at once: a reader hears where the arrows start, as the keys
// find it. It is named by what opened it (the control with the keys), and
// holds the keys while it shows.
void popUpMenu(QMenu* menu, const QPoint& at, MenuAsked asked);

} // namespace quarn
