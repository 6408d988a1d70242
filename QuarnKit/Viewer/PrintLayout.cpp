#include "QuarnKit/Viewer/PrintLayout.h"

#include <algorithm>
#include <cmath>

namespace quarnkit {

std::vector<int> printedPages(int pageCount, const std::vector<std::pair<int, int>>& ranges)
{
    std::vector<bool> chosen(size_t(std::max(pageCount, 0)), ranges.empty());
    for (const auto& [from, to] : ranges)
        for (int page = std::max(from, 1); page <= std::min(to, pageCount); ++page) chosen[size_t(page - 1)] = true;
    std::vector<int> pages;
    for (int page = 0; page < pageCount; ++page)
        if (chosen[size_t(page)]) pages.push_back(page);
    return pages;
}

PrintPlacement placeOnSheet(platform::PdfSize page, const QRectF& area)
{
    if (!(page.width > 0) || !(page.height > 0) || area.isEmpty()) return {};
    // Square pages (within a point) are never turned.
    const bool turned = (page.width > page.height) != (area.width() > area.height()) &&
                        std::fabs(page.width - page.height) > 1;
    const double width = turned ? page.height : page.width;
    const double height = turned ? page.width : page.height;
    const double fit = std::min(area.width() / width, area.height() / height);
    const QSizeF shown(width * fit, height * fit);
    return {QRectF(area.center() - QPointF(shown.width(), shown.height()) / 2, shown), turned};
}

} // namespace quarnkit
