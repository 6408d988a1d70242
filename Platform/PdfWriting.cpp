#include "Platform/PdfWriting.h"

#include "Platform/PdfLayers.h"

#include <unordered_set>
#include <mutex>
#include <string>

namespace platform::PdfWriting {

namespace {

// Adds the page that `run` drew into `resources` and `contents` after the
// last page, with `group` (none: null) as its transparency group.
void addPageC(fz_context* ctx, pdf_document* doc, fz_rect box, pdf_obj* resources, fz_buffer* contents,
              pdf_obj* group = nullptr)
{
    pdf_obj* page = pdf_add_page(ctx, doc, box, 0, resources, contents);
    fz_try(ctx) {
        if (group) pdf_dict_put(ctx, page, PDF_NAME(Group), group);
        pdf_insert_page(ctx, doc, -1, page);
    }
    fz_always(ctx) pdf_drop_obj(ctx, page);
    fz_catch(ctx) fz_rethrow(ctx);
}

// Appends what a content stream holds to `buf`, as readers run it: one that
// cannot be decoded at all (a filter that cannot be set up) adds nothing,
// one that fails part way what was decoded of it before the failure.
void appendStreamC(fz_context* ctx, pdf_obj* stream, fz_buffer* buf)
{
    fz_stream* stm = nullptr;
    fz_buffer* part = nullptr;
    fz_var(stm);
    fz_var(part);
    fz_try(ctx) {
        stm = pdf_open_stream(ctx, stream);
        int truncated = 0;
        part = fz_read_best(ctx, stm, 0, &truncated, 0);
        fz_append_buffer(ctx, buf, part);
        fz_append_byte(ctx, buf, '\n');
    }
    fz_always(ctx) {
        fz_drop_buffer(ctx, part);
        fz_drop_stream(ctx, stm);
    }
    fz_catch(ctx) {
        const int caught = fz_caught(ctx);
        if (caught == FZ_ERROR_ABORT || caught == FZ_ERROR_MEMORY || caught == FZ_ERROR_TRYLATER) fz_rethrow(ctx);
    }
}

// Appends the page's content streams, one after the other, to `buf`: a
// stream that cannot be read leaves out only what it failed to give.
void appendContentsC(fz_context* ctx, pdf_obj* contents, fz_buffer* buf)
{
    const int n = pdf_is_array(ctx, contents) ? pdf_array_len(ctx, contents) : 1;
    for (int i = 0; i < n; ++i) {
        pdf_obj* stream = pdf_is_array(ctx, contents) ? pdf_array_get(ctx, contents, i) : contents;
        if (pdf_is_stream(ctx, stream)) appendStreamC(ctx, stream, buf);
    }
}

// The appearance an annotation shows, or none.
pdf_obj* normalAppearance(fz_context* ctx, pdf_obj* annot)
{
    pdf_obj* normal = pdf_dict_getp(ctx, annot, "AP/N");
    if (pdf_is_stream(ctx, normal)) return normal;
    if (!pdf_is_dict(ctx, normal)) return nullptr;
    pdf_obj* state = pdf_dict_get(ctx, normal, pdf_dict_get(ctx, annot, PDF_NAME(AS)));
    return pdf_is_stream(ctx, state) ? state : nullptr;
}

static_assert(pdfMarkHidden == PDF_ANNOT_IS_HIDDEN && pdfMarkPrint == PDF_ANNOT_IS_PRINT
              && pdfMarkNoView == PDF_ANNOT_IS_NO_VIEW);

bool isShown(fz_context* ctx, pdf_obj* annot, PdfMarkUse use)
{
    pdf_obj* subtype = pdf_dict_get(ctx, annot, PDF_NAME(Subtype));
    if (pdf_name_eq(ctx, subtype, PDF_NAME(Link)) || pdf_name_eq(ctx, subtype, PDF_NAME(Popup))) return false;
    return drawsMark(pdf_dict_get_int(ctx, annot, PDF_NAME(F)), use);
}

// The dictionary `dict` holds at `key` made its own: one it names as an
// object (which other copies may name too) becomes a direct copy of it.
pdf_obj* ownDictC(fz_context* ctx, pdf_obj* dict, pdf_obj* key)
{
    pdf_obj* value = pdf_dict_get(ctx, dict, key);
    if (!pdf_is_indirect(ctx, value)) return value;
    pdf_dict_put_drop(ctx, dict, key, pdf_copy_dict(ctx, pdf_resolve_indirect(ctx, value)));
    return pdf_dict_get(ctx, dict, key);
}

// Gives a form object grafted for an appearance the entries of the page's
// resources it lacks. Readers draw an appearance over the page: poppler looks
// a name its resources lack (a font, say) up in the page's, and MuPDF takes
// the page's when it has none. Drawn from the new page, whose resources hold
// only the forms, it would find nothing there. The form's resources, which
// other forms and pages share through the graft, take the entries into
// copies of their own.
void inheritPageResourcesC(fz_context* ctx, pdf_obj* form, pdf_obj* pageResources)
{
    pdf_obj* own = pdf_dict_get(ctx, form, PDF_NAME(Resources));
    if (!pdf_is_dict(ctx, own)) {
        pdf_dict_put(ctx, form, PDF_NAME(Resources), pageResources);
        return;
    }
    if (pdf_resolve_indirect(ctx, own) == pdf_resolve_indirect(ctx, pageResources)) return;
    for (int i = 0, n = pdf_dict_len(ctx, pageResources); i < n; ++i) {
        pdf_obj* key = pdf_dict_get_key(ctx, pageResources, i);
        pdf_obj* theirs = pdf_dict_get_val(ctx, pageResources, i);
        pdf_obj* mine = pdf_dict_get(ctx, own, key);
        if (!mine) {
            own = ownDictC(ctx, form, PDF_NAME(Resources));
            pdf_dict_put(ctx, own, key, theirs);
            continue;
        }
        if (!pdf_is_dict(ctx, mine) || !pdf_is_dict(ctx, theirs)
            || pdf_resolve_indirect(ctx, mine) == pdf_resolve_indirect(ctx, theirs))
            continue;
        for (int j = 0, m = pdf_dict_len(ctx, theirs); j < m; ++j) {
            pdf_obj* name = pdf_dict_get_key(ctx, theirs, j);
            if (pdf_dict_get(ctx, mine, name)) continue;
            own = ownDictC(ctx, form, PDF_NAME(Resources));
            mine = ownDictC(ctx, own, key);
            pdf_dict_put(ctx, mine, name, pdf_dict_get_val(ctx, theirs, j));
        }
    }
}

// A stream of `dst` of its own for `stream`: its stored bytes in their own
// encoding, under a dictionary whose entries come through the graft's map,
// so that what it uses is copied once however many pages draw it, and what
// is done to this copy is done to it alone.
pdf_obj* ownStreamCopyC(fz_context* ctx, pdf_graft_map* map, pdf_document* dst, pdf_obj* stream)
{
    pdf_obj* dict = pdf_new_dict(ctx, dst, pdf_dict_len(ctx, stream));
    fz_buffer* bytes = nullptr;
    pdf_obj* copy = nullptr;
    fz_var(bytes);
    fz_try(ctx) {
        for (int i = 0, n = pdf_dict_len(ctx, stream); i < n; ++i) {
            pdf_obj* key = pdf_dict_get_key(ctx, stream, i);
            if (pdf_name_eq(ctx, key, PDF_NAME(Length))) continue;
            pdf_dict_put_drop(ctx, dict, key, pdf_graft_mapped_object(ctx, map, pdf_dict_get_val(ctx, stream, i)));
        }
        bytes = pdf_load_raw_stream(ctx, stream);
        copy = pdf_add_stream(ctx, dst, bytes, dict, 1);
    }
    fz_always(ctx) {
        fz_drop_buffer(ctx, bytes);
        pdf_drop_obj(ctx, dict);
    }
    fz_catch(ctx) fz_rethrow(ctx);
    return copy;
}

// The widgets of a page that show a drawing made for the screen alone
// (drawnForScreenC), by object number, into `drawn`: the window shows that
// drawing, and so does a flattened copy, in place of the one the file holds.
// One that cannot be judged shows the file's.
void drawnForScreenOnlyC(fz_context* ctx, pdf_page* page, std::unordered_set<int>* drawn)
{
    for (pdf_annot* w = pdf_first_widget(ctx, page); w; w = pdf_next_widget(ctx, w)) {
        int screen = 0;
        fz_var(screen);
        fz_try(ctx) screen = drawnForScreenC(ctx, w);
        fz_catch(ctx) screen = 0;
        if (screen) drawn->insert(pdf_to_num(ctx, pdf_annot_obj(ctx, w)));
    }
}

// Draws the appearance of each shown annotation of `page` as a form object
// named "Mark<i>", mapped onto the annotation's rectangle as readers do; one
// that belongs to a layer (/OC) is drawn as content of that layer, named
// "MarkLayer<i>" among the new page's `resources`. `pageResources` are the
// page's own, grafted with `map`. The widgets `forScreen` names are left to
// appendDrawnMarksC. Each form is the page's own copy of the appearance,
// which takes the page's resources.
void appendMarksC(fz_context* ctx, pdf_graft_map* map, pdf_document* dst, pdf_obj* page, PdfMarkUse use,
                  pdf_obj* pageResources, pdf_obj* resources, pdf_obj* xobjects, fz_buffer* contents,
                  const std::unordered_set<int>& forScreen)
{
    pdf_obj* annots = pdf_dict_get(ctx, page, PDF_NAME(Annots));
    const int n = pdf_array_len(ctx, annots);
    for (int i = 0; i < n; ++i) {
        pdf_obj* annot = pdf_array_get(ctx, annots, i);
        if (!pdf_is_dict(ctx, annot) || !isShown(ctx, annot, use)) continue;
        if (forScreen.count(pdf_to_num(ctx, annot))) continue;
        pdf_obj* ap = normalAppearance(ctx, annot);
        if (!ap) continue;
        const fz_rect rect = pdf_dict_get_rect(ctx, annot, PDF_NAME(Rect));
        const fz_rect box = fz_transform_rect(pdf_xobject_bbox(ctx, ap), pdf_xobject_matrix(ctx, ap));
        const float bw = box.x1 - box.x0, bh = box.y1 - box.y0;
        if (!(bw > 0) || !(bh > 0) || fz_is_empty_rect(rect)) continue;
        const float sx = (rect.x1 - rect.x0) / bw, sy = (rect.y1 - rect.y0) / bh;
        char name[32];
        fz_snprintf(name, sizeof name, "Mark%d", i);
        pdf_dict_puts_drop(ctx, xobjects, name, ownStreamCopyC(ctx, map, dst, ap));
        // An appearance is drawn as a form whatever its subtype says; drawn
        // with Do, it is one only with the subtype, in poppler and MuPDF
        // alike. The copy gets it: the source stays as it is.
        pdf_obj* copy = pdf_dict_gets(ctx, xobjects, name);
        if (!pdf_name_eq(ctx, pdf_dict_get(ctx, copy, PDF_NAME(Subtype)), PDF_NAME(Form))) {
            pdf_dict_put(ctx, copy, PDF_NAME(Type), PDF_NAME(XObject));
            pdf_dict_put(ctx, copy, PDF_NAME(Subtype), PDF_NAME(Form));
        }
        inheritPageResourcesC(ctx, copy, pageResources);
        pdf_obj* layer = pdf_dict_get(ctx, annot, PDF_NAME(OC));
        if (pdf_is_dict(ctx, layer)) {
            pdf_obj* properties = pdf_dict_get(ctx, resources, PDF_NAME(Properties));
            if (!pdf_is_dict(ctx, properties)) properties = pdf_dict_put_dict(ctx, resources, PDF_NAME(Properties), 4);
            fz_snprintf(name, sizeof name, "MarkLayer%d", i);
            pdf_dict_puts_drop(ctx, properties, name, pdf_graft_mapped_object(ctx, map, layer));
            fz_append_printf(ctx, contents, "/OC /%s BDC ", name);
            fz_snprintf(name, sizeof name, "Mark%d", i);
        }
        fz_append_printf(ctx, contents, "q %g 0 0 %g %g %g cm /%s Do Q\n", sx, sy, rect.x0 - box.x0 * sx,
                         rect.y0 - box.y0 * sy, name);
        if (pdf_is_dict(ctx, layer)) fz_append_string(ctx, contents, "EMC\n");
    }
}

// Runs an annotation the rule shows into `dev`. MuPDF runs one as the
// screen shows it: one flagged NoView it neither draws nor gives an
// appearance. Such a mark, when printed, has the flag cleared while MuPDF
// makes its appearance (which the source keeps) and runs it, then put back.
void runAsShownC(fz_context* ctx, pdf_annot* annot, fz_device* dev, fz_matrix ctm)
{
    pdf_obj* obj = pdf_annot_obj(ctx, annot);
    const int flags = pdf_dict_get_int(ctx, obj, PDF_NAME(F));
    if (!(flags & PDF_ANNOT_IS_NO_VIEW)) {
        pdf_run_annot(ctx, annot, dev, ctm, nullptr);
        return;
    }
    pdf_dict_put_int(ctx, obj, PDF_NAME(F), flags & ~PDF_ANNOT_IS_NO_VIEW);
    fz_try(ctx) {
        pdf_annot_request_resynthesis(ctx, annot);
        updateAnnotC(ctx, annot);
        pdf_run_annot(ctx, annot, dev, ctm, nullptr);
    }
    fz_always(ctx) pdf_dict_put_int(ctx, obj, PDF_NAME(F), flags);
    fz_catch(ctx) fz_rethrow(ctx);
}

// Draws the shown annotations and widgets of `page` that have no appearance
// in the document as MuPDF makes one for them, and the widgets `forScreen`
// names as the screen shows them, into `contents`.
void appendDrawnMarksC(fz_context* ctx, pdf_document* dst, pdf_page* page, PdfMarkUse use, fz_matrix ctm,
                       pdf_obj* resources, fz_buffer* contents, const std::unordered_set<int>& forScreen)
{
    fz_device* dev = nullptr;
    fz_var(dev);
    fz_try(ctx) {
        for (int widgets = 0; widgets < 2; ++widgets)
            for (pdf_annot* a = widgets ? pdf_first_widget(ctx, page) : pdf_first_annot(ctx, page); a;
                 a = widgets ? pdf_next_widget(ctx, a) : pdf_next_annot(ctx, a)) {
                pdf_obj* obj = pdf_annot_obj(ctx, a);
                if (!isShown(ctx, obj, use) || (normalAppearance(ctx, obj) && !forScreen.count(pdf_to_num(ctx, obj))))
                    continue;
                if (!dev) {
                    // MuPDF's PDF writer takes white for the colours it starts
                    // with, and leaves out a first white fill or stroke: a
                    // note without a colour of its own would be a black box.
                    fz_append_string(ctx, contents, "q 1 g 1 G\n");
                    dev = pdf_new_pdf_device(ctx, dst, fz_identity, resources, contents);
                }
                runAsShownC(ctx, a, dev, ctm);
            }
        if (dev) {
            fz_close_device(ctx, dev);
            fz_append_string(ctx, contents, "Q\n");
        }
    }
    fz_always(ctx) fz_drop_device(ctx, dev);
    fz_catch(ctx) fz_rethrow(ctx);
}

// The graft every page of a flattened copy goes through: what the pages
// share is copied once. `relinked`: the objects before it name the
// document's copy of each layer.
struct FlattenedGraft {
    LayerGraft layers;
    int begun = 0;
    int relinked = 0;
};

void flattenedPageC(fz_context* ctx, pdf_document* dst, pdf_document* src, pdf_page* srcPage, int index, PdfMarkUse use,
                    fz_matrix m, fz_matrix deviceCtm, float w, float h, const std::unordered_set<int>* forScreen,
                    FlattenedGraft* graft, FzError* err)
{
    fz_buffer* pageContents = nullptr;
    fz_buffer* contents = nullptr;
    pdf_obj* pageResources = nullptr;
    pdf_obj* form = nullptr;
    pdf_obj* pageGroup = nullptr;
    pdf_obj* resources = nullptr;
    fz_var(pageContents);
    fz_var(contents);
    fz_var(pageResources);
    fz_var(form);
    fz_var(pageGroup);
    fz_var(resources);
    fz_try(ctx) {
        // The pages' layers are the document's: their settings come along
        // once, and each page's content names the one copy of each.
        if (!graft->begun) {
            beginLayerGraftC(ctx, dst, src, &graft->layers);
            graft->begun = 1;
            graft->relinked = pdf_xref_len(ctx, dst);
        }
        pdf_graft_map* map = graft->layers.map;
        pdf_obj* page = pdf_lookup_page_obj(ctx, src, index);
        fz_rect media = pdf_to_rect(ctx, pdf_dict_get_inheritable(ctx, page, PDF_NAME(MediaBox)));
        if (fz_is_empty_rect(media)) media = fz_make_rect(0, 0, 612, 792);

        // The page's own content, with its resources, as one form object.
        pageContents = fz_new_buffer(ctx, 4096);
        appendContentsC(ctx, pdf_dict_get(ctx, page, PDF_NAME(Contents)), pageContents);
        pdf_obj* sourceResources = pdf_dict_get_inheritable(ctx, page, PDF_NAME(Resources));
        pageResources =
            sourceResources ? pdf_graft_mapped_object(ctx, map, sourceResources) : pdf_new_dict(ctx, dst, 1);
        form = pdf_new_xobject(ctx, dst, media, fz_identity, pageResources, pageContents);
        // The page's transparency group is the new page's: on the form, it
        // would draw the content apart first, which readers draw otherwise
        // (a thin rule beside a soft-masked picture).
        if (pdf_obj* group = pdf_dict_get(ctx, page, PDF_NAME(Group)))
            pageGroup = pdf_graft_mapped_object(ctx, map, group);

        resources = pdf_new_dict(ctx, dst, 1);
        pdf_obj* xobjects = pdf_dict_put_dict(ctx, resources, PDF_NAME(XObject), 4);
        pdf_dict_puts(ctx, xobjects, "Page", form);
        contents = fz_new_buffer(ctx, 256);
        fz_append_printf(ctx, contents, "q %g %g %g %g %g %g cm /Page Do\n", m.a, m.b, m.c, m.d, m.e, m.f);
        appendMarksC(ctx, map, dst, page, use, pageResources, resources, xobjects, contents, *forScreen);
        fz_append_string(ctx, contents, "Q\n");
        appendDrawnMarksC(ctx, dst, srcPage, use, deviceCtm, resources, contents, *forScreen);
        addPageC(ctx, dst, fz_make_rect(0, 0, w, h), resources, contents, pageGroup);
        // What this page (or one that failed before it) made names the
        // document's layers; later pages reuse it as it is.
        relinkLayersSinceC(ctx, dst, graft->layers, graft->relinked);
        graft->relinked = pdf_xref_len(ctx, dst);
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, resources);
        pdf_drop_obj(ctx, pageGroup);
        pdf_drop_obj(ctx, form);
        pdf_drop_obj(ctx, pageResources);
        fz_drop_buffer(ctx, contents);
        fz_drop_buffer(ctx, pageContents);
    }
    fz_catch(ctx) captureError(ctx, err);
}

// Once no page is to come: the graft's own copies of the layers, which
// nothing names, go with it. Never throws.
void endFlattenedGraftC(fz_context* ctx, pdf_document* dst, FlattenedGraft* graft)
{
    fz_try(ctx) {
        if (graft->begun) dropPageCopiesC(ctx, dst, graft->layers);
    }
    fz_catch(ctx) {} // left for the save's garbage collection
    dropLayerGraftC(ctx, &graft->layers);
}

void imagePageC(fz_context* ctx, pdf_document* dst, unsigned char* rgb, int w, int h, int stride, float pw, float ph,
                FzError* err)
{
    fz_pixmap* pix = nullptr;
    fz_image* image = nullptr;
    fz_device* dev = nullptr;
    pdf_obj* resources = nullptr;
    fz_buffer* contents = nullptr;
    fz_var(pix);
    fz_var(image);
    fz_var(dev);
    fz_var(resources);
    fz_var(contents);
    fz_try(ctx) {
        pix = fz_new_pixmap_with_data(ctx, fz_device_rgb(ctx), w, h, nullptr, 0, stride, rgb);
        image = fz_new_image_from_pixmap(ctx, pix, nullptr);
        const fz_rect box = fz_make_rect(0, 0, pw, ph);
        dev = pdf_page_write(ctx, dst, box, &resources, &contents);
        fz_fill_image(ctx, dev, image, fz_make_matrix(pw, 0, 0, ph, 0, 0), 1, fz_default_color_params);
        fz_close_device(ctx, dev);
        addPageC(ctx, dst, box, resources, contents);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        pdf_drop_obj(ctx, resources);
        fz_drop_buffer(ctx, contents);
        fz_drop_image(ctx, image);
        fz_drop_pixmap(ctx, pix);
    }
    fz_catch(ctx) captureError(ctx, err);
}

bool isMark(fz_context* ctx, pdf_obj* annot)
{
    if (!pdf_is_dict(ctx, annot)) return false;
    pdf_obj* subtype = pdf_dict_get(ctx, annot, PDF_NAME(Subtype));
    return !pdf_name_eq(ctx, subtype, PDF_NAME(Link)) && !pdf_name_eq(ctx, subtype, PDF_NAME(Widget))
           && !pdf_name_eq(ctx, subtype, PDF_NAME(Popup));
}

// A field of the source and its copy, as the copies of its widgets meet it.
struct FieldCopy {
    int source;
    pdf_obj* copy; // held
};

struct FieldCopies {
    FieldCopy* items = nullptr;
    int count = 0, capacity = 0;
};

void dropFieldCopies(fz_context* ctx, FieldCopies* copies)
{
    for (int i = 0; i < copies->count; ++i) pdf_drop_obj(ctx, copies->items[i].copy);
    fz_free(ctx, copies->items);
    *copies = FieldCopies{};
}

// A new dictionary of `dst` holding the entries of `from` but the ones
// named in `left` (each a name) and those that lead to pages.
pdf_obj* copyEntriesC(fz_context* ctx, pdf_graft_map* map, pdf_document* dst, pdf_obj* from, pdf_obj** left,
                      int leftCount)
{
    pdf_obj* copy = pdf_add_new_dict(ctx, dst, pdf_dict_len(ctx, from));
    fz_try(ctx) {
        for (int k = 0, n = pdf_dict_len(ctx, from); k < n; ++k) {
            pdf_obj* key = pdf_dict_get_key(ctx, from, k);
            pdf_obj* value = pdf_dict_get_val(ctx, from, k);
            int skip = 0;
            for (int i = 0; i < leftCount && !skip; ++i) skip = pdf_name_eq(ctx, key, left[i]);
            if (skip || leadsToPagesC(ctx, value)) continue;
            pdf_dict_put_drop(ctx, copy, key, pdf_graft_mapped_object(ctx, map, value));
        }
    }
    fz_catch(ctx) {
        pdf_drop_obj(ctx, copy);
        fz_rethrow(ctx);
    }
    return copy;
}

// Copies one annotation onto `page` of `dst`, leaving out the keys that point
// at the source's page and at other annotations, and whatever leads to
// other pages (an action's destination): grafting those would drag the
// source page and, through its parent, the whole source document along.
void copyMarkC(fz_context* ctx, pdf_graft_map* map, pdf_document* dst, pdf_obj* page, pdf_obj* annot)
{
    pdf_obj* left[] = {PDF_NAME(P), PDF_NAME(Popup), PDF_NAME(Parent), PDF_NAME(IRT)};
    pdf_obj* copy = copyEntriesC(ctx, map, dst, annot, left, 4);
    fz_try(ctx) {
        pdf_dict_put(ctx, copy, PDF_NAME(P), page);
        pdf_obj* annots = pdf_dict_get(ctx, page, PDF_NAME(Annots));
        if (!pdf_is_array(ctx, annots)) annots = pdf_dict_put_array(ctx, page, PDF_NAME(Annots), 4);
        pdf_array_push(ctx, annots, copy);
    }
    fz_always(ctx) pdf_drop_obj(ctx, copy);
    fz_catch(ctx) fz_rethrow(ctx);
}

// The copy of source field `field`, made on first need with an empty /Kids
// and no parent; `*made` tells whether it was made now.
pdf_obj* fieldCopyC(fz_context* ctx, pdf_graft_map* map, pdf_document* dst, pdf_obj* field, FieldCopies* copies,
                    int* made)
{
    const int num = pdf_to_num(ctx, field);
    *made = 0;
    for (int i = 0; i < copies->count; ++i)
        if (copies->items[i].source == num) return copies->items[i].copy;
    pdf_obj* left[] = {PDF_NAME(Kids), PDF_NAME(Parent), PDF_NAME(P)};
    pdf_obj* copy = copyEntriesC(ctx, map, dst, field, left, 3);
    fz_try(ctx) {
        pdf_dict_put_array(ctx, copy, PDF_NAME(Kids), 2);
        if (copies->count == copies->capacity) {
            const int capacity = copies->capacity ? 2 * copies->capacity : 8;
            copies->items =
                static_cast<FieldCopy*>(fz_realloc(ctx, copies->items, sizeof(FieldCopy) * size_t(capacity)));
            copies->capacity = capacity;
        }
    }
    fz_catch(ctx) {
        pdf_drop_obj(ctx, copy);
        fz_rethrow(ctx);
    }
    copies->items[copies->count++] = FieldCopy{num, copy};
    *made = 1;
    return copy;
}

// The form of `dst`, made on first need with the defaults of the source's
// form (fonts, default appearance, alignment, the request to draw fields).
pdf_obj* formOfC(fz_context* ctx, pdf_graft_map* map, pdf_document* dst, pdf_document* src)
{
    pdf_obj* root = pdf_dict_get(ctx, pdf_trailer(ctx, dst), PDF_NAME(Root));
    pdf_obj* form = pdf_dict_get(ctx, root, PDF_NAME(AcroForm));
    if (pdf_is_dict(ctx, form)) return form;
    form = pdf_dict_put_dict(ctx, root, PDF_NAME(AcroForm), 4);
    pdf_dict_put_array(ctx, form, PDF_NAME(Fields), 4);
    pdf_obj* source = pdf_dict_getp(ctx, pdf_trailer(ctx, src), "Root/AcroForm");
    const char* const kept[] = {"DA", "DR", "Q", "NeedAppearances"};
    for (const char* key : kept)
        if (pdf_obj* value = pdf_dict_gets(ctx, source, key))
            pdf_dict_puts_drop(ctx, form, key, pdf_graft_mapped_object(ctx, map, value));
    return form;
}

// Copies one widget onto `page` of `dst` as a widget of a field of dst's
// form: the field and the fields above it are copied once each, with only
// the kids that come along, so that a field keeps its value and the widgets
// it has on the pages copied, and nothing of the pages left behind.
void copyFieldC(fz_context* ctx, pdf_graft_map* map, pdf_document* dst, pdf_document* src, pdf_obj* page,
                pdf_obj* widget, FieldCopies* copies)
{
    pdf_obj* left[] = {PDF_NAME(P), PDF_NAME(Parent), PDF_NAME(Popup), PDF_NAME(IRT)};
    pdf_obj* copy = copyEntriesC(ctx, map, dst, widget, left, 4);
    fz_try(ctx) {
        pdf_dict_put(ctx, copy, PDF_NAME(P), page);
        pdf_obj* annots = pdf_dict_get(ctx, page, PDF_NAME(Annots));
        if (!pdf_is_array(ctx, annots)) annots = pdf_dict_put_array(ctx, page, PDF_NAME(Annots), 4);
        pdf_array_push(ctx, annots, copy);
        pdf_obj* fields = pdf_dict_get(ctx, formOfC(ctx, map, dst, src), PDF_NAME(Fields));
        pdf_obj* child = copy;
        pdf_obj* at = widget;
        // Bounded: a damaged file may make its parents a cycle.
        for (int depth = 0; depth < 32; ++depth) {
            pdf_obj* parent = pdf_dict_get(ctx, at, PDF_NAME(Parent));
            if (!pdf_is_dict(ctx, parent)) {
                pdf_array_push(ctx, fields, child);
                break;
            }
            int made = 0;
            pdf_obj* parentCopy = fieldCopyC(ctx, map, dst, parent, copies, &made);
            pdf_dict_put(ctx, child, PDF_NAME(Parent), parentCopy);
            pdf_array_push(ctx, pdf_dict_get(ctx, parentCopy, PDF_NAME(Kids)), child);
            if (!made) break; // the rest of the way up was made with it
            child = parentCopy;
            at = parent;
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, copy);
    fz_catch(ctx) fz_rethrow(ctx);
}

bool isWidget(fz_context* ctx, pdf_obj* annot)
{
    return pdf_is_dict(ctx, annot) && pdf_name_eq(ctx, pdf_dict_get(ctx, annot, PDF_NAME(Subtype)), PDF_NAME(Widget));
}

// A signature's widget: its signature covers the bytes of the source file
// and would not hold in a copy.
bool isSignatureWidget(fz_context* ctx, pdf_obj* annot)
{
    return isWidget(ctx, annot) && pdf_name_eq(ctx, pdf_dict_get_inheritable(ctx, annot, PDF_NAME(FT)), PDF_NAME(Sig));
}

// Counts in `signaturesLeft` the signature widgets that stay behind.
void copyPagesC(fz_context* ctx, pdf_document* dst, pdf_document* src, const int* pages, int count, int* signaturesLeft,
                FzError* err)
{
    LayerGraft graft;
    FieldCopies fields;
    fz_var(graft);
    fz_var(fields);
    fz_try(ctx) {
        // The pages' layers, and the settings that show or hide them, come
        // along, one copy of each however many pages name it.
        beginLayerGraftC(ctx, dst, src, &graft);
        pdf_graft_map* map = graft.map;
        for (int i = 0; i < count; ++i) {
            pdf_graft_mapped_page(ctx, map, -1, src, pages[i]);
            pdf_obj* page = pdf_lookup_page_obj(ctx, dst, pdf_count_pages(ctx, dst) - 1);
            pdf_obj* annots = pdf_dict_get(ctx, pdf_lookup_page_obj(ctx, src, pages[i]), PDF_NAME(Annots));
            const int n = pdf_array_len(ctx, annots);
            for (int j = 0; j < n; ++j) {
                pdf_obj* annot = pdf_array_get(ctx, annots, j);
                if (isMark(ctx, annot)) copyMarkC(ctx, map, dst, page, annot);
                else if (isSignatureWidget(ctx, annot)) ++*signaturesLeft;
                else if (isWidget(ctx, annot)) copyFieldC(ctx, map, dst, src, page, annot, &fields);
            }
        }
        endLayerGraftC(ctx, dst, graft);
    }
    fz_always(ctx) {
        dropFieldCopies(ctx, &fields);
        dropLayerGraftC(ctx, &graft);
    }
    fz_catch(ctx) captureError(ctx, err);
}

// Wraps the page's content in q … Q, then adds `text` with the font
// "RavlenOcr" (Helvetica) in the page's resources.
void invisibleTextC(fz_context* ctx, pdf_document* doc, pdf_page* page, const char* text, size_t length, FzError* err)
{
    fz_buffer* open = nullptr;
    fz_buffer* close = nullptr;
    fz_buffer* body = nullptr;
    pdf_obj* font = nullptr;
    pdf_obj* contents = nullptr;
    fz_var(open);
    fz_var(close);
    fz_var(body);
    fz_var(font);
    fz_var(contents);
    fz_try(ctx) {
        pdf_obj* obj = page->obj;
        pdf_obj* resources = pdf_dict_get_inheritable(ctx, obj, PDF_NAME(Resources));
        if (!pdf_is_dict(ctx, resources)) resources = pdf_dict_put_dict(ctx, obj, PDF_NAME(Resources), 1);
        pdf_obj* fonts = pdf_dict_get(ctx, resources, PDF_NAME(Font));
        if (!pdf_is_dict(ctx, fonts)) fonts = pdf_dict_put_dict(ctx, resources, PDF_NAME(Font), 1);
        font = pdf_new_dict(ctx, doc, 4);
        pdf_dict_put(ctx, font, PDF_NAME(Type), PDF_NAME(Font));
        pdf_dict_put(ctx, font, PDF_NAME(Subtype), PDF_NAME(Type1));
        pdf_dict_put_name(ctx, font, PDF_NAME(BaseFont), "Helvetica");
        pdf_dict_put(ctx, font, PDF_NAME(Encoding), PDF_NAME(WinAnsiEncoding));
        pdf_dict_puts(ctx, fonts, "RavlenOcr", font);

        open = fz_new_buffer_from_copied_data(ctx, reinterpret_cast<const unsigned char*>("q\n"), 2);
        close = fz_new_buffer_from_copied_data(ctx, reinterpret_cast<const unsigned char*>("\nQ\n"), 3);
        body = fz_new_buffer_from_copied_data(ctx, reinterpret_cast<const unsigned char*>(text), length);
        pdf_obj* old = pdf_dict_get(ctx, obj, PDF_NAME(Contents));
        contents = pdf_new_array(ctx, doc, 4);
        pdf_array_push_drop(ctx, contents, pdf_add_stream(ctx, doc, open, nullptr, 0));
        if (pdf_is_array(ctx, old)) {
            for (int i = 0, n = pdf_array_len(ctx, old); i < n; ++i)
                pdf_array_push(ctx, contents, pdf_array_get(ctx, old, i));
        } else if (old) {
            pdf_array_push(ctx, contents, old);
        }
        pdf_array_push_drop(ctx, contents, pdf_add_stream(ctx, doc, close, nullptr, 0));
        pdf_array_push_drop(ctx, contents, pdf_add_stream(ctx, doc, body, nullptr, 0));
        pdf_dict_put(ctx, obj, PDF_NAME(Contents), contents);
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, contents);
        pdf_drop_obj(ctx, font);
        fz_drop_buffer(ctx, body);
        fz_drop_buffer(ctx, close);
        fz_drop_buffer(ctx, open);
    }
    fz_catch(ctx) captureError(ctx, err);
}

} // namespace

