#pragma once
// The text of a page as laid out, and selections on it line by line, from
// the characters MuPDF reports in reading order: what a drag, a click or a
// box covers.
#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quarnkit {

// A page's characters with their boxes, in blocks and lines, in reading order.
using PageTextLayout = platform::PdfTextPage;

// The part of one text line a selection covers.
struct SelectedLine {
    std::string text;         // UTF-8
    platform::PdfRect bounds; // union of the covered characters' boxes
};

namespace PageText {

// Called on the application's thread with the page's text as laid out;
// empty for a page whose text cannot be read.
using PageTextDone = std::function<void(const std::shared_ptr<const PageTextLayout>& text)>;
// Reads the text of page `page` on a render worker: on a crafted content
// stream it can take seconds. `done` is dropped once `alive` has expired; the
// worker keeps the PDF it reads, so the document may go meanwhile. `hook`
// runs on the worker before it reads (tests hold it there).
void readLater(const QuarnDocument& document, int page, std::weak_ptr<const void> alive, PageTextDone done,
               std::function<void()> hook = {});
// As readLater, for what is made of the text on the worker as well: `work`
// runs there with the page's text and returns what then runs on the
// application's thread (dropped once `alive` has expired).
using PageTextWork = std::function<std::function<void()>(PageTextLayout&& text)>;
void readOnWorker(const QuarnDocument& document, int page, std::weak_ptr<const void> alive, PageTextWork work,
                  std::function<void()> hook = {});

// The characters from the one nearest `from` to the one nearest `to`, in
// reading order; empty when the page has no text.
std::vector<SelectedLine> between(const platform::PdfTextPage& text, platform::PdfPoint from, platform::PdfPoint to);
// The word under the point; empty over blank space.
std::vector<SelectedLine> wordAt(const platform::PdfTextPage& text, platform::PdfPoint point);
// The characters whose boxes meet the rectangle.
std::vector<SelectedLine> inRect(const platform::PdfTextPage& text, const platform::PdfRect& rect);

} // namespace PageText

} // namespace quarnkit
