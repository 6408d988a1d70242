#include "Quarn/Explore/ExploreList.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/History/LibraryThumbnails.h"
#include "Quarn/History/LibraryViews.h"
#include "QuarnKit/Explore/ExploreModel.h"
#include "QuarnKit/History/LibraryTexts.h"
#include "QuarnKit/Shell/Design.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::ExploreItem;

namespace {

constexpr int rowInset = 6;       // the rows stand 6 in from the list's sides
constexpr int bottomPadding = 12; // below the last row

const QFont& overflowFont()
{
    static const QFont font = uiFont(11);
    return font;
}

} // namespace

// ---------------------------------------------------------------- model

ExploreListModel::ExploreListModel(quarnkit::ExploreModel& explore, QObject* parent)
    : QAbstractListModel(parent), explore_(explore)
{
    connect(&explore_, &quarnkit::ExploreModel::resultsChanged, this, &ExploreListModel::rebuild);
    rebuild();
}

void ExploreListModel::rebuild()
{
    QString overflow = explore_.overflowLine().value_or(QString());
    if (explore_.items() == items_ && overflow == overflow_) return;
    beginResetModel();
    items_ = explore_.items();
    overflow_ = std::move(overflow);
    endResetModel();
}

const ExploreItem* ExploreListModel::item(int row) const
{
    return row >= 0 && row < int(items_.size()) ? &items_[size_t(row)] : nullptr;
}

LibraryRowData ExploreListModel::rowData(int row) const
{
    LibraryRowData data;
    const ExploreItem* found = item(row);
    if (!found) return data;
    data.title = found->displayTitle();
    data.folder = quarnkit::FolderLabel::display(found->folderPath(), libraryHomePath());
    data.detail = found->detail();
    data.path = found->path;
    data.version = found->modified;
    return data;
}

int ExploreListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid()) return 0;
    return int(items_.size()) + (overflow_.isEmpty() ? 0 : 1);
}

QVariant ExploreListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()) return {};
    const ExploreItem* found = item(index.row());
    if (!found) return role == Qt::DisplayRole || role == Qt::AccessibleTextRole ? QVariant(overflow_) : QVariant();
    switch (role) {
    case Qt::DisplayRole: return found->displayTitle();
    case Qt::AccessibleTextRole: {
        const LibraryRowData d = rowData(index.row());
        return QStringList{d.title, d.folder, d.detail}.join(QStringLiteral(", "));
    }
    case Qt::ToolTipRole: return found->path;
    default: return {};
    }
}

// ---------------------------------------------------------------- delegate

class ExploreRowDelegate : public QStyledItemDelegate {
public:
    explicit ExploreRowDelegate(ExploreList* list) : QStyledItemDelegate(list), list_(list)
    {
        LibraryRowData plain;
        plain.detail = QStringLiteral(" ");
        rowHeight_ = LibraryRow::height(plain);
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        const ExploreListModel* model = list_->exploreModel();
        const int width = list_->viewport()->width();
        const bool last = index.row() == model->rowCount() - 1;
        if (model->item(index.row())) return {width, rowHeight_ + (last ? bottomPadding : 0)};
        // The overflow line wraps onto as many lines as it needs.
        const QRect text =
            QFontMetrics(overflowFont())
                .boundingRect(QRect(0, 0, std::max(1, width - 28), 10000), Qt::TextWordWrap, model->overflow());
        return {width, 10 + text.height() + bottomPadding};
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const ExploreListModel* model = list_->exploreModel();
        const ExploreItem* item = model->item(index.row());
        if (!item) {
            p->save();
            p->setFont(overflowFont());
            p->setPen(withOpacity(D::paper(), 0.5));
            p->drawText(option.rect.adjusted(14, 10, -14, -bottomPadding),
                        Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, model->overflow());
            p->restore();
            return;
        }
        const LibraryRowData data = model->rowData(index.row());
        const QString key = LibraryThumbnails::cacheKey(data.path, data.version);
        QImage picture = list_->thumbnails().image(key);
        if (picture.isNull()) {
            const QPointer<ExploreList> list(list_);
            const QString path = item->path;
            list_->thumbnails().request(
                data.path, key, LibraryRow::thumbnailPixels(list_->devicePixelRatioF()), [list, path] {
                    if (!list || !list->isVisible()) return false;
                    const auto [first, end] = list->visibleRows();
                    for (int row = first; row < end; ++row)
                        if (const ExploreItem* shown = list->exploreModel()->item(row); shown && shown->path == path)
                            return true;
                    return false;
                });
        }
        const QRect rect = list_->rowRect(index.row());
        LibraryRow::paint(*p, QRectF(rect), data, list_->hoveredRow() == index.row(), picture, -1);
    }

private:
    ExploreList* list_;
    int rowHeight_ = 0;
};

