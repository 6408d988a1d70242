#include "Quarn/Pages/OutlineList.h"
#include "Quarn/Pages/PagesModel.h"

#include "Quarn/Design/AccessibleItemList.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Pages/SidebarPane.h"
#include "Quarn/Shell/WindowEvents.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Shell/Design.h"

#include <QAbstractListModel>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStackedLayout>
#include <QStyledItemDelegate>
#include <QTextLayout>

#include <algorithm>
#include <map>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::OutlinePath;
using quarnkit::OutlineRow;

namespace {

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

// What a screen reader says of a row: its title, and its page when it has one.
QString spokenLabel(const quarnkit::OutlineEntry& entry)
{
    return entry.pageIndex ? OutlineList::tr("%1, page %2").arg(entry.title).arg(*entry.pageIndex + 1) : entry.title;
}

} // namespace

// ---------------------------------------------------------------- rows

namespace {
// Tells a reader that the keys are on the row of `path` (a row of the tree,
// not of the flat list the view shows).
void tellFocus(OutlineList* list, const OutlinePath& path);
} // namespace

class OutlineRowsModel : public QAbstractListModel {
public:
    explicit OutlineRowsModel(OutlineList* list) : QAbstractListModel(list), list_(list) {}

    void reset(std::vector<OutlineRow> rows)
    {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    // The same rows, shown anew: their pages or their children changed.
    void update(std::vector<OutlineRow> rows)
    {
        rows_ = std::move(rows);
        if (!rows_.empty()) emit dataChanged(index(0), index(int(rows_.size()) - 1));
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
        case Qt::AccessibleTextRole: return spokenLabel(entry);
        default: return {};
        }
    }
    Qt::ItemFlags flags(const QModelIndex&) const override { return Qt::ItemIsEnabled; }

private:
    OutlineList* list_;
    std::vector<OutlineRow> rows_;
};

