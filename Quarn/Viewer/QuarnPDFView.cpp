#include "Quarn/Viewer/QuarnPDFView.h"

#include "Quarn/Viewer/PageInteraction.h"
#include "Quarn/Viewer/PageLinks.h"
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
    : QAbstractScrollArea(parent),
      layout_(std::make_unique<PageLayout>()),
      tiles_(std::make_unique<PageTiles>(*this)),
      background_(quarnkit::Design::canvas())
{
    style_ = quarnkit::ToolStyle{};
    links_ = static_cast<PageLinks*>(interactions_.emplace_back(std::make_unique<PageLinks>(*this)).get());
    textSelection_ = static_cast<TextSelection*>(interactions_.emplace_back(std::make_unique<TextSelection>(*this)).get());
    history_ = new ReadingHistory(*this);

    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    horizontalScrollBar()->setSingleStep(20);
    verticalScrollBar()->setSingleStep(20);

    applyScrollerStyle();
}

QuarnPDFView::~QuarnPDFView() = default;

// ---------------------------------------------------------------- interactions

PageInteraction& QuarnPDFView::addInteraction(std::unique_ptr<PageInteraction> interaction)
{
    // Ahead of the view's own two.
    return **interactions_.insert(interactions_.end() - 2, std::move(interaction));
}

bool QuarnPDFView::arrowsMoveSelection() const
{
    return std::any_of(interactions_.begin(), interactions_.end(), [](const auto& each) { return each->holdsArrows(); });
}

template <typename F> bool QuarnPDFView::offer(F&& handles)
{
    for (const auto& each : interactions_)
        if (handles(*each)) return true;
    return false;
}

// ---------------------------------------------------------------- document

int QuarnPDFView::pageCount() const { return int(layout_->sizes.size()); }

const quarnkit::PageGeometry* QuarnPDFView::geometry(int page) const
{
    return page >= 0 && page < int(geometries_.size()) ? &geometries_[size_t(page)] : nullptr;
}

void QuarnPDFView::readGeometry()
{
    geometries_.clear();
    layout_->sizes.clear();
    if (!document_ || document_->isLocked()) return;
    // One pass over the page objects: a thousand pages lay out without loading
    // one. A longer file lays out from its first screen's pages until every
    // page is read (pageMapBuilt).
    const auto all = quarnkit::DocumentPages::geometries(*document_, firstScreenPages);
    geometries_.reserve(all.size());
    for (const auto& geometry : all) {
        if (geometry) {
            geometries_.push_back(*geometry);
            continue;
        }
        // A damaged page keeps a letter-sized place so that the rest stay reachable.
        quarnkit::PageGeometry letter;
        letter.mediaBox = letter.cropBox = {0, 0, 612, 792};
        letter.displaySize = {612, 792};
        letter.userToDisplay = {1, 0, 0, -1, 0, 792};
        geometries_.push_back(letter);
    }
    layout_->sizes.reserve(geometries_.size());
    for (const auto& geometry : geometries_) layout_->sizes.push_back(geometry.displaySize);
}

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
    for (const auto& each : interactions_) each->documentReplaced();
    heldShift_ = 0;
    // Before every page is read, no signature is known: the first edit then
    // reads the whole document again.
    shownPages_ = document_ && document_->pageMapReady() ? document_->pageSignature() : 0;
    readGeometry();
    tiles_->setDocument(document_);
    currentPage_ = pageCount() > 0 ? 0 : -1;
    layout_->shownRow = 0;
    didInitialFit_ = false;
    relayout();
    withoutTracking([&] {
        horizontalScrollBar()->setValue(0);
        verticalScrollBar()->setValue(0);
    });
    history_->clear();
    layoutPass();
    applyScrollerStyle();
}

void QuarnPDFView::noteEdit(int index)
{
    if (document_) document_->noteEditOfPage(index);
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
    for (const auto& each : interactions_) each->documentChanged();
}

