#pragma once
// The faces a text box falls back to for characters its base-14 face cannot
// show (Greek, Cyrillic, Han, Kana, Hangul, …): TrueType files of Debian font
// packages (fonts-dejavu-core, fonts-wqy-zenhei), read with HarfBuzz. A
// saved page embeds only the glyphs its words need, cut out by subset().
#include <QByteArray>

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
    // "DejaVuSans", "WenQuanYiZenHei", … (no spaces).
    const std::string& name() const { return name_; }

    struct Subset {
        QByteArray file;                    // a TrueType file
        std::map<char32_t, unsigned> glyphs; // each character's glyph in `file`
    };
    // A font file holding only the glyphs of `characters` (and the missing
    // glyph), renumbered from 1. None when HarfBuzz cannot cut the face.
    std::optional<Subset> subset(const std::set<char32_t>& characters) const;

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
