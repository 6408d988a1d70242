#pragma once
// Building new PDF documents page by page: flattened copies of pages of
// another document, pages made of one image, and copies of pages that keep
// their marks. The exports write their files through here.
#include "Platform/PdfDocument.h"
#include "Platform/PdfMarkVisibility.h"

#include <QImage>

#include <memory>
#include <string>
#include <vector>

namespace platform::PdfWriting {

// Pages of `source` drawn anew as pages of `target`, flattened. Every page
// goes through one graft, so that what the pages share (fonts, pictures,
// their resources) comes once, in its own encoding, however many pages use
// it. The source must not change while it lives (the job's own copy).
class FlattenedCopy {
public:
    // Throws PdfError when `target` is `source`.
    FlattenedCopy(PdfDocument& target, const PdfDocument& source);
    ~FlattenedCopy();
    FlattenedCopy(const FlattenedCopy&) = delete;
    FlattenedCopy& operator=(const FlattenedCopy&) = delete;

    PdfDocument& target() const { return target_; }
    const PdfDocument& source() const { return source_; }

    // Appends a page of `size` points to the target showing page `index` of
    // the source with its annotations and form fields painted in as ordinary
    // page content: the page's content and each annotation's appearance become
    // form objects drawn on the new page, so text stays text in its own fonts
    // and no annotation or field survives as one. Annotations that come
    // without an appearance are drawn as MuPDF draws them, through its PDF
    // output device. Only the marks drawsMark shows for `use` (flatten or
    // print) are painted in; links and popups are left out. `userToPage` maps
    // the source's user space to the new page shown upright (origin at the
    // top left, y down, points). Throws PdfError.
    void appendPage(int index, const PdfMatrix& userToPage, PdfSize size, PdfMarkUse use);

private:
    struct Graft;
    PdfDocument& target_;
    const PdfDocument& source_;
    std::unique_ptr<Graft> graft_;
};

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
