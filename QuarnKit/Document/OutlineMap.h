#pragma once
// A PDF's outline (its bookmarks) as plain values for a sidebar list: a tree of
// entries with stable paths, the entries the PDF marks as open, the rows that
// are visible for a set of expanded entries, and the row that holds the page
// being read. Built once from the document; rebuild it after a whole-document
// edit.
#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QString>

#include <optional>
#include <set>
#include <vector>

namespace quarnkit {

// Child positions from the outline root down to an entry: the first top-level
// entry is [0], its third child [0, 2].
using OutlinePath = std::vector<int>;

// Where an entry leads: a page of the document and, when the PDF names one,
// the point on it (user space).
struct OutlineDestination {
    int pageIndex = 0;
    std::optional<platform::PdfPoint> point;
    friend bool operator==(const OutlineDestination&, const OutlineDestination&) = default;
};

struct OutlineEntry {
    OutlinePath path;             // the entry's identity
    QString title;                // trimmed; "Untitled" when empty
    std::optional<int> pageIndex; // none: no destination in this document
    std::optional<OutlineDestination> destination;
    std::vector<OutlineEntry> children;

    const OutlinePath& id() const { return path; }
    friend bool operator==(const OutlineEntry&, const OutlineEntry&) = default;
};

struct OutlineRow {
    OutlineEntry entry;
    int depth = 0; // 0 for top-level entries
    const OutlinePath& id() const { return entry.path; }
    friend bool operator==(const OutlineRow&, const OutlineRow&) = default;
};

class OutlineMap {
public:
    OutlineMap() = default;
    explicit OutlineMap(const platform::PdfDocument& document);
    explicit OutlineMap(const QuarnDocument& document);
    // From an outline already read; `pageCount` bounds the page indices.
    OutlineMap(const std::vector<platform::PdfOutlineItem>& items, int pageCount);

    const std::vector<OutlineEntry>& entries() const { return entries_; }
    // Entries the PDF marks as open that have at least one child.
    const std::set<OutlinePath>& initiallyExpanded() const { return initiallyExpanded_; }
    bool isEmpty() const { return entries_.empty(); }

    // The rows to show, depth first; the children of an entry follow it only
    // when its path is expanded.
    std::vector<OutlineRow> visibleRows(const std::set<OutlinePath>& expanded) const;
    // The entry the page belongs to: of all entries starting at or before the
    // page, the one starting latest; on a tie the later one in outline order.
    std::optional<OutlinePath> current(int pageIndex) const;
    // The visible row that holds the page's entry: the entry itself, or its
    // nearest collapsed ancestor.
    std::optional<OutlinePath> highlighted(int pageIndex, const std::set<OutlinePath>& expanded) const;

private:
    std::vector<OutlineEntry> entries_;
    std::set<OutlinePath> initiallyExpanded_;
};

} // namespace quarnkit
