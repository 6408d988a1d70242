#include "QuarnKit/Viewer/PageLayout.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarnkit {

using quarnkit::PdfDisplayMode;

bool PageLayout::spreads() const { return mode == PdfDisplayMode::twoUp || mode == PdfDisplayMode::twoUpContinuous; }

bool PageLayout::continuous() const
{
    return mode == PdfDisplayMode::singlePageContinuous || mode == PdfDisplayMode::twoUpContinuous;
}

std::vector<std::vector<int>> PageLayout::groupRows(int count, bool spreads, bool asBook)
{
    std::vector<std::vector<int>> result;
    int page = 0;
    if (spreads && asBook && count > 0) result.push_back({page++});
    while (page < count) {
        if (spreads && page + 1 < count) {
            result.push_back({page, page + 1});
            page += 2;
        } else {
            result.push_back({page++});
        }
    }
    return result;
}

void PageLayout::build()
{
    const int count = int(sizes.size());
    const bool twoUp = spreads();
    rows.clear();
    rowOfPage.assign(count, 0);
    pageRects.assign(count, QRectF());

    for (const std::vector<int>& pages : groupRows(count, twoUp, asBook)) {
        Row row;
        row.pages = pages;
        for (int page : pages) {
            row.height = std::max(row.height, sizes[page].height);
            rowOfPage[page] = int(rows.size());
        }
        rows.push_back(std::move(row));
    }
    shownRow = rows.empty() ? 0 : std::clamp(shownRow, 0, int(rows.size()) - 1);

    // Spreads share one spine: left pages end at it, right pages start at it,
    // so that a lone cover or last page keeps its side of the book.
    double widest = 0;
    for (const platform::PdfSize& size : sizes) widest = std::max(widest, size.width);
    const double gap = quarnkit::ZoomLevel::spreadGap;
    const double innerWidth = twoUp ? 2 * widest + gap : widest;
    const double spine = margins.left() + widest + gap / 2;
    const double centre = margins.left() + innerWidth / 2;

    double y = 0;
    for (int r = 0; r < int(rows.size()); ++r) {
        Row& row = rows[r];
        const bool laidOut = continuous() || r == shownRow;
        if (!laidOut) continue;
        y += margins.top();
        row.top = y;
        for (int page : row.pages) {
            const platform::PdfSize size = sizes[page];
            double x;
            if (!twoUp) {
                x = centre - size.width / 2;
            } else {
                // In a book the cover and then every odd page sit on the right.
                const bool right = asBook ? page % 2 == 0 : page % 2 == 1;
                x = right ? spine + gap / 2 : spine - gap / 2 - size.width;
            }
            pageRects[page] = QRectF(x, y + (row.height - size.height) / 2, size.width, size.height);
        }
        y += row.height + margins.bottom();
    }
    contentSize = QSizeF(innerWidth + margins.left() + margins.right(), y);
}

bool PageLayout::isLaidOut(int page) const
{
    return page >= 0 && page < int(pageRects.size()) && !pageRects[page].isEmpty();
}

int PageLayout::rowAtOrBelow(double y) const
{
    if (rows.empty()) return -1;
    if (!continuous()) return shownRow;
    // Rows are laid out top to bottom: binary search on their bottoms.
    int lo = 0, hi = int(rows.size()) - 1;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (rows[mid].top + rows[mid].height > y) hi = mid;
        else lo = mid + 1;
    }
    return lo;
}

int PageLayout::rowRead(double top, double bottom) const
{
    if (rows.empty()) return -1;
    if (!continuous()) return shownRow;
    const int first = rowAtOrBelow(top);
    const double band = std::max(bottom - top, 0.0);
    int most = first;
    double mostShown = -1;
    for (int r = first; r < int(rows.size()) && rows[r].top < bottom; ++r) {
        const Row& row = rows[r];
        const double shown = std::min(bottom, row.top + row.height) - std::max(top, row.top);
        if (shown >= 0.5 * std::min(row.height, band)) return r;
        if (shown > mostShown) {
            mostShown = shown;
            most = r;
        }
    }
    return most;
}

std::optional<double> PageLayout::screenWithinRow(int row, double top, double bottom, bool back, double slack) const
{
    if (row < 0 || row >= rowCount()) return std::nullopt;
    const Row& read = rows[row];
    const double band = bottom - top;
    if (back) {
        if (read.top >= top - slack) return std::nullopt;
        return std::max(top - band, read.top);
    }
    const double end = read.top + read.height;
    if (end <= bottom + slack) return std::nullopt;
    return std::min(top + band, end - band);
}

std::vector<int> PageLayout::pagesIn(const QRectF& area) const
{
    std::vector<int> result;
    if (rows.empty()) return result;
    const int first = continuous() ? rowAtOrBelow(area.top()) : shownRow;
    const int last = continuous() ? int(rows.size()) - 1 : shownRow;
    for (int r = first; r <= last; ++r) {
        const Row& row = rows[r];
        if (row.top > area.bottom()) break;
        for (int page : row.pages)
            if (pageRects[page].intersects(area)) result.push_back(page);
    }
    return result;
}

int PageLayout::nearestPage(QPointF point) const
{
    if (rows.empty()) return -1;
    const int around = continuous() ? rowAtOrBelow(point.y()) : shownRow;
    int best = -1;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (int r = std::max(0, around - 1); r <= std::min(int(rows.size()) - 1, around + 1); ++r) {
        for (int page : rows[r].pages) {
            const QRectF& rect = pageRects[page];
            if (rect.isEmpty()) continue;
            const double dx = std::max({rect.left() - point.x(), 0.0, point.x() - rect.right()});
            const double dy = std::max({rect.top() - point.y(), 0.0, point.y() - rect.bottom()});
            const double distance = std::hypot(dx, dy);
            if (distance < bestDistance) bestDistance = distance, best = page;
        }
    }
    return best;
}

} // namespace quarnkit
