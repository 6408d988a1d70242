#include "Quarn/Pages/OutlineList.h"
#include "Quarn/Pages/PagesModel.h"

#include "Quarn/Design/Symbols.h"
#include "Quarn/Pages/SidebarPane.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Shell/Design.h"

#include <QAbstractListModel>
#include <QFontDatabase>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStackedLayout>
#include <QStyledItemDelegate>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::OutlinePath;
using quarnkit::OutlineRow;

namespace {

QColor withOpacity(QColor color, double opacity)
{
    color.setAlphaF(float(opacity));
    return color;
}

// The geometry of a row: 8 points of margin each side of the list, the
// indent, the chevron slot, the title and the page number.
constexpr int margin = 8;
constexpr int indentStep = 12;
constexpr int chevronWidth = 14, chevronHeight = 15;
constexpr int gapAfterChevron = 4;
constexpr int padTop = 5, padTrailing = 8;
constexpr int rowGap = 1;

QFont titleFont(int depth)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(12);
    font.setWeight(depth == 0 ? QFont::Medium : QFont::Normal);
    return font;
}

QFont numberFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(10);
    return font;
}

int leading(int depth) { return margin + depth * indentStep + 2; }

} // namespace

// ---------------------------------------------------------------- rows

class OutlineRowsModel : public QAbstractListModel {
public:
    explicit OutlineRowsModel(OutlineList* list) : QAbstractListModel(list), list_(list) {}

    void reset(std::vector<OutlineRow> rows)
    {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    const std::vector<OutlineRow>& rows() const { return rows_; }
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(rows_.size()); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= int(rows_.size())) return {};
        const quarnkit::OutlineEntry& entry = rows_[size_t(index.row())].entry;
        switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole: return entry.title;
        case Qt::AccessibleTextRole:
            return entry.pageIndex ? OutlineList::tr("%1, page %2").arg(entry.title).arg(*entry.pageIndex + 1)
                                   : entry.title;
        default: return {};
        }
    }
    Qt::ItemFlags flags(const QModelIndex&) const override { return Qt::ItemIsEnabled; }

private:
    OutlineList* list_;
    std::vector<OutlineRow> rows_;
};

namespace {

// The title's rectangle in a row of `width` (at most two lines).
QRect titleRect(const OutlineRow& row, int top, int width, int* height = nullptr)
{
    const int x = leading(row.depth) + chevronWidth + gapAfterChevron;
    int right = width - margin - padTrailing;
    if (row.entry.pageIndex)
        right -= QFontMetrics(numberFont()).horizontalAdvance(QString::number(*row.entry.pageIndex + 1)) + 4;
    const QFontMetrics fm(titleFont(row.depth));
    const int w = std::max(10, right - x);
    const QRect bound = fm.boundingRect(QRect(0, 0, w, fm.lineSpacing() * 2), Qt::TextWordWrap, row.entry.title);
    const int h = std::min(bound.height(), fm.lineSpacing() * 2);
    if (height) *height = h;
    return {x, top + padTop, w, std::max(h, fm.lineSpacing())};
}

class OutlineRowDelegate : public QStyledItemDelegate {
public:
    OutlineRowDelegate(OutlineList* list) : QStyledItemDelegate(list), list_(list) {}

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        const OutlineRow& row = rowOf(index);
        int text = 0;
        titleRect(row, 0, viewWidth(), &text);
        return {viewWidth(), std::max(text, chevronHeight) + 2 * padTop + rowGap};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const OutlineRow& row = rowOf(index);
        const quarnkit::OutlineEntry& entry = row.entry;
        const bool current = list_->highlight() == entry.path;
        const bool hovered = list_->hovered() == entry.path;
        const QRect r = option.rect;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRectF back(r.left() + margin, r.top(), r.width() - 2 * margin, r.height() - rowGap);
        if (current || hovered) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(current ? withOpacity(D::accent(), 0.14) : withOpacity(D::paper(), 0.05));
            painter->drawRoundedRect(back, 4, 4);
        }
        if (!entry.children.empty()) {
            const QRectF slot(r.left() + leading(row.depth), r.top() + padTop, chevronWidth, chevronHeight);
            painter->save();
            painter->translate(slot.center());
            if (list_->expanded().count(entry.path)) painter->rotate(90);
            drawSymbol(*painter, QStringLiteral("chevron.right"), QRectF(-4.5, -4.5, 9, 9), withOpacity(D::paper(), 0.5));
            painter->restore();
        }
        const QRect title = titleRect(row, r.top(), r.width());
        painter->setFont(titleFont(row.depth));
        painter->setPen(withOpacity(D::paper(), current ? 1.0 : entry.pageIndex ? 0.78 : 0.4));
        const QFontMetrics fm(painter->font());
        // Two lines at most; the second is cut short with an ellipsis.
        QString text = entry.title;
        if (fm.boundingRect(QRect(0, 0, title.width(), 10000), Qt::TextWordWrap, text).height() > title.height()) {
            while (text.size() > 1 &&
                   fm.boundingRect(QRect(0, 0, title.width(), 10000), Qt::TextWordWrap, text + QChar(0x2026)).height() >
                       title.height())
                text.chop(1);
            text += QChar(0x2026);
        }
        painter->drawText(title, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text);
        if (entry.pageIndex) {
            painter->setFont(numberFont());
            painter->setPen(withOpacity(D::paper(), current ? 0.72 : 0.4));
            const QRect number(title.right() + 4, r.top() + padTop + 1, r.right() - margin - padTrailing - title.right() - 3,
                               QFontMetrics(numberFont()).height());
            painter->drawText(number, Qt::AlignRight | Qt::AlignTop, QString::number(*entry.pageIndex + 1));
        }
        painter->restore();
    }

