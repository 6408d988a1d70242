#pragma once
// Steps through a page view, as the Go and View menus, the keys, the wheel
// and the status bar take them: a page forward or back (a spread in the
// two-page modes), a screen, the first and the last page, a zoom step in or out. The
// page steps are not recorded in the back/forward history.
namespace quarn {

class QuarnPDFView;

bool canGoToNextPage(const QuarnPDFView& view);
bool canGoToPreviousPage(const QuarnPDFView& view);
void goToNextPage(QuarnPDFView& view);
void goToPreviousPage(QuarnPDFView& view);
// Page Down and Space (Page Up and Shift+Space, `back`): the rest of the row
// being read, a screen at a time, then the next row from its top (the
// previous row from its last screen), so that every page is read in turn.
void turnScreen(QuarnPDFView& view, bool back);
void goToFirstPage(QuarnPDFView& view);
void goToLastPage(QuarnPDFView& view);
// The next scale of the zoom ladder, up or down.
void zoomIn(QuarnPDFView& view);
void zoomOut(QuarnPDFView& view);

} // namespace quarn
