#pragma once
// A button of the window chrome that the keyboard reaches: Tab and Shift+Tab
// stop on it and the focus ring shows it there, while a click leaves the focus
// where it was (the pages keep their keys). Once Tab has brought the focus to
// it, Space or Return presses it.
class QAbstractButton;

namespace quarn {

void makeTabStop(QAbstractButton* button);

} // namespace quarn
