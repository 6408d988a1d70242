#pragma once
// Building one document out of pages of others.
#include "Platform/PdfDocument.h"

#include <vector>

namespace platform {

// Appends pages [from, from + count) of `source` after the last page of
// `target`. Objects the copied pages share (fonts, images) are copied once per
// call; page-level annotations are left behind, as they may point at pages
// that are not copied. The layers the pages name come along, shown and
// hidden as `source` shows them (graftPages, PdfPageEditing.h, says how). Both documents must be unlocked. Throws PdfError
// (pageOutOfRange for a range outside `source`). `target` and `source` may be
// the same document.
void appendPages(PdfDocument& target, const PdfDocument& source, int from, int count);

// Removes every page whose index is not in `pages`, keeping the others with
// their annotations, in their order; what led to a page removed loses its
// destination (as removePage says). Indices outside the document are
// ignored. The document must be unlocked. Throws PdfError.
void keepPages(PdfDocument& doc, const std::vector<int>& pages);

// Moves page `from` so that it stands at index `to` afterwards. The page keeps
// its page object, and with it its marks. Throws PdfError (pageOutOfRange for
// an index outside the document, passwordRequired while locked).
void movePage(PdfDocument& document, int from, int to);

} // namespace platform
