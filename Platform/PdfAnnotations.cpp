#include "Platform/PdfAnnotations.h"

#include "Platform/FallbackFonts.h"
#include "Platform/PdfInternal.h"
#include "Platform/TextBoxLayout.h"

#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <set>

namespace platform {

namespace {

// ---------------------------------------------------------------- plain data handed to the C helpers

struct RawAnnot {
    const char* subtype;
    fz_rect rect;
    pdf_obj* color;
    pdf_obj* interior;
    pdf_obj* opacity;
    pdf_obj* borderStyleWidth;
    pdf_obj* borderArray;
    const char* contents;
    const char* author; // null when absent
    const char* icon;
    int hasPopup;
    const char* da; // null when absent
    int alignment;
    int rotation;
    pdf_obj* quads;
    pdf_obj* ink;
    pdf_obj* line;
    pdf_obj* endings;
    pdf_obj* interiorAlpha; // our appearance's interior state, when there
};

struct KeysPod {
    int isNew; // a dictionary ravlen just made: it gets the Print flag
    const char* subtype;
    fz_rect rect;
    int hasColor;
    float color[3];
    float opacity;
    int hasInterior;
    float interior[3];
    int hasBorder;
    float borderWidth;
    const char* contents;
    const char* author; // null: no /T
    const char* icon;   // null: no /Name
    const char* da;     // null: no /DA
    int alignment;
    const float* quads; // 8 per quad
    int quadCount;
    const float* inkPoints; // x, y pairs, stroke after stroke
    const int* inkCounts;
    int inkStrokes;
    int hasLine;
    float line[4];
    const char* startEnding;
    const char* endEnding;
    int rotation;
};

// A font file to embed as a CID-keyed font drawn by glyph number.
struct EmbeddedFontPod {
    const char* resource; // its name in the appearance's /Font resources
    const char* name;     // /BaseFont
    const unsigned char* data;
    size_t length;
    const int* widths;     // glyph number and width in 1/1000 em, pair after pair
    int widthCount;        // pairs
    const char* toUnicode; // the ToUnicode CMap
    size_t toUnicodeLength;
};

struct ResourcesPod {
    float alpha;              // /GSa: stroke and fill opacity of the whole mark
    int multiply;             // /GSa blends with Multiply (highlights)
    float interiorAlpha;      // /GSi: fill opacity of the interior
    const char* fontResource; // null: no font
    const char* baseFont;
    const float* widths; // glyph widths of WinAnsi codes 32 to 255, in 1/1000 em
    const EmbeddedFontPod* embedded;
    int embeddedCount;
};

// ---------------------------------------------------------------- C helpers (fz_try inside, no C++ objects)

pdf_obj* pageObjC(fz_context* ctx, pdf_document* doc, int index, FzError* err)
{
    pdf_obj* page = nullptr;
    fz_var(page);
    fz_try(ctx) page = pdf_lookup_page_obj(ctx, doc, index);
    fz_catch(ctx) captureError(ctx, err);
    return page;
}

pdf_obj* annotsC(fz_context* ctx, pdf_document* doc, pdf_obj* page, int create, FzError* err)
{
    pdf_obj* annots = nullptr;
    fz_var(annots);
    fz_try(ctx) {
        annots = pdf_dict_get(ctx, page, PDF_NAME(Annots));
        if (!pdf_is_array(ctx, annots)) {
            annots = nullptr;
            if (create) annots = pdf_dict_put_array(ctx, page, PDF_NAME(Annots), 4);
        }
    }
    fz_catch(ctx) captureError(ctx, err);
    return annots;
}

void readC(fz_context* ctx, pdf_obj* obj, RawAnnot* out, FzError* err)
{
    fz_try(ctx) {
        out->subtype = pdf_to_name(ctx, pdf_dict_get(ctx, obj, PDF_NAME(Subtype)));
        out->rect = pdf_dict_get_rect(ctx, obj, PDF_NAME(Rect));
        out->color = pdf_dict_get(ctx, obj, PDF_NAME(C));
        out->interior = pdf_dict_get(ctx, obj, PDF_NAME(IC));
        out->opacity = pdf_dict_get(ctx, obj, PDF_NAME(CA));
        out->borderStyleWidth = pdf_dict_getl(ctx, obj, PDF_NAME(BS), PDF_NAME(W), nullptr);
        out->borderArray = pdf_dict_get(ctx, obj, PDF_NAME(Border));
        out->contents = pdf_dict_get_text_string(ctx, obj, PDF_NAME(Contents));
        out->author = pdf_dict_get(ctx, obj, PDF_NAME(T)) ? pdf_dict_get_text_string(ctx, obj, PDF_NAME(T)) : nullptr;
        out->icon = pdf_to_name(ctx, pdf_dict_get(ctx, obj, PDF_NAME(Name)));
        out->hasPopup = pdf_dict_get(ctx, obj, PDF_NAME(Popup)) != nullptr;
        out->da = pdf_dict_get(ctx, obj, PDF_NAME(DA)) ? pdf_dict_get_text_string(ctx, obj, PDF_NAME(DA)) : nullptr;
        out->alignment = pdf_dict_get_int(ctx, obj, PDF_NAME(Q));
        out->rotation = pdf_dict_get_int(ctx, obj, PDF_NAME(Rotate));
        out->quads = pdf_dict_get(ctx, obj, PDF_NAME(QuadPoints));
        out->ink = pdf_dict_get(ctx, obj, PDF_NAME(InkList));
        out->line = pdf_dict_get(ctx, obj, PDF_NAME(L));
        out->endings = pdf_dict_get(ctx, obj, PDF_NAME(LE));
        out->interiorAlpha = pdf_dict_getp(ctx, obj, "AP/N/Resources/ExtGState/GSi/ca");
    }
    fz_catch(ctx) captureError(ctx, err);
}

pdf_obj* newAnnotDictC(fz_context* ctx, pdf_document* doc, pdf_obj* page, FzError* err)
{
    pdf_obj* ref = nullptr;
    fz_var(ref);
    fz_try(ctx) {
        ref = pdf_add_new_dict(ctx, doc, 16);
        pdf_dict_put(ctx, ref, PDF_NAME(Type), PDF_NAME(Annot));
        pdf_dict_put(ctx, ref, PDF_NAME(P), page);
    }
    fz_catch(ctx) {
        pdf_drop_obj(ctx, ref);
        ref = nullptr;
        captureError(ctx, err);
    }
    return ref;
}

void putColorC(fz_context* ctx, pdf_obj* obj, pdf_obj* key, int has, const float* c)
{
    if (!has) {
        pdf_dict_del(ctx, obj, key);
        return;
    }
    pdf_obj* arr = pdf_dict_put_array(ctx, obj, key, 3);
    for (int i = 0; i < 3; ++i) pdf_array_push_real(ctx, arr, c[i]);
}

void writeKeysC(fz_context* ctx, pdf_obj* obj, const KeysPod* k, FzError* err)
{
    fz_try(ctx) {
        pdf_dict_put_name(ctx, obj, PDF_NAME(Subtype), k->subtype);
        pdf_dict_put_rect(ctx, obj, PDF_NAME(Rect), k->rect);
        if (k->isNew) pdf_dict_put_int(ctx, obj, PDF_NAME(F), 4); // Print; another writer's flags stay
        if (k->rotation) pdf_dict_put_int(ctx, obj, PDF_NAME(Rotate), k->rotation);
        else pdf_dict_del(ctx, obj, PDF_NAME(Rotate));
        // Rich text of another writer stays while it says what /Contents says.
        const char* before = pdf_dict_get_text_string(ctx, obj, PDF_NAME(Contents));
        if (strcmp(before, k->contents) != 0) pdf_dict_del(ctx, obj, PDF_NAME(RC));
        putColorC(ctx, obj, PDF_NAME(C), k->hasColor, k->color);
        putColorC(ctx, obj, PDF_NAME(IC), k->hasInterior, k->interior);
        if (k->opacity < 1) pdf_dict_put_real(ctx, obj, PDF_NAME(CA), k->opacity);
        else pdf_dict_del(ctx, obj, PDF_NAME(CA));
        pdf_dict_del(ctx, obj, PDF_NAME(Border));
        if (k->hasBorder) {
            pdf_obj* bs = pdf_dict_put_dict(ctx, obj, PDF_NAME(BS), 3);
            pdf_dict_put(ctx, bs, PDF_NAME(Type), PDF_NAME(Border));
            pdf_dict_put_real(ctx, bs, PDF_NAME(W), k->borderWidth);
            pdf_dict_put(ctx, bs, PDF_NAME(S), PDF_NAME(S));
        } else {
            pdf_dict_del(ctx, obj, PDF_NAME(BS));
        }
        if (k->contents[0]) pdf_dict_put_text_string(ctx, obj, PDF_NAME(Contents), k->contents);
        else pdf_dict_del(ctx, obj, PDF_NAME(Contents));
        if (k->author) pdf_dict_put_text_string(ctx, obj, PDF_NAME(T), k->author);
        else pdf_dict_del(ctx, obj, PDF_NAME(T));
        if (k->icon) pdf_dict_put_name(ctx, obj, PDF_NAME(Name), k->icon);
        else pdf_dict_del(ctx, obj, PDF_NAME(Name));
        if (k->da) {
            pdf_dict_put_string(ctx, obj, PDF_NAME(DA), k->da, strlen(k->da));
            pdf_dict_put_int(ctx, obj, PDF_NAME(Q), k->alignment);
        } else {
            pdf_dict_del(ctx, obj, PDF_NAME(DA));
            pdf_dict_del(ctx, obj, PDF_NAME(Q));
        }
        if (k->quadCount > 0) {
            pdf_obj* arr = pdf_dict_put_array(ctx, obj, PDF_NAME(QuadPoints), k->quadCount * 8);
            for (int i = 0; i < k->quadCount * 8; ++i) pdf_array_push_real(ctx, arr, k->quads[i]);
        } else {
            pdf_dict_del(ctx, obj, PDF_NAME(QuadPoints));
        }
        if (k->inkStrokes > 0) {
            pdf_obj* list = pdf_dict_put_array(ctx, obj, PDF_NAME(InkList), k->inkStrokes);
            const float* p = k->inkPoints;
            for (int s = 0; s < k->inkStrokes; ++s) {
                pdf_obj* stroke = pdf_array_push_array(ctx, list, k->inkCounts[s] * 2);
                for (int i = 0; i < k->inkCounts[s] * 2; ++i) pdf_array_push_real(ctx, stroke, *p++);
            }
        } else {
            pdf_dict_del(ctx, obj, PDF_NAME(InkList));
        }
        if (k->hasLine) {
            pdf_obj* arr = pdf_dict_put_array(ctx, obj, PDF_NAME(L), 4);
            for (int i = 0; i < 4; ++i) pdf_array_push_real(ctx, arr, k->line[i]);
            pdf_obj* le = pdf_dict_put_array(ctx, obj, PDF_NAME(LE), 2);
            pdf_array_push_name(ctx, le, k->startEnding);
            pdf_array_push_name(ctx, le, k->endEnding);
        } else {
            pdf_dict_del(ctx, obj, PDF_NAME(L));
            pdf_dict_del(ctx, obj, PDF_NAME(LE));
        }
    }
    fz_catch(ctx) captureError(ctx, err);
}

// Replaces the normal appearance with a form drawn in user space, and marks the
// dictionary clean so that MuPDF does not synthesise its own over it.
void writeAppearanceC(fz_context* ctx, pdf_document* doc, pdf_obj* obj, fz_rect bbox, const char* content,
                      size_t length, const ResourcesPod* r, FzError* err)
{
    fz_buffer* buf = nullptr;
    pdf_obj* res = nullptr;
    pdf_obj* form = nullptr;
    pdf_obj* f = nullptr;
    fz_buffer* data = nullptr;
    fz_font* font = nullptr;
    fz_var(buf);
    fz_var(res);
    fz_var(form);
    fz_var(f);
    fz_var(data);
    fz_var(font);
    fz_try(ctx) {
        buf = fz_new_buffer_from_copied_data(ctx, (const unsigned char*)content, length);
        res = pdf_new_dict(ctx, doc, 2);
        pdf_obj* gs = pdf_dict_put_dict(ctx, res, PDF_NAME(ExtGState), 2);
        pdf_obj* a = pdf_dict_puts_dict(ctx, gs, "GSa", 4);
        pdf_dict_put(ctx, a, PDF_NAME(Type), PDF_NAME(ExtGState));
        pdf_dict_put_real(ctx, a, PDF_NAME(CA), r->alpha);
        pdf_dict_put_real(ctx, a, PDF_NAME(ca), r->alpha);
        if (r->multiply) pdf_dict_put(ctx, a, PDF_NAME(BM), PDF_NAME(Multiply));
        pdf_obj* i = pdf_dict_puts_dict(ctx, gs, "GSi", 2);
        pdf_dict_put(ctx, i, PDF_NAME(Type), PDF_NAME(ExtGState));
        pdf_dict_put_real(ctx, i, PDF_NAME(ca), r->interiorAlpha);
        if (r->fontResource) {
            // Fonts are indirect objects: MuPDF caches fonts by their object,
            // and an inline dictionary would be compared by its contents
            // across documents.
            pdf_obj* fonts = pdf_dict_put_dict(ctx, res, PDF_NAME(Font), 1 + r->embeddedCount);
            f = pdf_add_new_dict(ctx, doc, 7);
            pdf_dict_put(ctx, f, PDF_NAME(Type), PDF_NAME(Font));
            pdf_dict_put(ctx, f, PDF_NAME(Subtype), PDF_NAME(Type1));
            pdf_dict_put_name(ctx, f, PDF_NAME(BaseFont), r->baseFont);
            pdf_dict_put(ctx, f, PDF_NAME(Encoding), PDF_NAME(WinAnsiEncoding));
            // Widths from the font that measured the text, so every reader
            // spaces the words as ravlen does.
            if (r->widths) {
                pdf_dict_put_int(ctx, f, PDF_NAME(FirstChar), 32);
                pdf_dict_put_int(ctx, f, PDF_NAME(LastChar), 255);
                pdf_obj* widths = pdf_dict_put_array(ctx, f, PDF_NAME(Widths), 224);
                for (int c = 0; c < 224; ++c) pdf_array_push_real(ctx, widths, r->widths[c]);
            }
            pdf_dict_puts(ctx, fonts, r->fontResource, f);
            for (int e = 0; e < r->embeddedCount; ++e) {
                const EmbeddedFontPod* ef = &r->embedded[e];
                data = fz_new_buffer_from_copied_data(ctx, ef->data, ef->length);
                font = fz_new_font_from_buffer(ctx, ef->name, data, 0, 0);
                pdf_obj* type0 = pdf_add_cid_font(ctx, doc, font);
                pdf_dict_puts_drop(ctx, fonts, ef->resource, type0);
                fz_drop_font(ctx, font);
                font = nullptr;
                fz_drop_buffer(ctx, data);
                data = nullptr;
                // The widths the content was placed with, and the characters
                // each glyph stands for: shaped glyphs (an Arabic letter
                // joined to the next) are in no cmap a reader could invert.
                pdf_obj* cid = pdf_array_get(ctx, pdf_dict_get(ctx, type0, PDF_NAME(DescendantFonts)), 0);
                pdf_obj* w = pdf_dict_put_array(ctx, cid, PDF_NAME(W), 2 * ef->widthCount);
                for (int k = 0; k < ef->widthCount; ++k) {
                    pdf_array_push_int(ctx, w, ef->widths[2 * k]);
                    pdf_array_push_int(ctx, pdf_array_push_array(ctx, w, 1), ef->widths[2 * k + 1]);
                }
                data = fz_new_buffer_from_copied_data(ctx, reinterpret_cast<const unsigned char*>(ef->toUnicode),
                                                      ef->toUnicodeLength);
                pdf_dict_put_drop(ctx, type0, PDF_NAME(ToUnicode), pdf_add_stream(ctx, doc, data, nullptr, 0));
                fz_drop_buffer(ctx, data);
                data = nullptr;
            }
        }
        form = pdf_new_xobject(ctx, doc, bbox, fz_identity, res, buf);
        pdf_obj* ap = pdf_dict_put_dict(ctx, obj, PDF_NAME(AP), 1);
        pdf_dict_put(ctx, ap, PDF_NAME(N), form);
        pdf_dict_del(ctx, obj, PDF_NAME(AS));
        pdf_clean_obj(ctx, obj);
    }
    fz_always(ctx) {
        fz_drop_buffer(ctx, buf);
        pdf_drop_obj(ctx, res);
        pdf_drop_obj(ctx, form);
        pdf_drop_obj(ctx, f);
        fz_drop_font(ctx, font);
        fz_drop_buffer(ctx, data);
    }
    fz_catch(ctx) captureError(ctx, err);
}

void pushRefC(fz_context* ctx, pdf_document* doc, pdf_obj* annots, int num, int index, FzError* err)
{
    fz_try(ctx) {
        pdf_obj* ref = pdf_new_indirect(ctx, doc, num, 0);
        if (index < 0 || index >= pdf_array_len(ctx, annots)) pdf_array_push_drop(ctx, annots, ref);
        else pdf_array_insert_drop(ctx, annots, ref, index);
        pdf_dirty_obj(ctx, annots);
    }
    fz_catch(ctx) captureError(ctx, err);
}

void deleteAtC(fz_context* ctx, pdf_obj* annots, int index, FzError* err)
{
    fz_try(ctx) pdf_array_delete(ctx, annots, index);
    fz_catch(ctx) captureError(ctx, err);
}

// Replaces the direct dictionary at `index` of /Annots by a reference to a
// new object holding it, naming its page as a mark made here would.
void adoptC(fz_context* ctx, pdf_document* doc, pdf_obj* annots, pdf_obj* page, int index, FzError* err)
{
    pdf_obj* ref = nullptr;
    fz_var(ref);
    fz_try(ctx) {
        pdf_obj* entry = pdf_array_get(ctx, annots, index);
        ref = pdf_add_object(ctx, doc, entry);
        if (!pdf_dict_get(ctx, ref, PDF_NAME(P))) pdf_dict_put(ctx, ref, PDF_NAME(P), page);
        // Nothing drawn changed: MuPDF must not make the mark a new appearance.
        pdf_clean_obj(ctx, ref);
        pdf_array_put(ctx, annots, index, ref);
        pdf_dirty_obj(ctx, annots);
    }
    fz_always(ctx) pdf_drop_obj(ctx, ref);
    fz_catch(ctx) captureError(ctx, err);
}

pdf_obj* loadObjectC(fz_context* ctx, pdf_document* doc, int num, FzError* err)
{
    pdf_obj* obj = nullptr;
    fz_var(obj);
    fz_try(ctx) {
        if (num > 0 && num < pdf_xref_len(ctx, doc)) obj = pdf_load_object(ctx, doc, num);
    }
    fz_catch(ctx) captureError(ctx, err);
    return obj;
}

int pageCountC(fz_context* ctx, pdf_document* doc, FzError* err)
{
    int n = 0;
    fz_var(n);
    fz_try(ctx) n = pdf_count_pages(ctx, doc);
    fz_catch(ctx) captureError(ctx, err);
    return n;
}

void setMediaBoxC(fz_context* ctx, pdf_obj* page, fz_rect box, FzError* err)
{
    fz_try(ctx) {
        pdf_dict_put_rect(ctx, page, PDF_NAME(MediaBox), box);
        pdf_dict_del(ctx, page, PDF_NAME(CropBox));
    }
    fz_catch(ctx) captureError(ctx, err);
}

// The text the appearance of annotation `num` draws, as MuPDF extracts it;
// null when the page has no such annotation. Freed with fz_free.
char* drawnTextC(fz_context* ctx, pdf_page* page, int num, FzError* err)
{
    fz_stext_page* text = nullptr;
    fz_device* dev = nullptr;
    fz_buffer* buf = nullptr;
    char* out = nullptr;
    fz_var(text);
    fz_var(dev);
    fz_var(buf);
    fz_var(out);
    fz_try(ctx) {
        pdf_annot* annot = pdf_first_annot(ctx, page);
        while (annot && pdf_to_num(ctx, pdf_annot_obj(ctx, annot)) != num) annot = pdf_next_annot(ctx, annot);
        if (annot) {
            text = fz_new_stext_page(ctx, pdf_bound_annot(ctx, annot));
            dev = fz_new_stext_device(ctx, text, nullptr);
            pdf_run_annot(ctx, annot, dev, fz_identity, nullptr);
            fz_close_device(ctx, dev);
            buf = fz_new_buffer_from_stext_page(ctx, text);
            out = fz_strdup(ctx, fz_string_from_buffer(ctx, buf));
        }
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_stext_page(ctx, text);
        fz_drop_buffer(ctx, buf);
    }
    fz_catch(ctx) captureError(ctx, err);
    return out;
}

// ---------------------------------------------------------------- C++ side

// Numbers for content streams: fixed notation, never the locale's.
std::string num(double v)
{
    if (!std::isfinite(v)) v = 0;
    char buf[48];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 4);
    std::string s(buf, end);
    if (s.find('.') != std::string::npos) {
        while (!s.empty() && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return s;
}

std::string colorOp(const PdfColor& c, bool stroke)
{
    return num(c.r) + ' ' + num(c.g) + ' ' + num(c.b) + (stroke ? " RG\n" : " rg\n");
}

std::string rectOp(double x, double y, double w, double h)
{
    return num(x) + ' ' + num(y) + ' ' + num(w) + ' ' + num(h) + " re\n";
}

std::string ellipseOp(double x, double y, double w, double h)
{
    constexpr double k = 0.5523; // control point ratio of a quarter circle
    const double cx = x + w / 2, cy = y + h / 2, rx = w / 2, ry = h / 2;
    auto pt = [](double px, double py) { return num(px) + ' ' + num(py); };
    std::string s = pt(cx + rx, cy) + " m\n";
    s += pt(cx + rx, cy + k * ry) + ' ' + pt(cx + k * rx, cy + ry) + ' ' + pt(cx, cy + ry) + " c\n";
    s += pt(cx - k * rx, cy + ry) + ' ' + pt(cx - rx, cy + k * ry) + ' ' + pt(cx - rx, cy) + " c\n";
    s += pt(cx - rx, cy - k * ry) + ' ' + pt(cx - k * rx, cy - ry) + ' ' + pt(cx, cy - ry) + " c\n";
    s += pt(cx + k * rx, cy - ry) + ' ' + pt(cx + rx, cy - k * ry) + ' ' + pt(cx + rx, cy) + " c\nh\n";
    return s;
}

const char* resourceName(PdfBaseFont f)
{
    switch (f) {
    case PdfBaseFont::times: return "TiRo";
    case PdfBaseFont::courier: return "Cour";
    default: return "Helv";
    }
}

std::string pdfLiteral(const std::string& bytes)
{
    std::string s = "(";
    for (unsigned char c : bytes) {
        if (c == '(' || c == ')' || c == '\\') {
            s += '\\';
            s += char(c);
        } else if (c < 32 || c > 126) {
            const char oct[5] = {'\\', char('0' + ((c >> 6) & 7)), char('0' + ((c >> 3) & 7)), char('0' + (c & 7)), 0};
            s += oct;
        } else {
            s += char(c);
        }
    }
    return s + ')';
}

// A subset's name tag: six capitals that differ between subsets of one face.
std::string subsetTag(const std::set<unsigned>& glyphs)
{
    std::uint32_t h = 2166136261u;
    for (unsigned g : glyphs) h = (h ^ std::uint32_t(g)) * 16777619u;
    std::string tag;
    for (int i = 0; i < 6; ++i, h /= 26) tag += char('A' + h % 26);
    return tag + '+';
}

struct EmbeddedFont {
    std::string resource; // "Fb1", …
    std::string name;     // "ABCDEF+DejaVuSans"
    FallbackFont::Subset subset;
    std::vector<int> widths; // the subset's glyph numbers and widths (1/1000 em), pair after pair
    std::string toUnicode;
};

// A ToUnicode CMap naming the characters each glyph of a subset shows.
std::string toUnicodeCMap(const FallbackFont::Subset& subset, const std::map<unsigned, std::u32string>& texts)
{
    std::vector<std::pair<unsigned, std::string>> entries;
    for (const auto& [old, glyph] : subset.glyphs) {
        const auto text = texts.find(old);
        if (text == texts.end() || text->second.empty()) continue;
        std::string hex;
        char unit[5];
        for (char16_t u : QString::fromStdU32String(text->second).toStdU16String()) {
            std::snprintf(unit, sizeof unit, "%04X", unsigned(u));
            hex += unit;
        }
        entries.emplace_back(glyph, hex);
    }
    std::sort(entries.begin(), entries.end());
    std::string cmap = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                       "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                       "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                       "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    // A CMap section holds at most 100 entries.
    for (std::size_t i = 0; i < entries.size(); i += 100) {
        const std::size_t n = std::min<std::size_t>(100, entries.size() - i);
        cmap += std::to_string(n) + " beginbfchar\n";
        char code[8];
        for (std::size_t k = i; k < i + n; ++k) {
            std::snprintf(code, sizeof code, "%04X", entries[k].first & 0xFFFF);
            cmap += '<' + std::string(code) + "> <" + entries[k].second + ">\n";
        }
        cmap += "endbfchar\n";
    }
    return cmap + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
}

struct Appearance {
    std::string content;
    std::vector<float> widths;
    std::vector<EmbeddedFont> fonts;
    ResourcesPod res{1, 0, 1, nullptr, nullptr, nullptr, nullptr, 0};
};

// The matrix that turns `box` (at the origin) counter-clockwise by `turn`
// degrees onto `rect`.
std::string turnedFrame(const PdfRect& box, const PdfRect& rect, int turn)
{
    const double c = turn == 180 ? -1 : turn == 0 ? 1 : 0, sn = turn == 90 ? 1 : turn == 270 ? -1 : 0;
    double minX = INFINITY, minY = INFINITY;
    for (const PdfPoint p : {PdfPoint{box.x, box.y}, PdfPoint{box.maxX(), box.y}, PdfPoint{box.x, box.maxY()},
                             PdfPoint{box.maxX(), box.maxY()}}) {
        minX = std::min(minX, c * p.x - sn * p.y);
        minY = std::min(minY, sn * p.x + c * p.y);
    }
    return num(c) + ' ' + num(sn) + ' ' + num(-sn) + ' ' + num(c) + ' ' + num(rect.x - minX) + ' ' + num(rect.y - minY);
}

// The lines as text-showing operators from `Tm`s, each glyph put where the
// layout placed it: the base face as WinAnsi codes, fallback faces as
// two-byte glyph numbers of the subsets embedded for them. A line of a
// right-to-left paragraph starts at the right edge, as the editor shows it.
void showLines(Appearance& ap, TextBoxLayout& layout, const std::vector<LaidLine>& lines, const char* baseResource,
               double size, const PdfRect& box, int alignment)
{
    const auto& faces = layout.fallbacks();
    std::vector<std::set<unsigned>> used(faces.size() + 1);
    std::vector<std::map<unsigned, std::u32string>> texts(faces.size() + 1);
    for (const LaidLine& line : lines)
        for (const LaidGlyph& g : line.glyphs)
            if (g.face > 0) {
                used[size_t(g.face)].insert(g.glyph);
                if (!g.text.empty()) texts[size_t(g.face)].emplace(g.glyph, g.text);
            }
    std::vector<int> fontOf(used.size(), -1); // index into ap.fonts
    for (size_t f = 1; f < used.size(); ++f) {
        if (used[f].empty()) continue;
        const auto& face = faces[f - 1];
        auto subset = face->subset(used[f]);
        if (!subset) continue; // drawn as "?" in the base face
        EmbeddedFont font{"Fb" + std::to_string(f), subsetTag(used[f]) + face->name(), std::move(*subset), {}, {}};
        for (const auto& [old, glyph] : font.subset.glyphs) {
            font.widths.push_back(int(glyph));
            font.widths.push_back(int(std::lround(face->advance(old) * 1000)));
        }
        font.toUnicode = toUnicodeCMap(font.subset, texts[f]);
        fontOf[f] = int(ap.fonts.size());
        ap.fonts.push_back(std::move(font));
    }
    // Where the text position goes after a glyph, in 1/1000 em: its width in the font.
    const auto widthOf = [&](int face, unsigned glyph) {
        return face == 0 ? double(layout.baseWidths()[glyph])
                         : std::round(faces[size_t(face - 1)]->advance(glyph) * 1000);
    };

    double baseline = box.maxY() - PdfAnnotations::textBoxPaddingY - size * 0.9;
    std::string& s = ap.content;
    int current = 0; // the caller sets the base face
    for (const LaidLine& line : lines) {
        double x = box.x + PdfAnnotations::textBoxPaddingX;
        const int align = line.rightToLeft && alignment != 1 ? 2 - alignment : alignment;
        if (align == 1 || align == 2) {
            const double room = box.width - 2 * PdfAnnotations::textBoxPaddingX - line.width * size;
            x += align == 1 ? room / 2 : room;
        }
        s += "1 0 0 1 " + num(x) + ' ' + num(baseline) + " Tm\n";
        std::string array, run; // the TJ array, and the string being added to it
        const auto endRun = [&] {
            if (run.empty()) return;
            array += current > 0 ? '<' + run + '>' : pdfLiteral(run);
            run.clear();
        };
        const auto show = [&] {
            endRun();
            if (!array.empty()) s += '[' + array + "] TJ\n";
            array.clear();
        };
        double cursor = 0, rise = 0; // points from the line's start
        for (const LaidGlyph& g : line.glyphs) {
            int face = g.face;
            unsigned glyph = g.glyph;
            if (face > 0 && fontOf[size_t(face)] < 0) {
                if (g.text.empty()) continue;
                face = 0; // no subset could be cut: the base face's "?"
                glyph = '?';
            }
            if (face != current) {
                show();
                current = face;
                s += '/' + (face ? ap.fonts[size_t(fontOf[size_t(face)])].resource : std::string(baseResource)) + ' '
                     + num(size) + " Tf\n";
            }
            if (std::abs(g.dy * size - rise) > 1e-4) {
                show();
                rise = g.dy * size;
                s += num(rise) + " Ts\n";
            }
            const double target = (g.x + g.dx) * size;
            if (std::abs(target - cursor) > 1e-3) {
                endRun();
                array += num(-(target - cursor) / size * 1000) + ' ';
            }
            if (face == 0) {
                run += char(glyph);
            } else {
                const auto& glyphs = ap.fonts[size_t(fontOf[size_t(face)])].subset.glyphs;
                const auto it = glyphs.find(glyph);
                char hex[5];
                std::snprintf(hex, sizeof hex, "%04X", it == glyphs.end() ? 0u : it->second & 0xFFFF);
                run += hex;
            }
            cursor = target + widthOf(face, glyph) / 1000 * size;
        }
        show();
        if (rise != 0) s += "0 Ts\n";
        baseline -= PdfAnnotations::lineHeight(size);
    }
}

void arrowHead(std::string& s, PdfPoint tip, PdfPoint from, double width, bool closed)
{
    const double dx = tip.x - from.x, dy = tip.y - from.y, len = std::hypot(dx, dy);
    if (len <= 0) return;
    const double ux = dx / len, uy = dy / len;
    const double headLength = 3 * width + 6, halfWidth = headLength * 0.55;
    const PdfPoint base{tip.x - ux * headLength, tip.y - uy * headLength};
    const PdfPoint left{base.x - uy * halfWidth, base.y + ux * halfWidth};
    const PdfPoint right{base.x + uy * halfWidth, base.y - ux * halfWidth};
    s += num(left.x) + ' ' + num(left.y) + " m " + num(tip.x) + ' ' + num(tip.y) + " l " + num(right.x) + ' '
         + num(right.y) + " l\n";
    s += closed ? "h f\n" : "S\n";
}

bool isArrowEnding(const std::string& e) { return e == "ClosedArrow" || e == "OpenArrow"; }

// How far the shaft stops short of a closed head, so a wide line does not poke through its tip.
PdfPoint shortened(PdfPoint tip, PdfPoint from, double width)
{
    const double dx = tip.x - from.x, dy = tip.y - from.y, len = std::hypot(dx, dy);
    const double back = std::min((3 * width + 6) * 0.8, len);
    if (len <= 0) return tip;
    return {tip.x - dx / len * back, tip.y - dy / len * back};
}

std::optional<Appearance> appearanceFor(const PdfAnnotation& a)
{
    Appearance ap;
    ap.res.alpha = float(std::clamp(a.opacity, 0.0, 1.0));
    ap.res.interiorAlpha = float(std::clamp(a.opacity * a.interiorOpacity, 0.0, 1.0));
    std::string& s = ap.content;
    const double w = a.borderWidth.value_or(1);
    const PdfRect& r = a.rect;
    s = "q /GSa gs\n";
    const std::string& t = a.subtype;
    if (t == "Square" || t == "Circle") {
        const bool circle = t == "Circle";
        const double in = w / 2;
        const double iw = std::max(r.width - w, 0.0), ih = std::max(r.height - w, 0.0);
        auto shape = [&] {
            return circle ? ellipseOp(r.x + in, r.y + in, iw, ih) : rectOp(r.x + in, r.y + in, iw, ih);
        };
        if (a.interiorColor) s += "q /GSi gs " + colorOp(*a.interiorColor, false) + shape() + "f Q\n";
        if (w > 0 && a.color) s += colorOp(*a.color, true) + num(w) + " w\n" + shape() + "S\n";
    } else if (t == "Line") {
        if (!a.lineStart || !a.lineEnd || !a.color) return ap;
        PdfPoint p0 = *a.lineStart, p1 = *a.lineEnd;
        const bool headEnd = isArrowEnding(a.endEnding), headStart = isArrowEnding(a.startEnding);
        s += colorOp(*a.color, true) + colorOp(*a.color, false) + num(w) + " w 1 J 1 j\n";
        const PdfPoint q0 = a.startEnding == "ClosedArrow" ? shortened(p0, p1, w) : p0;
        const PdfPoint q1 = a.endEnding == "ClosedArrow" ? shortened(p1, p0, w) : p1;
        s += num(q0.x) + ' ' + num(q0.y) + " m " + num(q1.x) + ' ' + num(q1.y) + " l S\n";
        if (headEnd) arrowHead(s, p1, p0, w, a.endEnding == "ClosedArrow");
        if (headStart) arrowHead(s, p0, p1, w, a.startEnding == "ClosedArrow");
    } else if (t == "Ink") {
        if (!a.color) return ap;
        s += colorOp(*a.color, true) + num(w) + " w 1 J 1 j\n";
        for (const auto& stroke : a.inkList) {
            for (size_t i = 0; i < stroke.size(); ++i)
                s += num(stroke[i].x) + ' ' + num(stroke[i].y) + (i ? " l\n" : " m\n");
            if (stroke.size() == 1) s += num(stroke[0].x) + ' ' + num(stroke[0].y) + " l\n";
            if (!stroke.empty()) s += "S\n";
        }
    } else if (t == "Highlight" || t == "Underline" || t == "StrikeOut" || t == "Squiggly") {
        if (!a.color) return ap;
        ap.res.multiply = t == "Highlight";
        for (const auto& q : a.quads) {
            if (t == "Highlight") {
                s += colorOp(*a.color, false);
                s += num(q.ul.x) + ' ' + num(q.ul.y) + " m " + num(q.ur.x) + ' ' + num(q.ur.y) + " l " + num(q.lr.x)
                     + ' ' + num(q.lr.y) + " l " + num(q.ll.x) + ' ' + num(q.ll.y) + " l h f\n";
                continue;
            }
            // Along the quad's side edges, a fraction of its height above the bottom.
            const double h = std::hypot(q.ul.x - q.ll.x, q.ul.y - q.ll.y);
            const double f = t == "StrikeOut" ? 0.4 : 0.08;
            const double thickness = std::max(h * 0.07, 0.75);
            const PdfPoint left{q.ll.x + f * (q.ul.x - q.ll.x), q.ll.y + f * (q.ul.y - q.ll.y)};
            const PdfPoint right{q.lr.x + f * (q.ur.x - q.lr.x), q.lr.y + f * (q.ur.y - q.lr.y)};
            s += colorOp(*a.color, true) + num(thickness) + " w 0 J\n";
            s += num(left.x) + ' ' + num(left.y) + " m " + num(right.x) + ' ' + num(right.y) + " l S\n";
        }
    } else if (t == "FreeText") {
        // The box is laid out upright in its own frame and turned onto the
        // page, so that its words read upright on a page shown turned.
        const int turn = normalizedRotation(a.rotation);
        const bool sideways = turn == 90 || turn == 270;
        const PdfRect box = turn ? PdfRect{0, 0, sideways ? r.height : r.width, sideways ? r.width : r.height} : r;
        if (turn) s += turnedFrame(box, r, turn) + " cm\n";
        if (a.interiorColor)
            s +=
                "q /GSi gs " + colorOp(*a.interiorColor, false) + rectOp(box.x, box.y, box.width, box.height) + "f Q\n";
        if (w > 0 && a.color)
            s += colorOp(*a.color, true) + num(w) + " w\n"
                 + rectOp(box.x + w / 2, box.y + w / 2, box.width - w, box.height - w) + "S\n";
        const PdfBaseFont font = PdfAnnotations::baseFontNamed(a.fontName);
        const double size = a.fontSize > 0 ? a.fontSize : 12;
        TextBoxLayout layout(font);
        ap.res.fontResource = resourceName(font);
        ap.res.baseFont = PdfAnnotations::baseFontName(font);
        ap.widths.assign(layout.baseWidths().begin() + 32, layout.baseWidths().end());
        const auto lines = layout.lines(a.contents, size, box.width - 2 * PdfAnnotations::textBoxPaddingX);
        s += rectOp(box.x, box.y, box.width, box.height) + "W n\nBT\n/" + std::string(ap.res.fontResource) + ' '
             + num(size) + " Tf\n";
        s += colorOp(a.fontColor.value_or(PdfColor{}), false);
        showLines(ap, layout, lines, ap.res.fontResource, size, box, a.alignment);
        s += "ET\n";
    } else if (t == "Text") {
        // A speech bubble filling the note's square, drawn in the note's colour.
        const PdfColor fill = a.color.value_or(PdfColor{1, 0.85, 0.22});
        const double u = std::min(r.width, r.height) / 22.0;
        auto p = [&](double x, double y) { return num(r.x + x * u) + ' ' + num(r.y + y * u); };
        s += colorOp(fill, false) + "0.25 0.24 0.22 RG " + num(u) + " w 1 j\n";
        s += p(3, 20) + " m " + p(19, 20) + " l " + p(20, 19) + ' ' + p(20, 19) + ' ' + p(20, 18) + " c " + p(20, 9)
             + " l " + p(19, 8) + ' ' + p(19, 8) + ' ' + p(18, 8) + " c " + p(10, 8) + " l " + p(5, 3) + " l " + p(6, 8)
             + " l " + p(3, 8) + " l " + p(2, 8) + ' ' + p(2, 8) + ' ' + p(2, 9) + " c " + p(2, 19) + " l " + p(2, 20)
             + ' ' + p(2, 20) + ' ' + p(3, 20) + " c h B\n";
        s += p(5, 16.5) + " m " + p(17, 16.5) + " l " + p(5, 14) + " m " + p(17, 14) + " l " + p(5, 11.5) + " m "
             + p(13, 11.5) + " l S\n";
    } else {
        return std::nullopt; // a kind ravlen does not draw keeps its appearance
    }
    s += "Q\n";
    return ap;
}

// MuPDF keeps reals as floats: 0.85 comes back as 0.8500000238. Colours and
// opacities are rounded to five decimals, so that a colour written from a
// palette reads back equal to it.
double unfloat(float v) { return std::round(double(v) * 1e5) / 1e5; }

std::optional<PdfColor> readColor(fz_context* ctx, pdf_obj* arr)
{
    const int n = pdf_array_len(ctx, arr);
    auto at = [&](int i) { return unfloat(pdf_to_real(ctx, pdf_array_get(ctx, arr, i))); };
    if (n == 3) return PdfColor{at(0), at(1), at(2)};
    if (n == 1) return PdfColor{at(0), at(0), at(0)};
    if (n == 4) {
        const double k = at(3);
        return PdfColor{(1 - at(0)) * (1 - k), (1 - at(1)) * (1 - k), (1 - at(2)) * (1 - k)};
    }
    return std::nullopt;
}

// "/Helv 12 Tf 0 0 1 rg": the font resource, its size and the fill colour.
void parseDefaultAppearance(const std::string& da, PdfAnnotation& a)
{
    std::vector<double> stack;
    std::string name;
    size_t i = 0;
    while (i < da.size()) {
        if (std::isspace((unsigned char)da[i])) {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < da.size() && !std::isspace((unsigned char)da[j]) && da[j] != '/') ++j;
        const std::string token = da.substr(i, j - i);
        i = j;
        if (token[0] == '/') {
            name = token.substr(1);
            continue;
        }
        double v = 0;
        const auto [p, ec] = std::from_chars(token.data(), token.data() + token.size(), v);
        if (ec == std::errc() && p == token.data() + token.size()) {
            stack.push_back(v);
            continue;
        }
        if (token == "Tf" && !stack.empty()) {
            a.fontName = name;
            a.fontSize = stack.back();
        } else if (token == "rg" && stack.size() >= 3)
            a.fontColor = PdfColor{stack[stack.size() - 3], stack[stack.size() - 2], stack.back()};
        else if (token == "g" && !stack.empty()) a.fontColor = PdfColor{stack.back(), stack.back(), stack.back()};
        else if (token == "k" && stack.size() >= 4) {
            const double* c = &stack[stack.size() - 4];
            a.fontColor = PdfColor{(1 - c[0]) * (1 - c[3]), (1 - c[1]) * (1 - c[3]), (1 - c[2]) * (1 - c[3])};
        }
        stack.clear();
    }
}

std::string defaultAppearance(const PdfAnnotation& a)
{
    const PdfColor c = a.fontColor.value_or(PdfColor{});
    const std::string font = a.fontName.empty() ? "Helv" : a.fontName;
    return '/' + font + ' ' + num(a.fontSize > 0 ? a.fontSize : 12) + " Tf " + num(c.r) + ' ' + num(c.g) + ' '
           + num(c.b) + " rg";
}

PdfAnnotation convert(fz_context* ctx, int num, const RawAnnot& raw)
{
    PdfAnnotation a;
    a.objectNumber = num;
    a.subtype = raw.subtype ? raw.subtype : "";
    a.rect = PdfRect::fromCorners({raw.rect.x0, raw.rect.y0}, {raw.rect.x1, raw.rect.y1});
    a.color = readColor(ctx, raw.color);
    a.interiorColor = readColor(ctx, raw.interior);
    if (pdf_is_number(ctx, raw.opacity)) a.opacity = unfloat(pdf_to_real(ctx, raw.opacity));
    if (pdf_is_number(ctx, raw.borderStyleWidth)) a.borderWidth = unfloat(pdf_to_real(ctx, raw.borderStyleWidth));
    else if (pdf_array_len(ctx, raw.borderArray) >= 3)
        a.borderWidth = pdf_to_real(ctx, pdf_array_get(ctx, raw.borderArray, 2));
    if (pdf_is_number(ctx, raw.interiorAlpha) && a.opacity > 0)
        a.interiorOpacity = std::clamp(unfloat(pdf_to_real(ctx, raw.interiorAlpha)) / a.opacity, 0.0, 1.0);
    a.contents = raw.contents ? raw.contents : "";
    if (raw.author) a.author = std::string(raw.author);
    a.iconName = raw.icon ? raw.icon : "";
    a.hasPopup = raw.hasPopup != 0;
    if (raw.da) parseDefaultAppearance(raw.da, a);
    a.alignment = raw.alignment;
    a.rotation = normalizedRotation(raw.rotation);
    const int nq = pdf_array_len(ctx, raw.quads) / 8;
    auto qv = [&](int i) { return double(pdf_to_real(ctx, pdf_array_get(ctx, raw.quads, i))); };
    for (int q = 0; q < nq; ++q) {
        const int o = q * 8;
        a.quads.push_back({{qv(o), qv(o + 1)}, {qv(o + 2), qv(o + 3)}, {qv(o + 4), qv(o + 5)}, {qv(o + 6), qv(o + 7)}});
    }
    for (int s = 0; s < pdf_array_len(ctx, raw.ink); ++s) {
        pdf_obj* stroke = pdf_array_get(ctx, raw.ink, s);
        std::vector<PdfPoint> points;
        for (int i = 0; i + 1 < pdf_array_len(ctx, stroke); i += 2)
            points.push_back(
                {pdf_to_real(ctx, pdf_array_get(ctx, stroke, i)), pdf_to_real(ctx, pdf_array_get(ctx, stroke, i + 1))});
        a.inkList.push_back(std::move(points));
    }
    if (pdf_array_len(ctx, raw.line) >= 4) {
        auto lv = [&](int i) { return double(pdf_to_real(ctx, pdf_array_get(ctx, raw.line, i))); };
        a.lineStart = PdfPoint{lv(0), lv(1)};
        a.lineEnd = PdfPoint{lv(2), lv(3)};
    }
    if (pdf_is_name(ctx, raw.endings)) {
        a.endEnding = pdf_to_name(ctx, raw.endings); // a single name: the end only
    } else if (pdf_array_len(ctx, raw.endings) >= 2) {
        a.startEnding = pdf_to_name(ctx, pdf_array_get(ctx, raw.endings, 0));
        a.endEnding = pdf_to_name(ctx, pdf_array_get(ctx, raw.endings, 1));
    }
    if (a.startEnding.empty()) a.startEnding = "None";
    if (a.endEnding.empty()) a.endEnding = "None";
    return a;
}

// Finds the page's annotation array and the position of `num` in it (-1: none).
struct AnnotsAt {
    pdf_obj* page = nullptr;
    pdf_obj* annots = nullptr;
};

AnnotsAt annotsOf(const PdfDocument::Impl& d, int page, bool create)
{
    if (d.locked) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    fz_context* ctx = pdfContext();
    FzError err;
    const int count = pageCountC(ctx, d.doc, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    if (page < 0 || page >= count)
        throw PdfError(PdfErrorCode::pageOutOfRange, "page " + std::to_string(page + 1) + " does not exist");
    AnnotsAt at;
    at.page = pageObjC(ctx, d.doc, page, &err);
    throwIfFailed(err, PdfErrorCode::damagedPage);
    // A page the tree names but whose object is missing or no dictionary
    // (a damaged file) has no marks and takes none.
    if (create && !pdf_is_dict(ctx, at.page))
        throw PdfError(PdfErrorCode::damagedPage, "page " + std::to_string(page + 1) + " has no readable dictionary");
    at.annots = annotsC(ctx, d.doc, at.page, create, &err);
    throwIfFailed(err);
    return at;
}

int indexOf(fz_context* ctx, pdf_obj* annots, int num)
{
    if (num <= 0) return -1;
    for (int i = 0; i < pdf_array_len(ctx, annots); ++i)
        if (pdf_to_num(ctx, pdf_array_get(ctx, annots, i)) == num) return i;
    return -1;
}

std::vector<float> flatQuads(const std::vector<PdfQuad>& quads)
{
    std::vector<float> out;
    for (const auto& q : quads)
        for (const PdfPoint& p : {q.ul, q.ur, q.ll, q.lr}) {
            out.push_back(float(p.x));
            out.push_back(float(p.y));
        }
    return out;
}

// Readers draw a note that holds no drawing as their icon, of its own size,
// from the top-left corner of its box however small the box (some programs
// give a note one of a point or two); a drawing, though, is fitted to the
// box. A note drawn into a box too small to show the icon is drawn in the
// icon's box there, as readers showed it.
PdfRect noteBox(const PdfRect& r)
{
    constexpr double side = PdfAnnotations::noteIconSize;
    if (std::min(r.width, r.height) >= side / 2) return r;
    return {r.x, r.maxY() - side, side, side};
}

void writeAnnotation(pdf_document* doc, pdf_obj* obj, const PdfAnnotation& given, bool isNew)
{
    fz_context* ctx = pdfContext();
    PdfAnnotation a = given;
    if (a.subtype == "Text") a.rect = noteBox(a.rect);
    std::vector<float> quads = flatQuads(a.quads);
    std::vector<float> ink;
    std::vector<int> counts;
    for (const auto& stroke : a.inkList) {
        counts.push_back(int(stroke.size()));
        for (const auto& p : stroke) {
            ink.push_back(float(p.x));
            ink.push_back(float(p.y));
        }
    }
    const std::string da = defaultAppearance(a);
    const bool isFreeText = a.subtype == "FreeText";
    KeysPod k{};
    k.isNew = isNew;
    k.subtype = a.subtype.c_str();
    k.rect = toFz(a.rect);
    k.hasColor = a.color.has_value();
    if (a.color) {
        k.color[0] = float(a.color->r);
        k.color[1] = float(a.color->g);
        k.color[2] = float(a.color->b);
    }
    k.opacity = float(std::clamp(a.opacity, 0.0, 1.0));
    k.hasInterior = a.interiorColor.has_value();
    if (a.interiorColor) {
        k.interior[0] = float(a.interiorColor->r);
        k.interior[1] = float(a.interiorColor->g);
        k.interior[2] = float(a.interiorColor->b);
    }
    k.hasBorder = a.borderWidth.has_value();
    k.borderWidth = float(a.borderWidth.value_or(0));
    k.contents = a.contents.c_str();
    k.author = a.author ? a.author->c_str() : nullptr;
    k.icon = a.subtype == "Text" && !a.iconName.empty() ? a.iconName.c_str() : nullptr;
    k.da = isFreeText ? da.c_str() : nullptr;
    k.alignment = a.alignment;
    k.quads = quads.data();
    k.quadCount = int(a.quads.size());
    k.inkPoints = ink.data();
    k.inkCounts = counts.data();
    k.inkStrokes = int(a.inkList.size());
    k.hasLine = a.subtype == "Line" && a.lineStart && a.lineEnd;
    if (k.hasLine) {
        k.line[0] = float(a.lineStart->x);
        k.line[1] = float(a.lineStart->y);
        k.line[2] = float(a.lineEnd->x);
        k.line[3] = float(a.lineEnd->y);
    }
    k.startEnding = a.startEnding.empty() ? "None" : a.startEnding.c_str();
    k.endEnding = a.endEnding.empty() ? "None" : a.endEnding.c_str();
    k.rotation = normalizedRotation(a.rotation);
    FzError err;
    writeKeysC(ctx, obj, &k, &err);
    throwIfFailed(err);
    if (auto ap = appearanceFor(a)) {
        ap->res.widths = ap->widths.size() == 224 ? ap->widths.data() : nullptr;
        std::vector<EmbeddedFontPod> pods;
        for (const EmbeddedFont& f : ap->fonts)
            pods.push_back({f.resource.c_str(), f.name.c_str(), (const unsigned char*)f.subset.file.constData(),
                            size_t(f.subset.file.size()), f.widths.data(), int(f.widths.size() / 2), f.toUnicode.data(),
                            f.toUnicode.size()});
        ap->res.embedded = pods.data();
        ap->res.embeddedCount = int(pods.size());
        writeAppearanceC(ctx, doc, obj, toFz(a.rect), ap->content.data(), ap->content.size(), &ap->res, &err);
        throwIfFailed(err);
    }
}

struct ObjRef {
    pdf_obj* obj = nullptr;
    explicit ObjRef(pdf_obj* o) : obj(o) {}
    ~ObjRef()
    {
        if (obj) pdf_drop_obj(pdfContext(), obj);
    }
    ObjRef(const ObjRef&) = delete;
    ObjRef& operator=(const ObjRef&) = delete;
};

bool isAnnotDict(fz_context* ctx, pdf_obj* obj)
{
    return pdf_is_dict(ctx, obj) && pdf_dict_get(ctx, obj, PDF_NAME(Subtype)) != nullptr;
}

} // namespace

namespace PdfAnnotations {

std::vector<PdfAnnotation> list(const PdfDocument& doc, int page)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    fz_context* ctx = pdfContext();
    const AnnotsAt at = annotsOf(d, page, false);
    std::vector<PdfAnnotation> out;
    for (int i = 0; i < pdf_array_len(ctx, at.annots); ++i) {
        pdf_obj* entry = pdf_array_get(ctx, at.annots, i);
        if (!isAnnotDict(ctx, entry)) continue;
        RawAnnot raw{};
        FzError err;
        readC(ctx, entry, &raw, &err);
        if (err.code) continue; // a damaged entry is no annotation we can show
        out.push_back(convert(ctx, pdf_to_num(ctx, entry), raw));
    }
    return out;
}

std::optional<PdfAnnotation> find(const PdfDocument& doc, int page, int objectNumber)
{
    for (auto& a : list(doc, page))
        if (a.objectNumber == objectNumber && objectNumber > 0) return std::move(a);
    return std::nullopt;
}

std::vector<int> order(const PdfDocument& doc, int page)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    fz_context* ctx = pdfContext();
    const AnnotsAt at = annotsOf(d, page, false);
    std::vector<int> out;
    for (int i = 0; i < pdf_array_len(ctx, at.annots); ++i)
        out.push_back(pdf_to_num(ctx, pdf_array_get(ctx, at.annots, i)));
    return out;
}

int add(PdfDocument& doc, int page, const PdfAnnotation& annotation)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    settleBeforeEditing(d);
    fz_context* ctx = pdfContext();
    const AnnotsAt at = annotsOf(d, page, true);
    FzError err;
    ObjRef ref(newAnnotDictC(ctx, d.doc, at.page, &err));
    throwIfFailed(err);
    writeAnnotation(d.doc, ref.obj, annotation, true);
    const int num = pdf_to_num(ctx, ref.obj);
    pushRefC(ctx, d.doc, at.annots, num, -1, &err);
    throwIfFailed(err);
    return num;
}

bool update(PdfDocument& doc, int page, const PdfAnnotation& annotation)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    settleBeforeEditing(d);
    fz_context* ctx = pdfContext();
    const AnnotsAt at = annotsOf(d, page, false);
    const int i = indexOf(ctx, at.annots, annotation.objectNumber);
    if (i < 0) return false;
    pdf_obj* obj = pdf_array_get(ctx, at.annots, i);
    if (!isAnnotDict(ctx, obj)) return false;
    writeAnnotation(d.doc, obj, annotation, false);
    return true;
}

