#include "QuarnKit/Document/OutlineMap.h"

#include "QuarnKit/Document/DocumentEngine.h"

namespace quarnkit {
namespace {

void build(const std::vector<platform::PdfOutlineItem>& items, const OutlinePath& parent, int pageCount,
           std::vector<OutlineEntry>& out, std::set<OutlinePath>& expanded)
{
    for (int i = 0; i < int(items.size()); ++i) {
        const platform::PdfOutlineItem& item = items[std::size_t(i)];
        OutlineEntry entry;
        entry.path = parent;
        entry.path.push_back(i);
        const QString title = QString::fromStdString(item.title).trimmed();
        entry.title = title.isEmpty() ? QStringLiteral("Untitled") : title;
        // Links to web addresses and named actions resolve to no page.
        if (item.page && *item.page >= 0 && *item.page < pageCount) {
            entry.pageIndex = *item.page;
            entry.destination = OutlineDestination{*item.page, item.point};
        }
        if (item.open && !item.children.empty()) expanded.insert(entry.path);
        build(item.children, entry.path, pageCount, entry.children, expanded);
        out.push_back(std::move(entry));
    }
}

void appendRows(const std::vector<OutlineEntry>& entries, int depth, const std::set<OutlinePath>& expanded,
                std::vector<OutlineRow>& rows)
{
    for (const OutlineEntry& entry : entries) {
        rows.push_back({entry, depth});
        if (expanded.count(entry.path)) appendRows(entry.children, depth + 1, expanded, rows);
    }
}

void findCurrent(const std::vector<OutlineEntry>& entries, int page, const OutlineEntry*& best)
{
    for (const OutlineEntry& entry : entries) {
        // ">=" lets the later of two entries on the same page win.
        if (entry.pageIndex && *entry.pageIndex <= page && (!best || *entry.pageIndex >= *best->pageIndex))
            best = &entry;
        findCurrent(entry.children, page, best);
    }
}

} // namespace

OutlineMap::OutlineMap(const platform::PdfDocument& document) : OutlineMap(document.outline(), document.pageCount()) {}

OutlineMap::OutlineMap(const QuarnDocument& document) : OutlineMap(*pdfOf(document)) {}

OutlineMap::OutlineMap(const std::vector<platform::PdfOutlineItem>& items, int pageCount)
{
    build(items, {}, pageCount, entries_, initiallyExpanded_);
}

std::vector<OutlineRow> OutlineMap::visibleRows(const std::set<OutlinePath>& expanded) const
{
    std::vector<OutlineRow> rows;
    appendRows(entries_, 0, expanded, rows);
    return rows;
}

std::optional<OutlinePath> OutlineMap::current(int pageIndex) const
{
    const OutlineEntry* best = nullptr;
    findCurrent(entries_, pageIndex, best);
    if (!best) return std::nullopt;
    return best->path;
}

std::optional<OutlinePath> OutlineMap::highlighted(int pageIndex, const std::set<OutlinePath>& expanded) const
{
    const std::optional<OutlinePath> path = current(pageIndex);
    if (!path) return std::nullopt;
    for (std::size_t length = 1; length < path->size(); ++length) {
        OutlinePath prefix(path->begin(), path->begin() + std::ptrdiff_t(length));
        if (!expanded.count(prefix)) return prefix;
    }
    return path;
}

} // namespace quarnkit
