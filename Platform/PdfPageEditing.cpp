#include "Platform/PdfPageEditing.h"

#include "Platform/PdfLayers.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace platform {
namespace {

// ---------------------------------------------------------------- C-style helpers

// Keys a page may take from its ancestors in the page tree.
void flattenInheritedC(fz_context* ctx, pdf_obj* page)
{
    pdf_obj* keys[] = {PDF_NAME(MediaBox), PDF_NAME(CropBox), PDF_NAME(Rotate), PDF_NAME(Resources)};
    for (pdf_obj* key : keys) {
        if (pdf_dict_get(ctx, page, key)) continue;
        pdf_obj* value = pdf_dict_get_inheritable(ctx, page, key);
        if (value) pdf_dict_put(ctx, page, key, value);
    }
}

// A page in its new place takes nothing from its new ancestors: what it
// does not say itself holds its default there, as it did where it came from
// (its inherited values were written onto it when it left, or when it was
// made). Else a node's /Rotate would turn it and its /CropBox cut it.
void keepOwnLookC(fz_context* ctx, pdf_obj* page)
{
    if (!pdf_dict_get(ctx, page, PDF_NAME(Rotate)) && pdf_dict_get_inheritable(ctx, page, PDF_NAME(Rotate)))
        pdf_dict_put_int(ctx, page, PDF_NAME(Rotate), 0);
    if (!pdf_dict_get(ctx, page, PDF_NAME(CropBox)) && pdf_dict_get_inheritable(ctx, page, PDF_NAME(CropBox))
        && pdf_dict_get(ctx, page, PDF_NAME(MediaBox)))
        pdf_dict_put_rect(ctx, page, PDF_NAME(CropBox), pdf_dict_get_rect(ctx, page, PDF_NAME(MediaBox)));
    if (!pdf_dict_get(ctx, page, PDF_NAME(Resources)) && pdf_dict_get_inheritable(ctx, page, PDF_NAME(Resources)))
        pdf_dict_put_dict(ctx, page, PDF_NAME(Resources), 0);
}

// The page object at `index` goes into *num and *gen before it leaves.
void removePageC(fz_context* ctx, pdf_document* doc, int index, int* num, int* gen, FzError* err)
{
    fz_try(ctx) {
        pdf_obj* page = pdf_lookup_page_obj(ctx, doc, index);
        *num = pdf_to_num(ctx, page);
        *gen = pdf_to_gen(ctx, page);
        flattenInheritedC(ctx, page);
        pdf_delete_page(ctx, doc, index);
    }
    fz_catch(ctx) captureError(ctx, err);
}

void insertPageC(fz_context* ctx, pdf_document* doc, int num, int gen, int index, FzError* err)
{
    pdf_obj* ref = nullptr;
    fz_var(ref);
    fz_try(ctx) {
        ref = pdf_new_indirect(ctx, doc, num, gen);
        if (!pdf_name_eq(ctx, pdf_dict_get(ctx, ref, PDF_NAME(Type)), PDF_NAME(Page)))
            fz_throw(ctx, FZ_ERROR_GENERIC, "object %d is not a page", num);
        pdf_insert_page(ctx, doc, index, ref);
        keepOwnLookC(ctx, ref);
    }
    fz_always(ctx) pdf_drop_obj(ctx, ref);
    fz_catch(ctx) captureError(ctx, err);
}

// The page's index in the tree, -1 when it is not there.
int lookupPageC(fz_context* ctx, pdf_document* doc, int num, int gen, FzError* err)
{
    pdf_obj* ref = nullptr;
    int index = -1;
    fz_var(ref);
    fz_var(index);
    fz_try(ctx) {
        ref = pdf_new_indirect(ctx, doc, num, gen);
        index = pdf_lookup_page_number(ctx, doc, ref);
    }
    fz_always(ctx) pdf_drop_obj(ctx, ref);
    fz_catch(ctx) {
        captureError(ctx, err);
        index = -1;
    }
    return index;
}

void rotationC(fz_context* ctx, pdf_document* doc, int index, int* degrees, int write, FzError* err)
{
    fz_try(ctx) {
        pdf_obj* page = pdf_lookup_page_obj(ctx, doc, index);
        if (write) pdf_dict_put_int(ctx, page, PDF_NAME(Rotate), *degrees);
        else *degrees = pdf_to_int(ctx, pdf_dict_get_inheritable(ctx, page, PDF_NAME(Rotate)));
    }
    fz_catch(ctx) captureError(ctx, err);
}

void blankPageC(fz_context* ctx, pdf_document* doc, float w, float h, int* num, FzError* err)
{
    fz_buffer* contents = nullptr;
    pdf_obj* resources = nullptr;
    pdf_obj* page = nullptr;
    fz_var(contents);
    fz_var(resources);
    fz_var(page);
    fz_try(ctx) {
        contents = fz_new_buffer(ctx, 1);
        resources = pdf_new_dict(ctx, doc, 1);
        page = pdf_add_page(ctx, doc, fz_make_rect(0, 0, w, h), 0, resources, contents);
        *num = pdf_to_num(ctx, page);
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, page);
        pdf_drop_obj(ctx, resources);
        fz_drop_buffer(ctx, contents);
    }
    fz_catch(ctx) captureError(ctx, err);
}

// -------- leaving a file: marks that point outside their page

// The destination of a GoTo action, none for another action.
pdf_obj* goToDestination(fz_context* ctx, pdf_obj* action)
{
    return pdf_name_eq(ctx, pdf_dict_get(ctx, action, PDF_NAME(S)), PDF_NAME(GoTo))
               ? pdf_dict_get(ctx, action, PDF_NAME(D))
               : nullptr;
}

// The explicit destination array of a mark's /Dest or GoTo action, or none.
pdf_obj* destinationArray(fz_context* ctx, pdf_obj* annot)
{
    pdf_obj* dest = pdf_dict_get(ctx, annot, PDF_NAME(Dest));
    if (!dest) dest = goToDestination(ctx, pdf_dict_get(ctx, annot, PDF_NAME(A)));
    return pdf_is_array(ctx, dest) ? dest : nullptr;
}

// -------- references to pages out of the tree

// Nesting deeper than this within one object, or in a field or structure
// tree, is not walked; a chain of beads longer than walkLimit is not either.
constexpr int depthLimit = 64;
constexpr int walkLimit = 100000;

// An object, packed for a binary search.
std::int64_t packedObject(int num, int gen) { return (std::int64_t(num) << 32) | std::uint32_t(gen); }

// The walk's state, fz_realloc'd: the pages out and those in the tree
// (sorted), what the pages in the tree list (sorted), what goes with the
// pages out (sorted once collected), the references taken, each with the
// dictionary or array it stood in (kept), the objects still to walk, and
// where the walk is: the object it walks and the path within it (holder 0:
// the trailer). `cutShort`: memory runs out once a reference was found.
struct ReferenceWalk {
    const std::int64_t* out = nullptr;
    int outCount = 0;
    const std::int64_t* in = nullptr;
    int inCount = 0;
    std::int64_t* listed = nullptr;
    int listedCount = 0, listedCapacity = 0;
    std::int64_t* gone = nullptr;
    int goneCount = 0, goneCapacity = 0, goneSorted = 0;
    HeldReference* held = nullptr;
    pdf_obj** containers = nullptr;
    int count = 0, capacity = 0;
    int* todo = nullptr; // number and generation, in pairs
    int todoCount = 0, todoCapacity = 0;
    unsigned char* seen = nullptr; // by number: pushed, or a structure element's content (1 + what elementC said)
    int seenLength = 0;
    int holder = 0, holderGeneration = 0;
    pdf_obj* path = nullptr;
    int cutShort = 0;
};

template <typename T>
void growC(fz_context* ctx, T** items, int* capacity, int needed)
{
    if (needed <= *capacity) return;
    const int grown = std::max({16, needed, *capacity * 2});
    *items = static_cast<T*>(fz_realloc(ctx, *items, sizeof(T) * size_t(grown)));
    *capacity = grown;
}