void QuarnPDFView::refresh(std::optional<int> page)
{
    if (!document_) return;
    const auto keep = readingPoint();
    const std::vector<platform::PdfSize> sizes = layout_->sizes;
    if (page && *page >= 0 && *page < pageCount()) {
        try {
            geometries_[*page] = quarnkit::DocumentPages::geometry(*document_, *page);
            layout_->sizes[*page] = geometries_[*page].displaySize;
        } catch (...) {
        }
        for (const auto& each : interactions_) each->pagesRead(page);
    } else {
        readGeometry();
        for (const auto& each : interactions_) each->pagesRead(std::nullopt);
    }
    tiles_->invalidate(page);
    if (currentPage_ >= pageCount()) currentPage_ = pageCount() - 1;
    if (currentPage_ < 0 && pageCount() > 0) currentPage_ = 0;
    // Pages of the same sizes keep the view where it is: a mark or the
    // document's info edited must not move what the reader looks at.
    const bool resized = sizes.size() != layout_->sizes.size() || !changedPages(sizes).empty();
    if (resized) {
        relayout();
        if (keep && keep->page < pageCount()) showDestination(*keep);
    }
    viewport()->update();
    withoutTracking([&] { layoutPass(); });
}

std::vector<int> QuarnPDFView::changedPages(const std::vector<platform::PdfSize>& sizes) const
{
    std::vector<int> changed;
    for (size_t i = 0; i < std::min(sizes.size(), layout_->sizes.size()); ++i)
        if (sizes[i].width != layout_->sizes[i].width || sizes[i].height != layout_->sizes[i].height)
            changed.push_back(int(i));
    return changed;
}

void QuarnPDFView::pagesRead()
{
    if (!document_ || document_->isLocked()) return;
    shownPages_ = document_->pageSignature();
    const std::vector<platform::PdfSize> sizes = layout_->sizes;
    const std::optional<ViewAnchor> kept = pageCount() > 0 ? std::optional(topLeftAnchor()) : std::nullopt;
    readGeometry();
    if (sizes.size() != layout_->sizes.size()) {
        // The tree held fewer pages than it claimed, and was mended.
        refresh(std::nullopt);
        return;
    }
    // Pages laid out with page 1's size take their own, and what is under the
    // viewport's top stays where it is; the pages seen so far keep their tiles.
    const std::vector<int> changed = changedPages(sizes);
    if (changed.empty()) return;
    if (changed.size() > size_t(firstScreenPages)) tiles_->invalidate(std::nullopt);
    else for (const int page : changed) tiles_->invalidate(page);
    relayout();
    withoutTracking([&] {
        if (kept) restoreAnchor(*kept);
        layoutPass();
    });
    viewport()->update();
}

// ---------------------------------------------------------------- layout

void QuarnPDFView::setDisplayMode(PdfDisplayMode mode) { setLayoutMode(mode, asBook_); }

void QuarnPDFView::setLayoutMode(PdfDisplayMode mode, bool asBook)
{
    if (mode == mode_ && asBook == asBook_) return;
    const auto keep = readingPoint();
    mode_ = mode;
    asBook_ = asBook;
    heldShift_ = 0;
    if (autoScales_) scale_ = clampScale(scaleFactorForSizeToFit());
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
    layout_->mode = mode_;
    layout_->asBook = asBook_;
    layout_->margins = QMarginsF(0, rowGap, 0, rowGap);
    if (!layout_->continuous() && currentPage_ >= 0) {
        layout_->shownRow = 0;
        layout_->build(); // rows first, to find the current page's row
        layout_->shownRow = layout_->rowOfPage[currentPage_];
    }
    layout_->build();
    updateScrollBars();
    viewport()->update();
}

void QuarnPDFView::updateScrollBars()
{
    const QSize content = contentPixels();
    const QSize view = viewport()->size();
    withoutTracking([&] {
        horizontalScrollBar()->setRange(0, heldShift_ != 0 ? 0 : std::max(0, content.width() - view.width()));
        horizontalScrollBar()->setPageStep(view.width());
        verticalScrollBar()->setRange(0, std::max(0, content.height() - view.height()));
        verticalScrollBar()->setPageStep(view.height());
    });
}

QSize QuarnPDFView::contentPixels() const
{
    // Scroll bars count in int: a very long document at a high scale stops there.
    constexpr double most = std::numeric_limits<int>::max() / 2;
    return {int(std::min(most, std::ceil(layout_->contentSize.width() * scale_))),
            int(std::min(most, std::ceil(layout_->contentSize.height() * scale_)))};
}

