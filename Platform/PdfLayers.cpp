#include "Platform/PdfLayers.h"

namespace platform {
namespace {

// The objects a walk has met, by number.
struct Visited {
    int* nums = nullptr;
    int count = 0, capacity = 0;
};

// Notes object `num`; false when it was met before.
bool visitC(fz_context* ctx, Visited* seen, int num)
{
    for (int i = 0; i < seen->count; ++i)
        if (seen->nums[i] == num) return false;
    if (seen->count == seen->capacity) {
        const int capacity = seen->capacity ? 2 * seen->capacity : 32;
        seen->nums = static_cast<int*>(fz_realloc(ctx, seen->nums, sizeof(int) * size_t(capacity)));
        seen->capacity = capacity;
    }
    seen->nums[seen->count++] = num;
    return true;
}

// Whether `obj` leads to a page or the page tree (a go-to action's
// destination, say), through any of the objects it refers to: grafted, it
// would drag that page, and through its parent the whole source, into the
// copy. One that leads too far to tell (past `*budget` objects) counts as
// leading there.
int walkToPagesC(fz_context* ctx, pdf_obj* obj, int depth, int* budget, Visited* seen)
{
    if (depth > 64 || --*budget < 0) return 1;
    if (pdf_is_indirect(ctx, obj) && !visitC(ctx, seen, pdf_to_num(ctx, obj))) return 0;
    if (pdf_is_dict(ctx, obj)) {
        pdf_obj* type = pdf_dict_get(ctx, obj, PDF_NAME(Type));
        if (pdf_name_eq(ctx, type, PDF_NAME(Page)) || pdf_name_eq(ctx, type, PDF_NAME(Pages))) return 1;
    }
    const int dict = pdf_is_dict(ctx, obj);
    const int n = dict ? pdf_dict_len(ctx, obj) : pdf_is_array(ctx, obj) ? pdf_array_len(ctx, obj) : 0;
    for (int i = 0; i < n; ++i) {
        pdf_obj* value = dict ? pdf_dict_get_val(ctx, obj, i) : pdf_array_get(ctx, obj, i);
        if ((pdf_is_dict(ctx, value) || pdf_is_array(ctx, value)) && walkToPagesC(ctx, value, depth + 1, budget, seen))
            return 1;
    }
    return 0;
}

// ---------------------------------------------------------------- layers

void addPairC(fz_context* ctx, LayerPairs* pairs, int source, int copy)
{
    if (pairs->count == pairs->capacity) {
        const int capacity = pairs->capacity ? 2 * pairs->capacity : 8;
        pairs->nums = static_cast<int*>(fz_realloc(ctx, pairs->nums, sizeof(int) * 2 * size_t(capacity)));
        pairs->capacity = capacity;
    }
    pairs->nums[2 * pairs->count] = source;
    pairs->nums[2 * pairs->count + 1] = copy;
    ++pairs->count;
}

// The copy paired with `num`, or 0.
int pairedC(const LayerPairs& pairs, int num)
{
    for (int i = 0; i < pairs.count; ++i)
        if (pairs.nums[2 * i] == num) return pairs.nums[2 * i + 1];
    return 0;
}

// Whether a layer of a document's default settings is shown: listed /ON
// where all start hidden, else not listed /OFF.
bool layerShownC(fz_context* ctx, pdf_obj* settings, pdf_obj* group)
{
    const bool hiddenFirst = pdf_name_eq(ctx, pdf_dict_get(ctx, settings, PDF_NAME(BaseState)), PDF_NAME(OFF));
    pdf_obj* list = pdf_dict_get(ctx, settings, hiddenFirst ? PDF_NAME(ON) : PDF_NAME(OFF));
    return (pdf_array_find(ctx, list, group) >= 0) == hiddenFirst;
}

// The array `key` of `dict`, made when missing.
pdf_obj* listOfC(fz_context* ctx, pdf_obj* dict, pdf_obj* key)
{
    pdf_obj* list = pdf_dict_get(ctx, dict, key);
    return pdf_is_array(ctx, list) ? list : pdf_dict_put_array(ctx, dict, key, 4);
}

void pushEntryC(fz_context* ctx, pdf_obj* dict, pdf_obj* key, pdf_obj* value)
{
    pdf_array_push(ctx, listOfC(ctx, dict, key), value);
}

// The index in a document's layers (`mine`) of the one a copy of a page of
// the source brought for its layer `group`: named alike, shown or hidden
// alike, and not paired yet with another of the source's. -1 when none.
int heldLayerC(fz_context* ctx, pdf_obj* theirs, pdf_obj* group, pdf_obj* mine, const LayerPairs& pairs)
{
    pdf_obj* held = pdf_dict_get(ctx, mine, PDF_NAME(OCGs));
    const bool shown = layerShownC(ctx, pdf_dict_get(ctx, theirs, PDF_NAME(D)), group);
    for (int j = 0, n = pdf_array_len(ctx, held); j < n; ++j) {
        pdf_obj* copy = pdf_array_get(ctx, held, j);
        bool paired = false;
        for (int k = 0; k < pairs.count && !paired; ++k) paired = pairs.nums[2 * k + 1] == pdf_to_num(ctx, copy);
        if (!paired && pdf_is_indirect(ctx, copy)
            && !pdf_objcmp(ctx, pdf_dict_get(ctx, group, PDF_NAME(Name)), pdf_dict_get(ctx, copy, PDF_NAME(Name)))
            && layerShownC(ctx, pdf_dict_get(ctx, mine, PDF_NAME(D)), copy) == shown)
            return j;
    }
    return -1;
}

// A reference to object `num` of `doc`, with the generation it has there.
pdf_obj* referenceC(fz_context* ctx, pdf_document* doc, int num)
{
    const pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
    return pdf_new_indirect(ctx, doc, num, entry ? entry->gen : 0);
}

// Whether the list names `group` itself, not merely a layer like it (one
// written into the list itself, as no layer should be, by its content).
bool namesC(fz_context* ctx, pdf_obj* list, pdf_obj* group)
{
    for (int i = 0, n = pdf_array_len(ctx, list); i < n; ++i) {
        pdf_obj* entry = pdf_array_get(ctx, list, i);
        const bool named =
            pdf_is_indirect(ctx, entry) && pdf_is_indirect(ctx, group)
                ? pdf_to_num(ctx, entry) == pdf_to_num(ctx, group) && pdf_to_gen(ctx, entry) == pdf_to_gen(ctx, group)
                : !pdf_objcmp_resolve(ctx, entry, group);
        if (named) return true;
    }
    return false;
}

// Makes the entry `key` of `dict` its own where it refers to another object:
// a deep copy of that object. Returns the entry.
pdf_obj* ownEntryC(fz_context* ctx, pdf_obj* dict, pdf_obj* key)
{
    pdf_obj* value = pdf_dict_get(ctx, dict, key);
    if (pdf_is_indirect(ctx, value))
        pdf_dict_put_drop(ctx, dict, key, pdf_deep_copy_obj(ctx, pdf_resolve_indirect(ctx, value)));
    return pdf_dict_get(ctx, dict, key);
}

// A copy of layer settings whose lists a graft adds to are its own, so that
// the settings it was made from stay as they were.
pdf_obj* freshSettingsC(fz_context* ctx, pdf_obj* settings)
{
    pdf_obj* fresh = pdf_deep_copy_obj(ctx, pdf_resolve_indirect(ctx, settings));
    fz_try(ctx) {
        ownEntryC(ctx, fresh, PDF_NAME(OCGs));
        pdf_obj* defaults = ownEntryC(ctx, fresh, PDF_NAME(D));
        if (pdf_is_dict(ctx, defaults)) {
            pdf_obj* lists[] = {PDF_NAME(Order), PDF_NAME(ON), PDF_NAME(OFF)};
            for (pdf_obj* key : lists) ownEntryC(ctx, defaults, key);
        }
    }
    fz_catch(ctx) {
        pdf_drop_obj(ctx, fresh);
        fz_rethrow(ctx);
    }
    return fresh;
}

// Makes `made` the settings of `doc`, whose catalog `root` held `found`,
// and tells `change` what held them before.
void installSettingsC(fz_context* ctx, pdf_document* doc, pdf_obj* root, pdf_obj* found, pdf_obj* made,
                      LayerSettingsChange* change)
{
    LayerSettingsChange told;
    told.changed = 1;
    if (pdf_is_indirect(ctx, found)) {
        told.before = pdf_to_num(ctx, found);
        told.beforeGeneration = pdf_to_gen(ctx, found);
    } else if (pdf_is_dict(ctx, found)) {
        pdf_obj* kept = pdf_add_object_drop(ctx, doc, pdf_deep_copy_obj(ctx, found));
        told.before = pdf_to_num(ctx, kept);
        told.beforeInCatalog = 1;
        pdf_drop_obj(ctx, kept);
    }
    pdf_obj* ref = pdf_is_indirect(ctx, made) ? pdf_keep_obj(ctx, made) : pdf_add_object(ctx, doc, made);
    told.after = pdf_to_num(ctx, ref);
    pdf_dict_put_drop(ctx, root, PDF_NAME(OCProperties), ref);
    readLayerStatesC(ctx, doc);
    *change = told;
}

// Gives `dst` the layers of `src` (see beginLayerGraftC) and pairs each
// layer of src with its copy.
void carryLayersC(fz_context* ctx, pdf_document* dst, pdf_document* src, LayerPairs* pairs, LayerSettingsChange* change)
{
    pdf_obj* theirs = pdf_dict_getp(ctx, pdf_trailer(ctx, src), "Root/OCProperties");
    pdf_obj* groups = pdf_dict_get(ctx, theirs, PDF_NAME(OCGs));
    if (pdf_array_len(ctx, groups) == 0 || leadsToPagesC(ctx, theirs)) return;
    pdf_obj* root = pdf_dict_get(ctx, pdf_trailer(ctx, dst), PDF_NAME(Root));
    pdf_obj* found = pdf_dict_get(ctx, root, PDF_NAME(OCProperties));
    pdf_obj* mine = pdf_is_dict(ctx, found) ? found : nullptr;
    pdf_graft_map* map = nullptr;
    pdf_obj* made = nullptr; // the settings to be, once they differ from those found
    fz_var(map);
    fz_var(made);
    fz_try(ctx) {
        const int n = pdf_array_len(ctx, groups);
        if (!mine) {
            map = pdf_new_graft_map(ctx, dst);
            made = pdf_graft_mapped_object(ctx, map, theirs);
            pdf_obj* list = pdf_dict_get(ctx, made, PDF_NAME(OCGs));
            for (int i = 0; i < n; ++i) {
                pdf_obj* group = pdf_array_get(ctx, groups, i);
                pdf_obj* its = pdf_array_get(ctx, list, i);
                if (pdf_is_indirect(ctx, group) && pdf_is_indirect(ctx, its))
                    addPairC(ctx, pairs, pdf_to_num(ctx, group), pdf_to_num(ctx, its));
            }
        } else {
            for (int i = 0; i < n; ++i) {
                pdf_obj* group = pdf_array_get(ctx, groups, i);
                if (!pdf_is_indirect(ctx, group)) continue;
                pdf_obj* held = made ? made : mine;
                const int index = heldLayerC(ctx, theirs, group, held, *pairs);
                if (index >= 0) {
                    pdf_obj* its = pdf_array_get(ctx, pdf_dict_get(ctx, held, PDF_NAME(OCGs)), index);
                    addPairC(ctx, pairs, pdf_to_num(ctx, group), pdf_to_num(ctx, its));
                    continue;
                }
                if (!made) made = freshSettingsC(ctx, mine);
                pdf_obj* settings = pdf_dict_get(ctx, made, PDF_NAME(D));
                if (!pdf_is_dict(ctx, settings)) settings = pdf_dict_put_dict(ctx, made, PDF_NAME(D), 4);
                if (!map) map = pdf_new_graft_map(ctx, dst);
                pdf_obj* copy = pdf_graft_mapped_object(ctx, map, group);
                pdf_array_push_drop(ctx, listOfC(ctx, made, PDF_NAME(OCGs)), copy);
                pushEntryC(ctx, settings, PDF_NAME(Order), copy);
                const bool shown = layerShownC(ctx, pdf_dict_get(ctx, theirs, PDF_NAME(D)), group);
                pushEntryC(ctx, settings, shown ? PDF_NAME(ON) : PDF_NAME(OFF), copy);
                addPairC(ctx, pairs, pdf_to_num(ctx, group), pdf_to_num(ctx, copy));
            }
        }
        if (made) installSettingsC(ctx, dst, root, found, made, change);
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, made);
        pdf_drop_graft_map(ctx, map);
    }
    fz_catch(ctx) fz_rethrow(ctx);
}

// Points what `obj` holds (and the dictionaries and arrays it holds in
// itself) at the document's own copy of each layer where it names a copy
// made for one page alone.
void relinkLayersC(fz_context* ctx, pdf_document* dst, pdf_obj* obj, const LayerPairs& pageCopies, int depth)
{
    if (depth > 32) return;
    const int dict = pdf_is_dict(ctx, obj);
    const int n = dict ? pdf_dict_len(ctx, obj) : pdf_is_array(ctx, obj) ? pdf_array_len(ctx, obj) : 0;
    for (int i = 0; i < n; ++i) {
        pdf_obj* value = dict ? pdf_dict_get_val(ctx, obj, i) : pdf_array_get(ctx, obj, i);
        if (pdf_is_indirect(ctx, value)) {
            if (const int layer = pairedC(pageCopies, pdf_to_num(ctx, value))) {
                pdf_obj* ref = referenceC(ctx, dst, layer);
                if (dict) pdf_dict_put_drop(ctx, obj, pdf_dict_get_key(ctx, obj, i), ref);
                else pdf_array_put_drop(ctx, obj, i, ref);
            }
        } else if (pdf_is_dict(ctx, value) || pdf_is_array(ctx, value)) {
            relinkLayersC(ctx, dst, value, pageCopies, depth + 1);
        }
    }
}

// Pages grafted with a map of their own copy each layer their content names
// anew (pageCopyC): the objects made since `from` are pointed at the
// document's copies instead.
void relinkPageC(fz_context* ctx, pdf_document* dst, int from, const LayerPairs& pageCopies)
{
    for (int num = from, end = pdf_xref_len(ctx, dst); num < end; ++num) {
        if (pairedC(pageCopies, num)) continue;
        // Made here, each is held in memory (a stream by its dictionary).
        const pdf_xref_entry* entry = pdf_get_xref_entry(ctx, dst, num);
        if (entry && entry->obj) relinkLayersC(ctx, dst, entry->obj, pageCopies, 0);
    }
}

// Grafts layer `source` of `src` with a page's map first, so that the
// page's content names that copy, which relinkPageC then points at the
// document's copy `copy`.
void pageCopyC(fz_context* ctx, pdf_graft_map* map, pdf_document* src, int source, int copy, LayerPairs* pageCopies)
{
    pdf_obj* group = pdf_new_indirect(ctx, src, source, 0);
    pdf_obj* made = nullptr;
    fz_var(made);
    fz_try(ctx) {
        made = pdf_graft_mapped_object(ctx, map, group);
        addPairC(ctx, pageCopies, pdf_to_num(ctx, made), copy);
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, made);
        pdf_drop_obj(ctx, group);
    }
    fz_catch(ctx) fz_rethrow(ctx);
}

} // namespace

