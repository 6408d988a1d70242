#pragma once
// The page view's side of find: the view draws the matches find publishes,
// brings the current one into view, and gives up its text selection and
// takes the keys back when find closes. What the reader selects on the page
// is offered to find as its next query, and Escape in the view closes find.
namespace quarn {

class FindModel;
class QuarnPDFView;

// Subscribes `view` to `find` for as long as both live.
void showFindOnPages(FindModel& find, QuarnPDFView& view);

} // namespace quarn
