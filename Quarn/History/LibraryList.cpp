#include "Quarn/History/LibraryList.h"

#include "Quarn/History/LibraryThumbnails.h"
#include "QuarnKit/Shell/Design.h"

#include <QMouseEvent>
#include <QScrollBar>

namespace quarn {

LibraryList::LibraryList(QAbstractItemModel* model, LibraryThumbnails& thumbnails, QWidget* parent)
    : QListView(parent), thumbnails_(thumbnails)
{
    setModel(model);
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus); // rows open with a click; the keys stay with the pages or the field
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(false);
    setMouseTracking(true);
    verticalScrollBar()->setSingleStep(24);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    QPalette p = palette();
    p.setColor(QPalette::Base, quarnkit::Design::chrome());
    setPalette(p);
    // A picture that arrives repaints the rows on screen.
    connect(&thumbnails_, &LibraryThumbnails::ready, viewport(), qOverload<>(&QWidget::update));
    connect(model, &QAbstractItemModel::modelReset, this, [this] { setHover(-1, -1); });
}

std::pair<int, int> LibraryList::visibleRows() const
{
    const int count = model()->rowCount();
    if (count == 0) return {0, 0};
    const QModelIndex top = indexAt(QPoint(rowInset + 1, 0));
    const QModelIndex bottom = indexAt(QPoint(rowInset + 1, viewport()->height() - 1));
    const int first = top.isValid() ? top.row() : 0;
    const int last = bottom.isValid() ? bottom.row() : count - 1;
    return {first, std::max(first, last) + 1};
}

QRect LibraryList::linkRect(int, int) const { return {}; }

int LibraryList::rowAt(const QPoint& point) const
{
    const QModelIndex index = indexAt(point);
    if (!index.isValid()) return -1;
    return rowRect(index.row()).contains(point) ? index.row() : -1;
}

int LibraryList::linkAt(int row, const QPoint& point) const
{
    if (row < 0) return -1;
    for (int link = 0;; ++link) {
        const QRect rect = linkRect(row, link);
        if (rect.isEmpty()) return -1;
        if (rect.contains(point)) return link;
    }
}

void LibraryList::setHover(int row, int link)
{
    if (row == hoveredRow_ && link == hoveredLink_) return;
    hoveredRow_ = row;
    hoveredLink_ = link;
    viewport()->update();
}

void LibraryList::mouseMoveEvent(QMouseEvent* event)
{
    const int row = rowAt(event->position().toPoint());
    setHover(row, linkAt(row, event->position().toPoint()));
    QListView::mouseMoveEvent(event);
}

void LibraryList::leaveEvent(QEvent* event)
{
    setHover(-1, -1);
    QListView::leaveEvent(event);
}

void LibraryList::mousePressEvent(QMouseEvent* event)
{
    pressedRow_ = event->button() == Qt::LeftButton ? rowAt(event->position().toPoint()) : -1;
    event->accept();
}

void LibraryList::mouseDoubleClickEvent(QMouseEvent* event)
{
    // One click opens; the second of a double click does nothing more.
    event->accept();
}

void LibraryList::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    const int row = rowAt(point);
    const int pressed = std::exchange(pressedRow_, -1);
    event->accept();
    if (event->button() != Qt::LeftButton || row < 0 || row != pressed) return;
    if (const int link = linkAt(row, point); link >= 0) emit rowLinkActivated(row, link);
    else emit rowActivated(row);
}

void LibraryList::contextMenuEvent(QContextMenuEvent* event)
{
    const int row = rowAt(event->pos());
    if (row >= 0) emit rowMenuRequested(row, event->globalPos());
}

void LibraryList::resizeEvent(QResizeEvent* event)
{
    QListView::resizeEvent(event);
    // The rows are as wide as the list (and wrapped lines wrap anew).
    scheduleDelayedItemsLayout();
}

} // namespace quarn
