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
    fz_catch(ctx) {
        captureError(ctx, err);
        n = 0;
    }
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

// The number of components a JPEG needs to hold pixels of colour space `cs`
// without converting them: 1, 3 or 4 for grey, RGB and CMYK (device,
// calibrated or ICC-based); an indexed space's base stands for it. 0 for any
// other space (Lab, separations, DeviceN) and for none.
int jpegComponentsC(fz_context* ctx, pdf_obj* cs, int inIndexed)
{
    if (pdf_name_eq(ctx, cs, PDF_NAME(DeviceGray))) return 1;
    if (pdf_name_eq(ctx, cs, PDF_NAME(DeviceRGB))) return 3;
    if (pdf_name_eq(ctx, cs, PDF_NAME(DeviceCMYK))) return 4;
    if (!pdf_is_array(ctx, cs)) return 0;
    pdf_obj* family = pdf_array_get(ctx, cs, 0);
    if (pdf_name_eq(ctx, family, PDF_NAME(CalGray))) return 1;
    if (pdf_name_eq(ctx, family, PDF_NAME(CalRGB))) return 3;
    if (pdf_name_eq(ctx, family, PDF_NAME(ICCBased))) {
        const int n = pdf_dict_get_int(ctx, pdf_array_get(ctx, cs, 1), PDF_NAME(N));
        return n == 1 || n == 3 || n == 4 ? n : 0;
    }
    if (pdf_name_eq(ctx, family, PDF_NAME(Indexed)) && !inIndexed)
        return jpegComponentsC(ctx, pdf_array_get(ctx, cs, 1), 1);
    return 0;
}

int isJpxC(fz_context* ctx, pdf_obj* image)
{
    pdf_obj* filter = pdf_dict_get(ctx, image, PDF_NAME(Filter));
    if (pdf_is_array(ctx, filter)) filter = pdf_array_get(ctx, filter, pdf_array_len(ctx, filter) - 1);
    return pdf_name_eq(ctx, filter, PDF_NAME(JPXDecode));
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
        if (pdf_is_stream(ctx, ref) && pdf_name_eq(ctx, pdf_dict_get(ctx, ref, PDF_NAME(Subtype)), PDF_NAME(Image))
            && !pdf_dict_get_bool(ctx, ref, PDF_NAME(ImageMask)) &&
            // A colour-key mask needs exact colours, which a JPEG loses; a
            // soft mask, when there is one, replaces it anyway.
            (!pdf_dict_get(ctx, ref, PDF_NAME(Mask)) || pdf_dict_get(ctx, ref, PDF_NAME(SMask))) &&
            // A JPEG 2000 image may carry its own transparency, which a JPEG
            // cannot, and its own colour space, which decoding tells.
            !pdf_dict_get_int(ctx, ref, PDF_NAME(SMaskInData))
            && (jpegComponentsC(ctx, pdf_dict_get(ctx, ref, PDF_NAME(ColorSpace)), 0) > 0
                || (!pdf_dict_get(ctx, ref, PDF_NAME(ColorSpace)) && isJpxC(ctx, ref)))
            && !pdf_dict_get(ctx, ref, PDF_NAME(Decode))
            && pdf_dict_get_int(ctx, ref, PDF_NAME(BitsPerComponent)) >= 8) {
            out[0] = pdf_dict_get_int(ctx, ref, PDF_NAME(Width));
            out[1] = pdf_dict_get_int(ctx, ref, PDF_NAME(Height));
            out[2] = pdf_dict_get_int(ctx, ref, PDF_NAME(Length));
            ok = out[0] > 0 && out[1] > 0;
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, ref);
    fz_catch(ctx) {
        captureError(ctx, err);
        ok = 0;
    }
    return ok;
}

// The image's pixels in its own colour space (an indexed one's base), with
// no alpha; null when they are in any other.
fz_pixmap* decodeC(fz_context* ctx, pdf_document* doc, int num, FzError* err)
{
    pdf_obj* ref = nullptr;
    fz_image* image = nullptr;
    fz_pixmap* pix = nullptr;
    fz_pixmap* opaque = nullptr;
    fz_var(ref);
    fz_var(image);
    fz_var(pix);
    fz_var(opaque);
    fz_try(ctx) {
        ref = pdf_new_indirect(ctx, doc, num, 0);
        image = pdf_load_image(ctx, doc, ref);
        // An indexed image comes out in its base space.
        pix = fz_get_pixmap_from_image(ctx, image, nullptr, nullptr, nullptr, nullptr);
        fz_colorspace* cs = fz_pixmap_colorspace(ctx, pix);
        const int kind = fz_colorspace_is_gray(ctx, cs)   ? 1
                         : fz_colorspace_is_rgb(ctx, cs)  ? 3
                         : fz_colorspace_is_cmyk(ctx, cs) ? 4
                                                          : 0;
        const int named = jpegComponentsC(ctx, pdf_dict_get(ctx, ref, PDF_NAME(ColorSpace)), 0);
        const int components = fz_pixmap_colorants(ctx, pix);
        if (!kind || kind != components || (named && named != components) || fz_pixmap_spots(ctx, pix) != 0)
            fz_throw(ctx, FZ_ERROR_GENERIC, "the image's colours are in another space");
        if (fz_pixmap_alpha(ctx, pix)) {
            // A colour key's alpha: the soft mask that overrides it stays.
            opaque = fz_new_pixmap(ctx, cs, fz_pixmap_width(ctx, pix), fz_pixmap_height(ctx, pix), nullptr, 0);
            const int n = fz_pixmap_components(ctx, pix);
            const int w = fz_pixmap_width(ctx, pix), h = fz_pixmap_height(ctx, pix);
            for (int y = 0; y < h; ++y) {
                const unsigned char* from =
                    fz_pixmap_samples(ctx, pix) + size_t(y) * size_t(fz_pixmap_stride(ctx, pix));
                unsigned char* to = fz_pixmap_samples(ctx, opaque) + size_t(y) * size_t(fz_pixmap_stride(ctx, opaque));
                for (int x = 0; x < w; ++x, from += n, to += components) std::memcpy(to, from, size_t(components));
            }
            fz_drop_pixmap(ctx, pix);
            pix = opaque;
            opaque = nullptr;
        }
    }
    fz_always(ctx) {
        fz_drop_pixmap(ctx, opaque);
        fz_drop_image(ctx, image);
        pdf_drop_obj(ctx, ref);
    }
    fz_catch(ctx) {
        captureError(ctx, err);
        fz_drop_pixmap(ctx, pix);
        pix = nullptr;
    }
    return pix;
}

