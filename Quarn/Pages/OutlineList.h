#pragma once
// The Outline tab: the PDF's bookmarks as an indented tree. A chevron expands
// or collapses an entry, a click elsewhere on a row goes to the entry, and
// the row of the section that holds the current page is highlighted and kept
// in view. Expanded entries are state of the shown list alone: switching tabs
// and back starts again from the entries the PDF marks as open.
// The keyboard works it as the page list: Tab enters it at the highlighted
// row, Up and Down move, Right opens an entry (then goes to its first child),
// Left closes it (or goes to its parent), Return and Space go to the entry.
#include "QuarnKit/Document/OutlineMap.h"

#include <QPointer>
#include <QWidget>

#include <optional>
#include <set>

class QListView;
class QStackedLayout;

namespace quarnkit {
class QuarnDocument;
}

namespace quarn {

class ViewerModel;
class SidebarEmptyState;
class OutlineRowsModel;

class OutlineList : public QWidget {
    Q_OBJECT

public:
    OutlineList(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent = nullptr);

    // None until the list is first shown.
    const std::optional<quarnkit::OutlineMap>& map() const { return map_; }
    const std::set<quarnkit::OutlinePath>& expanded() const { return expanded_; }
    // The row marked as holding the current page, derived afresh each time.
    std::optional<quarnkit::OutlinePath> highlight() const;
    const std::optional<quarnkit::OutlinePath>& hovered() const { return hovered_; }
    std::vector<quarnkit::OutlineRow> rows() const;

    // Expands a collapsed entry, collapses an expanded one.
    void toggle(const quarnkit::OutlinePath& path);
    // Goes to the entry; nothing for an entry without a page.
    void open(const quarnkit::OutlineEntry& entry);
    void setHovered(const std::optional<quarnkit::OutlinePath>& path);
    // The row the keys are on: it follows the highlight while the list does
    // not have the keys, and the keys once it has.
    std::optional<quarnkit::OutlinePath> keyRow() const;
    void setKeyRow(const quarnkit::OutlinePath& path);
    // Left, Right, Return, Enter and Space on the key row (the list view
    // moves it up and down); false for another key.
    bool key(int key);
    // The keys went elsewhere: the key row follows the highlight again,
    // unless they only went to another window or a popup for a while.
    void leaveKeys(Qt::FocusReason reason);

    QListView* view() const { return view_; }
    SidebarEmptyState* emptyState() const { return empty_; }
    // Where a row stands in the view, and its chevron (empty without children).
    QRect rowRect(const quarnkit::OutlinePath& path) const;
    QRect chevronRect(const quarnkit::OutlinePath& path) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void build();
    void documentEdited();
    void refresh(bool scroll);
    // The shown row standing for `path`: itself, else its outermost collapsed ancestor.
    std::optional<size_t> shownRowOf(const quarnkit::OutlinePath& path) const;

    QPointer<ViewerModel> model_;
    QPointer<quarnkit::QuarnDocument> document_;
    std::optional<quarnkit::OutlineMap> map_;
    std::set<quarnkit::OutlinePath> expanded_;
    std::optional<quarnkit::OutlinePath> hovered_;
    std::optional<quarnkit::OutlinePath> shownHighlight_;
    std::optional<quarnkit::OutlinePath> keyRow_;
    bool scrolledOnce_ = false;
    QStackedLayout* stack_ = nullptr;
    QListView* view_ = nullptr;
    SidebarEmptyState* empty_ = nullptr;
    OutlineRowsModel* rowsModel_ = nullptr;
};

} // namespace quarn
