#pragma once
// The marks of the document in a side panel, grouped by page in reading
// order, under a one-line count. Clicking a row shows and selects its mark;
// Delete or the row's context menu removes the chosen marks as one undo
// step. After an edit of one page only that page's group is rebuilt; the
// whole list is read by a worker, so a long document opens without waiting
// for every page's marks.
#include "Quarn/Design/AccessiblePopover.h"
#include "QuarnKit/Markup/MarkCatalog.h"

#include <QPointer>
#include <QWidget>

#include <optional>
#include <vector>

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace quarnkit {
class QuarnDocument;
}

namespace quarn {

class ViewerModel;
class SidebarEmptyState;
struct MarkRef;

class MarksList : public QWidget {
    Q_OBJECT

public:
    MarksList(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent = nullptr);

    // The document behind the window was replaced.
    void setDocument(quarnkit::QuarnDocument* document);

    const std::vector<quarnkit::MarkGroup>& groups() const { return groups_; }
    bool loaded() const { return loaded_; }
    // A worker is reading the whole list; the rows show the last reading until it is done.
    bool reading() const { return reading_; }
    QTreeWidget* tree() const { return tree_; }
    // The header held at the list's top while its page's rows scroll under it.
    QWidget* pinnedHeader() const;
    QString summary() const;
    // Whole list (on a worker); then, per edit, only the edited page when it can.
    void reload();
    void refresh();
    // Removes the marks of the chosen rows ("Delete Mark" / "Delete N Marks").
    void deleteChosen();

    // "1 mark on 1 page", "7 marks on 3 pages".
    static QString summaryText(const std::vector<quarnkit::MarkGroup>& groups);
    // A row's spoken label: kind, the words when they say more, page.
    static QString accessibilityText(const quarnkit::MarkEntry& entry);
    // The mark a row stands for; none for a page header.
    static std::optional<MarkRef> markOf(const QTreeWidgetItem* item);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuildRows();
    // The keys go to the mark row `at` (the last when there are fewer).
    void keepKeysAt(int at);
    void documentEdited();
    // Lights the row of the mark selected on the page, and no other.
    void showSelectedMark();
    void showMenu(QTreeWidgetItem* item, const QPoint& at, MenuAsked asked);
    std::vector<MarkRef> chosen() const;

    QPointer<ViewerModel> model_;
    QPointer<quarnkit::QuarnDocument> document_;
    std::vector<quarnkit::MarkGroup> groups_;
    bool loaded_ = false;
    bool reading_ = false;
    quint64 readings_ = 0; // the latest reading started; an older one's result is dropped
    int builtPageCount_ = -1;
    QLabel* summary_ = nullptr;
    SidebarEmptyState* empty_ = nullptr; // the symbol and the message shown without marks
    QTreeWidget* tree_ = nullptr;
    QMetaObject::Connection watch_;
};

} // namespace quarn
