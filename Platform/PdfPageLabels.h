#pragma once
// The labels a PDF gives its pages ("i", "ii", "A-1", "7"), read from the
// catalog's /PageLabels number tree: ranges that each start at a page and
// number their pages in a style (decimal, upper or lower roman, upper or
// lower letters, or no number) after a prefix, from a start value.
#include "Platform/PdfDocument.h"

#include <string>
#include <vector>

namespace platform {

struct PdfPageLabelRange {
    enum class Style { none, decimal, upperRoman, lowerRoman, upperLetters, lowerLetters };
    int firstPage = 0; // 0-based index of the range's first page
    Style style = Style::none;
    std::string prefix; // UTF-8
    int start = 1;      // the number of the range's first page
    friend bool operator==(const PdfPageLabelRange&, const PdfPageLabelRange&) = default;
};

// The ranges in page order, one per first page; empty without /PageLabels or
// while locked. A damaged tree gives the ranges that could be read.
std::vector<PdfPageLabelRange> pageLabelRanges(const PdfDocument& document);
// The label of a page under the ranges: the prefix and the page's number in
// its range's style; empty when no range covers the page.
std::string pageLabel(const std::vector<PdfPageLabelRange>& ranges, int pageIndex);
// The number `value` in a style: "xiv", "C", "bb", "12"; empty for none.
std::string formatPageNumber(PdfPageLabelRange::Style style, int value);

} // namespace platform
