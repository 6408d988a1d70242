#pragma once
// Restyling the selected mark, as the inspector and the window's style
// setters ask for it: colour, width, fill, text size and face, the arrow
// head. Each change is one undo step of the document (the rules are
// QuarnKit's Restyle); quick repeats of a colour, width or size change on one
// mark fold into the first. Nothing happens without a selected mark of a kind
// that takes the change.
#include "QuarnKit/Markup/MarkupTool.h"
#include "QuarnKit/Shell/RGBA.h"

namespace quarn {

class MarkSelection;

void applyColor(MarkSelection& selection, const quarnkit::RGBA& color);
void applyStroke(MarkSelection& selection, double width);
void applyFill(MarkSelection& selection, bool filled);
void applyTextSize(MarkSelection& selection, double size);
// `fallbackSize` stands for a text box that names no size.
void applyFont(MarkSelection& selection, quarnkit::TextFont font, double fallbackSize);
// "Add Head" / "Remove Head" of a line.
void setArrowhead(MarkSelection& selection, bool on);

} // namespace quarn
