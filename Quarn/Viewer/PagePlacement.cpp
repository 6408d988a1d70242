#include "Quarn/Viewer/PagePlacement.h"

#include "Quarn/Viewer/PageViewInternal.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QAbstractScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarn {

using namespace pageview;

namespace {
// Room above and below each row of pages, in page points.
constexpr double rowGap = 8;
} // namespace

PagePlacement::PagePlacement(const QAbstractScrollArea& area) : area_(area) {}

// ---------------------------------------------------------------- pages

const quarnkit::PageGeometry* PagePlacement::geometry(int page) const
{
    return page >= 0 && page < int(geometries_.size()) ? &geometries_[size_t(page)] : nullptr;
}

void PagePlacement::read(const quarnkit::QuarnDocument* document)
{
    geometries_.clear();
    layout_.sizes.clear();
    if (!document || document->isLocked()) return;
    // One pass over the page objects: a thousand pages lay out without loading
    // one. A longer file lays out from its first screen's pages until every
    // page is read (pageMapBuilt).
    const auto all = quarnkit::DocumentPages::geometries(*document, firstScreenPages);
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
    layout_.sizes.reserve(geometries_.size());
    for (const auto& geometry : geometries_) layout_.sizes.push_back(geometry.displaySize);
}

void PagePlacement::readPage(const quarnkit::QuarnDocument& document, int page)
{
    if (page < 0 || page >= pageCount()) return;
    try {
        geometries_[page] = quarnkit::DocumentPages::geometry(document, page);
        layout_.sizes[page] = geometries_[page].displaySize;
    } catch (...) {}
}

std::vector<int> PagePlacement::changedPages(const std::vector<platform::PdfSize>& sizes) const
{
    std::vector<int> changed;
    for (size_t i = 0; i < std::min(sizes.size(), layout_.sizes.size()); ++i)
        if (sizes[i].width != layout_.sizes[i].width || sizes[i].height != layout_.sizes[i].height)
            changed.push_back(int(i));
    return changed;
}

// ---------------------------------------------------------------- layout and scale

void PagePlacement::setMode(quarnkit::PdfDisplayMode mode, bool asBook)
{
    mode_ = mode;
    asBook_ = asBook;
}

void PagePlacement::layOut(int currentPage)
{
    layout_.mode = mode_;
    layout_.asBook = asBook_;
    layout_.margins = QMarginsF(0, rowGap, 0, rowGap);
    if (!layout_.continuous() && currentPage >= 0) {
        layout_.shownRow = 0;
        layout_.build(); // rows first, to find the current page's row
        layout_.shownRow = layout_.rowOfPage[currentPage];
    }
    layout_.build();
}

double PagePlacement::clampScale(double scale) const
{
    const double least = quarnkit::ZoomLevel::minimum;
    return std::clamp(quarnkit::ZoomLevel::clamp(scale), least, std::max(least, maxScale_));
}

void PagePlacement::setMaxScale(double scale) { maxScale_ = quarnkit::ZoomLevel::clamp(scale); }

std::optional<platform::PdfSize> PagePlacement::fitPageSize(int currentPage) const
{
    if (pageCount() == 0) return std::nullopt;
    const int page = currentPage >= 0 ? currentPage : 0;
    const platform::PdfSize size = layout_.sizes[page];
    if (!(size.width > 1) || !(size.height > 1)) return std::nullopt;
    return size;
}

double PagePlacement::rowAllowance() const { return layout_.continuous() ? rowGap : 0; }

double PagePlacement::fitScale(int currentPage, QSizeF view) const
{
    const auto size = fitPageSize(currentPage);
    if (!size) return scale_;
    const bool spreads = layout_.spreads();
    const QSizeF content(quarnkit::ZoomLevel::rowWidth(size->width, spreads), size->height);
    if (layout_.continuous()) return quarnkit::ZoomLevel::fitWidthScale(content, view);
    return quarnkit::ZoomLevel::fitScale(content, view, 0);
}

// ---------------------------------------------------------------- in the viewport

QSize PagePlacement::contentPixels() const
{
    // Scroll bars count in int: a very long document at a high scale stops there.
    constexpr double most = std::numeric_limits<int>::max() / 2;
    return {int(std::min(most, std::ceil(layout_.contentSize.width() * scale_))),
            int(std::min(most, std::ceil(layout_.contentSize.height() * scale_)))};
}

QPointF PagePlacement::contentOrigin() const
{
    const QSize content = contentPixels();
    const QSize view = area_.viewport()->size();
    // Content smaller than the view is centred; larger content scrolls; held
    // content scrolls from where it was held.
    const int scrolled = area_.horizontalScrollBar()->value();
    const double x = heldShift_ != 0                  ? heldLeft() - scrolled
                     : content.width() < view.width() ? std::floor((view.width() - content.width()) / 2.0)
                                                      : -scrolled;
    const double y = content.height() < view.height() ? std::floor((view.height() - content.height()) / 2.0)
                                                      : -area_.verticalScrollBar()->value();
    return {x, y};
}

int PagePlacement::heldLeft() const
{
    return int(std::floor((area_.viewport()->width() - contentPixels().width()) / 2.0)) + heldShift_;
}

