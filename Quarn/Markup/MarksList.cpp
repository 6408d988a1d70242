#include "Quarn/Markup/MarksList.h"
#include "QuarnKit/Shell/DroppableWork.h"
#include "Quarn/Markup/MarkupModel.h"

#include "Quarn/Design/AccessibleItemList.h"
#include "Quarn/Design/AccessiblePopover.h"
#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Pages/SidebarPane.h"
#include "Quarn/Shell/WindowEvents.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Markup/MarkEdits.h"
#include "QuarnKit/Shell/Design.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFutureWatcher>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <functional>
#include <map>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::MarkEntry;
using quarnkit::MarkGroup;

namespace {

constexpr int pageRole = Qt::UserRole;
constexpr int objectRole = Qt::UserRole + 1;
constexpr int countRole = Qt::UserRole + 2; // a header's number of marks

// The kind's symbol and, 8 points further, the ink dot of the mark's colour,
// whose light outline keeps a dark ink (black words) visible on the sidebar.
QIcon rowIcon(quarnkit::MarkKind kind, const quarnkit::RGBA& color)
{
    QPixmap icon(32, 16);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    drawSymbol(painter, quarnkit::symbol(kind), QRectF(2, 2.5, 11, 11), withOpacity(D::paper(), 0.6));
    InkDot dot(color, 8);
    dot.setAttribute(Qt::WA_TranslucentBackground);
    dot.render(&painter, QPoint(20, 4), QRegion(), QWidget::DrawChildren);
    return QIcon(icon);
}

// Sizes in pixels, as in the rest of the sidebar.
QFont sized(QFont font, int pixels, QFont::Weight weight = QFont::Normal)
{
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}
QFont titleFont(const QFont& base) { return sized(base, 11, QFont::DemiBold); }
QFont countFont() { return sized(QFontDatabase::systemFont(QFontDatabase::FixedFont), 10); }
QFont rowFont(const QFont& base) { return sized(base, 12); }

// "Page n" and the page's count of marks, inset from the header's edges.
constexpr QMargins headerInset{14, 10, 14, 4};
// The row's highlight stands this far in from the list's edges; its content
// this far in from the highlight's.
constexpr int rowOutset = 6;
constexpr QMargins rowInset{8, 6, 8, 6};
constexpr int rowSpacing = 8;

int headerHeight(const QFont& base)
{
    const int text = std::max(QFontMetrics(titleFont(base)).height(), QFontMetrics(countFont()).height());
    return headerInset.top() + text + headerInset.bottom();
}

// The header fills its band with the sidebar's colour, so that pinned over
// the rows it hides those scrolling under it.
void paintHeader(QPainter& painter, const QRect& band, const QString& title, const QString& count, const QFont& base)
{
    painter.fillRect(band, D::chrome());
    const QRect text = band.marginsRemoved(headerInset);
    painter.setFont(titleFont(base));
    painter.setPen(withOpacity(D::paper(), 0.72));
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title);
    painter.setFont(countFont());
    painter.setPen(withOpacity(D::paper(), 0.4));
    painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, count);
}

// The header of the section scrolled under the list's top edge, held there
// until the next header pushes it away. It takes the clicks aimed at it, so
// the rows it hides cannot be clicked through it.
class PinnedHeader : public QWidget {
public:
    explicit PinnedHeader(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("pinnedHeader"));
        setFocusPolicy(Qt::NoFocus);
        hide();
    }
    void show(const QString& title, const QString& count)
    {
        if (title != title_ || count != count_) update();
        title_ = title;
        count_ = count;
        setAccessibleName(title);
        QWidget::show();
    }
    std::function<void()> onEnter;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        paintHeader(painter, rect(), title_, count_, font());
    }
    void enterEvent(QEnterEvent*) override
    {
        if (onEnter) onEnter();
    }
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override { event->accept(); }
    void mouseDoubleClickEvent(QMouseEvent* event) override { event->accept(); }
    void contextMenuEvent(QContextMenuEvent* event) override { event->accept(); }

private:
    QString title_;
    QString count_;
};

