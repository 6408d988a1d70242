#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/App/LaunchTimes.h"

#include "Quarn/Viewer/PageInteractions.h"
#include "Quarn/Viewer/PageLinks.h"
#include "Quarn/Viewer/PageSteps.h"
#include "Quarn/Viewer/PagePlacement.h"
#include "Quarn/Viewer/PageTiles.h"
#include "Quarn/Viewer/ReadingHistory.h"
#include "Quarn/Viewer/TextSelection.h"
#include "Quarn/Viewer/PageViewInternal.h"
#include "QuarnKit/Viewer/PageLayout.h"
#include "QuarnKit/Shell/Design.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>
#include <list>

namespace quarn {

using namespace pageview;
using quarnkit::PageDestination;
using quarnkit::PageSelection;
using quarnkit::PdfDisplayMode;

QuarnPDFView::QuarnPDFView(QWidget* parent)
    : QAbstractScrollArea(parent), placement_(std::make_unique<PagePlacement>(*this)),
      tiles_(std::make_unique<PageTiles>(*this)), background_(quarnkit::Design::canvas())
{
    style_ = quarnkit::ToolStyle{};
    interactions_ = std::make_unique<PageInteractions>(*this);
    history_ = new ReadingHistory(*this);

    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    horizontalScrollBar()->setSingleStep(20);
    verticalScrollBar()->setSingleStep(20);

    // Scroll bars appear only while there is somewhere to scroll.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

QuarnPDFView::~QuarnPDFView()
{
    // Given up while the view is whole (by it or a child such as the text
    // editor): the focus change makes the menus ask the view what they can
    // do, which a view half taken down cannot answer.
    QWidget* focus = QApplication::focusWidget();
    if (focus && (focus == this || isAncestorOf(focus))) focus->clearFocus();
}

// ---------------------------------------------------------------- document

int QuarnPDFView::pageCount() const { return placement_->pageCount(); }

void QuarnPDFView::load(quarnkit::QuarnDocument* document)
{
    if (document == document_.data()) {
        // The same document, unlocked since it was shown: its pages appear now.
        if (document_ && !document_->isLocked() && pageCount() != document_->pageCount()) {
            shownPages_ = document_->pageSignature();
            refresh(std::nullopt);
        }
        return;
    }
    if (document_) disconnect(document_, nullptr, this, nullptr);
    document_ = document;
    if (document) {
        connect(document, &quarnkit::QuarnDocument::generationChanged, this, &QuarnPDFView::documentEdited);
        connect(document, &quarnkit::QuarnDocument::pageMapBuilt, this, &QuarnPDFView::pagesRead);
    }
    display();
}

void QuarnPDFView::display()
{
    interactions_->tell([&](PageInteraction& each) { each.documentReplaced(); });
    placement_->setHeldShift(0);
    // Before every page is read, no signature is known: the first edit then
    // reads the whole document again.
    shownPages_ = document_ && document_->pageMapReady() ? document_->pageSignature() : 0;
    placement_->read(document_.data());
    tiles_->setDocument(document_);
    currentPage_ = pageCount() > 0 ? 0 : -1;
    placement_->showFirstRow();
    didInitialFit_ = false;
    relayout();
    withoutTracking([&] {
        horizontalScrollBar()->setValue(0);
        verticalScrollBar()->setValue(0);
    });
    history_->clear();
    layoutPass();
}

void QuarnPDFView::documentEdited()
{
    if (!document_) return;
    const auto page = document_->editedPage();
    const size_t pages = document_->pageSignature();
    // An edit of one page that is still in the document, with the pages as
    // they were, redraws that page; anything else may have moved pages, so
    // the whole document is read again.
    const bool samePages = pages == shownPages_;
    shownPages_ = pages;
    refresh(page && samePages ? document_->pageIndex(*page) : std::nullopt);
    interactions_->tell([&](PageInteraction& each) { each.documentChanged(); });
}

void QuarnPDFView::refresh(std::optional<int> page)
{
    if (!document_) return;
    const auto keep = readingPoint();
    const std::vector<platform::PdfSize> sizes = placement_->sizes();
    if (page && *page >= 0 && *page < pageCount()) {
        placement_->readPage(*document_, *page);
        interactions_->tell([&](PageInteraction& each) { each.pagesRead(page); });
    } else {
        placement_->read(document_.data());
        interactions_->tell([&](PageInteraction& each) { each.pagesRead(std::nullopt); });
    }
    tiles_->invalidate(page);
    if (currentPage_ >= pageCount()) currentPage_ = pageCount() - 1;
    if (currentPage_ < 0 && pageCount() > 0) currentPage_ = 0;
    // Pages of the same sizes keep the view where it is: a mark or the
    // document's info edited must not move what the reader looks at.
    const bool resized = sizes.size() != placement_->sizes().size() || !placement_->changedPages(sizes).empty();
    if (resized) {
        relayout();
        if (keep && keep->page < pageCount()) showDestination(*keep);
    }
    viewport()->update();
    withoutTracking([&] { layoutPass(); });
}

void QuarnPDFView::pagesRead()
{
    if (!document_ || document_->isLocked()) return;
    shownPages_ = document_->pageSignature();
    const std::vector<platform::PdfSize> sizes = placement_->sizes();
    const std::optional<PagePlacement::Anchor> kept =
        pageCount() > 0 ? std::optional(placement_->topLeftAnchor(currentPage_)) : std::nullopt;
    placement_->read(document_.data());
    if (sizes.size() != placement_->sizes().size()) {
        // The tree held fewer pages than it claimed, and was mended.
        refresh(std::nullopt);
        return;
    }
    // Pages laid out with page 1's size take their own, and what is under the
    // viewport's top stays where it is; the pages seen so far keep their tiles.
    const std::vector<int> changed = placement_->changedPages(sizes);
    if (changed.empty()) return;
    tiles_->invalidate(changed);
    relayout();
    withoutTracking([&] {
        if (kept) restoreAnchor(*kept);
        layoutPass();
    });
    viewport()->update();
}

// ---------------------------------------------------------------- layout

void QuarnPDFView::setDisplayMode(PdfDisplayMode mode) { setLayoutMode(mode, placement_->asBook()); }

void QuarnPDFView::setLayoutMode(PdfDisplayMode mode, bool asBook)
{
    if (mode == placement_->mode() && asBook == placement_->asBook()) return;
    const auto keep = readingPoint();
    placement_->setMode(mode, asBook);
    placement_->setHeldShift(0);
    if (autoScales_) placement_->setScale(placement_->clampScale(placement_->fitScale(currentPage_, QSizeF(size()))));
    relayout();
    if (keep) showDestination(*keep);
    emit displayModeChanged();
    withoutTracking([&] { syncState(); });
}

void QuarnPDFView::setBackgroundColor(const QColor& color)
{
    background_ = color;
    viewport()->update();
}

void QuarnPDFView::relayout()
{
    placement_->layOut(currentPage_);
    updateScrollBars();
    viewport()->update();
}

void QuarnPDFView::updateScrollBars()
{
    const QSize content = placement_->contentPixels();
    const QSize view = viewport()->size();
    withoutTracking([&] {
        const auto [least, most] = placement_->horizontalRange();
        horizontalScrollBar()->setRange(least, most);
        horizontalScrollBar()->setPageStep(view.width());
        verticalScrollBar()->setRange(0, std::max(0, content.height() - view.height()));
        verticalScrollBar()->setPageStep(view.height());
    });
}

void QuarnPDFView::scrollToContentPoint(QPointF contentPoint, bool horizontal)
{
    withoutTracking([&] {
        if (horizontal) horizontalScrollBar()->setValue(placement_->horizontalValueFor(contentPoint.x()));
        verticalScrollBar()->setValue(int(std::lround(contentPoint.y())));
    });
}

template <typename F>
void QuarnPDFView::withoutTracking(F&& change)
{
    // Programmatic scrolling keeps the current page that the caller chose.
    const bool was = jumping_;
    jumping_ = true;
    change();
    jumping_ = was;
}

// ---------------------------------------------------------------- scale

void QuarnPDFView::setScaleFactor(double scale)
{
    takeScaleOver();
    setScaleInternal(placement_->clampScale(scale), std::nullopt);
}

void QuarnPDFView::takeScaleOver()
{
    autoScales_ = false;
    // A scale chosen for this document is not undone by the first automatic
    // fit of a layout that comes later.
    if (document_) didInitialFit_ = true;
}

void QuarnPDFView::setAutoScales(bool on)
{
    autoScales_ = on;
    if (on) applyAutoScale();
}

void QuarnPDFView::setMaxScaleFactor(double scale)
{
    placement_->setMaxScale(scale);
    if (scaleFactor() > placement_->maxScale()) setScaleInternal(placement_->maxScale(), std::nullopt);
}

void QuarnPDFView::applyAutoScale()
{
    if (!autoScales_ || !document_ || pageCount() == 0) return;
    const double fitted = placement_->clampScale(placement_->fitScale(currentPage_, QSizeF(size())));
    if (std::fabs(fitted - scaleFactor()) > 1e-9) setScaleInternal(fitted, std::nullopt);
}

void QuarnPDFView::setScaleInternal(double scale, std::optional<QPointF> anchor)
{
    if (pageCount() == 0) {
        placement_->setScale(scale);
        relayout();
        withoutTracking([&] { syncState(); });
        return;
    }
    // What stays put: the page point under the anchor, or else the current
    // page's point at the top left of the view.
    if (std::fabs(scale - scaleFactor()) > 1e-9) placement_->setHeldShift(0);
    const PagePlacement::Anchor kept =
        anchor ? placement_->anchorAt(*anchor, currentPage_) : placement_->topLeftAnchor(currentPage_);
    placement_->setScale(scale);
    relayout();
    restoreAnchor(kept);
    withoutTracking([&] { syncState(); });
}

void QuarnPDFView::restoreAnchor(const PagePlacement::Anchor& anchor)
{
    // Held pages keep their place across: only the rows move back.
    if (const auto scroll = placement_->scrollFor(anchor)) scrollToContentPoint(*scroll, placement_->heldShift() == 0);
}

// ---------------------------------------------------------------- navigation

int QuarnPDFView::currentPageIndex() const
{
    if (pageCount() == 0) return -1;
    return std::clamp(currentPage_, 0, pageCount() - 1);
}

std::optional<PageDestination> QuarnPDFView::readingPoint() const
{
    const int page = currentPageIndex();
    if (page < 0 || !document_) return std::nullopt;
    const PdfPoint point = placement_->convertToPage(QPointF(0, 0), page);
    return PageDestination{page, clampInto(point, placement_->geometry(page)->cropBox)};
}

void QuarnPDFView::goToPage(int index, std::optional<PdfPoint> point)
{
    if (!document_ || pageCount() < 1) return;
    index = std::clamp(index, 0, pageCount() - 1);
    const PdfRect& box = placement_->geometry(index)->cropBox;
    const PageDestination destination = point ? PageDestination{index, clampInto(*point, box)}
                                              : quarnkit::PageJump::top(index, *placement_->geometry(index));
    jumpTo(destination, true);
}

void QuarnPDFView::goToDestination(const PageDestination& destination, bool record)
{
    if (pageCount() < 1) return;
    PageDestination target = destination;
    target.page = std::clamp(target.page, 0, pageCount() - 1);
    target.point = clampInto(target.point, placement_->geometry(target.page)->cropBox);
    jumpTo(target, record);
}

void QuarnPDFView::goToSelection(const PageSelection& selection)
{
    const int page = selection.firstPage();
    if (page < 0 || page >= pageCount()) return;
    history_->record();
    const PdfRect bounds = selection.bounds(page);
    currentPage_ = page;
    relayout();
    // Bring the selection into the middle of the view when it is not in view.
    const QRectF rect = placement_->convertFromPage(bounds, page);
    if (!QRectF(viewport()->rect()).contains(rect)) {
        const QPointF content = rect.center() - placement_->contentOrigin();
        scrollToContentPoint(content - QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0),
                             placement_->overflowsHorizontally());
    }
    withoutTracking([&] { syncState(); });
}

void QuarnPDFView::jumpTo(const PageDestination& destination, bool record)
{
    if (record) history_->record();
    showDestination(destination);
    withoutTracking([&] { syncState(); });
}

void QuarnPDFView::showDestination(const PageDestination& destination)
{
    if (destination.page < 0 || destination.page >= pageCount()) return;
    currentPage_ = destination.page;
    relayout();
    scrollToContentPoint(placement_->contentPoint(destination), true);
}

void QuarnPDFView::updateCurrentPageFromScroll()
{
    if (pageCount() == 0 || !placement_->layout().continuous()) return;
    // The page being read is in the row the view shows, not merely the row
    // that still reaches below its top edge.
    const double top = -placement_->contentOrigin().y() / scaleFactor();
    const int row = placement_->layout().rowRead(top, top + viewport()->height() / scaleFactor());
    if (row < 0) return;
    const auto& pages = placement_->layout().rows[row].pages;
    if (std::find(pages.begin(), pages.end(), currentPage_) == pages.end()) currentPage_ = pages.front();
}

std::vector<int> QuarnPDFView::visiblePages() const { return placement_->pagesIn(viewport()->rect()); }

void QuarnPDFView::syncState()
{
    if (!jumping_) updateCurrentPageFromScroll();
    const int page = currentPageIndex();
    const std::vector<int> visible = visiblePages();
    const bool scaleMoved = std::fabs(scaleFactor() - shownScale_) > 1e-9;
    const bool pageMoved = page != shownPage_;
    const bool visibleMoved = visible != lastVisible_;
    shownScale_ = scaleFactor();
    shownPage_ = page;
    lastVisible_ = visible;
    interactions_->tell([&](PageInteraction& each) { each.viewMoved(); });
    emit boundsChanged();
    if (scaleMoved) emit scaleChanged(scaleFactor());
    if (pageMoved) emit pageChanged(page);
    if (visibleMoved) emit visiblePagesChanged();
    if (scaleMoved || pageMoved || visibleMoved) reportViewChanges();
}

// ---------------------------------------------------------------- display, zoom and reading position

void QuarnPDFView::applyDisplay(quarnkit::DisplayMode mode, bool coverSeparately)
{
    const bool book = quarnkit::showsSpreads(mode) && coverSeparately;
    setLayoutMode(quarnkit::pdf(mode), book);
}

std::optional<double> QuarnPDFView::fitWidth(bool spreads)
{
    const auto size = placement_->fitPageSize(currentPage_);
    if (!size) return std::nullopt;
    const QSizeF content(quarnkit::ZoomLevel::rowWidth(size->width, spreads), size->height);
    const double scale = quarnkit::ZoomLevel::fitWidthScale(content, QSizeF(this->size()));
    takeScaleOver();
    setScaleInternal(std::max(scale, quarnkit::ZoomLevel::minimum), std::nullopt);
    return scale;
}

std::optional<double> QuarnPDFView::fitPage(bool spreads, bool keepPage)
{
    const auto size = placement_->fitPageSize(currentPage_);
    if (!size) return std::nullopt;
    const int page = currentPageIndex();
    bool reveal = keepPage && page >= 0;
    if (!reveal && page >= 0) {
        const QRectF rect = placement_->pageRect(page);
        reveal = !rect.isEmpty() && QRectF(viewport()->rect()).adjusted(-1, -1, 1, 1).contains(rect);
    }
    const QSizeF content(quarnkit::ZoomLevel::rowWidth(size->width, spreads), size->height);
    const double scale = quarnkit::ZoomLevel::fitScale(content, QSizeF(this->size()), placement_->rowAllowance());
    takeScaleOver();
    setScaleInternal(quarnkit::ZoomLevel::clamp(scale), std::nullopt);
    if (reveal) revealPage(page);
    return scale;
}

void QuarnPDFView::revealPage(int index)
{
    if (index < 0 || index >= pageCount()) return;
    currentPage_ = index;
    relayout();
    const QRectF page = placement_->contentRect(index);
    const QSizeF visible = viewport()->size();
    const double y = page.height() <= visible.height() ? page.center().y() - visible.height() * 0.5 : page.top();
    const bool wide = page.width() > visible.width();
    withoutTracking([&] {
        if (wide) horizontalScrollBar()->setValue(placement_->horizontalValueFor(page.left()));
        verticalScrollBar()->setValue(int(std::lround(y)));
    });
    withoutTracking([&] { syncState(); });
}

void QuarnPDFView::whenReady(int attempt, std::function<void(QuarnPDFView&)> operation)
{
    auto waiting = std::make_shared<std::function<void(QuarnPDFView&)>>(std::move(operation));
    if (runIfReady(waiting)) return;
    readyWaiters_.push_back(waiting);
    waitUntilReady(attempt, std::move(waiting));
}

bool QuarnPDFView::runIfReady(const ReadyOperation& operation)
{
    if (!*operation) return true; // ran already
    if (!(isVisible() && width() > 40 && document_)) return false;
    relayout();
    layoutPass(); // the first fit, if still due, comes before the operation
    std::exchange(*operation, {})(*this);
    return true;
}

void QuarnPDFView::waitUntilReady(int attempt, ReadyOperation operation)
{
    // The timer belongs to the view: a view that goes away ends the wait.
    QTimer::singleShot(attempt < 80 ? 25 : 250, this, [this, attempt, operation = std::move(operation)]() mutable {
        if (!runIfReady(operation)) waitUntilReady(attempt + 1, std::move(operation));
    });
}

// ---------------------------------------------------------------- events

void QuarnPDFView::holdPlaceOnNextResize() { holdPlace_ = true; }

void QuarnPDFView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (std::exchange(holdPlace_, false) && pageCount() > 0 && event->oldSize().isValid()) {
        // A column beside the view came or went: the pages stay where they
        // were in the window, at their scale, rather than centre again.
        const int cw = placement_->contentPixels().width();
        const int oldView = viewport()->width() - (event->size().width() - event->oldSize().width());
        const int shift = placement_->heldShift();
        const int scrolled = horizontalScrollBar()->value();
        const double oldX = shift != 0     ? std::floor((oldView - cw) / 2.0) + shift - scrolled
                            : cw < oldView ? std::floor((oldView - cw) / 2.0)
                                           : -scrolled;
        const PagePlacement::Anchor kept = placement_->topLeftAnchor(currentPage_);
        placement_->setHeldShift(0);
        const int newView = viewport()->width();
        if (oldX > 0 || cw < newView) placement_->setHeldShift(int(oldX - std::floor((newView - cw) / 2.0)));
        relayout();
        withoutTracking([&] {
            restoreAnchor(kept);
            // Held: the pages stand where they were, and scroll sideways from there.
            if (placement_->heldShift() != 0) horizontalScrollBar()->setValue(0);
            else if (cw >= newView) horizontalScrollBar()->setValue(int(-oldX));
            layoutPass();
        });
        return;
    }
    if (autoScales_ && document_) applyAutoScale();
    if (pageCount() == 0) {
        relayout();
        layoutPass();
        return;
    }
    // The page being read stays where it was in the view.
    const PagePlacement::Anchor kept = placement_->topLeftAnchor(currentPage_);
    relayout();
    withoutTracking([&] {
        restoreAnchor(kept);
        layoutPass();
    });
}