QPointF QuarnPDFView::contentOrigin() const
{
    const QSize content = contentPixels();
    const QSize view = viewport()->size();
    // Content smaller than the view is centred; larger content scrolls.
    const double x = heldShift_ != 0 || content.width() < view.width()
                         ? std::floor((view.width() - content.width()) / 2.0) + heldShift_
                         : -horizontalScrollBar()->value();
    const double y = content.height() < view.height() ? std::floor((view.height() - content.height()) / 2.0)
                                                       : -verticalScrollBar()->value();
    return {x, y};
}

void QuarnPDFView::scrollToContentPoint(QPointF contentPoint, bool horizontal)
{
    withoutTracking([&] {
        if (horizontal) horizontalScrollBar()->setValue(int(std::lround(contentPoint.x())));
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

double QuarnPDFView::clampScale(double scale) const
{
    return std::clamp(quarnkit::ZoomLevel::clamp(scale), quarnkit::ZoomLevel::minimum, std::max(quarnkit::ZoomLevel::minimum, maxScale_));
}

void QuarnPDFView::setScaleFactor(double scale)
{
    takeScaleOver();
    setScaleInternal(clampScale(scale), std::nullopt);
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
    maxScale_ = quarnkit::ZoomLevel::clamp(scale);
    if (scale_ > maxScale_) setScaleInternal(maxScale_, std::nullopt);
}

std::optional<platform::PdfSize> QuarnPDFView::fitPageSize() const
{
    if (pageCount() == 0) return std::nullopt;
    const int page = currentPage_ >= 0 ? currentPage_ : 0;
    const platform::PdfSize size = layout_->sizes[page];
    if (!(size.width > 1) || !(size.height > 1)) return std::nullopt;
    return size;
}

double QuarnPDFView::pageBreakAllowance() const
{
    return layout_->continuous() ? rowGap : 0;
}

double QuarnPDFView::scaleFactorForSizeToFit() const
{
    const auto size = fitPageSize();
    if (!size) return scale_;
    const bool spreads = layout_->spreads();
    const QSizeF content(quarnkit::ZoomLevel::rowWidth(size->width, spreads), size->height);
    if (layout_->continuous()) return quarnkit::ZoomLevel::fitWidthScale(content, QSizeF(this->size()));
    return quarnkit::ZoomLevel::fitScale(content, QSizeF(this->size()), 0);
}

void QuarnPDFView::applyAutoScale()
{
    if (!autoScales_ || !document_ || pageCount() == 0) return;
    const double fitted = clampScale(scaleFactorForSizeToFit());
    if (std::fabs(fitted - scale_) > 1e-9) setScaleInternal(fitted, std::nullopt);
}

void QuarnPDFView::zoomIn()
{
    setScaleFactor(quarnkit::ZoomLevel::step(scale_, true));
}

void QuarnPDFView::zoomOut()
{
    setScaleFactor(quarnkit::ZoomLevel::step(scale_, false));
}

void QuarnPDFView::setScaleInternal(double scale, std::optional<QPointF> anchor)
{
    if (pageCount() == 0) {
        scale_ = scale;
        relayout();
        withoutTracking([&] { syncState(); });
        return;
    }
    // What stays put: the page point under the anchor, or else the current
    // page's point at the top left of the view.
    if (std::fabs(scale - scale_) > 1e-9) heldShift_ = 0;
    ViewAnchor kept = topLeftAnchor();
    if (anchor) {
        kept.page = pageAt(*anchor, true).value_or(std::max(currentPage_, 0));
        kept.at = *anchor;
        kept.display = (*anchor - pageRect(kept.page).topLeft()) / scale_;
    }
    scale_ = scale;
    relayout();
    restoreAnchor(kept);
    withoutTracking([&] { syncState(); });
}

QuarnPDFView::ViewAnchor QuarnPDFView::topLeftAnchor() const
{
    ViewAnchor anchor;
    anchor.page = std::max(currentPage_, 0);
    const QRectF rect = pageRect(anchor.page);
    // Across, the page's own extent (centred content has room beside it);
    // down, the exact offset, so that the gap above a page keeps its place too.
    anchor.display = QPointF(std::clamp(-rect.left() / scale_, 0.0, layout_->sizes[anchor.page].width),
                             -rect.top() / scale_);
    return anchor;
}

void QuarnPDFView::restoreAnchor(const ViewAnchor& anchor)
{
    if (!layout_->isLaidOut(anchor.page)) return;
    const QPointF content = layout_->pageRects[anchor.page].topLeft() * scale_ + anchor.display * scale_;
    scrollToContentPoint(content - anchor.at, true);
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
    const PdfPoint point = convertToPage(QPointF(0, 0), page);
    return PageDestination{page, clampInto(point, geometries_[page].cropBox)};
}

void QuarnPDFView::goToPage(int index, std::optional<PdfPoint> point)
{
    if (!document_ || pageCount() < 1) return;
    index = std::clamp(index, 0, pageCount() - 1);
    const PdfRect& box = geometries_[index].cropBox;
    const PageDestination destination = point ? PageDestination{index, clampInto(*point, box)}
                                              : quarnkit::PageJump::top(index, geometries_[index]);
    jumpTo(destination, true);
}

void QuarnPDFView::goToDestination(const PageDestination& destination, bool record)
{
    if (pageCount() < 1) return;
    PageDestination target = destination;
    target.page = std::clamp(target.page, 0, pageCount() - 1);
    target.point = clampInto(target.point, geometries_[target.page].cropBox);
    jumpTo(target, record);
}

void QuarnPDFView::goToSelection(const PageSelection& selection)
{
    const int page = selection.firstPage();
    if (page < 0 || page >= pageCount()) return;
    history_->record();
    const PdfRect bounds = selection.bounds(page);
    setCurrentPage(page);
    relayout();
    // Bring the selection into the middle of the view when it is not in view.
    const QRectF rect = convertFromPage(bounds, page);
    if (!QRectF(viewport()->rect()).contains(rect)) {
        const QPointF content = rect.center() - contentOrigin();
        scrollToContentPoint(content - QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0),
                             overflowsHorizontally());
    }
    withoutTracking([&] { syncState(); });
}

bool QuarnPDFView::canGoToNextPage() const
{
    const int page = currentPageIndex();
    if (page < 0) return false;
    const auto& row = layout_->rows[layout_->rowOfPage[page]];
    return row.pages.back() + 1 < pageCount();
}

bool QuarnPDFView::canGoToPreviousPage() const
{
    const int page = currentPageIndex();
    if (page < 0) return false;
    return layout_->rows[layout_->rowOfPage[page]].pages.front() > 0;
}

void QuarnPDFView::goToNextPage()
{
    if (!canGoToNextPage()) return;
    // In the spread modes a step is one spread.
    const int next = layout_->rows[layout_->rowOfPage[currentPageIndex()]].pages.back() + 1;
    jumpTo(quarnkit::PageJump::top(next, geometries_[next]), false);
}

void QuarnPDFView::goToPreviousPage()
{
    if (!canGoToPreviousPage()) return;
    const int row = layout_->rowOfPage[currentPageIndex()] - 1;
    const int previous = layout_->rows[row].pages.front();
    jumpTo(quarnkit::PageJump::top(previous, geometries_[previous]), false);
}

void QuarnPDFView::goToFirstPage()
{
    if (pageCount() > 0) jumpTo(quarnkit::PageJump::top(0, geometries_[0]), false);
}

void QuarnPDFView::goToLastPage()
{
    const int last = pageCount() - 1;
    if (last >= 0) jumpTo(quarnkit::PageJump::top(last, geometries_[last]), false);
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
    setCurrentPage(destination.page);
    relayout();
    const auto& m = geometries_[destination.page].userToDisplay;
    const PdfPoint display = m.map(destination.point);
    const QPointF content = layout_->pageRects[destination.page].topLeft() * scale_ + toQt(display) * scale_;
    scrollToContentPoint(content, true);
}

void QuarnPDFView::setCurrentPage(int page)
{
    currentPage_ = page;
}

void QuarnPDFView::updateCurrentPageFromScroll()
{
    if (pageCount() == 0 || !layout_->continuous()) return;
    // The page being read is the first whose row reaches below the top edge.
    const double top = -contentOrigin().y() / scale_;
    const int row = layout_->rowAtOrBelow(top + 0.5);
    if (row < 0) return;
    const auto& pages = layout_->rows[row].pages;
    if (std::find(pages.begin(), pages.end(), currentPage_) == pages.end()) currentPage_ = pages.front();
}

std::vector<int> QuarnPDFView::visiblePages() const { return pagesIn(viewport()->rect()); }

std::vector<int> QuarnPDFView::pagesIn(const QRectF& viewportArea) const
{
    if (pageCount() == 0 || scale_ <= 0) return {};
    const QPointF origin = contentOrigin();
    return layout_->pagesIn(QRectF((viewportArea.topLeft() - origin) / scale_, viewportArea.size() / scale_));
}

void QuarnPDFView::syncState()
{
    if (!jumping_) updateCurrentPageFromScroll();
    const int page = currentPageIndex();
    const std::vector<int> visible = visiblePages();
    const bool scaleMoved = std::fabs(scale_ - shownScale_) > 1e-9;
    const bool pageMoved = page != shownPage_;
    const bool visibleMoved = visible != lastVisible_;
    shownScale_ = scale_;
    shownPage_ = page;
    lastVisible_ = visible;
    for (const auto& each : interactions_) each->viewMoved();
    emit boundsChanged();
    if (scaleMoved) emit scaleChanged(scale_);
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
    const auto size = fitPageSize();
    if (!size) return std::nullopt;
    const QSizeF content(quarnkit::ZoomLevel::rowWidth(size->width, spreads), size->height);
    const double scale = quarnkit::ZoomLevel::fitWidthScale(content, QSizeF(this->size()));
    takeScaleOver();
    setScaleInternal(std::max(scale, quarnkit::ZoomLevel::minimum), std::nullopt);
    return scale;
}

std::optional<double> QuarnPDFView::fitPage(bool spreads, bool keepPage)
{
    const auto size = fitPageSize();
    if (!size) return std::nullopt;
    const int page = currentPageIndex();
    bool reveal = keepPage && page >= 0;
    if (!reveal && page >= 0) {
        const QRectF rect = pageRect(page);
        reveal = !rect.isEmpty() && QRectF(viewport()->rect()).adjusted(-1, -1, 1, 1).contains(rect);
    }
    const QSizeF content(quarnkit::ZoomLevel::rowWidth(size->width, spreads), size->height);
    const double scale = quarnkit::ZoomLevel::fitScale(content, QSizeF(this->size()), pageBreakAllowance());
    takeScaleOver();
    setScaleInternal(quarnkit::ZoomLevel::clamp(scale), std::nullopt);
    if (reveal) revealPage(page);
    return scale;
}

void QuarnPDFView::revealPage(int index)
{
    if (index < 0 || index >= pageCount()) return;
    setCurrentPage(index);
    relayout();
    const QRectF page(layout_->pageRects[index].topLeft() * scale_, layout_->pageRects[index].size() * scale_);
    const QSizeF visible = viewport()->size();
    const double y = page.height() <= visible.height() ? page.center().y() - visible.height() * 0.5 : page.top();
    const bool wide = page.width() > visible.width();
    withoutTracking([&] {
        if (wide) horizontalScrollBar()->setValue(int(std::lround(page.left())));
        verticalScrollBar()->setValue(int(std::lround(y)));
    });
    withoutTracking([&] { syncState(); });
}

bool QuarnPDFView::overflowsHorizontally() const
{
    return contentPixels().width() > viewport()->width() + 1;
}

void QuarnPDFView::whenReady(int attempt, std::function<void(QuarnPDFView&)> operation)
{
    if (isVisible() && width() > 40 && document_) {
        relayout();
        layoutPass(); // the first fit, if still due, comes before the operation
        operation(*this);
        return;
    }
    // The timer belongs to the view: a view that goes away ends the wait.
    QTimer::singleShot(attempt < 80 ? 25 : 250, this,
                       [this, attempt, operation = std::move(operation)]() mutable { whenReady(attempt + 1, std::move(operation)); });
}

// ---------------------------------------------------------------- geometry

QRectF QuarnPDFView::pageRect(int page) const
{
    if (!layout_->isLaidOut(page)) return {};
    const QRectF& rect = layout_->pageRects[page];
    const QPointF origin = contentOrigin();
    // Whole pixels for the page's corner, so tiles land on device pixels.
    const QPointF topLeft(std::round(origin.x() + rect.left() * scale_), std::round(origin.y() + rect.top() * scale_));
    return {topLeft, rect.size() * scale_};
}

std::optional<int> QuarnPDFView::pageAt(QPointF viewportPoint, bool nearest) const
{
    if (pageCount() == 0) return std::nullopt;
    const QPointF content = (viewportPoint - contentOrigin()) / scale_;
    const int page = layout_->nearestPage(content);
    if (page < 0) return std::nullopt;
    if (nearest || pageRect(page).contains(viewportPoint)) return page;
    return std::nullopt;
}

PdfPoint QuarnPDFView::convertToPage(QPointF viewportPoint, int page) const
{
    if (page < 0 || page >= pageCount()) return {};
    const QRectF rect = pageRect(page);
    const QPointF display = (viewportPoint - rect.topLeft()) / scale_;
    return geometries_[page].userToDisplay.inverted().map({display.x(), display.y()});
}

QPointF QuarnPDFView::convertFromPage(PdfPoint point, int page) const
{
    if (page < 0 || page >= pageCount()) return {};
    const PdfPoint display = geometries_[page].userToDisplay.map(point);
    return pageRect(page).topLeft() + toQt(display) * scale_;
}

QRectF QuarnPDFView::convertFromPage(const PdfRect& rect, int page) const
{
    const QPointF a = convertFromPage(PdfPoint{rect.minX(), rect.minY()}, page);
    const QPointF b = convertFromPage(PdfPoint{rect.maxX(), rect.maxY()}, page);
    return QRectF(a, b).normalized();
}

std::optional<PagePoint> QuarnPDFView::pagePoint(QPointF viewportPoint, std::optional<int> page) const
{
    const std::optional<int> index = page ? page : pageAt(viewportPoint, false);
    if (!index || *index < 0 || *index >= pageCount() || !layout_->isLaidOut(*index)) return std::nullopt;
    if (!page && !pageRect(*index).contains(viewportPoint)) return std::nullopt;
    const PdfRect& box = geometries_[*index].cropBox;
    if (!(box.width > 1) || !(box.height > 1)) return std::nullopt;
    return PagePoint{*index, clampInto(convertToPage(viewportPoint, *index), box)};
}

// ---------------------------------------------------------------- events

void QuarnPDFView::holdPlaceOnNextResize()
{
    holdPlace_ = true;
}

void QuarnPDFView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (std::exchange(holdPlace_, false) && pageCount() > 0 && event->oldSize().isValid()) {
        // A column beside the view came or went: the pages stay where they
        // were in the window, at their scale, rather than centre again.
        const int cw = contentPixels().width();
        const int oldView = viewport()->width() - (event->size().width() - event->oldSize().width());
        const double oldX = heldShift_ != 0 || cw < oldView ? std::floor((oldView - cw) / 2.0) + heldShift_
                                                            : -horizontalScrollBar()->value();
        const ViewAnchor kept = topLeftAnchor();
        heldShift_ = 0;
        const int newView = viewport()->width();
        if (oldX > 0 || cw < newView) heldShift_ = int(oldX - std::floor((newView - cw) / 2.0));
        relayout();
        withoutTracking([&] {
            restoreAnchor(kept);
            if (heldShift_ == 0 && cw >= newView) horizontalScrollBar()->setValue(int(-oldX));
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
    const ViewAnchor kept = topLeftAnchor();
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
    for (const auto& each : interactions_) each->paint(painter);
}

void QuarnPDFView::showEvent(QShowEvent* event)
{
    QAbstractScrollArea::showEvent(event);
    layoutPass();
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
            setScaleInternal(clampScale(quarnkit::ZoomLevel::step(scale_, up)), event->position());
        }
        event->accept();
        return;
    }
    if (!layout_->continuous() && event->angleDelta().y() != 0) {
        // Past the end of a page in the single-page modes, the wheel turns it.
        const bool down = event->angleDelta().y() < 0;
        QScrollBar* bar = verticalScrollBar();
        if ((down && bar->value() >= bar->maximum()) || (!down && bar->value() <= bar->minimum())) {
            wheelRemainder_ += event->angleDelta().y();
            if (std::fabs(wheelRemainder_) >= 120) {
                wheelRemainder_ = 0;
                if (down && canGoToNextPage()) goToNextPage();
                else if (!down && canGoToPreviousPage()) {
                    goToPreviousPage();
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

bool QuarnPDFView::isAtRowEdge(bool bottom) const
{
    const QScrollBar* bar = verticalScrollBar();
    return bottom ? bar->value() >= bar->maximum() : bar->value() <= bar->minimum();
}

void QuarnPDFView::keyPressEvent(QKeyEvent* event)
{
    if (offer([event](PageInteraction& each) { return each.key(event); })) {
        event->accept();
        return;
    }
    const bool paged = !layout_->continuous();
    switch (event->key()) {
    case Qt::Key_Home:
        goToFirstPage();
        return;
    case Qt::Key_End:
        goToLastPage();
        return;
    case Qt::Key_PageDown:
    case Qt::Key_Space:
        if (event->key() == Qt::Key_Space && (event->modifiers() & Qt::ShiftModifier)) {
            if (paged && isAtRowEdge(false) && canGoToPreviousPage()) goToPreviousPage();
            else verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
            return;
        }
        if (paged && isAtRowEdge(true) && canGoToNextPage()) goToNextPage();
        else verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        return;
    case Qt::Key_PageUp:
        if (paged && isAtRowEdge(false) && canGoToPreviousPage()) goToPreviousPage();
        else verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
        return;
    case Qt::Key_Escape:
        if (findIsPresented && findIsPresented() && onDismissFind) {
            onDismissFind();
            return;
        }
        if (!textSelection_->current().isEmpty()) {
            textSelection_->clear();
            return;
        }
        break;
    default:
        break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void QuarnPDFView::mousePressEvent(QMouseEvent* event)
{
    if (offer([event](PageInteraction& each) { return each.mousePress(event); })) return;
    QAbstractScrollArea::mousePressEvent(event);
}

void QuarnPDFView::mouseMoveEvent(QMouseEvent* event)
{
    if (offer([event](PageInteraction& each) { return each.mouseMove(event); })) return;
    updateCursor(event->position());
    for (const auto& each : interactions_) each->hover(event->position());
}

void QuarnPDFView::mouseReleaseEvent(QMouseEvent* event)
{
    if (offer([event](PageInteraction& each) { return each.mouseRelease(event); })) return;
    event->accept();
}

void QuarnPDFView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (offer([event](PageInteraction& each) { return each.mouseDoubleClick(event); })) return;
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void QuarnPDFView::leaveEvent(QEvent* event)
{
    QAbstractScrollArea::leaveEvent(event);
    for (const auto& each : interactions_) each->hover(std::nullopt);
}

void QuarnPDFView::contextMenuEvent(QContextMenuEvent* event)
{
    offer([event](PageInteraction& each) { return each.contextMenu(event); });
}

void QuarnPDFView::updateCursor(QPointF viewportPoint)
{
    using quarnkit::MarkupTool;
    Qt::CursorShape shape = Qt::ArrowCursor;
    switch (tool_) {
    case MarkupTool::select:
        // Hovering reads only what is at hand: the document may be busy on a
        // worker, and a mouse move must not wait for it.
        for (const auto& each : interactions_) {
            if (const auto wanted = each->cursor(viewportPoint)) {
                shape = *wanted;
                break;
            }
        }
        break;
    case MarkupTool::highlight:
    case MarkupTool::underline:
    case MarkupTool::strikethrough:
    case MarkupTool::text:
        shape = Qt::IBeamCursor;
        break;
    default:
        shape = Qt::CrossCursor;
        break;
    }
    if (viewport()->cursor().shape() != shape) viewport()->setCursor(shape);
}

// ---------------------------------------------------------------- reports

void QuarnPDFView::reportViewChanges()
{
    const int count = pageCount();
    const int index = std::max(0, currentPageIndex());
    const double scale = scale_;
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

void QuarnPDFView::applyScrollerStyle()
{
    if (applyingScrollers_) return;
    applyingScrollers_ = true;
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    applyingScrollers_ = false;
}

// ---------------------------------------------------------------- tools

void QuarnPDFView::setTool(quarnkit::MarkupTool tool, const quarnkit::ToolStyle& style)
{
    const bool changed = tool != tool_;
    tool_ = tool;
    style_ = style;
    if (!changed) return;
    for (const auto& each : interactions_) each->toolChanged();
    updateCursor(viewport()->mapFromGlobal(QCursor::pos()));
}

} // namespace quarn
