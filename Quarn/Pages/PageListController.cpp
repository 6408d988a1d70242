#include "Quarn/Pages/PageListController.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Pages/PagePanels.h"
#include "Quarn/Pages/PagesModel.h"

#include "Quarn/Design/AccessibleItemList.h"
#include "Quarn/Design/Motion.h"
#include "Quarn/Pages/PageTableView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/DocumentPages.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Pages/PageEditor.h"
#include "QuarnKit/Pages/PageRows.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include "Quarn/Viewer/QuarnPDFView.h"

#include <QMenu>
#include <QMimeData>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <utility>

namespace quarn {

namespace {
// The rows whose sizes a long file's list reads before the rest: a window's worth and more.
constexpr int exactRows = 16;
} // namespace

using quarnkit::PageRowsChange;
namespace DocumentPages = quarnkit::DocumentPages;
namespace PageEditor = quarnkit::PageEditor;

PageListController::PageListController(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent)
    : QAbstractListModel(parent), model_(model), document_(document)
{
    // Until the rows show the model's selection, the table's own changes to
    // its selection (it gets one with this model) are no choice of the
    // user's: they must not clear a selection the list did not make.
    syncing_ = true;
    table_ = new PageTableView(parent);
    table_->setController(this);
    table_->setModel(this);
    exposeAsItemList(table_); // the thumbnail of the page shown is no focus of a reader's
    const QPointer<PageListController> self(this);
    table_->onDelete = [self] {
        if (self && self->model_) PagesModel::of(*self->model_).deletePages();
    };
    table_->onFocus = [self] {
        if (self && self->model_) MarkupModel::of(*self->model_).select(std::nullopt);
    };
    table_->onDragLeave = [self] {
        if (self) self->hideIndicator();
    };
    connect(table_, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) { clickedRow(index.row()); });
    fadeTicks_.setInterval(16);
    connect(&fadeTicks_, &QTimer::timeout, this, &PageListController::fadeTick);
    // The controller goes with its list.
    connect(table_, &QObject::destroyed, this, [this] {
        table_ = nullptr;
        deleteLater();
    });

    if (model_) {
        store().setListener(this, this);
        connect(&PagesModel::of(*model_), &PagesModel::selectedPagesChanged, this, &PageListController::sync);
        connect(model_, &ViewerModel::pageIndexChanged, this, &PageListController::sync);
    }
    if (document_) {
        generation_ = document_->generation();
        connect(document_, &quarnkit::QuarnDocument::generationChanged, this, &PageListController::sync);
        connect(document_, &quarnkit::QuarnDocument::pageMapBuilt, this, &PageListController::pagesRead);
    }
    current_ = model_ ? model_->pageIndex() : -1;
    mirror();
    {
        const QSignalBlocker quiet(this);
        if (model_) selectRows(PagesModel::of(*model_).selectedPages());
        syncing_ = false;
    }
    refreshVisibleRows();
    QTimer::singleShot(0, this, [this] { scrollToCurrent(false); });
}

PageListController::~PageListController()
{
    if (!model_) return;
    if (store().listener() == this) store().setListener(nullptr, nullptr);
    // The sidebar's page selection does not outlive its list.
    const QPointer<ViewerModel> model(model_);
    QTimer::singleShot(0, model, [model] {
        if (model && !PagesModel::of(*model).thumbnails().listener() && !PagesModel::of(*model).selectedPages().empty())
            PagesModel::of(*model).setSelectedPages({});
    });
}

ThumbnailStore& PageListController::store() const { return PagesModel::of(*model_).thumbnails(); }

// ---------------------------------------------------------------- rows

void PageListController::mirror()
{
    pages_.clear();
    sizes_.clear();
    labels_.clear();
    provisional_ = false;
    if (!document_ || document_->isLocked()) return;
    // A long file's rows are there at once, sized from its first pages (page
    // 1's size standing in for the rest) until every page is read on a worker
    // (pagesRead), so that the first thumbnails need not wait for that.
    provisional_ = !document_->pageMapReady();
    const auto geometries = DocumentPages::geometries(*document_, provisional_ ? exactRows : document_->pageCount());
    pages_ = provisional_ ? std::vector<quarnkit::PageId>(geometries.size()) : DocumentPages::ids(*document_);
    const std::vector<QString> labels = DocumentPages::labels(*document_);
    for (size_t i = 0; i < pages_.size(); ++i) {
        sizes_.push_back(i < geometries.size() && geometries[i] ? quarnkit::thumbnailSize(*geometries[i])
                                                                : quarnkit::thumbnailBox);
        labels_.push_back(i < labels.size() ? labels[i] : QString());
    }
}

