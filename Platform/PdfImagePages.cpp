#include "Platform/PdfImagePages.h"

#include "Platform/HeifDecoding.h"
#include "Platform/ImageEncoding.h"
#include "Platform/OnDemand.h"
#include "Platform/PdfInternal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

namespace platform {
namespace {

// The header of an image MuPDF reads: its size and EXIF orientation (1–8;
// a TIFF's tag MuPDF does not read), nothing decoded.
fz_image* readImageC(fz_context* ctx, fz_buffer* buffer, int* width, int* height, int* orientation, FzError* err)
{
    fz_image* image = nullptr;
    fz_var(image);
    fz_try(ctx) {
        image = fz_new_image_from_buffer(ctx, buffer);
        *width = image->w;
        *height = image->h;
        // MuPDF numbers the turns its own way: back to the EXIF values.
        static const int exif[9] = {1, 1, 8, 3, 6, 2, 5, 4, 7};
        const int own = fz_image_orientation(ctx, image);
        *orientation = own >= 0 && own <= 8 ? exif[own] : 1;
    }
    fz_catch(ctx) {
        captureError(ctx, err);
        fz_drop_image(ctx, image);
        image = nullptr;
    }
    return image;
}

fz_buffer* readFileC(fz_context* ctx, const char* path, FzError* err)
{
    fz_buffer* buffer = nullptr;
    fz_var(buffer);
    fz_try(ctx) buffer = fz_read_file(ctx, path);
    fz_catch(ctx) {
        captureError(ctx, err);
        buffer = nullptr;
    }
    return buffer;
}

// A pixmap of 8-bit grey or RGB samples, with alpha or without, to fill.
fz_pixmap* newPixmapC(fz_context* ctx, int width, int height, int colour, int alpha, FzError* err)
{
    fz_pixmap* pixmap = nullptr;
    fz_var(pixmap);
    fz_try(ctx)
        pixmap = fz_new_pixmap(ctx, colour ? fz_device_rgb(ctx) : fz_device_gray(ctx), width, height, nullptr, alpha);
    fz_catch(ctx) {
        captureError(ctx, err);
        pixmap = nullptr;
    }
    return pixmap;
}

// An image of the filled pixmap, whose alpha, if any, is not yet multiplied
// in: MuPDF's pixmaps hold it so.
fz_image* imageFromPixmapC(fz_context* ctx, fz_pixmap* pixmap, FzError* err)
{
    if (pixmap->alpha) {
        const int n = pixmap->n;
        for (int y = 0; y < pixmap->h; ++y) {
            unsigned char* p = pixmap->samples + std::size_t(y) * std::size_t(pixmap->stride);
            for (int x = 0; x < pixmap->w; ++x, p += n)
                for (int k = 0; k < n - 1; ++k) p[k] = static_cast<unsigned char>(fz_mul255(p[k], p[n - 1]));
        }
    }
    fz_image* image = nullptr;
    fz_var(image);
    fz_try(ctx) image = fz_new_image_from_pixmap(ctx, pixmap, nullptr);
    fz_catch(ctx) {
        captureError(ctx, err);
        image = nullptr;
    }
    return image;
}

// Decodes a small version of the image: a file whose header reads but whose
// body does not is found out here, not when the page is drawn.
int decodesC(fz_context* ctx, fz_image* image)
{
    fz_pixmap* pixmap = nullptr;
    int ok = 0;
    fz_var(pixmap);
    fz_var(ok);
    fz_try(ctx) {
        int w = 64, h = 64;
        pixmap = fz_get_pixmap_from_image(ctx, image, nullptr, nullptr, &w, &h);
        ok = pixmap != nullptr;
    }
    fz_always(ctx) fz_drop_pixmap(ctx, pixmap);
    fz_catch(ctx) ok = 0;
    return ok;
}

// Whether a JPEG carries Adobe's APP14 marker, whose CMYK samples are stored
// inverted (as Photoshop writes them).
bool hasAdobeMarker(const fz_buffer* jpeg)
{
    const unsigned char* data = jpeg->data;
    for (size_t at = 2; at + 9 <= jpeg->len && data[at] == 0xFF && data[at + 1] != 0xDA;
         at += 2 + size_t(data[at + 2] << 8 | data[at + 3]))
        if (data[at + 1] == 0xEE && std::memcmp(data + at + 4, "Adobe", 5) == 0) return true;
    return false;
}

// Draws the image over the whole page of w by h points with the orientation's
// turn or mirror (EXIF values 1–8), and adds that page to `doc`.
void addImagePageC(fz_context* ctx, pdf_document* doc, fz_image* image, int orientation, float w, float h, FzError* err)
{
    // The image's unit square onto the page, for each orientation.
    const float m[9][6] = {
        {w, 0, 0, h, 0, 0},   {w, 0, 0, h, 0, 0},  {-w, 0, 0, h, w, 0}, {-w, 0, 0, -h, w, h}, {w, 0, 0, -h, 0, h},
        {0, -h, -w, 0, w, h}, {0, -h, w, 0, 0, h}, {0, h, w, 0, 0, 0},  {0, h, -w, 0, w, 0},
    };
    const float* t = m[orientation >= 0 && orientation <= 8 ? orientation : 0];
    fz_buffer* contents = nullptr;
    pdf_obj* ref = nullptr;
    pdf_obj* resources = nullptr;
    pdf_obj* page = nullptr;
    fz_var(contents);
    fz_var(ref);
    fz_var(resources);
    fz_var(page);
    fz_try(ctx) {
        ref = pdf_add_image(ctx, doc, image);
        // MuPDF reads an Adobe CMYK JPEG's samples as inverted but stores the
        // JPEG with no /Decode saying so: every reader, MuPDF too, would draw
        // the page in its negative colours.
        fz_compressed_buffer* jpeg = fz_compressed_image_buffer(ctx, image);
        if (image->n == 4 && jpeg && jpeg->params.type == FZ_IMAGE_JPEG && jpeg->buffer && hasAdobeMarker(jpeg->buffer)
            && !pdf_dict_get(ctx, ref, PDF_NAME(Decode))
            && pdf_name_eq(ctx, pdf_dict_get(ctx, ref, PDF_NAME(Filter)), PDF_NAME(DCTDecode))) {
            pdf_obj* decode = pdf_dict_put_array(ctx, ref, PDF_NAME(Decode), 8);
            for (int i = 0; i < 8; ++i) pdf_array_push_int(ctx, decode, 1 - i % 2);
        }
        resources = pdf_new_dict(ctx, doc, 1);
        pdf_dict_puts(ctx, pdf_dict_put_dict(ctx, resources, PDF_NAME(XObject), 1), "Im0", ref);
        contents = fz_new_buffer(ctx, 64);
        fz_append_printf(ctx, contents, "q %g %g %g %g %g %g cm /Im0 Do Q\n", t[0], t[1], t[2], t[3], t[4], t[5]);
        page = pdf_add_page(ctx, doc, fz_make_rect(0, 0, w, h), 0, resources, contents);
        pdf_insert_page(ctx, doc, -1, page);
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, page);
        pdf_drop_obj(ctx, resources);
        pdf_drop_obj(ctx, ref);
        fz_drop_buffer(ctx, contents);
    }
    fz_catch(ctx) captureError(ctx, err);
}

struct FzImageOwner {
    fz_image* image = nullptr;
    ~FzImageOwner() { fz_drop_image(pdfContext(), image); }
};
struct FzPixmapOwner {
    fz_pixmap* pixmap = nullptr;
    ~FzPixmapOwner() { fz_drop_pixmap(pdfContext(), pixmap); }
};
struct FzBufferOwner {
    fz_buffer* buffer = nullptr;
    ~FzBufferOwner() { fz_drop_buffer(pdfContext(), buffer); }
};
bool tooManyPixels(long long width, long long height)
{
    return width < 1 || height < 1 || width * height > maxImagePagePixels;
}

bool isPng(const fz_buffer* file) { return file->len >= 8 && std::memcmp(file->data, "\x89PNG\r\n\x1a\n", 8) == 0; }

// The bits a PNG stores for each pixel, from its header: its bit depth
// times the samples of its colour type (a palette's index is one, however
// many colours the palette holds); 0 for a header that says none.
int pngBitsPerPixel(const fz_buffer* file)
{
    if (file->len < 29 || std::memcmp(file->data + 12, "IHDR", 4) != 0) return 0;
    const int depth = file->data[24];
    switch (file->data[25]) {
    case 0:
    case 3: return depth;
    case 4: return 2 * depth;
    case 2: return 3 * depth;
    case 6: return 4 * depth;
    default: return 0;
    }
}

// Whether `bytes` of a file could hold an image of `width` by `height` pixels,
// with room to spare: no format packs more. PNG's deflate packs at most 1032
// bytes into one, of rows of the bits its header says each pixel takes; a
// JPEG spends at least a bit on every 8 by 8 block; every other format
// (TIFF's fax coding of a blank scan) at least a bit on every row (HEIF is
// checked so in its own library).
bool bytesCouldHold(const fz_buffer* file, long long width, long long height)
{
    constexpr long long slack = 2;
    const auto bytes = static_cast<long long>(file->len);
    const unsigned char* head = file->data;
    if (isPng(file)) {
        const long long rowBytes = (width * std::max(pngBitsPerPixel(file), 1) + 7) / 8 + 1; // and its filter byte
        return height * rowBytes <= bytes * 1032 * slack;
    }
    if (file->len >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
        return (width / 8 + 1) * (height / 8 + 1) <= bytes * 8 * slack;
    return height <= bytes * 8 * slack;
}

// HEIF files start with a file-type box; anything else never loads libheif.
bool mayBeHeif(const fz_buffer* buffer) { return buffer->len >= 12 && std::memcmp(buffer->data + 4, "ftyp", 4) == 0; }

// A HEIF image decoded upright (libheif applies its rotation and mirror), as
// an image MuPDF can place; none when it is unreadable or too large.
fz_image* heifImage(const HeifDecoding& decoding, const fz_buffer* buffer, int* width, int* height)
{
    HeifPicture picture;
    if (!decoding.decode(buffer->data, buffer->len, maxImagePagePixels, picture)) return nullptr;
    *width = picture.width;
    *height = picture.height;
    FzError err;
    FzPixmapOwner pixmap{newPixmapC(pdfContext(), picture.width, picture.height, 1, 0, &err)};
    if (!pixmap.pixmap) return nullptr;
    for (int y = 0; y < picture.height; ++y)
        std::memcpy(pixmap.pixmap->samples + std::size_t(y) * std::size_t(pixmap.pixmap->stride),
                    picture.rgb.data() + std::size_t(y) * std::size_t(picture.stride), std::size_t(picture.width) * 3);
    return imageFromPixmapC(pdfContext(), pixmap.pixmap, &err);
}

// A picture another library reads where MuPDF does not, as that library
// decodes it; none where it cannot either, or where its header claims more
// pixels than a page may hold or the file could hold.
using HeaderOf = std::optional<ImageEncoding::PngHeader> (*)(const QByteArray&);
using DecodeInto = bool (*)(const QByteArray&, const ImageEncoding::PngHeader&, unsigned char*, std::ptrdiff_t);
fz_image* decodedImage(const fz_buffer* file, HeaderOf headerOf, DecodeInto decode, int* width, int* height)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(file->data), qsizetype(file->len));
    const std::optional<ImageEncoding::PngHeader> header = headerOf(bytes);
    if (!header || tooManyPixels(header->width, header->height) || !bytesCouldHold(file, header->width, header->height))
        return nullptr;
    *width = header->width;
    *height = header->height;
    FzError err;
    FzPixmapOwner pixmap{newPixmapC(pdfContext(), header->width, header->height, header->colour, header->alpha, &err)};
    if (!pixmap.pixmap || !decode(bytes, *header, pixmap.pixmap->samples, pixmap.pixmap->stride)) return nullptr;
    return imageFromPixmapC(pdfContext(), pixmap.pixmap, &err);
}

