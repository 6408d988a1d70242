#include "Platform/ImageEncoding.h"

#include <algorithm>
#include <cstdarg>
#include <csetjmp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

namespace platform::ImageEncoding {

namespace {

// Growable bytes written by the C libraries' callbacks. Plain C, so that a
// longjmp out of a library never skips a destructor.
struct Sink {
    unsigned char* data = nullptr;
    size_t size = 0; // bytes valid
    size_t capacity = 0;
    size_t position = 0; // TIFF writes and seeks
    int failed = 0;
};

int sinkReserve(Sink* s, size_t needed)
{
    if (needed <= s->capacity) return 1;
    size_t capacity = s->capacity ? s->capacity : 65536;
    while (capacity < needed) capacity *= 2;
    auto* grown = static_cast<unsigned char*>(std::realloc(s->data, capacity));
    if (!grown) return 0;
    s->data = grown;
    s->capacity = capacity;
    return 1;
}

int sinkWriteAt(Sink* s, size_t at, const void* bytes, size_t n)
{
    if (at + n < at || !sinkReserve(s, at + n)) return 0;
    if (at > s->size) std::memset(s->data + s->size, 0, at - s->size);
    std::memcpy(s->data + at, bytes, n);
    if (at + n > s->size) s->size = at + n;
    return 1;
}

QByteArray takeSink(Sink& s)
{
    QByteArray out;
    if (!s.failed) out = QByteArray(reinterpret_cast<const char*>(s.data), qsizetype(s.size));
    std::free(s.data);
    s = Sink{};
    return out;
}

// ------------------------------------------------------------------ PNG

void pngWrite(png_structp png, png_bytep bytes, png_size_t n)
{
    auto* s = static_cast<Sink*>(png_get_io_ptr(png));
    if (!sinkWriteAt(s, s->size, bytes, n)) {
        s->failed = 1;
        png_error(png, "out of memory");
    }
}

void pngFlush(png_structp) {}

void pngQuiet(png_structp, png_const_charp) {}

int pngC(Sink* sink, const unsigned char* rgb, int w, int h, int stride, int dpi)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngQuiet, pngQuiet);
    if (!png) return 0;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return 0;
    }
    png_set_write_fn(png, sink, pngWrite, pngFlush);
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (dpi > 0) {
        const png_uint_32 perMetre = png_uint_32(std::lround(dpi / 0.0254));
        png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
    }
    // Rows as they are, with zlib's usual level and strategy: page images are
    // mostly flat, and there deflate alone does best; encoding, not drawing,
    // dominates a page export, and filtering each row (libpng's Sub, with its
    // Z_FILTERED strategy) made page images slower and a third larger.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    // IDAT chunks of a quarter megabyte rather than libpng's 8 KB: 12 bytes
    // of chunk framing each, 50 a page at 150 dpi.
    png_set_compression_buffer_size(png, 256 * 1024);
    png_set_compression_level(png, Z_DEFAULT_COMPRESSION);
    png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y) png_write_row(png, rgb + size_t(y) * size_t(stride));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return 1;
}

// ------------------------------------------------------------------ JPEG

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void jpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }

void jpegQuiet(j_common_ptr, int) {}

