#pragma once
// Plain geometry in PDF user space: points, origin at the lower left, y up.
#include <algorithm>
#include <cmath>

namespace platform {

struct PdfPoint {
    double x = 0, y = 0;
    friend bool operator==(const PdfPoint&, const PdfPoint&) = default;
};

struct PdfSize {
    double width = 0, height = 0;
    friend bool operator==(const PdfSize&, const PdfSize&) = default;
};

struct PdfRect {
    double x = 0, y = 0, width = 0, height = 0;

    double minX() const { return x; }
    double minY() const { return y; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    double midX() const { return x + width / 2; }
    double midY() const { return y + height / 2; }
    bool isEmpty() const { return !(width > 0) || !(height > 0); }
    bool contains(PdfPoint p) const { return p.x >= x && p.x <= maxX() && p.y >= y && p.y <= maxY(); }
    bool intersects(const PdfRect& o) const { return x < o.maxX() && o.x < maxX() && y < o.maxY() && o.y < maxY(); }
    PdfRect united(const PdfRect& o) const
    {
        if (isEmpty()) return o;
        if (o.isEmpty()) return *this;
        const double x0 = std::min(x, o.x), y0 = std::min(y, o.y);
        return {x0, y0, std::max(maxX(), o.maxX()) - x0, std::max(maxY(), o.maxY()) - y0};
    }
    PdfRect insetBy(double dx, double dy) const { return {x + dx, y + dy, width - 2 * dx, height - 2 * dy}; }
    static PdfRect fromCorners(PdfPoint a, PdfPoint b)
    {
        return {std::min(a.x, b.x), std::min(a.y, b.y), std::fabs(a.x - b.x), std::fabs(a.y - b.y)};
    }
    friend bool operator==(const PdfRect&, const PdfRect&) = default;
};

// Four corners in the order MuPDF and the PDF QuadPoints array use:
// upper left, upper right, lower left, lower right (of the glyph as read).
struct PdfQuad {
    PdfPoint ul, ur, ll, lr;
    PdfRect bounds() const
    {
        const double x0 = std::min({ul.x, ur.x, ll.x, lr.x}), x1 = std::max({ul.x, ur.x, ll.x, lr.x});
        const double y0 = std::min({ul.y, ur.y, ll.y, lr.y}), y1 = std::max({ul.y, ur.y, ll.y, lr.y});
        return {x0, y0, x1 - x0, y1 - y0};
    }
    friend bool operator==(const PdfQuad&, const PdfQuad&) = default;
};

} // namespace platform