std::optional<int> remove(PdfDocument& doc, int page, int objectNumber)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    settleBeforeEditing(d);
    fz_context* ctx = pdfContext();
    const AnnotsAt at = annotsOf(d, page, false);
    const int i = indexOf(ctx, at.annots, objectNumber);
    if (i < 0) return std::nullopt;
    const int popup = pdf_to_num(ctx, pdf_dict_get(ctx, pdf_array_get(ctx, at.annots, i), PDF_NAME(Popup)));
    FzError err;
    deleteAtC(ctx, at.annots, i, &err);
    throwIfFailed(err);
    const int p = indexOf(ctx, at.annots, popup);
    if (p >= 0) {
        deleteAtC(ctx, at.annots, p, &err);
        throwIfFailed(err);
    }
    return i;
}

bool insert(PdfDocument& doc, int page, int objectNumber, int index)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    settleBeforeEditing(d);
    fz_context* ctx = pdfContext();
    const AnnotsAt at = annotsOf(d, page, true);
    if (indexOf(ctx, at.annots, objectNumber) >= 0) return false;
    FzError err;
    ObjRef obj(loadObjectC(ctx, d.doc, objectNumber, &err));
    throwIfFailed(err);
    if (!isAnnotDict(ctx, obj.obj)) return false;
    // A mark names the page it belongs to; putting it on another page would
    // leave it on two pages once that page gets it back.
    pdf_obj* owner = pdf_dict_get(ctx, obj.obj, PDF_NAME(P));
    if (pdf_is_indirect(ctx, owner) && pdf_to_num(ctx, owner) != pdf_to_num(ctx, at.page)) return false;
    const int n = pdf_array_len(ctx, at.annots);
    const int where = std::clamp(index, 0, n);
    pushRefC(ctx, d.doc, at.annots, objectNumber, where, &err);
    throwIfFailed(err);
    const int popup = pdf_to_num(ctx, pdf_dict_get(ctx, obj.obj, PDF_NAME(Popup)));
    if (popup > 0 && indexOf(ctx, at.annots, popup) < 0) {
        pushRefC(ctx, d.doc, at.annots, popup, where + 1, &err);
        throwIfFailed(err);
    }
    return true;
}