// The rows and headers drawn as the sidebar draws them: a row lit by a
// rounded band while its mark is chosen, whether or not the list has the
// keyboard focus, and faintly while the pointer is over it.
class MarkTree : public QTreeWidget {
public:
    explicit MarkTree(QWidget* parent) : QTreeWidget(parent), pinned_(new PinnedHeader(viewport()))
    {
        pinned_->onEnter = [this] { setHovered({}); };
    }
    QWidget* pinned() const { return pinned_; }
    // Space on a row does what a click does; Return opens a text box or a
    // note for typing besides, as on the page.
    std::function<void(QTreeWidgetItem*)> onActivate;
    std::function<void(QTreeWidgetItem*)> onOpen;
    // A row's menu: a right-click's row, or the keys' (the current row), at `at` (global).
    std::function<void(QTreeWidgetItem* row, QPoint at, MenuAsked asked)> onMenu;

    // Holds the header of the section under the top edge there.
    void pinHeader()
    {
        const QTreeWidgetItem* top = itemAt(QPoint(viewport()->width() / 2, 0));
        const QTreeWidgetItem* section = top && top->parent() ? top->parent() : top;
        const QRect own = section ? visualItemRect(section) : QRect();
        if (!section || own.top() >= 0) {
            pinned_->hide();
            return;
        }
        int y = 0;
        const int next = indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(section)) + 1;
        if (next < topLevelItemCount()) y = std::min(0, visualItemRect(topLevelItem(next)).top() - own.height());
        pinned_->setGeometry(0, y, viewport()->width(), own.height());
        pinned_->show(section->text(0), section->data(0, countRole).toString());
        pinned_->raise();
    }

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QTreeWidgetItem* item = itemFromIndex(index);
        if (!item) return;
        const QRect band(0, option.rect.top(), viewport()->width(), option.rect.height());
        if (!MarksList::markOf(item)) {
            paintHeader(*painter, band, item->text(0), item->data(0, countRole).toString(), font());
            return;
        }
        const bool active = selectionModel()->isSelected(index);
        const QRect box = band.adjusted(rowOutset, 0, -rowOutset, 0);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (active || index == hovered_) {
            QPainterPath shape;
            shape.addRoundedRect(QRectF(box), 4, 4);
            painter->fillPath(shape, active ? withOpacity(D::accent(), 0.16) : withOpacity(D::paper(), 0.05));
        }
        const QRect content = box.marginsRemoved(rowInset);
        const QSize icon = iconSize();
        item->icon(0).paint(painter, QRect(QPoint(content.left(), content.center().y() - icon.height() / 2), icon));
        const QRect text = content.adjusted(icon.width() + rowSpacing, 0, 0, 0);
        painter->setFont(rowFont(font()));
        painter->setPen(withOpacity(D::paper(), active ? 1.0 : 0.85));
        const QString words = painter->fontMetrics().elidedText(item->text(0), Qt::ElideRight, text.width());
        painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, words);
        painter->restore();
    }
    // A row brought into view (the keys, a mark selected on the page) stands
    // below the pinned header, not under it.
    void scrollTo(const QModelIndex& index, ScrollHint hint) override
    {
        QTreeWidget::scrollTo(index, hint);
        const int covered = headerHeight(font()) - visualRect(index).top();
        if (index.parent().isValid() && covered > 0)
            verticalScrollBar()->setValue(verticalScrollBar()->value() - covered);
    }
    // The keys the list answers are its own while it has them, before the
    // window's mark keys (which would nudge the selected mark on an arrow,
    // or open its words on Return).
    bool event(QEvent* event) override
    {
        if (WindowEvents::claimsKey(event,
                                    {Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right, Qt::Key_Home, Qt::Key_End,
                                     Qt::Key_PageUp, Qt::Key_PageDown},
                                    Qt::ShiftModifier)
            || WindowEvents::claimsKey(event, {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}))
            return true;
        return QTreeWidget::event(event);
    }
    void keyPressEvent(QKeyEvent* event) override
    {
        const bool activates =
            event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space;
        if (activates && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            const auto& run = event->key() == Qt::Key_Space ? onActivate : onOpen;
            if (MarksList::markOf(currentItem()) && run) run(currentItem());
            event->accept();
            return;
        }
        QTreeWidgetItem* before = currentItem();
        QTreeWidget::keyPressEvent(event);
        // The arrows choose the mark they move to, as a click would: the
        // inspector and the page edit the row lit. Shift or Ctrl with them
        // gather rows for deleting and leave the chosen mark alone.
        const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (plain && currentItem() != before && MarksList::markOf(currentItem()) && onActivate)
            onActivate(currentItem());
    }
    // The keys move among the marks' rows: a page's header is no stop, and
    // Left and Right have nowhere to go in a list of one column.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override
    {
        const QModelIndex from = currentIndex();
        if (action == MoveLeft || action == MoveRight) return from;
        QTreeWidgetItem* item = itemFromIndex(QTreeWidget::moveCursor(action, modifiers));
        const bool down = action == MoveDown || action == MoveNext || action == MovePageDown || action == MoveHome;
        while (item && !MarksList::markOf(item)) item = down ? itemBelow(item) : itemAbove(item);
        return item ? indexFromItem(item) : from;
    }
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        const MenuAsked asked = askedBy(*event);
        // The menu key comes with the pointer's place, wherever that is.
        QTreeWidgetItem* row = asked == MenuAsked::byKeys ? currentItem() : itemAt(event->pos());
        if (!row || !onMenu) return;
        const QPoint at = asked == MenuAsked::byKeys ? visualItemRect(row).center() : event->pos();
        onMenu(row, viewport()->mapToGlobal(at), asked);
    }
    void scrollContentsBy(int dx, int dy) override
    {
        QTreeWidget::scrollContentsBy(dx, dy);
        pinHeader();
    }
    void resizeEvent(QResizeEvent* event) override
    {
        QTreeWidget::resizeEvent(event);
        pinHeader();
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        QTreeWidget::mouseMoveEvent(event);
        setHovered(indexAt(event->position().toPoint()));
    }
    bool viewportEvent(QEvent* event) override
    {
        if (event->type() == QEvent::Leave) setHovered({});
        return QTreeWidget::viewportEvent(event);
    }

