#pragma once
// Plane geometry of marks in page space (points, y up): bounds, snapping,
// clamping, box resizing and where pasted marks land.
#include "Platform/PdfGeometry.h"

#include <vector>

namespace quarnkit {

using platform::PdfPoint;
using platform::PdfRect;

// The handles of a mark: eight around its box, then the two ends of a line.
enum class MarkHandle { topLeft, top, topRight, right, bottomRight, bottom, bottomLeft, left, start, end };

inline constexpr MarkHandle allMarkHandles[] = {
    MarkHandle::topLeft, MarkHandle::top,        MarkHandle::topRight, MarkHandle::right, MarkHandle::bottomRight,
    MarkHandle::bottom,  MarkHandle::bottomLeft, MarkHandle::left,     MarkHandle::start, MarkHandle::end};
inline constexpr MarkHandle boxHandles[] = {MarkHandle::topLeft,    MarkHandle::top,         MarkHandle::topRight,
                                            MarkHandle::right,      MarkHandle::bottomRight, MarkHandle::bottom,
                                            MarkHandle::bottomLeft, MarkHandle::left};

// Where a handle sits on a rectangle; start and end sit at its centre (line
// handles are placed from the line's ends by the caller).
PdfPoint handlePoint(MarkHandle handle, const PdfRect& rect);

namespace MarkupGeometry {

// The smallest rectangle holding the points, grown by `pad`; the zero rectangle for none.
PdfRect bounds(const std::vector<PdfPoint>& points, double pad);
double length(PdfPoint from, PdfPoint to);
// The rectangle two corners span, with a non-negative size.
PdfRect rect(PdfPoint from, PdfPoint to);
// The end moved to the nearest multiple of 45 degrees around the start.
PdfPoint snapAngle(PdfPoint from, PdfPoint to);
// The end moved so that the spanned rectangle is a square.
PdfPoint snapSquare(PdfPoint from, PdfPoint to);
// A line's bounds: its ends padded by max(6 w, 18) with an arrow head, else max(2 w + 2, 6).
PdfRect lineBounds(PdfPoint from, PdfPoint to, double width, bool head);
// Keeps the size and moves the origin into `area`; a rectangle larger than the
// area is pinned to the area's lower-left edges.
PdfRect clamp(const PdfRect& rect, const PdfRect& area);
double distanceToSegment(PdfPoint p, PdfPoint a, PdfPoint b);
// The box dragged by a handle; never flips, never smaller than minSize.
PdfRect resize(const PdfRect& rect, MarkHandle handle, PdfPoint to, bool keepAspect, double minSize);
// The offset that moves pasted marks off identical marks already there, in
// steps of (step, -step), kept inside `area` (also when every spot is taken).
PdfPoint pasteOffset(const std::vector<PdfRect>& rects, const std::vector<PdfRect>& avoiding, double step,
                     const PdfRect& area);
// The offset, in the same steps and kept inside `area`, that moves `rect` off
// every frame of `avoiding` it overlaps.
PdfPoint clearOffset(const PdfRect& rect, const std::vector<PdfRect>& avoiding, double step, const PdfRect& area);
PdfRect pasteBounds(const PdfRect& rect, const std::vector<PdfRect>& avoiding, double step, const PdfRect& area);

} // namespace MarkupGeometry

} // namespace quarnkit
