#pragma once
// The page operations: which pages an operation acts on, rotate, delete,
// move, duplicate, insert (pages of PDFs and images, blank pages) and
// extract, and the names of these operations and of extracted files. Each
// operation that returns an edit has made it on the PDF it was given;
// applying the edit's inverse undoes it. An operation with nothing to act on
// returns none and changes nothing. The document's own pages are edited
// through PageEdits.h, whose undo steps run these operations.
#include "QuarnKit/Pages/PageEdit.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace quarnkit {

// One page of a document that is not (yet) the one being edited; the page
// keeps its document alive.
struct SourcePage {
    std::shared_ptr<const platform::PdfDocument> document;
    int index = 0;
};

namespace PageEditor {

// The longest side, in points, of a page made from an image.
inline constexpr double maxImageSide = 1224;
// The file-name extensions of the images that become pages (PNG, JPEG, HEIC, HEIF, TIFF).
const QStringList& imageSuffixes();

// The selected pages that exist, else the current page (clamped); none without pages.
std::set<int> targets(const std::set<int>& selected, int current, int count);
// "Rotate Page", "Delete 3 Pages", "Extract 2 Pages…".
QString title(const QString& verb, int count, bool opensPanel);
// "Report page 4.pdf", "Report pages 2-5.pdf", "Report pages 1, 3, 8.pdf", "Report 7 pages.pdf".
QString extractFileName(const QString& base, const std::set<int>& pages);

// By `degrees` (±90), every target getting an entry.
std::optional<PageEdit> rotate(const std::set<int>& indexes, int degrees, platform::PdfDocument& document);
// Throws PageEditError(lastPage) rather than remove every page.
std::optional<PageEdit> deletePages(const std::set<int>& indexes, platform::PdfDocument& document);
// Moves the pages as one block, in their order, to the gap (0: before the
// first page, the count: after the last); none when they would stay put.
std::optional<PageEdit> move(const std::set<int>& indexes, int gap, platform::PdfDocument& document);
// Where `move` puts the pages, without a document.
std::set<int> movedIndexes(const std::set<int>& indexes, int gap);
// Copies of the pages (marks and form fields copied too) right after the last of them.
std::optional<PageEdit> duplicate(const std::set<int>& indexes, platform::PdfDocument& document);
// Pages of other documents at the gap, in order; one graft per source document.
std::optional<PageEdit> insert(const std::vector<SourcePage>& pages, int gap, platform::PdfDocument& document);
// A blank page after `index`, shaped like the page there as it is shown.
PageEdit insertBlank(int index, platform::PdfDocument& document);
// The size of a blank page beside a page of this geometry (612 by 792 without one).
platform::PdfSize blankPageSize(const std::optional<platform::PdfPageGeometry>& neighbour);
// A new document of the pages, in ascending order, with their marks.
std::shared_ptr<platform::PdfDocument> extract(const std::set<int>& indexes, const platform::PdfDocument& document);

// Judged by the name's extension alone: a PDF or an image of imageSuffixes.
bool canInsert(const QString& path);
// The pages a file adds. Throws PageEditError: unsupported (without opening
// the file), unreadable, locked.
std::vector<SourcePage> pages(const QString& path);
// The pages of every file in order, and the description of each file that
// gives none (its PageEditError). Decoding a large image takes seconds: call
// it on a worker, then insert the pages on the document's thread.
struct FilePages {
    std::vector<SourcePage> pages;
    QStringList failures;
};
FilePages pages(const QStringList& paths);
// Every page of a document.
std::vector<SourcePage> copies(const std::shared_ptr<const platform::PdfDocument>& document);
// A one-page document showing the image upright; none when unreadable.
std::shared_ptr<platform::PdfDocument> imagePage(const QString& path);
// The page size of an image: pixels become points, the longest side at most maxImageSide.
platform::PdfSize imagePageSize(platform::PdfSize pixels);

} // namespace PageEditor
} // namespace quarnkit