// ---------------------------------------------------------------- view

ExploreList::ExploreList(ExploreListModel* model, LibraryThumbnails& thumbnails, QWidget* parent)
    : QListView(parent), model_(model), thumbnails_(thumbnails)
{
    setModel(model);
    setItemDelegate(new ExploreRowDelegate(this));
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus); // rows open with a click; the keys stay in the search field
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(false);
    setMouseTracking(true);
    verticalScrollBar()->setSingleStep(24);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    QPalette p = palette();
    p.setColor(QPalette::Base, D::chrome());
    setPalette(p);
    connect(&thumbnails_, &LibraryThumbnails::ready, viewport(), qOverload<>(&QWidget::update));
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { setHover(-1); });
}

std::pair<int, int> ExploreList::visibleRows() const
{
    const int count = model_->rowCount();
    if (count == 0) return {0, 0};
    const QModelIndex top = indexAt(QPoint(rowInset + 1, 0));
    const QModelIndex bottom = indexAt(QPoint(rowInset + 1, viewport()->height() - 1));
    const int first = top.isValid() ? top.row() : 0;
    const int last = bottom.isValid() ? bottom.row() : count - 1;
    return {first, std::max(first, last) + 1};
}

QRect ExploreList::rowRect(int row) const
{
    if (!model_->item(row)) return {};
    QRect rect = visualRect(model_->index(row)).adjusted(rowInset, 0, -rowInset, 0);
    if (row == model_->rowCount() - 1) rect.setBottom(rect.bottom() - bottomPadding);
    return rect;
}

int ExploreList::itemRowAt(const QPoint& point) const
{
    const QModelIndex index = indexAt(point);
    if (!index.isValid()) return -1;
    return rowRect(index.row()).contains(point) ? index.row() : -1;
}

void ExploreList::setHover(int row)
{
    if (row == hoveredRow_) return;
    hoveredRow_ = row;
    viewport()->update();
}

void ExploreList::mouseMoveEvent(QMouseEvent* event)
{
    setHover(itemRowAt(event->position().toPoint()));
    QListView::mouseMoveEvent(event);
}

void ExploreList::leaveEvent(QEvent* event)
{
    setHover(-1);
    QListView::leaveEvent(event);
}

void ExploreList::mousePressEvent(QMouseEvent* event)
{
    pressedRow_ = event->button() == Qt::LeftButton ? itemRowAt(event->position().toPoint()) : -1;
    event->accept();
}

void ExploreList::mouseDoubleClickEvent(QMouseEvent* event)
{
    // One click opens; the second of a double click does nothing more.
    event->accept();
}

void ExploreList::mouseReleaseEvent(QMouseEvent* event)
{
    const int row = itemRowAt(event->position().toPoint());
    const int pressed = std::exchange(pressedRow_, -1);
    event->accept();
    if (event->button() != Qt::LeftButton || row < 0 || row != pressed) return;
    const ExploreItem item = *model_->item(row); // the handler may change the list
    emit openRequested(item);
}

void ExploreList::contextMenuEvent(QContextMenuEvent* event)
{
    const int row = itemRowAt(event->pos());
    if (row < 0) return;
    const ExploreItem item = *model_->item(row);
    emit menuRequested(item, event->globalPos());
}

void ExploreList::resizeEvent(QResizeEvent* event)
{
    QListView::resizeEvent(event);
    // The rows are as wide as the list, and the overflow line wraps anew.
    scheduleDelayedItemsLayout();
}

} // namespace quarn
