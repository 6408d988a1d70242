#include "Platform/TextBoxLayout.h"

#include "Platform/PdfInternal.h"

#include <QChar>
#include <QString>
#include <QTextBoundaryFinder>

#include <unicode/ubidi.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace platform {

namespace {

// The advance of each character in em, into `out`.
void advancesC(fz_context* ctx, const char* baseFont, const int* unicodes, int n, float* out, FzError* err)
{
    fz_font* font = nullptr;
    fz_var(font);
    fz_try(ctx) {
        font = fz_new_base14_font(ctx, baseFont);
        for (int i = 0; i < n; ++i)
            out[i] = fz_advance_glyph(ctx, font, fz_encode_character(ctx, font, unicodes[i]), 0);
    }
    fz_always(ctx) fz_drop_font(ctx, font);
    fz_catch(ctx) captureError(ctx, err);
}

// The base face draws what its Latin set (WinAnsi) holds; everything else is
// drawn in fallback faces (DejaVu, then a CJK face), so that every reader
// shows the typed words.
bool inBaseFace(char32_t u) { return u < 128 || fz_windows_1252_from_unicode(int(u)) > 0; }

FallbackStyle fallbackStyle(PdfBaseFont f)
{
    return f == PdfBaseFont::times     ? FallbackStyle::serif
           : f == PdfBaseFont::courier ? FallbackStyle::mono
                                       : FallbackStyle::sans;
}

// Characters that only steer the bidirectional algorithm or shaping: they
// show nothing and take no room.
bool isControl(char32_t u)
{
    return u == 0x061C || u == 0x200C || u == 0x200D || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E)
           || (u >= 0x2066 && u <= 0x2069);
}

bool isMark(char32_t u)
{
    const QChar::Category c = QChar::category(u);
    return c == QChar::Mark_NonSpacing || c == QChar::Mark_SpacingCombining || c == QChar::Mark_Enclosing;
}

// Han, Kana and Hangul are written without spaces between words.
bool writtenWithoutSpaces(char32_t u)
{
    return (u >= 0x1100 && u <= 0x11FF) || (u >= 0x2E80 && u <= 0x9FFF) || (u >= 0xA960 && u <= 0xA97F)
           || (u >= 0xAC00 && u <= 0xD7FF) || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFF00 && u <= 0xFFEF)
           || (u >= 0x20000 && u <= 0x3FFFF);
}

constexpr int invisible = -1; // the face of a control nothing draws

struct UBiDiOwner {
    UBiDi* p = ubidi_open();
    ~UBiDiOwner()
    {
        if (p) ubidi_close(p);
    }
    UBiDiOwner() = default;
    UBiDiOwner(const UBiDiOwner&) = delete;
    UBiDiOwner& operator=(const UBiDiOwner&) = delete;
};

} // namespace

// One paragraph of the text (a line of its own in what was typed): its
// characters with their faces, scripts and advances, and the bidirectional
// algorithm's reading of it, which its lines are ordered from.
struct TextBoxLayout::Paragraph {
    struct Char {
        char32_t code;
        int face = 0;
        QChar::Script script = QChar::Script_Common;
        std::size_t utf16 = 0; // where it starts in `text`
        double advance = 0;    // em
    };
    std::u32string codes;
    std::u16string text;
    std::vector<Char> chars;
    std::vector<std::size_t> charAt; // UTF-16 index → character index
    UBiDiOwner bidi;
    bool rightToLeft = false;

    double width(std::size_t begin, std::size_t end) const
    {
        double em = 0;
        for (std::size_t i = begin; i < end; ++i) em += chars[i].advance;
        return em;
    }
    std::size_t utf16End(std::size_t end) const { return end < chars.size() ? chars[end].utf16 : text.size(); }
    // Where a run of one face and one script ends, from `begin` up to `end`.
    std::size_t itemEnd(std::size_t begin, std::size_t end) const
    {
        std::size_t i = begin + 1;
        while (i < end && chars[i].face == chars[begin].face
               && (chars[begin].face == 0 || chars[i].script == chars[begin].script))
            ++i;
        return i;
    }
};

