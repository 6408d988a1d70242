#include "Quarn/Pages/PageTableView.h"

#include "Quarn/Design/AccessiblePopover.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Pages/PageListController.h"
#include "Quarn/Shell/WindowEvents.h"
#include "QuarnKit/Shell/Design.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QFontDatabase>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>

#include <cmath>

namespace quarn {

namespace D = quarnkit::Design;

namespace {

// The column is measured in pixels, so its type is too: sizes in points would
// outgrow the fixed 188-pixel column on a screen set to a higher resolution.
QFont monoFont(int pixels, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

// A soft shadow under a sheet: black at 0.45 blurred over 3 points, 1 point down.
void drawShadow(QPainter& painter, const QRectF& paper)
{
    painter.save();
    painter.setPen(Qt::NoPen);
    const QRectF base = paper.translated(0, 1);
    for (int spread = 3; spread >= 1; --spread) {
        painter.setBrush(QColor(0, 0, 0, int(0.45 * 255 / (spread + 2))));
        painter.drawRoundedRect(base.adjusted(-spread, -spread, spread, spread), spread, spread);
    }
    painter.restore();
}

} // namespace

// ---------------------------------------------------------------- cell

QRect PageCell::paperRect(const QRect& row, QSizeF size)
{
    const int w = int(std::lround(size.width()));
    const int h = int(std::lround(size.height()));
    const int x = row.left() + int(std::lround((row.width() - w) * 0.5));
    return {x, row.bottom() + 1 - 29 - h, w, h};
}

QRect PageCell::selectionRect(const QRect& row, double pageWidth)
{
    const double avail = row.width() - 16;
    const double w = pageWidth <= 60 ? std::min(avail, 84.0) : std::min(pageWidth + 24, avail);
    return {row.left() + int(std::lround((row.width() - w) * 0.5)), row.top() + 2, int(std::lround(w)),
            row.height() - 4};
}

QSize PageCell::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const QSizeF size = index.data(pageSizeRole).toSizeF();
    return {int(std::lround(size.width())), int(std::lround(size.height())) + rowExtra};
}

void PageCell::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QRect row = option.rect;
    const QSizeF size = index.data(pageSizeRole).toSizeF();
    const bool selected = option.state & QStyle::State_Selected;
    const bool current = index.data(pageCurrentRole).toBool();
    const QImage image = index.data(pageImageRole).value<QImage>();
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    if (selected) {
        // Emphasised while the list has the keyboard focus in the active window.
        const bool emphasised = (option.state & QStyle::State_HasFocus || option.state & QStyle::State_Active)
                                && option.widget && option.widget->hasFocus();
        painter->setPen(Qt::NoPen);
        painter->setBrush(emphasised ? withOpacity(D::accent(), 0.22) : withOpacity(D::paper(), 0.08));
        painter->drawRoundedRect(selectionRect(row, size.width()), 4, 4);
    }

    const QRect paper = paperRect(row, size);
    drawShadow(*painter, paper);
    painter->fillRect(paper, Qt::white);
    if (!image.isNull()) {
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        const QVariant fade = index.data(pageFadeRole);
        const double shown = fade.isValid() ? fade.toDouble() : 1.0;
        if (shown < 1) {
            const QImage from = index.data(pageFadeFromRole).value<QImage>();
            if (!from.isNull()) painter->drawImage(paper, from);
            painter->setOpacity(shown);
        }
        painter->drawImage(paper, image);
        painter->setOpacity(1);
    }
    if (current) {
        painter->setPen(QPen(D::accent(), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(paper).adjusted(-4, -4, 4, 4).adjusted(1, 1, -1, -1), 3, 3);
    }

    // The number line: the page number, then the page's own label, faint.
    const bool emphasis = current || selected;
    const QString number = QString::number(index.row() + 1);
    const QString label = index.data(pageLabelRole).toString();
    const QRect line(row.left() + 8, row.bottom() + 1 - 7 - 16, row.width() - 16, 16);
    const QFont numberFont = monoFont(11, emphasis ? QFont::DemiBold : QFont::Normal);
    const QFont labelFont = monoFont(10, QFont::Normal);
    const QFontMetrics nm(numberFont), lm(labelFont);
    const QString tail = label.isEmpty() ? QString() : QStringLiteral("  ") + label;
    const int numberWidth = nm.horizontalAdvance(number);
    const QString shownTail = lm.elidedText(tail, Qt::ElideRight, std::max(0, line.width() - numberWidth));
    const int total = numberWidth + lm.horizontalAdvance(shownTail);
    int x = line.left() + std::max(0, (line.width() - total) / 2);
    painter->setFont(numberFont);
    painter->setPen(withOpacity(D::paper(), emphasis ? 1.0 : 0.55));
    painter->drawText(QRect(x, line.top(), numberWidth, line.height()), Qt::AlignLeft | Qt::AlignVCenter, number);
    if (!shownTail.isEmpty()) {
        x += numberWidth;
        painter->setFont(labelFont);
        painter->setPen(withOpacity(D::paper(), 0.38));
        painter->drawText(QRect(x, line.top(), line.right() - x + 1, line.height()), Qt::AlignLeft | Qt::AlignVCenter,
                          shownTail);
    }
    painter->restore();
}

// ---------------------------------------------------------------- drop indicator

DropIndicator::DropIndicator(QWidget* parent) : QWidget(parent)
{
    // Clicks and drags over the bar reach the list under it.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    resize(barWidth, 3);
    hide();
}

void DropIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(D::accent());
    painter.drawRoundedRect(rect(), 1.5, 1.5);
}

// ---------------------------------------------------------------- table

