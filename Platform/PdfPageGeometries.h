#pragma once
// Every page's geometry at once, read from the page objects without loading
// the pages: what a view needs to lay out a long document quickly.
#include "Platform/PdfDocument.h"

#include <optional>
#include <vector>

namespace platform {

// One entry per page, equal to PdfDocument::pageGeometry of that page; none
// for a page whose object cannot be read. Empty while the document is locked.
std::vector<std::optional<PdfPageGeometry>> pageGeometries(const PdfDocument& document);

} // namespace platform
