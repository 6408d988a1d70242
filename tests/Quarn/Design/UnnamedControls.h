#pragma once
// What a screen reader meets in a window: the controls it finds without a
// name, hidden ones too (a reader that walks the tree reads them all), and
// the stops of Tab.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QWindow>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <iterator>

namespace accessibletest {

// Each unnamed control, or element that can take the focus, as "role
// (class)"; empty when every one has a name.
inline QStringList unnamedControls(QWidget* root)
{
    static const QAccessible::Role controls[] = {
        QAccessible::EditableText, QAccessible::Slider,   QAccessible::SpinBox,     QAccessible::ComboBox,
        QAccessible::PushButton,   QAccessible::CheckBox, QAccessible::RadioButton, QAccessible::List,
        QAccessible::Tree,         QAccessible::Table,    QAccessible::ListItem,    QAccessible::TreeItem,
    };
    QStringList unnamed;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* node, int depth) {
        if (!node || depth > 64) return;
        const QAccessible::Role role = node->role();
        const bool control = std::find(std::begin(controls), std::end(controls), role) != std::end(controls);
        if ((control || node->state().focusable) && node->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << QStringLiteral("%1 (%2)").arg(int(role)).arg(
                node->object() ? QString::fromLatin1(node->object()->metaObject()->className()) : QString());
        for (int i = 0; i < node->childCount(); ++i) walk(node->child(i), depth + 1);
    };
    walk(QAccessible::queryAccessibleInterface(root), 0);
    return unnamed;
}

// The node a screen reader meets for `window` among the application's windows.
inline QAccessibleInterface* applicationWindow(const QWidget* window)
{
    QAccessibleInterface* application = QAccessible::queryAccessibleInterface(qApp);
    for (int i = 0; i < application->childCount(); ++i)
        if (QAccessibleInterface* child = application->child(i); child && child->object() == window) return child;
    return nullptr;
}

// What a reader meets of the open `menu`: among the application's windows as
// a menu, the names of its items focused (one, where the arrows start);
// "not listed" or "not a menu" where a reader would miss it.
inline QStringList focusedMenuItems(const QMenu* menu)
{
    QAccessibleInterface* listed = applicationWindow(menu);
    if (!listed) return {QStringLiteral("not listed")};
    if (listed->role() != QAccessible::PopupMenu) return {QStringLiteral("not a menu")};
    QStringList focused;
    for (int i = 0; i < listed->childCount(); ++i)
        if (QAccessibleInterface* item = listed->child(i); item && item->state().focused)
            focused << item->text(QAccessible::Name);
    return focused;
}

// The widgets Tab stops on in `window`'s focus, one press at a time sent to
// `keys` (the window the keys go to; a popup's keys go through the window
// under it), until the focus comes back to the first stop.
inline QList<QWidget*> tabStops(QWindow* keys, int most = 120)
{
    QList<QWidget*> stops;
    for (int press = 0; press < most; ++press) {
        QTest::keyClick(keys, Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        if (!focus || (!stops.isEmpty() && focus == stops.front())) break;
        stops << focus;
    }
    return stops;
}

// The stops a reader hears no name for, or that are scroll areas, as "role (class)".
inline QStringList unnamedStops(const QList<QWidget*>& stops)
{
    QStringList unnamed;
    for (QWidget* stop : stops) {
        QAccessibleInterface* node = QAccessible::queryAccessibleInterface(stop);
        if (!node || node->text(QAccessible::Name).trimmed().isEmpty() || qobject_cast<QAbstractScrollArea*>(stop))
            unnamed
                << QStringLiteral("%1 (%2)").arg(node ? int(node->role()) : -1).arg(stop->metaObject()->className());
    }
    return unnamed;
}

// The controls shown and enabled in `root` that no stop of Tab reached, as
// "class: name". A choice among several (a radio button) is reached by the
// arrows from the one of its group that Tab stops on, beside it.
inline QStringList unreached(QWidget* root, const QList<QWidget*>& stops)
{
    const auto isChoice = [](QWidget* w) {
        QAccessibleInterface* node = QAccessible::queryAccessibleInterface(w);
        return node && node->role() == QAccessible::RadioButton;
    };
    QStringList missed;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w)
                             || (qobject_cast<QAbstractSlider*>(w) && !qobject_cast<QScrollBar*>(w))
                             || qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QComboBox*>(w)
                             || qobject_cast<QAbstractItemView*>(w);
        const bool byArrows = isChoice(w) && std::any_of(stops.begin(), stops.end(), [&](QWidget* stop) {
                                  return stop->parentWidget() == w->parentWidget() && isChoice(stop);
                              });
        if (control && w->isVisibleTo(root) && w->isEnabled() && !stops.contains(w) && !byArrows)
            missed << QStringLiteral("%1: %2").arg(w->metaObject()->className(), w->accessibleName());
    }
    return missed;
}

} // namespace accessibletest
