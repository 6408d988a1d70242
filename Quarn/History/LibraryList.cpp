#include "Quarn/History/LibraryList.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/History/LibraryAccessibility.h"
#include "Quarn/History/LibraryRow.h"
#include "Quarn/History/LibraryThumbnails.h"
#include "Quarn/Shell/WindowEvents.h"
#include "QuarnKit/Shell/Design.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace quarn {

LibraryList::LibraryList(QAbstractItemModel* model, LibraryThumbnails& thumbnails, QWidget* parent)
    : QListView(parent), thumbnails_(thumbnails), hoverIn_(
                                                      120, [this] { viewport()->update(); }, this),
      hoverOut_(
          120, [this] { viewport()->update(); }, this),
      linkIn_(
          120, [this] { viewport()->update(); }, this),
      linkOut_(
          120, [this] { viewport()->update(); }, this)
{
    installLibraryAccessibility();
    setModel(model);
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::NoSelection);
    // Tab reaches the list; a click opens its row and leaves the keys where they were.
    setFocusPolicy(Qt::TabFocus);
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
    connect(&thumbnails_, &LibraryThumbnails::ready, this, &LibraryList::pictureArrived);
    connect(&thumbnails_, &LibraryThumbnails::ready, viewport(), qOverload<>(&QWidget::update));
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        rowBeforeReset_ = keyboardRow();
        identityBeforeReset_ = rowBeforeReset_ >= 0 ? rowIdentity(rowBeforeReset_) : QString();
    });
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        setHover(-1, -1);
        // The rows are other entries now: none goes out lit.
        hoverOut_.jumpTo(0);
        linkOut_.jumpTo(0);
        dropAccessibleRows();
        if (hasFocus() && rowBeforeReset_ >= 0) setKeyboardRow(rowAfterReset());
        rowBeforeReset_ = -1;
    });
    connect(model, &QAbstractItemModel::layoutChanged, this, &LibraryList::dropAccessibleRows);
}

LibraryList::~LibraryList() { dropAccessibleRows(); }

void LibraryList::requestThumbnail(const QString& path, const QString& key, std::function<bool()> wanted)
{
    awaited_.insert(key);
    thumbnails_.request(path, key, LibraryRow::thumbnailPixels(devicePixelRatioF()), std::move(wanted));
}

void LibraryList::pictureArrived(const QString& key)
{
    if (awaited_.erase(key) == 0) return; // another list's
    // Those that have come in are drawn as any picture at hand.
    std::erase_if(arrivals_, [](const auto& arrival) { return arrival.second->value() >= 1; });
    if (!isVisible()) return;
    auto ease = std::make_unique<motion::Ease>(
        180, [this] { viewport()->update(); }, nullptr);
    ease->moveTo(1);
    arrivals_[key] = std::move(ease);
}

double LibraryList::pictureShown(const QString& key) const
{
    const auto found = arrivals_.find(key);
    return found == arrivals_.end() ? 1.0 : found->second->value();
}

bool LibraryList::isHeading(int) const { return false; }

bool LibraryList::isCurrentDocument(int) const { return false; }

void LibraryList::openRow(int row)
{
    if (row >= 0 && row < model()->rowCount() && opens(row)) emit rowActivated(row);
}

int LibraryList::keyboardRow() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() && opens(current.row()) ? current.row() : -1;
}

void LibraryList::setKeyboardRow(int row)
{
    if (row < 0 || row >= model()->rowCount() || !opens(row)) {
        setCurrentIndex({});
        return;
    }
    setCurrentIndex(model()->index(row, 0));
    showRow(row);
    viewport()->update();
}

double LibraryList::lit(int row) const
{
    if (row < 0) return 0;
    if (hasFocus() && row == keyboardRow()) return 1;
    if (row == hoveredRow_) return hoverIn_.value();
    return row == leftRow_ ? hoverOut_.value() : 0;
}

double LibraryList::linkLit(int row, int link) const
{
    if (row < 0 || link < 0) return 0;
    if (row == hoveredRow_ && link == hoveredLink_) return linkIn_.value();
    return std::pair(row, link) == leftLink_ ? linkOut_.value() : 0;
}

void LibraryList::showRow(int row) { scrollTo(model()->index(row, 0), QAbstractItemView::EnsureVisible); }

int LibraryList::nextOpening(int row, int step) const
{
    const int count = model()->rowCount();
    for (int next = row + step; next >= 0 && next < count; next += step)
        if (opens(next)) return next;
    return -1;
}

int LibraryList::rowAfterReset() const
{
    // The keys stay with their row wherever it went; a removed row hands them to the next.
    for (int row = 0; row < model()->rowCount(); ++row)
        if (opens(row) && rowIdentity(row) == identityBeforeReset_) return row;
    const int next = nextOpening(rowBeforeReset_ - 1, 1);
    return next >= 0 ? next : nextOpening(rowBeforeReset_, -1);
}