bool replaceTail(PdfDocument& doc, int page, const std::vector<int>& tail)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    settleBeforeEditing(d);
    fz_context* ctx = pdfContext();
    const AnnotsAt at = annotsOf(d, page, true);
    const std::set<int> moving(tail.begin(), tail.end());
    // Only the page's own marks are restacked: one from elsewhere would end up on two pages.
    for (int num : moving)
        if (num <= 0 || indexOf(ctx, at.annots, num) < 0) return false;
    FzError err;
    for (int i = pdf_array_len(ctx, at.annots) - 1; i >= 0; --i) {
        if (!moving.count(pdf_to_num(ctx, pdf_array_get(ctx, at.annots, i)))) continue;
        deleteAtC(ctx, at.annots, i, &err);
        throwIfFailed(err);
    }
    for (int num : tail) {
        pushRefC(ctx, d.doc, at.annots, num, -1, &err);
        throwIfFailed(err);
    }
    return true;
}

int numberDirect(PdfDocument& doc, int page)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    settleBeforeEditing(d);
    fz_context* ctx = pdfContext();
    const AnnotsAt at = annotsOf(d, page, false);
    int numbered = 0;
    for (int i = 0; i < pdf_array_len(ctx, at.annots); ++i) {
        pdf_obj* entry = pdf_array_get(ctx, at.annots, i);
        if (pdf_is_indirect(ctx, entry) || !isAnnotDict(ctx, entry)) continue;
        FzError err;
        adoptC(ctx, d.doc, at.annots, at.page, i, &err);
        throwIfFailed(err);
        ++numbered;
        // The appearance MuPDF made for the direct dictionary lives apart from
        // the file's objects and does not survive an edit of the page: a mark
        // ravlen draws gets its own appearance now, as one made here would.
        pdf_obj* obj = pdf_array_get(ctx, at.annots, i);
        RawAnnot raw{};
        readC(ctx, obj, &raw, &err);
        if (err.code) continue;
        const PdfAnnotation annotation = convert(ctx, pdf_to_num(ctx, obj), raw);
        if (appearanceFor(annotation)) writeAnnotation(d.doc, obj, annotation, false);
    }
    return numbered;
}

