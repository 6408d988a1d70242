#include "Quarn/Design/AccessibleItemList.h"

#include "Quarn/Design/AccessibleRoles.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QCoreApplication>
#include <QListView>
#include <QPointer>
#include <QVariant>
#include <QWindow>

#include <map>

namespace quarn {

namespace {

const char* const asItemList = "quarnAccessibleItemList";
const char* const itemCache = "quarnAccessibleItems";

// One item, known by its row.
class ItemAccessible : public QAccessibleInterface {
public:
    ItemAccessible(QAbstractItemView* view, int row) : view_(view), row_(row) {}

    QAbstractItemView* view() const { return view_; }
    int row() const { return row_; }
    QModelIndex index() const { return view_ && view_->model() ? view_->model()->index(row_, 0) : QModelIndex(); }

    bool isValid() const override { return index().isValid(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override
    {
        return view_ ? QAccessible::queryAccessibleInterface(view_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override
    {
        const QModelIndex at = index();
        if (t == QAccessible::Description) return at.data(Qt::AccessibleDescriptionRole).toString();
        if (t != QAccessible::Name) return {};
        const QString name = at.data(Qt::AccessibleTextRole).toString();
        return name.isEmpty() ? at.data(Qt::DisplayRole).toString() : name;
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        if (!isValid()) return {};
        const QRect shown = view_->visualRect(index());
        return QRect(view_->viewport()->mapToGlobal(shown.topLeft()), shown.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        const QModelIndex at = index();
        if (!at.isValid()) {
            state.invalid = true;
            return state;
        }
        state.invisible = !view_->visualRect(at).intersects(view_->viewport()->rect());
        state.selectable = state.focusable = (at.flags() & Qt::ItemIsSelectable) != 0;
        state.multiSelectable = view_->selectionMode() == QAbstractItemView::MultiSelection;
        state.extSelectable = view_->selectionMode() == QAbstractItemView::ExtendedSelection;
        state.selected = view_->selectionModel() && view_->selectionModel()->isSelected(at);
        // The current item has the focus only while its view has the keys.
        state.focused = view_->hasFocus() && view_->currentIndex() == at;
        return state;
    }

private:
    QPointer<QAbstractItemView> view_;
    int row_;
};

// The items a reader was given, one per row, until the rows change. Made
// with the view's model: a view exposed has its model.
class ItemCache : public QObject {
public:
    explicit ItemCache(QAbstractItemView* view) : QObject(view), view_(view)
    {
        setObjectName(QString::fromLatin1(itemCache));
        if (QAbstractItemModel* model = view->model()) {
            connect(model, &QAbstractItemModel::modelReset, this, &ItemCache::clear);
            connect(model, &QAbstractItemModel::layoutChanged, this, &ItemCache::clear);
            connect(model, &QAbstractItemModel::rowsInserted, this, &ItemCache::clear);
            connect(model, &QAbstractItemModel::rowsRemoved, this, &ItemCache::clear);
            connect(model, &QAbstractItemModel::rowsMoved, this, &ItemCache::clear);
        }
    }
    ~ItemCache() override { clear(); }

    QAccessibleInterface* item(int row)
    {
        const auto found = items_.find(row);
        if (found != items_.end()) return QAccessible::accessibleInterface(found->second);
        auto* made = new ItemAccessible(view_, row);
        items_[row] = QAccessible::registerAccessibleInterface(made);
        return made;
    }

private:
    void clear()
    {
        for (const auto& [row, id] : items_) QAccessible::deleteAccessibleInterface(id);
        items_.clear();
    }

    QAbstractItemView* view_;
    std::map<int, QAccessible::Id> items_;
};

class ItemListAccessible : public RowListAccessible {
public:
    explicit ItemListAccessible(QAbstractItemView* view) : RowListAccessible(view) {}

    QAbstractItemView* view() const { return static_cast<QAbstractItemView*>(widget()); }
    int childCount() const override { return view()->model() ? view()->model()->rowCount() : 0; }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= childCount()) return nullptr;
        // Not a class of Qt's own meta-objects: known by its name.
        auto* cache = view()->findChild<QObject*>(QString::fromLatin1(itemCache), Qt::FindDirectChildrenOnly);
        if (!cache) cache = new ItemCache(view()); // a combo box's list, met before
        return static_cast<ItemCache*>(cache)->item(index);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* item = dynamic_cast<const ItemAccessible*>(child);
        return item && item->view() == view() ? item->row() : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QModelIndex at = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
        return at.isValid() ? child(at.row()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override
    {
        return view()->hasFocus() && view()->currentIndex().isValid() ? child(view()->currentIndex().row()) : nullptr;
    }
};

// The list a combo box pops up (the print dialog's printers and paper
// sizes): Qt's own tells its current row focused while the box is closed.
bool isComboList(const QAbstractItemView* view)
{
    if (!qobject_cast<const QListView*>(view)) return false;
    for (const QObject* up = view->parent(); up; up = up->parent())
        if (qobject_cast<const QComboBox*>(up)) return true;
    return false;
}

// Asked for each class of the object, most derived first: the first answer
// stands in for the view's own.
QAccessibleInterface* itemListAccessible(const QString&, QObject* object)
{
    auto* view = qobject_cast<QAbstractItemView*>(object);
    return view && (view->property(asItemList).toBool() || isComboList(view)) ? new ItemListAccessible(view) : nullptr;
}

void installItemLists() { QAccessible::installFactory(itemListAccessible); }

} // namespace

QAccessible::State RowListAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    if (const QAccessibleInterface* row = focusChild(); row && row->state().focused) state.focused = false;
    return state;
}

// Every combo box's list is one from the start, whoever makes it.
Q_COREAPP_STARTUP_FUNCTION(installItemLists)

void exposeAsItemList(QAbstractItemView* view)
{
    if (view->property(asItemList).toBool()) return;
    view->setProperty(asItemList, true);
    new ItemCache(view);
    // One Qt made before now would be its table, with its items.
    remakeAccessible<ItemListAccessible>(view);
}

} // namespace quarn