// Whether `obj` is the name `name`, one MuPDF has no constant for.
int isNamedC(fz_context* ctx, pdf_obj* obj, const char* name)
{
    return pdf_is_name(ctx, obj) && std::strcmp(pdf_to_name(ctx, obj), name) == 0;
}

int isOutPageC(fz_context* ctx, const ReferenceWalk* w, pdf_obj* obj)
{
    return pdf_is_indirect(ctx, obj)
           && std::binary_search(w->out, w->out + w->outCount,
                                 packedObject(pdf_to_num(ctx, obj), pdf_to_gen(ctx, obj)));
}

// Whether `obj` is a page out or goes with one (of what was collected and sorted so far).
int isGoneC(fz_context* ctx, const ReferenceWalk* w, pdf_obj* obj)
{
    return isOutPageC(ctx, w, obj)
           || (pdf_is_indirect(ctx, obj)
               && std::binary_search(w->gone, w->gone + w->goneSorted,
                                     packedObject(pdf_to_num(ctx, obj), pdf_to_gen(ctx, obj))));
}

// Whether a page in the tree lists `obj` among its marks or beads: it
// stays, whatever else lists it or whatever page its /P names.
int isListedC(fz_context* ctx, const ReferenceWalk* w, pdf_obj* obj)
{
    return pdf_is_indirect(ctx, obj)
           && std::binary_search(w->listed, w->listed + w->listedCount,
                                 packedObject(pdf_to_num(ctx, obj), pdf_to_gen(ctx, obj)));
}

void goesC(fz_context* ctx, ReferenceWalk* w, pdf_obj* obj)
{
    if (!pdf_is_indirect(ctx, obj) || isListedC(ctx, w, obj)) return;
    growC(ctx, &w->gone, &w->goneCapacity, w->goneCount + 1);
    w->gone[w->goneCount++] = packedObject(pdf_to_num(ctx, obj), pdf_to_gen(ctx, obj));
}

void sortGoneC(ReferenceWalk* w)
{
    std::sort(w->gone, w->gone + w->goneCount);
    w->goneSorted = w->goneCount;
}

// A named destination as other readers find it: in the catalog's /Dests,
// else (a string) in its /Dests name tree. MuPDF's own look-up passes over
// the tree of a file that has both.
pdf_obj* namedDestinationC(fz_context* ctx, pdf_document* doc, pdf_obj* name)
{
    pdf_obj* dests = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Dests");
    pdf_obj* found =
        pdf_is_name(ctx, name) ? pdf_dict_get(ctx, dests, name) : pdf_dict_gets(ctx, dests, pdf_to_str_buf(ctx, name));
    if (!found && pdf_is_string(ctx, name)) found = pdf_lookup_name(ctx, doc, PDF_NAME(Dests), name);
    return found;
}

// Whether a destination leads to a page out: an explicit one (a page and
// how to show it), a named one as the document's names give it, a
// dictionary's /D. Other arrays that start with a page are no destination.
int destinationOutC(fz_context* ctx, pdf_document* doc, const ReferenceWalk* w, pdf_obj* dest)
{
    if (pdf_is_name(ctx, dest) || pdf_is_string(ctx, dest)) dest = namedDestinationC(ctx, doc, dest);
    if (pdf_is_dict(ctx, dest)) dest = pdf_dict_get(ctx, dest, PDF_NAME(D));
    return pdf_is_array(ctx, dest) && pdf_array_len(ctx, dest) >= 2 && pdf_is_name(ctx, pdf_array_get(ctx, dest, 1))
           && isOutPageC(ctx, w, pdf_array_get(ctx, dest, 0));
}

// Whether `value`, standing under `key` (none in an array), leads to a
// page out or is of one: the page or what goes with it, a destination or a
// GoTo action there, marked content there (a structure's MCR or OBJR).
int leadsOutC(fz_context* ctx, pdf_document* doc, const ReferenceWalk* w, pdf_obj* value, pdf_obj* key)
{
    if (isGoneC(ctx, w, value)) return 1;
    pdf_obj* v = pdf_resolve_indirect(ctx, value);
    if (pdf_is_array(ctx, v)) return destinationOutC(ctx, doc, w, v);
    if (pdf_is_name(ctx, v) || pdf_is_string(ctx, v))
        return key && pdf_name_eq(ctx, key, PDF_NAME(Dest)) && destinationOutC(ctx, doc, w, v);
    if (!pdf_is_dict(ctx, v)) return 0;
    pdf_obj* type = pdf_dict_get(ctx, v, PDF_NAME(Type));
    if (isNamedC(ctx, type, "MCR") || isNamedC(ctx, type, "OBJR"))
        return isOutPageC(ctx, w, pdf_dict_gets(ctx, v, "Pg")) || isGoneC(ctx, w, pdf_dict_gets(ctx, v, "Obj"));
    pdf_obj* s = pdf_dict_get(ctx, v, PDF_NAME(S));
    if (pdf_name_eq(ctx, s, PDF_NAME(GoTo)) || (!s && pdf_dict_get(ctx, v, PDF_NAME(D))))
        return destinationOutC(ctx, doc, w, pdf_dict_get(ctx, v, PDF_NAME(D)));
    return 0;
}

// Whether a mark or bead is on a page out: a page out lists it or its /P
// names one, and no page in the tree lists it.
int onPageOutC(fz_context* ctx, const ReferenceWalk* w, pdf_obj* item)
{
    return !isListedC(ctx, w, item)
           && (isGoneC(ctx, w, item) || isOutPageC(ctx, w, pdf_dict_get(ctx, item, PDF_NAME(P))));
}

// Whether every widget under form field `node` (one at least) is on a page
// out: its field then goes with the page, and so does each kid that is so.
int fieldOutC(fz_context* ctx, ReferenceWalk* w, pdf_obj* node, int depth)
{
    if (depth > depthLimit || !pdf_is_dict(ctx, node)) return 0;
    // Each field once: a kid that is its own ancestor stays.
    const int num = pdf_is_indirect(ctx, node) ? pdf_to_num(ctx, node) : 0;
    if (num > 0 && num < w->seenLength) {
        if (w->seen[num]) return 0;
        w->seen[num] = 1;
    }
    pdf_obj* kids = pdf_dict_get(ctx, node, PDF_NAME(Kids));
    if (!pdf_is_array(ctx, kids)) return onPageOutC(ctx, w, node);
    const int n = pdf_array_len(ctx, kids);
    int all = n > 0;
    for (int i = 0; i < n; ++i) {
        pdf_obj* kid = pdf_array_get(ctx, kids, i);
        if (fieldOutC(ctx, w, kid, depth + 1)) goesC(ctx, w, kid);
        else all = 0;
    }
    return all;
}

int elementC(fz_context* ctx, ReferenceWalk* w, pdf_obj* element, int depth);

// What an item of a structure element's /K marks, on `page` unless it
// says otherwise: 0 nothing, 1 content on pages out alone, 2 content on a
// page in the tree or on none known.
int contentC(fz_context* ctx, ReferenceWalk* w, pdf_obj* item, pdf_obj* page, int depth)
{
    if (pdf_is_int(ctx, item)) return isOutPageC(ctx, w, page) ? 1 : 2;
    if (!pdf_is_dict(ctx, item)) return 0;
    pdf_obj* type = pdf_dict_get(ctx, item, PDF_NAME(Type));
    const int objr = isNamedC(ctx, type, "OBJR");
    if (objr || isNamedC(ctx, type, "MCR")) {
        if (objr && isGoneC(ctx, w, pdf_dict_gets(ctx, item, "Obj"))) return 1;
        pdf_obj* own = pdf_dict_gets(ctx, item, "Pg");
        return isOutPageC(ctx, w, own ? own : page) ? 1 : 2;
    }
    return elementC(ctx, w, item, depth + 1);
}