void PageListController::pagesRead()
{
    if (!provisional_) return; // an edit listed them already
    syncing_ = true;
    // The same rows, now with their own pages' sizes; a tree that held fewer
    // pages than it claimed, and was mended, lists its rows again.
    if (document_ && document_->pageCount() == rowCount()) {
        emit layoutAboutToBeChanged();
        mirror();
        emit layoutChanged();
    } else {
        beginResetModel();
        mirror();
        endResetModel();
    }
    if (model_) selectRows(PagesModel::of(*model_).selectedPages());
    syncing_ = false;
    refreshVisibleRows();
    scrollToCurrent(false);
}

int PageListController::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(pages_.size()); }

Qt::ItemFlags PageListController::flags(const QModelIndex& index) const
{
    if (!index.isValid()) return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QVariant PageListController::data(const QModelIndex& index, int role) const
{
    const int row = index.row();
    if (!index.isValid() || row >= int(pages_.size())) return {};
    const QString number = QString::number(row + 1);
    const QString& label = labels_[size_t(row)];
    switch (role) {
    case pageImageRole: return model_ ? store().image(pages_[size_t(row)]) : QImage();
    case pageSizeRole: return QSizeF(sizes_[size_t(row)].width, sizes_[size_t(row)].height);
    case pageCurrentRole: return row == current_;
    case pageLabelRole: return label;
    case pageFadeRole:
    case pageFadeFromRole: {
        const auto fade = fades_.find(pages_[size_t(row)]);
        if (role == pageFadeFromRole) return fade == fades_.end() ? QImage() : fade->second.from;
        return fade == fades_.end() ? 1.0 : std::min(1.0, double(fade->second.clock.elapsed()) / fadeMs);
    }
    case Qt::SizeHintRole:
        return QSize(int(sizes_[size_t(row)].width), int(sizes_[size_t(row)].height) + PageCell::rowExtra);
    case Qt::ToolTipRole: return label.isEmpty() ? tr("Page %1").arg(number) : tr("Page %1 (%2)").arg(number, label);
    case Qt::AccessibleTextRole:
    case Qt::DisplayRole:
        return label.isEmpty() ? tr("Page %1").arg(number) : tr("Page %1, labeled %2").arg(number, label);
    default: return {};
    }
}

// ---------------------------------------------------------------- following the document and the model

void PageListController::sync()
{
    if (!table_ || !model_) return;
    bool moved = false; // the rows, their selection or the page shown
    if (document_ && document_->generation() != generation_) {
        generation_ = document_->generation();
        documentChanged();
        moved = true;
    }
    if (selectedRows() != PagesModel::of(*model_).selectedPages()) {
        syncing_ = true;
        selectRows(PagesModel::of(*model_).selectedPages());
        syncing_ = false;
        table_->viewport()->update();
        moved = true;
    }
    if (model_->pageIndex() != current_) {
        current_ = model_->pageIndex();
        table_->viewport()->update();
        scrollToCurrent(true);
        moved = true;
    }
    if (moved) followHighlight();
}

void PageListController::followHighlight()
{
    // The keys go on from what the list highlights: a chosen row (the page
    // shown when it is one), else the page shown. Qt leaves its current row
    // on the row before a deleted one.
    const std::set<int> rows = selectedRows();
    const QModelIndex current = table_->currentIndex();
    if (current.isValid() && rows.count(current.row())) return;
    const int row = rows.empty() || rows.count(current_) ? current_ : *rows.begin();
    if (row < 0 || row >= rowCount() || (current.isValid() && current.row() == row)) return;
    // Without scrolling: the list brings the page shown in itself, eased.
    const bool scrolls = table_->hasAutoScroll();
    table_->setAutoScroll(false);
    table_->selectionModel()->setCurrentIndex(index(row), QItemSelectionModel::NoUpdate);
    table_->setAutoScroll(scrolls);
}

void PageListController::documentChanged()
{
    const std::vector<quarnkit::PageId> before = pages_;
    const std::vector<quarnkit::PageId> after =
        document_ && !document_->isLocked() ? DocumentPages::ids(*document_) : std::vector<quarnkit::PageId>{};
    // Rows not all known yet are listed again.
    const PageRowsChange change =
        provisional_ ? PageRowsChange{}
                     : quarnkit::pageRowsChange(before, after, document_ ? document_->editedPage() : std::nullopt);
    if (change.kind == PageRowsChange::Kind::onePage) {
        store().invalidate(pages_[size_t(change.row)]);
        requestThumbnail(change.row);
        return;
    }
    store().invalidateAll();
    syncing_ = true;
    switch (change.kind) {
    case PageRowsChange::Kind::removed:
        // Back to front, so that the rows still to remove keep their numbers.
        for (auto row = change.rows.rbegin(); row != change.rows.rend(); ++row) {
            beginRemoveRows({}, *row, *row);
            pages_.erase(pages_.begin() + *row);
            sizes_.erase(sizes_.begin() + *row);
            labels_.erase(labels_.begin() + *row);
            endRemoveRows();
        }
        mirror(); // labels and sizes of the rows that stay may read differently
        emit dataChanged(index(0), index(std::max(0, rowCount() - 1)));
        break;
    case PageRowsChange::Kind::inserted: {
        const auto keptPages = pages_;
        const auto keptSizes = sizes_;
        const auto keptLabels = labels_;
        mirror();
        const auto freshPages = std::exchange(pages_, keptPages);
        const auto freshSizes = std::exchange(sizes_, keptSizes);
        const auto freshLabels = std::exchange(labels_, keptLabels);
        // Ascending: each new row goes where it stands in the new order.
        for (int row : change.rows) {
            beginInsertRows({}, row, row);
            pages_.insert(pages_.begin() + row, freshPages[size_t(row)]);
            sizes_.insert(sizes_.begin() + row, freshSizes[size_t(row)]);
            labels_.insert(labels_.begin() + row, freshLabels[size_t(row)]);
            endInsertRows();
        }
        labels_ = freshLabels; // the labels of the pages after them may read differently
        emit dataChanged(index(0), index(std::max(0, rowCount() - 1)));
        break;
    }
    case PageRowsChange::Kind::allPages:
        // A rotation changes the rows' heights.
        emit layoutAboutToBeChanged();
        mirror();
        emit layoutChanged();
        break;
    default:
        beginResetModel();
        mirror();
        endResetModel();
        break;
    }
    if (model_) selectRows(PagesModel::of(*model_).selectedPages());
    syncing_ = false;
    refreshVisibleRows();
}

// ---------------------------------------------------------------- thumbnails

void PageListController::requestThumbnail(int row)
{
    if (!table_ || !model_ || row < 0 || row >= int(pages_.size())) return;
    quarnkit::PageId& page = pages_[size_t(row)];
    if (!page && document_) page = document_->pageId(row).value_or(quarnkit::PageId{});
    if (!page) return;
    const QWindow* window = table_->window()->windowHandle();
    const double scale = window ? window->devicePixelRatio() : 2;
    shownBefore_[page] = store().image(page);
    store().request(page, sizes_[size_t(row)], scale, row);
    table_->update(index(row));
}

void PageListController::refreshVisibleRows()
{
    if (!table_ || !model_) return;
    const auto [first, end] = table_->visibleRows();
    std::set<quarnkit::PageId> shown;
    for (int row = first; row < end && row < int(pages_.size()); ++row) shown.insert(pages_[size_t(row)]);
    // Rows that left the screen: their waiting renders are of no use now.
    for (const quarnkit::PageId& page : onShow_)
        if (!shown.count(page)) {
            store().cancel(page);
            shownBefore_.erase(page);
            fades_.erase(page);
        }
    onShow_ = shown;
    // Newest first: ask for the rows from the bottom up, so the top row renders first.
    for (int row = std::min(end, int(pages_.size())) - 1; row >= first; --row) requestThumbnail(row);
}

bool PageListController::wantsThumbnail(quarnkit::PageId page) const
{
    if (!table_) return false;
    const auto [first, end] = table_->visibleRows();
    const int from = first < 3 ? 0 : first - 2;
    const int to = std::min(int(pages_.size()), end + 2);
    for (int row = from; row < to; ++row)
        if (pages_[size_t(row)] == page) return true;
    return false;
}

void PageListController::thumbnailReady(quarnkit::PageId page)
{
    if (!table_) return;
    // Over what the row showed, unless the desktop asks for less motion.
    const auto before = shownBefore_.find(page);
    if (!motion::reduced()) {
        Fade& fade = fades_[page];
        fade.from = before == shownBefore_.end() ? QImage() : before->second;
        fade.clock.start();
        if (!fadeTicks_.isActive()) fadeTicks_.start();
    }
    if (before != shownBefore_.end()) shownBefore_.erase(before);
    const auto [first, end] = table_->visibleRows();
    for (int row = first; row < end && row < int(pages_.size()); ++row)
        if (pages_[size_t(row)] == page) table_->update(index(row));
}

void PageListController::fadeTick()
{
    for (auto it = fades_.begin(); it != fades_.end();)
        it = it->second.clock.elapsed() >= fadeMs ? fades_.erase(it) : std::next(it);
    if (fades_.empty()) fadeTicks_.stop();
    if (table_) table_->viewport()->update();
}

// ---------------------------------------------------------------- selection

std::set<int> PageListController::selectedRows() const
{
    std::set<int> rows;
    if (table_ && table_->selectionModel())
        for (const QModelIndex& i : table_->selectionModel()->selectedRows()) rows.insert(i.row());
    return rows;
}

void PageListController::selectRows(const std::set<int>& rows)
{
    if (!table_ || !table_->selectionModel()) return;
    QItemSelection selection;
    for (int row : rows)
        if (row >= 0 && row < rowCount()) selection.select(index(row), index(row));
    table_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void PageListController::selectionChangedInTable()
{
    if (!table_) return;
    table_->viewport()->update();
    if (syncing_ || !model_) return;
    const std::set<int> rows = selectedRows();
    PagesModel::of(*model_).setSelectedPages(rows);
    if (!quietSelection_ && rows.size() == 1 && *rows.begin() != current_)
        PagesModel::of(*model_).goToPageFromSidebar(*rows.begin());
}

void PageListController::clickedRow(int row)
{
    // A click inside a selection of several rows shows that page and keeps the selection.
    const std::set<int> rows = selectedRows();
    if (model_ && row >= 0 && row != current_ && rows.size() >= 2 && rows.count(row))
        PagesModel::of(*model_).goToPageFromSidebar(row);
}

void PageListController::scrollToCurrent(bool animated)
{
    // A hidden list (made behind History or Explore) has no viewport of its
    // own size yet: it is scrolled when it shows (PageTableView).
    if (!table_ || !table_->isVisible() || current_ < 0 || current_ >= rowCount()) return;
    const QRect row = table_->visualRect(index(current_));
    const QRect view = table_->viewport()->rect();
    if (view.contains(row)) return;
    QScrollBar* bar = table_->verticalScrollBar();
    const int top = row.top() + bar->value(); // in the list's content
    const int target = std::clamp(top + row.height() / 2 - view.height() / 2, 0, bar->maximum());
    if (!animated) {
        bar->setValue(target);
        return;
    }
    auto* slide = new QPropertyAnimation(bar, "value", bar);
    slide->setDuration(200);
    slide->setEasingCurve(QEasingCurve::InOutQuad);
    slide->setEndValue(target);
    slide->start(QAbstractAnimation::DeleteWhenStopped);
}

// ---------------------------------------------------------------- drag and drop

QMimeData* PageListController::dragData(const std::set<int>& rows)
{
    auto* mime = new QMimeData;
    QStringList numbers;
    for (int row : rows) numbers << QString::number(row);
    mime->setData(QString::fromLatin1(rowMimeType), numbers.join(QLatin1Char('\n')).toLatin1());
    return mime;
}

void PageListController::dragEnded()
{
    dragged_.clear();
    hideIndicator();
}

void PageListController::hideIndicator()
{
    if (table_) table_->indicator()->hide();
}

int PageListController::dropGap(QPoint pos) const
{
    if (!table_) return 0;
    const QModelIndex at = table_->indexAt(pos);
    if (at.isValid()) {
        const QRect rect = table_->visualRect(at);
        return pos.y() < rect.center().y() ? at.row() : at.row() + 1;
    }
    if (rowCount() == 0) return 0;
    const QRect first = table_->visualRect(index(0));
    return pos.y() < first.top() ? 0 : rowCount();
}

QStringList PageListController::insertableFiles(const QMimeData* mime)
{
    QStringList files;
    if (!mime || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) return {};
        if (PageEditor::canInsert(url.toLocalFile())) files << url.toLocalFile();
    }
    return files;
}

bool PageListController::isOwnDrag(const QMimeData* mime) const
{
    return mime && mime->hasFormat(QString::fromLatin1(rowMimeType)) && !dragged_.empty();
}

Qt::DropAction PageListController::validateDrop(const QMimeData* mime, QPoint pos)
{
    if (!table_ || !mime) return Qt::IgnoreAction;
    const int gap = dropGap(pos);
    Qt::DropAction action = Qt::IgnoreAction;
    if (mime->hasFormat(QString::fromLatin1(rowMimeType))) {
        // Only a drag from this very list, and only one that changes the order.
        if (!dragged_.empty() && PageEditor::movedIndexes(dragged_, gap) != dragged_) action = Qt::MoveAction;
    } else if (!insertableFiles(mime).isEmpty()) {
        action = Qt::CopyAction;
    }
    if (action == Qt::IgnoreAction || rowCount() == 0) {
        hideIndicator();
        return action;
    }
    const int y = gap >= rowCount() ? table_->visualRect(index(rowCount() - 1)).bottom() + 1
                                    : table_->visualRect(index(gap)).top();
    DropIndicator* bar = table_->indicator();
    bar->setGeometry(int(std::lround((table_->viewport()->width() - DropIndicator::barWidth) * 0.5)), y - 1,
                     DropIndicator::barWidth, 3);
    bar->show();
    bar->raise();
    return action;
}

bool PageListController::acceptDrop(const QMimeData* mime, QPoint pos)
{
    hideIndicator();
    if (!model_ || !document_ || !mime) return false;
    const int gap = dropGap(pos);
    if (mime->hasFormat(QString::fromLatin1(rowMimeType))) {
        if (dragged_.empty()) return false;
        const std::set<int> rows = dragged_;
        const qint64 before = document_->generation();
        PagesModel::of(*model_).movePages(rows, gap);
        return document_ && document_->generation() != before;
    }
    const QStringList files = insertableFiles(mime);
    if (files.isEmpty()) return false;
    // After the drop has returned to the system: insertion may show an alert.
    const QPointer<ViewerModel> model(model_);
    QTimer::singleShot(0, model, [model, files, gap] {
        if (model) PagesModel::of(*model).insertPages(files, gap);
    });
    return true;
}

// ---------------------------------------------------------------- context menu

QMenu* PageListController::makeMenu(int row)
{
    using quarnkit::ShortcutCommand;
    auto* menu = new QMenu(table_);
    const QPointer<ViewerModel> model(model_);
    auto add = [&](const QString& title, std::function<void(ViewerModel&)> act, QKeySequence key = {}) {
        QAction* action = menu->addAction(title);
        action->setShortcut(key);
        connect(action, &QAction::triggered, this, [model, act] {
            if (model && model->document()) act(*model);
        });
        return action;
    };
    if (row < 0) {
        // Below the rows: both items act at the end of the document, also
        // one without pages (inserting is the only way out of that state).
        const int end = rowCount();
        add(tr("Insert Blank Page"), [end](ViewerModel& m) { PagesModel::of(m).insertBlankPageAfter(end - 1); });
        add(tr("Insert Pages from File…"), [this, end](ViewerModel& m) { askForPagesToInsert(m, table_, end); });
        return menu;
    }
    if (!selectedRows().count(row)) {
        // The clicked row alone, without moving the page view.
        quietSelection_ = true;
        selectRows({row});
        quietSelection_ = false;
    }
    const int n = int(selectedRows().size());
    auto key = [](ShortcutCommand command) { return quarnkit::KeyboardShortcuts::menuKey(command); };
    add(
        tr("Rotate Left"), [](ViewerModel& m) { PagesModel::of(m).rotatePages(-90); },
        key(ShortcutCommand::rotateLeft));
    add(
        tr("Rotate Right"), [](ViewerModel& m) { PagesModel::of(m).rotatePages(90); },
        key(ShortcutCommand::rotateRight));
    menu->addSeparator();
    add(PageEditor::title(tr("Duplicate"), n, false), [](ViewerModel& m) { PagesModel::of(m).duplicatePages(); });
    add(tr("Insert Blank Page After"), [](ViewerModel& m) { PagesModel::of(m).insertBlankPage(); });
    add(tr("Insert Pages from File…"), [this](ViewerModel& m) { askForPagesToInsert(m, table_); });
    menu->addSeparator();
    add(PageEditor::title(tr("Extract"), n, true), [this](ViewerModel& m) { askWhereToExtract(m, table_); });
    menu->addSeparator();
    QAction* remove = add(
        PageEditor::title(tr("Delete"), n, false), [](ViewerModel& m) { PagesModel::of(m).deletePages(); },
        key(ShortcutCommand::deletePages));
    remove->setEnabled(n < rowCount());
    return menu;
}

} // namespace quarn
