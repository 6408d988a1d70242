#include "Platform/PdfImages.h"

#include "Platform/PdfInternal.h"

#include <cstring>
#include <mutex>
#include <set>

namespace platform::PdfImages {

namespace {

int xrefLengthC(fz_context* ctx, pdf_document* doc, FzError* err)
{
    int n = 0;
    fz_var(n);
    fz_try(ctx) n = pdf_xref_len(ctx, doc);
    fz_catch(ctx) { captureError(ctx, err); n = 0; }
    return n;
}

// The object numbers that some image names as its soft mask.
void softMasksC(fz_context* ctx, pdf_document* doc, int length, int* masks, FzError* err)
{
    pdf_obj* ref = nullptr;
    fz_var(ref);
    fz_try(ctx) {
        for (int num = 1; num < length; ++num) {
            ref = pdf_new_indirect(ctx, doc, num, 0);
            if (pdf_is_stream(ctx, ref)) {
                const int mask = pdf_to_num(ctx, pdf_dict_get(ctx, ref, PDF_NAME(SMask)));
                if (mask > 0 && mask < length) masks[mask] = 1;
            }
            pdf_drop_obj(ctx, ref);
            ref = nullptr;
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, ref);
    fz_catch(ctx) captureError(ctx, err);
}

// Fills `out` (width, height, stored bytes) and returns 1 when object `num`
// is an image a JPEG can replace.
int candidateC(fz_context* ctx, pdf_document* doc, int num, int* out, FzError* err)
{
    int ok = 0;
    pdf_obj* ref = nullptr;
    fz_var(ok);
    fz_var(ref);
    fz_try(ctx) {
        ref = pdf_new_indirect(ctx, doc, num, 0);
        if (pdf_is_stream(ctx, ref) && pdf_name_eq(ctx, pdf_dict_get(ctx, ref, PDF_NAME(Subtype)), PDF_NAME(Image)) &&
            !pdf_dict_get_bool(ctx, ref, PDF_NAME(ImageMask)) &&
            // A colour-key mask needs exact colours, which a JPEG loses; a
            // soft mask, when there is one, replaces it anyway.
            (!pdf_dict_get(ctx, ref, PDF_NAME(Mask)) || pdf_dict_get(ctx, ref, PDF_NAME(SMask))) &&
            !pdf_dict_get(ctx, ref, PDF_NAME(Decode)) && pdf_dict_get_int(ctx, ref, PDF_NAME(BitsPerComponent)) >= 8) {
            out[0] = pdf_dict_get_int(ctx, ref, PDF_NAME(Width));
            out[1] = pdf_dict_get_int(ctx, ref, PDF_NAME(Height));
            out[2] = pdf_dict_get_int(ctx, ref, PDF_NAME(Length));
            ok = out[0] > 0 && out[1] > 0;
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, ref);
    fz_catch(ctx) { captureError(ctx, err); ok = 0; }
    return ok;
}

fz_pixmap* decodeC(fz_context* ctx, pdf_document* doc, int num, FzError* err)
{
    pdf_obj* ref = nullptr;
    fz_image* image = nullptr;
    fz_pixmap* pix = nullptr;
    fz_pixmap* rgb = nullptr;
    fz_var(ref);
    fz_var(image);
    fz_var(pix);
    fz_var(rgb);
    fz_try(ctx) {
        ref = pdf_new_indirect(ctx, doc, num, 0);
        image = pdf_load_image(ctx, doc, ref);
        pix = fz_get_pixmap_from_image(ctx, image, nullptr, nullptr, nullptr, nullptr);
        rgb = fz_convert_pixmap(ctx, pix, fz_device_rgb(ctx), nullptr, nullptr, fz_default_color_params, 0);
    }
    fz_always(ctx) {
        fz_drop_pixmap(ctx, pix);
        fz_drop_image(ctx, image);
        pdf_drop_obj(ctx, ref);
    }
    fz_catch(ctx) {
        captureError(ctx, err);
        rgb = nullptr;
    }
    return rgb;
}

void replaceC(fz_context* ctx, pdf_document* doc, int num, const unsigned char* data, size_t size, int w, int h,
              FzError* err)
{
    pdf_obj* ref = nullptr;
    fz_buffer* buf = nullptr;
    fz_var(ref);
    fz_var(buf);
    fz_try(ctx) {
        ref = pdf_new_indirect(ctx, doc, num, 0);
        buf = fz_new_buffer_from_copied_data(ctx, data, size);
        pdf_update_stream(ctx, doc, ref, buf, 1);
        pdf_dict_put(ctx, ref, PDF_NAME(Filter), PDF_NAME(DCTDecode));
        pdf_dict_del(ctx, ref, PDF_NAME(DecodeParms));
        if (pdf_dict_get(ctx, ref, PDF_NAME(SMask))) pdf_dict_del(ctx, ref, PDF_NAME(Mask));
        pdf_dict_put_int(ctx, ref, PDF_NAME(Width), w);
        pdf_dict_put_int(ctx, ref, PDF_NAME(Height), h);
        pdf_dict_put(ctx, ref, PDF_NAME(ColorSpace), PDF_NAME(DeviceRGB));
        pdf_dict_put_int(ctx, ref, PDF_NAME(BitsPerComponent), 8);
    }
    fz_always(ctx) {
        fz_drop_buffer(ctx, buf);
        pdf_drop_obj(ctx, ref);
    }
    fz_catch(ctx) captureError(ctx, err);
}

void requireUnlocked(const PdfDocument::Impl& d)
{
    if (d.locked) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
}

} // namespace

std::vector<StoredImage> replaceable(const PdfDocument& doc)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    requireUnlocked(d);
    fz_context* ctx = pdfContext();
    FzError err;
    const int length = xrefLengthC(ctx, d.doc, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    std::vector<int> masks(size_t(std::max(length, 1)), 0);
    softMasksC(ctx, d.doc, length, masks.data(), &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    std::vector<StoredImage> out;
    for (int num = 1; num < length; ++num) {
        if (masks[size_t(num)]) continue;
        int info[3] = {};
        if (candidateC(ctx, d.doc, num, info, &err)) out.push_back({num, info[0], info[1], info[2]});
        err = {}; // an object that cannot be read is left alone
    }
    return out;
}

QImage decode(const PdfDocument& doc, int objectNumber)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    requireUnlocked(d);
    fz_context* ctx = pdfContext();
    FzError err;
    fz_pixmap* pix = decodeC(ctx, d.doc, objectNumber, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    const int w = fz_pixmap_width(ctx, pix), h = fz_pixmap_height(ctx, pix);
    const int stride = int(fz_pixmap_stride(ctx, pix));
    const unsigned char* samples = fz_pixmap_samples(ctx, pix);
    QImage image(w, h, QImage::Format_RGB888);
    if (!image.isNull())
        for (int y = 0; y < h; ++y) std::memcpy(image.scanLine(y), samples + size_t(y) * size_t(stride), size_t(w) * 3);
    fz_drop_pixmap(ctx, pix);
    if (image.isNull()) throw PdfError(PdfErrorCode::general, "the image is too large to decode");
    return image;
}

void replaceWithJpeg(PdfDocument& doc, int objectNumber, const QByteArray& jpeg, int width, int height)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    settleBeforeEditing(d);
    requireUnlocked(d);
    FzError err;
    replaceC(pdfContext(), d.doc, objectNumber, reinterpret_cast<const unsigned char*>(jpeg.constData()),
             size_t(jpeg.size()), width, height, &err);
    throwIfFailed(err);
}

} // namespace platform::PdfImages
