#pragma once
// The Explore panel's list: one row per result of the window's Explore
// model, in the model's order, and after them the overflow line when the
// model shows fewer results than it found. Rows are drawn on demand, so
// hundreds of results cost only the rows on screen; each row drawn asks the
// thumbnails for its picture.
#include "Quarn/History/LibraryRow.h"
#include "QuarnKit/Explore/ExploreItem.h"

#include <QAbstractListModel>
#include <QListView>

namespace quarnkit {
class ExploreModel;
}

namespace quarn {

class LibraryThumbnails;

class ExploreListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit ExploreListModel(quarnkit::ExploreModel& explore, QObject* parent = nullptr);

    // The result at `row`; none for the overflow line.
    const quarnkit::ExploreItem* item(int row) const;
    // The row as drawn, with every text.
    LibraryRowData rowData(int row) const;
    // The overflow line's text, empty when there is none.
    QString overflow() const { return overflow_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    void rebuild();

    quarnkit::ExploreModel& explore_;
    std::vector<quarnkit::ExploreItem> items_; // as last shown
    QString overflow_;
};

class ExploreList : public QListView {
    Q_OBJECT
public:
    ExploreList(ExploreListModel* model, LibraryThumbnails& thumbnails, QWidget* parent = nullptr);
    ExploreListModel* exploreModel() const { return model_; }
    LibraryThumbnails& thumbnails() const { return thumbnails_; }
    // The rows on screen now, [first, end).
    std::pair<int, int> visibleRows() const;
    int hoveredRow() const { return hoveredRow_; }
    // Where a result's row stands in the viewport; empty for none.
    QRect rowRect(int row) const;

signals:
    void openRequested(const quarnkit::ExploreItem& item);
    void menuRequested(const quarnkit::ExploreItem& item, const QPoint& globalPos);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The result row under a viewport point; -1 for none.
    int itemRowAt(const QPoint& point) const;
    void setHover(int row);

    ExploreListModel* model_;
    LibraryThumbnails& thumbnails_;
    int hoveredRow_ = -1;
    int pressedRow_ = -1;
};

} // namespace quarn
