#pragma once
// The desktop's file manager.
#include <QString>

#include <functional>

class QWidget;

namespace quarn {

// Shows a file in the desktop's file manager, selected (the FileManager1
// service on the session bus), else opens its folder with xdg-open. When
// neither can (no file manager answers or it refuses, and xdg-open is
// missing or fails), `failed` is called on the UI thread, at once or a
// moment later, with what went wrong in a sentence for the user.
// `shown`, when given, is called instead once the file manager answered, or
// xdg-open ended well or is still running when its time to fail is over.
void revealInFolder(const QString& path, std::function<void(const QString& reason)> failed,
                    std::function<void()> shown = {});
// The same, a failure told in an alert over `window` while it exists (else
// over the application): "ravlen couldn't show “Report” in its folder."
void revealInFolder(const QString& path, QWidget* window);

} // namespace quarn
