#pragma once
// Widgets drawn by the design system that a screen reader must meet in the
// role they play, which Qt cannot tell from their class: a row read as one
// sentence, the tabs of a tab bar, the one chosen card among several.
#include <QAccessibleWidget>

class QAbstractButton;
class QTabBar;
class QWidget;

namespace quarn {

// A button as a screen reader sees it: named by its text unless it was
// named otherwise, and its one action the click the button does (a toggle
// or a choice is never flipped behind its owner's back).
class ButtonAccessible : public QAccessibleWidget {
public:
    ButtonAccessible(QAbstractButton* button, QAccessible::Role role);
    QAbstractButton* button() const;
    QString text(QAccessible::Text t) const override;
    QStringList actionNames() const override;
    void doAction(const QString& name) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

protected:
    // The name of the click's action: a press unless the button says otherwise.
    virtual QString ownAction() const { return pressAction(); }
};

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

// The tabs of a toolkit tab bar as page tabs that say which one is chosen
// (selected), which Qt's own leave unsaid; a reader hears of each change,
// and a press chooses a tab.
void exposeTabSelection(QTabBar* bar);

// Qt keeps the element it made for an object. One it made before a factory
// answered with one of `Ours` (with a reader listening, Qt makes one while a
// widget is being built, for a name set or a model given) goes, and the
// next to ask gets the factory's.
template <typename... Ours>
void remakeAccessible(QObject* object)
{
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(object);
    if (made && !(dynamic_cast<Ours*>(made) || ...))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

// Names `widget` for a screen reader, for a name that follows a state (a
// mode, a tool, a heading). Qt tells the reader each time a name is set,
// changed or not, and a reader on the control speaks it again: this tells
// it of a new name only.
void setReaderName(QWidget* widget, const QString& name);

} // namespace quarn
