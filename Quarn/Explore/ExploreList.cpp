#include "Quarn/Explore/ExploreList.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/History/LibraryThumbnails.h"
#include "Quarn/History/LibraryViews.h"
#include "QuarnKit/Explore/ExploreModel.h"
#include "QuarnKit/History/LibraryTexts.h"
#include "QuarnKit/Shell/Design.h"

#include <QPainter>
#include <QPointer>
#include <QStyledItemDelegate>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::ExploreItem;

namespace {

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
        LibraryRowLook look;
        look.lit = list_->lit(index.row());
        look.thumbnail = list_->thumbnails().image(key);
        if (look.thumbnail.isNull()) {
            const QPointer<ExploreList> list(list_);
            const QString path = item->path;
            list_->requestThumbnail(data.path, key, [list, path] {
                if (!list || !list->isVisible()) return false;
                const auto [first, end] = list->visibleRows();
                for (int row = first; row < end; ++row)
                    if (const ExploreItem* shown = list->exploreModel()->item(row); shown && shown->path == path)
                        return true;
                return false;
            });
        }
        look.pictureShown = list_->pictureShown(key);
        LibraryRow::paint(*p, QRectF(list_->rowRect(index.row())), data, look);
    }

private:
    ExploreList* list_;
    int rowHeight_ = 0;
};

// ---------------------------------------------------------------- view

ExploreList::ExploreList(ExploreListModel* model, LibraryThumbnails& thumbnails, QWidget* parent)
    : LibraryList(model, thumbnails, parent), model_(model)
{
    setItemDelegate(new ExploreRowDelegate(this));
    // The handlers may change the list: each gets its own copy of the result.
    connect(this, &LibraryList::rowActivated, this, [this](int row) {
        const ExploreItem item = *model_->item(row);
        emit openRequested(item);
    });
    connect(this, &LibraryList::rowMenuRequested, this, [this](int row, const QPoint& globalPos, MenuAsked asked) {
        const ExploreItem item = *model_->item(row);
        emit menuRequested(item, globalPos, asked);
    });
}

bool ExploreList::opens(int row) const { return model_->item(row) != nullptr; }

QString ExploreList::rowIdentity(int row) const { return opens(row) ? model_->item(row)->path : QString(); }

QRect ExploreList::rowRect(int row) const
{
    if (!model_->item(row)) return {};
    QRect rect = visualRect(model_->index(row)).adjusted(rowInset, 0, -rowInset, 0);
    if (row == model_->rowCount() - 1) rect.setBottom(rect.bottom() - bottomPadding);
    return rect;
}

} // namespace quarn