void QuarnPDFView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect exposed = event->rect();
    painter.fillRect(exposed, background_);
    if (pageCount() == 0) return;
    tiles_->paint(painter, exposed);
    interactions_->tell([&](PageInteraction& each) { each.paint(painter); });
    if (!pagesPainted_ && tiles_->visibleReady()) {
        pagesPainted_ = true;
        launchTimes::mark("painted");
        // Not from inside the paint: what follows may make widgets.
        QMetaObject::invokeMethod(this, &QuarnPDFView::firstPagesPainted, Qt::QueuedConnection);
    }
}

void QuarnPDFView::showEvent(QShowEvent* event)
{
    QAbstractScrollArea::showEvent(event);
    layoutPass();
    // What waited for the view (the reading position put back, the first
    // fit) comes before the first tiles, so that they are the ones shown.
    for (const ReadyOperation& waiting : std::exchange(readyWaiters_, {})) runIfReady(waiting);
    // The first screen's pages start rendering now rather than at the first
    // paint, which comes once the window system has shown the window.
    tiles_->requestMissing();
}

void QuarnPDFView::layoutPass()
{
    // The first layout wide enough with a document fits the pages once.
    if (!didInitialFit_ && width() > 40 && document_) {
        didInitialFit_ = true;
        setAutoScales(true);
    }
    syncState();
    reportViewChanges();
}

