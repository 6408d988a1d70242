#pragma once
// The page view's side of the page operations: the view commits the words
// being typed before pages change, starts over after they changed, shows the
// pages asked for, tells which page it shows, and puts failures on its window.
namespace quarn {

class PagesModel;
class QuarnPDFView;

// Subscribes `view` to `pages` for as long as both live.
void showPagesOnPages(PagesModel& pages, QuarnPDFView& view);

} // namespace quarn
