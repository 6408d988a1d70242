#pragma once
// The Explore panel's list: one row per result of the window's Explore
// model, in the model's order, and after them the overflow line when the
// model shows fewer results than it found. Rows are drawn on demand, so
// hundreds of results cost only the rows on screen; each row drawn asks the
// thumbnails for its picture.
#include "Quarn/History/LibraryList.h"
#include "Quarn/History/LibraryRow.h"
#include "QuarnKit/Explore/ExploreItem.h"

#include <QAbstractListModel>

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

class ExploreList : public LibraryList {
    Q_OBJECT
public:
    ExploreList(ExploreListModel* model, LibraryThumbnails& thumbnails, QWidget* parent = nullptr);
    ExploreListModel* exploreModel() const { return model_; }
    bool opens(int row) const override;
    QString rowIdentity(int row) const override;
    // A result's row; empty for the overflow line.
    QRect rowRect(int row) const override;

signals:
    void openRequested(const quarnkit::ExploreItem& item);
    void menuRequested(const quarnkit::ExploreItem& item, const QPoint& globalPos, MenuAsked asked);

private:
    ExploreListModel* model_;
};

} // namespace quarn
