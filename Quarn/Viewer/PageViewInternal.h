#pragma once
// What the page view's source files share: the text cache of pages and small
// conversions. Included only by the page view's own sources.
#include "Quarn/Viewer/QuarnPDFView.h"

#include <algorithm>
#include <list>
#include <memory>
#include <utility>
#include <vector>

namespace quarn {

namespace pageview {

using platform::PdfPoint;
using platform::PdfRect;

inline constexpr int keptTextPages = 24;

inline QPointF toQt(PdfPoint p) { return {p.x, p.y}; }

inline PdfPoint clampInto(PdfPoint p, const PdfRect& box)
{
    return {std::clamp(p.x, box.minX(), std::max(box.minX(), box.maxX())),
            std::clamp(p.y, box.minY(), std::max(box.minY(), box.maxY()))};
}

} // namespace pageview

// The text of one page, flattened into reading order for hit testing and selection.
struct QuarnPDFView::TextCache {
    struct Char {
        char32_t code = 0;
        platform::PdfQuad quad;
        platform::PdfRect box;
        int line = 0;       // running line number on the page
        bool lineEnd = false;
    };
    std::vector<Char> chars;
};

struct QuarnPDFView::TextPages {
    std::list<std::pair<int, std::unique_ptr<TextCache>>> pages; // front: most recent
};

} // namespace quarn
