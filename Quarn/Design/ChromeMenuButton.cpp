#include "Quarn/Design/ChromeMenuButton.h"
#include "Quarn/Design/AccessiblePopover.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>

namespace quarn {

QString ChromeMenuItem::shortcutText() const
{
    if (key.isEmpty()) return {};
    const QKeySequence parsed = QKeySequence::fromString(key, QKeySequence::PortableText);
    if (parsed.count() == 1 && parsed[0].keyboardModifiers() == Qt::NoModifier)
        return QKeySequence(QKeyCombination(modifiers, parsed[0].key())).toString(QKeySequence::NativeText);
    // A key Qt has no name for ("→") is shown as given after the modifiers.
    QString text;
    if (modifiers & Qt::ControlModifier) text += QStringLiteral("Ctrl+");
    if (modifiers & Qt::AltModifier) text += QStringLiteral("Alt+");
    if (modifiers & Qt::ShiftModifier) text += QStringLiteral("Shift+");
    if (modifiers & Qt::MetaModifier) text += QStringLiteral("Meta+");
    return text + key;
}

ChromeMenuButton::ChromeMenuButton(const QString& help, Items items, Label label, QWidget* parent)
    : ChromeButton(parent), items_(std::move(items)), label_(std::move(label))
{
    setToolTip(help);
    setAccessibleName(help);
    connect(this, &QAbstractButton::clicked, this, &ChromeMenuButton::open);
}

ChromeMenuButton::~ChromeMenuButton() = default; // an open menu is our child and goes with us

QMenu* ChromeMenuButton::openMenu() const { return menu_; }

void ChromeMenuButton::open()
{
    // Read the items now: the menu shows the state of this moment and is
    // never updated while it is open.
    const std::vector<ChromeMenuItem> items = items_ ? items_() : std::vector<ChromeMenuItem>{};
    menu_ = showChromeMenu(items, this);
    if (menu_) emit menuShown(menu_);
}

QMenu* ChromeMenuButton::showChromeMenu(const std::vector<ChromeMenuItem>& items, QWidget* anchor)
{
    if (!anchor || !anchor->isVisible()) return nullptr;
    auto* menu = new QMenu(anchor);
    // The click that closes the menu over its button must not open it again.
    menu->setAttribute(Qt::WA_NoMouseReplay);
    for (const ChromeMenuItem& item : items) {
        if (item.isSeparator()) {
            menu->addSeparator();
            continue;
        }
        QString text = item.title;
        text.replace(QLatin1Char('&'), QStringLiteral("&&")); // titles have no mnemonics
        QAction* action = menu->addAction(text);
        // The menu shows the key in its shortcut column, and a reader hears it
        // apart from the item's name. It binds nothing: an action that only
        // a pop-up menu holds is never in a window's context, and the key
        // belongs to the menus and key handlers.
        action->setShortcut(QKeySequence::fromString(item.shortcutText(), QKeySequence::NativeText));
        action->setShortcutVisibleInContextMenu(true);
        action->setCheckable(item.checked); // no empty check box beside unchecked items
        action->setChecked(item.checked);
        action->setEnabled(item.enabled);
        // Run after the menu has finished with the click: the action may close
        // the window that holds the button, and the menu with it.
        QObject::connect(action, &QAction::triggered, QCoreApplication::instance(), [run = item.action] {
            QMetaObject::invokeMethod(QCoreApplication::instance(), run, Qt::QueuedConnection);
        });
    }
    QObject::connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    // Below the button, or above it where the window ends first (the status
    // bar's menus, at the bottom edge).
    QPoint at = anchor->mapToGlobal(QPoint(0, anchor->height() + 5));
    const int height = menu->sizeHint().height();
    const QRect window = anchor->window()->frameGeometry();
    const int above = anchor->mapToGlobal(QPoint(0, -5)).y() - height;
    if (at.y() + height > window.bottom() && above >= window.top()) at.setY(above);
    popUpMenu(menu, at, MenuAsked::choices);
    return menu;
}

void ChromeMenuButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    pressStyle().apply(p, rect());
    if (label_) label_(p, QRectF(rect()), LabelState{showsHover(), isEnabled() ? hoverAmount() : 0.0, isEnabled()});
}

} // namespace quarn
