#pragma once
// The History panel's list: the history library's entries that match the
// search, under a header per period (Today, Yesterday, This Week, This
// Month, Earlier) that stays pinned while its section scrolls under it. The
// model derives every text when a row is drawn, so a history of thousands of
// entries costs only the rows on screen; each row drawn asks the library to
// check its file and the thumbnails for its picture.
#include "Quarn/History/LibraryList.h"
#include "Quarn/History/LibraryRow.h"
#include "QuarnKit/History/HistoryGrouping.h"
#include "QuarnKit/History/HistoryLibrary.h"
#include "QuarnKit/History/LibraryCalendar.h"

#include <QAbstractListModel>
#include <QHash>

#include <functional>
#include <set>
#include <vector>

namespace quarn {

class LibraryThumbnails;

class HistoryListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum class RowKind { note, header, entry };
    struct Row {
        RowKind kind = RowKind::entry;
        quarnkit::HistoryPeriod period = quarnkit::HistoryPeriod::today;
        int count = 0;   // a header: the entries of its section that match
        int header = -1; // the row of the header this row stands under
        const quarnkit::HistoryEntry* entry = nullptr;
    };

    HistoryListModel(quarnkit::HistoryLibrary& library, QObject* parent = nullptr);

    void setQuery(const QString& query);
    // The date the periods and the opening dates are told against.
    void setNow(const QDateTime& now, const quarnkit::LibraryCalendar& calendar);
    // Off: a line above the first section says new PDFs are not added.
    void setKeepHistory(bool on);
    // The file the window shows; its row is marked current.
    std::function<QString()> currentPath;

    const QDateTime& now() const { return now_; }
    const std::vector<quarnkit::HistorySection>& sections() const { return sections_; }
    const Row& row(int index) const { return rows_[size_t(index)]; }
    int rowOf(const QUuid& id) const { return rowById_.value(id, -1); }
    // The entry's file state, none until it was checked.
    std::optional<quarnkit::HistoryFileState> state(const quarnkit::HistoryEntry& entry) const;
    // Checked and found gone (an entry not checked yet is never missing).
    bool missing(const quarnkit::HistoryEntry& entry) const;
    // Where the file is: where the check found it, else the recorded path.
    QString location(const quarnkit::HistoryEntry& entry) const;
    // The row as drawn, with every text.
    LibraryRowData rowData(int index) const;
    // The first entry of the first section (Return in the search field opens it).
    const quarnkit::HistoryEntry* firstEntry() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void rebuild();
    void statesChanged();

    quarnkit::HistoryLibrary& library_;
    QString query_;
    QDateTime now_ = QDateTime::currentDateTimeUtc();
    quarnkit::LibraryCalendar calendar_ = quarnkit::LibraryCalendar::current();
    bool keepHistory_ = true;
    std::vector<quarnkit::HistorySection> sections_;
    std::vector<Row> rows_;
    QHash<QUuid, int> rowById_;
    std::set<QUuid> missing_; // the shown entries found gone, as last laid out
};

class HistoryList : public LibraryList {
    Q_OBJECT
public:
    HistoryList(HistoryListModel* model, LibraryThumbnails& thumbnails, QWidget* parent = nullptr);
    HistoryListModel* historyModel() const { return model_; }

    bool opens(int row) const override;
    bool isHeading(int row) const override;
    bool isCurrentDocument(int row) const override;
    QString rowIdentity(int row) const override;
    // An entry row, less what the pinned header covers.
    QRect rowRect(int row) const override;
    QRect linkRect(int row, int link) const override;
    // The header pinned at the top while its section scrolls under it; none
    // when the section's own header row is in view.
    std::optional<int> pinnedHeader() const;

signals:
    void openRequested(const quarnkit::HistoryEntry& entry);
    void linkActivated(const quarnkit::HistoryEntry& entry, int link);
    void menuRequested(const quarnkit::HistoryEntry& entry, const QPoint& globalPos, MenuAsked asked);
    // An entry's row was drawn: its file wants a check.
    void rowShown(const quarnkit::HistoryEntry& entry);

protected:
    void showRow(int row) override;
    void paintEvent(QPaintEvent* event) override;

private:
    HistoryListModel* model_;
};

} // namespace quarn