// What a structure element marks (contentC), its kids' content with its
// own; one that marks content on pages out alone goes with them.
int elementC(fz_context* ctx, ReferenceWalk* w, pdf_obj* element, int depth)
{
    if (depth > depthLimit || !pdf_is_dict(ctx, element)) return depth > depthLimit ? 2 : 0;
    const int num = pdf_is_indirect(ctx, element) ? pdf_to_num(ctx, element) : 0;
    const int known = num > 0 && num < w->seenLength;
    if (known && w->seen[num]) return w->seen[num] - 1;
    if (known) w->seen[num] = 3; // a cycle marks content in the tree
    pdf_obj* page = pdf_dict_gets(ctx, element, "Pg");
    pdf_obj* kids = pdf_dict_get(ctx, element, PDF_NAME(K));
    int marks = 0;
    if (pdf_is_array(ctx, kids)) {
        for (int i = 0, n = pdf_array_len(ctx, kids); i < n && marks < 2; ++i)
            marks = std::max(marks, contentC(ctx, w, pdf_array_get(ctx, kids, i), page, depth));
    } else {
        marks = contentC(ctx, w, kids, page, depth);
    }
    if (known) w->seen[num] = static_cast<unsigned char>(marks + 1);
    if (marks == 1) goesC(ctx, w, element);
    return marks;
}

// Puts the marks and beads `page` lists into `items`.
void listC(fz_context* ctx, pdf_document* doc, std::int64_t page, std::int64_t** items, int* count, int* capacity)
{
    pdf_obj* ref = pdf_new_indirect(ctx, doc, int(page >> 32), int(std::uint32_t(page)));
    fz_try(ctx) {
        for (pdf_obj* key : {PDF_NAME(Annots), PDF_NAME(B)}) {
            pdf_obj* list = pdf_dict_get(ctx, ref, key);
            for (int k = 0, n = pdf_array_len(ctx, list); k < n; ++k) {
                pdf_obj* item = pdf_array_get(ctx, list, k);
                if (!pdf_is_indirect(ctx, item)) continue;
                growC(ctx, items, capacity, *count + 1);
                (*items)[(*count)++] = packedObject(pdf_to_num(ctx, item), pdf_to_gen(ctx, item));
            }
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, ref);
    fz_catch(ctx) fz_rethrow(ctx);
}

// What goes with the pages out: the marks and beads they list that no page
// in the tree lists; the form fields whose widgets are all on them, and
// their kids that are so; the structure elements that mark content on them
// alone; the threads of their beads alone.
void collectGoneC(fz_context* ctx, pdf_document* doc, ReferenceWalk* w)
{
    for (int i = 0; i < w->inCount; ++i) listC(ctx, doc, w->in[i], &w->listed, &w->listedCount, &w->listedCapacity);
    std::sort(w->listed, w->listed + w->listedCount);
    for (int i = 0; i < w->outCount; ++i) listC(ctx, doc, w->out[i], &w->gone, &w->goneCount, &w->goneCapacity);
    w->goneCount = int(std::remove_if(w->gone, w->gone + w->goneCount,
                                      [&](std::int64_t item) {
                                          return std::binary_search(w->listed, w->listed + w->listedCount, item);
                                      })
                       - w->gone);
    sortGoneC(w);
    pdf_obj* root = pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Root));
    pdf_obj* fields = pdf_dict_getp(ctx, root, "AcroForm/Fields");
    for (int i = 0, n = pdf_array_len(ctx, fields); i < n; ++i) {
        pdf_obj* field = pdf_array_get(ctx, fields, i);
        if (fieldOutC(ctx, w, field, 0)) goesC(ctx, w, field);
    }
    std::fill(w->seen, w->seen + w->seenLength, 0);
    pdf_obj* structure = pdf_dict_getp(ctx, root, "StructTreeRoot/K");
    if (pdf_is_array(ctx, structure)) {
        for (int i = 0, n = pdf_array_len(ctx, structure); i < n; ++i)
            elementC(ctx, w, pdf_array_get(ctx, structure, i), 0);
    } else {
        elementC(ctx, w, structure, 0);
    }
    std::fill(w->seen, w->seen + w->seenLength, 0);
    pdf_obj* threads = pdf_dict_gets(ctx, root, "Threads");
    for (int i = 0, n = pdf_array_len(ctx, threads); i < n; ++i) {
        pdf_obj* thread = pdf_array_get(ctx, threads, i);
        pdf_obj* first = pdf_dict_get(ctx, thread, PDF_NAME(F));
        int all = pdf_is_indirect(ctx, first);
        pdf_obj* bead = first;
        for (int walked = 0; all && walked < walkLimit; ++walked) {
            if (onPageOutC(ctx, w, bead)) goesC(ctx, w, bead);
            else all = 0;
            bead = pdf_dict_get(ctx, bead, PDF_NAME(N));
            if (!pdf_is_indirect(ctx, bead) || pdf_to_num(ctx, bead) == pdf_to_num(ctx, first)) break;
        }
        if (all) goesC(ctx, w, thread);
    }
    sortGoneC(w);
}

// Takes what stands at `key` of dictionary `container`, or at `at` of
// array `container` (with `pair`, the pair of a name or number tree whose
// value stands there), into the walk's list; it leaves once the walk ends.
void takeC(fz_context* ctx, ReferenceWalk* w, pdf_obj* container, pdf_obj* key, int at, int pair,
           pdf_obj* put = nullptr)
{
    if (w->cutShort && w->count > 0) fz_throw(ctx, FZ_ERROR_MEMORY, "out of memory");
    if (w->count == w->capacity) {
        const int grown = std::max(16, w->capacity * 2);
        w->held = static_cast<HeldReference*>(fz_realloc(ctx, w->held, sizeof(HeldReference) * size_t(grown)));
        w->containers = static_cast<pdf_obj**>(fz_realloc(ctx, w->containers, sizeof(pdf_obj*) * size_t(grown)));
        w->capacity = grown;
    }
    // The one step that may fail comes first: nothing is kept yet.
    pdf_obj* path = pdf_array_len(ctx, w->path) > 0 ? pdf_copy_array(ctx, w->path) : nullptr;
    HeldReference& held = w->held[w->count];
    held = HeldReference{w->holder, w->holderGeneration, path, nullptr, -1, nullptr, pdf_keep_obj(ctx, put)};
    if (at < 0) {
        held.key = pdf_keep_obj(ctx, key);
        held.value = pdf_keep_obj(ctx, pdf_dict_get(ctx, container, key));
    } else {
        held.at = pair ? at - 1 : at;
        if (pair) held.key = pdf_keep_obj(ctx, pdf_array_get(ctx, container, at - 1));
        held.value = pdf_keep_obj(ctx, pdf_array_get(ctx, container, at));
    }
    w->containers[w->count++] = pdf_keep_obj(ctx, container);
}

void walkValueC(fz_context* ctx, pdf_document* doc, ReferenceWalk* w, pdf_obj* value, pdf_obj* step, int pairs,
                int numbered, int depth);

// Where `key` of a thread (/F) or of a bead (/N, /V) leads to a bead that
// goes: the next bead that stays that way, so that the article still
// reads through its other pages; none where every bead goes.
pdf_obj* beadInsteadC(fz_context* ctx, const ReferenceWalk* w, pdf_obj* key, pdf_obj* bead)
{
    pdf_obj* way = pdf_name_eq(ctx, key, PDF_NAME(V)) ? PDF_NAME(V) : PDF_NAME(N);
    if (!pdf_name_eq(ctx, key, PDF_NAME(F)) && !pdf_name_eq(ctx, key, way)) return nullptr;
    if (!isNamedC(ctx, pdf_dict_get(ctx, bead, PDF_NAME(Type)), "Bead")
        && !(pdf_dict_get(ctx, bead, PDF_NAME(T)) && pdf_dict_get(ctx, bead, PDF_NAME(R))))
        return nullptr;
    const int first = pdf_to_num(ctx, bead);
    for (int walked = 0; walked < walkLimit && isGoneC(ctx, w, bead); ++walked) {
        bead = pdf_dict_get(ctx, bead, way);
        if (!pdf_is_indirect(ctx, bead) || pdf_to_num(ctx, bead) == first) return nullptr;
    }
    return isGoneC(ctx, w, bead) ? nullptr : bead;
}

