#pragma once
// Builds every kind of mark as an annotation value from page-space input (y
// up) and holds the visual rules of marks: alphas, minimum sizes, paddings,
// the note size, text-box sizing and the cutting of selected text into one
// mark per line. Builders never put anything on a page: an empty result means
// there is nothing to add.
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Markup/MarkupTool.h"
#include "QuarnKit/Markup/MarkupGeometry.h"
#include "QuarnKit/Markup/PageText.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace quarnkit {

using platform::PdfAnnotation;

namespace AnnotationFactory {

// The subtypes that are marks, in this order.
inline constexpr std::array<const char*, 9> markupTypes{"Ink",       "Square",    "Circle",    "Line", "FreeText",
                                                        "Highlight", "Underline", "StrikeOut", "Text"};
inline constexpr double noteSize = platform::PdfAnnotations::noteIconSize;

// Subtype comparison after dropping one leading "/" from each side.
bool matches(const PdfAnnotation& annotation, std::string_view subtype);
bool isMarkup(const PdfAnnotation& annotation);

std::optional<PdfAnnotation> ink(std::vector<PdfPoint> points, const RGBA& color, double width);
std::optional<PdfAnnotation> rectangle(PdfPoint from, PdfPoint to, const RGBA& color, double width, bool filled);
std::optional<PdfAnnotation> ellipse(PdfPoint from, PdfPoint to, const RGBA& color, double width, bool filled);
std::optional<PdfAnnotation> line(PdfPoint from, PdfPoint to, const RGBA& color, double width, bool head);
std::optional<PdfAnnotation> arrow(PdfPoint from, PdfPoint to, const RGBA& color, double width);

// One text-markup mark ("Highlight", "Underline" or "StrikeOut") covering a box.
std::optional<PdfAnnotation> textMarkup(std::string_view subtype, const PdfRect& rect, const RGBA& color);
std::optional<PdfAnnotation> highlight(const PdfRect& rect, const RGBA& color);
// A box's corners relative to its origin: (0,h), (w,h), (0,0), (w,0).
std::array<PdfPoint, 4> quad(double width, double height);

// The line rectangles of the text dragged across from `from` to `to` (a
// click marks the word under it), clipped to the drag's box grown by 3.
std::vector<PdfRect> textLines(const platform::PdfTextPage& text, const PdfRect& mediaBox, PdfPoint from, PdfPoint to);
std::vector<PdfRect> textLines(const platform::PdfDocument& doc, int page, PdfPoint from, PdfPoint to);
// One mark per line of that text, in line order.
std::vector<PdfAnnotation> textMarkups(std::string_view subtype, const platform::PdfDocument& doc, int page,
                                       PdfPoint from, PdfPoint to, const RGBA& color);
// The same over a page's text read already, on a page of `mediaBox`.
std::vector<PdfAnnotation> textMarkups(std::string_view subtype, const platform::PdfTextPage& text,
                                       const PdfRect& mediaBox, PdfPoint from, PdfPoint to, const RGBA& color);
// One mark per line of a selection.
std::vector<PdfAnnotation> textMarkups(std::string_view subtype, const std::vector<SelectedLine>& selection,
                                       const PdfRect& mediaBox, const RGBA& color);
// Highlights of the text inside a box.
std::vector<PdfAnnotation> textHighlights(const platform::PdfDocument& doc, int page, const PdfRect& rect,
                                          const RGBA& color);

// A sticky note centred on the point and kept on the page; none for empty words.
std::optional<PdfAnnotation> note(PdfPoint at, const std::string& contents, const RGBA& color,
                                  const PdfRect& pageBounds);
// A text box whose top sits half a line plus 5 above the click. On a page
// shown turned by `pageRotation` degrees the box is laid out as the page is
// seen, so its words read upright there.
std::optional<PdfAnnotation> freeText(PdfPoint at, const std::string& text, const RGBA& color, double fontSize,
                                      TextFont font, const PdfRect& pageBounds, int pageRotation = 0);
struct BoxSize {
    double width = 0, height = 0;
};
// The box a text needs: widest line + 14 (at least 28), lines + 10.
BoxSize textBoxSize(const std::string& text, TextFont font, double fontSize);
// A text box refitted to new words, font or size: left and top edges (as its
// words read, turned by `rotation`) kept, on the page.
PdfRect textBoxBounds(const std::string& text, TextFont font, double fontSize, const PdfRect& box,
                      const PdfRect& pageBounds, int rotation = 0);

// Text taken from a PDF or typed by the user, without surrounding white space and line ends.
std::string trimmed(const std::string& text);

} // namespace AnnotationFactory

} // namespace quarnkit
