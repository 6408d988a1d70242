#include "Platform/GlyphOutlines.h"

#include "Platform/PdfInternal.h"

extern "C" {
#include <mupdf/ucdn.h>
}

#include <QString>

#include <algorithm>

namespace platform {

namespace {

// ---------------------------------------------------------------- path walking (called by MuPDF)

struct WalkTarget {
    OutlinePath* path;
    int failed; // a callback could not grow the path
};

template <typename F>
void guarded(void* arg, F&& f)
{
    auto* target = static_cast<WalkTarget*>(arg);
    try {
        f(*target->path);
    } catch (...) {
        target->failed = 1;
    }
}

extern "C" void walkMove(fz_context*, void* arg, float x, float y)
{
    guarded(arg, [&](OutlinePath& p) { p.moveTo({x, y}); });
}

extern "C" void walkLine(fz_context*, void* arg, float x, float y)
{
    guarded(arg, [&](OutlinePath& p) { p.lineTo({x, y}); });
}

extern "C" void walkCubic(fz_context*, void* arg, float x1, float y1, float x2, float y2, float x3, float y3)
{
    guarded(arg, [&](OutlinePath& p) { p.cubicTo({x1, y1}, {x2, y2}, {x3, y3}); });
}

extern "C" void walkQuad(fz_context*, void* arg, float x1, float y1, float x2, float y2)
{
    guarded(arg, [&](OutlinePath& p) { p.quadTo({x1, y1}, {x2, y2}); });
}

extern "C" void walkClose(fz_context*, void* arg)
{
    guarded(arg, [&](OutlinePath& p) { p.close(); });
}

extern "C" void walkRect(fz_context*, void* arg, float x0, float y0, float x1, float y1)
{
    guarded(arg, [&](OutlinePath& p) {
        p.moveTo({x0, y0});
        p.lineTo({x1, y0});
        p.lineTo({x1, y1});
        p.lineTo({x0, y1});
        p.close();
    });
}

const fz_path_walker outlineWalker{walkMove, walkLine, walkCubic, walkClose, walkQuad, nullptr, nullptr, walkRect};

// ---------------------------------------------------------------- C helpers (fz_try inside, no C++ objects)

fz_font* loadFontC(fz_context* ctx, const char* path, const char* base14, FzError* err)
{
    fz_font* font = nullptr;
    fz_var(font);
    fz_try(ctx) {
        font = path ? fz_new_font_from_file(ctx, nullptr, path, 0, 0) : fz_new_base14_font(ctx, base14);
    }
    fz_catch(ctx) {
        captureError(ctx, err);
        font = nullptr;
    }
    return font;
}

int coversC(fz_context* ctx, fz_font* font, int unicode, FzError* err)
{
    int gid = 0;
    fz_var(gid);
    fz_try(ctx) gid = fz_encode_character(ctx, font, unicode);
    fz_catch(ctx) captureError(ctx, err);
    return gid;
}

// Sets one character at pen position x and returns its advance; the fallback
// font chosen by the character's script stands in where `font` has no glyph.
// Throws (longjmp) only from MuPDF calls, before the path exists or after it
// is dropped: the walker's callbacks never throw.
float glyphC(fz_context* ctx, fz_font* font, int unicode, float size, float x, void* target)
{
    fz_font* used = font;
    int gid = fz_encode_character(ctx, font, unicode);
    if (gid == 0)
        gid = fz_encode_character_with_fallback(ctx, font, unicode, ucdn_get_script((uint32_t)unicode), FZ_LANG_UNSET,
                                                &used);
    if (gid == 0 || !used) return 0;
    fz_path* path = fz_outline_glyph(ctx, used, gid, fz_make_matrix(size, 0, 0, size, x, 0));
    if (path) {
        fz_walk_path(ctx, path, &outlineWalker, target);
        fz_drop_path(ctx, path);
    }
    return fz_advance_glyph(ctx, used, gid, 0) * size;
}

void lineC(fz_context* ctx, fz_font* font, const int* unicodes, int count, float size, void* target, FzError* err)
{
    float x = 0;
    fz_var(x);
    fz_try(ctx) {
        for (int i = 0; i < count; ++i) x += glyphC(ctx, font, unicodes[i], size, x, target);
    }
    fz_catch(ctx) captureError(ctx, err);
}

} // namespace

// ---------------------------------------------------------------- C++ API

PdfRect OutlinePath::bounds() const
{
    bool any = false;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    auto take = [&](PdfPoint p) {
        if (!any) {
            x0 = x1 = p.x;
            y0 = y1 = p.y;
            any = true;
            return;
        }
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    };
    for (const auto& e : elements) {
        const int n = e.verb == PathVerb::close ? 0 : e.verb == PathVerb::quad ? 2 : e.verb == PathVerb::cubic ? 3 : 1;
        for (int i = 0; i < n; ++i) take(e.points[size_t(i)]);
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

struct OutlineFont::Impl {
    fz_font* font = nullptr;
    ~Impl() { fz_drop_font(pdfContext(), font); }
};

std::optional<OutlineFont> OutlineFont::load(const char* path, const char* base14)
{
    FzError err;
    fz_font* font = loadFontC(pdfContext(), path, base14, &err);
    if (!font) return std::nullopt;
    auto impl = std::make_shared<Impl>();
    impl->font = font;
    OutlineFont out;
    out.impl = std::move(impl);
    return out;
}

std::optional<OutlineFont> OutlineFont::fromFile(const std::string& path) { return load(path.c_str(), nullptr); }

std::optional<OutlineFont> OutlineFont::base14(const std::string& name)
{
    static constexpr const char* faces[] = {
        "Courier",     "Courier-Oblique",   "Courier-Bold",   "Courier-BoldOblique",
        "Helvetica",   "Helvetica-Oblique", "Helvetica-Bold", "Helvetica-BoldOblique",
        "Times-Roman", "Times-Italic",      "Times-Bold",     "Times-BoldItalic",
        "Symbol",      "ZapfDingbats"};
    // MuPDF substitutes a face for any unknown name; only the fourteen count here.
    if (std::none_of(std::begin(faces), std::end(faces), [&](const char* f) { return name == f; })) return std::nullopt;
    return load(nullptr, name.c_str());
}

std::string OutlineFont::name() const { return fz_font_name(pdfContext(), impl->font); }

bool OutlineFont::covers(char32_t character) const
{
    FzError err;
    return coversC(pdfContext(), impl->font, int(character), &err) != 0 && err.code == 0;
}

OutlinePath OutlineFont::line(const std::string& utf8, double size) const
{
    const QList<uint> codes = QString::fromStdString(utf8).toUcs4();
    std::vector<int> unicodes(codes.begin(), codes.end());
    OutlinePath path;
    WalkTarget target{&path, 0};
    FzError err;
    lineC(pdfContext(), impl->font, unicodes.data(), int(unicodes.size()), float(size), &target, &err);
    if (err.code != 0 || target.failed) return {};
    // Blank glyphs (spaces) come as a lone move; they draw nothing.
    OutlinePath out;
    out.elements.reserve(path.elements.size());
    for (size_t i = 0; i < path.elements.size(); ++i) {
        const auto& e = path.elements[i];
        const bool drawsNothing = e.verb == PathVerb::move
                                  && (i + 1 == path.elements.size() || path.elements[i + 1].verb == PathVerb::move
                                      || path.elements[i + 1].verb == PathVerb::close);
        if (drawsNothing) {
            if (i + 1 < path.elements.size() && path.elements[i + 1].verb == PathVerb::close) ++i;
            continue;
        }
        out.elements.push_back(e);
    }
    return out;
}

} // namespace platform
