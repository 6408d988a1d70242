#pragma once
// Small conversions the page view's source files share. Included only by
// the page view's own sources.
#include "Quarn/Viewer/QuarnPDFView.h"

#include <algorithm>

namespace quarn {

namespace pageview {

using platform::PdfPoint;
using platform::PdfRect;

inline QPointF toQt(PdfPoint p) { return {p.x, p.y}; }

inline PdfPoint clampInto(PdfPoint p, const PdfRect& box)
{
    return {std::clamp(p.x, box.minX(), std::max(box.minX(), box.maxX())),
            std::clamp(p.y, box.minY(), std::max(box.minY(), box.maxY()))};
}

} // namespace pageview

} // namespace quarn
