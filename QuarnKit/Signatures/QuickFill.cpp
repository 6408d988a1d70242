#include "QuarnKit/Signatures/QuickFill.h"

#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Signatures/SignatureInk.h"

#include <algorithm>

namespace quarnkit {

namespace QuickFill {

namespace {

bool turned(int rotation) { return ((rotation / 90) % 4 + 4) % 4 != 0; }

// The date as a text box centred on the point and kept inside the page's
// 4-point margin, at its full width wherever that fits. On a page too narrow
// for that the box narrows to the page, never below the 28 points of any text
// box, and its words wrap and grow it downwards, as a text box refitted to a
// page does. Nothing where not even the margin fits.
std::optional<PdfAnnotation> textBox(const std::string& text, PdfPoint center, const PdfRect& page, const RGBA& color)
{
    const PdfRect box = page.insetBy(4, 4);
    if (box.isEmpty()) return std::nullopt;
    const PdfRect fitted =
        AnnotationFactory::textBoxBounds(text, TextFont::sans, dateSize, {center.x, center.y, 0, 0}, page);
    const double width = fitted.width, height = fitted.height;
    // The factory's text box gives the stamp its font and its rule for light
    // ink; given room enough, it neither narrows nor moves the box.
    const PdfRect room{center.x - width, center.y - 2 * height, 3 * width, 4 * height};
    auto a = AnnotationFactory::freeText(center, text, color, dateSize, TextFont::sans, room);
    if (!a) return std::nullopt;
    // Centred, then clamped; on a page narrower than the box its right edge wins.
    const double x = std::min(std::max(center.x - width / 2, box.minX()), box.maxX() - width);
    const double y = std::min(std::max(center.y - height / 2, box.minY()), box.maxY() - height);
    a->rect = {x, y, width, height};
    return a;
}

// The date lettered in Helvetica and hatched like a typed signature, turned with the page.
std::optional<PdfAnnotation> letteredDate(const std::string& text, PdfPoint center, const PdfRect& page, int rotation,
                                          const RGBA& color)
{
    const auto font = platform::OutlineFont::base14("Helvetica");
    if (!font) return std::nullopt;
    const auto unit = SignatureInk::lettering(text, *font, SignatureInk::FillRule::nonZero);
    if (!unit) return std::nullopt;
    const Signature lettered{QUuid::createUuid(),
                             Signature::Kind::signature,
                             Signature::Source::typed,
                             unit->strokes,
                             unit->aspect,
                             unit->lineWidth,
                             text,
                             Signature::now()};
    const PdfSize size{unit->aspect * dateInkHeight, dateInkHeight};
    const auto rect = SignatureInk::placement(size, center, page, rotation);
    if (!rect) return std::nullopt;
    auto a = SignatureInk::annotation(lettered, *rect, rotation, color);
    if (a) a->contents = text;
    return a;
}

std::optional<PdfAnnotation> stamp(const InkStrokes& unit, double size, double pen, const char* name, PdfPoint center,
                                   const PdfRect& page, int rotation, const RGBA& color)
{
    const PdfRect box = page.insetBy(4, 4);
    if (box.isEmpty()) return std::nullopt;
    const double fit = std::min(box.width / size, box.height / size);
    const double side = fit < 1 ? size * fit : size;
    const double x = std::min(std::max(center.x - side / 2, box.minX()), box.maxX() - side);
    const double y = std::min(std::max(center.y - side / 2, box.minY()), box.maxY() - side);
    auto a = SignatureInk::ink(unit, PdfRect{x, y, side, side}, rotation, pen, color);
    if (a) a->contents = name;
    return a;
}

} // namespace

QString dateString(const QDate& date, const QLocale& locale) { return locale.toString(date, QLocale::ShortFormat); }

std::optional<PdfAnnotation> date(const std::string& text, PdfPoint center, const PdfRect& pageBounds, int rotation,
                                  const RGBA& color)
{
    const std::string words = AnnotationFactory::trimmed(text);
    if (words.empty()) return std::nullopt;
    return turned(rotation) ? letteredDate(words, center, pageBounds, rotation, color)
                            : textBox(words, center, pageBounds, color);
}

std::optional<PdfAnnotation> checkmark(PdfPoint center, const PdfRect& pageBounds, int rotation, const RGBA& color)
{
    static const InkStrokes strokes{{{0.06, 0.52}, {0.38, 0.16}, {0.94, 0.88}}};
    return stamp(strokes, checkmarkSize, 2.2, "Checkmark", center, pageBounds, rotation, color);
}

std::optional<PdfAnnotation> cross(PdfPoint center, const PdfRect& pageBounds, int rotation, const RGBA& color)
{
    static const InkStrokes strokes{{{0.1, 0.1}, {0.9, 0.9}}, {{0.1, 0.9}, {0.9, 0.1}}};
    return stamp(strokes, crossSize, 2.0, "Cross", center, pageBounds, rotation, color);
}

} // namespace QuickFill

} // namespace quarnkit