void readLayerStatesC(fz_context* ctx, pdf_document* doc)
{
    pdf_drop_ocg(ctx, doc);
    doc->ocg = nullptr;
    const int n = pdf_count_layers(ctx, doc); // read again
    pdf_obj* properties = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/OCProperties");
    pdf_obj* groups = pdf_dict_get(ctx, properties, PDF_NAME(OCGs));
    if (n == 0 || pdf_array_len(ctx, groups) != n) return;
    // Every reader starts from the default settings, /D (MuPDF from the
    // first of /Configs, which holds alternatives a reader may offer); where
    // there are none, no layer is hidden.
    pdf_obj* settings = pdf_dict_get(ctx, properties, PDF_NAME(D));
    if (!pdf_is_dict(ctx, settings)) settings = nullptr;
    const int base = !pdf_name_eq(ctx, pdf_dict_get(ctx, settings, PDF_NAME(BaseState)), PDF_NAME(OFF));
    pdf_obj* on = pdf_dict_get(ctx, settings, PDF_NAME(ON));
    pdf_obj* off = pdf_dict_get(ctx, settings, PDF_NAME(OFF));
    for (int i = 0; i < n; ++i) {
        pdf_obj* group = pdf_array_get(ctx, groups, i);
        const int shown = namesC(ctx, off, group) ? 0 : namesC(ctx, on, group) ? 1 : base;
        pdf_enable_layer(ctx, doc, i, shown);
    }
}

