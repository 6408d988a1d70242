#include "Platform/TextReadingOrder.h"

#include <QChar>

#include <unicode/ubidi.h>
#include <unicode/unorm2.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace platform {
namespace {

bool readsRightToLeft(char32_t u)
{
    const QChar::Direction d = QChar::direction(u);
    return d == QChar::DirR || d == QChar::DirAL;
}

bool isStrong(char32_t u) { return readsRightToLeft(u) || QChar::direction(u) == QChar::DirL; }

bool isMark(char32_t u)
{
    const QChar::Category c = QChar::category(u);
    return c == QChar::Mark_NonSpacing || c == QChar::Mark_SpacingCombining || c == QChar::Mark_Enclosing;
}

struct Vector {
    double x = 1, y = 0;
};

double along(PdfPoint p, Vector d) { return p.x * d.x + p.y * d.y; }
double across(PdfPoint p, Vector d) { return p.y * d.x - p.x * d.y; }

// The way a line runs: its first glyph's top edge, from left to right as read.
Vector directionOf(const PdfTextLine& line)
{
    for (const PdfChar& c : line.chars) {
        const double dx = c.quad.ur.x - c.quad.ul.x, dy = c.quad.ur.y - c.quad.ul.y;
        const double length = std::hypot(dx, dy);
        if (length > 1e-3) return {dx / length, dy / length};
    }
    return {};
}

// One glyph as shown: its letter first, then the marks that sit on it, or
// the rest of the text of a glyph that stands for several characters.
struct Cluster {
    std::vector<PdfChar> chars;
    double at = 0; // where it starts along the line
};

// The later characters of a glyph that stands for several: the engine
// puts them, without width, where the glyph ends.
bool continuesGlyph(const PdfChar& c, const PdfChar& before)
{
    const auto near = [](PdfPoint a, PdfPoint b) { return std::fabs(a.x - b.x) < 1e-3 && std::fabs(a.y - b.y) < 1e-3; };
    return near(c.quad.ul, c.quad.ur) && near(c.quad.ul, before.quad.ur);
}

double startOf(const PdfChar& c, Vector d) { return std::min(along(c.quad.ul, d), along(c.quad.ll, d)); }

// A line's glyphs in the order they were drawn.
void addClusters(const PdfTextLine& line, Vector d, std::vector<Cluster>& out)
{
    std::vector<PdfChar> waiting; // marks drawn before the letter they sit on
    Cluster* current = nullptr;
    for (std::size_t i = 0; i < line.chars.size(); ++i) {
        const PdfChar& c = line.chars[i];
        if (current && i > 0 && continuesGlyph(c, line.chars[i - 1])) {
            current->chars.push_back(c);
        } else if (isMark(c.code)) {
            // Right-to-left text shaped from the left puts each mark before
            // its letter; left-to-right text puts it after.
            const PdfChar* next = i + 1 < line.chars.size() ? &line.chars[i + 1] : nullptr;
            if (next && !isMark(next->code) && readsRightToLeft(next->code)) waiting.push_back(c);
            else if (current) current->chars.push_back(c);
            else current = &out.emplace_back(Cluster{{c}, startOf(c, d)});
        } else {
            current = &out.emplace_back(Cluster{{c}, startOf(c, d)});
            current->chars.insert(current->chars.end(), waiting.begin(), waiting.end());
            waiting.clear();
        }
    }
    for (const PdfChar& c : waiting) {
        if (current) current->chars.push_back(c);
        else current = &out.emplace_back(Cluster{{c}, startOf(c, d)});
    }
}

// What the bidirectional algorithm needs to know of a glyph: a character of
// its class, one UTF-16 unit long.
char16_t standIn(const Cluster& cluster)
{
    char32_t code = cluster.chars.front().code;
    for (const PdfChar& c : cluster.chars)
        if (isStrong(c.code)) {
            code = c.code;
            break;
        }
    switch (QChar::direction(code)) {
    case QChar::DirL: return u'a';
    case QChar::DirR: return u'\u05D0';
    case QChar::DirAL: return u'\u0627';
    case QChar::DirEN: return u'0';
    case QChar::DirES: return u'+';
    case QChar::DirET: return u'#';
    case QChar::DirAN: return u'\u0660';
    case QChar::DirCS: return u',';
    case QChar::DirNSM: return u'\u0300';
    case QChar::DirWS:
    case QChar::DirS:
    case QChar::DirB: return u' ';
    default: return u'!';
    }
}

// The glyphs of one line, left to right as shown, in logical order.
std::vector<Cluster> logicalOrder(std::vector<Cluster> shown, bool rightToLeft)
{
    std::u16string text;
    for (const Cluster& c : shown) text += standIn(c);
    UBiDi* bidi = ubidi_open();
    if (!bidi) return shown;
    UErrorCode status = U_ZERO_ERROR;
    // The text is visual: what the algorithm would have shown, read back.
    ubidi_setReorderingMode(bidi, UBIDI_REORDER_INVERSE_LIKE_DIRECT);
    ubidi_setPara(bidi, reinterpret_cast<const UChar*>(text.data()), int32_t(text.size()),
                  rightToLeft ? UBIDI_RTL : UBIDI_LTR, nullptr, &status);
    std::vector<int32_t> map(text.size());
    if (U_SUCCESS(status) && !text.empty()) ubidi_getVisualMap(bidi, map.data(), &status);
    ubidi_close(bidi);
    if (U_FAILURE(status)) return shown;
    std::vector<Cluster> read;
    read.reserve(shown.size());
    for (const int32_t i : map)
        if (i >= 0 && std::size_t(i) < shown.size()) read.push_back(std::move(shown[std::size_t(i)]));
    return read.size() == shown.size() ? read : std::vector<Cluster>{};
}

struct PlacedLine {
    std::size_t block = 0, line = 0;
    Vector d;
    double start = 0, end = 0;  // along the line
    double bottom = 0, top = 0; // across it
    bool rightToLeft = false;   // holds a right-to-left letter
    std::size_t row = 0;        // the line it is read with (union-find)
};

std::size_t rootOf(std::vector<PlacedLine>& lines, std::size_t i)
{
    while (lines[i].row != i) i = lines[i].row = lines[lines[i].row].row;
    return i;
}

// Two pieces of one line: the same way and baseline, and side by side in
// one block or drawn over each other's span (spaces drawn apart).
bool oneLine(const PlacedLine& a, const PlacedLine& b)
{
    if (a.d.x * b.d.x + a.d.y * b.d.y < 0.99) return false;
    const double height = std::min(a.top - a.bottom, b.top - b.bottom);
    const double shared = std::min(a.top, b.top) - std::max(a.bottom, b.bottom);
    if (!(shared >= 0.5 * height)) return false;
    const double gap = std::max(a.start, b.start) - std::min(a.end, b.end);
    if (a.block == b.block) return gap <= std::max(a.top - a.bottom, b.top - b.bottom);
    return gap < 0;
}

// More right-to-left than left-to-right letters; none of either: `otherwise`.
bool mostlyRightToLeft(int rightToLeft, int leftToRight, bool otherwise)
{
    return rightToLeft == leftToRight ? otherwise : rightToLeft > leftToRight;
}

} // namespace