TextBoxLayout::TextBoxLayout(PdfBaseFont font) : font_(font) {}

unsigned TextBoxLayout::byteOf(char32_t u)
{
    if (u < 128) return unsigned(u);
    const int b = fz_windows_1252_from_unicode(int(u));
    return b > 0 && b < 256 ? unsigned(b) : unsigned('?');
}

const std::vector<float>& TextBoxLayout::baseWidths()
{
    if (widths_.empty()) {
        std::vector<int> unicodes;
        for (int c = 0; c < 256; ++c) unicodes.push_back(c < 128 ? c : fz_unicode_from_windows_1252[c]);
        std::vector<float> widths(256, 0.0f);
        FzError err;
        advancesC(pdfContext(), PdfAnnotations::baseFontName(font_), unicodes.data(), 256, widths.data(), &err);
        throwIfFailed(err);
        for (float& w : widths) w = std::round(w * 1000.0f);
        widths_ = std::move(widths);
    }
    return widths_;
}

const std::vector<std::shared_ptr<const FallbackFont>>& TextBoxLayout::fallbacks()
{
    if (!fallbacks_) fallbacks_ = fallbackFonts(fallbackStyle(font_));
    return *fallbacks_;
}

// Faces, scripts, the bidirectional reading and each character's advance as
// its paragraph is shaped (a character's glyphs' advances, an Arabic letter's
// as it joins its neighbours).
void TextBoxLayout::place(Paragraph& p)
{
    const auto& faces = fallbacks();
    for (std::size_t i = 0; i < p.codes.size(); ++i) {
        const char32_t u = p.codes[i];
        Paragraph::Char c{u};
        const int before = i > 0 ? p.chars.back().face : invisible;
        if (isControl(u)) {
            // Shaped with the letters around it, or drawn by nobody.
            c.face = before > 0 ? before : invisible;
        } else if (isMark(u) && before > 0 && faces[size_t(before - 1)]->glyph(u)) {
            c.face = before; // a mark stays with its letter
        } else if (!inBaseFace(u)) {
            for (std::size_t f = 0; f < faces.size() && !c.face; ++f)
                if (faces[f]->glyph(u)) c.face = int(f) + 1;
            if (!c.face && !faces.empty()) c.face = 1; // no face has it: the first one's missing-glyph box
        }
        c.script = QChar::script(u);
        c.utf16 = p.text.size();
        if (QChar::requiresSurrogates(u)) {
            p.text += char16_t(QChar::highSurrogate(u));
            p.text += char16_t(QChar::lowSurrogate(u));
        } else {
            p.text += char16_t(u);
        }
        p.chars.push_back(c);
    }
    for (std::size_t i = 0; i < p.chars.size(); ++i)
        p.charAt.insert(p.charAt.end(), p.utf16End(i + 1) - p.chars[i].utf16, i);

    // Characters common to all scripts (spaces, digits, marks) belong to the
    // run they stand in, so that a run is shaped in one script.
    const auto common = [](QChar::Script s) { return s == QChar::Script_Common || s == QChar::Script_Inherited; };
    for (std::size_t i = 1; i < p.chars.size(); ++i)
        if (common(p.chars[i].script)) p.chars[i].script = p.chars[i - 1].script;
    for (std::size_t i = p.chars.size(); i-- > 1;)
        if (common(p.chars[i - 1].script)) p.chars[i - 1].script = p.chars[i].script;

    UErrorCode status = U_ZERO_ERROR;
    if (p.bidi.p)
        ubidi_setPara(p.bidi.p, reinterpret_cast<const UChar*>(p.text.data()), int32_t(p.text.size()),
                      UBIDI_DEFAULT_LTR, nullptr, &status);
    const bool ordered = p.bidi.p && U_SUCCESS(status);
    p.rightToLeft = ordered && (ubidi_getParaLevel(p.bidi.p) & 1);
    const auto level = [&](std::size_t i) {
        return ordered ? ubidi_getLevelAt(p.bidi.p, int32_t(p.chars[i].utf16)) : 0;
    };

    const std::vector<float>& widths = baseWidths();
    for (std::size_t begin = 0; begin < p.chars.size();) {
        std::size_t end = p.itemEnd(begin, p.chars.size());
        for (std::size_t e = begin + 1; e < end; ++e) // one direction per run
            if (level(e) != level(begin)) {
                end = e;
                break;
            }
        const int face = p.chars[begin].face;
        if (face == 0) {
            for (std::size_t i = begin; i < end; ++i) p.chars[i].advance = widths[byteOf(p.chars[i].code)] / 1000.0;
        } else if (face > 0) {
            const std::size_t from = p.chars[begin].utf16;
            for (const FallbackFont::ShapedGlyph& g :
                 faces[size_t(face - 1)]->shape(p.text, from, p.utf16End(end) - from, level(begin) & 1))
                p.chars[p.charAt[g.cluster]].advance += g.advance;
        }
        begin = end;
    }
}

