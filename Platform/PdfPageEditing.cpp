#include "Platform/PdfPageEditing.h"

#include "Platform/PdfLayers.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>

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

// Walks longer than this stop there (a cycle ends there too).
constexpr int walkLimit = 100000;

// A page object, packed for a binary search among the pages out.
std::int64_t packedPage(int num, int gen) { return (std::int64_t(num) << 32) | std::uint32_t(gen); }

// The pages out of the tree (sorted, packed), and the references to them
// the walk took, fz_realloc'd.
struct ReferenceWalk {
    const std::int64_t* out = nullptr;
    int outCount = 0;
    HeldReference* held = nullptr;
    int count = 0, capacity = 0;
};

int isOutC(fz_context* ctx, pdf_obj* page, const ReferenceWalk* walk)
{
    return pdf_is_indirect(ctx, page)
           && std::binary_search(walk->out, walk->out + walk->outCount,
                                 packedPage(pdf_to_num(ctx, page), pdf_to_gen(ctx, page)));
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

// The page a destination leads to: an explicit one's first item, a named
// one's as the document's names give it, a dictionary's /D.
pdf_obj* destinationPageC(fz_context* ctx, pdf_document* doc, pdf_obj* dest)
{
    if (pdf_is_name(ctx, dest) || pdf_is_string(ctx, dest)) dest = namedDestinationC(ctx, doc, dest);
    if (pdf_is_dict(ctx, dest)) dest = pdf_dict_get(ctx, dest, PDF_NAME(D));
    return pdf_is_array(ctx, dest) ? pdf_array_get(ctx, dest, 0) : nullptr;
}

// The key of an outline entry or a mark that leads to a page out (its
// /Dest, else its GoTo action /A), with that page; none when it leads elsewhere.
pdf_obj* keyLeadingOutC(fz_context* ctx, pdf_document* doc, pdf_obj* holder, const ReferenceWalk* walk, pdf_obj** page)
{
    pdf_obj* dest = pdf_dict_get(ctx, holder, PDF_NAME(Dest));
    pdf_obj* key = PDF_NAME(Dest);
    if (!dest) {
        dest = goToDestination(ctx, pdf_dict_get(ctx, holder, PDF_NAME(A)));
        key = PDF_NAME(A);
    }
    *page = destinationPageC(ctx, doc, dest);
    return isOutC(ctx, *page, walk) ? key : nullptr;
}

// Takes what stands under `key` in `container` (with `pair` ≥ 0: the pair
// at that place of its /Names) into the walk's list, then out of the
// container. `holder` is the object that finds the container again.
void holdC(fz_context* ctx, ReferenceWalk* walk, pdf_obj* holder, const char* within, pdf_obj* container, pdf_obj* key,
           int pair, pdf_obj* page)
{
    if (walk->count == walk->capacity) {
        const int capacity = std::max(16, walk->capacity * 2);
        walk->held = static_cast<HeldReference*>(fz_realloc(ctx, walk->held, sizeof(HeldReference) * capacity));
        walk->capacity = capacity;
    }
    pdf_obj* names = pair >= 0 ? pdf_dict_get(ctx, container, PDF_NAME(Names)) : nullptr;
    HeldReference& held = walk->held[walk->count];
    held = HeldReference{pdf_to_num(ctx, holder), pdf_to_gen(ctx, holder), within, nullptr, pair,
                         pdf_to_num(ctx, page),   pdf_to_gen(ctx, page),   nullptr};
    held.key = pdf_keep_obj(ctx, pair >= 0 ? pdf_array_get(ctx, names, 2 * pair) : key);
    held.value =
        pdf_keep_obj(ctx, pair >= 0 ? pdf_array_get(ctx, names, 2 * pair + 1) : pdf_dict_get(ctx, container, key));
    ++walk->count; // held before it leaves: a failure from here on loses nothing
    if (pair < 0) {
        pdf_dict_del(ctx, container, key);
        return;
    }
    pdf_array_delete(ctx, names, 2 * pair + 1);
    pdf_array_delete(ctx, names, 2 * pair);
}

// Outline entries; one that is not an object of its own is passed over:
// nothing could find it again to give its destination back.
void holdOutlineC(fz_context* ctx, pdf_document* doc, pdf_obj** stack, ReferenceWalk* walk)
{
    int depth = 0;
    if (pdf_obj* first = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Outlines/First")) stack[depth++] = first;
    for (int walked = 0; depth > 0 && walked < walkLimit; ++walked) {
        pdf_obj* item = stack[--depth];
        if (!pdf_is_dict(ctx, item)) continue;
        if (pdf_obj* next = pdf_dict_get(ctx, item, PDF_NAME(Next)); next && depth < walkLimit) stack[depth++] = next;
        if (pdf_obj* first = pdf_dict_get(ctx, item, PDF_NAME(First)); first && depth < walkLimit)
            stack[depth++] = first;
        pdf_obj* page = nullptr;
        if (pdf_obj* key = keyLeadingOutC(ctx, doc, item, walk, &page); key && pdf_is_indirect(ctx, item))
            holdC(ctx, walk, item, "", item, key, -1, page);
    }
}

// The marks of the pages in the tree (objects `nums`/`gens`); a mark that
// leads out and is no object of its own becomes one, to be found again.
void holdMarksC(fz_context* ctx, pdf_document* doc, const int* nums, const int* gens, int pages, ReferenceWalk* walk)
{
    pdf_obj* page = nullptr;
    fz_var(page);
    fz_try(ctx) {
        for (int i = 0; i < pages; ++i) {
            page = pdf_new_indirect(ctx, doc, nums[i], gens[i]);
            pdf_obj* annots = pdf_dict_get(ctx, page, PDF_NAME(Annots));
            const int n = pdf_array_len(ctx, annots);
            for (int k = 0; k < n; ++k) {
                pdf_obj* annot = pdf_array_get(ctx, annots, k);
                pdf_obj* to = nullptr;
                pdf_obj* key = pdf_is_dict(ctx, annot) ? keyLeadingOutC(ctx, doc, annot, walk, &to) : nullptr;
                if (!key) continue;
                if (!pdf_is_indirect(ctx, annot)) {
                    pdf_array_put_drop(ctx, annots, k, pdf_add_object(ctx, doc, annot));
                    annot = pdf_array_get(ctx, annots, k);
                    to = nullptr;
                    key = keyLeadingOutC(ctx, doc, annot, walk, &to);
                }
                holdC(ctx, walk, annot, "", annot, key, -1, to);
            }
            pdf_drop_obj(ctx, page);
            page = nullptr;
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, page);
    fz_catch(ctx) fz_rethrow(ctx);
}

// The catalog's /OpenAction and named destinations: its /Dests and the
// /Dests name tree of its /Names (nodes found again by their object, the
// tree's top by the path to it; a pair leaves its node's /Names whole).
void holdCatalogC(fz_context* ctx, pdf_document* doc, pdf_obj* openAction, pdf_obj** stack, pdf_obj** holders,
                  const char** paths, ReferenceWalk* walk)
{
    pdf_obj* root = pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Root));
    if (!pdf_is_indirect(ctx, root)) return;
    pdf_obj* open = pdf_dict_get(ctx, root, openAction);
    pdf_obj* page = destinationPageC(ctx, doc, pdf_is_array(ctx, open) ? open : goToDestination(ctx, open));
    if (isOutC(ctx, page, walk)) holdC(ctx, walk, root, "", root, openAction, -1, page);

    pdf_obj* dests = pdf_dict_get(ctx, root, PDF_NAME(Dests));
    for (int i = pdf_dict_len(ctx, dests) - 1; i >= 0; --i) {
        page = destinationPageC(ctx, doc, pdf_dict_get_val(ctx, dests, i));
        if (!isOutC(ctx, page, walk)) continue;
        pdf_obj* holder = pdf_is_indirect(ctx, dests) ? dests : root;
        holdC(ctx, walk, holder, holder == root ? "Dests" : "", dests, pdf_dict_get_key(ctx, dests, i), -1, page);
    }

    pdf_obj* names = pdf_dict_get(ctx, root, PDF_NAME(Names));
    pdf_obj* tree = pdf_dict_get(ctx, names, PDF_NAME(Dests));
    int depth = 0;
    if (pdf_is_dict(ctx, tree)) {
        stack[0] = tree;
        holders[0] = pdf_is_indirect(ctx, tree) ? tree : pdf_is_indirect(ctx, names) ? names : root;
        paths[0] = holders[0] == tree ? "" : holders[0] == names ? "Dests" : "Names/Dests";
        depth = 1;
    }
    for (int walked = 0; depth > 0 && walked < walkLimit; ++walked) {
        --depth;
        pdf_obj* node = stack[depth];
        pdf_obj* holder = holders[depth];
        const char* path = paths[depth];
        pdf_obj* kids = pdf_dict_get(ctx, node, PDF_NAME(Kids));
        for (int k = pdf_array_len(ctx, kids) - 1; k >= 0 && depth < walkLimit; --k) {
            pdf_obj* kid = pdf_array_get(ctx, kids, k);
            if (!pdf_is_indirect(ctx, kid) || !pdf_is_dict(ctx, kid)) continue;
            stack[depth] = holders[depth] = kid;
            paths[depth++] = "";
        }
        pdf_obj* pairs = pdf_dict_get(ctx, node, PDF_NAME(Names));
        for (int p = pdf_array_len(ctx, pairs) / 2 - 1; p >= 0; --p) {
            page = destinationPageC(ctx, doc, pdf_array_get(ctx, pairs, 2 * p + 1));
            if (isOutC(ctx, page, walk)) holdC(ctx, walk, holder, path, node, nullptr, p, page);
        }
    }
}

// Takes every reference to the pages out of the tree in one walk of each
// place that holds them: the outline, the marks of the pages in the tree
// (`nums`/`gens`), the catalog's. Stops at the first failure; what it took
// up to there is in the walk's list.
void holdReferencesC(fz_context* ctx, pdf_document* doc, const int* nums, const int* gens, int pages,
                     ReferenceWalk* walk, FzError* err)
{
    pdf_obj** stack = nullptr;
    pdf_obj** holders = nullptr;
    const char** paths = nullptr;
    pdf_obj* openAction = nullptr;
    fz_var(stack);
    fz_var(holders);
    fz_var(paths);
    fz_var(openAction);
    fz_try(ctx) {
        openAction = pdf_new_name(ctx, "OpenAction"); // a name MuPDF has no constant for
        stack = static_cast<pdf_obj**>(fz_malloc(ctx, sizeof(pdf_obj*) * walkLimit));
        holders = static_cast<pdf_obj**>(fz_malloc(ctx, sizeof(pdf_obj*) * walkLimit));
        paths = static_cast<const char**>(fz_malloc(ctx, sizeof(const char*) * walkLimit));
        // Entries and marks first: a named destination they name is still there to look up.
        holdOutlineC(ctx, doc, stack, walk);
        holdMarksC(ctx, doc, nums, gens, pages, walk);
        holdCatalogC(ctx, doc, openAction, stack, holders, paths, walk);
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, openAction);
        fz_free(ctx, paths);
        fz_free(ctx, holders);
        fz_free(ctx, stack);
    }
    fz_catch(ctx) captureError(ctx, err);
}

