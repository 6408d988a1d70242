#pragma once
// Widgets drawn by the design system that a screen reader must meet in the
// role they play, which Qt cannot tell from their class: a row read as one
// sentence, the tabs of a tab bar, the one chosen card among several.
class QAbstractButton;
class QWidget;

namespace quarn {

// `widget` is one element, read by its accessible name: a reader meets none
// of its children (a row of key caps read as one sentence). Tab stops on it
// when its focus policy lets it.
void exposeAsOneElement(QWidget* widget);

// `bar` is a tab bar whose buttons are its tabs (exposeAsTab).
void exposeAsTabBar(QWidget* bar);
// `tab` is a page tab, selected while it is checked; a reader hears of each
// change. A press chooses it.
void exposeAsTab(QAbstractButton* tab);

// `button` stands for one choice among several: a radio button, checked
// while it is checked. A press chooses it.
void exposeAsChoice(QAbstractButton* button);

} // namespace quarn