// The characters from `begin` to `end` of the paragraph as one line, in the
// order the bidirectional algorithm shows them.
LaidLine TextBoxLayout::lay(const Paragraph& p, std::size_t begin, std::size_t end)
{
    LaidLine line;
    line.rightToLeft = p.rightToLeft;
    if (begin >= end) return line;
    const std::size_t from = p.chars[begin].utf16, to = p.utf16End(end);

    // The visual runs: character ranges with their direction, left to right.
    struct Run {
        std::size_t begin, end;
        bool rightToLeft;
    };
    std::vector<Run> runs;
    UBiDiOwner lineBidi;
    UErrorCode status = U_ZERO_ERROR;
    if (p.bidi.p && lineBidi.p) ubidi_setLine(p.bidi.p, int32_t(from), int32_t(to), lineBidi.p, &status);
    const int32_t count = p.bidi.p && lineBidi.p && U_SUCCESS(status) ? ubidi_countRuns(lineBidi.p, &status) : -1;
    if (count > 0 && U_SUCCESS(status)) {
        for (int32_t r = 0; r < count; ++r) {
            int32_t start = 0, length = 0;
            const UBiDiDirection direction = ubidi_getVisualRun(lineBidi.p, r, &start, &length);
            const std::size_t first = p.charAt[from + size_t(start)];
            runs.push_back({first, p.charAt[from + size_t(start + length) - 1] + 1, direction == UBIDI_RTL});
        }
    } else {
        runs.push_back({begin, end, false}); // no ICU reading: as typed
    }

    const auto& faces = fallbacks();
    const std::vector<float>& widths = baseWidths();
    double pen = 0;
    const auto add = [&](LaidGlyph g) {
        g.x = pen;
        pen += g.advance;
        line.glyphs.push_back(std::move(g));
    };
    for (const Run& run : runs) {
        // The run's pieces of one face and script, in the order they are drawn.
        std::vector<std::pair<std::size_t, std::size_t>> items;
        for (std::size_t i = run.begin; i < run.end;) {
            const std::size_t e = p.itemEnd(i, run.end);
            items.emplace_back(i, e);
            i = e;
        }
        if (run.rightToLeft) std::reverse(items.begin(), items.end());
        for (const auto& [b, e] : items) {
            const int face = p.chars[b].face;
            if (face == invisible) continue;
            if (face == 0) {
                for (std::size_t k = 0; k < e - b; ++k) {
                    const char32_t u = p.chars[run.rightToLeft ? e - 1 - k : b + k].code;
                    // Brackets and the like face the other way in right-to-left text.
                    const unsigned code = byteOf(run.rightToLeft ? QChar::mirroredChar(u) : u);
                    add({0, code, 0, 0, 0, widths[code] / 1000.0, std::u32string(1, u)});
                }
                continue;
            }
            const std::size_t start = p.chars[b].utf16, stop = p.utf16End(e);
            const auto shaped = faces[size_t(face - 1)]->shape(p.text, start, stop - start, run.rightToLeft);
            // Each cluster's characters go with its first glyph, for a
            // reader that extracts the text. In a right-to-left run they go
            // in the order they are drawn, right to left, as every other
            // character there: readers put a right-to-left line back into
            // reading order character by character, a ligature's too.
            std::vector<std::size_t> starts;
            for (const auto& g : shaped) starts.push_back(g.cluster);
            std::sort(starts.begin(), starts.end());
            starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
            std::vector<bool> told(starts.size(), false);
            for (const auto& g : shaped) {
                const std::size_t k =
                    size_t(std::lower_bound(starts.begin(), starts.end(), g.cluster) - starts.begin());
                std::u32string text;
                if (!told[k]) {
                    told[k] = true;
                    const std::size_t limit = k + 1 < starts.size() ? starts[k + 1] : stop;
                    for (std::size_t c = p.charAt[g.cluster]; c < e && p.chars[c].utf16 < limit; ++c)
                        if (!isControl(p.chars[c].code)) text += p.chars[c].code;
                }
                if (run.rightToLeft) std::reverse(text.begin(), text.end());
                add({face, g.glyph, 0, g.dx, g.dy, g.advance, std::move(text)});
            }
        }
    }
    // Round off float noise, so that a box sized with ceil() does not grow by a point.
    line.width = std::round(pen * 1e4) / 1e4;
    return line;
}

