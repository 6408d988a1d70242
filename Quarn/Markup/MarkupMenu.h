#pragma once
// The four mark items of the Edit menu: Duplicate, Delete Mark, Bring to
// Front and Send to Back. They act on the selected mark of the window's
// markup model and are enabled exactly while a mark is selected; without a document
// window they stay in the menu, disabled.
#include <QObject>
#include <QPointer>

class QAction;
class QMenu;

namespace quarn {

class ViewerModel;

class MarkupCommands : public QObject {
    Q_OBJECT
public:
    // Puts the items into `edit` after its pasteboard group, before the Find submenu.
    MarkupCommands(QMenu* edit, ViewerModel* viewer, QObject* parent = nullptr);

    QAction* duplicate() const { return duplicate_; }
    QAction* deleteMark() const { return delete_; }
    QAction* bringToFront() const { return front_; }
    QAction* sendToBack() const { return back_; }

    void refresh();

private:
    QPointer<ViewerModel> viewer_;
    QAction* duplicate_ = nullptr;
    QAction* delete_ = nullptr;
    QAction* front_ = nullptr;
    QAction* back_ = nullptr;
};

} // namespace quarn
