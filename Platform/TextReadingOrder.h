#pragma once
// A page's text in the order it is read. The engine keeps each line's
// characters in the order they were drawn, and a right-to-left line is
// drawn from its left end: its words come out reversed, its pieces (a
// number, a Latin word, spaces drawn apart) in the order the producer drew
// them, some on lines of their own. Here each line holding right-to-left
// letters is made whole again from the pieces on its baseline, put in the
// order it shows on the page, and read back into logical order with the
// Unicode bidirectional algorithm (ICU), as pdftotext reads it. Lines
// without right-to-left letters are left as the engine gave them.
#include "Platform/PdfDocument.h"

#include <string>

namespace platform {

// `page` with every line in reading order: each character keeps its box,
// combining marks follow the letter they sit on, and a glyph whose text is
// several characters keeps them in their order.
PdfTextPage inReadingOrder(const PdfTextPage& page);

// The letters a character of a page shows, as speech and braille know them:
// a presentation form (an Arabic letter's initial, middle or final form, the
// ligature of lam and alef, "ﬁ") as the letters it stands for, in their
// order (its compatibility decomposition); any other character as it is.
std::u32string lettersOf(char32_t code);

} // namespace platform
