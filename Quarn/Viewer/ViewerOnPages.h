#pragma once
// The page view's side of the viewer model: the view carries out what the
// model asks (a layout, a scale, a fit, a page, the keyboard, a slideshow)
// and reports what it shows (the page and count, the scale, the reading
// point, the back/forward state, files dropped on it). The keys that turn
// pages are heard here too, wherever the focus is in the window.
class QKeyEvent;
class QObject;

namespace quarn {

class QuarnPDFView;
class ViewerModel;

// Subscribes `view` to `model` for as long as both live; the model links the view.
void showViewerOnPages(ViewerModel& model, QuarnPDFView& view);
// Lays the view out in the model's display mode; the first time for this
// view, also has the model restore its reading position once the view is ready.
void attachViewerToPages(ViewerModel& model, QuarnPDFView& view);
// The rule of the page keys: true when a key event turned a page (and must go no further).
bool handlePageKey(QuarnPDFView& view, QKeyEvent* event, QObject* receiver);

} // namespace quarn
