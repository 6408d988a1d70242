#include "Quarn/History/HistoryList.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/History/LibraryThumbnails.h"
#include "Quarn/History/LibraryViews.h"
#include "QuarnKit/History/LibraryTexts.h"
#include "QuarnKit/Shell/Design.h"

#include <QFileInfo>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::HistoryEntry;
using quarnkit::HistoryFileState;

namespace {

const QFont& headerFont()
{
    static const QFont font = uiFont(11, QFont::DemiBold);
    return font;
}

const QFont& countFont()
{
    static const QFont font = [] {
        QFont f = uiFont(10);
        f.setFamily(QStringLiteral("monospace"));
        f.setStyleHint(QFont::Monospace);
        return f;
    }();
    return font;
}

int headerHeight() { return 10 + QFontMetrics(headerFont()).height() + 4; }
int noteHeight() { return 8 + QFontMetrics(uiFont(11)).height(); }

void paintHeader(QPainter& p, const QRect& rect, quarnkit::HistoryPeriod period, int count)
{
    p.save();
    p.fillRect(rect, D::chrome());
    const QRect inner = rect.adjusted(14, 10, -14, -4);
    p.setFont(countFont());
    p.setPen(withOpacity(D::paper(), 0.4));
    p.drawText(inner, Qt::AlignRight | Qt::AlignVCenter, QLocale().toString(count));
    p.setFont(headerFont());
    p.setPen(withOpacity(D::paper(), 0.72));
    p.drawText(inner, Qt::AlignLeft | Qt::AlignVCenter, quarnkit::title(period));
    p.restore();
}

QString historyOffNote() { return QStringLiteral("History is off. New PDFs aren't added."); }

} // namespace

// ---------------------------------------------------------------- model

HistoryListModel::HistoryListModel(quarnkit::HistoryLibrary& library, QObject* parent)
    : QAbstractListModel(parent), library_(library)
{
    connect(&library_, &quarnkit::HistoryLibrary::entriesChanged, this, &HistoryListModel::rebuild);
    connect(&library_, &quarnkit::HistoryLibrary::statesChanged, this, &HistoryListModel::statesChanged);
    rebuild();
}

void HistoryListModel::setQuery(const QString& query)
{
    if (query == query_) return;
    query_ = query;
    rebuild();
}

void HistoryListModel::setNow(const QDateTime& now, const quarnkit::LibraryCalendar& calendar)
{
    now_ = now;
    calendar_ = calendar;
    rebuild();
}

void HistoryListModel::setKeepHistory(bool on)
{
    if (on == keepHistory_) return;
    keepHistory_ = on;
    rebuild();
}

void HistoryListModel::rebuild()
{
    beginResetModel();
    sections_ = quarnkit::HistoryGrouping::sections(quarnkit::HistoryGrouping::filter(library_.entries(), query_), now_,
                                                    calendar_);
    rows_.clear();
    rowById_.clear();
    missing_.clear();
    if (!keepHistory_ && !sections_.empty()) rows_.push_back({RowKind::note, {}, 0, -1, nullptr});
    for (const quarnkit::HistorySection& section : sections_) {
        const int header = int(rows_.size());
        rows_.push_back({RowKind::header, section.period, int(section.entries.size()), header, nullptr});
        for (const HistoryEntry& entry : section.entries) {
            rowById_.insert(entry.id, int(rows_.size()));
            rows_.push_back({RowKind::entry, section.period, 0, header, &entry});
            if (missing(entry)) missing_.insert(entry.id);
        }
    }
    endResetModel();
}

void HistoryListModel::statesChanged()
{
    if (rows_.empty()) return;
    // Only the checked entries can be missing: far fewer than the rows.
    std::set<QUuid> nowMissing;
    for (const auto& [id, state] : library_.states())
        if (state.missing() && rowById_.contains(id)) nowMissing.insert(id);
    if (nowMissing != missing_) {
        // A missing row is taller (its links): the list lays out again.
        missing_ = std::move(nowMissing);
        emit layoutAboutToBeChanged();
        emit layoutChanged();
    }
    emit dataChanged(index(0), index(int(rows_.size()) - 1));
}

std::optional<HistoryFileState> HistoryListModel::state(const HistoryEntry& entry) const
{
    return library_.state(entry.id);
}

bool HistoryListModel::missing(const HistoryEntry& entry) const
{
    const auto found = library_.states().find(entry.id);
    return found != library_.states().end() && found->second.missing();
}

QString HistoryListModel::location(const HistoryEntry& entry) const
{
    const auto found = library_.states().find(entry.id);
    if (found != library_.states().end() && found->second.path) return *found->second.path;
    return entry.path;
}

