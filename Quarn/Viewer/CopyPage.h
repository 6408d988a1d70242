#pragma once
// Copy Page: the page being read (else the first) of a page view's document,
// drawn at twice its size in points, as an image on the clipboard.
namespace quarn {

class QuarnPDFView;

void copyPage(QuarnPDFView& view);

} // namespace quarn
