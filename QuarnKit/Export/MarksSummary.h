#pragma once
// The marks of a document as the exports see them: counts per page for the
// export sheet (MarkCensus), the Markdown list of the "Marks summary" format
// (MarksSummary) and the colour words of that list (ColorName). All read the
// document's current annotations and change nothing.
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Shell/RGBA.h"

#include <QString>

#include <optional>
#include <vector>

namespace quarnkit {

struct MarkCensus {
    std::vector<int> marks;      // per page index: annotations that are marks
    std::vector<int> redactions; // per page index: redaction marks

    MarkCensus() = default;
    explicit MarkCensus(const platform::PdfDocument& doc);
    explicit MarkCensus(const QuarnDocument& document);

    bool hasMarks() const;
    bool hasRedactions() const;
    // Sums over the distinct listed pages; pages outside the census count 0.
    int marksIn(const std::vector<int>& pages) const;
    int redactionsIn(const std::vector<int>& pages) const;
    // How many distinct listed pages have at least one.
    int pagesWithMarksIn(const std::vector<int>& pages) const;
    int pagesWithRedactionsIn(const std::vector<int>& pages) const;

    friend bool operator==(const MarkCensus&, const MarkCensus&) = default;
};

struct SummaryEntry {
    int page = 0; // 0-based
    QString kind; // the kind's title: "Highlight", …
    QString colorName;
    std::optional<QString> excerpt; // the words under a text mark
    std::optional<QString> note;    // the mark's own text, trimmed

    friend bool operator==(const SummaryEntry&, const SummaryEntry&) = default;
};

namespace MarksSummary {

// The title of the annotation's mark kind; none when it is no mark.
std::optional<QString> kind(const platform::PdfAnnotation& annotation);
// The marks on the listed pages; a page listed twice counts twice.
int count(const platform::PdfDocument& doc, const std::vector<int>& pages);
// Each listed page once, in ascending order, its marks in reading order.
std::vector<SummaryEntry> entries(const platform::PdfDocument& doc, const std::vector<int>& pages);
// The Markdown document listing those entries under "# Marks in <title>".
QString markdown(const platform::PdfDocument& doc, const std::vector<int>& pages, const QString& title);
// The text with Markdown's active characters \ ` * _ [ ] < # escaped.
QString escaped(const QString& text);

} // namespace MarksSummary

namespace ColorName {
// A short English word for a mark's colour: a palette name when it is within
// 0.04 of one, else a hue word, "Black", "White" or "Gray"; "No color" for none.
QString describe(const std::optional<RGBA>& color);
} // namespace ColorName

} // namespace quarnkit