void QuarnPDFView::scrollContentsBy(int, int)
{
    viewport()->update();
    syncState();
}

void QuarnPDFView::wheelEvent(QWheelEvent* event)
{
    if (event->modifiers() & Qt::ControlModifier) {
        // Ctrl and the wheel zoom about the pointer, one ladder step per notch.
        wheelRemainder_ += event->angleDelta().y();
        while (std::fabs(wheelRemainder_) >= 120) {
            const bool up = wheelRemainder_ > 0;
            wheelRemainder_ -= up ? 120 : -120;
            takeScaleOver();
            setScaleInternal(placement_->clampScale(quarnkit::ZoomLevel::step(scaleFactor(), up)), event->position());
        }
        event->accept();
        return;
    }
    if ((event->modifiers() & Qt::ShiftModifier) && event->angleDelta().x() == 0) {
        // Shift and the wheel scroll sideways, as across the desktop.
        QScrollBar* bar = horizontalScrollBar();
        const double notches = event->angleDelta().y() / 120.0;
        bar->setValue(bar->value() - int(std::lround(notches * QApplication::wheelScrollLines() * bar->singleStep())));
        event->accept();
        return;
    }
    if (!placement_->layout().continuous() && event->angleDelta().y() != 0) {
        // Past the end of a page in the single-page modes, the wheel turns it.
        const bool down = event->angleDelta().y() < 0;
        QScrollBar* bar = verticalScrollBar();
        if ((down && bar->value() >= bar->maximum()) || (!down && bar->value() <= bar->minimum())) {
            wheelRemainder_ += event->angleDelta().y();
            if (std::fabs(wheelRemainder_) >= 120) {
                wheelRemainder_ = 0;
                if (down && canGoToNextPage(*this)) goToNextPage(*this);
                else if (!down && canGoToPreviousPage(*this)) {
                    goToPreviousPage(*this);
                    withoutTracking([&] { bar->setValue(bar->maximum()); });
                }
            }
            event->accept();
            return;
        }
        wheelRemainder_ = 0;
    }
    QAbstractScrollArea::wheelEvent(event);
}

