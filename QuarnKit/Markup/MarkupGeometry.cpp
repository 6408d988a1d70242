#include "QuarnKit/Markup/MarkupGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quarnkit {

PdfPoint handlePoint(MarkHandle handle, const PdfRect& r)
{
    switch (handle) {
    case MarkHandle::topLeft: return {r.minX(), r.maxY()};
    case MarkHandle::top: return {r.midX(), r.maxY()};
    case MarkHandle::topRight: return {r.maxX(), r.maxY()};
    case MarkHandle::right: return {r.maxX(), r.midY()};
    case MarkHandle::bottomRight: return {r.maxX(), r.minY()};
    case MarkHandle::bottom: return {r.midX(), r.minY()};
    case MarkHandle::bottomLeft: return {r.minX(), r.minY()};
    case MarkHandle::left: return {r.minX(), r.midY()};
    default: return {r.midX(), r.midY()};
    }
}

namespace MarkupGeometry {

PdfRect bounds(const std::vector<PdfPoint>& points, double pad)
{
    if (points.empty()) return {};
    double x0 = points[0].x, x1 = x0, y0 = points[0].y, y1 = y0;
    for (const auto& p : points) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    return {x0 - pad, y0 - pad, x1 - x0 + 2 * pad, y1 - y0 + 2 * pad};
}

double length(PdfPoint a, PdfPoint b) { return std::hypot(b.x - a.x, b.y - a.y); }

PdfRect rect(PdfPoint a, PdfPoint b) { return PdfRect::fromCorners(a, b); }

PdfPoint snapAngle(PdfPoint a, PdfPoint b)
{
    const double d = length(a, b);
    if (d <= 0.001) return b;
    constexpr double step = std::numbers::pi / 4;
    const double snapped = std::round(std::atan2(b.y - a.y, b.x - a.x) / step) * step; // halves away from zero
    return {a.x + d * std::cos(snapped), a.y + d * std::sin(snapped)};
}

PdfPoint snapSquare(PdfPoint a, PdfPoint b)
{
    const double side = std::max(std::fabs(b.x - a.x), std::fabs(b.y - a.y));
    const double sx = b.x - a.x < 0 ? -1 : 1, sy = b.y - a.y < 0 ? -1 : 1;
    return {a.x + sx * side, a.y + sy * side};
}

PdfRect lineBounds(PdfPoint from, PdfPoint to, double width, bool head)
{
    const double pad = head ? std::max(6 * width, 18.0) : std::max(2 * width + 2, 6.0);
    return bounds({from, to}, pad);
}

PdfRect clamp(const PdfRect& r, const PdfRect& area)
{
    PdfRect out = r;
    out.x = area.width > r.width ? std::min(std::max(r.minX(), area.minX()), area.maxX() - r.width) : area.minX();
    out.y = area.height > r.height ? std::min(std::max(r.minY(), area.minY()), area.maxY() - r.height) : area.minY();
    return out;
}

double distanceToSegment(PdfPoint p, PdfPoint a, PdfPoint b)
{
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    if (len2 <= 0) return length(p, a);
    const double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0, 1.0);
    return length(p, {a.x + t * dx, a.y + t * dy});
}

