#pragma once
// The one way ravlen asks a question or tells of a failure in a box of its
// own (a replace question, "may show less", a close or revert question, a
// failure alert): the box stands on the window it was asked from, over a
// sheet open there, takes the keys as it opens (its default button focused,
// Return, Escape and Tab answering), reaches a screen reader as an alert
// with that button focused, and gives the keys back to the widget they were
// on when it closes. And what every alert needs to show its title whole.
class QAbstractButton;
class QMessageBox;
class QString;
class QWidget;

namespace quarn {

// The alert of an action that failed: "ravlen couldn't finish that.", with
// what went wrong as its informative text.
void showErrorAlert(QWidget* over, const QString& description);

// Asks `box` and waits: the button chosen (the escape button for Escape),
// none when the box was closed otherwise. `from` is where the question was
// asked (a widget or its window; none: the active window).
QAbstractButton* askAndWait(QMessageBox& box, QWidget* from);

// Shows `box` without waiting, deleted once closed, asked as askAndWait asks;
// modal to the application when there is no window to stand on.
void openAlert(QMessageBox* box, QWidget* from);

// Sets both lines of `box` as plain text: they may name a file as it is
// called, or carry what a PDF holds, and the box's second line would
// otherwise take "<b>…</b>" for markup.
void setPlainTexts(QMessageBox& box, const QString& text, const QString& informativeText);

// Widens `box` so that the window manager's title bar shows its title whole:
// Qt leaves room for the title in the application's font only, while title
// bars set it bolder beside their buttons. Called once the texts and buttons
// are set (a change to them lays the box out anew).
void makeRoomForTitle(QMessageBox& box);

// The least width makeRoomForTitle gives a box with `title`.
int widthForTitle(const QMessageBox& box, const QString& title);

} // namespace quarn
