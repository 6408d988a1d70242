#include "QuarnKit/Signatures/SignatureInk.h"

#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarnkit {

namespace SignatureInk {

namespace {

using platform::PathVerb;

double distance(PdfPoint a, PdfPoint b) { return std::hypot(b.x - a.x, b.y - a.y); }

PdfPoint lerp(PdfPoint a, PdfPoint b, double num, double den)
{
    return {a.x + (b.x - a.x) * num / den, a.y + (b.y - a.y) * num / den};
}

double rounded4(double v) { return std::round(v * 10000) / 10000; }

int quarterTurns(int rotation) { return ((rotation / 90) % 4 + 4) % 4; }

bool oddTurns(int rotation) { return (rotation / 90) % 2 != 0; }

std::string trimmedText(const std::string& text) { return QString::fromStdString(text).trimmed().toStdString(); }

// A point of the centripetal Catmull-Rom segment from p1 to p2 (Barry-Goldman pyramid).
PdfPoint catmullRom(PdfPoint p0, PdfPoint p1, PdfPoint p2, PdfPoint p3, double t0, double t1, double t2, double t3,
                    double t)
{
    const PdfPoint a1 = lerp(p0, p1, t - t0, t1 - t0);
    const PdfPoint a2 = lerp(p1, p2, t - t1, t2 - t1);
    const PdfPoint a3 = lerp(p2, p3, t - t2, t3 - t2);
    const PdfPoint b1 = lerp(a1, a2, t - t0, t2 - t0);
    const PdfPoint b2 = lerp(a2, a3, t - t1, t3 - t1);
    return lerp(b1, b2, t - t1, t2 - t1);
}

struct EdgeWalk {
    std::vector<Edge> out;
    PdfPoint current, start;