struct FlattenedCopy::Graft : FlattenedGraft {};

FlattenedCopy::FlattenedCopy(PdfDocument& target, const PdfDocument& source)
    : target_(target), source_(source), graft_(std::make_unique<Graft>())
{
    if (&target == &source) throw PdfError(PdfErrorCode::general, "a page cannot be flattened into its own document");
}

FlattenedCopy::~FlattenedCopy()
{
    std::lock_guard lock(target_.impl().mutex);
    endFlattenedGraftC(pdfContext(), target_.impl().doc, graft_.get());
}

void FlattenedCopy::appendPage(int index, const PdfMatrix& userToPage, PdfSize size, PdfMarkUse use)
{
    std::scoped_lock lock(target_.impl().mutex, source_.impl().mutex);
    settleBeforeEditing(target_.impl());
    if (target_.impl().locked || source_.impl().locked)
        throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    if (index < 0 || index >= source_.pageCount())
        throw PdfError(PdfErrorCode::pageOutOfRange, "page " + std::to_string(index + 1) + " does not exist");
    // The new page's space has y up from its bottom edge.
    const PdfMatrix toPage = userToPage.then({1, 0, 0, -1, 0, size.height});
    PageRef page = loadPage(source_.impl(), index);
    // MuPDF draws from its page space: undo the page's own transform first.
    // The device then writes in the new page's own space, which keeps the
    // boxes of the groups it makes in the space of their contents.
    const PdfMatrix deviceCtm = pageTransform(page.page).inverted().then(toPage);
    FzError err;
    inheritOrigins(target_.impl(), source_.impl());
    std::unordered_set<int> forScreen;
    drawnForScreenOnlyC(pdfContext(), page.page, &forScreen);
    flattenedPageC(pdfContext(), target_.impl().doc, source_.impl().doc, page.page, index, use, toFz(toPage),
                   toFz(deviceCtm), float(size.width), float(size.height), &forScreen, graft_.get(), &err);
    pageTreeChanged(target_.impl());
    throwIfFailed(err, PdfErrorCode::damaged);
}

