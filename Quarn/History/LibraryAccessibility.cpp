#include "Quarn/History/LibraryAccessibility.h"

#include "Quarn/Design/AccessibleItemList.h"
#include "Quarn/History/LibraryList.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QWindow>

namespace quarn {

namespace {

// One row of a list.
class RowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    RowAccessible(LibraryList* list, int row) : list_(list), row_(row) {}

    LibraryList* list() const { return list_; }
    int row() const { return row_; }

    bool isValid() const override { return list_ && row_ < list_->model()->rowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override
    {
        return list_ ? QAccessible::queryAccessibleInterface(list_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text kind) const override
    {
        if (!isValid()) return {};
        const QModelIndex index = list_->model()->index(row_, 0);
        switch (kind) {
        case QAccessible::Name: {
            const QString name = index.data(Qt::AccessibleTextRole).toString();
            return name.isEmpty() ? index.data(Qt::DisplayRole).toString() : name;
        }
        case QAccessible::Description: return index.data(Qt::ToolTipRole).toString();
        default: return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override
    {
        if (!isValid()) return {};
        const QRect rect = list_->visualRect(list_->model()->index(row_, 0));
        return QRect(list_->viewport()->mapToGlobal(rect.topLeft()), rect.size());
    }

    QAccessible::Role role() const override
    {
        if (!isValid()) return QAccessible::NoRole;
        if (list_->opens(row_)) return QAccessible::Button;
        return list_->isHeading(row_) ? QAccessible::Heading : QAccessible::StaticText;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const QRect shown = list_->visualRect(list_->model()->index(row_, 0));
        state.offscreen = !list_->isVisible() || !shown.intersects(list_->viewport()->rect());
        if (list_->opens(row_)) {
            state.focusable = true;
            state.focused = list_->hasFocus() && list_->keyboardRow() == row_;
            state.selected = list_->isCurrentDocument(row_);
        }
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface && isValid() && list_->opens(row_))
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    // Opening comes first: it is the row's default action.
    QStringList actionNames() const override
    {
        QStringList names{pressAction()};
        for (const LibraryRowAction& action : actions()) names << action.name;
        return names;
    }
    QString localizedActionName(const QString& name) const override
    {
        return name == pressAction() ? QAccessibleActionInterface::localizedActionName(name) : name;
    }
    void doAction(const QString& name) override
    {
        if (!isValid()) return;
        if (name == pressAction()) return list_->openRow(row_);
        for (const LibraryRowAction& action : actions())
            if (action.name == name) return action.run();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    std::vector<LibraryRowAction> actions() const
    {
        if (!isValid() || !list_->opens(row_) || !list_->rowActions) return {};
        return list_->rowActions(row_);
    }

    QPointer<LibraryList> list_;
    int row_;
};

// The list: its rows are its children.
class ListAccessible : public RowListAccessible {
public:
    explicit ListAccessible(LibraryList* list) : RowListAccessible(list) {}

    LibraryList* list() const { return static_cast<LibraryList*>(widget()); }
    int childCount() const override { return list()->model()->rowCount(); }
    QAccessibleInterface* child(int index) const override
    {
        return index >= 0 && index < childCount() ? list()->accessibleRow(index) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* row = dynamic_cast<const RowAccessible*>(child);
        return row && row->list() == list() ? row->row() : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QModelIndex index = list()->indexAt(list()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() ? child(index.row()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override
    {
        return list()->hasFocus() && list()->keyboardRow() >= 0 ? child(list()->keyboardRow()) : nullptr;
    }
};

QAccessibleInterface* factory(const QString& className, QObject* object)
{
    if (className != QLatin1String(LibraryList::staticMetaObject.className())) return nullptr;
    auto* list = qobject_cast<LibraryList*>(object);
    return list ? new ListAccessible(list) : nullptr;
}

} // namespace

void installLibraryAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

QAccessibleInterface* makeLibraryRowAccessible(LibraryList* list, int row) { return new RowAccessible(list, row); }

} // namespace quarn
