#pragma once
// The design system's pull-down menu button: a chrome button with a label of
// the caller's drawing that opens a platform pop-up menu, built at that moment
// from a list of items, 5 below the button's lower left corner. The menu is a
// real QMenu in the dark palette, so it has the platform's check marks,
// shortcut hints and dimmed disabled items.
#include "Quarn/Design/ChromeButtons.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

class QMenu;

namespace quarn {

struct ChromeMenuItem {
    QString title;
    bool checked = false;
    bool enabled = true;
    QString key;                          // the shortcut's key ("F", "="); empty for none
    Qt::KeyboardModifiers modifiers = {}; // shown with `key` only
    std::function<void()> action;         // none: the item is a separator

    bool isSeparator() const { return !action; }
    // The shortcut text the menu shows at the item's right edge ("Ctrl+F"):
    // `modifiers` with `key`, or nothing when `key` is empty whatever
    // `modifiers` holds. Only shown: the menu installs no shortcut.
    QString shortcutText() const;

    static ChromeMenuItem separator() { return {}; }
};

class ChromeMenuButton : public ChromeButton {
    Q_OBJECT
public:
    // What the label is drawn with: hover eased over 0.12 s, and the enabled state.
    struct LabelState {
        bool hover = false;
        double hoverAmount = 0; // 0 … 1
        bool enabled = true;
    };
    using Items = std::function<std::vector<ChromeMenuItem>()>;
    using Label = std::function<void(QPainter& painter, const QRectF& frame, const LabelState& state)>;

    // `items` runs each time the menu opens, so that titles, checks and enabled
    // states are those of that moment. The button is 26 × 26 until the caller
    // gives it its label's size (setFixedSize).
    ChromeMenuButton(const QString& help, Items items, Label label, QWidget* parent = nullptr);
    ~ChromeMenuButton() override;

    // The menu now open from this button, or none.
    QMenu* openMenu() const;
    QSize sizeHint() const override { return {26, 26}; }

    // Builds the menu of `items` and pops it up under `anchor`; nothing when the
    // anchor is gone or not on screen. Choosing an item runs its action once,
    // on the next event-loop turn, after the menu has closed. The menu deletes
    // itself when it closes; it is returned for whoever wants to watch it.
    static QMenu* showChromeMenu(const std::vector<ChromeMenuItem>& items, QWidget* anchor);

signals:
    void menuShown(QMenu* menu);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void open();

    Items items_;
    Label label_;
    QPointer<QMenu> menu_;
};

} // namespace quarn