    void to(PdfPoint b)
    {
        if (current.y != b.y) out.push_back(current.y < b.y ? Edge{current, b, 1} : Edge{b, current, -1});
        current = b;
    }
};

// The stroke a span of the previous scanline went into.
struct Run {
    size_t stroke;
    double start, end;
};

} // namespace

std::vector<PdfPoint> smooth(const std::vector<PdfPoint>& points, double step)
{
    std::vector<PdfPoint> kept;
    for (const auto& p : points)
        if (kept.empty() || distance(kept.back(), p) >= 0.75) kept.push_back(p);
    if (kept.size() >= 2 && !(kept.back() == points.back())) kept.back() = points.back();

    if (kept.empty()) return {};
    if (kept.size() == 1) return {kept[0], {kept[0].x + 0.5, kept[0].y}};
    if (kept.size() == 2) return kept;

    const size_t n = kept.size();
    std::vector<PdfPoint> out{kept[0]};
    for (size_t i = 0; i + 1 < n; ++i) {
        const PdfPoint p0 = kept[i == 0 ? 0 : i - 1], p1 = kept[i], p2 = kept[i + 1], p3 = kept[std::min(i + 2, n - 1)];
        const double t0 = 0;
        const double t1 = t0 + std::max(std::sqrt(distance(p0, p1)), 0.0001);
        const double t2 = t1 + std::max(std::sqrt(distance(p1, p2)), 0.0001);
        const double t3 = t2 + std::max(std::sqrt(distance(p2, p3)), 0.0001);
        const int steps = std::max(int(std::ceil(distance(p1, p2) / step)), 1);
        for (int j = 1; j <= steps; ++j)
            out.push_back(catmullRom(p0, p1, p2, p3, t0, t1, t2, t3, t1 + (t2 - t1) * j / steps));
    }
    return out;
}

std::optional<Normalized> normalize(const InkStrokes& strokes, double penWidth)
{
    if (!(penWidth > 0)) return std::nullopt;
    double x0 = std::numeric_limits<double>::infinity(), y0 = x0, x1 = -x0, y1 = -x0;
    bool any = false;
    for (const auto& stroke : strokes)
        for (const auto& p : stroke) {
            x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
            y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
            any = true;
        }
    if (!any) return std::nullopt;
    x0 -= penWidth / 2, y0 -= penWidth / 2, x1 += penWidth / 2, y1 += penWidth / 2;
    const double width = x1 - x0, height = y1 - y0;
    if (!(width > 0.001) || !(height > 0.001)) return std::nullopt;

    Normalized out;
    out.strokes.reserve(strokes.size());
    for (const auto& stroke : strokes) {
        std::vector<PdfPoint> unit;
        unit.reserve(stroke.size());
        for (const auto& p : stroke) unit.push_back({rounded4((p.x - x0) / width), rounded4((p.y - y0) / height)});
        out.strokes.push_back(std::move(unit));
    }
    out.aspect = width / height;
    out.lineWidth = penWidth / width;
    return out;
}

std::optional<Signature> drawn(const InkStrokes& strokes, Signature::Kind kind, double penWidth)
{
    InkStrokes smoothed;
    for (const auto& stroke : strokes)
        if (!stroke.empty()) smoothed.push_back(smooth(stroke, 1.2));
    const auto unit = normalize(smoothed, penWidth);
    if (!unit) return std::nullopt;
    return Signature{QUuid::createUuid(), kind,         Signature::Source::drawn, unit->strokes, unit->aspect,
                     unit->lineWidth,     std::nullopt, Signature::now()};
}

std::optional<OutlinePath> outline(const std::string& text, const platform::OutlineFont& font, double size)
{
    OutlinePath path = font.line(text, size);
    if (path.empty()) return std::nullopt;
    return path;
}

std::optional<Normalized> lettering(const std::string& text, const platform::OutlineFont& font, FillRule rule)
{
    const std::string words = trimmedText(text);
    if (words.empty()) return std::nullopt;
    const auto path = outline(words, font, outlineSize);
    if (!path) return std::nullopt;
    const double spacing = outlineSize * hatchSpacing;
    const double width = spacing * hatchOverlap;
    return normalize(hatch(*path, spacing, width, rule), width);
}

std::optional<Signature> typed(const std::string& text, const SignatureFont& font, Signature::Kind kind, FillRule rule)
{
    const auto loaded = font.font();
    if (!loaded) return std::nullopt;
    const auto unit = lettering(text, *loaded, rule);
    if (!unit) return std::nullopt;
    return Signature{QUuid::createUuid(),
                     kind,
                     Signature::Source::typed,
                     unit->strokes,
                     unit->aspect,
                     unit->lineWidth,
                     trimmedText(text),
                     Signature::now()};
}

int curveSteps(const std::vector<PdfPoint>& polygon, double tolerance)
{
    double length = 0;
    for (size_t i = 1; i < polygon.size(); ++i) length += distance(polygon[i - 1], polygon[i]);
    if (!(tolerance > 0)) return 64;
    const double n = std::ceil(length / tolerance);
    return int(std::clamp(std::isfinite(n) ? n : 64.0, 2.0, 64.0));
}

std::vector<Edge> edges(const OutlinePath& path, double tolerance)
{
    EdgeWalk walk;
    for (const auto& e : path.elements) {
        const auto& p = e.points;
        switch (e.verb) {
        case PathVerb::move:
            walk.to(walk.start);
            walk.start = walk.current = p[0];
            break;
        case PathVerb::line: walk.to(p[0]); break;
        case PathVerb::quad: {
            const PdfPoint from = walk.current;
            const int n = curveSteps({from, p[0], p[1]}, tolerance);
            for (int k = 1; k <= n; ++k) {
                const double t = double(k) / n, u = 1 - t;
                walk.to({u * u * from.x + 2 * t * u * p[0].x + t * t * p[1].x,
                         u * u * from.y + 2 * t * u * p[0].y + t * t * p[1].y});
            }
            break;
        }
        case PathVerb::cubic: {
            const PdfPoint from = walk.current;
            const int n = curveSteps({from, p[0], p[1], p[2]}, tolerance);
            for (int k = 1; k <= n; ++k) {
                const double t = double(k) / n, u = 1 - t;
                const double a = u * u * u, b = 3 * t * u * u, c = 3 * t * t * u, d = t * t * t;
                walk.to({a * from.x + b * p[0].x + c * p[1].x + d * p[2].x,
                         a * from.y + b * p[0].y + c * p[1].y + d * p[2].y});
            }
            break;
        }
        case PathVerb::close: walk.to(walk.start); break;
        }
    }
    walk.to(walk.start);
    return std::move(walk.out);
}

std::vector<Span> spans(const std::vector<Edge>& edges, FillRule rule, double y)
{
    struct Crossing {
        double x;
        int direction;
    };
    std::vector<Crossing> crossings;
    for (const auto& e : edges)
        if (e.low.y <= y && y < e.high.y)
            crossings.push_back({e.low.x + (e.high.x - e.low.x) * (y - e.low.y) / (e.high.y - e.low.y), e.direction});
    std::stable_sort(crossings.begin(), crossings.end(),
                     [](const Crossing& a, const Crossing& b) { return a.x < b.x; });

    const auto inside = [rule](int w) { return rule == FillRule::nonZero ? w != 0 : w % 2 != 0; };
    std::vector<Span> out;
    int winding = 0;
    double start = 0;
    for (const auto& c : crossings) {
        const bool before = inside(winding);
        winding += c.direction;
        const bool after = inside(winding);
        if (!before && after) {
            start = c.x;
        } else if (before && !after && start < c.x) {
            if (!out.empty() && start - out.back().end < 0.0001) out.back().end = c.x;
            else out.push_back({start, c.x});
        }
    }
    return out;
}

InkStrokes hatch(const OutlinePath& path, double spacing, double lineWidth, FillRule rule)
{
    if (!(spacing > 0)) return {};
    const PdfRect box = path.bounds();
    if (!(box.width > 0) || !(box.height > 0)) return {};
    const auto all = edges(path, spacing);
    if (all.empty()) return {};

    InkStrokes strokes;
    std::vector<Run> previous;
    const double top = box.maxY() - spacing / 2;
    for (int line = 0;; ++line) {
        const double y = top - line * spacing;
        if (!(y > box.minY())) break;
        std::vector<Run> current;
        std::vector<bool> continued(previous.size(), false);
        for (const auto& s : spans(all, rule, y)) {
            double a, b;
            if (s.end - s.start > lineWidth + spacing * 0.1) {
                a = s.start + lineWidth / 2;
                b = s.end - lineWidth / 2;
            } else {
                const double m = (s.start + s.end) / 2;
                a = m - spacing * 0.05;
                b = m + spacing * 0.05;
            }
            std::optional<size_t> into;
            for (size_t i = 0; i < previous.size(); ++i) {
                if (continued[i] || !(previous[i].start <= s.end && s.start <= previous[i].end)) continue;
                continued[i] = true;
                into = previous[i].stroke;
                break;
            }
            if (into) {
                auto& stroke = strokes[*into];
                const double last = stroke.back().x;
                if (std::fabs(last - a) <= std::fabs(last - b)) stroke.insert(stroke.end(), {{a, y}, {b, y}});
                else stroke.insert(stroke.end(), {{b, y}, {a, y}});
            } else {
                into = strokes.size();
                strokes.push_back({{a, y}, {b, y}});
            }
            current.push_back({*into, s.start, s.end});
        }
        previous = std::move(current);
    }
    return strokes;
}

std::optional<PdfRect> placement(PdfSize size, PdfPoint around, const PdfRect& pageBox, int rotation)
{
    double w = size.width, h = size.height;
    if (oddTurns(rotation)) std::swap(w, h);
    const PdfRect box = pageBox.insetBy(4, 4);
    if (box.isEmpty() || !(w > 0) || !(h > 0)) return std::nullopt;
    const double s = std::min(box.width / std::max(w, 0.001), box.height / std::max(h, 0.001));
    if (s < 1) {
        w *= s;
        h *= s;
    }
    const double x = std::min(std::max(around.x - w / 2, box.minX()), box.maxX() - w);
    const double y = std::min(std::max(around.y - h / 2, box.minY()), box.maxY() - h);
    return PdfRect{x, y, w, h};
}

PdfPoint toPage(PdfPoint unit, const PdfRect& rect, int rotation)
{
    const bool odd = oddTurns(rotation);
    const double W = odd ? rect.height : rect.width, H = odd ? rect.width : rect.height;
    const double a = W * unit.x, b = H * unit.y;
    switch (quarterTurns(rotation)) {
    case 1: return {rect.maxX() - b, rect.minY() + a};
    case 2: return {rect.maxX() - a, rect.maxY() - b};
    case 3: return {rect.minX() + b, rect.maxY() - a};
    default: return {rect.minX() + a, rect.minY() + b};
    }
}

std::optional<PdfAnnotation> annotation(const Signature& signature, const PdfRect& rect, int rotation,
                                        const RGBA& color)
{
    const double upright = oddTurns(rotation) ? rect.height : rect.width;
    auto a = ink(signature.strokes, rect, rotation, signature.penWidth(upright), color);
    if (a) a->contents = title(signature.kind).toStdString();
    return a;
}

std::optional<Signature::Kind> placedKind(const PdfAnnotation& mark)
{
    if (mark.subtype != "Ink") return std::nullopt;
    for (const Signature::Kind kind : {Signature::Kind::signature, Signature::Kind::initials})
        if (mark.contents == title(kind).toStdString()) return kind;
    return std::nullopt;
}

std::optional<PdfAnnotation> ink(const InkStrokes& unit, const PdfRect& rect, int rotation, double lineWidth,
                                 const RGBA& color)
{
    InkStrokes mapped;
    mapped.reserve(unit.size());
    for (const auto& stroke : unit) {
        std::vector<PdfPoint> points;
        points.reserve(stroke.size());
        for (const auto& p : stroke) points.push_back(toPage(p, rect, rotation));
        mapped.push_back(std::move(points));
    }
    return ink(mapped, lineWidth, color);
}

std::optional<PdfAnnotation> ink(const InkStrokes& strokes, double lineWidth, const RGBA& color)
{
    if (!(lineWidth > 0)) return std::nullopt;
    InkStrokes kept;
    double x0 = std::numeric_limits<double>::infinity(), y0 = x0, x1 = -x0, y1 = -x0;
    for (const auto& stroke : strokes) {
        if (stroke.empty()) continue;
        for (const auto& p : stroke) {
            x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
            y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
        }
        kept.push_back(stroke);
        // A click leaves a dot: a round-capped piece too short to see as a line.
        if (stroke.size() == 1) kept.back().push_back({stroke[0].x + std::max(lineWidth * 0.1, 0.05), stroke[0].y});
    }
    if (kept.empty() || !std::isfinite(x0 + x1 + y0 + y1)) return std::nullopt;
    const double pad = lineWidth / 2 + 2;

    PdfAnnotation a;
    a.subtype = "Ink";
    a.rect = {x0 - pad, y0 - pad, x1 - x0 + 2 * pad, y1 - y0 + 2 * pad};
    a.color = platform::PdfColor{color.r, color.g, color.b};
    a.opacity = std::clamp(color.a, 0.0, 1.0);
    a.borderWidth = lineWidth;
    a.inkList = std::move(kept);
    return a;
}

void draw(QPainter& painter, const Signature& signature, const QRectF& rect, const RGBA& color)
{
    const QRectF r = rect.adjusted(2, 2, -2, -2);
    if (!(r.width() > 0) || !(r.height() > 0)) return;
    const double a = std::max(signature.aspect, 0.05);
    double w = r.width(), h = w / a;
    if (h > r.height()) {
        h = r.height();
        w = a * h;
    }
    const QRectF box(r.center().x() - w / 2, r.center().y() - h / 2, w, h);

    QPen pen(color.toQColor(), signature.penWidth(w), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    for (const auto& stroke : signature.strokes) {
        if (stroke.empty()) continue;
        // Unit y grows upwards; the painter's downwards.
        const auto at = [&](PdfPoint p) { return QPointF(box.left() + w * p.x, box.bottom() - h * p.y); };
        QPainterPath path(at(stroke[0]));
        if (stroke.size() == 1) path.lineTo(at(stroke[0]) + QPointF(0.1, 0));
        for (size_t i = 1; i < stroke.size(); ++i) path.lineTo(at(stroke[i]));
        painter.drawPath(path);
    }
    painter.restore();
}

QImage image(const Signature& signature, QSizeF size, const RGBA& color, double scale)
{
    const QSize pixels(int(std::ceil(size.width() * scale)), int(std::ceil(size.height() * scale)));
    if (pixels.isEmpty()) return {};
    QImage out(pixels, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    out.setDevicePixelRatio(scale);
    QPainter painter(&out);
    draw(painter, signature, QRectF(QPointF(0, 0), size), color);
    return out;
}

} // namespace SignatureInk

} // namespace quarnkit
