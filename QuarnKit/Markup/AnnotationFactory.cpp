#include "QuarnKit/Markup/AnnotationFactory.h"

#include <QString>

#include <algorithm>
#include <cmath>

namespace quarnkit {

using platform::PdfColor;
namespace annots = platform::PdfAnnotations;

namespace AnnotationFactory {

namespace {

std::string_view withoutSlash(std::string_view s) { return !s.empty() && s.front() == '/' ? s.substr(1) : s; }

PdfColor rgb(const RGBA& c) { return {c.r, c.g, c.b}; }

// The mark's colour and its alpha as the opacity of the whole mark.
void paint(PdfAnnotation& a, const RGBA& c, double alpha)
{
    a.color = rgb(c);
    a.opacity = std::clamp(alpha, 0.0, 1.0);
}

PdfRect standardized(const PdfRect& r) { return PdfRect::fromCorners({r.minX(), r.minY()}, {r.maxX(), r.maxY()}); }

std::optional<PdfAnnotation> shape(const char* subtype, PdfPoint from, PdfPoint to, const RGBA& color, double width,
                                   bool filled)
{
    const PdfRect rect = MarkupGeometry::rect(from, to);
    if (rect.width < 3 || rect.height < 3) return std::nullopt;
    PdfAnnotation a;
    a.subtype = subtype;
    a.rect = rect;
    paint(a, color, color.a);
    a.borderWidth = width;
    if (filled) {
        a.interiorColor = rgb(color);
        a.interiorOpacity = 0.22;
    }
    return a;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (text[i] == '\n' || text[i] == '\r') out.emplace_back();
        else out.back() += text[i];
    }
    return out;
}

platform::PdfBaseFont baseFont(TextFont font) { return annots::baseFontNamed(std::string(pdfFontName(font))); }

// A box narrowed below its text's width wraps the text; it grows downwards so
// that no words are cut off.
double heightWrapped(const std::string& text, TextFont font, double size, double width)
{
    const int lines = annots::wrappedLineCount(baseFont(font), size, text, width - 2 * annots::textBoxPaddingX);
    const double lineHeight = annots::lineHeight(size);
    return std::max(std::ceil(lines * lineHeight), lineHeight) + 2 * annots::textBoxPaddingY;
}

// The line rectangles of a selection that are worth a mark.
std::vector<PdfRect> lineRects(const std::vector<SelectedLine>& selection, const PdfRect& box,
                               const std::optional<PdfRect>& clip)
{
    std::vector<PdfRect> out;
    for (const auto& line : selection) {
        if (trimmed(line.text).empty()) continue;
        const PdfRect r = standardized(line.bounds);
        if (r.width <= 1 || r.height <= 1) continue;
        if (r.width >= 1.2 * box.width || r.height >= 0.5 * box.height) continue;
        if (clip && !r.intersects(*clip)) continue;
        out.push_back(r);
    }
    return out;
}

// Moves a drag's end onto the text line under it, so that a drag that starts
// or ends between lines still selects from the line it is closest to.
PdfPoint ontoLine(const platform::PdfTextPage& text, const PdfRect& box, PdfPoint p)
{
    const PdfRect band{box.minX(), p.y - 20, box.width, 40};
    for (const auto& line : PageText::inRect(text, band)) {
        if (trimmed(line.text).empty()) continue;
        const PdfRect& r = line.bounds;
        if (r.minY() <= p.y && p.y <= r.maxY() && r.width > 1)
            return {std::min(std::max(p.x, r.minX() + 0.5), r.maxX() - 0.5), r.midY()};
    }
    return p;
}

std::vector<PdfAnnotation> markupsFor(std::string_view subtype, const std::vector<PdfRect>& rects, const RGBA& color)
{
    std::vector<PdfAnnotation> out;
    for (const auto& r : rects)
        if (auto a = textMarkup(subtype, r, color)) out.push_back(std::move(*a));
    return out;
}

} // namespace

std::string trimmed(const std::string& text) { return QString::fromStdString(text).trimmed().toStdString(); }

bool matches(const PdfAnnotation& annotation, std::string_view subtype)
{
    return !annotation.subtype.empty() && withoutSlash(annotation.subtype) == withoutSlash(subtype);
}

bool isMarkup(const PdfAnnotation& annotation)
{
    return std::any_of(markupTypes.begin(), markupTypes.end(), [&](const char* t) { return matches(annotation, t); });
}

std::optional<PdfAnnotation> ink(std::vector<PdfPoint> points, const RGBA& color, double width)
{
    if (points.size() == 1) points.push_back({points[0].x + 0.8, points[0].y}); // a click leaves a dot
    if (points.size() < 2) return std::nullopt;
    const PdfRect bounds = MarkupGeometry::bounds(points, std::max(width, 1.0) + 2);
    if (!(bounds.width > 0) || !(bounds.height > 0)) return std::nullopt;
    PdfAnnotation a;
    a.subtype = "Ink";
    a.rect = bounds;
    paint(a, color, color.a);
    a.borderWidth = width;
    a.inkList = {std::move(points)};
    return a;
}

std::optional<PdfAnnotation> rectangle(PdfPoint from, PdfPoint to, const RGBA& color, double width, bool filled)
{
    return shape("Square", from, to, color, width, filled);
}

std::optional<PdfAnnotation> ellipse(PdfPoint from, PdfPoint to, const RGBA& color, double width, bool filled)
{
    return shape("Circle", from, to, color, width, filled);
}

std::optional<PdfAnnotation> line(PdfPoint from, PdfPoint to, const RGBA& color, double width, bool head)
{
    if (MarkupGeometry::length(from, to) < 4) return std::nullopt;
    PdfAnnotation a;
    a.subtype = "Line";
    a.rect = MarkupGeometry::lineBounds(from, to, width, head);
    paint(a, color, color.a);
    a.borderWidth = width;
    a.lineStart = from;
    a.lineEnd = to;
    a.startEnding = "None";
    a.endEnding = head ? "ClosedArrow" : "None";
    return a;
}

std::optional<PdfAnnotation> arrow(PdfPoint from, PdfPoint to, const RGBA& color, double width)
{
    return line(from, to, color, width, true);
}

std::optional<PdfAnnotation> textMarkup(std::string_view subtype, const PdfRect& rect, const RGBA& color)
{
    const PdfRect r = standardized(rect);
    if (r.width < 2 || r.height < 2) return std::nullopt;
    PdfAnnotation a;
    a.subtype = std::string(withoutSlash(subtype));
    a.rect = r;
    paint(a, color, a.subtype == "Highlight" ? 0.45 : 1.0);
    const auto q = quad(r.width, r.height);
    a.quads = {{{r.x + q[0].x, r.y + q[0].y},
                {r.x + q[1].x, r.y + q[1].y},
                {r.x + q[2].x, r.y + q[2].y},
                {r.x + q[3].x, r.y + q[3].y}}};
    return a;
}

std::optional<PdfAnnotation> highlight(const PdfRect& rect, const RGBA& color)
{
    return textMarkup("Highlight", rect, color);
}

std::array<PdfPoint, 4> quad(double w, double h)
{
    return {PdfPoint{0, h}, PdfPoint{w, h}, PdfPoint{0, 0}, PdfPoint{w, 0}};
}

std::vector<PdfRect> textLines(const platform::PdfTextPage& text, const PdfRect& box, PdfPoint from, PdfPoint to)
{
    const auto selection = MarkupGeometry::length(from, to) < 2
                               ? PageText::wordAt(text, from)
                               : PageText::between(text, ontoLine(text, box, from), ontoLine(text, box, to));
    if (selection.empty()) return {};
    const PdfRect clip = MarkupGeometry::rect(from, to).insetBy(-3, -3);
    return lineRects(selection, box, clip);
}

std::vector<PdfRect> textLines(const platform::PdfDocument& doc, int page, PdfPoint from, PdfPoint to)
{
    return textLines(doc.textPage(page), doc.pageGeometry(page).mediaBox, from, to);
}

std::vector<PdfAnnotation> textMarkups(std::string_view subtype, const platform::PdfDocument& doc, int page,
                                       PdfPoint from, PdfPoint to, const RGBA& color)
{
    return markupsFor(subtype, textLines(doc, page, from, to), color);
}

std::vector<PdfAnnotation> textMarkups(std::string_view subtype, const platform::PdfTextPage& text,
                                       const PdfRect& mediaBox, PdfPoint from, PdfPoint to, const RGBA& color)
{
    return markupsFor(subtype, textLines(text, mediaBox, from, to), color);
}

std::vector<PdfAnnotation> textMarkups(std::string_view subtype, const std::vector<SelectedLine>& selection,
                                       const PdfRect& mediaBox, const RGBA& color)
{
    return markupsFor(subtype, lineRects(selection, mediaBox, std::nullopt), color);
}

std::vector<PdfAnnotation> textHighlights(const platform::PdfDocument& doc, int page, const PdfRect& rect,
                                          const RGBA& color)
{
    const PdfRect r = standardized(rect);
    if (r.width < 2 || r.height < 2) return {};
    const auto selection = PageText::inRect(doc.textPage(page), r);
    if (selection.empty()) return {};
    return textMarkups("Highlight", selection, doc.pageGeometry(page).mediaBox, color);
}

std::optional<PdfAnnotation> note(PdfPoint at, const std::string& contents, const RGBA& color,
                                  const PdfRect& pageBounds)
{
    const std::string text = trimmed(contents);
    if (text.empty()) return std::nullopt;
    PdfAnnotation a;
    a.subtype = "Text";
    a.rect = MarkupGeometry::clamp({at.x - noteSize / 2, at.y - noteSize / 2, noteSize, noteSize}, pageBounds);
    a.contents = text;
    a.iconName = "Comment";
    paint(a, color, 1.0);
    return a;
}

namespace {

// User space turned as a page shown turned clockwise by `degrees` is seen
// (still y up), and back: text boxes are laid out there.
struct Upright {
    int degrees;
    explicit Upright(int rotation) : degrees(platform::normalizedRotation(rotation)) {}
    PdfPoint of(PdfPoint p) const { return turn(p, degrees); }
    PdfRect of(const PdfRect& r) const { return turn(r, degrees); }
    PdfRect back(const PdfRect& r) const { return turn(r, (360 - degrees) % 360); }

private:
    // Clockwise by a multiple of 90 degrees, about the origin.
    static PdfPoint turn(PdfPoint p, int by)
    {
        switch (by) {
        case 90: return {p.y, -p.x};
        case 180: return {-p.x, -p.y};
        case 270: return {-p.y, p.x};
        default: return p;
        }
    }
    static PdfRect turn(const PdfRect& r, int by)
    {
        return PdfRect::fromCorners(turn(PdfPoint{r.minX(), r.minY()}, by), turn(PdfPoint{r.maxX(), r.maxY()}, by));
    }
};

} // namespace

BoxSize textBoxSize(const std::string& text, TextFont font, double fontSize)
{
    double widest = 0;
    const auto all = lines(text);
    for (const auto& l : all) widest = std::max(widest, annots::textWidth(baseFont(font), fontSize, l));
    const double lineHeight = annots::lineHeight(fontSize);
    const double measured = double(all.size()) * lineHeight;
    return {std::max(std::ceil(widest) + 2 * annots::textBoxPaddingX, 28.0),
            std::max(std::ceil(measured), lineHeight) + 2 * annots::textBoxPaddingY};
}

std::optional<PdfAnnotation> freeText(PdfPoint at, const std::string& string, const RGBA& color, double fontSize,
                                      TextFont font, const PdfRect& pageBounds, int pageRotation)
{
    const Upright upright(pageRotation);
    const PdfPoint p = upright.of(at);
    const PdfRect b = upright.of(pageBounds);
    const std::string text = trimmed(string);
    if (text.empty()) return std::nullopt;
    const double size = std::max(fontSize, 6.0);
    auto [width, height] = textBoxSize(text, font, size);
    const double full = width;
    width = std::min(width, std::max(b.maxX() - p.x - 6, 28.0));
    if (width < full) height = heightWrapped(text, font, size, width);
    double y = p.y + 0.5 * annots::lineHeight(size) + 5 - height;
    const double x = std::min(std::max(p.x, b.minX() + 4), std::max(b.maxX() - width - 4, b.minX()));
    y = std::min(std::max(y, b.minY() + 4), std::max(b.maxY() - height - 4, b.minY()));

    PdfAnnotation a;
    a.subtype = "FreeText";
    a.rect = upright.back({x, y, width, height});
    a.rotation = upright.degrees;
    a.contents = text;
    a.fontName = std::string(pdfFontName(font));
    a.fontSize = size;
    a.alignment = 0;
    a.borderWidth = 0;
    if (color.isNearWhite()) {
        // Near-white words would vanish on paper: white on a dark backing.
        a.fontColor = PdfColor{1, 1, 1};
        a.interiorColor = PdfColor{0.12, 0.12, 0.12};
        a.interiorOpacity = 0.92;
        a.color = PdfColor{0.12, 0.12, 0.12};
    } else {
        // No box colour: readers that rebuild the look fill the box with it.
        a.fontColor = rgb(color);
    }
    return a;
}

PdfRect textBoxBounds(const std::string& text, TextFont font, double fontSize, const PdfRect& turnedBox,
                      const PdfRect& turnedPage, int rotation)
{
    const Upright upright(rotation);
    const PdfRect box = upright.of(turnedBox), pageBounds = upright.of(turnedPage);
    auto [width, height] = textBoxSize(text, font, fontSize);
    const double full = width;
    width = std::min(width, std::max(pageBounds.width - 8, 28.0));
    if (width < full) height = heightWrapped(text, font, fontSize, width);
    height = std::min(height, std::max(pageBounds.height - 8, 20.0));
    const PdfRect fitted{box.minX(), box.maxY() - height, width, height};
    return upright.back(MarkupGeometry::clamp(fitted, pageBounds.insetBy(4, 4)));
}

} // namespace AnnotationFactory

} // namespace quarnkit