// Walks a dictionary of the object walked: what in it leads out is taken.
// In a structure element on a page out, its content by number goes too.
void walkDictC(fz_context* ctx, pdf_document* doc, ReferenceWalk* w, pdf_obj* dict, int depth)
{
    const int numbered = isOutPageC(ctx, w, pdf_dict_gets(ctx, dict, "Pg"));
    for (int i = pdf_dict_len(ctx, dict) - 1; i >= 0; --i) {
        pdf_obj* key = pdf_dict_get_key(ctx, dict, i);
        pdf_obj* value = pdf_dict_get_val(ctx, dict, i);
        const int content = numbered && pdf_name_eq(ctx, key, PDF_NAME(K));
        if ((content && pdf_is_int(ctx, value)) || leadsOutC(ctx, doc, w, value, key))
            takeC(ctx, w, dict, key, -1, 0, beadInsteadC(ctx, w, key, value));
        else
            walkValueC(ctx, doc, w, value, key,
                       pdf_name_eq(ctx, key, PDF_NAME(Names)) || pdf_name_eq(ctx, key, PDF_NAME(Nums)), content, depth);
    }
}

// Walks an array of the object walked, the last item first, so that the
// places taken stay right as they leave; `pairs` for a name or number
// tree's, `numbered` for the content of a structure element on a page out.
void walkArrayC(fz_context* ctx, pdf_document* doc, ReferenceWalk* w, pdf_obj* array, int pairs, int numbered,
                int depth)
{
    for (int i = pdf_array_len(ctx, array) - 1; i >= 0; --i) {
        pdf_obj* item = pdf_array_get(ctx, array, i);
        const int value = !pairs || i % 2 == 1;
        if ((numbered && pdf_is_int(ctx, item)) || (value && leadsOutC(ctx, doc, w, item, nullptr))) {
            takeC(ctx, w, array, nullptr, i, pairs);
            if (pairs) --i;
            continue;
        }
        if (pdf_is_indirect(ctx, item)) {
            walkValueC(ctx, doc, w, item, nullptr, 0, 0, depth);
            continue;
        }
        if (!pdf_is_array(ctx, item) && !pdf_is_dict(ctx, item)) continue;
        pdf_obj* place = pdf_new_int(ctx, i);
        fz_try(ctx) walkValueC(ctx, doc, w, item, place, 0, 0, depth);
        fz_always(ctx) pdf_drop_obj(ctx, place);
        fz_catch(ctx) fz_rethrow(ctx);
    }
}

// An object it refers to is walked in its turn; a dictionary or array
// within the object walked is walked now, `step` on the path.
void walkValueC(fz_context* ctx, pdf_document* doc, ReferenceWalk* w, pdf_obj* value, pdf_obj* step, int pairs,
                int numbered, int depth)
{
    if (pdf_is_indirect(ctx, value)) {
        const int num = pdf_to_num(ctx, value);
        if (num <= 0 || num >= w->seenLength || w->seen[num]) return;
        w->seen[num] = 1;
        growC(ctx, &w->todo, &w->todoCapacity, w->todoCount + 2);
        w->todo[w->todoCount++] = num;
        w->todo[w->todoCount++] = pdf_to_gen(ctx, value);
        return;
    }
    const int array = pdf_is_array(ctx, value);
    if ((!array && !pdf_is_dict(ctx, value)) || depth >= depthLimit) return;
    pdf_array_push(ctx, w->path, step);
    if (array) walkArrayC(ctx, doc, w, value, pairs, numbered, depth + 1);
    else walkDictC(ctx, doc, w, value, depth + 1);
    pdf_array_delete(ctx, w->path, pdf_array_len(ctx, w->path) - 1);
}

