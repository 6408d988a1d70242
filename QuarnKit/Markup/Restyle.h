#pragma once
// The rules of restyling one mark, as the inspector and the window's style
// setters ask for them: each takes the mark's value and its kind and changes
// the value in place, or returns false when the mark does not take the change
// (or already has it). Nothing here touches a document.
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Markup/MarkupTool.h"

#include <string>

namespace quarnkit::Restyle {

// A highlight keeps its see-through ink; near-white words of a text box get a
// dark plate so that they stay readable on paper; a filled shape stays filled.
// Redactions keep their colour.
bool color(platform::PdfAnnotation& mark, MarkKind kind, const RGBA& color);
// Lines keep their ends and heads; a thicker ink stroke is not clipped by its bounds.
bool stroke(platform::PdfAnnotation& mark, MarkKind kind, double width);
bool fill(platform::PdfAnnotation& mark, MarkKind kind, bool filled);
// Text boxes refit around their words (on the page box `page`).
bool textSize(platform::PdfAnnotation& mark, MarkKind kind, double size, const platform::PdfRect& page);
// `fallbackSize` stands for a box that names no size.
bool font(platform::PdfAnnotation& mark, MarkKind kind, TextFont font, double fallbackSize,
          const platform::PdfRect& page);
bool head(platform::PdfAnnotation& mark, MarkKind kind, bool on);
// New words for a text box or note: trimmed; a text box refits around them
// (`fallbackFont` and `fallbackSize` for a box that names none). False for
// empty words or the words it has: removing a mark is a delete of its own.
bool words(platform::PdfAnnotation& mark, MarkKind kind, const std::string& words, TextFont fallbackFont,
           double fallbackSize, const platform::PdfRect& page);

} // namespace quarnkit::Restyle
