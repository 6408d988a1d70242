#include "QuarnKit/Markup/InkStroke.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quarnkit {

using platform::PdfPoint;

namespace {

double dist(PdfPoint a, PdfPoint b) { return std::hypot(b.x - a.x, b.y - a.y); }

double segmentDistance(PdfPoint p, PdfPoint a, PdfPoint b)
{
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    if (len2 <= 0) return dist(p, a);
    const double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0, 1.0);
    return dist(p, {a.x + t * dx, a.y + t * dy});
}

} // namespace

namespace InkStroke {

std::vector<PdfPoint> points(const std::vector<PdfPoint>& raw, double tol) { return simplify(smooth(raw), tol); }

std::vector<PdfPoint> smooth(const std::vector<PdfPoint>& p)
{
    const size_t n = p.size();
    if (n < 3) return p;
    std::vector<PdfPoint> out{p[0]};
    PdfPoint start = p[0];
    for (size_t i = 1; i + 1 < n; ++i) {
        const PdfPoint control = p[i];
        const PdfPoint end = i == n - 2 ? p[n - 1] : PdfPoint{(p[i].x + p[i + 1].x) / 2, (p[i].y + p[i + 1].y) / 2};
        const int k = int(std::min(std::max(std::ceil((dist(start, control) + dist(control, end)) * 0.5), 2.0), 16.0));
        for (int j = 1; j <= k; ++j) {
            const double t = double(j) / k, u = 1 - t;
            out.push_back({u * u * start.x + 2 * t * u * control.x + t * t * end.x,
                           u * u * start.y + 2 * t * u * control.y + t * t * end.y});
        }
        start = end;
    }
    out.back() = p[n - 1]; // exactly, whatever the rounding
    return out;
}

std::vector<PdfPoint> simplify(const std::vector<PdfPoint>& p, double tol)
{
    const size_t n = p.size();
    if (n < 3) return p;
    std::vector<bool> keep(n, false);
    keep[0] = keep[n - 1] = true;
    std::vector<std::pair<size_t, size_t>> stack{{0, n - 1}};
    while (!stack.empty()) {
        const auto [a, b] = stack.back();
        stack.pop_back();
        if (b <= a + 1) continue;
        double best = -1;
        size_t index = a;
        for (size_t m = a + 1; m < b; ++m) {
            const double d = segmentDistance(p[m], p[a], p[b]);
            if (d > best) {
                best = d;
                index = m;
            }
        }
        if (best > tol) {
            keep[index] = true;
            stack.push_back({a, index});
            stack.push_back({index, b});
        }
    }
    std::vector<PdfPoint> out;
    for (size_t i = 0; i < n; ++i)
        if (keep[i]) out.push_back(p[i]);
    return out;
}

} // namespace InkStroke

namespace InkPath {

QPainterPath polyline(const std::vector<PdfPoint>& points)
{
    QPainterPath path;
    for (size_t i = 0; i < points.size(); ++i) {
        if (i == 0) path.moveTo(points[i].x, points[i].y);
        else path.lineTo(points[i].x, points[i].y);
    }
    return path;
}

std::vector<PdfPoint> points(const QPainterPath& path)
{
    // QPainterPath stores a curve as its start element followed by two data
    // elements (control point, end); closeSubpath() is stored as a line back to
    // the subpath's start, which yields the first point again.
    std::vector<PdfPoint> out;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.type == QPainterPath::CurveToElement) {
            int last = i;
            while (last + 1 < path.elementCount() && path.elementAt(last + 1).type == QPainterPath::CurveToDataElement)
                ++last;
            const QPainterPath::Element end = path.elementAt(last);
            out.push_back({end.x, end.y});
            i = last;
        } else if (e.type != QPainterPath::CurveToDataElement) {
            out.push_back({e.x, e.y});
        }
    }
    return out;
}

} // namespace InkPath

} // namespace quarnkit