void replaceC(fz_context* ctx, pdf_document* doc, int num, const unsigned char* data, size_t size, int w, int h,
              int components, FzError* err)
{
    pdf_obj* ref = nullptr;
    pdf_obj* base = nullptr;
    fz_buffer* buf = nullptr;
    fz_var(ref);
    fz_var(base);
    fz_var(buf);
    fz_try(ctx) {
        ref = pdf_new_indirect(ctx, doc, num, 0);
        buf = fz_new_buffer_from_copied_data(ctx, data, size);
        pdf_update_stream(ctx, doc, ref, buf, 1);
        pdf_dict_put(ctx, ref, PDF_NAME(Filter), PDF_NAME(DCTDecode));
        pdf_dict_del(ctx, ref, PDF_NAME(DecodeParms));
        // Four components are YCCK: said here too for readers that look
        // no further than the image's own parameters.
        if (components == 4)
            pdf_dict_put_int(ctx, pdf_dict_put_dict(ctx, ref, PDF_NAME(DecodeParms), 1), PDF_NAME(ColorTransform), 1);
        if (pdf_dict_get(ctx, ref, PDF_NAME(SMask))) pdf_dict_del(ctx, ref, PDF_NAME(Mask));
        pdf_dict_put_int(ctx, ref, PDF_NAME(Width), w);
        pdf_dict_put_int(ctx, ref, PDF_NAME(Height), h);
        pdf_dict_put_int(ctx, ref, PDF_NAME(BitsPerComponent), 8);
        // An indexed image's pixels are in its palette's space now; a JPEG
        // 2000 image's were in the one its own data named.
        pdf_obj* cs = pdf_dict_get(ctx, ref, PDF_NAME(ColorSpace));
        if (pdf_is_array(ctx, cs) && pdf_name_eq(ctx, pdf_array_get(ctx, cs, 0), PDF_NAME(Indexed))) {
            base = pdf_keep_obj(ctx, pdf_array_get(ctx, cs, 1));
            pdf_dict_put(ctx, ref, PDF_NAME(ColorSpace), base);
        } else if (!cs) {
            pdf_dict_put(ctx, ref, PDF_NAME(ColorSpace),
                         components == 1   ? PDF_NAME(DeviceGray)
                         : components == 4 ? PDF_NAME(DeviceCMYK)
                                           : PDF_NAME(DeviceRGB));
        }
    }
    fz_always(ctx) {
        fz_drop_buffer(ctx, buf);
        pdf_drop_obj(ctx, base);
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

ImageEncoding::Samples decode(const PdfDocument& doc, int objectNumber)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    requireUnlocked(d);
    fz_context* ctx = pdfContext();
    FzError err;
    fz_pixmap* pix = decodeC(ctx, d.doc, objectNumber, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    ImageEncoding::Samples out;
    out.width = fz_pixmap_width(ctx, pix);
    out.height = fz_pixmap_height(ctx, pix);
    out.components = fz_pixmap_components(ctx, pix);
    const size_t row = size_t(out.width) * size_t(out.components);
    const size_t stride = size_t(fz_pixmap_stride(ctx, pix));
    const unsigned char* samples = fz_pixmap_samples(ctx, pix);
    try {
        out.bytes.resize(qsizetype(row * size_t(out.height)));
        for (int y = 0; y < out.height; ++y)
            std::memcpy(out.bytes.data() + row * size_t(y), samples + stride * size_t(y), row);
    } catch (const std::bad_alloc&) {
        fz_drop_pixmap(ctx, pix);
        throw PdfError(PdfErrorCode::general, "the image is too large to decode");
    }
    fz_drop_pixmap(ctx, pix);
    return out;
}

void replaceWithJpeg(PdfDocument& doc, int objectNumber, const QByteArray& jpeg, const ImageEncoding::Samples& of)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    settleBeforeEditing(d);
    requireUnlocked(d);
    FzError err;
    replaceC(pdfContext(), d.doc, objectNumber, reinterpret_cast<const unsigned char*>(jpeg.constData()),
             size_t(jpeg.size()), of.width, of.height, of.components, &err);
    throwIfFailed(err);
}

} // namespace platform::PdfImages
