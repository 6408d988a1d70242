#include "Quarn/Viewer/PageSteps.h"

#include "Quarn/Viewer/QuarnPDFView.h"

#include <QScrollBar>

#include <cmath>

namespace quarn {

namespace {

// The pages of the row the current page is in.
const std::vector<int>& currentRow(const QuarnPDFView& view)
{
    const quarnkit::PageLayout& layout = view.placement().layout();
    return layout.rows[layout.rowOfPage[view.currentPageIndex()]].pages;
}

void goToTopOf(QuarnPDFView& view, int page)
{
    view.goToDestination(quarnkit::PageJump::top(page, *view.placement().geometry(page)), false);
}

// The band of content the view shows, top and bottom, in points.
std::pair<double, double> shownBand(const QuarnPDFView& view)
{
    const double top = -view.placement().contentOrigin().y() / view.scaleFactor();
    return {top, top + view.viewport()->height() / view.scaleFactor()};
}

void scrollBandTo(QuarnPDFView& view, double top)
{
    view.verticalScrollBar()->setValue(int(std::lround(top * view.scaleFactor())));
}

} // namespace

bool canGoToNextPage(const QuarnPDFView& view)
{
    if (view.currentPageIndex() < 0) return false;
    return currentRow(view).back() + 1 < view.pageCount();
}

bool canGoToPreviousPage(const QuarnPDFView& view)
{
    if (view.currentPageIndex() < 0) return false;
    return currentRow(view).front() > 0;
}

void goToNextPage(QuarnPDFView& view)
{
    if (!canGoToNextPage(view)) return;
    goToTopOf(view, currentRow(view).back() + 1);
}

void goToPreviousPage(QuarnPDFView& view)
{
    if (!canGoToPreviousPage(view)) return;
    const quarnkit::PageLayout& layout = view.placement().layout();
    const int row = layout.rowOfPage[view.currentPageIndex()] - 1;
    goToTopOf(view, layout.rows[row].pages.front());
}

void turnScreen(QuarnPDFView& view, bool back)
{
    const int page = view.currentPageIndex();
    if (page < 0) return;
    const quarnkit::PageLayout& layout = view.placement().layout();
    const auto [top, bottom] = shownBand(view);
    // A pixel short of the row's edge counts as its edge: scroll values are whole pixels.
    const double pixel = 1 / view.scaleFactor();
    if (const auto to = layout.screenWithinRow(layout.rowOfPage[page], top, bottom, back, pixel)) {
        scrollBandTo(view, *to);
        return;
    }
    if (!back) {
        goToNextPage(view);
        return;
    }
    if (!canGoToPreviousPage(view)) return;
    goToPreviousPage(view);
    const auto& row = layout.rows[layout.rowOfPage[view.currentPageIndex()]];
    const auto [rowTop, rowBottom] = shownBand(view);
    if (row.top + row.height > rowBottom + pixel) scrollBandTo(view, row.top + row.height - (rowBottom - rowTop));
}

void goToFirstPage(QuarnPDFView& view)
{
    if (view.pageCount() > 0) goToTopOf(view, 0);
}

void goToLastPage(QuarnPDFView& view)
{
    if (view.pageCount() > 0) goToTopOf(view, view.pageCount() - 1);
}

void zoomIn(QuarnPDFView& view) { view.setScaleFactor(quarnkit::ZoomLevel::step(view.scaleFactor(), true)); }

void zoomOut(QuarnPDFView& view) { view.setScaleFactor(quarnkit::ZoomLevel::step(view.scaleFactor(), false)); }

} // namespace quarn
