#include "Platform/PdfPageGeometries.h"

#include "Platform/PdfInternal.h"

#include <algorithm>
#include <vector>

namespace platform {
namespace {

struct RawPage {
    int object = 0, generation = 0;
    int readable = 0;
    fz_rect media, crop;
    int rotate = 0;
    fz_matrix ctm;
};

void countC(fz_context* ctx, pdf_document* doc, int* count, int* objects, FzError* err)
{
    *count = 0;
    *objects = 0;
    fz_try(ctx) {
        *count = pdf_count_pages(ctx, doc);
        *objects = pdf_xref_len(ctx, doc);
    }
    fz_catch(ctx) captureError(ctx, err);
}

int holdEngineMapC(fz_context* ctx, pdf_document* doc)
{
    int held = 0;
    fz_var(held);
    fz_try(ctx) {
        pdf_load_page_tree(ctx, doc);
        held = 1;
    }
    fz_catch(ctx) held = 0;
    return held;
}

void releaseEngineMapC(fz_context* ctx, pdf_document* doc)
{
    fz_try(ctx) pdf_drop_page_tree(ctx, doc);
    fz_catch(ctx) {}
}

// The object a page dictionary was read from: MuPDF's map or a reference
// names it; a dictionary already resolved knows the object it came from,
// unless an edit of the page has since made another object its parent.
void identifyC(fz_context* ctx, pdf_document* doc, int index, pdf_obj* page, int* number, int* generation)
{
    if (pdf_is_indirect(ctx, page)) {
        *number = pdf_to_num(ctx, page);
        *generation = pdf_to_gen(ctx, page);
        return;
    }
    const bool mapped = doc->fwd_page_map && index < doc->map_page_count && doc->fwd_page_map[index] > 0;
    *number = mapped ? doc->fwd_page_map[index] : pdf_obj_parent_num(ctx, page);
    // An object kept in an object stream has generation 0; its entry's
    // number there is its place in the stream.
    pdf_xref_entry* entry = *number > 0 ? pdf_get_xref_entry(ctx, doc, *number) : nullptr;
    *generation = entry && entry->type == 'n' ? entry->gen : 0;
}

// The same reading as a loaded page's: inherited boxes, the crop box within
// the media box, and MuPDF's page transform, all from the page object.
void readGeometryC(fz_context* ctx, pdf_obj* obj, RawPage* out)
{
    out->media = pdf_to_rect(ctx, pdf_dict_get_inheritable(ctx, obj, PDF_NAME(MediaBox)));
    if (fz_is_empty_rect(out->media)) out->media = fz_make_rect(0, 0, 612, 792);
    pdf_obj* cropObj = pdf_dict_get_inheritable(ctx, obj, PDF_NAME(CropBox));
    out->crop = cropObj ? fz_intersect_rect(pdf_to_rect(ctx, cropObj), out->media) : out->media;
    out->rotate = pdf_to_int(ctx, pdf_dict_get_inheritable(ctx, obj, PDF_NAME(Rotate)));
    pdf_page_obj_transform(ctx, obj, nullptr, &out->ctm);
}

// A page found by the walk, by its object.
void readWalkedPageC(fz_context* ctx, pdf_document* doc, RawPage* out)
{
    pdf_obj* ref = nullptr;
    fz_var(ref);
    fz_try(ctx) {
        ref = pdf_new_indirect(ctx, doc, out->object, out->generation);
        readGeometryC(ctx, ref, out);
        out->readable = 1;
    }
    fz_always(ctx) pdf_drop_obj(ctx, ref);
    fz_catch(ctx) out->readable = 0;
}

// Reads every page by walking the page tree once, depth first, as MuPDF
// counts pages: its object and geometry, after which the page dictionary is
// let go when `release` is set, so that a long document's are never all
// parsed at once. Returns false when the tree is not a plain one (too deep,
// a loop, a page that is no object of its own, another count): the caller
// then looks each page up.
int walkPagesC(fz_context* ctx, pdf_document* doc, int count, int release, RawPage* pages, FzError* err)
{
    enum { maxDepth = 64 };
    int plain = 1, found = 0;
    fz_var(plain);
    fz_var(found);
    fz_try(ctx) {
        pdf_obj* nodes[maxDepth];
        int next[maxDepth];
        int depth = 0, visits = 0;
        nodes[0] = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Pages");
        next[0] = 0;
        depth = 1;
        while (depth > 0 && plain) {
            pdf_obj* kids = pdf_dict_get(ctx, nodes[depth - 1], PDF_NAME(Kids));
            const int i = next[depth - 1]++;
            if (i >= pdf_array_len(ctx, kids)) {
                --depth;
                continue;
            }
            if (++visits > 4 * count + 64) {
                plain = 0;
                break;
            }
            pdf_obj* kid = pdf_array_get(ctx, kids, i);
            if (pdf_is_array(ctx, pdf_dict_get(ctx, kid, PDF_NAME(Kids)))) {
                if (depth == maxDepth) {
                    plain = 0;
                    break;
                }
                nodes[depth] = kid;
                next[depth] = 0;
                ++depth;
            } else if (!pdf_is_indirect(ctx, kid) || found >= count) {
                plain = 0;
            } else {
                RawPage* page = &pages[found++];
                page->object = pdf_to_num(ctx, kid);
                page->generation = pdf_to_gen(ctx, kid);
                readWalkedPageC(ctx, doc, page);
                if (release) releaseParsedObjectC(ctx, doc, page->object);
            }
        }
    }
    fz_catch(ctx) {
        captureError(ctx, err);
        plain = 0;
    }
    return plain && found == count;
}

// A page looked up by its index, for a tree the walk could not follow.
void readPageC(fz_context* ctx, pdf_document* doc, int index, RawPage* out)
{
    fz_try(ctx) {
        pdf_obj* obj = pdf_lookup_page_obj(ctx, doc, index);
        identifyC(ctx, doc, index, obj, &out->object, &out->generation);
        readGeometryC(ctx, obj, out);
        out->readable = 1;
    }
    fz_catch(ctx) out->readable = 0;
}

PdfPageGeometry geometryOf(const RawPage& page)
{
    PdfPageGeometry g;
    g.mediaBox = fromFz(page.media);
    g.cropBox = fromFz(page.crop);
    g.rotation = normalizedRotation(page.rotate);
    g.userToDisplay = fromFz(page.ctm);
    const PdfRect shown = g.userToDisplay.mapRect(g.cropBox.isEmpty() ? g.mediaBox : g.cropBox);
    g.displaySize = {shown.width, shown.height};
    return g;
}

// The map of the page tree as it stands. With `walkOnly`, none unless the
// tree is a plain one that holds every page its count claims.
std::optional<PageMap> buildPageMap(const PdfDocument::Impl& d, bool walkOnly = false)
{
    PageMap map;
    fz_context* ctx = pdfContext();
    FzError err;
    int count = 0, objects = 0;
    countC(ctx, d.doc, &count, &objects, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    // Every page is an object of its own: a page count beyond the number of
    // objects is a lie of a damaged file, and MuPDF's map would be sized by it.
    const bool plausible = count <= objects;
    count = std::clamp(count, 0, objects);
    std::vector<RawPage> raw(static_cast<size_t>(count));
    FzError walkError;
    const bool walked = count > 0 && walkPagesC(ctx, d.doc, count, d.releasesWhatItReads, raw.data(), &walkError);
    if (walkOnly && !(walked && plausible)) return std::nullopt;
    // Otherwise MuPDF's own map makes each look-up direct while it is held. It
    // is let go at once: while held, MuPDF hands out resolved page
    // dictionaries instead of references, which code comparing page objects
    // does not expect.
    const bool held = !walked && plausible && count > 0 && holdEngineMapC(ctx, d.doc);
    map.ids.resize(size_t(count));
    map.geometries.resize(size_t(count));
    map.indexByObject.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        RawPage& page = raw[size_t(i)];
        if (!walked) readPageC(ctx, d.doc, i, &page);
        if (!page.readable) continue;
        map.ids[size_t(i)] = {page.object, page.generation};
        map.indexByObject.emplace(page.object, i); // a page listed twice is found at its first place
        map.geometries[size_t(i)] = geometryOf(page);
    }
    if (held) releaseEngineMapC(ctx, d.doc);
    return map;
}

} // namespace

const PageMap& pageMap(PdfDocument::Impl& d)
{
    static const PageMap none;
    if (d.locked) return none;
    if (d.pagesDeferred) {
        d.pagesDeferred = false;
        // What opening left for now: whether the tree holds the pages it
        // claims. A tree walked whole does; MuPDF's own look-up of the last
        // page would read every page dictionary and keep them all.
        std::optional<PageMap> walked = buildPageMap(d, true);
        if (walked && int(walked->ids.size()) == d.expectedPageCount) {
            d.pageMap = std::move(walked);
        } else {
            FzError err;
            if (settlePageCount(d, true, &err) != d.expectedPageCount) pageTreeChanged(d);
        }
    }
    if (!d.pageMap) d.pageMap = buildPageMap(d);
    return *d.pageMap;
}

std::optional<PdfPageId> pageIdAt(PdfDocument::Impl& d, int index)
{
    if (!d.pagesDeferred) {
        const PageMap& map = pageMap(d);
        if (index < 0 || size_t(index) >= map.ids.size()) return std::nullopt;
        return map.ids[size_t(index)];
    }
    if (index < 0 || index >= d.expectedPageCount) return std::nullopt;
    RawPage page;
    readPageC(pdfContext(), d.doc, index, &page);
    return page.readable ? PdfPageId{page.object, page.generation} : PdfPageId{};
}

bool pagesMapped(const PdfDocument& document)
{
    const PdfDocument::Impl& d = document.impl();
    std::lock_guard lock(d.mutex);
    return !d.pagesDeferred || d.locked;
}

void mapPages(const PdfDocument& document)
{
    PdfDocument::Impl& d = document.impl();
    std::lock_guard lock(d.mutex);
    if (d.pagesDeferred) pageMap(d);
}

std::vector<std::optional<PdfPageGeometry>> firstPageGeometries(const PdfDocument& document, int first)
{
    PdfDocument::Impl& d = document.impl();
    std::lock_guard lock(d.mutex);
    if (d.locked) return {};
    if (!d.pagesDeferred) return pageMap(d).geometries;
    std::vector<std::optional<PdfPageGeometry>> geometries(size_t(d.expectedPageCount));
    const int read = std::min(first, d.expectedPageCount);
    for (int i = 0; i < read; ++i) {
        RawPage page;
        readPageC(pdfContext(), d.doc, i, &page);
        if (page.readable) geometries[size_t(i)] = geometryOf(page);
    }
    if (read > 0) std::fill(geometries.begin() + read, geometries.end(), geometries.front());
    return geometries;
}

void pageTreeChanged(PdfDocument::Impl& d)
{
    d.pageMap.reset();
    // Our own edits of the tree are the page count a save expects; a count
    // that changes behind our back (a late repair) is what a save refuses.
    if (d.locked || !d.doc) return;
    int count = 0, objects = 0;
    FzError err;
    countC(pdfContext(), d.doc, &count, &objects, &err);
    if (!err.code) d.expectedPageCount = count;
}

} // namespace platform
