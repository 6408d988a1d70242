#pragma once
// The list view under the History and Explore panels: rows drawn by the
// panel's delegate, a hover that follows the pointer, a click that opens the
// row it was pressed and released on (the second click of a double click
// does nothing more), links inside a row, and the row's menu. Rows that open
// nothing (headers, notes, the overflow line) take no hover and no clicks.
#include <QListView>

#include <utility>

namespace quarn {

class LibraryThumbnails;

class LibraryList : public QListView {
    Q_OBJECT
public:
    static constexpr int rowInset = 6; // the rows stand 6 in from the list's sides

    LibraryList(QAbstractItemModel* model, LibraryThumbnails& thumbnails, QWidget* parent = nullptr);
    LibraryThumbnails& thumbnails() const { return thumbnails_; }

    // The rows on screen now, [first, end).
    std::pair<int, int> visibleRows() const;
    // Where a row that opens stands in the viewport, as far as clicks reach
    // it; empty for the other rows.
    virtual QRect rowRect(int row) const = 0;
    // Where a row's link stands in the viewport; empty without that link.
    virtual QRect linkRect(int row, int link) const;
    int hoveredRow() const { return hoveredRow_; }
    int hoveredLink() const { return hoveredLink_; }

signals:
    void rowActivated(int row);
    void rowLinkActivated(int row, int link);
    void rowMenuRequested(int row, const QPoint& globalPos);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The row that opens under a viewport point; -1 for none.
    int rowAt(const QPoint& point) const;
    int linkAt(int row, const QPoint& point) const;
    void setHover(int row, int link);

    LibraryThumbnails& thumbnails_;
    int hoveredRow_ = -1;
    int hoveredLink_ = -1;
    int pressedRow_ = -1;
};

} // namespace quarn
