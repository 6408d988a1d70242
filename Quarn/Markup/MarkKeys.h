#pragma once
// The mark keys of a document window (tool letters, swatch digits, Delete,
// the arrow nudges, Return and Escape) wherever the focus is in the window:
// heard through the window's key listener (Shell/WindowEvents.h), a key goes to
// the page view's mark editing when the focus is on a control of the window
// such as the inspector or the marks list. It yields to text fields, where
// the keys are typing, and to the page view itself, which takes its keys as
// they come.
namespace quarn {

class QuarnPDFView;

// The mark keys of `view`'s window, for as long as the view lives.
void listenForMarkKeys(QuarnPDFView& view);

} // namespace quarn