// Takes every reference that leads to the pages out (the walk's `out`) in
// one walk of what the trailer reaches, its own values too: what goes with
// them is collected first (collectGoneC), then every object is walked once,
// and what leads out leaves once the walk ends. A walk cut short takes
// nothing; where what it found fails to leave part way, what left up to
// there is in the walk's list.
void holdReferencesC(fz_context* ctx, pdf_document* doc, ReferenceWalk* w, FzError* err)
{
    pdf_obj* ref = nullptr;
    int taken = 0;
    fz_var(ref);
    fz_var(taken);
    fz_try(ctx) {
        w->seenLength = pdf_xref_len(ctx, doc);
        w->seen = static_cast<unsigned char*>(fz_calloc(ctx, size_t(w->seenLength) + 1, 1));
        w->path = pdf_new_array(ctx, doc, 8);
        collectGoneC(ctx, doc, w);
        w->holder = w->holderGeneration = 0;
        walkDictC(ctx, doc, w, pdf_trailer(ctx, doc), 0);
        while (w->todoCount > 0) {
            w->holderGeneration = w->todo[--w->todoCount];
            w->holder = w->todo[--w->todoCount];
            ref = pdf_new_indirect(ctx, doc, w->holder, w->holderGeneration);
            pdf_obj* obj = pdf_resolve_indirect(ctx, ref); // null, with a warning, when it cannot be read
            if (pdf_is_dict(ctx, obj)) walkDictC(ctx, doc, w, obj, 0);
            else if (pdf_is_array(ctx, obj)) walkArrayC(ctx, doc, w, obj, 0, 0, 0);
            pdf_drop_obj(ctx, ref);
            ref = nullptr;
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, ref);
    fz_catch(ctx) captureError(ctx, err);
    // What was found leaves, in the order found: the later places of an array first.
    if (!err->code) {
        fz_try(ctx) {
            for (; taken < w->count; ++taken) {
                const HeldReference& held = w->held[taken];
                pdf_obj* container = w->containers[taken];
                if (held.at < 0) {
                    if (held.put) pdf_dict_put(ctx, container, held.key, held.put);
                    else pdf_dict_del(ctx, container, held.key);
                    continue;
                }
                if (held.key) pdf_array_delete(ctx, container, held.at + 1);
                pdf_array_delete(ctx, container, held.at);
            }
        }
        fz_catch(ctx) captureError(ctx, err);
    }
    for (int k = 0; k < w->count; ++k) pdf_drop_obj(ctx, w->containers[k]);
    for (int k = taken; k < w->count; ++k) {
        pdf_drop_obj(ctx, w->held[k].put);
        pdf_drop_obj(ctx, w->held[k].path);
        pdf_drop_obj(ctx, w->held[k].key);
        pdf_drop_obj(ctx, w->held[k].value);
    }
    w->count = taken;
}

// Puts a held reference back where it stood, unless another took its place
// since: a key given again (a destination or action where the other was),
// a pair whose name is there.
void giveBackC(fz_context* ctx, pdf_document* doc, const HeldReference* held, FzError* err)
{
    pdf_obj* holder = nullptr;
    fz_var(holder);
    fz_try(ctx) {
        holder = held->holder ? pdf_new_indirect(ctx, doc, held->holder, held->holderGeneration) : nullptr;
        pdf_obj* container = held->holder ? holder : pdf_trailer(ctx, doc);
        for (int i = 0, n = pdf_array_len(ctx, held->path); i < n; ++i) {
            pdf_obj* step = pdf_array_get(ctx, held->path, i);
            container = pdf_is_int(ctx, step) ? pdf_array_get(ctx, container, pdf_to_int(ctx, step))
                                              : pdf_dict_get(ctx, container, step);
        }
        if (held->at < 0) {
            if (!pdf_is_dict(ctx, container))
                fz_throw(ctx, FZ_ERROR_GENERIC, "object %d no longer holds the reference", held->holder);
            const bool destination =
                pdf_name_eq(ctx, held->key, PDF_NAME(Dest)) || pdf_name_eq(ctx, held->key, PDF_NAME(A));
            pdf_obj* there = pdf_dict_get(ctx, container, held->key);
            if (held->put ? pdf_objcmp(ctx, there, held->put) != 0
                : destination
                    ? pdf_dict_get(ctx, container, PDF_NAME(Dest)) || pdf_dict_get(ctx, container, PDF_NAME(A))
                    : there != nullptr)
                break;
            pdf_dict_put(ctx, container, held->key, held->value);
            break;
        }
        if (!pdf_is_array(ctx, container))
            fz_throw(ctx, FZ_ERROR_GENERIC, "object %d no longer holds the reference", held->holder);
        const int n = pdf_array_len(ctx, container);
        if (!held->key) {
            pdf_array_insert(ctx, container, held->value, std::min(held->at, n));
            break;
        }
        const int at = std::min(held->at, n / 2 * 2);
        if (at < n && !pdf_objcmp(ctx, pdf_array_get(ctx, container, at), held->key)) break;
        pdf_array_insert(ctx, container, held->value, at);
        pdf_array_insert(ctx, container, held->key, at);
    }
    fz_always(ctx) pdf_drop_obj(ctx, holder);
    fz_catch(ctx) captureError(ctx, err);
}

// `obj` as an object of `doc`: its references name the same objects there.
pdf_obj* reboundC(fz_context* ctx, pdf_document* doc, pdf_obj* obj, int depth)
{
    if (depth > 64) fz_throw(ctx, FZ_ERROR_GENERIC, "the reference is nested too deep");
    if (pdf_is_indirect(ctx, obj)) return pdf_new_indirect(ctx, doc, pdf_to_num(ctx, obj), pdf_to_gen(ctx, obj));
    const bool array = pdf_is_array(ctx, obj);
    if (!array && !pdf_is_dict(ctx, obj)) return pdf_keep_obj(ctx, obj);
    const int n = array ? pdf_array_len(ctx, obj) : pdf_dict_len(ctx, obj);
    pdf_obj* copy = array ? pdf_new_array(ctx, doc, n) : pdf_new_dict(ctx, doc, n);
    fz_try(ctx) {
        for (int i = 0; i < n; ++i) {
            if (array) pdf_array_push_drop(ctx, copy, reboundC(ctx, doc, pdf_array_get(ctx, obj, i), depth + 1));
            else
                pdf_dict_put_drop(ctx, copy, pdf_dict_get_key(ctx, obj, i),
                                  reboundC(ctx, doc, pdf_dict_get_val(ctx, obj, i), depth + 1));
        }
    }
    fz_catch(ctx) {
        pdf_drop_obj(ctx, copy);
        fz_rethrow(ctx);
    }
    return copy;
}

void rebindC(fz_context* ctx, pdf_document* doc, HeldReference* held, FzError* err)
{
    pdf_obj* value = nullptr;
    fz_var(value);
    fz_try(ctx) {
        value = reboundC(ctx, doc, held->value, 0);
        pdf_obj* path = held->path ? reboundC(ctx, doc, held->path, 0) : nullptr;
        pdf_drop_obj(ctx, held->path);
        held->path = path;
        pdf_obj* put = held->put ? reboundC(ctx, doc, held->put, 0) : nullptr;
        pdf_drop_obj(ctx, held->put);
        held->put = put;
        pdf_drop_obj(ctx, held->value);
        held->value = value;
    }
    fz_catch(ctx) {
        pdf_drop_obj(ctx, value);
        captureError(ctx, err);
    }
}

// Whether the file's own bytes (the sections it was read from, not those
// its edits since made) hold object `num`. Without an update section, the
// engine makes new objects in the file's own: those have no place in it.
int fileHoldsObjectC(pdf_document* doc, int num)
{
    for (int i = doc->num_incremental_sections; i < doc->num_xref_sections; ++i)
        for (pdf_xref_subsec* sub = doc->xref_sections[i].subsec; sub; sub = sub->next)
            if (num >= sub->start && num < sub->start + sub->len) {
                const pdf_xref_entry& entry = sub->table[num - sub->start];
                if (entry.type == 'o' || (entry.type == 'n' && entry.ofs > 0)) return 1;
            }
    return 0;
}

int holdsObject(fz_context* ctx, pdf_obj* array, pdf_obj* ref)
{
    const int num = pdf_to_num(ctx, ref);
    if (num <= 0) return 0;
    const int n = pdf_array_len(ctx, array);
    for (int i = 0; i < n; ++i)
        if (pdf_to_num(ctx, pdf_array_get(ctx, array, i)) == num) return 1;
    return 0;
}

// A field name that `target` does not use yet: the name itself, else
// "name copy", "name copy 2", …; `always` skips the name itself.
void freeFieldNameC(fz_context* ctx, pdf_document* target, const char* name, int always, char* out, size_t size)
{
    pdf_obj* fields = pdf_dict_getp(ctx, pdf_trailer(ctx, target), "Root/AcroForm/Fields");
    if (!always && !(fields && pdf_lookup_field(ctx, fields, name))) {
        fz_strlcpy(out, name, size);
        return;
    }
    for (int n = 1; n < 10000; ++n) {
        if (n == 1) fz_snprintf(out, size, "%s copy", name);
        else fz_snprintf(out, size, "%s copy %d", name, n);
        if (!(fields && pdf_lookup_field(ctx, fields, out))) return;
    }
}

// The keys a field gives its kids.
void inheritFieldKeysC(fz_context* ctx, pdf_obj* to, pdf_obj* from)
{
    pdf_obj* keys[] = {PDF_NAME(FT), PDF_NAME(Ff),  PDF_NAME(V),      PDF_NAME(DV), PDF_NAME(DA),
                       PDF_NAME(Q),  PDF_NAME(Opt), PDF_NAME(MaxLen), PDF_NAME(TU)};
    for (pdf_obj* key : keys) {
        if (to != from && pdf_dict_get(ctx, to, key)) continue;
        pdf_obj* value = pdf_dict_get_inheritable(ctx, from, key);
        if (value && !pdf_dict_get(ctx, to, key)) pdf_dict_put(ctx, to, key, value);
    }
}

// Makes the widget's field stand alone under a free name: a widget that is
// its own field loses its parent; a kid widget moves under a new top-level
// field, one per original field (`olds`/`news` pair them across the call).
// New top-level fields are pushed to `made`.
void detachWidgetC(fz_context* ctx, pdf_document* src, pdf_document* target, pdf_obj* widget, int rename, pdf_obj* olds,
                   pdf_obj* news, pdf_obj* made)
{
    char name[512];
    char* full = nullptr;
    fz_var(full);
    if (pdf_dict_get(ctx, widget, PDF_NAME(T))) {
        fz_try(ctx) {
            full = pdf_field_name(ctx, widget);
            freeFieldNameC(ctx, target, full ? full : "Field", rename, name, sizeof name);
            inheritFieldKeysC(ctx, widget, widget);
            pdf_dict_del(ctx, widget, PDF_NAME(Parent));
            pdf_dict_put_text_string(ctx, widget, PDF_NAME(T), name);
            pdf_array_push(ctx, made, widget);
        }
        fz_always(ctx) fz_free(ctx, full);
        fz_catch(ctx) fz_rethrow(ctx);
        return;
    }
    pdf_obj* parent = pdf_dict_get(ctx, widget, PDF_NAME(Parent));
    if (!parent) return; // a widget of no field
    const int n = pdf_array_len(ctx, olds);
    for (int i = 0; i < n; ++i) {
        if (pdf_to_num(ctx, pdf_array_get(ctx, olds, i)) == pdf_to_num(ctx, parent)) {
            pdf_obj* field = pdf_array_get(ctx, news, i);
            pdf_array_push(ctx, pdf_dict_get(ctx, field, PDF_NAME(Kids)), widget);
            pdf_dict_put(ctx, widget, PDF_NAME(Parent), field);
            return;
        }
    }
    pdf_obj* field = nullptr;
    fz_var(field);
    fz_try(ctx) {
        full = pdf_field_name(ctx, parent);
        freeFieldNameC(ctx, target, full ? full : "Field", rename, name, sizeof name);
        field = pdf_add_new_dict(ctx, src, 8);
        inheritFieldKeysC(ctx, field, parent);
        pdf_dict_put_text_string(ctx, field, PDF_NAME(T), name);
        pdf_array_push(ctx, pdf_dict_put_array(ctx, field, PDF_NAME(Kids), 1), widget);
        pdf_dict_put(ctx, widget, PDF_NAME(Parent), field);
        pdf_array_push(ctx, olds, parent);
        pdf_array_push(ctx, news, field);
        pdf_array_push(ctx, made, field);
    }
    fz_always(ctx) {
        fz_free(ctx, full);
        pdf_drop_obj(ctx, field);
    }
    fz_catch(ctx) fz_rethrow(ctx);
}

// Cuts what ties the marks of a page (of a private copy) to the rest of
// their file, so that grafting them copies nothing else: the page reference
// /P goes (set again on the copy), a reply to a mark of another page forgets
// it, a destination page becomes its index (resolved after the graft).
void prepareMarksC(fz_context* ctx, pdf_document* src, pdf_document* target, int index, int rename, pdf_obj* olds,
                   pdf_obj* news, pdf_obj* made)
{
    pdf_obj* page = pdf_lookup_page_obj(ctx, src, index);
    pdf_obj* annots = pdf_dict_get(ctx, page, PDF_NAME(Annots));
    const int n = pdf_array_len(ctx, annots);
    for (int k = 0; k < n; ++k) {
        pdf_obj* annot = pdf_array_get(ctx, annots, k);
        if (!pdf_is_dict(ctx, annot)) continue;
        pdf_dict_del(ctx, annot, PDF_NAME(P));
        pdf_obj* irt = pdf_dict_get(ctx, annot, PDF_NAME(IRT));
        if (irt && !holdsObject(ctx, annots, irt)) pdf_dict_del(ctx, annot, PDF_NAME(IRT));
        pdf_obj* dest = destinationArray(ctx, annot);
        pdf_obj* target0 = dest ? pdf_array_get(ctx, dest, 0) : nullptr;
        if (target0 && pdf_is_indirect(ctx, target0))
            pdf_array_put_drop(ctx, dest, 0, pdf_new_int(ctx, pdf_lookup_page_number(ctx, src, target0)));
        if (pdf_name_eq(ctx, pdf_dict_get(ctx, annot, PDF_NAME(Subtype)), PDF_NAME(Widget)))
            detachWidgetC(ctx, src, target, annot, rename, olds, news, made);
    }
}

// A destination index after the graft: the copy of that page when it came
// along, else (keepOthers) that page of `dst`, else none.
pdf_obj* resolvedDestinationPage(fz_context* ctx, pdf_document* dst, int page, const int* indexes, const int* nums,
                                 int count, int keepOthers)
{
    for (int i = 0; i < count; ++i)
        if (indexes[i] == page) return pdf_new_indirect(ctx, dst, nums[i], 0);
    if (keepOthers && page >= 0 && page < pdf_count_pages(ctx, dst))
        return pdf_keep_obj(ctx, pdf_lookup_page_obj(ctx, dst, page));
    return nullptr;
}

void finishMarksC(fz_context* ctx, pdf_document* dst, int num, const int* indexes, const int* nums, int count,
                  int keepOthers)
{
    pdf_obj* page = pdf_new_indirect(ctx, dst, num, 0);
    fz_try(ctx) {
        pdf_obj* annots = pdf_dict_get(ctx, page, PDF_NAME(Annots));
        for (int k = pdf_array_len(ctx, annots) - 1; k >= 0; --k) {
            pdf_obj* annot = pdf_array_get(ctx, annots, k);
            if (!pdf_is_dict(ctx, annot)) continue;
            // Each mark an object of its own: an appearance MuPDF makes for a
            // mark written straight into the page would otherwise point from
            // the page into objects that are never saved.
            if (!pdf_is_indirect(ctx, annot)) {
                pdf_array_put_drop(ctx, annots, k, pdf_add_object(ctx, dst, annot));
                annot = pdf_array_get(ctx, annots, k);
            }
            pdf_dict_put(ctx, annot, PDF_NAME(P), page);
            pdf_obj* dest = destinationArray(ctx, annot);
            pdf_obj* first = dest ? pdf_array_get(ctx, dest, 0) : nullptr;
            if (!pdf_is_int(ctx, first)) continue;
            pdf_obj* to = resolvedDestinationPage(ctx, dst, pdf_to_int(ctx, first), indexes, nums, count, keepOthers);
            if (to) pdf_array_put_drop(ctx, dest, 0, to);
            else if (pdf_name_eq(ctx, pdf_dict_get(ctx, annot, PDF_NAME(Subtype)), PDF_NAME(Link)))
                pdf_array_delete(ctx, annots, k); // a link into pages that did not come along
            else {
                pdf_dict_del(ctx, annot, PDF_NAME(Dest));
                pdf_dict_del(ctx, annot, PDF_NAME(A));
            }
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, page);
    fz_catch(ctx) fz_rethrow(ctx);
}

// Puts the new fields into the target's form, making the form (with the
// source's default resources and appearance) when there is none.
void addFieldsC(fz_context* ctx, pdf_graft_map* map, pdf_document* src, pdf_document* dst, pdf_obj* made)
{
    const int n = pdf_array_len(ctx, made);
    if (n == 0) return;
    pdf_obj* root = pdf_dict_get(ctx, pdf_trailer(ctx, dst), PDF_NAME(Root));
    pdf_obj* form = pdf_dict_get(ctx, root, PDF_NAME(AcroForm));
    if (!pdf_is_dict(ctx, form)) {
        form = pdf_add_new_dict(ctx, dst, 4);
        pdf_dict_put_drop(ctx, root, PDF_NAME(AcroForm), form);
    }
    pdf_obj* srcForm = pdf_dict_getp(ctx, pdf_trailer(ctx, src), "Root/AcroForm");
    pdf_obj* keys[] = {PDF_NAME(DR), PDF_NAME(DA)};
    for (pdf_obj* key : keys) {
        pdf_obj* value = pdf_dict_get(ctx, srcForm, key);
        if (value && !pdf_dict_get(ctx, form, key))
            pdf_dict_put_drop(ctx, form, key, pdf_graft_mapped_object(ctx, map, value));
    }
    pdf_obj* fields = pdf_dict_get(ctx, form, PDF_NAME(Fields));
    if (!pdf_is_array(ctx, fields)) fields = pdf_dict_put_array(ctx, form, PDF_NAME(Fields), n);
    for (int i = 0; i < n; ++i)
        pdf_array_push_drop(ctx, fields, pdf_graft_mapped_object(ctx, map, pdf_array_get(ctx, made, i)));
}

// Prepares the pages' marks in `src` (a private copy), grafts the pages into
// `dst` through one map and puts them in `nums` (objects of generation 0).
// The layers they name come along (beginLayerGraftC); what that did to
// dst's layer settings goes to `layers`.
void graftPagesC(fz_context* ctx, pdf_document* dst, pdf_document* src, const int* indexes, int count, int copying,
                 int* nums, LayerSettingsChange* layers, FzError* err)
{
    static pdf_obj* const keys[] = {PDF_NAME(Contents), PDF_NAME(Resources), PDF_NAME(MediaBox), PDF_NAME(CropBox),
                                    PDF_NAME(BleedBox), PDF_NAME(TrimBox),   PDF_NAME(ArtBox),   PDF_NAME(Rotate),
                                    PDF_NAME(UserUnit), PDF_NAME(Group),     PDF_NAME(Annots)};
    LayerGraft graft;
    pdf_obj* olds = nullptr;
    pdf_obj* news = nullptr;
    pdf_obj* made = nullptr;
    pdf_obj* dict = nullptr;
    pdf_obj* ref = nullptr;
    fz_var(graft);
    fz_var(olds);
    fz_var(news);
    fz_var(made);
    fz_var(dict);
    fz_var(ref);
    fz_try(ctx) {
        olds = pdf_new_array(ctx, src, 4);
        news = pdf_new_array(ctx, src, 4);
        made = pdf_new_array(ctx, src, 4);
        for (int i = 0; i < count; ++i) prepareMarksC(ctx, src, dst, indexes[i], copying, olds, news, made);
        beginLayerGraftC(ctx, dst, src, &graft);
        *layers = graft.settings;
        pdf_graft_map* map = graft.map;
        for (int i = 0; i < count; ++i) {
            pdf_obj* page = pdf_lookup_page_obj(ctx, src, indexes[i]);
            dict = pdf_new_dict(ctx, dst, 8);
            pdf_dict_put(ctx, dict, PDF_NAME(Type), PDF_NAME(Page));
            for (pdf_obj* key : keys) {
                pdf_obj* value = pdf_dict_get_inheritable(ctx, page, key);
                if (value) pdf_dict_put_drop(ctx, dict, key, pdf_graft_mapped_object(ctx, map, value));
            }
            ref = pdf_add_object(ctx, dst, dict);
            nums[i] = pdf_to_num(ctx, ref);
            pdf_drop_obj(ctx, ref);
            ref = nullptr;
            pdf_drop_obj(ctx, dict);
            dict = nullptr;
        }
        addFieldsC(ctx, map, src, dst, made);
        endLayerGraftC(ctx, dst, graft);
        for (int i = 0; i < count; ++i) finishMarksC(ctx, dst, nums[i], indexes, nums, count, copying);
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, ref);
        pdf_drop_obj(ctx, dict);
        pdf_drop_obj(ctx, made);
        pdf_drop_obj(ctx, news);
        pdf_drop_obj(ctx, olds);
        dropLayerGraftC(ctx, &graft);
    }
    fz_catch(ctx) captureError(ctx, err);
}

void layerSettingsC(fz_context* ctx, pdf_document* doc, int num, int gen, int inCatalog, FzError* err)
{
    fz_try(ctx) putLayerSettingsC(ctx, doc, num, gen, inCatalog);
    fz_catch(ctx) captureError(ctx, err);
}

// ---------------------------------------------------------------- C++ side

PdfDocument::Impl& unlocked(const PdfDocument& document)
{
    PdfDocument::Impl& d = document.impl();
    if (d.locked) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    return d;
}

int pageCountOf(const PdfDocument::Impl& d)
{
    FzError err;
    const int n = countPagesC(pdfContext(), d.doc, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    return n;
}

void checkIndex(const PdfDocument::Impl& d, int index)
{
    if (index < 0 || index >= pageCountOf(d))
        throw PdfError(PdfErrorCode::pageOutOfRange, "page " + std::to_string(index + 1) + " does not exist");
}

int indexOf(const PdfDocument::Impl& d, PdfPageId page)
{
    FzError err;
    const int index = page ? lookupPageC(pdfContext(), d.doc, page.object, page.generation, &err) : -1;
    throwIfFailed(err, PdfErrorCode::damaged);
    if (index < 0) throw PdfError(PdfErrorCode::pageOutOfRange, "the page is not in the document");
    return index;
}

std::vector<PdfPageId> graftInto(PdfDocument::Impl& dst, PdfDocument::Impl& src, const std::vector<int>& indexes,
                                 bool copying, PdfLayerChange* layers)
{
    const int count = pageCountOf(src);
    for (int index : indexes)
        if (index < 0 || index >= count)
            throw PdfError(PdfErrorCode::pageOutOfRange, "page " + std::to_string(index + 1) + " does not exist");
    std::vector<int> nums(indexes.size());
    FzError err;
    LayerSettingsChange change;
    graftPagesC(pdfContext(), dst.doc, src.doc, indexes.data(), int(indexes.size()), copying, nums.data(), &change,
                &err);
    if (err.code && change.changed) {
        // No page came in: the settings go back to those found.
        FzError ignored;
        layerSettingsC(pdfContext(), dst.doc, change.before, change.beforeGeneration, change.beforeInCatalog, &ignored);
    }
    throwIfFailed(err, PdfErrorCode::damaged);
    if (layers) {
        *layers = {};
        if (change.changed)
            *layers = {{change.before, change.beforeGeneration, change.beforeInCatalog != 0}, {change.after, 0, false}};
    }
    std::vector<PdfPageId> pages;
    for (int num : nums) pages.push_back({num, 0});
    return pages;
}

} // namespace

namespace {

void dropHeld(fz_context* ctx, const HeldReference& held)
{
    pdf_drop_obj(ctx, held.put);
    pdf_drop_obj(ctx, held.value);
    pdf_drop_obj(ctx, held.key);
    pdf_drop_obj(ctx, held.path);
}

// Takes what leads to the pages out of the tree now (holdReferencesC): a
// page out that is in the tree again elsewhere (a file that shows a page
// twice) is none, and what a page in the tree lists stays. A walk cut
// short leaves nothing taken and its error in d.walkCutShort: it is walked
// again before the next edit or save (walkAgainIfCutShort).
void holdWhatLeadsOut(PdfDocument::Impl& d)
{
    d.walkCutShort = {};
    if (d.pagesOut.empty()) return;
    fz_context* ctx = pdfContext();
    ReferenceWalk walk;
    FzError err;
    try {
        std::vector<std::int64_t> in;
        try {
            for (const PdfPageId& page : pageMap(d).ids)
                if (page) in.push_back(packedObject(page.object, page.generation));
        } catch (const PdfError&) {
            // A tree that cannot be read holds none of them: the rest is walked.
        }
        std::sort(in.begin(), in.end());
        std::vector<std::int64_t> out;
        for (const PdfPageId& page : d.pagesOut)
            if (!std::binary_search(in.begin(), in.end(), packedObject(page.object, page.generation)))
                out.push_back(packedObject(page.object, page.generation));
        if (out.empty()) return;
        std::sort(out.begin(), out.end());
        walk.out = out.data();
        walk.outCount = int(out.size());
        walk.in = in.data();
        walk.inCount = int(in.size());
        int& cutShort = referenceWalkSeams().walksCutShort;
        walk.cutShort = cutShort > 0 ? cutShort-- : 0;
        holdReferencesC(ctx, d.doc, &walk, &err);
        if (!err.code) d.heldReferences.insert(d.heldReferences.end(), walk.held, walk.held + walk.count);
    } catch (const std::bad_alloc&) {
        err.code = FZ_ERROR_MEMORY;
        std::strcpy(err.message, "out of memory");
    }
    if (err.code) {
        // What left goes back, the latest first: nothing is lost.
        for (int k = walk.count - 1; k >= 0; --k) {
            FzError ignored;
            giveBackC(ctx, d.doc, &walk.held[k], &ignored);
            dropHeld(ctx, walk.held[k]);
        }
        walk.count = 0;
        d.walkCutShort = err;
    }
    fz_free(ctx, walk.held);
    fz_free(ctx, walk.containers);
    fz_free(ctx, walk.todo);
    fz_free(ctx, walk.gone);
    fz_free(ctx, walk.listed);
    fz_free(ctx, walk.seen);
    pdf_drop_obj(ctx, walk.path);
}

} // namespace

void holdReferences(PdfDocument::Impl& d, const std::vector<PdfPageId>& pages)
{
    if (pages.empty()) return;
    for (const PdfPageId& page : pages)
        if (std::find(d.pagesOut.begin(), d.pagesOut.end(), page) == d.pagesOut.end()) d.pagesOut.push_back(page);
    holdWhatLeadsOut(d);
}

void giveReferencesBack(PdfDocument::Impl& d, const std::vector<PdfPageId>& pages)
{
    if (pages.empty()) return;
    std::erase_if(d.pagesOut,
                  [&](const PdfPageId& page) { return std::find(pages.begin(), pages.end(), page) != pages.end(); });
    // Everything goes back, the latest first, so that each place is as it
    // was when it was taken; what leads to pages still out is taken again.
    fz_context* ctx = pdfContext();
    FzError failed;
    for (auto it = d.heldReferences.rbegin(); it != d.heldReferences.rend(); ++it) {
        FzError err;
        giveBackC(ctx, d.doc, &*it, &err);
        if (err.code && !failed.code) failed = err;
        dropHeld(ctx, *it);
    }
    d.heldReferences.clear();
    holdWhatLeadsOut(d);
    throwIfFailed(failed, PdfErrorCode::damaged);
}

void walkAgainIfCutShort(PdfDocument::Impl& d)
{
    if (d.walkCutShort.code) holdWhatLeadsOut(d);
}

void throwIfWalkCutShort(const PdfDocument::Impl& d)
{
    if (d.walkCutShort.code == FZ_ERROR_MEMORY) throwOutOfMemory();
    if (d.walkCutShort.code)
        throw PdfError(PdfErrorCode::damaged,
                       std::string("what leads to a page taken out cannot all be let go: ") + d.walkCutShort.message);
}

ReferenceWalkSeams& referenceWalkSeams()
{
    static ReferenceWalkSeams seams;
    return seams;
}

void moveHeldReferences(PdfDocument::Impl& d, pdf_document* fresh)
{
    for (HeldReference& held : d.heldReferences) {
        FzError err;
        rebindC(pdfContext(), fresh, &held, &err);
        // Kept as it was, it cannot go back: giveReferencesBack says so then.
    }
}

void dropHeldReferences(PdfDocument::Impl& d)
{
    for (const HeldReference& held : d.heldReferences) dropHeld(pdfContext(), held);
    d.heldReferences.clear();
}

bool removedPagesInFile(const PdfDocument::Impl& d)
{
    return std::any_of(d.pagesOut.begin(), d.pagesOut.end(),
                       [&](const PdfPageId& page) { return fileHoldsObjectC(d.doc, page.object) != 0; });
}

std::function<bool(int num)> ownPageOutsideTree(const PdfDocument::Impl& d, bool update)
{
    std::vector<int> out;
    if (!update)
        for (const PdfPageId& page : d.pagesOut) out.push_back(page.object);
    return [doc = d.doc, out = std::move(out)](int num) {
        return std::find(out.begin(), out.end(), num) == out.end() && fileHoldsObjectC(doc, num) != 0;
    };
}

int pageRotation(const PdfDocument& document, PdfPageId page)
{
    std::lock_guard lock(document.impl().mutex);
    PdfDocument::Impl& d = unlocked(document);
    int degrees = 0;
    FzError err;
    rotationC(pdfContext(), d.doc, indexOf(d, page), &degrees, 0, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    return normalizedRotation(degrees);
}

void setPageRotation(PdfDocument& document, PdfPageId page, int degrees)
{
    std::lock_guard lock(document.impl().mutex);
    PdfDocument::Impl& d = unlocked(document);
    settleBeforeEditing(d);
    int value = normalizedRotation(degrees);
    FzError err;
    rotationC(pdfContext(), d.doc, indexOf(d, page), &value, 1, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    pageTreeChanged(d);
}

void removePage(PdfDocument& document, int index) { removePages(document, {index}); }

void removePages(PdfDocument& document, std::vector<int> indexes)
{
    std::lock_guard lock(document.impl().mutex);
    PdfDocument::Impl& d = unlocked(document);
    settleBeforeEditing(d);
    std::sort(indexes.begin(), indexes.end(), std::greater<>());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    for (int index : indexes) checkIndex(d, index);
    // Asked before any page goes out: a page taken out takes the
    // signature's field with it, and a save's questions walk no pages.
    signedDocument(d);
    // The last first, so that the places of those still to go stay.
    FzError err;
    std::vector<PdfPageId> gone;
    for (int index : indexes) {
        int num = 0, gen = 0;
        removePageC(pdfContext(), d.doc, index, &num, &gen, &err);
        if (err.code) break;
        gone.push_back({num, gen});
    }
    pageTreeChanged(d);
    holdReferences(d, gone);
    throwIfFailed(err, PdfErrorCode::damaged);
}

void insertPage(PdfDocument& document, PdfPageId page, int index) { insertPages(document, {{page, index}}); }

void insertPages(PdfDocument& document, const std::vector<std::pair<PdfPageId, int>>& placements)
{
    std::lock_guard lock(document.impl().mutex);
    PdfDocument::Impl& d = unlocked(document);
    settleBeforeEditing(d);
    for (const auto& placement : placements)
        if (!placement.first) throw PdfError(PdfErrorCode::pageOutOfRange, "no page");
    FzError err;
    std::vector<PdfPageId> back;
    int count = pageCountOf(d);
    for (const auto& [page, index] : placements) {
        insertPageC(pdfContext(), d.doc, page.object, page.generation, std::clamp(index, 0, count), &err);
        if (err.code) break;
        back.push_back(page);
        ++count;
    }
    pageTreeChanged(d);
    // What led to the pages leads to them again.
    try {
        giveReferencesBack(d, back);
    } catch (const PdfError&) {
        throwIfFailed(err, PdfErrorCode::damaged);
        throw;
    }
    throwIfFailed(err, PdfErrorCode::damaged);
}

PdfPageId createBlankPage(PdfDocument& document, double width, double height)
{
    std::lock_guard lock(document.impl().mutex);
    PdfDocument::Impl& d = unlocked(document);
    settleBeforeEditing(d);
    int num = 0;
    FzError err;
    blankPageC(pdfContext(), d.doc, float(width), float(height), &num, &err);
    throwIfFailed(err, PdfErrorCode::general);
    return {num, 0};
}

std::vector<PdfPageId> graftPages(PdfDocument& target, const PdfDocument& source, const std::vector<int>& indexes,
                                  PdfLayerChange* layers)
{
    if (layers) *layers = {};
    if (indexes.empty()) return {};
    // The marks are cut loose in a private copy, so `source` stays as it was.
    const std::shared_ptr<PdfDocument> copy = source.copy();
    std::scoped_lock lock(target.impl().mutex, copy->impl().mutex);
    PdfDocument::Impl& dst = unlocked(target);
    settleBeforeEditing(dst);
    inheritOrigins(dst, copy->impl());
    return graftInto(dst, unlocked(*copy), indexes, false, layers);
}

std::vector<PdfPageId> copyPages(PdfDocument& document, const std::vector<int>& indexes, PdfLayerChange* layers)
{
    if (layers) *layers = {};
    if (indexes.empty()) return {};
    // A graft copies between two documents: the pages come from a snapshot,
    // whose page indexes are the document's own.
    const std::shared_ptr<PdfDocument> copy = document.copy();
    std::scoped_lock lock(document.impl().mutex, copy->impl().mutex);
    PdfDocument::Impl& dst = unlocked(document);
    settleBeforeEditing(dst);
    return graftInto(dst, unlocked(*copy), indexes, true, layers);
}

void setLayerSettings(PdfDocument& document, const PdfLayerSettings& settings)
{
    std::lock_guard lock(document.impl().mutex);
    PdfDocument::Impl& d = unlocked(document);
    settleBeforeEditing(d);
    FzError err;
    layerSettingsC(pdfContext(), d.doc, settings.object, settings.generation, settings.inCatalog, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
}

} // namespace platform
