#include "Quarn/Design/ChoiceGroup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>

#include <algorithm>

namespace quarn {

ChoiceGroup::ChoiceGroup(std::vector<QAbstractButton*> cards, std::function<void(int)> choose, QObject* parent)
    : QObject(parent), choose_(std::move(choose))
{
    for (QAbstractButton* card : cards) {
        cards_.emplace_back(card);
        card->installEventFilter(this);
        // The owner checks one card and unchecks the one before, in either
        // order: the group looks once both are done.
        connect(card, &QAbstractButton::toggled, this, &ChoiceGroup::followSoon);
    }
    follow(Qt::OtherFocusReason);
}

QAbstractButton* ChoiceGroup::stop() const
{
    const auto usable = [](const QPointer<QAbstractButton>& card) { return card && card->isEnabled(); };
    const auto chosen = std::find_if(cards_.begin(), cards_.end(), [&](const QPointer<QAbstractButton>& card) {
        return usable(card) && card->isChecked();
    });
    if (chosen != cards_.end()) return *chosen;
    const auto first = std::find_if(cards_.begin(), cards_.end(), usable);
    return first != cards_.end() ? first->data() : nullptr;
}

void ChoiceGroup::follow(Qt::FocusReason reason)
{
    QAbstractButton* to = stop();
    QWidget* focus = QApplication::focusWidget();
    const bool keysHere = std::any_of(cards_.begin(), cards_.end(), [focus](const QPointer<QAbstractButton>& card) {
        return focus && card == focus;
    });
    for (const QPointer<QAbstractButton>& card : cards_)
        if (card) card->setFocusPolicy(card == to ? Qt::TabFocus : Qt::NoFocus);
    if (keysHere && to && focus != to) to->setFocus(reason);
}

void ChoiceGroup::followSoon()
{
    if (pending_) return;
    pending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            pending_ = false;
            follow(Qt::OtherFocusReason);
        },
        Qt::QueuedConnection);
}

void ChoiceGroup::step(int from, int by)
{
    const int count = int(cards_.size());
    for (int i = 1; i < count; ++i) {
        const int at = ((from + by * i) % count + count) % count;
        QAbstractButton* card = cards_[size_t(at)];
        if (!card || !card->isEnabled() || !card->isVisibleTo(card->window())) continue;
        if (choose_) choose_(at);
        follow(by > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return;
    }
}

bool ChoiceGroup::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) followSoon();
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    int by = 0;
    switch (key->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up: by = -1; break;
    case Qt::Key_Right:
    case Qt::Key_Down: by = 1; break;
    default: return false;
    }
    // Claimed before any shortcut, then taken.
    event->accept();
    if (event->type() == QEvent::KeyPress) {
        const auto at = std::find(cards_.begin(), cards_.end(), watched);
        if (at != cards_.end()) step(int(at - cards_.begin()), by);
    }
    return true;
}

} // namespace quarn