private:
    void setHovered(const QModelIndex& index)
    {
        if (index == hovered_) return;
        hovered_ = index;
        viewport()->update();
    }

    PinnedHeader* pinned_;
    QPersistentModelIndex hovered_;
};

// ---------------------------------------------------------------- screen readers

// A row of the list as screen readers know it, kept by what it stands for
// (a page's header, or a mark) while the rows are made anew after each edit.
struct RowKey {
    bool header = true;
    int page = -1;
    int object = 0;

    auto operator<=>(const RowKey&) const = default;
    static RowKey of(const QTreeWidgetItem* item)
    {
        if (const auto mark = MarksList::markOf(item)) return {false, mark->page, mark->object};
        return {true, item->data(0, pageRole).toInt(), 0};
    }
};

// The rows in the order the list shows them: each header, then its marks.
std::vector<QTreeWidgetItem*> shownRows(QTreeWidget* tree)
{
    std::vector<QTreeWidgetItem*> rows;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) rows.push_back(*it);
    return rows;
}

// One row: a header (a heading) or a mark (a button that shows the mark,
// with the action Delete), named as the row says it.
class MarkRowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    MarkRowAccessible(QTreeWidget* tree, RowKey key) : tree_(tree), key_(key) {}

    bool isValid() const override { return item() != nullptr; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return tree_ ? tree_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override
    {
        return tree_ ? QAccessible::queryAccessibleInterface(tree_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        const QTreeWidgetItem* row = item();
        return row && t == QAccessible::Name ? row->data(0, Qt::AccessibleTextRole).toString() : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        const QTreeWidgetItem* row = item();
        if (!row) return {};
        const QRect shown = tree_->visualItemRect(row);
        return QRect(tree_->viewport()->mapToGlobal(shown.topLeft()), shown.size());
    }
    QAccessible::Role role() const override { return key_.header ? QAccessible::Heading : QAccessible::Button; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        const QTreeWidgetItem* row = item();
        if (!row) {
            state.invalid = true;
            return state;
        }
        state.selectable = !key_.header;
        state.focusable = !key_.header;
        state.selected = row->isSelected();
        state.focused = tree_->hasFocus() && tree_->currentItem() == row;
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface && !key_.header ? static_cast<QAccessibleActionInterface*>(this)
                                                                    : nullptr;
    }

    QStringList actionNames() const override { return {pressAction(), deleteAction()}; }
    QString localizedActionName(const QString& name) const override
    {
        return name == pressAction() ? QAccessibleActionInterface::localizedActionName(name) : name;
    }
    QString localizedActionDescription(const QString& name) const override
    {
        return name == pressAction() ? MarksList::tr("Shows the mark on its page") : MarksList::tr("Deletes the mark");
    }
    void doAction(const QString& name) override
    {
        QTreeWidgetItem* row = item();
        auto* list = tree_ ? qobject_cast<MarksList*>(tree_->parentWidget()) : nullptr;
        if (!row || !list) return;
        if (name == pressAction()) {
            emit tree_->itemClicked(row, 0); // as a click on the row
        } else if (name == deleteAction()) {
            tree_->clearSelection();
            row->setSelected(true);
            list->deleteChosen();
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
    static QString deleteAction() { return MarksList::tr("Delete"); }

private:
    QTreeWidgetItem* item() const
    {
        if (!tree_) return nullptr;
        for (QTreeWidgetItemIterator it(tree_); *it; ++it)
            if (RowKey::of(*it) == key_) return *it;
        return nullptr;
    }

    QPointer<QTreeWidget> tree_;
    RowKey key_;
};

// The list itself: its rows in the order shown, and no column header (Qt's
// own tree lists its hidden header as a column named "1").
class MarkTreeAccessible : public RowListAccessible {
public:
    explicit MarkTreeAccessible(QTreeWidget* tree) : RowListAccessible(tree) {}
    ~MarkTreeAccessible() override
    {
        for (const auto& entry : rows_) QAccessible::deleteAccessibleInterface(entry.second);
    }

    int childCount() const override { return int(shownRows(tree()).size()); }
    QAccessibleInterface* child(int index) const override
    {
        const std::vector<QTreeWidgetItem*> rows = shownRows(tree());
        if (index < 0 || index >= int(rows.size())) return nullptr;
        const RowKey key = RowKey::of(rows[size_t(index)]);
        // One element per row while the list lives, so that readers can keep hold of it.
        auto it = rows_.find(key);
        if (it == rows_.end())
            it = rows_.emplace(key, QAccessible::registerAccessibleInterface(new MarkRowAccessible(tree(), key))).first;
        return QAccessible::accessibleInterface(it->second);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (int i = 0; child && i < childCount(); ++i)
            if (this->child(i) == child) return i;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QTreeWidgetItem* row = tree()->itemAt(tree()->viewport()->mapFromGlobal(QPoint(x, y)));
        if (!row) return nullptr;
        const std::vector<QTreeWidgetItem*> rows = shownRows(tree());
        return child(int(std::find(rows.begin(), rows.end(), row) - rows.begin()));
    }
    QAccessibleInterface* focusChild() const override
    {
        const std::vector<QTreeWidgetItem*> rows = shownRows(tree());
        const auto at = std::find(rows.begin(), rows.end(), tree()->currentItem());
        return tree()->hasFocus() && at != rows.end() ? child(int(at - rows.begin())) : nullptr;
    }

private:
    QTreeWidget* tree() const { return static_cast<QTreeWidget*>(widget()); }
    mutable std::map<RowKey, QAccessible::Id> rows_;
};

QAccessibleInterface* markTreeAccessible(const QString&, QObject* object)
{
    auto* tree = dynamic_cast<MarkTree*>(object);
    return tree ? new MarkTreeAccessible(tree) : nullptr;
}

} // namespace

MarksList::MarksList(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent)
    : QWidget(parent), model_(model)
{
    static const bool readable = (QAccessible::installFactory(markTreeAccessible), true);
    Q_UNUSED(readable);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 8, 0, 12);
    column->setSpacing(2);

    summary_ = new QLabel(this);
    summary_->setFont(sized(font(), 11));
    summary_->setContentsMargins(14, 0, 14, 2);
    QPalette dim = summary_->palette();
    dim.setColor(QPalette::WindowText, withOpacity(D::paper(), 0.45));
    summary_->setPalette(dim);
    column->addWidget(summary_);

    auto* tree = new MarkTree(this);
    tree_ = tree;
    // Made while the tree was still no MarkTree, the element would be Qt's
    // own table, whose rows offer only "Toggle".
    remakeAccessible<MarkTreeAccessible>(tree_);
    tree_->setColumnCount(1);
    tree_->setAccessibleName(tr("Marks"));
    tree_->header()->hide();
    tree_->setRootIsDecorated(false);
    tree_->setIndentation(0);
    tree_->setItemsExpandable(false); // every page's marks stay listed
    tree_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree_->setTextElideMode(Qt::ElideRight);
    tree_->setFrameShape(QFrame::NoFrame);
    tree_->setMouseTracking(true);
    tree_->setIconSize(QSize(32, 16));
    // The rows sit on the sidebar's own background, as the headers do.
    QPalette sidebar = tree_->palette();
    sidebar.setColor(QPalette::Base, D::chrome());
    sidebar.setColor(QPalette::AlternateBase, D::chrome());
    tree_->setPalette(sidebar);
    tree_->installEventFilter(this);
    column->addWidget(tree_, 1);

    empty_ = new SidebarEmptyState(QStringLiteral("scribble.variable"),
                                   tr("No marks yet. Pick a tool and draw on the page."), this);
    column->addWidget(empty_, 1);

    // A click, Return or Space on a row shows its mark and selects it; Return
    // opens a text box or a note for typing besides.
    const auto reveal = [this](QTreeWidgetItem* item) {
        const auto mark = markOf(item);
        if (mark && model_) MarkupModel::of(*model_).reveal(*mark);
    };
    connect(tree_, &QTreeWidget::itemClicked, this, reveal);
    tree->onActivate = reveal;
    tree->onOpen = [this](QTreeWidgetItem* item) {
        const auto mark = markOf(item);
        if (mark && model_) MarkupModel::of(*model_).open(*mark);
    };
    tree->onMenu = [this](QTreeWidgetItem* row, QPoint at, MenuAsked asked) { showMenu(row, at, asked); };
    // The row of the mark selected on the page is lit, however it was selected.
    if (model_)
        connect(&MarkupModel::of(*model_), &MarkupModel::selectedMarkChanged, this, &MarksList::showSelectedMark);

    setDocument(document);
    rebuildRows(); // nothing shows until the list has been on screen
}

void MarksList::setDocument(quarnkit::QuarnDocument* document)
{
    disconnect(watch_);
    document_ = document;
    if (document)
        watch_ = connect(document, &quarnkit::QuarnDocument::generationChanged, this, &MarksList::documentEdited);
    if (isVisible()) reload();
}

void MarksList::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    reload();
}