// `components` 1 (grey), 3 (RGB) or 4 (CMYK) bytes a pixel.
int jpegC(unsigned char** out, unsigned long* size, unsigned char* pixels, int w, int h, int stride, int components,
          int quality, int dpi)
{
    jpeg_compress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegFail;
    err.mgr.emit_message = jpegQuiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return 0;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, size);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    // CMYK as YCCK, its colour halved in each direction as in a colour JPEG:
    // nearly half the bytes of plain CMYK. The Adobe marker says so.
    if (components == 4) jpeg_set_colorspace(&cinfo, JCS_YCCK);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (dpi > 0) {
        cinfo.write_JFIF_header = TRUE;
        cinfo.density_unit = 1; // dots per inch
        cinfo.X_density = UINT16(dpi > 65535 ? 65535 : dpi);
        cinfo.Y_density = cinfo.X_density;
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = pixels + size_t(cinfo.next_scanline) * size_t(stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 1;
}

// ------------------------------------------------------------------ TIFF

tmsize_t tiffRead(thandle_t h, void* buf, tmsize_t n)
{
    auto* s = static_cast<Sink*>(h);
    if (n < 0 || s->position >= s->size) return 0;
    const size_t count = std::min(size_t(n), s->size - s->position);
    std::memcpy(buf, s->data + s->position, count);
    s->position += count;
    return tmsize_t(count);
}

tmsize_t tiffWrite(thandle_t h, void* buf, tmsize_t n)
{
    auto* s = static_cast<Sink*>(h);
    if (n < 0 || !sinkWriteAt(s, s->position, buf, size_t(n))) {
        s->failed = 1;
        return -1;
    }
    s->position += size_t(n);
    return n;
}

toff_t tiffSeek(thandle_t h, toff_t offset, int whence)
{
    auto* s = static_cast<Sink*>(h);
    toff_t base = 0;
    if (whence == SEEK_CUR) base = s->position;
    else if (whence == SEEK_END) base = s->size;
    s->position = size_t(base + offset);
    return s->position;
}

int tiffClose(thandle_t) { return 0; }
toff_t tiffSize(thandle_t h) { return static_cast<Sink*>(h)->size; }
int tiffMap(thandle_t, void**, toff_t*) { return 0; }
void tiffUnmap(thandle_t, void*, toff_t) {}

struct TiffPage {
    const unsigned char* rgb;
    int w, h, stride;
};

int tiffC(Sink* sink, const TiffPage* pages, int count, int dpi)
{
    TIFF* tif =
        TIFFClientOpen("memory", "w", sink, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize, tiffMap, tiffUnmap);
    if (!tif) return 0;
    int ok = 1;
    for (int i = 0; i < count && ok; ++i) {
        const TiffPage& p = pages[i];
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(p.w));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(p.h));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
        if (dpi > 0) {
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(dpi));
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(dpi));
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        }
        if (count > 1) {
            TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
            TIFFSetField(tif, TIFFTAG_PAGENUMBER, uint16_t(i), uint16_t(count));
        }
        for (int y = 0; y < p.h && ok; ++y)
            ok =
                TIFFWriteScanline(tif, const_cast<unsigned char*>(p.rgb + size_t(y) * size_t(p.stride)), uint32_t(y), 0)
                == 1;
        if (ok) ok = TIFFWriteDirectory(tif) == 1;
    }
    TIFFClose(tif);
    return ok && !sink->failed;
}

QImage rgbOf(const QImage& image)
{
    if (image.isNull()) throw EncodingError("no image to encode");
    QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull()) throw EncodingError("the image could not be converted");
    return rgb;
}

QByteArray jpegOf(const uchar* pixels, int width, int height, qsizetype stride, int components, double quality, int dpi)
{
    const double q = std::isfinite(quality) ? std::clamp(quality, 0.0, 1.0) : 1.0;
    unsigned char* data = nullptr;
    unsigned long size = 0;
    // libjpeg only reads the rows.
    const int ok = jpegC(&data, &size, const_cast<uchar*>(pixels), width, height, int(stride), components,
                         int(std::lround(q * 100)), dpi);
    QByteArray out;
    if (ok && data) out = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
    std::free(data);
    if (out.isEmpty()) throw EncodingError("the JPEG image could not be encoded");
    return out;
}

// A PNG's header read, and the pixels then read with its format, by
// libpng's simplified reader, which keeps its jumps to itself.
struct PngReading {
    png_image image = {};
    explicit PngReading(const QByteArray& png)
    {
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&image, png.constData(), size_t(png.size()))) image.width = 0;
    }
    ~PngReading() { png_image_free(&image); }
    PngReading(const PngReading&) = delete;
    PngReading& operator=(const PngReading&) = delete;
};

} // namespace

std::optional<PngHeader> pngHeader(const QByteArray& png)
{
    PngReading reading(png);
    const png_image& image = reading.image;
    if (image.width == 0 || image.height == 0 || image.width > 0x7fffffff || image.height > 0x7fffffff)
        return std::nullopt;
    return PngHeader{int(image.width), int(image.height), (image.format & PNG_FORMAT_FLAG_COLOR) != 0,
                     (image.format & PNG_FORMAT_FLAG_ALPHA) != 0};
}

