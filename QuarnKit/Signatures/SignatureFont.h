#pragma once
// The handwriting fonts offered for typed signatures: free script faces from
// Debian packages, found in the fonts folders of the data directories
// (/usr/share/fonts, ~/.local/share/fonts, …).
#include "Platform/GlyphOutlines.h"

#include <optional>
#include <string>
#include <vector>

namespace quarnkit {

struct SignatureFont {
    std::string name;           // shown to the user
    std::string postScriptName; // the font's own name; its identity
    std::string file;           // relative to a data directory

    const std::string& id() const { return postScriptName; }
    friend bool operator==(const SignatureFont&, const SignatureFont&) = default;

    // Every font offered, in the order shown.
    static const std::vector<SignatureFont>& candidates();
    // The candidates whose file is there and loads as a font, in order.
    static std::vector<SignatureFont> installed();
    // The first candidate with this id, installed or not.
    static std::optional<SignatureFont> withId(const std::string& id);

    // The loaded font; none when the file is missing or is no font.
    std::optional<platform::OutlineFont> font() const;
};

} // namespace quarnkit
