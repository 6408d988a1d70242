#pragma once
// The Pages tab's list: one row per page of the document, mirrored by page
// object after every edit; the list's selection and the viewer model's page
// selection kept equal both ways; the current page followed and scrolled
// into view; thumbnails asked of the window's store for the rows on show;
// rows dragged to move pages and files dropped to insert theirs; and the page
// operations in a context menu. Every edit goes through the viewer model,
// which records it as one undo step.
#include "Quarn/Pages/ThumbnailStore.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <map>
#include <optional>
#include <set>
#include <vector>

class QMimeData;
class QMenu;

namespace quarnkit {
class QuarnDocument;
}

namespace quarn {

class ViewerModel;
class PageTableView;

class PageListController : public QAbstractListModel, public ThumbnailListener {
    Q_OBJECT

public:
    // The pasteboard type of a row dragged within the list: its row as decimal text.
    static constexpr const char* rowMimeType = "com.ombri.ravlen.page";

    // Makes the list (a child of `parent`) and becomes the store's listener.
    PageListController(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent);
    ~PageListController() override;

    PageTableView* table() const { return table_; }
    int current() const { return current_; }

    // Brings the rows, the selection and the current page up to date.
    void sync();

    // Table model.
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // ThumbnailListener.
    bool wantsThumbnail(quarnkit::PageId page) const override;
    void thumbnailReady(quarnkit::PageId page) override;

    // Drag and drop, called by the table.
    QMimeData* dragData(const std::set<int>& rows);
    void dragStarted(const std::set<int>& rows) { dragged_ = rows; }
    void dragEnded();
    // The gap a drop at `pos` (viewport) lands in: 0 before the first page,
    // the row count after the last.
    int dropGap(QPoint pos) const;
    // A drag of rows of this very list, wherever it is.
    bool isOwnDrag(const QMimeData* mime) const;
    // A drop at `pos` is taken: the action to answer, none (IgnoreAction) when
    // refused. Shows the drop bar at the gap while a drop is taken, hides it otherwise.
    Qt::DropAction validateDrop(const QMimeData* mime, QPoint pos);
    bool acceptDrop(const QMimeData* mime, QPoint pos);
    void hideIndicator();
    // The files of a drop from elsewhere that can become pages; empty when
    // any dropped item is not a local file.
    static QStringList insertableFiles(const QMimeData* mime);

    // The context menu of the row at `row` (-1: below the rows).
    QMenu* makeMenu(int row);
    // The rows on screen changed (scrolling, resizing): ask for their thumbnails.
    void refreshVisibleRows();
    void selectionChangedInTable();
    void clickedRow(int row);
    // Scrolls so that the current page's row is in view, centred when it can.
    void scrollToCurrent(bool animated);

    // A new thumbnail fades in over the one it replaces (or the white sheet).
    static constexpr int fadeMs = 120;

private:
    void mirror();
    void pagesRead(); // QuarnDocument::pageMapBuilt
    void documentChanged();
    void requestThumbnail(int row);
    std::set<int> selectedRows() const;
    void selectRows(const std::set<int>& rows);
    // Puts the table's current row, where the arrow keys start, on the row the list highlights.
    void followHighlight();
    ThumbnailStore& store() const;

    QPointer<ViewerModel> model_;
    QPointer<quarnkit::QuarnDocument> document_;
    PageTableView* table_ = nullptr;
    // By row; before a long file's pages are all read, a row's page object is
    // looked up when the row is first asked for, and none is known before.
    std::vector<quarnkit::PageId> pages_;
    bool provisional_ = false; // rows laid out from the first pages' sizes, until pagesRead
    std::vector<platform::PdfSize> sizes_;
    std::vector<QString> labels_;
    qint64 generation_ = -1;
    int current_ = -1;
    bool syncing_ = false;
    bool quietSelection_ = false;
    std::set<int> dragged_;
    std::set<quarnkit::PageId> onShow_; // pages of the rows last asked for
    // What each page on show showed when its render was asked for, to fade from.
    std::map<quarnkit::PageId, QImage> shownBefore_;
    struct Fade {
        QImage from;
        QElapsedTimer clock;
    };
    std::map<quarnkit::PageId, Fade> fades_;
    QTimer fadeTicks_;
    void fadeTick();
};

} // namespace quarn
