#pragma once
// Freehand strokes: the pen's raw points are smoothed and then thinned before
// they become an Ink mark; point lists convert to and from painter paths.
#include "Platform/PdfGeometry.h"

#include <QPainterPath>

#include <vector>

namespace quarnkit {

namespace InkStroke {

inline constexpr double tolerance = 0.3; // points; the default reduction tolerance

// simplify(smooth(points), tolerance).
std::vector<platform::PdfPoint> points(const std::vector<platform::PdfPoint>& points,
                                       double tolerance = InkStroke::tolerance);
// Midpoint quadratic smoothing: about one point per 2 units of curve, 2 to 16 per segment.
std::vector<platform::PdfPoint> smooth(const std::vector<platform::PdfPoint>& points);
// Ramer-Douglas-Peucker: keeps the points farther than `tolerance` (strictly) from the chords.
std::vector<platform::PdfPoint> simplify(const std::vector<platform::PdfPoint>& points, double tolerance);

} // namespace InkStroke

namespace InkPath {

// Straight segments through the points (the pen width goes with the stroke
// when drawn: round caps and joins).
QPainterPath polyline(const std::vector<platform::PdfPoint>& points);
// One point per element: moves and lines give their point, curves their end,
// and a closed subpath its first point again.
std::vector<platform::PdfPoint> points(const QPainterPath& path);

} // namespace InkPath

} // namespace quarnkit