// A PNG that MuPDF does not read (empty data chunks, data past the image), as libpng reads it.
fz_image* libpngImage(const fz_buffer* file, int* width, int* height)
{
    return decodedImage(file, ImageEncoding::pngHeader, ImageEncoding::decodePng, width, height);
}

// A TIFF of samples wider than 8 bits behind a horizontal predictor, which
// MuPDF misreads (ImageEncoding.h), as libtiff reads it, as stored.
fz_image* libtiffImage(const fz_buffer* file, int* width, int* height)
{
    return decodedImage(file, ImageEncoding::predictedWideTiff, ImageEncoding::decodeTiff, width, height);
}

bool isTiff(const fz_buffer* file)
{
    return file->len >= 4 && (std::memcmp(file->data, "II*\0", 4) == 0 || std::memcmp(file->data, "MM\0*", 4) == 0);
}

// The orientation a TIFF's tag names, which both its readers leave to the
// page, as MuPDF leaves a JPEG's; 1 where libtiff reads none.
int tiffOrientation(const fz_buffer* file)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(file->data), qsizetype(file->len));
    return std::max(1, ImageEncoding::tiffOrientation(bytes));
}

} // namespace

std::shared_ptr<PdfDocument> imagePageDocument(const std::string& path,
                                               const std::function<PdfSize(int width, int height)>& pageSize)
{
    // The size is checked before decoding; what passes may take its pixels at once.
    EngineBlockLimit budget(imagePageBlockLimit);
    fz_context* ctx = pdfContext();
    FzError err;
    FzBufferOwner file{readFileC(ctx, path.c_str(), &err)};
    if (!file.buffer || file.buffer->len < 12) return nullptr;
    int width = 0, height = 0, orientation = 0;
    FzImageOwner image;
    const HeifDecoding* heif =
        mayBeHeif(file.buffer) ? ondemand::tableOf<HeifDecoding>("libravlen-heif.so", "ravlenHeifDecoding") : nullptr;
    if (heif && heif->isHeif(file.buffer->data, file.buffer->len)) {
        image.image = heifImage(*heif, file.buffer, &width, &height);
    } else {
        image.image = readImageC(ctx, file.buffer, &width, &height, &orientation, &err);
        if (image.image && (tooManyPixels(width, height) || !bytesCouldHold(file.buffer, width, height)))
            return nullptr;
        if (image.image && !decodesC(ctx, image.image)) {
            fz_drop_image(ctx, std::exchange(image.image, nullptr));
        }
        if (image.image && isTiff(file.buffer)) {
            orientation = tiffOrientation(file.buffer);
            int tiffWidth = 0, tiffHeight = 0;
            if (fz_image* tiff = libtiffImage(file.buffer, &tiffWidth, &tiffHeight)) {
                fz_drop_image(ctx, std::exchange(image.image, tiff));
                width = tiffWidth;
                height = tiffHeight;
            }
        }
        // Every PNG libpng reads is a page.
        if (!image.image && isPng(file.buffer)) {
            orientation = 1;
            image.image = libpngImage(file.buffer, &width, &height);
        }
    }
    if (!image.image) return nullptr;
    // Orientations 5 to 8 turn the picture a quarter: width and height trade places.
    const bool turned = orientation >= 5 && orientation <= 8;
    const PdfSize size = pageSize(turned ? height : width, turned ? width : height);
    if (!(size.width > 0 && size.height > 0)) return nullptr;
    std::shared_ptr<PdfDocument> document = PdfDocument::createEmpty();
    if (!document) return nullptr;
    {
        std::lock_guard lock(document->impl().mutex);
        addImagePageC(ctx, document->impl().doc, image.image, orientation, float(size.width), float(size.height), &err);
        pageTreeChanged(document->impl());
    }
    // Decoding happens while the page is made (PNG, TIFF): a broken body fails here.
    if (err.code || document->pageCount() != 1) return nullptr;
    return document;
}

} // namespace platform
