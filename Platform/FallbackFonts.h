#pragma once
// The faces a text box falls back to for characters its base-14 face cannot
// show (Greek, Cyrillic, Hebrew, Arabic, Han, Kana, Hangul, …): TrueType files
// of Debian font packages (fonts-dejavu-core, fonts-wqy-zenhei), shaped with
// HarfBuzz, so that Arabic letters join and marks sit on their letters. A
// saved page embeds only the glyphs its words need, cut out by subset().
#include <QByteArray>

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform {

class FallbackFont {
public:
    // None when the file is missing or holds no font.
    static std::shared_ptr<const FallbackFont> open(const std::string& path);
    ~FallbackFont();
    FallbackFont(const FallbackFont&) = delete;
    FallbackFont& operator=(const FallbackFont&) = delete;

    // The face's glyph for a character; none when the face lacks it.
    std::optional<unsigned> glyph(char32_t character) const;
    // A glyph's advance in em.
    double advance(unsigned glyph) const;

    // One glyph of a shaped run. Positions are in em.
    struct ShapedGlyph {
        unsigned glyph;
        std::size_t cluster; // the UTF-16 index of the first character it stands for
        double advance;      // how far the pen moves after it
        double dx, dy;       // where it sits from the pen (marks, vowel signs)
    };
    // Shapes `length` UTF-16 units of `text` from `start` as one run in one
    // direction; its script is the one its letters are written in. The text
    // around the run is its context (Arabic letters join across a run's
    // end). Glyphs come left to right, as drawn; invisible controls none.
    std::vector<ShapedGlyph> shape(const std::u16string& text, std::size_t start, std::size_t length,
                                   bool rightToLeft) const;
    // "DejaVuSans", "WenQuanYiZenHei", … (no spaces).
    const std::string& name() const { return name_; }

    struct Subset {
        QByteArray file;                     // a TrueType file
        std::map<unsigned, unsigned> glyphs; // each glyph of the face: its number in `file`
    };
    // A font file holding only `glyphs` (and the missing glyph), renumbered
    // from 1. None when HarfBuzz cannot cut the face.
    std::optional<Subset> subset(const std::set<unsigned>& glyphs) const;

private:
    struct Faces;
    explicit FallbackFont(std::unique_ptr<Faces> faces, std::string name);
    std::unique_ptr<Faces> faces_;
    std::string name_;
};

// The style of the base-14 face a text box is set in.
enum class FallbackStyle { sans, serif, mono };

// The faces tried in order for characters outside the base-14 face: DejaVu in
// the same style, DejaVu Sans, then the CJK face. Faces whose files are not
// installed are left out, so the list may be empty.
std::vector<std::shared_ptr<const FallbackFont>> fallbackFonts(FallbackStyle style);

} // namespace platform
