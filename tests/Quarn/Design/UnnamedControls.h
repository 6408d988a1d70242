#pragma once
// What a screen reader meets in a window: the controls it finds without a
// name, hidden ones too (a reader that walks the tree reads them all).
#include <QAccessible>
#include <QApplication>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <iterator>

namespace accessibletest {

// Each unnamed control as "role (class)"; empty when every one has a name.
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
        if (std::find(std::begin(controls), std::end(controls), role) != std::end(controls)
            && node->text(QAccessible::Name).trimmed().isEmpty())
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

} // namespace accessibletest
