#pragma once
// Cards that stand for one choice among several (the export formats, the
// signature fonts), kept together as a radio group so that the card the
// keys are on is always the card shown chosen: Tab stops on the chosen card
// alone, the arrows choose the next or previous card and take the keys with
// them, and a choice made by a click brings the keys along when they were
// on the group. The owner makes the choice (`choose`) and shows it by
// checking the chosen card; the group follows the checks.
#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

class QAbstractButton;

namespace quarn {

class ChoiceGroup : public QObject {
public:
    // `cards` in the order the arrows go through them; the group belongs to `parent`.
    ChoiceGroup(std::vector<QAbstractButton*> cards, std::function<void(int index)> choose, QObject* parent);

    // The card Tab stops on: the chosen one, else the first that can be chosen.
    QAbstractButton* stop() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Only the stop is reached by Tab; the keys move to it when they were on another card.
    void follow(Qt::FocusReason reason);
    void followSoon();
    // Chooses the next card that can be chosen `by` steps from `from`, round the ends.
    void step(int from, int by);

    std::vector<QPointer<QAbstractButton>> cards_;
    std::function<void(int)> choose_;
    bool pending_ = false;
};

} // namespace quarn