std::vector<LaidLine> TextBoxLayout::lines(const std::string& utf8, double size, double width)
{
    // The text's own lines: "\r\n", "\r" and "\n" each end one.
    std::vector<std::u32string> paragraphs(1);
    const std::u32string all = QString::fromStdString(utf8).toStdU32String();
    for (std::size_t i = 0; i < all.size(); ++i) {
        const char32_t u = all[i];
        if (u == '\r' && i + 1 < all.size() && all[i + 1] == '\n') continue;
        if (u == '\n' || u == '\r') paragraphs.emplace_back();
        else paragraphs.back() += u;
    }
    const double room = size > 0 ? width / size : std::numeric_limits<double>::infinity();
    std::vector<LaidLine> out;
    for (std::u32string& codes : paragraphs) {
        Paragraph p;
        p.codes = std::move(codes);
        place(p);
        const std::size_t n = p.chars.size();
        if (p.width(0, n) <= room) {
            out.push_back(lay(p, 0, n));
            continue;
        }
        // Where a line may break without a space: next to scripts written
        // without them, where Unicode's line breaking allows it (no line then
        // starts with a closing mark). Elsewhere lines break at spaces only.
        std::vector<bool> breaks(n, false);
        const QString text = QString::fromStdU16String(p.text);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
        for (qsizetype at = finder.toNextBoundary(); at > 0 && at < text.size(); at = finder.toNextBoundary()) {
            const std::size_t i = p.charAt[size_t(at)];
            if (i == 0 || p.chars[i].code == ' ' || p.chars[i - 1].code == ' ') continue;
            if (writtenWithoutSpaces(p.chars[i - 1].code) || writtenWithoutSpaces(p.chars[i].code)) breaks[i] = true;
        }
        // Greedy wrap of the pieces between the breaks: a line that would
        // grow too wide with the next piece ends before it, and the space
        // between the two goes with neither.
        std::size_t lineBegin = 0, lineEnd = 0;
        bool empty = true;
        for (std::size_t i = 0; i < n;) {
            std::size_t j = i;
            while (j < n && p.chars[j].code != ' ' && !(j > i && breaks[j])) ++j;
            if (empty) {
                lineBegin = i;
                lineEnd = j;
                empty = j == i;
            } else if (p.width(lineBegin, j) > room) {
                out.push_back(lay(p, lineBegin, lineEnd));
                lineBegin = i;
                lineEnd = j;
                empty = j == i;
            } else {
                lineEnd = j;
            }
            i = j < n && p.chars[j].code == ' ' ? j + 1 : j;
        }
        out.push_back(lay(p, lineBegin, lineEnd));
    }
    return out;
}

} // namespace platform