// Puts a held reference back where it stood, unless another took its place
// since: an entry or mark that leads elsewhere now, a name given again.
void giveBackC(fz_context* ctx, pdf_document* doc, const HeldReference* held, FzError* err)
{
    pdf_obj* holder = nullptr;
    fz_var(holder);
    fz_try(ctx) {
        holder = pdf_new_indirect(ctx, doc, held->holder, held->holderGeneration);
        pdf_obj* container = *held->within ? pdf_dict_getp(ctx, holder, held->within) : holder;
        if (!pdf_is_dict(ctx, container))
            fz_throw(ctx, FZ_ERROR_GENERIC, "object %d no longer holds the reference", held->holder);
        if (held->pair >= 0) {
            pdf_obj* names = pdf_dict_get(ctx, container, PDF_NAME(Names));
            if (!pdf_is_array(ctx, names))
                fz_throw(ctx, FZ_ERROR_GENERIC, "object %d no longer holds names", held->holder);
            const int at = std::min(2 * held->pair, pdf_array_len(ctx, names) / 2 * 2);
            if (!pdf_objcmp(ctx, pdf_array_get(ctx, names, at), held->key)) break;
            pdf_array_insert(ctx, names, held->value, at);
            pdf_array_insert(ctx, names, held->key, at);
            break;
        }
        const bool destination =
            pdf_name_eq(ctx, held->key, PDF_NAME(Dest)) || pdf_name_eq(ctx, held->key, PDF_NAME(A));
        if (destination ? pdf_dict_get(ctx, container, PDF_NAME(Dest)) || pdf_dict_get(ctx, container, PDF_NAME(A))
                        : pdf_dict_get(ctx, container, held->key) != nullptr)
            break;
        pdf_dict_put(ctx, container, held->key, held->value);
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
    fz_try(ctx) {
        pdf_obj* value = reboundC(ctx, doc, held->value, 0);
        pdf_drop_obj(ctx, held->value);
        held->value = value;
    }
    fz_catch(ctx) captureError(ctx, err);
}

// Whether the file's own bytes (the sections it was read from, not those
// its edits since made) hold object `num`.
int fileHoldsObjectC(pdf_document* doc, int num)
{
    for (int i = doc->num_incremental_sections; i < doc->num_xref_sections; ++i)
        for (pdf_xref_subsec* sub = doc->xref_sections[i].subsec; sub; sub = sub->next)
            if (num >= sub->start && num < sub->start + sub->len) {
                const char type = sub->table[num - sub->start].type;
                if (type == 'n' || type == 'o') return 1;
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

void holdReferences(PdfDocument::Impl& d, const std::vector<PdfPageId>& pages)
{
    if (pages.empty()) return;
    for (const PdfPageId& page : pages)
        if (std::find(d.pagesOut.begin(), d.pagesOut.end(), page) == d.pagesOut.end()) d.pagesOut.push_back(page);
    std::vector<std::int64_t> out;
    for (const PdfPageId& page : d.pagesOut) out.push_back(packedPage(page.object, page.generation));
    std::sort(out.begin(), out.end());
    std::vector<int> nums, gens;
    try {
        for (const PdfPageId& page : pageMap(d).ids)
            if (page) {
                nums.push_back(page.object);
                gens.push_back(page.generation);
            }
    } catch (const PdfError&) {
        // A tree that cannot be read has no marks to walk; the rest is walked.
    }
    ReferenceWalk walk;
    walk.out = out.data();
    walk.outCount = int(out.size());
    FzError err;
    holdReferencesC(pdfContext(), d.doc, nums.data(), gens.data(), int(nums.size()), &walk, &err);
    d.heldReferences.insert(d.heldReferences.end(), walk.held, walk.held + walk.count);
    fz_free(pdfContext(), walk.held);
    // What cannot be walked stays as it was: the page is out, and readers
    // pass over a destination they cannot follow.
    // Every save now asks whether an update keeps the pages out, on the
    // window's thread: whether the file is signed is learnt here, in the
    // edit that reads the pages anyway, once a document.
    signedDocument(d);
}

void giveReferencesBack(PdfDocument::Impl& d, const std::vector<PdfPageId>& pages)
{
    if (pages.empty()) return;
    std::erase_if(d.pagesOut,
                  [&](const PdfPageId& page) { return std::find(pages.begin(), pages.end(), page) != pages.end(); });
    std::vector<std::int64_t> in;
    for (const PdfPageId& page : pages) in.push_back(packedPage(page.object, page.generation));
    std::sort(in.begin(), in.end());
    fz_context* ctx = pdfContext();
    FzError failed;
    std::vector<HeldReference> kept;
    // The latest first: the pairs of a name tree go back in the order they left.
    for (auto it = d.heldReferences.rbegin(); it != d.heldReferences.rend(); ++it) {
        if (!std::binary_search(in.begin(), in.end(), packedPage(it->page, it->pageGeneration))) {
            kept.push_back(*it);
            continue;
        }
        FzError err;
        giveBackC(ctx, d.doc, &*it, &err);
        if (err.code && !failed.code) failed = err;
        pdf_drop_obj(ctx, it->value);
        pdf_drop_obj(ctx, it->key);
    }
    d.heldReferences.assign(kept.rbegin(), kept.rend());
    throwIfFailed(failed, PdfErrorCode::damaged);
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
    for (const HeldReference& held : d.heldReferences) {
        pdf_drop_obj(pdfContext(), held.value);
        pdf_drop_obj(pdfContext(), held.key);
    }
    d.heldReferences.clear();
}

bool removedPagesInFile(const PdfDocument::Impl& d)
{
    return std::any_of(d.pagesOut.begin(), d.pagesOut.end(),
                       [&](const PdfPageId& page) { return fileHoldsObjectC(d.doc, page.object) != 0; });
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
