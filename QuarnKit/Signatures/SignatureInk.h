#pragma once
// Turns what the user gives into a Signature and a Signature into ink. Drawn
// signatures are pad strokes, smoothed and normalised; typed ones are the
// glyph outlines of a handwriting font filled with horizontal pen strokes
// (scanline hatching), so that both are the same kind of strokes. Also
// chooses where a signature goes on a page and builds the Ink mark that
// carries it. Pure functions; builders return nothing rather than fail.
// Units are points; page geometry is in page space (y up).
#include "Platform/GlyphOutlines.h"
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Shell/RGBA.h"
#include "QuarnKit/Signatures/Signature.h"
#include "QuarnKit/Signatures/SignatureFont.h"

#include <QImage>
#include <QRectF>

#include <optional>
#include <string>
#include <vector>

class QPainter;

namespace quarnkit {

using platform::OutlinePath;
using platform::PdfAnnotation;
using platform::PdfRect;

namespace SignatureInk {

// The ink of every signature, stamp and preview.
inline constexpr RGBA color{0.16, 0.15, 0.14, 1};
inline constexpr double padPenWidth = 2.4;
// Hatch lines are this fraction of the outline's font size apart, and this
// many spacings wide, so that neighbouring lines overlap into solid ink.
inline constexpr double hatchSpacing = 1.0 / 110;
inline constexpr double hatchOverlap = 1.7;
// The size glyphs are outlined at before normalising.
inline constexpr double outlineSize = 100;

enum class FillRule { evenOdd, nonZero };

// One non-horizontal piece of a flattened outline; direction +1 when the
// outline runs upwards (from low to high), -1 downwards.
struct Edge {
    PdfPoint low, high;
    int direction = 1;
    friend bool operator==(const Edge&, const Edge&) = default;
};

// One inside interval of a scanline, start < end.
struct Span {
    double start = 0, end = 0;
    friend bool operator==(const Span&, const Span&) = default;
};

struct Normalized {
    InkStrokes strokes; // in the unit box, rounded to 4 decimals
    double aspect = 1;
    double lineWidth = 0;
};

// A signature from pad strokes (view space, y up); the pad passes padPenWidth.
std::optional<Signature> drawn(const InkStrokes& strokes, Signature::Kind kind, double penWidth = padPenWidth);
// A signature from text in a handwriting font.
std::optional<Signature> typed(const std::string& text, const SignatureFont& font, Signature::Kind kind,
                               FillRule rule = FillRule::nonZero);
// Outlined, hatched and normalised words in any font: what typed signatures
// and dates on turned pages are made of. Nothing for empty or blank text.
std::optional<Normalized> lettering(const std::string& text, const platform::OutlineFont& font, FillRule rule);

// Thins a stroke and runs a centripetal Catmull-Rom spline through what is
// left, with points about `step` apart; the stroke ends where it ended.
std::vector<PdfPoint> smooth(const std::vector<PdfPoint>& points, double step);
// Strokes into the unit box of their bounds grown by half the pen.
std::optional<Normalized> normalize(const InkStrokes& strokes, double penWidth);

// The glyph outlines of the text on one line, baseline at y = 0.
std::optional<OutlinePath> outline(const std::string& text, const platform::OutlineFont& font, double size);
// Horizontal strokes that fill the path, top down, zigzagging through each letter.
InkStrokes hatch(const OutlinePath& path, double spacing, double lineWidth, FillRule rule);
std::vector<Edge> edges(const OutlinePath& path, double tolerance);
std::vector<Span> spans(const std::vector<Edge>& edges, FillRule rule, double y);
// How many pieces a curve with this control polygon is flattened into (2 to 64).
int curveSteps(const std::vector<PdfPoint>& polygon, double tolerance);

// Where a mark of `size` goes around a point: upright on the shown page,
// shrunk to fit the page box inset by 4 and kept inside it. Nothing when the
// inset box is empty (a page 8 points or less across).
std::optional<PdfRect> placement(PdfSize size, PdfPoint around, const PdfRect& pageBox, int rotation);
// A unit point in a placed rectangle, turned with the page so that it reads upright.
PdfPoint toPage(PdfPoint unit, const PdfRect& rect, int rotation);

// The Ink mark of a signature placed in `rect` on a page with `rotation`. Its
// contents, the PDF's description of a mark that shows no text, say
// "Signature" or "Initials": the marks list and summary show that word.
std::optional<PdfAnnotation> annotation(const Signature& signature, const PdfRect& rect, int rotation,
                                        const RGBA& color);
// What an Ink mark was placed as, by the word its contents hold; none for
// any other mark. The name it goes by wherever it is named alone.
std::optional<Signature::Kind> placedKind(const PdfAnnotation& mark);
// The same mapping with a given pen width.
std::optional<PdfAnnotation> ink(const InkStrokes& unit, const PdfRect& rect, int rotation, double lineWidth,
                                 const RGBA& color);
// An Ink mark from page-space strokes; its bounds are the points' box grown by
// lineWidth / 2 + 2. A one-point stroke becomes a dot.
std::optional<PdfAnnotation> ink(const InkStrokes& strokes, double lineWidth, const RGBA& color);

// Strokes the signature, fitted and centred in `rect` inset by 2 (painter space, y down).
void draw(QPainter& painter, const Signature& signature, const QRectF& rect, const RGBA& color);
// A transparent image of the signature; `scale` pixels per unit of `size`.
QImage image(const Signature& signature, QSizeF size, const RGBA& color, double scale = 1);

} // namespace SignatureInk

} // namespace quarnkit