void appendImagePage(PdfDocument& target, const QImage& image, PdfSize size)
{
    if (image.isNull()) throw PdfError(PdfErrorCode::general, "no image for the page");
    QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull()) throw PdfError(PdfErrorCode::general, "the page image could not be converted");
    std::lock_guard lock(target.impl().mutex);
    settleBeforeEditing(target.impl());
    if (target.impl().locked) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    FzError err;
    imagePageC(pdfContext(), target.impl().doc, rgb.bits(), rgb.width(), rgb.height(), int(rgb.bytesPerLine()),
               float(size.width), float(size.height), &err);
    pageTreeChanged(target.impl());
    throwIfFailed(err);
}

int appendPagesWithMarks(PdfDocument& target, const PdfDocument& source, const std::vector<int>& pages)
{
    if (&target == &source) {
        const auto snapshot = source.copy();
        return appendPagesWithMarks(target, *snapshot, pages);
    }
    std::scoped_lock lock(target.impl().mutex, source.impl().mutex);
    settleBeforeEditing(target.impl());
    if (target.impl().locked || source.impl().locked)
        throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    const int count = source.pageCount();
    for (int p : pages)
        if (p < 0 || p >= count)
            throw PdfError(PdfErrorCode::pageOutOfRange, "page " + std::to_string(p + 1) + " does not exist");
    if (pages.empty()) return 0;
    FzError err;
    int signaturesLeft = 0;
    inheritOrigins(target.impl(), source.impl());
    copyPagesC(pdfContext(), target.impl().doc, source.impl().doc, pages.data(), int(pages.size()), &signaturesLeft,
               &err);
    pageTreeChanged(target.impl());
    throwIfFailed(err, PdfErrorCode::damaged);
    return signaturesLeft;
}

} // namespace platform::PdfWriting

namespace platform::PdfWriting {

void appendInvisibleText(PdfDocument& doc, int page, const std::vector<PdfTextRun>& runs)
{
    if (runs.empty()) return;
    // Content with the locale-proof number format of MuPDF's own printf.
    QByteArray text = "BT 3 Tr /RavlenOcr 1 Tf\n";
    char number[32];
    for (const PdfTextRun& run : runs) {
        const PdfMatrix& m = run.textToUser;
        for (double v : {m.a, m.b, m.c, m.d, m.e, m.f}) {
            fz_snprintf(number, sizeof number, "%g ", float(v));
            text += number;
        }
        text += "Tm <";
        const QByteArray latin1 = QString::fromStdString(run.utf8).toLatin1();
        text += latin1.toHex();
        text += "> Tj\n";
    }
    text += "ET\n";
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    settleBeforeEditing(d);
    PageRef p = loadPage(d, page);
    FzError err;
    invisibleTextC(pdfContext(), d.doc, p.page, text.constData(), size_t(text.size()), &err);
    throwIfFailed(err);
}

} // namespace platform::PdfWriting