std::string drawnText(const PdfDocument& doc, int page, int objectNumber)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    if (d.locked) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    PageRef p = loadPage(d, page);
    fz_context* ctx = pdfContext();
    FzError err;
    char* text = drawnTextC(ctx, p.page, objectNumber, &err);
    throwIfFailed(err);
    std::string out = text ? text : "";
    fz_free(ctx, text);
    return out;
}

double textWidth(PdfBaseFont font, double size, const std::string& utf8Line)
{
    double widest = 0;
    for (const LaidLine& line : TextBoxLayout(font).lines(utf8Line, size, std::numeric_limits<double>::infinity()))
        widest = std::max(widest, line.width);
    return widest * size;
}

const char* baseFontName(PdfBaseFont font)
{
    switch (font) {
    case PdfBaseFont::times: return "Times-Roman";
    case PdfBaseFont::courier: return "Courier";
    default: return "Helvetica";
    }
}

double lineHeight(double size) { return size * 1.2; }

int wrappedLineCount(PdfBaseFont font, double size, const std::string& utf8, double width)
{
    return int(TextBoxLayout(font).lines(utf8, size, width).size());
}

PdfBaseFont baseFontNamed(const std::string& name)
{
    if (name == "Cour" || name == "Courier") return PdfBaseFont::courier;
    if (name == "TiRo" || name == "Times-Roman" || name == "Times") return PdfBaseFont::times;
    return PdfBaseFont::helvetica;
}

QByteArray clipboardPdf(const std::vector<PdfAnnotation>& annotations, const PdfRect& pageBounds)
{
    if (annotations.empty()) return {};
    try {
        const bool usable = pageBounds.width > 1 && pageBounds.height > 1;
        auto doc = PdfDocument::createBlank(usable ? pageBounds.maxX() : 612, usable ? pageBounds.maxY() : 792);
        if (!doc || doc->pageCount() < 1) return {};
        if (usable && (pageBounds.x != 0 || pageBounds.y != 0)) {
            // The page keeps the source's box, so the marks' coordinates keep their meaning.
            auto& d = doc->impl();
            std::lock_guard lock(d.mutex);
            fz_context* ctx = pdfContext();
            FzError err;
            pdf_obj* pageObj = pageObjC(ctx, d.doc, 0, &err);
            throwIfFailed(err);
            setMediaBoxC(ctx, pageObj, toFz(pageBounds), &err);
            throwIfFailed(err);
        }
        for (PdfAnnotation a : annotations) {
            a.objectNumber = 0;
            a.hasPopup = false;
            add(*doc, 0, a);
        }
        return doc->save();
    } catch (const PdfError&) {
        return {};
    }
}

} // namespace PdfAnnotations

} // namespace platform
