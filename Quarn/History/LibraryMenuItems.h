#pragma once
// The View menu's library item: History (Ctrl+Y) shows the window's History
// column with the keys in its search field, or hides it when it shows; it is
// checked while the column shows History. (Explore joins it with its panel.)
#include <QObject>
#include <QPointer>

class QAction;
class QMenu;

namespace quarn {

class ViewerModel;

class LibraryMenuItems : public QObject {
    Q_OBJECT
public:
    // Inserted into `menu` before `before` (at the end when none), after a separator.
    LibraryMenuItems(QMenu* menu, QAction* before, ViewerModel* viewer, QObject* parent = nullptr);
    QAction* history() const { return history_; }

private:
    void refresh();

    QPointer<ViewerModel> viewer_;
    QAction* history_ = nullptr;
};

} // namespace quarn