void MarksList::documentEdited()
{
    // A hidden list catches up when it comes on screen.
    if (isVisible()) refresh();
}

void MarksList::reload()
{
    const quint64 reading = ++readings_;
    if (!document_) {
        groups_.clear();
        builtPageCount_ = -1;
        loaded_ = true;
        reading_ = false;
        rebuildRows();
        return;
    }
    using Catalog = quarnkit::MarkCatalog::Catalog;
    reading_ = true;
    auto* watcher = new QFutureWatcher<Catalog>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, reading] {
        watcher->deleteLater();
        if (reading != readings_) return; // an edit came meanwhile and started another reading
        Catalog catalog = watcher->result();
        groups_ = std::move(catalog.groups);
        builtPageCount_ = catalog.pages;
        loaded_ = true;
        reading_ = false;
        rebuildRows();
    });
    watcher->setFuture(
        QtConcurrent::run(quarnkit::DroppableWork::shared().pool(), quarnkit::MarkCatalog::readingJob(*document_)));
}

void MarksList::refresh()
{
    const int page = document_ ? document_->editedPageIndex().value_or(-1) : -1;
    const int pages = document_ ? document_->pageCount() : 0;
    // An edit of the whole document, or one that added or took away pages; or
    // an edit the reading under way may have missed.
    if (reading_ || !document_ || builtPageCount_ != pages || page < 0 || page >= pages) {
        reload();
        return;
    }
    std::vector<MarkEntry> entries;
    try {
        entries = quarnkit::MarkCatalog::entries(*document_, page);
    } catch (const std::exception&) {
        entries.clear(); // a page that cannot be read shows no marks
    }
    std::erase_if(groups_, [page](const MarkGroup& g) { return g.pageIndex == page; });
    if (!entries.empty()) {
        const auto at =
            std::find_if(groups_.begin(), groups_.end(), [page](const MarkGroup& g) { return g.pageIndex > page; });
        groups_.insert(at, MarkGroup{page, std::move(entries)});
    }
    rebuildRows();
}

