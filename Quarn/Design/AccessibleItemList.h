#pragma once
// A one-column item view (the page thumbnails) as a screen reader meets it:
// a list whose items are named by their model's accessible text. Qt's own
// items tell a reader the current item is focused whether or not the view
// has the keys, so a window whose keys were elsewhere, or a window behind,
// showed a second focused object beside the one the keys were on. Here the
// current item is focused only while its view has the keys.
#include <QAccessibleWidget>

class QAbstractItemView;

namespace quarn {

// A list (or tree) whose rows are its children. While a row has the keys
// (the list's focusChild, focused), that row is the one object a reader is
// told is focused, not the list around it as well; the list is focused
// while it has the keys on no row.
class RowListAccessible : public QAccessibleWidget {
public:
    explicit RowListAccessible(QWidget* list, QAccessible::Role role = QAccessible::List)
        : QAccessibleWidget(list, role)
    {}
    QAccessible::State state() const override;
};

// From now on `view` reaches a reader as such a list.
void exposeAsItemList(QAbstractItemView* view);

} // namespace quarn