PdfRect resize(const PdfRect& rect, MarkHandle handle, PdfPoint to, bool keepAspect, double minSize)
{
    const PdfRect r = PdfRect::fromCorners({rect.minX(), rect.minY()}, {rect.maxX(), rect.maxY()});
    const double aspect = r.height > 0 ? r.width / r.height : 1;
    switch (handle) {
    case MarkHandle::start:
    case MarkHandle::end: return r;
    case MarkHandle::topLeft:
    case MarkHandle::topRight:
    case MarkHandle::bottomRight:
    case MarkHandle::bottomLeft: {
        const bool towardsLeft = handle == MarkHandle::topLeft || handle == MarkHandle::bottomLeft;
        const bool towardsTop = handle == MarkHandle::topLeft || handle == MarkHandle::topRight;
        const double fx = towardsLeft ? r.maxX() : r.minX(), fy = towardsTop ? r.minY() : r.maxY();
        const double w = towardsLeft ? fx - to.x : to.x - fx;
        const double h = towardsTop ? to.y - fy : fy - to.y;
        double nw = std::max(w, minSize), nh = std::max(h, minSize);
        if (keepAspect && aspect != 0) {
            const double hc = nw / aspect;
            if (hc > nh) nh = hc;
            else nw = aspect * nh;
        }
        return {towardsLeft ? fx - nw : fx, towardsTop ? fy : fy - nh, nw, nh};
    }
    case MarkHandle::left:
    case MarkHandle::right: {
        const bool towardsLeft = handle == MarkHandle::left;
        const double fixed = towardsLeft ? r.maxX() : r.minX();
        const double w = std::max(towardsLeft ? fixed - to.x : to.x - fixed, minSize);
        const double h = keepAspect && aspect > 0 ? w / aspect : r.height;
        return {towardsLeft ? fixed - w : fixed, r.midY() - h / 2, w, h};
    }
    case MarkHandle::top:
    case MarkHandle::bottom: {
        const bool towardsTop = handle == MarkHandle::top;
        const double fixed = towardsTop ? r.minY() : r.maxY();
        const double h = std::max(towardsTop ? to.y - fixed : fixed - to.y, minSize);
        const double w = keepAspect ? aspect * h : r.width;
        return {r.midX() - w / 2, towardsTop ? fixed : fixed - h, w, h};
    }
    }
    return r;
}

namespace {

// The first offset in steps of (step, -step) at which no rect of `rects`
// collides with one of `avoiding`, kept inside `area`.
template <typename Collides>
PdfPoint stepOff(const std::vector<PdfRect>& rects, const std::vector<PdfRect>& avoiding, double step,
                 const PdfRect& area, Collides collides)
{
    if (rects.empty()) return {0, 0};
    PdfRect u = rects[0];
    for (const auto& r : rects) {
        const double x0 = std::min(u.minX(), r.minX()), y0 = std::min(u.minY(), r.minY());
        u = {x0, y0, std::max(u.maxX(), r.maxX()) - x0, std::max(u.maxY(), r.maxY()) - y0};
    }
    PdfPoint candidate{0, 0}, used{0, 0};
    for (int round = 0; round < 64; ++round) {
        const PdfRect moved{u.x + candidate.x, u.y + candidate.y, u.width, u.height};
        const PdfRect clamped = clamp(moved, area);
        used = {clamped.x - u.x, clamped.y - u.y};
        const bool collide = std::any_of(rects.begin(), rects.end(), [&](const PdfRect& r) {
            const PdfRect m{r.x + used.x, r.y + used.y, r.width, r.height};
            return std::any_of(avoiding.begin(), avoiding.end(), [&](const PdfRect& o) { return collides(m, o); });
        });
        if (!collide) return used;
        candidate = {used.x + step, used.y - step};
    }
    // Every spot is taken (a pile of 64): stay on the page rather than step
    // off it, where the marks could no longer be seen or picked.
    return used;
}

} // namespace

PdfPoint pasteOffset(const std::vector<PdfRect>& rects, const std::vector<PdfRect>& avoiding, double step,
                     const PdfRect& area)
{
    return stepOff(rects, avoiding, step, area, [](const PdfRect& a, const PdfRect& b) {
        return std::fabs(a.x - b.x) < 0.5 && std::fabs(a.y - b.y) < 0.5 && std::fabs(a.width - b.width) < 0.5
               && std::fabs(a.height - b.height) < 0.5;
    });
}

PdfPoint clearOffset(const PdfRect& rect, const std::vector<PdfRect>& avoiding, double step, const PdfRect& area)
{
    return stepOff({rect}, avoiding, step, area, [](const PdfRect& a, const PdfRect& b) { return a.intersects(b); });
}

PdfRect pasteBounds(const PdfRect& rect, const std::vector<PdfRect>& avoiding, double step, const PdfRect& area)
{
    const PdfPoint d = pasteOffset({rect}, avoiding, step, area);
    return {rect.x + d.x, rect.y + d.y, rect.width, rect.height};
}

} // namespace MarkupGeometry

} // namespace quarnkit
