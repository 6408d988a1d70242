#pragma once
// A top-level widget that a screen reader meets as a window named by its
// title. A plain widget made a window is otherwise an unnamed filler to the
// reader (only Qt's main windows and dialogs say what they are).
class QWidget;

namespace quarn {

// From now on `window` is a window to a screen reader.
void exposeAsWindow(QWidget* window);

} // namespace quarn
