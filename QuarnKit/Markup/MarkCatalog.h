#pragma once
// Which annotations are marks and of which kind, the style read back from a
// mark, and the marks of a page or a document as list entries in reading order.
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Markup/MarkupTool.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace quarnkit {

using platform::PdfAnnotation;

struct MarkEntry {
    PdfAnnotation annotation;
    int pageIndex = 0;
    MarkKind kind = MarkKind::drawing;
    QString snippet; // one line, at most 240 characters
    RGBA color;      // opaque

    // Stays the same for the same mark across rebuilds of the list.
    qint64 id() const { return (qint64(pageIndex) << 32) | quint32(annotation.objectNumber); }
};

struct MarkGroup {
    int pageIndex = 0;
    std::vector<MarkEntry> entries; // never empty

    int id() const { return pageIndex; }
};

namespace MarkCatalog {

// The kind of mark, or none for links, widgets, popups, stamps and the rest.
std::optional<MarkKind> kind(const PdfAnnotation& annotation);
// The style of an existing mark, or none when it is no mark.
std::optional<MarkStyle> style(const PdfAnnotation& annotation);

std::vector<MarkEntry> entries(const platform::PdfDocument& doc, int pageIndex);
std::vector<MarkEntry> entries(const QuarnDocument& document, int pageIndex);
// Every page's entries in page order; pages that cannot be read are skipped.
std::vector<MarkEntry> entries(const platform::PdfDocument& doc);
std::vector<MarkGroup> groups(const platform::PdfDocument& doc);
// Every page's marks and the page count they were read at, as a job that a
// worker may run: it holds the PDF while it reads.
struct Catalog {
    std::vector<MarkGroup> groups;
    int pages = -1;
};
std::function<Catalog()> readingJob(const QuarnDocument& document);
// The page text under a text-markup mark, white space collapsed; none when empty.
std::optional<QString> words(const PdfAnnotation& annotation, const platform::PdfTextPage& text);

// Text split at white space and line breaks and joined by single spaces.
QString collapsed(const QString& text); // also without U+FFFD, the mark of an unmapped glyph

} // namespace MarkCatalog

} // namespace quarnkit