std::pair<int, int> PagePlacement::horizontalRange() const
{
    const int over = contentPixels().width() - area_.viewport()->width();
    if (heldShift_ == 0) return {0, std::max(0, over)};
    // From the held place, far enough either way to show both edges.
    const int left = heldLeft();
    return {std::min(0, left), std::max(0, left + over)};
}

int PagePlacement::horizontalValueFor(double x) const
{
    return int(std::lround(x)) + (heldShift_ != 0 ? heldLeft() : 0);
}

QRectF PagePlacement::pageRect(int page) const
{
    if (!layout_.isLaidOut(page)) return {};
    const QRectF& rect = layout_.pageRects[page];
    const QPointF origin = contentOrigin();
    // Whole pixels for the page's corner, so tiles land on device pixels.
    const QPointF topLeft(std::round(origin.x() + rect.left() * scale_), std::round(origin.y() + rect.top() * scale_));
    return {topLeft, rect.size() * scale_};
}

QRectF PagePlacement::contentRect(int page) const
{
    if (!layout_.isLaidOut(page)) return {};
    return {layout_.pageRects[page].topLeft() * scale_, layout_.pageRects[page].size() * scale_};
}

std::optional<int> PagePlacement::pageAt(QPointF viewportPoint, bool nearest) const
{
    if (pageCount() == 0) return std::nullopt;
    const QPointF content = (viewportPoint - contentOrigin()) / scale_;
    const int page = layout_.nearestPage(content);
    if (page < 0) return std::nullopt;
    if (nearest || pageRect(page).contains(viewportPoint)) return page;
    return std::nullopt;
}

PdfPoint PagePlacement::convertToPage(QPointF viewportPoint, int page) const
{
    if (page < 0 || page >= pageCount()) return {};
    const QRectF rect = pageRect(page);
    const QPointF display = (viewportPoint - rect.topLeft()) / scale_;
    return geometries_[page].userToDisplay.inverted().map({display.x(), display.y()});
}

QPointF PagePlacement::convertFromPage(PdfPoint point, int page) const
{
    if (page < 0 || page >= pageCount()) return {};
    const PdfPoint display = geometries_[page].userToDisplay.map(point);
    return pageRect(page).topLeft() + toQt(display) * scale_;
}

QRectF PagePlacement::convertFromPage(const PdfRect& rect, int page) const
{
    const QPointF a = convertFromPage(PdfPoint{rect.minX(), rect.minY()}, page);
    const QPointF b = convertFromPage(PdfPoint{rect.maxX(), rect.maxY()}, page);
    return QRectF(a, b).normalized();
}

std::optional<PagePoint> PagePlacement::pagePoint(QPointF viewportPoint, std::optional<int> page) const
{
    const std::optional<int> index = page ? page : pageAt(viewportPoint, false);
    if (!index || *index < 0 || *index >= pageCount() || !layout_.isLaidOut(*index)) return std::nullopt;
    if (!page && !pageRect(*index).contains(viewportPoint)) return std::nullopt;
    const PdfRect& box = geometries_[*index].cropBox;
    if (!(box.width > 1) || !(box.height > 1)) return std::nullopt;
    return PagePoint{*index, clampInto(convertToPage(viewportPoint, *index), box)};
}

std::vector<int> PagePlacement::pagesIn(const QRectF& viewportArea) const
{
    if (pageCount() == 0 || scale_ <= 0) return {};
    const QPointF origin = contentOrigin();
    return layout_.pagesIn(QRectF((viewportArea.topLeft() - origin) / scale_, viewportArea.size() / scale_));
}

bool PagePlacement::overflowsHorizontally() const { return contentPixels().width() > area_.viewport()->width() + 1; }

QPointF PagePlacement::contentPoint(const quarnkit::PageDestination& destination) const
{
    const PdfPoint display = geometries_[destination.page].userToDisplay.map(destination.point);
    return layout_.pageRects[destination.page].topLeft() * scale_ + toQt(display) * scale_;
}

// ---------------------------------------------------------------- anchors

PagePlacement::Anchor PagePlacement::topLeftAnchor(int currentPage) const
{
    Anchor anchor;
    anchor.page = std::max(currentPage, 0);
    const QRectF rect = pageRect(anchor.page);
    // Across, the page's own extent (centred content has room beside it);
    // down, the exact offset, so that the gap above a page keeps its place too.
    anchor.display =
        QPointF(std::clamp(-rect.left() / scale_, 0.0, layout_.sizes[anchor.page].width), -rect.top() / scale_);
    return anchor;
}

PagePlacement::Anchor PagePlacement::anchorAt(QPointF viewportPoint, int fallbackPage) const
{
    Anchor anchor;
    anchor.page = pageAt(viewportPoint, true).value_or(std::max(fallbackPage, 0));
    anchor.at = viewportPoint;
    anchor.display = (viewportPoint - pageRect(anchor.page).topLeft()) / scale_;
    return anchor;
}

std::optional<QPointF> PagePlacement::scrollFor(const Anchor& anchor) const
{
    if (!layout_.isLaidOut(anchor.page)) return std::nullopt;
    const QPointF content = layout_.pageRects[anchor.page].topLeft() * scale_ + anchor.display * scale_;
    return content - anchor.at;
}

} // namespace quarn
