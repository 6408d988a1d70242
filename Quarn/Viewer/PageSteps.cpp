#include "Quarn/Viewer/PageSteps.h"

#include "Quarn/Viewer/QuarnPDFView.h"

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
