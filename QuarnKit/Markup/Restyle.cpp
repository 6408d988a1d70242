#include "QuarnKit/Markup/Restyle.h"

#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkGeometry.h"

#include <cmath>

namespace quarnkit::Restyle {

using platform::PdfAnnotation;
using platform::PdfColor;

namespace {

// A text box in a new face or size, refitted around its words.
bool refitText(PdfAnnotation& a, TextFont font, double size, const platform::PdfRect& page)
{
    const std::string face(pdfFontName(font));
    if (a.fontName == face && std::fabs(a.fontSize - size) <= 0.05) return false;
    a.fontName = face;
    a.fontSize = size;
    a.rect = AnnotationFactory::textBoxBounds(a.contents, font, size, a.rect, page, a.rotation);
    return true;
}

} // namespace

bool color(PdfAnnotation& a, MarkKind kind, const RGBA& color)
{
    const PdfColor c{color.r, color.g, color.b};
    switch (kind) {
    case MarkKind::redaction: return false;
    case MarkKind::highlight:
        a.color = c;
        a.opacity = 0.45;
        return true;
    case MarkKind::text:
        a.opacity = 1;
        if (color.isNearWhite()) {
            // Near-white words would vanish on paper: white on a dark plate.
            a.fontColor = PdfColor{1, 1, 1};
            a.color = a.interiorColor = PdfColor{0.12, 0.12, 0.12};
            a.interiorOpacity = 0.92;
        } else {
            a.fontColor = c;
            a.color.reset(); // a transparent box, as new ones are
            a.interiorColor.reset();
        }
        return true;
    default:
        a.color = c;
        a.opacity = 1;
        if (a.interiorColor) a.interiorColor = c; // a filled shape stays filled
        return true;
    }
}

bool stroke(PdfAnnotation& a, MarkKind kind, double width)
{
    if (!usesStroke(kind)) return false;
    const double old = a.borderWidth.value_or(width);
    if (std::fabs(old - width) <= 0.05) return false;
    a.borderWidth = width;
    if (const auto ends = MarkEditing::lineEnds(a)) {
        MarkFrame::of(a).withEnds(ends->first, ends->second, width, kind == MarkKind::arrow).apply(a);
    } else if (a.subtype == "Ink") {
        // A thicker stroke must not be clipped by the mark's bounds.
        const MarkFrame frame = MarkFrame::of(a);
        if (const auto strokes = frame.strokeBounds()) {
            const double margin = std::min(strokes->minX() - a.rect.minX(), strokes->minY() - a.rect.minY());
            const double need = width * 0.5 + 2;
            if (margin < need) frame.padded(need - margin).apply(a);
        }
    }
    return true;
}

bool fill(PdfAnnotation& a, MarkKind kind, bool filled)
{
    if (kind != MarkKind::rectangle && kind != MarkKind::ellipse) return false;
    if (filled) {
        a.interiorColor = a.color;
        a.interiorOpacity = 0.22;
    } else {
        a.interiorColor.reset();
    }
    return true;
}

bool textSize(PdfAnnotation& a, MarkKind kind, double size, const platform::PdfRect& page)
{
    if (kind != MarkKind::text) return false;
    const TextFont font = a.fontName.empty() ? TextFont::sans : textFontOf(a.fontName);
    return refitText(a, font, size, page);
}

bool font(PdfAnnotation& a, MarkKind kind, TextFont font, double fallbackSize, const platform::PdfRect& page)
{
    if (kind != MarkKind::text) return false;
    return refitText(a, font, a.fontSize > 0 ? a.fontSize : fallbackSize, page);
}

bool head(PdfAnnotation& a, MarkKind kind, bool on)
{
    if (!usesHead(kind) || on == (kind == MarkKind::arrow)) return false;
    MarkEditing::setHead(on, a);
    return true;
}

bool words(PdfAnnotation& a, MarkKind kind, const std::string& words, TextFont fallbackFont, double fallbackSize,
           const platform::PdfRect& page)
{
    const std::string trimmed = AnnotationFactory::trimmed(words);
    if (trimmed.empty() || trimmed == AnnotationFactory::trimmed(a.contents)) return false;
    if (kind == MarkKind::text) {
        const TextFont face = a.fontName.empty() ? fallbackFont : textFontOf(a.fontName);
        const double size = a.fontSize > 0 ? a.fontSize : fallbackSize;
        a.rect = AnnotationFactory::textBoxBounds(trimmed, face, size, a.rect, page, a.rotation);
    }
    a.contents = trimmed;
    return true;
}

} // namespace quarnkit::Restyle