std::u32string lettersOf(char32_t code)
{
    // The alphabetic and Arabic presentation forms: U+FB00 to U+FDFF and U+FE70 to U+FEFF.
    const bool presentationForm = (code >= 0xFB00 && code <= 0xFDFF) || (code >= 0xFE70 && code <= 0xFEFF);
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfkc = presentationForm ? unorm2_getNFKCInstance(&status) : nullptr;
    if (!nfkc || U_FAILURE(status)) return {code};
    const UChar form = UChar(code);
    UChar letters[32];
    const int32_t length = unorm2_normalize(nfkc, &form, 1, letters, 32, &status);
    if (U_FAILURE(status) || length <= 0) return {code};
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(letters), length).toStdU32String();
}

PdfTextPage inReadingOrder(const PdfTextPage& page)
{
    std::vector<PlacedLine> lines;
    std::vector<std::pair<int, int>> letters(page.blocks.size()); // right-to-left, left-to-right, by block
    int pageRtl = 0, pageLtr = 0;
    for (std::size_t b = 0; b < page.blocks.size(); ++b)
        for (std::size_t l = 0; l < page.blocks[b].lines.size(); ++l) {
            const PdfTextLine& line = page.blocks[b].lines[l];
            PlacedLine placed{b, l, directionOf(line)};
            placed.start = placed.bottom = std::numeric_limits<double>::max();
            placed.end = placed.top = std::numeric_limits<double>::lowest();
            for (std::size_t i = 0; i < line.chars.size(); ++i) {
                const PdfChar& c = line.chars[i];
                for (const PdfPoint p : {c.quad.ul, c.quad.ur, c.quad.ll, c.quad.lr}) {
                    placed.start = std::min(placed.start, along(p, placed.d));
                    placed.end = std::max(placed.end, along(p, placed.d));
                    placed.bottom = std::min(placed.bottom, across(p, placed.d));
                    placed.top = std::max(placed.top, across(p, placed.d));
                }
                if (readsRightToLeft(c.code)) placed.rightToLeft = true;
                // Glyphs are counted, not the characters a glyph stands for.
                if (i > 0 && continuesGlyph(c, line.chars[i - 1])) continue;
                if (readsRightToLeft(c.code)) ++letters[b].first;
                else if (isStrong(c.code)) ++letters[b].second;
            }
            placed.row = lines.size();
            lines.push_back(placed);
        }
    if (std::none_of(lines.begin(), lines.end(), [](const PlacedLine& l) { return l.rightToLeft; })) return page;
    for (const auto& [rtl, ltr] : letters) {
        pageRtl += rtl;
        pageLtr += ltr;
    }

    // Pieces of a line that holds right-to-left letters join it; other
    // lines stay as they were.
    std::vector<bool> rowReadsRtl(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) rowReadsRtl[i] = lines[i].rightToLeft;
    for (bool joined = true; joined;) {
        joined = false;
        for (std::size_t i = 0; i < lines.size(); ++i)
            for (std::size_t j = i + 1; j < lines.size(); ++j) {
                const std::size_t a = rootOf(lines, i), b = rootOf(lines, j);
                if (a == b || !(rowReadsRtl[a] || rowReadsRtl[b]) || !oneLine(lines[i], lines[j])) continue;
                lines[std::max(a, b)].row = std::min(a, b);
                rowReadsRtl[std::min(a, b)] = true;
                joined = true;
            }
    }
    std::vector<std::vector<std::size_t>> rows(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) rows[rootOf(lines, i)].push_back(i);

    PdfTextPage read;
    read.blocks.resize(page.blocks.size());
    std::vector<std::vector<std::optional<PdfTextLine>>> placed(page.blocks.size());
    for (std::size_t b = 0; b < page.blocks.size(); ++b) placed[b].resize(page.blocks[b].lines.size());
    for (const std::vector<std::size_t>& row : rows) {
        if (row.empty()) continue;
        const auto source = [&](std::size_t i) -> const PdfTextLine& {
            return page.blocks[lines[i].block].lines[lines[i].line];
        };
        const bool rightToLeft =
            std::any_of(row.begin(), row.end(), [&](std::size_t i) { return lines[i].rightToLeft; });
        // The row stands where its longest piece stood.
        const std::size_t anchor = *std::max_element(row.begin(), row.end(), [&](std::size_t a, std::size_t b) {
            return source(a).chars.size() < source(b).chars.size();
        });
        std::optional<PdfTextLine>& slot = placed[lines[anchor].block][lines[anchor].line];
        if (!rightToLeft) {
            slot = source(anchor);
            continue;
        }
        const Vector d = lines[anchor].d;
        std::vector<Cluster> clusters;
        PdfRect bounds;
        for (const std::size_t i : row) {
            addClusters(source(i), d, clusters);
            bounds = bounds.united(source(i).bounds);
        }
        std::stable_sort(clusters.begin(), clusters.end(),
                         [](const Cluster& a, const Cluster& b) { return a.at < b.at; });
        const auto [rtl, ltr] = letters[lines[anchor].block];
        const bool paragraphRtl = mostlyRightToLeft(rtl, ltr, mostlyRightToLeft(pageRtl, pageLtr, true));
        std::vector<Cluster> ordered = logicalOrder(clusters, paragraphRtl);
        if (ordered.empty()) ordered = std::move(clusters);
        PdfTextLine line;
        line.bounds = bounds;
        for (Cluster& c : ordered) line.chars.insert(line.chars.end(), c.chars.begin(), c.chars.end());
        slot = std::move(line);
    }
    for (std::size_t b = 0; b < page.blocks.size(); ++b) {
        read.blocks[b].bounds = page.blocks[b].bounds;
        for (std::optional<PdfTextLine>& line : placed[b])
            if (line) read.blocks[b].lines.push_back(std::move(*line));
    }
    std::erase_if(read.blocks, [](const PdfTextBlock& block) { return block.lines.empty(); });
    return read;
}

} // namespace platform
