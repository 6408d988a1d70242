#include "Platform/FallbackFonts.h"

#include <hb-subset.h>
#include <hb-ot.h>
#include <hb.h>

#include <QFileInfo>

namespace platform {

namespace {

template <typename T, void (*Destroy)(T*)>
struct HbOwner {
    T* p = nullptr;
    explicit HbOwner(T* v) : p(v) {}
    ~HbOwner()
    {
        if (p) Destroy(p);
    }
    HbOwner(const HbOwner&) = delete;
    HbOwner& operator=(const HbOwner&) = delete;
};
using Blob = HbOwner<hb_blob_t, hb_blob_destroy>;
using Face = HbOwner<hb_face_t, hb_face_destroy>;
using Font = HbOwner<hb_font_t, hb_font_destroy>;
using Buffer = HbOwner<hb_buffer_t, hb_buffer_destroy>;
using SubsetInput = HbOwner<hb_subset_input_t, hb_subset_input_destroy>;
using SubsetPlan = HbOwner<hb_subset_plan_t, hb_subset_plan_destroy>;

// Debian's places for the faces; the first file found of each is used.
const char* const dejavuSans[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"};
const char* const dejavuSerif[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"};
const char* const dejavuMono[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"};
// WenQuanYi Zen Hei: Han, Kana and Hangul in one face.
const char* const cjk[] = {"/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"};

template <size_t N>
std::shared_ptr<const FallbackFont> firstOf(const char* const (&paths)[N])
{
    for (const char* path : paths)
        if (auto font = FallbackFont::open(path)) return font;
    return nullptr;
}

} // namespace

// HarfBuzz objects are immutable once made and safe to read from any thread.
struct FallbackFont::Faces {
    Face face;
    Font font;
    unsigned unitsPerEm;
    Faces(hb_face_t* f) : face(f), font(hb_font_create(f)), unitsPerEm(std::max(hb_face_get_upem(f), 1u)) {}
};

FallbackFont::FallbackFont(std::unique_ptr<Faces> faces, std::string name)
    : faces_(std::move(faces)), name_(std::move(name))
{}

FallbackFont::~FallbackFont() = default;

std::shared_ptr<const FallbackFont> FallbackFont::open(const std::string& path)
{
    if (!QFileInfo(QString::fromStdString(path)).isFile()) return nullptr;
    Blob blob(hb_blob_create_from_file_or_fail(path.c_str())); // mapped, not read
    if (!blob.p) return nullptr;
    auto faces = std::make_unique<Faces>(hb_face_create(blob.p, 0));
    if (hb_face_get_glyph_count(faces->face.p) == 0) return nullptr;
    char postScript[64] = {};
    unsigned length = sizeof postScript;
    hb_ot_name_get_utf8(faces->face.p, HB_OT_NAME_ID_POSTSCRIPT_NAME, HB_LANGUAGE_INVALID, &length, postScript);
    std::string name =
        postScript[0] ? postScript : QFileInfo(QString::fromStdString(path)).completeBaseName().toStdString();
    std::erase_if(name, [](char c) { return c <= ' ' || c > '~' || c == '/' || c == '(' || c == ')'; });
    return std::shared_ptr<const FallbackFont>(new FallbackFont(std::move(faces), name.empty() ? "Fallback" : name));
}

std::optional<unsigned> FallbackFont::glyph(char32_t character) const
{
    hb_codepoint_t g = 0;
    if (!hb_font_get_nominal_glyph(faces_->font.p, character, &g) || g == 0) return std::nullopt;
    return unsigned(g);
}

double FallbackFont::advance(unsigned glyph) const
{
    // A new hb_font's scale is the face's units per em.
    return double(hb_font_get_glyph_h_advance(faces_->font.p, glyph)) / faces_->unitsPerEm;
}

std::vector<FallbackFont::ShapedGlyph> FallbackFont::shape(const std::u16string& text, std::size_t start,
                                                           std::size_t length, bool rightToLeft) const
{
    Buffer buffer(hb_buffer_create());
    // Each character keeps a cluster of its own unless a ligature joins it
    // to others, so that every glyph can say which characters it shows.
    hb_buffer_set_cluster_level(buffer.p, HB_BUFFER_CLUSTER_LEVEL_MONOTONE_CHARACTERS);
    hb_buffer_set_flags(buffer.p, HB_BUFFER_FLAG_REMOVE_DEFAULT_IGNORABLES);
    hb_buffer_add_utf16(buffer.p, reinterpret_cast<const uint16_t*>(text.data()), int(text.size()), unsigned(start),
                        int(length));
    hb_buffer_guess_segment_properties(buffer.p); // the script and the language of the run
    hb_buffer_set_direction(buffer.p, rightToLeft ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_shape(faces_->font.p, buffer.p, nullptr, 0);
    unsigned count = 0;
    const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer.p, &count);
    const hb_glyph_position_t* position = hb_buffer_get_glyph_positions(buffer.p, &count);
    const double em = faces_->unitsPerEm;
    std::vector<ShapedGlyph> out;
    out.reserve(count);
    for (unsigned i = 0; i < count; ++i)
        out.push_back({info[i].codepoint, info[i].cluster, position[i].x_advance / em, position[i].x_offset / em,
                       position[i].y_offset / em});
    return out;
}

std::optional<FallbackFont::Subset> FallbackFont::subset(const std::set<unsigned>& glyphs) const
{
    SubsetInput input(hb_subset_input_create_or_fail());
    if (!input.p) return std::nullopt;
    hb_set_t* kept = hb_subset_input_glyph_set(input.p);
    for (unsigned g : glyphs) hb_set_add(kept, g);
    // A PDF draws glyphs by number without shaping, so hinting and layout tables are dead weight.
    hb_subset_input_set_flags(input.p, HB_SUBSET_FLAGS_NO_HINTING);
    hb_set_t* drop = hb_subset_input_set(input.p, HB_SUBSET_SETS_DROP_TABLE_TAG);
    for (const char* tag : {"GSUB", "GPOS", "GDEF", "kern", "morx", "BASE", "JSTF", "MATH", "vhea", "vmtx"})
        hb_set_add(drop, hb_tag_from_string(tag, -1));
    SubsetPlan plan(hb_subset_plan_create_or_fail(faces_->face.p, input.p));
    if (!plan.p) return std::nullopt;
    const hb_map_t* newGlyphs = hb_subset_plan_old_to_new_glyph_mapping(plan.p);
    Subset out;
    for (unsigned old : glyphs) {
        const hb_codepoint_t g = hb_map_get(newGlyphs, old);
        if (g != HB_MAP_VALUE_INVALID) out.glyphs[old] = unsigned(g);
    }
    Face cut(hb_subset_plan_execute_or_fail(plan.p));
    if (!cut.p) return std::nullopt;
    Blob bytes(hb_face_reference_blob(cut.p));
    unsigned length = 0;
    const char* data = hb_blob_get_data(bytes.p, &length);
    if (!data || length == 0) return std::nullopt;
    out.file = QByteArray(data, int(length));
    return out;
}

std::vector<std::shared_ptr<const FallbackFont>> fallbackFonts(FallbackStyle style)
{
    std::vector<std::shared_ptr<const FallbackFont>> out;
    if (style == FallbackStyle::serif) out.push_back(firstOf(dejavuSerif));
    if (style == FallbackStyle::mono) out.push_back(firstOf(dejavuMono));
    out.push_back(firstOf(dejavuSans));
    out.push_back(firstOf(cjk));
    std::erase(out, nullptr);
    return out;
}

} // namespace platform