void QuarnPDFView::keyPressEvent(QKeyEvent* event)
{
    if (interactions_->offer([event](PageInteraction& each) { return each.key(event); })) {
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Home: goToFirstPage(*this); return;
    case Qt::Key_End: goToLastPage(*this); return;
    case Qt::Key_PageDown:
    case Qt::Key_Space:
        turnScreen(*this, event->key() == Qt::Key_Space && (event->modifiers() & Qt::ShiftModifier));
        return;
    case Qt::Key_PageUp: turnScreen(*this, true); return;
    case Qt::Key_Escape:
        if (findIsPresented && findIsPresented() && onDismissFind) {
            onDismissFind();
            return;
        }
        if (!interactions_->textSelection().current().isEmpty()) {
            interactions_->textSelection().clear();
            return;
        }
        break;
    default: break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void QuarnPDFView::mousePressEvent(QMouseEvent* event)
{
    if (interactions_->offer([event](PageInteraction& each) { return each.mousePress(event); })) return;
    QAbstractScrollArea::mousePressEvent(event);
}

void QuarnPDFView::mouseMoveEvent(QMouseEvent* event)
{
    if (interactions_->offer([event](PageInteraction& each) { return each.mouseMove(event); })) return;
    updateCursor(event->position());
    interactions_->tell([&](PageInteraction& each) { each.hover(event->position()); });
}

void QuarnPDFView::mouseReleaseEvent(QMouseEvent* event)
{
    if (interactions_->offer([event](PageInteraction& each) { return each.mouseRelease(event); })) return;
    event->accept();
}

void QuarnPDFView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (interactions_->offer([event](PageInteraction& each) { return each.mouseDoubleClick(event); })) return;
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void QuarnPDFView::leaveEvent(QEvent* event)
{
    QAbstractScrollArea::leaveEvent(event);
    interactions_->tell([&](PageInteraction& each) { each.hover(std::nullopt); });
}

void QuarnPDFView::contextMenuEvent(QContextMenuEvent* event)
{
    interactions_->offer([event](PageInteraction& each) { return each.contextMenu(event); });
}

void QuarnPDFView::updateCursor(QPointF viewportPoint)
{
    using quarnkit::MarkupTool;
    Qt::CursorShape shape = Qt::ArrowCursor;
    switch (tool_) {
    case MarkupTool::select:
        // Hovering reads only what is at hand: the document may be busy on a
        // worker, and a mouse move must not wait for it.
        shape = interactions_->cursor(viewportPoint).value_or(Qt::ArrowCursor);
        break;
    case MarkupTool::highlight:
    case MarkupTool::underline:
    case MarkupTool::strikethrough:
    case MarkupTool::text: shape = Qt::IBeamCursor; break;
    default: shape = Qt::CrossCursor; break;
    }
    if (viewport()->cursor().shape() != shape) viewport()->setCursor(shape);
}

// ---------------------------------------------------------------- reports

void QuarnPDFView::reportViewChanges()
{
    const int count = pageCount();
    const int index = std::max(0, currentPageIndex());
    const double scale = scaleFactor();
    if (index == lastPage_ && count == lastCount_ && std::fabs(scale - lastZoom_) < 0.001) return;
    lastPage_ = index;
    lastCount_ = count;
    lastZoom_ = scale;
    // The callbacks as they are now, called on the next turn of the event loop.
    QTimer::singleShot(0, this, [onPage = onPage, onZoom = onZoom, index, count, scale] {
        if (onPage) onPage(index, count);
        if (onZoom) onZoom(scale);
    });
}

// ---------------------------------------------------------------- tools

void QuarnPDFView::setTool(quarnkit::MarkupTool tool, const quarnkit::ToolStyle& style)
{
    const bool changed = tool != tool_;
    tool_ = tool;
    style_ = style;
    if (!changed) return;
    interactions_->tell([&](PageInteraction& each) { each.toolChanged(); });
    updateCursor(viewport()->mapFromGlobal(QCursor::pos()));
}

} // namespace quarn
