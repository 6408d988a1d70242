#pragma once
// The Pages menu and the sidebar tabs of the View menu. The Pages menu: rotate, insert, duplicate, extract and delete pages of the
// window's document. Titles name how many pages an item acts on ("Delete 3
// Pages"); items follow the model's current page, page selection and
// document as they change, so a key never runs an item the menu shows as
// unavailable. Without a viewer every item is disabled.
#include "QuarnKit/Pages/SidebarTab.h"

#include <QObject>
#include <QPointer>

#include <map>

class QAction;
class QMenu;

namespace quarn {

class QuarnCommands;
class ViewerModel;

class PageCommands : public QObject {
    Q_OBJECT
public:
    // Builds the menu and puts it into the commands' menu bar.
    PageCommands(QuarnCommands& commands, ViewerModel* viewer, QObject* parent = nullptr);
    ~PageCommands() override;

    QMenu* menu() const { return menu_.data(); }
    QAction* rotateLeft() const { return rotateLeft_; }
    QAction* rotateRight() const { return rotateRight_; }
    QAction* insertBlank() const { return insertBlank_; }
    QAction* insertFromFile() const { return insertFile_; }
    QAction* duplicate() const { return duplicate_; }
    QAction* extract() const { return extract_; }
    QAction* deletePages() const { return delete_; }
    // The View menu's toggle of a sidebar tab, after Show Sidebar.
    QAction* sidebarToggle(quarnkit::SidebarTab tab) const { return tabs_.at(tab); }

    void refresh();

private:
    void watchDocument();
    void addSidebarToggles(QuarnCommands& commands);
    QPointer<ViewerModel> viewer_;
    QPointer<QMenu> menu_; // in the bar, owned here
    QAction* rotateLeft_ = nullptr;
    QAction* rotateRight_ = nullptr;
    QAction* insertBlank_ = nullptr;
    QAction* insertFile_ = nullptr;
    QAction* duplicate_ = nullptr;
    QAction* extract_ = nullptr;
    QAction* delete_ = nullptr;
    std::map<quarnkit::SidebarTab, QAction*> tabs_;
    QMetaObject::Connection documentConnection_;
};

} // namespace quarn