bool decodePng(const QByteArray& png, const PngHeader& header, unsigned char* rows, std::ptrdiff_t stride)
{
    PngReading reading(png);
    png_image& image = reading.image;
    if (int(image.width) != header.width || int(image.height) != header.height) return false;
    image.format = (header.colour ? PNG_FORMAT_FLAG_COLOR : 0) | (header.alpha ? PNG_FORMAT_FLAG_ALPHA : 0);
    if (stride < std::ptrdiff_t(PNG_IMAGE_ROW_STRIDE(image)) || stride > 0x7fffffff) return false;
    return png_image_finish_read(&image, nullptr, rows, png_int_32(stride), nullptr) != 0;
}

QByteArray png(const QImage& image, int dpi)
{
    const QImage rgb = rgbOf(image);
    Sink sink;
    const int ok = pngC(&sink, rgb.constBits(), rgb.width(), rgb.height(), int(rgb.bytesPerLine()), dpi);
    if (!ok) sink.failed = 1;
    QByteArray out = takeSink(sink);
    if (out.isEmpty()) throw EncodingError("the PNG image could not be encoded");
    return out;
}

QByteArray jpeg(const QImage& image, double quality, int dpi)
{
    // constBits(): bits() would copy an image shared with the caller.
    const QImage rgb = rgbOf(image);
    return jpegOf(rgb.constBits(), rgb.width(), rgb.height(), rgb.bytesPerLine(), 3, quality, dpi);
}

QByteArray jpeg(const Samples& samples, double quality)
{
    const int n = samples.components;
    if ((n != 1 && n != 3 && n != 4) || samples.width < 1 || samples.height < 1
        || samples.bytes.size() != qsizetype(samples.width) * samples.height * n)
        throw EncodingError("no image to encode");
    return jpegOf(reinterpret_cast<const uchar*>(samples.bytes.constData()), samples.width, samples.height,
                  qsizetype(samples.width) * n, n, quality, 0);
}

QByteArray tiff(const std::vector<QImage>& images, int dpi)
{
    if (images.empty()) throw EncodingError("no image to encode");
    std::vector<QImage> rgb;
    std::vector<TiffPage> pages;
    for (const QImage& image : images) rgb.push_back(rgbOf(image));
    for (const QImage& image : rgb)
        pages.push_back({image.constBits(), image.width(), image.height(), int(image.bytesPerLine())});
    Sink sink;
    if (!tiffC(&sink, pages.data(), int(pages.size()), dpi)) sink.failed = 1;
    QByteArray out = takeSink(sink);
    if (out.isEmpty()) throw EncodingError("the TIFF image could not be encoded");
    return out;
}

namespace {

// Returning 1 tells libtiff the complaint was handled: nothing reaches stderr.
int tiffQuiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The file's bytes as libtiff reads them, its complaints kept from stderr
// (by this handle's own handlers: other threads' handles are left alone);
// the sink only borrows the bytes.
struct TiffReader {
    Sink source;
    TIFF* tif = nullptr;
    explicit TiffReader(const QByteArray& tiff)
    {
        source.data = reinterpret_cast<unsigned char*>(const_cast<char*>(tiff.constData()));
        source.size = size_t(tiff.size());
        if (!tiff.startsWith(QByteArray("II*\0", 4)) && !tiff.startsWith(QByteArray("MM\0*", 4))) return;
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (!options) return;
        TIFFOpenOptionsSetErrorHandlerExtR(options, tiffQuiet, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, tiffQuiet, nullptr);
        tif = TIFFClientOpenExt("memory", "rm", &source, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize, tiffMap,
                                tiffUnmap, options);
        TIFFOpenOptionsFree(options);
    }
    ~TiffReader()
    {
        if (tif) TIFFClose(tif);
    }
    TiffReader(const TiffReader&) = delete;
    TiffReader& operator=(const TiffReader&) = delete;
};

} // namespace

int tiffOrientation(const QByteArray& tiff)
{
    TiffReader reader(tiff);
    if (!reader.tif) return 0;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(reader.tif, TIFFTAG_ORIENTATION, &orientation);
    return orientation >= ORIENTATION_TOPLEFT && orientation <= ORIENTATION_LEFTBOT ? orientation : 1;
}

