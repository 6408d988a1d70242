#pragma once
// Text selections on a page, line by line, from the characters MuPDF reports
// in reading order: what a drag, a click or a box covers.
#include "Platform/PdfDocument.h"

#include <string>
#include <vector>

namespace quarnkit {

// The part of one text line a selection covers.
struct SelectedLine {
    std::string text;        // UTF-8
    platform::PdfRect bounds; // union of the covered characters' boxes
};

namespace PageText {

// The characters from the one nearest `from` to the one nearest `to`, in
// reading order; empty when the page has no text.
std::vector<SelectedLine> between(const platform::PdfTextPage& text, platform::PdfPoint from, platform::PdfPoint to);
// The word under the point; empty over blank space.
std::vector<SelectedLine> wordAt(const platform::PdfTextPage& text, platform::PdfPoint point);
// The characters whose boxes meet the rectangle.
std::vector<SelectedLine> inRect(const platform::PdfTextPage& text, const platform::PdfRect& rect);

} // namespace PageText

} // namespace quarnkit
