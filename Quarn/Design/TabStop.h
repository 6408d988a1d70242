#pragma once
// A button of the window chrome that the keyboard reaches: Tab and Shift+Tab
// stop on it and the focus ring shows it there, while a click leaves the focus
// where it was (the pages keep their keys). Once Tab has brought the focus to
// it, Space or Return presses it.
#include <vector>

class QAbstractButton;
class QWidget;

namespace quarn {

void makeTabStop(QAbstractButton* button);

// Whether Return presses `widget` now: a tab stop that the keyboard brought
// the focus to.
bool returnPresses(const QWidget* widget);

// Puts `order` in that order in their window's Tab order, each right after
// the one before, whether it takes focus now or not: a radio group's
// unchosen members (ChoiceGroup), which take none, keep their places for
// when they are chosen. Their focus policies are left as they were.
void orderTabStops(const std::vector<QWidget*>& order);

} // namespace quarn
