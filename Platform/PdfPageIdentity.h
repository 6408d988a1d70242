#pragma once
// Pages known by their page object. An index changes when pages move; the
// page object (object number and generation) stays with the page, so
// anything that refers to a page later keeps the object and looks its index
// up when it is used.
#include "Platform/PdfDocument.h"

#include <compare>
#include <optional>
#include <vector>

namespace platform {

struct PdfPageId {
    int object = 0; // 0: no page
    int generation = 0;
    explicit operator bool() const { return object > 0; }
    friend auto operator<=>(const PdfPageId&, const PdfPageId&) = default;
};

// The page object of a page. Throws PdfError (pageOutOfRange, passwordRequired).
PdfPageId pageId(const PdfDocument& document, int index);
// The page objects of every page in order; empty while locked.
std::vector<PdfPageId> pageIds(const PdfDocument& document);
// Where the page stands now; none when it is no page of the document any more.
std::optional<int> pageIndex(const PdfDocument& document, PdfPageId page);

} // namespace platform
