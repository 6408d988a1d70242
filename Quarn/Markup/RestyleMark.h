#pragma once
// Restyling the selected mark of a page view, as the inspector and the
// window's style setters ask for it: colour, width, fill, text size and
// face, the arrow head. Each change is one undo step of the document (the
// rules are QuarnKit's Restyle); quick repeats of a colour, width or size
// change on one mark fold into the first. Nothing happens without a
// selected mark of a kind that takes the change.
#include "QuarnKit/Markup/MarkupTool.h"
#include "QuarnKit/Shell/RGBA.h"

namespace quarn {

class MarkEditor;

void applyColor(MarkEditor& marks, const quarnkit::RGBA& color);
void applyStroke(MarkEditor& marks, double width);
void applyFill(MarkEditor& marks, bool filled);
void applyTextSize(MarkEditor& marks, double size);
void applyFont(MarkEditor& marks, quarnkit::TextFont font);
// "Add Head" / "Remove Head" of a line.
void setArrowhead(MarkEditor& marks, bool on);

} // namespace quarn
