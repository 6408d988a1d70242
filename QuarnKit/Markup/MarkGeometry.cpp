#include "QuarnKit/Markup/MarkGeometry.h"

#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCatalog.h"

#include <algorithm>
#include <cmath>

namespace quarnkit {

using AnnotationFactory::matches;
using platform::PdfQuad;

namespace {

PdfPoint moved(PdfPoint p, double dx, double dy) { return {p.x + dx, p.y + dy}; }

PdfQuad movedQuad(const PdfQuad& q, double dx, double dy)
{
    return {moved(q.ul, dx, dy), moved(q.ur, dx, dy), moved(q.ll, dx, dy), moved(q.lr, dx, dy)};
}

std::optional<PdfRect> localStrokeBounds(const std::vector<std::vector<PdfPoint>>& paths)
{
    std::optional<PdfRect> out;
    for (const auto& path : paths)
        for (const auto& p : path) {
            if (!out) {
                out = PdfRect{p.x, p.y, 0, 0};
                continue;
            }
            const double x0 = std::min(out->minX(), p.x), y0 = std::min(out->minY(), p.y);
            out = PdfRect{x0, y0, std::max(out->maxX(), p.x) - x0, std::max(out->maxY(), p.y) - y0};
        }
    return out;
}

} // namespace

MarkFrame MarkFrame::of(const PdfAnnotation& a)
{
    MarkFrame f;
    f.bounds = a.rect;
    const double ox = a.rect.x, oy = a.rect.y;
    if (matches(a, "Ink"))
        for (const auto& stroke : a.inkList) {
            std::vector<PdfPoint> local;
            for (const auto& p : stroke) local.push_back(moved(p, -ox, -oy));
            f.paths.push_back(std::move(local));
        }
    for (const auto& q : a.quads) f.quads.push_back(movedQuad(q, -ox, -oy));
    if (matches(a, "Line") && a.lineStart && a.lineEnd) {
        f.start = moved(*a.lineStart, -ox, -oy);
        f.end = moved(*a.lineEnd, -ox, -oy);
    }
    return f;
}

std::optional<PdfRect> MarkFrame::strokeBounds() const
{
    auto s = localStrokeBounds(paths);
    if (s) {
        s->x += bounds.x;
        s->y += bounds.y;
    }
    return s;
}

void MarkFrame::apply(PdfAnnotation& a) const
{
    a.rect = bounds;
    const double ox = bounds.x, oy = bounds.y;
    if (matches(a, "Ink")) {
        a.inkList.clear();
        for (const auto& path : paths) {
            std::vector<PdfPoint> page;
            for (const auto& p : path) page.push_back(moved(p, ox, oy));
            a.inkList.push_back(std::move(page));
        }
    }
    if (!a.quads.empty() || !quads.empty()) {
        a.quads.clear();
        for (const auto& q : quads) a.quads.push_back(movedQuad(q, ox, oy));
    }
    if (start && end && matches(a, "Line")) {
        a.lineStart = moved(*start, ox, oy);
        a.lineEnd = moved(*end, ox, oy);
    }
}

MarkFrame MarkFrame::offset(PdfPoint by) const
{
    MarkFrame f = *this;
    f.bounds.x += by.x;
    f.bounds.y += by.y;
    return f;
}

MarkFrame MarkFrame::resized(const PdfRect& rect) const
{
    MarkFrame f = *this;
    f.bounds = rect;
    const auto s = localStrokeBounds(paths);
    if (!s) return f;
    const double left = s->minX(), bottom = s->minY();
    const double right = bounds.width - s->maxX(), top = bounds.height - s->maxY();
    const double aw = std::max(rect.width - left - right, 0.0), ah = std::max(rect.height - bottom - top, 0.0);
    const bool wide = s->width > 0.01, tall = s->height > 0.01;
    const double sx = wide ? aw / s->width : 1, sy = tall ? ah / s->height : 1;
    // A stroke with no width (or height) is centred in the room instead of scaled.
    const double tx = wide ? left - sx * s->minX() : left + aw / 2 - s->midX();
    const double ty = tall ? bottom - sy * s->minY() : bottom + ah / 2 - s->midY();
    for (auto& path : f.paths)
        for (auto& p : path) p = {sx * p.x + tx, sy * p.y + ty};
    return f;
}

MarkFrame MarkFrame::padded(double d) const
{
    MarkFrame f = *this;
    f.bounds = bounds.insetBy(-d, -d);
    for (auto& path : f.paths)
        for (auto& p : path) p = moved(p, d, d);
    for (auto& q : f.quads) q = movedQuad(q, d, d);
    if (f.start) f.start = moved(*f.start, d, d);
    if (f.end) f.end = moved(*f.end, d, d);
    return f;
}

MarkFrame MarkFrame::withEnds(PdfPoint s, PdfPoint e, double width, bool head) const
{
    MarkFrame f = *this;
    f.bounds = MarkupGeometry::lineBounds(s, e, width, head);
    f.start = moved(s, -f.bounds.x, -f.bounds.y);
    f.end = moved(e, -f.bounds.x, -f.bounds.y);
    return f;
}

namespace MarkEditing {

std::vector<MarkHandle> handles(const PdfAnnotation& a)
{
    const auto k = MarkCatalog::kind(a);
    if (!k) return {};
    switch (*k) {
    case MarkKind::drawing:
    case MarkKind::rectangle:
    case MarkKind::ellipse:
    case MarkKind::text:
    case MarkKind::redaction: return {std::begin(boxHandles), std::end(boxHandles)};
    case MarkKind::line:
    case MarkKind::arrow: return {MarkHandle::start, MarkHandle::end};
    default: return {};
    }
}

std::optional<std::pair<PdfPoint, PdfPoint>> lineEnds(const PdfAnnotation& a)
{
    if (!matches(a, "Line") || !a.lineStart || !a.lineEnd) return std::nullopt;
    return std::pair{*a.lineStart, *a.lineEnd};
}

bool hits(const PdfAnnotation& a, PdfPoint p, double tolerance)
{
    const double reach = tolerance + (a.borderWidth ? *a.borderWidth / 2 : 0.5);
    if (const auto ends = lineEnds(a)) return MarkupGeometry::distanceToSegment(p, ends->first, ends->second) <= reach;
    if (matches(a, "Ink") && !a.inkList.empty()) {
        for (const auto& stroke : a.inkList) {
            if (stroke.size() == 1 && MarkupGeometry::length(p, stroke[0]) <= reach) return true;
            for (size_t i = 1; i < stroke.size(); ++i)
                if (MarkupGeometry::distanceToSegment(p, stroke[i - 1], stroke[i]) <= reach) return true;
        }
        return false;
    }
    return a.rect.insetBy(-tolerance, -tolerance).contains(p);
}

void setHead(bool head, PdfAnnotation& a)
{
    const auto ends = lineEnds(a);
    if (!ends) return;
    a.startEnding = "None";
    a.endEnding = head ? "ClosedArrow" : "None";
    const double width = a.borderWidth.value_or(1.0);
    MarkFrame::of(a).withEnds(ends->first, ends->second, width, head).apply(a);
}

} // namespace MarkEditing

} // namespace quarnkit