private:
    const OutlineRow& rowOf(const QModelIndex& index) const
    {
        return static_cast<const OutlineRowsModel*>(index.model())->rows()[size_t(index.row())];
    }
    int viewWidth() const { return list_->view() ? list_->view()->viewport()->width() : 188; }
    OutlineList* list_;
};

// Clicks on a chevron expand or collapse; clicks elsewhere on a row go to its entry.
class OutlineView : public QListView {
public:
    explicit OutlineView(OutlineList* list) : QListView(list), list_(list)
    {
        setMouseTracking(true);
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        setResizeMode(QListView::Adjust);
        setSelectionMode(QAbstractItemView::NoSelection);
        setFocusPolicy(Qt::NoFocus);
        setViewportMargins(0, 0, 0, 12);
        setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
        viewport()->setAutoFillBackground(false);
        setAccessibleName(OutlineList::tr("Outline"));
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        const QModelIndex index = indexAt(event->position().toPoint());
        if (!index.isValid() || event->button() != Qt::LeftButton) return;
        const OutlineRow row = list_->rows()[size_t(index.row())];
        if (list_->chevronRect(row.entry.path).contains(event->position().toPoint())) list_->toggle(row.entry.path);
        else list_->open(row.entry);
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        const QModelIndex index = indexAt(event->position().toPoint());
        // Entering the next row replaces the hover at once, whatever order the events come in.
        if (index.isValid()) list_->setHovered(list_->rows()[size_t(index.row())].entry.path);
        else list_->setHovered(std::nullopt);
    }
    void leaveEvent(QEvent* event) override
    {
        QListView::leaveEvent(event);
        list_->setHovered(std::nullopt);
    }

private:
    OutlineList* list_;
};

} // namespace

// ---------------------------------------------------------------- list

OutlineList::OutlineList(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent)
    : QWidget(parent), model_(model), document_(document)
{
    loadSidebarSymbols();
    stack_ = new QStackedLayout(this);
    rowsModel_ = new OutlineRowsModel(this);
    view_ = new OutlineView(this);
    view_->setItemDelegate(new OutlineRowDelegate(this));
    view_->setModel(rowsModel_);
    empty_ = new SidebarEmptyState(QStringLiteral("list.bullet.indent"), tr("This PDF has no outline."), this);
    stack_->addWidget(new QWidget(this)); // blank until the map is built
    stack_->addWidget(empty_);
    stack_->addWidget(view_);
    if (model_) connect(model_, &ViewerModel::pageIndexChanged, this, [this] { refresh(true); });
    if (document_) connect(document_, &quarnkit::QuarnDocument::generationChanged, this, &OutlineList::documentEdited);
}

void OutlineList::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!map_) build();
}

void OutlineList::build()
{
    map_ = document_ && !document_->isLocked() ? quarnkit::OutlineMap(*document_->pdf()) : quarnkit::OutlineMap();
    expanded_ = map_->initiallyExpanded();
    refresh(true);
}

void OutlineList::documentEdited()
{
    // An edit inside one page leaves the outline as it is; a change of the
    // page sequence may move every entry's page. Expanded paths stay.
    if (!map_ || !document_ || document_->editedPage()) return;
    map_ = document_->isLocked() ? quarnkit::OutlineMap() : quarnkit::OutlineMap(*document_->pdf());
    refresh(true);
}

std::vector<OutlineRow> OutlineList::rows() const { return rowsModel_->rows(); }

std::optional<OutlinePath> OutlineList::highlight() const
{
    if (!map_ || !model_) return std::nullopt;
    return map_->highlighted(model_->pageIndex(), expanded_);
}

void OutlineList::refresh(bool scroll)
{
    if (!map_) return;
    stack_->setCurrentIndex(map_->isEmpty() ? 1 : 2);
    const std::vector<OutlineRow> rows = map_->visibleRows(expanded_);
    bool same = rows.size() == rowsModel_->rows().size();
    for (size_t i = 0; same && i < rows.size(); ++i) same = rows[i].entry.path == rowsModel_->rows()[i].entry.path;
    if (!same) rowsModel_->reset(rows);
    view_->viewport()->update();
    const std::optional<OutlinePath> now = highlight();
    if (!scroll || !now || (now == shownHighlight_ && scrolledOnce_)) {
        shownHighlight_ = now;
        return;
    }
    shownHighlight_ = now;
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].entry.path == *now) {
            // Centred the first time, then by the least amount that shows it.
            view_->scrollTo(rowsModel_->index(int(i)),
                            scrolledOnce_ ? QAbstractItemView::EnsureVisible : QAbstractItemView::PositionAtCenter);
            scrolledOnce_ = true;
            break;
        }
}

void OutlineList::toggle(const OutlinePath& path)
{
    if (!expanded_.erase(path)) expanded_.insert(path);
    refresh(true);
}

void OutlineList::open(const quarnkit::OutlineEntry& entry)
{
    if (model_) PagesModel::of(*model_).showOutlineTarget(entry.pageIndex, entry.destination);
}

void OutlineList::setHovered(const std::optional<OutlinePath>& path)
{
    if (path == hovered_) return;
    hovered_ = path;
    view_->viewport()->update();
}

QRect OutlineList::rowRect(const OutlinePath& path) const
{
    const auto& rows = rowsModel_->rows();
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].entry.path == path) return view_->visualRect(rowsModel_->index(int(i)));
    return {};
}

QRect OutlineList::chevronRect(const OutlinePath& path) const
{
    for (const OutlineRow& row : rowsModel_->rows())
        if (row.entry.path == path && !row.entry.children.empty()) {
            const QRect r = rowRect(path);
            return {r.left() + leading(row.depth), r.top() + padTop, chevronWidth, chevronHeight};
        }
    return {};
}

} // namespace quarn
