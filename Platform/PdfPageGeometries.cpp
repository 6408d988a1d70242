#include "Platform/PdfPageGeometries.h"

#include "Platform/PdfInternal.h"

namespace platform {

namespace {

int pageCountC(fz_context* ctx, pdf_document* doc, FzError* err)
{
    int count = 0;
    fz_try(ctx) count = pdf_count_pages(ctx, doc);
    fz_catch(ctx) { captureError(ctx, err); count = 0; }
    return count;
}

// The same reading as a loaded page's: inherited boxes, the crop box within
// the media box, and MuPDF's page transform, all from the page object.
int pageObjectGeometryC(fz_context* ctx, pdf_document* doc, int index, fz_rect* media, fz_rect* crop, int* rotate,
                        fz_matrix* ctm)
{
    int ok = 1;
    fz_try(ctx) {
        pdf_obj* obj = pdf_lookup_page_obj(ctx, doc, index);
        *media = pdf_to_rect(ctx, pdf_dict_get_inheritable(ctx, obj, PDF_NAME(MediaBox)));
        if (fz_is_empty_rect(*media)) *media = fz_make_rect(0, 0, 612, 792);
        pdf_obj* cropObj = pdf_dict_get_inheritable(ctx, obj, PDF_NAME(CropBox));
        *crop = cropObj ? fz_intersect_rect(pdf_to_rect(ctx, cropObj), *media) : *media;
        *rotate = pdf_to_int(ctx, pdf_dict_get_inheritable(ctx, obj, PDF_NAME(Rotate)));
        pdf_page_obj_transform(ctx, obj, nullptr, ctm);
    }
    fz_catch(ctx) ok = 0;
    return ok;
}

} // namespace

std::vector<std::optional<PdfPageGeometry>> pageGeometries(const PdfDocument& document)
{
    std::vector<std::optional<PdfPageGeometry>> result;
    PdfDocument::Impl& d = document.impl();
    std::lock_guard lock(d.mutex);
    if (d.locked) return result;
    fz_context* ctx = pdfContext();
    FzError err;
    const int count = pageCountC(ctx, d.doc, &err);
    result.reserve(count);
    for (int i = 0; i < count; ++i) {
        fz_rect media, crop;
        int rotate = 0;
        fz_matrix ctm = fz_identity;
        if (!pageObjectGeometryC(ctx, d.doc, i, &media, &crop, &rotate, &ctm)) {
            result.emplace_back();
            continue;
        }
        PdfPageGeometry g;
        g.mediaBox = fromFz(media);
        g.cropBox = fromFz(crop);
        g.rotation = normalizedRotation(rotate);
        g.userToDisplay = fromFz(ctm);
        const PdfRect shown = g.userToDisplay.mapRect(g.cropBox.isEmpty() ? g.mediaBox : g.cropBox);
        g.displaySize = {shown.width, shown.height};
        result.emplace_back(g);
    }
    return result;
}

} // namespace platform
