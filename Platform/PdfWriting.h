#pragma once
// Building new PDF documents page by page: flattened copies of pages of
// another document, pages made of one image, and copies of pages that keep
// their marks. The exports write their files through here.
#include "Platform/PdfDocument.h"
#include "Platform/PdfMarkVisibility.h"

#include <QImage>

#include <string>
#include <vector>

namespace platform::PdfWriting {

// Appends a page of `size` points to `target` showing page `index` of
// `source` with its annotations and form fields painted in as ordinary page
// content: the page's content and each annotation's appearance become form
// objects drawn on the new page, so text stays text in its own fonts and no
// annotation or field survives as one. Annotations that come without an
// appearance are drawn as MuPDF draws them, through its PDF output device.
// Only the marks drawsMark shows for `use` (flatten or print) are painted
// in; links and popups are left out. `userToPage` maps the source's user
// space to the new page shown upright (origin at the top left, y down,
// points). Throws PdfError.
void appendFlattenedPage(PdfDocument& target, const PdfDocument& source, int index, const PdfMatrix& userToPage,
                         PdfSize size, PdfMarkUse use);

// Appends a page of `size` points that shows `image` stretched over all of
// it, and nothing else. Throws PdfError.
void appendImagePage(PdfDocument& target, const QImage& image, PdfSize size);

// Appends copies of the listed pages of `source` in list order (a repeated
// index gives a repeated page) with their marks and form fields. A field
// comes as a field of the target's form with its value and the widgets it
// has on the pages copied; a signature field stays behind (its signature
// covers the source's bytes), and so do links, popups and whatever of a
// mark or field leads to other pages (an action's destination). Returns how
// many signature widgets stayed behind on the pages copied.
// Throws PdfError (pageOutOfRange for an index outside `source`).
int appendPagesWithMarks(PdfDocument& target, const PdfDocument& source, const std::vector<int>& pages);

// A line of text and where it goes: `textToUser` maps text space (font size
// 1, x along the line, y up) to the page's user space.
struct PdfTextRun {
    std::string utf8;
    PdfMatrix textToUser;
};

// Adds the runs to the page as invisible Helvetica text (render mode 3)
// after its content, which is kept in a saved graphics state: readers find
// and select the words, nothing is drawn. Characters outside Latin-1 become
// "?". Throws PdfError.
void appendInvisibleText(PdfDocument& doc, int page, const std::vector<PdfTextRun>& runs);

} // namespace platform::PdfWriting
