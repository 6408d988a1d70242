#pragma once
// The View menu's library items: History (Ctrl+Y) and Explore (Ctrl+Alt+F)
// show the window's column with that panel and the keys in its search field,
// or hide it when it shows that panel; each is checked while its panel
// shows. Without a document window they show the welcome window instead
// (Explore with the keys in its search field), so they are never disabled.
#include "QuarnKit/History/LibraryPanel.h"

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
    QAction* explore() const { return explore_; }

private:
    QAction* add(QMenu* menu, QAction* before, const QString& title, quarnkit::LibraryPanel panel);
    void refresh();

    QPointer<ViewerModel> viewer_;
    QAction* history_ = nullptr;
    QAction* explore_ = nullptr;
};

} // namespace quarn
