#pragma once
// How a text box sets its words, as the editor that typed them does: each
// paragraph is ordered with the Unicode bidirectional algorithm (ICU), so
// that Hebrew and Arabic read right to left among Latin words and digits;
// runs in fallback faces are shaped (Platform/FallbackFonts.h), so that Arabic
// letters join; lines wrap at spaces, and between Han, Kana and Hangul
// characters, to the box's width. Text boxes are measured and drawn from this
// one layout (Platform/PdfAnnotations.h).
#include "Platform/FallbackFonts.h"
#include "Platform/PdfAnnotations.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One glyph of a line. Positions are in em from the line's left end.
struct LaidGlyph {
    int face = 0;          // 0: the box's base-14 face; i > 0: fallback face i - 1
    unsigned glyph = 0;    // the base face's WinAnsi code, or the fallback face's glyph number
    double x = 0;          // the pen
    double dx = 0, dy = 0; // where the glyph sits from the pen
    double advance = 0;
    // The characters it shows, in the order it is drawn (a right-to-left
    // ligature's right to left); empty for a character's later glyphs.
    std::u32string text;
};

struct LaidLine {
    std::vector<LaidGlyph> glyphs; // left to right, as drawn
    double width = 0;              // em
    bool rightToLeft = false;      // its paragraph is written right to left
};

class TextBoxLayout {
public:
    // The faces are opened when first needed: Latin text never touches a font file.
    explicit TextBoxLayout(PdfBaseFont font);

    // The lines of `utf8`, its own line breaks kept, each wrapped to `width`
    // points at `size` points; a word wider than that stays whole.
    std::vector<LaidLine> lines(const std::string& utf8, double size, double width);

    // The base face's advances of the WinAnsi codes 0 to 255 in 1/1000 em, as its /Widths say.
    const std::vector<float>& baseWidths();
    // Fallback face i - 1 of the glyphs laid out with face i.
    const std::vector<std::shared_ptr<const FallbackFont>>& fallbacks();
    // The base face's code for a character; "?" for what it lacks.
    static unsigned byteOf(char32_t u);

private:
    struct Paragraph;
    void place(Paragraph& paragraph);
    LaidLine lay(const Paragraph& paragraph, std::size_t begin, std::size_t end);

    PdfBaseFont font_;
    std::vector<float> widths_;
    std::optional<std::vector<std::shared_ptr<const FallbackFont>>> fallbacks_;
};

} // namespace platform