QAccessibleInterface* LibraryList::accessibleRow(int row)
{
    if (const auto found = accessibleRows_.find(row); found != accessibleRows_.end())
        if (QAccessibleInterface* made = QAccessible::accessibleInterface(found->second)) return made;
    QAccessibleInterface* made = makeLibraryRowAccessible(this, row);
    accessibleRows_[row] = QAccessible::registerAccessibleInterface(made);
    return made;
}

void LibraryList::dropAccessibleRows()
{
    // The rows are other entries now: a reader asks again.
    for (const auto& [row, id] : accessibleRows_) QAccessible::deleteAccessibleInterface(id);
    accessibleRows_.clear();
}

bool LibraryList::event(QEvent* event)
{
    // The keys the list answers are its own, not the window's (a selected
    // mark's arrows, say).
    if (WindowEvents::claimsKey(
            event, {Qt::Key_Up, Qt::Key_Down, Qt::Key_Home, Qt::Key_End, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Menu}))
        return true;
    return QListView::event(event);
}

void LibraryList::keyPressEvent(QKeyEvent* event)
{
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return event->ignore();
    const int row = keyboardRow();
    const int count = model()->rowCount();
    switch (event->key()) {
    case Qt::Key_Down: {
        const int next = nextOpening(row, 1);
        if (next >= 0) setKeyboardRow(next);
        return;
    }
    case Qt::Key_Up: {
        const int next = row < 0 ? nextOpening(count, -1) : nextOpening(row, -1);
        if (next >= 0) setKeyboardRow(next);
        return;
    }
    case Qt::Key_Home: setKeyboardRow(nextOpening(-1, 1)); return;
    case Qt::Key_End: setKeyboardRow(nextOpening(count, -1)); return;
    case Qt::Key_Return:
    case Qt::Key_Enter: openRow(row); return;
    case Qt::Key_Menu: showMenuOfKeyboardRow(); return;
    default: event->ignore();
    }
}

void LibraryList::showMenuOfKeyboardRow()
{
    const int row = keyboardRow();
    if (row < 0) return;
    showRow(row);
    const QRect rect = rowRect(row);
    emit rowMenuRequested(row, viewport()->mapToGlobal(QPoint(rect.left() + 16, rect.center().y())), MenuAsked::byKeys);
}

void LibraryList::focusInEvent(QFocusEvent* event)
{
    QListView::focusInEvent(event);
    // The keys arrive on the first row that opens.
    if (keyboardRow() < 0) setKeyboardRow(nextOpening(-1, 1));
    viewport()->update();
}

void LibraryList::focusOutEvent(QFocusEvent* event)
{
    QListView::focusOutEvent(event);
    viewport()->update();
}

void LibraryList::paintEvent(QPaintEvent* event)
{
    QListView::paintEvent(event);
    // The keys' row is outlined as well as lit.
    const int row = keyboardRow();
    if (!hasFocus() || row < 0) return;
    QPainter p(viewport());
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(withOpacity(quarnkit::Design::accent(), 0.7), 1));
    p.drawRoundedRect(QRectF(rowRect(row)).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
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
    if (row != hoveredRow_) {
        // The row left fades from where it stood; the new one from nothing.
        leftRow_ = hoveredRow_;
        hoverOut_.jumpTo(hoverIn_.value());
        hoverOut_.moveTo(0);
        hoverIn_.jumpTo(0);
        hoverIn_.moveTo(row >= 0 ? 1 : 0);
    }
    if (hoveredLink_ >= 0) {
        // The link left fades from where it stood, as the rows do.
        leftLink_ = {hoveredRow_, hoveredLink_};
        linkOut_.jumpTo(linkIn_.value());
        linkOut_.moveTo(0);
    }
    linkIn_.jumpTo(0);
    linkIn_.moveTo(link >= 0 ? 1 : 0);
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
    // The keys go on from the row clicked.
    setCurrentIndex(model()->index(row, 0));
    if (const int link = linkAt(row, point); link >= 0) emit rowLinkActivated(row, link);
    else emit rowActivated(row);
}

void LibraryList::contextMenuEvent(QContextMenuEvent* event)
{
    // The desktop's menu key comes here as well as to keyPressEvent; the
    // menu shown by then takes this one.
    if (event->reason() == QContextMenuEvent::Keyboard) return showMenuOfKeyboardRow();
    const int row = rowAt(event->pos());
    if (row >= 0) emit rowMenuRequested(row, event->globalPos(), MenuAsked::byPointer);
}

void LibraryList::resizeEvent(QResizeEvent* event)
{
    QListView::resizeEvent(event);
    // The rows are as wide as the list (and wrapped lines wrap anew).
    scheduleDelayedItemsLayout();
}

} // namespace quarn
