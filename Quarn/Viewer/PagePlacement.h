#pragma once
// Where the pages of one page view lie: their geometries as read from the
// document, their layout in rows (in one of four modes, a book's cover alone
// or not), the scale, and, from the view's size and scroll position, each
// page's rectangle in the viewport and the conversions between viewport and
// page points. It holds no widget of its own: the page view keeps it up to
// date as it reads pages, lays them out, scales and scrolls.
#include "QuarnKit/Document/DocumentPages.h"
#include "QuarnKit/Viewer/DisplayModes.h"
#include "QuarnKit/Viewer/PageLayout.h"

#include <QPointF>
#include <QRectF>
#include <QSize>

#include <optional>
#include <utility>
#include <vector>

class QAbstractScrollArea;

namespace quarnkit {
class QuarnDocument;
}

namespace quarn {

// A page and a point on it (PDF user space): where a view location falls.
struct PagePoint {
    int page = -1;
    platform::PdfPoint point;
};

class PagePlacement {
public:
    // `area` is the page view, whose viewport and scroll bars place the content.
    explicit PagePlacement(const QAbstractScrollArea& area);

    // ------------------------------------------------------------ pages

    int pageCount() const { return int(layout_.sizes.size()); }
    // A page's geometry as laid out; none for no such page.
    const quarnkit::PageGeometry* geometry(int page) const;
    // The display size of every page, as laid out.
    const std::vector<platform::PdfSize>& sizes() const { return layout_.sizes; }
    // Reads the pages of `document` (none, or a locked one, has none). A
    // long file is read from its first screen's pages until every page is
    // read; a damaged page keeps a letter-sized place.
    void read(const quarnkit::QuarnDocument* document);
    // Reads one page again after an edit (left as it was when it cannot be read).
    void readPage(const quarnkit::QuarnDocument& document, int page);
    // The pages whose sizes differ from `sizes`.
    std::vector<int> changedPages(const std::vector<platform::PdfSize>& sizes) const;
    static constexpr int firstScreenPages = 16; // read at opening, before the rest

    // ------------------------------------------------------------ layout and scale

    quarnkit::PdfDisplayMode mode() const { return mode_; }
    bool asBook() const { return asBook_; }
    // Takes the layout mode; it shows at the next layOut.
    void setMode(quarnkit::PdfDisplayMode mode, bool asBook);
    // Lays the pages out again; in the single-row modes, the row of `currentPage`.
    void layOut(int currentPage);
    // The layout as last laid out.
    const quarnkit::PageLayout& layout() const { return layout_; }
    // Lays out the first row of the single-row modes at the next layOut without a current page.
    void showFirstRow() { layout_.shownRow = 0; }

    // 1 shows a page at one view pixel per point.
    double scale() const { return scale_; }
    void setScale(double scale) { scale_ = scale; }
    // A scale pulled within the zoom ladder's minimum and the maximum.
    double clampScale(double scale) const;
    double maxScale() const { return maxScale_; }
    void setMaxScale(double scale);
    // The size of the page to fit: the current page (else the first); none
    // without pages or for a page not larger than 1 point.
    std::optional<platform::PdfSize> fitPageSize(int currentPage) const;
    // Room the rows keep above and below a page, in points (continuous modes only).
    double rowAllowance() const;
    // The scale that fits the pages into `view`: their width in the continuous
    // modes, a whole page otherwise; the present scale without a page to fit.
    double fitScale(int currentPage, QSizeF view) const;
    // Pixels the pages stand right of centre, to keep their place in the window.
    int heldShift() const { return heldShift_; }
    void setHeldShift(int pixels) { heldShift_ = pixels; }
    // While a place is held: where the content's left edge stands at scroll
    // value 0 (the pages scroll sideways from there).
    int heldLeft() const;
    // The horizontal scroll range, and the scroll value that puts the content
    // point `x` at the view's left edge.
    std::pair<int, int> horizontalRange() const;
    int horizontalValueFor(double x) const;

    // ------------------------------------------------------------ in the viewport

    // The content's size in pixels, and where its top left lies in the viewport.
    QSize contentPixels() const;
    QPointF contentOrigin() const;
    // A page's rectangle in viewport coordinates (empty for no such page).
    QRectF pageRect(int page) const;
    // A page's rectangle in content pixels (from the content's top left).
    QRectF contentRect(int page) const;
    // The page under a viewport point; with `nearest`, the closest page when
    // the point lies between pages.
    std::optional<int> pageAt(QPointF viewportPoint, bool nearest = false) const;
    platform::PdfPoint convertToPage(QPointF viewportPoint, int page) const;
    QPointF convertFromPage(platform::PdfPoint point, int page) const;
    QRectF convertFromPage(const platform::PdfRect& rect, int page) const;
    // The page under a viewport point and the point on it, clamped into the
    // page's box. None off the pages or for pages not larger than 1 point.
    // `page` names the page to use instead of the one under the point.
    std::optional<PagePoint> pagePoint(QPointF viewportPoint, std::optional<int> page = std::nullopt) const;
    // Pages that show, fully or in part, in an area of the viewport, ascending.
    std::vector<int> pagesIn(const QRectF& viewportArea) const;
    // The content is wider than the visible area.
    bool overflowsHorizontally() const;
    // Where a destination lies, in content pixels.
    QPointF contentPoint(const quarnkit::PageDestination& destination) const;

    // A page point and where it shows in the viewport: kept in place across
    // changes of scale and size.
    struct Anchor {
        int page = 0;
        QPointF display; // page display space, points from the page's top left
        QPointF at;      // viewport
    };
    // The point of the current page at the viewport's top left.
    Anchor topLeftAnchor(int currentPage) const;
    // The point under a viewport point, on the page there (else the nearest, else `fallbackPage`).
    Anchor anchorAt(QPointF viewportPoint, int fallbackPage) const;
    // The scroll position, in content pixels, that puts the anchor's point
    // back where it was; none when its page is not laid out.
    std::optional<QPointF> scrollFor(const Anchor& anchor) const;

private:
    const QAbstractScrollArea& area_;
    std::vector<quarnkit::PageGeometry> geometries_;
    quarnkit::PageLayout layout_;
    quarnkit::PdfDisplayMode mode_ = quarnkit::PdfDisplayMode::singlePageContinuous;
    bool asBook_ = false;
    double scale_ = 1.0;
    double maxScale_ = quarnkit::ZoomLevel::maximum;
    int heldShift_ = 0;
};

} // namespace quarn
