#pragma once
// The views of the Pages tab: the list of pages (PageTableView), the way one
// page row is drawn (PageCell: the thumbnail on a white sheet with a soft
// shadow, the current-page ring, the page number and label, the rounded
// selection behind it) and the bar that marks where dragged pages or files
// will land (DropIndicator). The page list controller fills and drives them;
// they hold no document state of their own.
#include <QListView>
#include <QStyledItemDelegate>

#include <functional>

class QDrag;

namespace quarn {

class PageListController;

// The roles the controller answers for each row, besides size hint, tool
// tip and accessible text.
enum PageRole {
    pageImageRole = Qt::UserRole + 1, // QImage: the thumbnail on show, possibly stale; null for none
    pageSizeRole,                     // QSizeF: the thumbnail's size in points
    pageCurrentRole,                  // bool: the viewer's current page
    pageLabelRole,                    // QString: the page's own label when it differs from its number
    pageFadeRole,                     // double: how far the thumbnail has faded in, 0 … 1
    pageFadeFromRole,                 // QImage: what it fades in over; null for the white sheet
};

class PageCell : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // The rows' fixed parts: the number line and margins around the thumbnail.
    static constexpr int rowExtra = 39;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The sheet of a row: centred, its bottom 29 points above the row's.
    static QRect paperRect(const QRect& row, QSizeF size);
    // The selection behind a row, 12 points wider than the thumbnail on each
    // side, never narrower than 84 unless the row is.
    static QRect selectionRect(const QRect& row, double pageWidth);
};

class DropIndicator : public QWidget {
    Q_OBJECT
public:
    explicit DropIndicator(QWidget* parent);
    static constexpr int barWidth = 144;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class PageTableView : public QListView {
    Q_OBJECT
public:
    explicit PageTableView(QWidget* parent = nullptr);
    void setController(PageListController* controller) { controller_ = controller; }

    std::function<void()> onDelete;    // Delete or Backspace with rows selected
    std::function<void()> onFocus;     // the list took the keyboard focus
    std::function<void()> onDragLeave; // a drag left the list or ended
    // Runs a drag started from the list; the system's drag loop unless a test replaces it.
    std::function<Qt::DropAction(QDrag*)> runDrag;

    DropIndicator* indicator() const { return indicator_; }
    // The rows on screen, [first, end).
    std::pair<int, int> visibleRows() const;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    PageListController* controller_ = nullptr;
    DropIndicator* indicator_ = nullptr;
};

} // namespace quarn