LibraryRowData HistoryListModel::rowData(int index) const
{
    LibraryRowData data;
    const Row& r = row(index);
    if (!r.entry) return data;
    const HistoryEntry& entry = *r.entry;
    const auto state = this->state(entry);
    const bool gone = state && state->missing();
    data.title = entry.displayTitle();
    data.folder = quarnkit::FolderLabel::display(QFileInfo(location(entry)).path(), libraryHomePath());
    const QString opened = quarnkit::HistoryLabels::opened(entry.lastOpened, now_, calendar_, QLocale());
    if (gone) {
        data.detail = opened + QStringLiteral(" · Moved or deleted");
    } else {
        const std::optional<QString> progress = state && state->progress
                                                    ? state->progress
                                                    : quarnkit::HistoryLabels::progress(std::nullopt, entry.pageCount);
        data.detail = progress ? opened + QStringLiteral(" · ") + *progress : opened;
    }
    if (state && state->path) data.path = *state->path;
    if (state) data.version = state->modified;
    data.dimmed = gone;
    // Canonically equivalent spellings of one name are one file; letter case counts.
    const QString current = currentPath ? currentPath() : QString();
    data.current =
        !current.isEmpty()
        && current.normalized(QString::NormalizationForm_C) == entry.path.normalized(QString::NormalizationForm_C);
    if (gone) data.links = {{QStringLiteral("Locate…"), D::accent()}, {QStringLiteral("Remove"), D::paper()}};
    return data;
}

const HistoryEntry* HistoryListModel::firstEntry() const
{
    if (sections_.empty() || sections_.front().entries.empty()) return nullptr;
    return &sections_.front().entries.front();
}

int HistoryListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

Qt::ItemFlags HistoryListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) return Qt::NoItemFlags;
    return row(index.row()).kind == RowKind::entry ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

QVariant HistoryListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows_.size())) return {};
    const Row& r = row(index.row());
    switch (r.kind) {
    case RowKind::note:
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return historyOffNote();
        return {};
    case RowKind::header:
        if (role == Qt::DisplayRole) return quarnkit::title(r.period);
        if (role == Qt::AccessibleTextRole)
            return quarnkit::title(r.period) + QStringLiteral(", ") + QLocale().toString(r.count);
        return {};
    case RowKind::entry: break;
    }
    switch (role) {
    case Qt::DisplayRole: return r.entry->displayTitle();
    case Qt::AccessibleTextRole: {
        const LibraryRowData d = rowData(index.row());
        return QStringList{d.title, d.folder, d.detail}.join(QStringLiteral(", "));
    }
    case Qt::ToolTipRole: {
        // The whole path of the file where there is one, else the folder.
        const LibraryRowData d = rowData(index.row());
        return d.path.isEmpty() ? d.folder : d.path;
    }
    default: return {};
    }
}

// ---------------------------------------------------------------- delegate

class HistoryRowDelegate : public QStyledItemDelegate {
public:
    explicit HistoryRowDelegate(HistoryList* list) : QStyledItemDelegate(list), list_(list)
    {
        // Only whether a row has links changes its height; every entry row has a detail line.
        LibraryRowData plain;
        plain.detail = QStringLiteral(" ");
        plainHeight_ = LibraryRow::height(plain);
        plain.links = {{QStringLiteral("Locate…"), {}}};
        linkedHeight_ = LibraryRow::height(plain);
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        const HistoryListModel::Row& row = list_->historyModel()->row(index.row());
        const int width = list_->viewport()->width();
        switch (row.kind) {
        case HistoryListModel::RowKind::note: return {width, noteHeight()};
        case HistoryListModel::RowKind::header: return {width, headerHeight()};
        case HistoryListModel::RowKind::entry: break;
        }
        return {width, list_->historyModel()->missing(*row.entry) ? linkedHeight_ : plainHeight_};
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const HistoryListModel* model = list_->historyModel();
        const HistoryListModel::Row& row = model->row(index.row());
        switch (row.kind) {
        case HistoryListModel::RowKind::note:
            p->save();
            p->setFont(uiFont(11));
            p->setPen(withOpacity(D::paper(), 0.5));
            p->drawText(option.rect.adjusted(14, 8, -14, 0), Qt::AlignLeft | Qt::AlignVCenter, historyOffNote());
            p->restore();
            return;
        case HistoryListModel::RowKind::header: paintHeader(*p, option.rect, row.period, row.count); return;
        case HistoryListModel::RowKind::entry: break;
        }
        const LibraryRowData data = model->rowData(index.row());
        LibraryRowLook look;
        look.lit = list_->lit(index.row());
        if (!data.path.isEmpty()) {
            const QString key = LibraryThumbnails::cacheKey(data.path, data.version);
            look.thumbnail = list_->thumbnails().image(key);
            if (look.thumbnail.isNull()) {
                const QPointer<HistoryList> list(list_);
                const QUuid id = row.entry->id;
                list_->requestThumbnail(data.path, key, [list, id] {
                    if (!list || !list->isVisible()) return false;
                    const int at = list->historyModel()->rowOf(id);
                    const auto [first, end] = list->visibleRows();
                    return at >= first && at < end;
                });
            }
            look.pictureShown = list_->pictureShown(key);
        }
        for (size_t link = 0; link < data.links.size(); ++link)
            look.links.push_back(list_->linkLit(index.row(), int(link)));
        LibraryRow::paint(*p, QRectF(option.rect.adjusted(LibraryList::rowInset, 0, -LibraryList::rowInset, 0)), data,
                          look);
        emit list_->rowShown(*row.entry);
    }

private:
    HistoryList* list_;
    int plainHeight_ = 0;
    int linkedHeight_ = 0;
};