QString MarksList::summaryText(const std::vector<MarkGroup>& groups)
{
    std::size_t marks = 0;
    for (const auto& g : groups) marks += g.entries.size();
    const QString m = marks == 1 ? tr("1 mark") : tr("%1 marks").arg(marks);
    const QString p = groups.size() == 1 ? tr("1 page") : tr("%1 pages").arg(groups.size());
    return tr("%1 on %2").arg(m, p);
}

QString MarksList::summary() const { return summaryText(groups_); }

QString MarksList::accessibilityText(const MarkEntry& entry)
{
    const QString title = quarnkit::title(entry.kind);
    const QString place = tr("page %1").arg(entry.pageIndex + 1);
    if (entry.snippet == title) return title + QStringLiteral(", ") + place;
    return title + QStringLiteral(", ") + entry.snippet + QStringLiteral(", ") + place;
}

std::optional<MarkRef> MarksList::markOf(const QTreeWidgetItem* item)
{
    if (!item || !item->data(0, objectRole).isValid()) return std::nullopt;
    return MarkRef{item->data(0, pageRole).toInt(), item->data(0, objectRole).toInt()};
}

void MarksList::rebuildRows()
{
    // The rows that were chosen stay chosen when their marks are still listed.
    const std::vector<MarkRef> wasChosen = chosen();
    const QTreeWidgetItem* current = tree_->currentItem();
    const auto wasCurrent = markOf(current);
    // The keys on a row whose mark goes (deleted here, from the page, or by
    // an undo) go on to the row now in its place, else the last: never
    // nowhere.
    const bool hadKeys = tree_->hasFocus();
    int wasAt = -1, rows = 0;
    for (QTreeWidgetItemIterator it(tree_); *it; ++it)
        if (markOf(*it)) {
            if (*it == current) wasAt = rows;
            ++rows;
        }

    // The other pages' rows stay where they were on screen.
    const int scrolled = tree_->verticalScrollBar()->value();
    tree_->clear();
    const QSize headerSize(0, headerHeight(font()));
    const QSize rowSize(0, rowInset.top() + std::max(tree_->iconSize().height(), QFontMetrics(rowFont(font())).height())
                               + rowInset.bottom());
    QHash<QString, QIcon> icons;
    for (const MarkGroup& group : groups_) {
        auto* header = new QTreeWidgetItem(tree_);
        header->setText(0, tr("Page %1").arg(group.pageIndex + 1));
        header->setData(0, countRole, QString::number(group.entries.size()));
        header->setData(0, pageRole, group.pageIndex);
        header->setSizeHint(0, headerSize);
        header->setFlags(Qt::ItemIsEnabled);
        header->setData(0, Qt::AccessibleTextRole, header->text(0));
        for (const MarkEntry& entry : group.entries) {
            auto* row = new QTreeWidgetItem(header);
            row->setText(0, entry.snippet);
            row->setSizeHint(0, rowSize);
            // One icon per kind and colour: a long list has many rows alike.
            const QString iconKey = QString::number(int(entry.kind)) + entry.color.toQColor().name(QColor::HexArgb);
            auto icon = icons.find(iconKey);
            if (icon == icons.end()) icon = icons.insert(iconKey, rowIcon(entry.kind, entry.color));
            row->setIcon(0, *icon);
            row->setToolTip(0, entry.snippet);
            row->setData(0, Qt::AccessibleTextRole, accessibilityText(entry));
            row->setData(0, pageRole, entry.pageIndex);
            row->setData(0, objectRole, entry.annotation.objectNumber);
            const MarkRef mark{entry.pageIndex, entry.annotation.objectNumber};
            if (std::find(wasChosen.begin(), wasChosen.end(), mark) != wasChosen.end()) row->setSelected(true);
            if (wasCurrent == mark) tree_->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);
        }
        header->setExpanded(true);
    }
    summary_->setText(summary());
    summary_->setVisible(!groups_.empty());
    tree_->setVisible(!groups_.empty());
    empty_->setVisible(groups_.empty() && loaded_);
    showSelectedMark();
    tree_->doItemsLayout(); // the scroll range of the new rows
    tree_->verticalScrollBar()->setValue(scrolled);
    static_cast<MarkTree*>(tree_)->pinHeader();
    if (hadKeys && wasAt >= 0 && !markOf(tree_->currentItem())) keepKeysAt(wasAt);
}