PageTableView::PageTableView(QWidget* parent) : QListView(parent)
{
    setItemDelegate(new PageCell(this));
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setUniformItemSizes(false);
    setSpacing(0);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false); // the controller draws its own
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setAccessibleName(tr("Pages"));
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    indicator_ = new DropIndicator(viewport());
    runDrag = [](QDrag* drag) { return drag->exec(Qt::MoveAction, Qt::MoveAction); };
}

std::pair<int, int> PageTableView::visibleRows() const
{
    const int count = model() ? model()->rowCount() : 0;
    if (count == 0) return {0, 0};
    const QModelIndex top = indexAt(QPoint(1, 0));
    const QModelIndex bottom = indexAt(QPoint(1, viewport()->height() - 1));
    const int first = top.isValid() ? top.row() : 0;
    const int last = bottom.isValid() ? bottom.row() : count - 1;
    return {first, std::max(first, last) + 1};
}

bool PageTableView::event(QEvent* event)
{
    // Shown, the list has its size: the current page is brought in once it is laid out.
    if (event->type() == QEvent::Show && controller_)
        QTimer::singleShot(0, controller_, [list = QPointer<PageListController>(controller_)] {
            if (list) list->scrollToCurrent(false);
        });
    // The list's own keys, claimed before any shortcut or window-wide key
    // handler takes them: Delete or Backspace (Shift allowed) with rows
    // selected, and Escape.
    const bool rowsSelected = selectionModel() && selectionModel()->hasSelection();
    if ((rowsSelected && WindowEvents::claimsKey(event, {Qt::Key_Delete, Qt::Key_Backspace}, Qt::ShiftModifier))
        || WindowEvents::claimsKey(event, {Qt::Key_Escape}))
        return true;
    return QListView::event(event);
}

void PageTableView::keyPressEvent(QKeyEvent* event)
{
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain && (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace)) {
        if (selectionModel() && selectionModel()->hasSelection()) {
            if (onDelete) onDelete();
            event->accept();
            return;
        }
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        clearSelection();
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void PageTableView::focusInEvent(QFocusEvent* event)
{
    QListView::focusInEvent(event);
    if (onFocus) onFocus();
}

void PageTableView::mousePressEvent(QMouseEvent* event)
{
    // A right press selects nothing itself: its menu chooses its row, quietly
    // (a row of its own would otherwise move the pages before the menu shows).
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QListView::mousePressEvent(event);
}

void PageTableView::startDrag(Qt::DropActions)
{
    if (!controller_ || !selectionModel()) return;
    std::set<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) rows.insert(index.row());
    if (rows.empty()) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(controller_->dragData(rows));
    // Only the page shows under the pointer, without its number or ring.
    const QModelIndex first = model()->index(*rows.begin(), 0);
    const QImage image = first.data(pageImageRole).value<QImage>();
    const QRect paper = PageCell::paperRect(visualRect(first), first.data(pageSizeRole).toSizeF());
    if (!image.isNull()) {
        drag->setPixmap(
            QPixmap::fromImage(image.scaled(paper.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
        drag->setHotSpot(viewport()->mapFromGlobal(QCursor::pos()) - paper.topLeft());
    }
    controller_->dragStarted(rows);
    runDrag(drag);
    controller_->dragEnded();
    drag->deleteLater();
}

void PageTableView::dragEnterEvent(QDragEnterEvent* event)
{
    // Rows dragged from this list are taken on entering, also over their own
    // gap where no drop can be made: a refused enter gets no further moves,
    // so the bar would never come and nothing would move on release.
    if (controller_ && controller_->isOwnDrag(event->mimeData())) {
        controller_->validateDrop(event->mimeData(), event->position().toPoint());
        event->setDropAction(Qt::MoveAction);
        event->accept();
        return;
    }
    dragMoveEvent(event);
}

void PageTableView::dragMoveEvent(QDragMoveEvent* event)
{
    const Qt::DropAction action =
        controller_ ? controller_->validateDrop(event->mimeData(), event->position().toPoint()) : Qt::IgnoreAction;
    if (action == Qt::IgnoreAction) {
        event->ignore();
        return;
    }
    event->setDropAction(action);
    event->accept();
}

void PageTableView::dragLeaveEvent(QDragLeaveEvent* event)
{
    QListView::dragLeaveEvent(event);
    if (onDragLeave) onDragLeave();
}

void PageTableView::dropEvent(QDropEvent* event)
{
    const QPoint at = event->position().toPoint();
    const Qt::DropAction action = controller_ ? controller_->validateDrop(event->mimeData(), at) : Qt::IgnoreAction;
    if (action != Qt::IgnoreAction && controller_->acceptDrop(event->mimeData(), at)) {
        event->setDropAction(action);
        event->accept();
    } else {
        event->ignore();
    }
    if (onDragLeave) onDragLeave();
}

void PageTableView::contextMenuEvent(QContextMenuEvent* event)
{
    if (!controller_) return;
    const QModelIndex index = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    QMenu* menu = controller_->makeMenu(index.isValid() ? index.row() : -1);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    popUpMenu(menu, event->globalPos(), askedBy(*event));
}

void PageTableView::scrollContentsBy(int dx, int dy)
{
    QListView::scrollContentsBy(dx, dy);
    if (controller_) controller_->refreshVisibleRows();
}

void PageTableView::resizeEvent(QResizeEvent* event)
{
    QListView::resizeEvent(event);
    if (controller_) controller_->refreshVisibleRows();
}

void PageTableView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    QListView::selectionChanged(selected, deselected);
    if (controller_) controller_->selectionChangedInTable();
}

void PageTableView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    // The list's own tells a screen reader that the new current row has the
    // focus. While the keys are elsewhere (the page view turned the page and
    // the row follows it), that would pull the reader off the page it reads.
    if (hasFocus()) QListView::currentChanged(current, previous);
    else QAbstractItemView::currentChanged(current, previous);
}

} // namespace quarn