// ---------------------------------------------------------------- view

HistoryList::HistoryList(HistoryListModel* model, LibraryThumbnails& thumbnails, QWidget* parent)
    : LibraryList(model, thumbnails, parent), model_(model)
{
    setItemDelegate(new HistoryRowDelegate(this));
    // The handlers may change the list: each gets its own copy of the entry.
    connect(this, &LibraryList::rowActivated, this, [this](int row) {
        const HistoryEntry entry = *model_->row(row).entry;
        emit openRequested(entry);
    });
    connect(this, &LibraryList::rowLinkActivated, this, [this](int row, int link) {
        const HistoryEntry entry = *model_->row(row).entry;
        emit linkActivated(entry, link);
    });
    connect(this, &LibraryList::rowMenuRequested, this, [this](int row, const QPoint& globalPos, MenuAsked asked) {
        const HistoryEntry entry = *model_->row(row).entry;
        emit menuRequested(entry, globalPos, asked);
    });
}

bool HistoryList::opens(int row) const
{
    return row >= 0 && row < model_->rowCount() && model_->row(row).kind == HistoryListModel::RowKind::entry;
}

bool HistoryList::isHeading(int row) const
{
    return row >= 0 && row < model_->rowCount() && model_->row(row).kind == HistoryListModel::RowKind::header;
}

bool HistoryList::isCurrentDocument(int row) const { return opens(row) && model_->rowData(row).current; }

QString HistoryList::rowIdentity(int row) const
{
    return opens(row) ? model_->row(row).entry->id.toString() : QString();
}

void HistoryList::showRow(int row)
{
    LibraryList::showRow(row);
    // Not under the pinned header either.
    const int top = visualRect(model_->index(row)).top();
    if (pinnedHeader() && top < headerHeight())
        verticalScrollBar()->setValue(verticalScrollBar()->value() - (headerHeight() - top));
}

std::optional<int> HistoryList::pinnedHeader() const
{
    const QModelIndex top = indexAt(QPoint(rowInset + 1, 0));
    if (!top.isValid()) return std::nullopt;
    const int header = model_->row(top.row()).header;
    if (header < 0 || visualRect(model_->index(header)).top() >= 0) return std::nullopt;
    return header;
}

QRect HistoryList::rowRect(int row) const
{
    if (row < 0 || row >= model_->rowCount() || model_->row(row).kind != HistoryListModel::RowKind::entry) return {};
    QRect rect = visualRect(model_->index(row)).adjusted(rowInset, 0, -rowInset, 0);
    // The pinned header covers the rows under it.
    if (pinnedHeader()) rect.setTop(std::max(rect.top(), headerHeight()));
    return rect.isValid() ? rect : QRect();
}

QRect HistoryList::linkRect(int row, int link) const
{
    if (row < 0 || row >= model_->rowCount() || model_->row(row).kind != HistoryListModel::RowKind::entry) return {};
    const QRect rect = visualRect(model_->index(row)).adjusted(rowInset, 0, -rowInset, 0);
    const std::vector<QRectF> links = LibraryRow::linkRects(QRectF(rect), model_->rowData(row));
    if (link < 0 || link >= int(links.size())) return {};
    return links[size_t(link)].toAlignedRect();
}

void HistoryList::paintEvent(QPaintEvent* event)
{
    LibraryList::paintEvent(event);
    const std::optional<int> header = pinnedHeader();
    if (!header) return;
    // The next section's header pushes the pinned one up as it arrives.
    const HistoryListModel::Row& row = model_->row(*header);
    int top = 0;
    for (int next = *header + 1; next < model_->rowCount(); ++next) {
        if (model_->row(next).kind != HistoryListModel::RowKind::header) continue;
        top = std::min(0, visualRect(model_->index(next)).top() - headerHeight());
        break;
    }
    QPainter p(viewport());
    paintHeader(p, QRect(0, top, viewport()->width(), headerHeight()), row.period, row.count);
}

} // namespace quarn
