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

// A long document opens without reading every page object (a few thousand
// take longer than rendering the first page): until its page map is built,
// by mapPages or by the first call that needs every page, only its first
// pages are known.
bool pagesMapped(const PdfDocument& document);
// Builds the page map of a document opened without it; for a worker, as it
// holds the document for as long as reading every page object takes.
void mapPages(const PdfDocument& document);
// What a first screen needs: pageGeometries once the pages are mapped; before,
// the geometries of the first `first` pages as MuPDF finds them, and page 1's
// standing in for every other page's until the map is built.
std::vector<std::optional<PdfPageGeometry>> firstPageGeometries(const PdfDocument& document, int first);

} // namespace platform