namespace {

// The title in at most two lines of `width`: words wrap, a word wider than
// the line breaks inside, and what the second line cannot hold ends in an
// ellipsis (a long single word would otherwise run under the page number).
QStringList titleLines(const QString& title, const QFont& font, int width)
{
    QTextLayout layout(title, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid() && lines.size() < 2; line = layout.createLine()) {
        line.setLineWidth(width);
        const bool last = lines.size() == 1;
        const QString text = last ? title.mid(line.textStart()) : title.mid(line.textStart(), line.textLength());
        lines << (last ? QFontMetrics(font).elidedText(text.trimmed(), Qt::ElideRight, width) : text.trimmed());
    }
    layout.endLayout();
    return lines;
}

// The title's rectangle in a row of `width` (at most two lines).
QRect titleRect(const OutlineRow& row, int top, int width, int* height = nullptr)
{
    const int x = leading(row.depth) + chevronWidth + gapAfterChevron;
    int right = width - margin - padTrailing;
    if (row.entry.pageIndex)
        right -= QFontMetrics(numberFont()).horizontalAdvance(QString::number(*row.entry.pageIndex + 1)) + 4;
    const QFontMetrics fm(titleFont(row.depth));
    const int w = std::max(10, right - x);
    const int h = int(titleLines(row.entry.title, titleFont(row.depth), w).size()) * fm.lineSpacing();
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
        const bool keyed = list_->view()->hasFocus() && list_->keyRow() == entry.path;
        const QRect r = option.rect;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRectF back(r.left() + margin, r.top(), r.width() - 2 * margin, r.height() - rowGap);
        if (current || hovered) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(current ? withOpacity(D::accent(), 0.14) : withOpacity(D::paper(), 0.05));
            painter->drawRoundedRect(back, 4, 4);
        }
        // The row the keys are on, while the list has them.
        if (keyed) {
            painter->setPen(QPen(D::accent(), 1.5));
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(back.adjusted(0.75, 0.75, -0.75, -0.75), 4, 4);
        }
        if (!entry.children.empty()) {
            const QRectF slot(r.left() + leading(row.depth), r.top() + padTop, chevronWidth, chevronHeight);
            painter->save();
            painter->translate(slot.center());
            if (list_->expanded().count(entry.path)) painter->rotate(90);
            drawSymbol(*painter, QStringLiteral("chevron.right"), QRectF(-4.5, -4.5, 9, 9),
                       withOpacity(D::paper(), 0.5));
            painter->restore();
        }
        const QRect title = titleRect(row, r.top(), r.width());
        painter->setFont(titleFont(row.depth));
        painter->setPen(withOpacity(D::paper(), current ? 1.0 : entry.pageIndex ? 0.78 : 0.4));
        const int lineHeight = QFontMetrics(painter->font()).lineSpacing();
        const QStringList lines = titleLines(entry.title, painter->font(), title.width());
        for (int i = 0; i < lines.size(); ++i)
            painter->drawText(QRect(title.left(), title.top() + i * lineHeight, title.width(), lineHeight),
                              Qt::AlignLeft | Qt::AlignTop, lines[i]);
        if (entry.pageIndex) {
            painter->setFont(numberFont());
            painter->setPen(withOpacity(D::paper(), current ? 0.72 : 0.4));
            const QRect number(title.right() + 4, r.top() + padTop + 1,
                               r.right() - margin - padTrailing - title.right() - 3,
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

// Clicks on a chevron expand or collapse; clicks elsewhere on a row go to its
// entry. The keys move along the rows and open, close and go to entries.
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
        setAttribute(Qt::WA_MacShowFocusRect, false);
        setViewportMargins(0, 0, 0, 12);
        setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
        viewport()->setAutoFillBackground(false);
        setAccessibleName(OutlineList::tr("Outline"));
    }

protected:
    // A row's height follows its title's lines, which follow the width: the
    // list itself lays its rows out again only when its height changes, and
    // a scroll bar coming or going changes the width alone.
    void resizeEvent(QResizeEvent* event) override
    {
        QListView::resizeEvent(event);
        if (event->size().width() != event->oldSize().width()) scheduleDelayedItemsLayout();
    }
    // The keys the list answers are its own while it has them, before the
    // window's mark keys (an arrow would nudge the selected mark, Return
    // open its words).
    bool event(QEvent* event) override
    {
        if (WindowEvents::claimsKey(event,
                                    {Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right, Qt::Key_Home, Qt::Key_End,
                                     Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}))
            return true;
        return QListView::event(event);
    }
    void keyPressEvent(QKeyEvent* event) override
    {
        if ((event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && list_->key(event->key())) {
            event->accept();
            return;
        }
        QListView::keyPressEvent(event);
    }
    void focusInEvent(QFocusEvent* event) override
    {
        // The keys start on the row they were on, else on the highlighted one.
        if (const auto row = list_->keyRow()) {
            const QSignalBlocker quiet(selectionModel());
            list_->setKeyRow(*row);
        }
        QListView::focusInEvent(event);
        // A reader hears the row the keys landed on after the list itself.
        QMetaObject::invokeMethod(
            this,
            [view = QPointer<OutlineView>(this)] {
                if (view && view->hasFocus() && QAccessible::isActive())
                    if (const auto key = view->list_->keyRow()) tellFocus(view->list_, *key);
            },
            Qt::QueuedConnection);
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        QListView::focusOutEvent(event);
        list_->leaveKeys(event->reason());
    }
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override
    {
        // Not the list view's own: it tells a reader of a row of a flat list.
        QAbstractItemView::currentChanged(current, previous);
        if (hasFocus() && current.isValid() && size_t(current.row()) < list_->rows().size()) {
            const OutlinePath path = list_->rows()[size_t(current.row())].entry.path;
            list_->setKeyRow(path);
            if (QAccessible::isActive()) tellFocus(list_, path);
        }
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        const QModelIndex index = indexAt(event->position().toPoint());
        if (!index.isValid() || event->button() != Qt::LeftButton) return;
        const OutlineRow row = list_->rows()[size_t(index.row())];
        if (hasFocus()) list_->setKeyRow(row.entry.path);
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

public:
    OutlineList* list() const { return list_; }

private:
    OutlineList* list_;
};

// The rows shown right under `parent` (the top level for an empty path).
std::vector<OutlinePath> shownChildren(const OutlineList& list, const OutlinePath& parent)
{
    std::vector<OutlinePath> children;
    for (const OutlineRow& row : list.rows()) {
        const OutlinePath& path = row.entry.path;
        if (path.size() == parent.size() + 1 && std::equal(parent.begin(), parent.end(), path.begin()))
            children.push_back(path);
    }
    return children;
}

class OutlineViewAccessible;
OutlineViewAccessible* treeOf(OutlineList* list);

// What screen readers hear of the outline: a tree, and each row an item of
// it named by its title and page, under the entry it belongs to (its
// level), which goes to its entry and, with children, expands or collapses
// by name.
class OutlineRowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    OutlineRowAccessible(OutlineList* list, OutlinePath path) : list_(list), path_(std::move(path)) {}

    const OutlinePath& path() const { return path_; }
    bool isValid() const override { return row().has_value(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int index) const override;
    int childCount() const override { return list_ ? int(shownChildren(*list_, path_).size()) : 0; }
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        const auto r = row();
        if (!r) return {};
        if (t == QAccessible::Name) return spokenLabel(r->entry);
        return t == QAccessible::Help ? r->entry.title : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        if (!list_) return {};
        const QRect r = list_->rowRect(path_);
        return QRect(list_->view()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::TreeItem; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        const auto r = row();
        if (!r) {
            state.invalid = true;
            return state;
        }
        // The row the keys are on is the chosen one while the list has them,
        // as in a list whose selection follows the keys; else the current page's.
        const bool keys = list_->view()->hasFocus();
        state.selected = (keys ? list_->keyRow() : list_->highlight()) == path_;
        state.focusable = true;
        state.focused = keys && list_->keyRow() == path_;
        if (!r->entry.children.empty()) {
            state.expandable = true;
            state.expanded = list_->expanded().count(path_) > 0;
            state.collapsed = !state.expanded;
        }
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override
    {
        QStringList names{pressAction()};
        if (const auto r = row(); r && !r->entry.children.empty())
            names << (list_->expanded().count(path_) ? collapse() : expand());
        return names;
    }
    QString localizedActionName(const QString& name) const override
    {
        return name == pressAction() ? QAccessibleActionInterface::localizedActionName(name) : name;
    }
    QString localizedActionDescription(const QString& name) const override
    {
        if (name == pressAction()) return OutlineList::tr("Goes to this entry");
        return name == expand() ? OutlineList::tr("Shows the entries under this one")
                                : OutlineList::tr("Hides the entries under this one");
    }
    void doAction(const QString& name) override
    {
        const auto r = row();
        if (!r) return;
        if (name == pressAction()) list_->open(r->entry);
        else if (actionNames().contains(name)) list_->toggle(path_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    static QString expand() { return OutlineList::tr("Expand"); }
    static QString collapse() { return OutlineList::tr("Collapse"); }

private:
    std::optional<OutlineRow> row() const
    {
        if (!list_) return std::nullopt;
        for (const OutlineRow& r : list_->rows())
            if (r.entry.path == path_) return r;
        return std::nullopt;
    }

    QPointer<OutlineList> list_;
    OutlinePath path_;
};

class OutlineViewAccessible : public RowListAccessible {
public:
    OutlineViewAccessible(QWidget* view, OutlineList* list) : RowListAccessible(view, QAccessible::Tree), list_(list) {}
    ~OutlineViewAccessible() override
    {
        for (const auto& entry : rows_) QAccessible::deleteAccessibleInterface(entry.second);
    }

    // One element per entry while the list lives, so that readers can keep hold of it.
    QAccessibleInterface* item(const OutlinePath& path) const
    {
        auto it = rows_.find(path);
        if (it == rows_.end())
            it = rows_.emplace(path, QAccessible::registerAccessibleInterface(new OutlineRowAccessible(list_, path)))
                     .first;
        return QAccessible::accessibleInterface(it->second);
    }
    // The `index`th of the rows shown under `parent`, and where `child` stands among them.
    QAccessibleInterface* childOf(const OutlinePath& parent, int index) const
    {
        if (!list_ || index < 0) return nullptr;
        const std::vector<OutlinePath> children = shownChildren(*list_, parent);
        return size_t(index) < children.size() ? item(children[size_t(index)]) : nullptr;
    }
    int indexAmong(const OutlinePath& parent, const QAccessibleInterface* child) const
    {
        const auto* row = dynamic_cast<const OutlineRowAccessible*>(child);
        if (!list_ || !row) return -1;
        const std::vector<OutlinePath> children = shownChildren(*list_, parent);
        const auto at = std::find(children.begin(), children.end(), row->path());
        return at == children.end() ? -1 : int(at - children.begin());
    }

    int childCount() const override { return list_ ? int(shownChildren(*list_, {}).size()) : 0; }
    QAccessibleInterface* child(int index) const override { return childOf({}, index); }
    int indexOfChild(const QAccessibleInterface* child) const override { return indexAmong({}, child); }
    QAccessibleInterface* focusChild() const override
    {
        if (!list_ || !list_->view()->hasFocus()) return nullptr;
        const auto key = list_->keyRow();
        return key ? item(*key) : nullptr;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        if (!list_) return nullptr;
        const QModelIndex index = list_->view()->indexAt(list_->view()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() && size_t(index.row()) < list_->rows().size()
                   ? item(list_->rows()[size_t(index.row())].entry.path)
                   : nullptr;
    }

private:
    QPointer<OutlineList> list_;
    mutable std::map<OutlinePath, QAccessible::Id> rows_;
};

OutlineViewAccessible* treeOf(OutlineList* list)
{
    return list ? dynamic_cast<OutlineViewAccessible*>(QAccessible::queryAccessibleInterface(list->view())) : nullptr;
}

QAccessibleInterface* OutlineRowAccessible::parent() const
{
    if (path_.size() <= 1) return list_ ? QAccessible::queryAccessibleInterface(list_->view()) : nullptr;
    OutlineViewAccessible* tree = treeOf(list_);
    return tree ? tree->item(OutlinePath(path_.begin(), path_.end() - 1)) : nullptr;
}

QAccessibleInterface* OutlineRowAccessible::child(int index) const
{
    OutlineViewAccessible* tree = treeOf(list_);
    return tree ? tree->childOf(path_, index) : nullptr;
}

int OutlineRowAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    OutlineViewAccessible* tree = treeOf(list_);
    return tree ? tree->indexAmong(path_, child) : -1;
}

void tellFocus(OutlineList* list, const OutlinePath& path)
{
    if (OutlineViewAccessible* tree = treeOf(list)) {
        QAccessibleEvent focus(tree->item(path), QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }
}

QAccessibleInterface* outlineAccessible(const QString&, QObject* object)
{
    auto* view = dynamic_cast<OutlineView*>(object);
    return view ? new OutlineViewAccessible(view, view->list()) : nullptr;
}

} // namespace

// ---------------------------------------------------------------- list

OutlineList::OutlineList(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent)
    : QWidget(parent), model_(model), document_(document)
{
    static const bool readable = [] {
        QAccessible::installFactory(outlineAccessible);
        return true;
    }();
    Q_UNUSED(readable);
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
    map_ = document_ && !document_->isLocked() ? quarnkit::OutlineMap(*document_) : quarnkit::OutlineMap();
    expanded_ = map_->initiallyExpanded();
    refresh(true);
}

void OutlineList::documentEdited()
{
    // An edit inside one page leaves the outline as it is; a change of the
    // page sequence may move every entry's page. Expanded paths stay.
    if (!map_ || !document_ || document_->editedPage()) return;
    map_ = document_->isLocked() ? quarnkit::OutlineMap() : quarnkit::OutlineMap(*document_);
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
    if (same && rows != rowsModel_->rows()) {
        // The same entries on other pages (a page edit, its undo): the keys
        // and the scroll stay where they are; the page numbers' widths may
        // wrap titles otherwise.
        rowsModel_->update(rows);
        view_->doItemsLayout();
    } else if (!same) {
        rowsModel_->reset(rows);
        // The keys stay on their row, or on the entry that now stands for it.
        if (view_->hasFocus())
            if (const auto key = keyRow()) setKeyRow(*key);
    }
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
    if (!QAccessible::isActive()) return;
    OutlineViewAccessible* tree = treeOf(this);
    if (!tree) return;
    // The entry is open or closed now, and its children come or go.
    QAccessibleInterface* item = tree->item(path);
    QAccessible::State changed;
    changed.expanded = changed.collapsed = true;
    QAccessibleStateChangeEvent state(item, changed);
    QAccessible::updateAccessibility(&state);
    QAccessibleEvent reordered(item, QAccessible::ObjectReorder);
    QAccessible::updateAccessibility(&reordered);
    // Readers that leave the state's change unsaid hear the row again: the
    // rows made anew put the keys back on it (currentChanged).
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

std::optional<size_t> OutlineList::shownRowOf(const OutlinePath& path) const
{
    const std::vector<OutlineRow>& rows = rowsModel_->rows();
    // The outermost collapsed ancestor stands for an entry hidden under it.
    for (size_t length = 1; length <= path.size(); ++length) {
        const OutlinePath prefix(path.begin(), path.begin() + std::ptrdiff_t(length));
        const auto at =
            std::find_if(rows.begin(), rows.end(), [&](const OutlineRow& row) { return row.entry.path == prefix; });
        if (at == rows.end()) return std::nullopt;
        if (length == path.size() || !expanded_.count(prefix)) return size_t(at - rows.begin());
    }
    return std::nullopt;
}

std::optional<OutlinePath> OutlineList::keyRow() const
{
    const std::vector<OutlineRow>& rows = rowsModel_->rows();
    if (rows.empty()) return std::nullopt;
    if (keyRow_)
        if (const auto at = shownRowOf(*keyRow_)) return rows[*at].entry.path;
    if (const auto lit = highlight()) return lit;
    return rows.front().entry.path;
}

void OutlineList::setKeyRow(const OutlinePath& path)
{
    const auto at = shownRowOf(path);
    if (!at) return;
    keyRow_ = rowsModel_->rows()[*at].entry.path;
    const QModelIndex index = rowsModel_->index(int(*at));
    if (view_->currentIndex() != index) view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    view_->scrollTo(index, QAbstractItemView::EnsureVisible);
    view_->viewport()->update();
}

void OutlineList::leaveKeys(Qt::FocusReason reason)
{
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) keyRow_.reset();
    view_->viewport()->update();
}

bool OutlineList::key(int key)
{
    const auto path = keyRow();
    const auto at = path ? shownRowOf(*path) : std::nullopt;
    if (!at) return false;
    const OutlineRow row = rowsModel_->rows()[*at];
    const bool parent = !row.entry.children.empty();
    const bool isOpen = parent && expanded_.count(row.entry.path);
    switch (key) {
    case Qt::Key_Right:
        // Opens a closed entry; in an open one, goes to its first child.
        if (isOpen) setKeyRow(row.entry.children.front().path);
        else if (parent) toggle(row.entry.path);
        return true;
    case Qt::Key_Left:
        // Closes an open entry; from any other, goes to its parent.
        if (isOpen) toggle(row.entry.path);
        else if (row.entry.path.size() > 1) setKeyRow(OutlinePath(row.entry.path.begin(), row.entry.path.end() - 1));
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space: open(row.entry); return true;
    default: return false;
    }
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
