#pragma once
// The application's menu-bar commands: the File items for export, copying a
// page and printing, the Edit menu's undo and Find submenu, the View, Go,
// Tools, Window and Help menus. Every key comes from the shortcut table. The
// items act on the viewer model of the bar's own window; a bar without one
// (a window that shows no document) keeps every item that needs a document
// disabled. Titles, check marks and enabled states follow the model as it
// changes, so a key never runs a command that the menu shows as unavailable.
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <optional>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QUndoStack;

namespace quarn {

class ViewerModel;

class QuarnCommands : public QObject {
    Q_OBJECT
public:
    // Builds the menus into `bar`, after the menus already in it. When the bar
    // has a File menu, its items go in before that menu's last group (Quit);
    // otherwise a File menu is made. `viewer` none: no document window.
    QuarnCommands(QMenuBar* bar, ViewerModel* viewer, QObject* parent = nullptr);
    ~QuarnCommands() override;

    ViewerModel* viewer() const { return viewer_.data(); }
    // The window's undo stack, behind Undo and Redo; none disables both.
    void setUndoStack(QUndoStack* stack);

    // The menus of other command sets ("Pages", "Sign") stand after Tools
    // and before Window, in the order they are inserted.
    void insertMenu(QMenu* menu);

    // The item that runs a command of the shortcut table (none for commands
    // this set has no item for).
    QAction* action(quarnkit::ShortcutCommand command) const;
    // Items without keys, by title ("Match Case", "Show Cover Separately", "Pen").
    QAction* action(const QString& title) const;
    QMenu* menu(const QString& title) const;

    // Recomputes every title, check mark and enabled state from the viewer.
    void refresh();

    // The "About ravlen" panel.
    static void showAboutPanel(QWidget* parent);

signals:
    // The window's slideshow, which its owner carries out.
    void slideshowRequested();

private:
    // How an item follows the viewer (none when there is no viewer).
    using Rule = std::function<void(QAction& action, ViewerModel* viewer)>;
    // An item that needs a viewer: enabled while there is one unless `rule` says otherwise.
    QAction* add(QMenu* menu, const QString& title, std::optional<quarnkit::ShortcutCommand> command,
                 std::function<void(ViewerModel&)> run, Rule rule = {});
    void watch(ViewerModel* viewer);
    void buildFile(QMenuBar* bar);
    void buildEdit(QMenuBar* bar);
    void buildView(QMenuBar* bar);
    void buildGo(QMenuBar* bar);
    void buildTools(QMenuBar* bar);
    void buildWindowAndHelp(QMenuBar* bar);
    void listWindows();

    QPointer<ViewerModel> viewer_;
    QPointer<QUndoStack> undoStack_;
    QPointer<QMenuBar> bar_;
    std::map<quarnkit::ShortcutCommand, QAction*> byCommand_;
    std::map<QString, QAction*> byTitle_;
    std::map<QString, QMenu*> menus_;
    std::vector<std::pair<QAction*, Rule>> rules_;
    QMenu* findMenu_ = nullptr;
    QAction* exportItem_ = nullptr; // enabled for a locked PDF as well
    QMenu* windowMenu_ = nullptr;
    QAction* windowsEnd_ = nullptr; // the separator after the list of open windows
    std::vector<QAction*> windowItems_;
    QAction* undo_ = nullptr;
    QAction* redo_ = nullptr;
    QList<QMetaObject::Connection> undoConnections_;
    QMetaObject::Connection viewConnection_;
};

} // namespace quarn
