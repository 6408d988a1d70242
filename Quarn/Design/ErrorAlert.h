#pragma once
// The alert of an action that failed: "ravlen couldn't finish that.", with
// what went wrong as its informative text. Over a shown widget it is modal to
// that widget's window; otherwise to the application. And what every alert
// needs to show its title whole.
class QMessageBox;
class QString;
class QWidget;

namespace quarn {

void showErrorAlert(QWidget* over, const QString& description);

// Shows `box` without waiting, deleted once closed: modal to the window of
// `over` when that is shown, else to the application.
void openAlert(QMessageBox* box, QWidget* over);

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