void readLayerStatesQuietlyC(fz_context* ctx, pdf_document* doc)
{
    fz_try(ctx) readLayerStatesC(ctx, doc);
    fz_catch(ctx) {} // MuPDF reads them its own way as it draws
}

void beginLayerGraftC(fz_context* ctx, pdf_document* dst, pdf_document* src, LayerGraft* graft)
{
    carryLayersC(ctx, dst, src, &graft->layers, &graft->settings);
    graft->firstNew = pdf_xref_len(ctx, dst);
    graft->map = pdf_new_graft_map(ctx, dst);
    for (int i = 0; i < graft->layers.count; ++i)
        pageCopyC(ctx, graft->map, src, graft->layers.nums[2 * i], graft->layers.nums[2 * i + 1], &graft->pageCopies);
}

void relinkLayersSinceC(fz_context* ctx, pdf_document* dst, const LayerGraft& graft, int from)
{
    if (graft.pageCopies.count) relinkPageC(ctx, dst, from, graft.pageCopies);
}

void endLayerGraftC(fz_context* ctx, pdf_document* dst, const LayerGraft& graft)
{
    relinkLayersSinceC(ctx, dst, graft, graft.firstNew);
    dropPageCopiesC(ctx, dst, graft);
}

void dropPageCopiesC(fz_context* ctx, pdf_document* dst, const LayerGraft& graft)
{
    for (int i = 0; i < graft.pageCopies.count; ++i) pdf_delete_object(ctx, dst, graft.pageCopies.nums[2 * i]);
}

