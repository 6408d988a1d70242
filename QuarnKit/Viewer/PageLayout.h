#pragma once
// Where the pages of a document sit in the page view, in page points: one page
// per row, or spreads of two with an optional lone cover; every row, or in the
// non-continuous modes only the row being read.
#include "Platform/PdfGeometry.h"
#include "QuarnKit/Viewer/DisplayModes.h"

#include <QMarginsF>
#include <QRectF>
#include <QSizeF>

#include <optional>
#include <vector>

namespace quarnkit {

struct PageLayout {
    struct Row {
        std::vector<int> pages; // one or two, ascending
        double top = 0;         // points, in content space
        double height = 0;
    };

    // Inputs.
    std::vector<platform::PdfSize> sizes; // display size of every page
    quarnkit::PdfDisplayMode mode = quarnkit::PdfDisplayMode::singlePageContinuous;
    bool asBook = false;
    QMarginsF margins{0, 8, 0, 8}; // around every row; zero without page breaks
    int shownRow = 0;              // the row laid out in the non-continuous modes

    // Results of build().
    std::vector<Row> rows;         // every row of the document
    std::vector<int> rowOfPage;    // index into rows, per page
    std::vector<QRectF> pageRects; // content space, points; empty for pages not laid out
    QSizeF contentSize;            // points

    bool spreads() const;
    bool continuous() const;
    void build();
    // Rows of two pages from `count` pages; with `asBook` page 0 stands alone.
    static std::vector<std::vector<int>> groupRows(int count, bool spreads, bool asBook);

    int rowCount() const { return int(rows.size()); }
    bool isLaidOut(int page) const;
    // The first laid-out row whose bottom lies below `y` (points), or the last.
    int rowAtOrBelow(double y) const;
    // The row being read while the band from `top` to `bottom` (points) is on
    // screen: the first showing at least half of itself or half the band, else
    // the one showing most. A row shown on its own is never passed over for a
    // sliver of the row above it, however the rows' heights differ.
    int rowRead(double top, double bottom) const;
    // Page Down (Page Up, `back`) while `row` is read in the band from `top`
    // to `bottom` (points): where the band's top goes to show more of that
    // row, a screen on and never past the row's edge, while more than `slack`
    // of it lies beyond the band; none when the row shows to its edge, and
    // the key turns to the next row (the previous one).
    std::optional<double> screenWithinRow(int row, double top, double bottom, bool back, double slack) const;
    // Laid-out pages whose rectangle meets `area` (points), ascending.
    std::vector<int> pagesIn(const QRectF& area) const;
    // The laid-out page nearest a point (points), or -1.
    int nearestPage(QPointF point) const;
};

} // namespace quarnkit