void MarksList::keepKeysAt(int at)
{
    QTreeWidgetItem* row = nullptr;
    for (QTreeWidgetItemIterator it(tree_); *it && at >= 0; ++it)
        if (markOf(*it)) {
            row = *it;
            --at;
        }
    if (!row) return; // none left: the list hides, and the keys go on from it
    tree_->setFocus(Qt::OtherFocusReason);
    tree_->setCurrentItem(row, 0, QItemSelectionModel::ClearAndSelect);
}

QWidget* MarksList::pinnedHeader() const { return static_cast<MarkTree*>(tree_)->pinned(); }

void MarksList::showSelectedMark()
{
    const std::optional<MarkRef> mark = model_ ? MarkupModel::of(*model_).selectedMark() : std::nullopt;
    QTreeWidgetItem* row = nullptr;
    for (QTreeWidgetItemIterator it(tree_); *it && mark && !row; ++it)
        if (markOf(*it) == mark) row = *it;
    if (!row) {
        tree_->clearSelection();
        return;
    }
    if (row->isSelected()) return; // one of several rows chosen for deleting
    tree_->setCurrentItem(row, 0, QItemSelectionModel::ClearAndSelect);
}

std::vector<MarkRef> MarksList::chosen() const
{
    std::vector<MarkRef> marks;
    for (QTreeWidgetItem* item : tree_->selectedItems())
        if (const auto mark = markOf(item)) marks.push_back(*mark);
    return marks;
}

