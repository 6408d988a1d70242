#include "QuarnKit/Signatures/QuickFill.h"

#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Signatures/SignatureInk.h"

#include <algorithm>

namespace quarnkit {

namespace QuickFill {

namespace {

bool turned(int rotation) { return ((rotation / 90) % 4 + 4) % 4 != 0; }

// The date as a text box of its full width, centred on the point and kept
// inside the page's 4-point margin; nothing where it does not fit.
std::optional<PdfAnnotation> textBox(const std::string& text, PdfPoint center, const PdfRect& page, const RGBA& color)
{
    const PdfRect box = page.insetBy(4, 4);
    const auto size = AnnotationFactory::textBoxSize(text, TextFont::sans, dateSize);
    if (box.isEmpty() || size.width > box.width || size.height > box.height) return std::nullopt;
    // The factory's text box gives the stamp its font and its rule for light
    // ink; given room enough, it neither narrows nor moves the box.
    const PdfRect room{center.x - size.width, center.y - 2 * size.height, 3 * size.width, 4 * size.height};
    auto a = AnnotationFactory::freeText(center, text, color, dateSize, TextFont::sans, room);
    if (!a) return std::nullopt;
    const double x = std::min(std::max(center.x - size.width / 2, box.minX()), box.maxX() - size.width);
    const double y = std::min(std::max(center.y - size.height / 2, box.minY()), box.maxY() - size.height);
    a->rect = {x, y, size.width, size.height};
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
    const Signature lettered{QUuid::createUuid(), Signature::Kind::signature, Signature::Source::typed, unit->strokes,
                             unit->aspect, unit->lineWidth, text, Signature::now()};
    const PdfSize size{unit->aspect * dateInkHeight, dateInkHeight};
    const auto rect = SignatureInk::placement(size, center, page, rotation);
    if (!rect) return std::nullopt;
    return SignatureInk::annotation(lettered, *rect, rotation, color);
}

std::optional<PdfAnnotation> stamp(const InkStrokes& unit, double size, double pen, PdfPoint center, const PdfRect& page,
                                   int rotation, const RGBA& color)
{
    const PdfRect box = page.insetBy(4, 4);
    if (box.isEmpty()) return std::nullopt;
    const double fit = std::min(box.width / size, box.height / size);
    const double side = fit < 1 ? size * fit : size;
    const double x = std::min(std::max(center.x - side / 2, box.minX()), box.maxX() - side);
    const double y = std::min(std::max(center.y - side / 2, box.minY()), box.maxY() - side);
    return SignatureInk::ink(unit, PdfRect{x, y, side, side}, rotation, pen, color);
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
    return stamp(strokes, checkmarkSize, 2.2, center, pageBounds, rotation, color);
}

std::optional<PdfAnnotation> cross(PdfPoint center, const PdfRect& pageBounds, int rotation, const RGBA& color)
{
    static const InkStrokes strokes{{{0.1, 0.1}, {0.9, 0.9}}, {{0.1, 0.9}, {0.9, 0.1}}};
    return stamp(strokes, crossSize, 2.0, center, pageBounds, rotation, color);
}

} // namespace QuickFill

} // namespace quarnkit
