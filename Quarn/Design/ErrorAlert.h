#pragma once
// The alert of an action that failed: "ravlen couldn't finish that.", with
// what went wrong as its informative text. Over a shown widget it is modal to
// that widget's window; otherwise to the application.
class QString;
class QWidget;

namespace quarn {

void showErrorAlert(QWidget* over, const QString& description);

} // namespace quarn