void MarksList::deleteChosen()
{
    const std::vector<MarkRef> marks = chosen();
    if (marks.empty() || !model_) return;
    MarkupModel::of(*model_).deleteMarks(marks);
}

void MarksList::showMenu(QTreeWidgetItem* item, const QPoint& at, MenuAsked asked)
{
    const auto mark = markOf(item);
    if (!mark) return;
    if (!item->isSelected()) {
        // A right-click outside the chosen rows acts on its own row.
        tree_->clearSelection();
        item->setSelected(true);
    }
    const std::size_t count = chosen().size();
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(count == 1 ? tr("Delete Mark") : tr("Delete %1 Marks").arg(count), this, &MarksList::deleteChosen);
    popUpMenu(menu, at, asked);
}

bool MarksList::eventFilter(QObject* watched, QEvent* event)
{
    // Delete takes the rows chosen, before the window's mark keys: they would
    // take the mark selected on the page, whichever rows the keys went to.
    // That mark alone they delete as from the page.
    if (watched == tree_ && event->type() == QEvent::ShortcutOverride) {
        const std::vector<MarkRef> marks = chosen();
        const std::optional<MarkRef> selected = model_ ? MarkupModel::of(*model_).selectedMark() : std::nullopt;
        if (!marks.empty() && !(selected && marks == std::vector<MarkRef>{*selected})
            && WindowEvents::claimsKey(event, {Qt::Key_Delete, Qt::Key_Backspace}))
            return true;
    }
    if (watched == tree_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace) && !chosen().empty()) {
            deleteChosen();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace quarn