void dropLayerGraftC(fz_context* ctx, LayerGraft* graft)
{
    fz_free(ctx, graft->pageCopies.nums);
    fz_free(ctx, graft->layers.nums);
    pdf_drop_graft_map(ctx, graft->map);
    *graft = LayerGraft{};
}

void putLayerSettingsC(fz_context* ctx, pdf_document* doc, int num, int gen, int inCatalog)
{
    pdf_obj* root = pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Root));
    if (num <= 0) {
        pdf_dict_del(ctx, root, PDF_NAME(OCProperties));
    } else {
        if (num >= pdf_xref_len(ctx, doc)) fz_throw(ctx, FZ_ERROR_GENERIC, "no layer settings %d", num);
        pdf_obj* ref = pdf_new_indirect(ctx, doc, num, gen);
        pdf_obj* value = nullptr;
        fz_var(value);
        fz_try(ctx) value = inCatalog ? pdf_deep_copy_obj(ctx, pdf_resolve_indirect(ctx, ref)) : pdf_keep_obj(ctx, ref);
        fz_always(ctx) pdf_drop_obj(ctx, ref);
        fz_catch(ctx) fz_rethrow(ctx);
        pdf_dict_put_drop(ctx, root, PDF_NAME(OCProperties), value);
    }
    readLayerStatesC(ctx, doc);
}

int leadsToPagesC(fz_context* ctx, pdf_obj* obj)
{
    Visited seen;
    int budget = 1 << 14;
    int leads = 1;
    fz_var(seen);
    fz_var(leads);
    fz_try(ctx) leads = walkToPagesC(ctx, obj, 0, &budget, &seen);
    fz_always(ctx) fz_free(ctx, seen.nums);
    fz_catch(ctx) fz_rethrow(ctx);
    return leads;
}

} // namespace platform
