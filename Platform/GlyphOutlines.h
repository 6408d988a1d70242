#pragma once
// Letters as outlines: a font file or a base-14 face lays out one line of text
// and hands back the outline paths of its glyphs, for ink that is drawn from
// letters (typed signatures, dates on turned pages). Characters the font lacks
// are taken from MuPDF's built-in fallback fonts for their script.
#include "Platform/PdfGeometry.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class PathVerb { move, line, quad, cubic, close };

// One element of a path. move and line use points[0]; quad: control
// points[0], end points[1]; cubic: controls points[0] and [1], end points[2];
// close uses none.
struct PathElement {
    PathVerb verb = PathVerb::move;
    std::array<PdfPoint, 3> points{};
    friend bool operator==(const PathElement&, const PathElement&) = default;
};

// A path in PDF-like space (y up).
struct OutlinePath {
    std::vector<PathElement> elements;

    bool empty() const { return elements.empty(); }
    // The box of every point of the path, control points included; the zero
    // rectangle for an empty path.
    PdfRect bounds() const;

    void moveTo(PdfPoint p) { elements.push_back({PathVerb::move, {p}}); }
    void lineTo(PdfPoint p) { elements.push_back({PathVerb::line, {p}}); }
    void quadTo(PdfPoint c, PdfPoint p) { elements.push_back({PathVerb::quad, {c, p}}); }
    void cubicTo(PdfPoint c1, PdfPoint c2, PdfPoint p) { elements.push_back({PathVerb::cubic, {c1, c2, p}}); }
    void close() { elements.push_back({PathVerb::close, {}}); }
};

// A loaded font; copies share it. Usable from any thread.
class OutlineFont {
public:
    // A TrueType, OpenType or Type 1 file; none when it cannot be read as a font.
    static std::optional<OutlineFont> fromFile(const std::string& path);
    // A base-14 face by its PostScript name ("Helvetica", "Times-Roman", …);
    // none for another name.
    static std::optional<OutlineFont> base14(const std::string& name);

    // The name the font gives itself.
    std::string name() const;
    // Whether the font itself has a glyph for the character.
    bool covers(char32_t character) const;

    // The glyph outlines of `utf8` set as one line at `size` points: the pen
    // starts at (0, 0), the baseline is y = 0 and y grows upwards. Each glyph
    // advances by its own width. Glyphs without an outline (spaces) draw
    // nothing but advance; characters found in no font are left out. An
    // engine failure gives an empty path.
    OutlinePath line(const std::string& utf8, double size) const;

private:
    static std::optional<OutlineFont> load(const char* path, const char* base14);
    struct Impl;
    std::shared_ptr<const Impl> impl;
};

} // namespace platform
