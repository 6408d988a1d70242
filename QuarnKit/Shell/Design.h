#pragma once
// The named colours and fonts of ravlen's dark interface. Every window draws
// with these; views apply the opacities they need to the colours.
#include <QColor>
#include <QFont>

namespace quarnkit::Design {

// Each token is made once, on first use, and the same object is returned to
// every later caller. Fonts need the GUI application to exist.
const QColor& accent();   // the one accent blue: primary buttons, chosen states, focus
const QColor& record();   // destructive actions, warnings and errors
const QColor& window();   // background of windows and dialogs
const QColor& chrome();   // raised surfaces: bars, panels, controls
const QColor& canvas();   // the deepest background, behind PDF pages
const QColor& paper();    // text, icons and strokes, mostly at an opacity
const QColor& hairline(); // paper at 0.12: one-point dividers and outlines

const QFont& font();     // 13, medium
const QFont& fontBold(); // 13, semibold
const QFont& title();    // 18, semibold
const QFont& mono();     // monospaced, 12, medium

} // namespace quarnkit::Design
