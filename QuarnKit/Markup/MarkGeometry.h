#pragma once
// The geometry under every edit of an existing mark: its handles, its
// editable frame (moved, resized, padded, re-ended), hit tests and the
// arrow-head switch of a line.
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Markup/MarkupGeometry.h"

#include <optional>
#include <utility>
#include <vector>

namespace quarnkit {

using platform::PdfAnnotation;

// The editable geometry of one mark. Fields marked local are relative to the
// lower-left corner of `bounds`, so moving the bounds moves them along.
struct MarkFrame {
    PdfRect bounds;
    std::vector<std::vector<PdfPoint>> paths; // ink strokes, local
    std::vector<platform::PdfQuad> quads;     // text-markup boxes, local
    std::optional<PdfPoint> start, end;       // line ends, local

    friend bool operator==(const MarkFrame&, const MarkFrame&) = default;

    static MarkFrame of(const PdfAnnotation& annotation);
    // The union of the strokes' extents in page space; none without a point.
    std::optional<PdfRect> strokeBounds() const;
    // Writes bounds, strokes, boxes and line ends back; nothing else changes.
    void apply(PdfAnnotation& annotation) const;
    MarkFrame offset(PdfPoint by) const;
    // New bounds; strokes keep their margins and are scaled into the new room.
    MarkFrame resized(const PdfRect& rect) const;
    // Bounds grown by d on every side; strokes and ends stay where they are on the page.
    MarkFrame padded(double d) const;
    // New page-space ends, with the bounds of a line of that width and head.
    MarkFrame withEnds(PdfPoint start, PdfPoint end, double width, bool head) const;
};

namespace MarkEditing {

std::vector<MarkHandle> handles(const PdfAnnotation& annotation);
// A line's ends in page space; none for other annotations.
std::optional<std::pair<PdfPoint, PdfPoint>> lineEnds(const PdfAnnotation& annotation);
// Lines and strokes are hit within tolerance + half their width; other marks
// within `tolerance` of their bounds.
bool hits(const PdfAnnotation& annotation, PdfPoint point, double tolerance);
// Switches a line's arrow head and refits its bounds; nothing for other kinds.
void setHead(bool head, PdfAnnotation& annotation);

} // namespace MarkEditing

} // namespace quarnkit