std::optional<PngHeader> predictedWideTiff(const QByteArray& tiff)
{
    TiffReader reader(tiff);
    if (!reader.tif) return std::nullopt;
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, predictor = 0, photometric = 0, samples = 0, extra = 0;
    uint16_t* extraKinds = nullptr;
    TIFFGetField(reader.tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(reader.tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(reader.tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(reader.tif, TIFFTAG_PREDICTOR, &predictor);
    TIFFGetFieldDefaulted(reader.tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(reader.tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(reader.tif, TIFFTAG_EXTRASAMPLES, &extra, &extraKinds);
    if (bits <= 8 || predictor != PREDICTOR_HORIZONTAL || width < 1 || height < 1 || width > 0x7fffffff
        || height > 0x7fffffff)
        return std::nullopt;
    PngHeader header;
    header.width = int(width);
    header.height = int(height);
    header.colour =
        !(photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) || samples > 1 + extra;
    header.alpha = extra > 0;
    return header;
}

namespace {

// libtiff's RGBA reader takes no CMYK of 16 bits a sample: its rows, read
// with the predictor undone, have their inks mixed here into RGB.
bool decodeDeepCmyk(TIFF* tif, const PngHeader& header, unsigned char* rows, std::ptrdiff_t stride)
{
    uint16_t bits = 0, samples = 0, planar = 0, photometric = 0, inks = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inks);
    const tmsize_t lineBytes = TIFFScanlineSize(tif);
    if (bits != 16 || photometric != PHOTOMETRIC_SEPARATED || inks != INKSET_CMYK || samples < 4 + int(header.alpha)
        || planar != PLANARCONFIG_CONTIG || !header.colour || lineBytes < tmsize_t(header.width) * samples * 2)
        return false;
    std::vector<uint16_t> line;
    try {
        line.resize(size_t(lineBytes) / 2 + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int y = 0; y < header.height; ++y) {
        if (TIFFReadScanline(tif, line.data(), uint32_t(y)) < 0) return false;
        unsigned char* out = rows + std::ptrdiff_t(y) * stride;
        for (int x = 0; x < header.width; ++x) {
            const uint16_t* ink = line.data() + size_t(x) * samples;
            const double white = 1.0 - ink[3] / 65535.0;
            for (int k = 0; k < 3; ++k) *out++ = (unsigned char)std::lround(255 * (1.0 - ink[k] / 65535.0) * white);
            if (header.alpha) *out++ = (unsigned char)(ink[4] >> 8);
        }
    }
    return true;
}

} // namespace

bool decodeTiff(const QByteArray& tiff, const PngHeader& header, unsigned char* rows, std::ptrdiff_t stride)
{
    TiffReader reader(tiff);
    if (!reader.tif) return false;
    if (decodeDeepCmyk(reader.tif, header, rows, stride)) return true;
    std::vector<uint32_t> raster;
    try {
        raster.resize(size_t(header.width) * size_t(header.height));
    } catch (const std::bad_alloc&) {
        return false;
    }
    // libtiff flips rows and columns to the origin asked for, and never turns
    // them: asked for the file's own (5 to 8 count as 1 to 4), it leaves the
    // rows as stored.
    uint16_t stored = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(reader.tif, TIFFTAG_ORIENTATION, &stored);
    if (!TIFFReadRGBAImageOriented(reader.tif, uint32_t(header.width), uint32_t(header.height), raster.data(), stored,
                                   0))
        return false;
    for (int y = 0; y < header.height; ++y) {
        unsigned char* out = rows + std::ptrdiff_t(y) * stride;
        for (int x = 0; x < header.width; ++x) {
            const uint32_t pixel = raster[size_t(y) * size_t(header.width) + size_t(x)];
            const uint32_t alpha = TIFFGetA(pixel);
            // libtiff premultiplies an unassociated alpha; the page's is not.
            const auto straight = [alpha](uint32_t v) {
                return (unsigned char)(alpha == 0 || alpha == 255
                                           ? v
                                           : std::min<uint32_t>(255, (v * 255 + alpha / 2) / alpha));
            };
            *out++ = straight(TIFFGetR(pixel));
            if (header.colour) {
                *out++ = straight(TIFFGetG(pixel));
                *out++ = straight(TIFFGetB(pixel));
            }
            if (header.alpha) *out++ = (unsigned char)alpha;
        }
    }
    return true;
}

} // namespace platform::ImageEncoding
