#pragma once
// Image files in memory: PNG through libpng, JPEG through libjpeg-turbo and
// TIFF through libtiff. Images are written as 8-bit RGB (JPEG also takes grey
// and CMYK samples); the images the exports encode are opaque, so their alpha
// is dropped. PNG is read through libpng too: an image page is made of every
// PNG it reads (PdfImagePages.h).
#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <vector>

namespace platform::ImageEncoding {

class EncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Pixels of 8-bit components in rows without padding: 1 a pixel for grey,
// 3 for RGB, 4 for CMYK.
struct Samples {
    int width = 0, height = 0, components = 0;
    QByteArray bytes;
};

// A resolution of 0 or less writes none. Each throws EncodingError.

// PNG with its resolution as a pHYs chunk (pixels per metre, rounded).
QByteArray png(const QImage& image, int dpi = 0);
// Baseline JPEG; `quality` from 0 to 1 (clamped), the density in dots per inch.
QByteArray jpeg(const QImage& image, double quality, int dpi = 0);
// Baseline JPEG of the samples. Grey and RGB are stored as a JPEG stores
// them; CMYK, not inverted, as YCCK (Adobe colour transform 2), which a PDF
// image's ColorTransform 1 names.
QByteArray jpeg(const Samples& samples, double quality);
// TIFF, one directory per image, LZW compressed, classic 32-bit offsets.
QByteArray tiff(const std::vector<QImage>& images, int dpi = 0);

// A PNG as its header says libpng reads it: its pixel size, and whether its
// pixels have colour and alpha (a palette's transparency counts).
struct PngHeader {
    int width = 0, height = 0;
    bool colour = false, alpha = false;
};
// None for bytes libpng does not read as a PNG's header.
std::optional<PngHeader> pngHeader(const QByteArray& png);
// Decodes the PNG into `header.height` rows `stride` bytes apart of 8-bit
// samples, grey or RGB as `header` says, each pixel followed by its alpha
// (not premultiplied) where `header` says it has one: what libpng reads, a
// warning's leftovers (an ancillary chunk damaged, data past the image)
// aside. False where libpng cannot read the image.
bool decodePng(const QByteArray& png, const PngHeader& header, unsigned char* rows, std::ptrdiff_t stride);

// The orientation a TIFF's first image is shown in, 1 to 8 as its tag (and
// EXIF, which took the tag's numbers) names them: 1 for upright or no tag, 0
// for bytes libtiff reads as no TIFF. MuPDF reads no such tag.
int tiffOrientation(const QByteArray& tiff);
// A TIFF whose first image has samples wider than 8 bits stored with a
// horizontal predictor (16-bit scans and photos as ImageMagick and scanners
// compress them): its header as libtiff reads it, the size as stored, grey
// where it has no colour. MuPDF undoes such a predictor in 8-bit sums and
// draws stripes and noise. None for any other file.
std::optional<PngHeader> predictedWideTiff(const QByteArray& tiff);
// Decodes such a TIFF as decodePng does a PNG, libtiff turning its samples
// (CMYK too) to 8-bit grey or RGB, its rows as stored: the orientation
// (tiffOrientation) is left to whoever shows it, as MuPDF's pictures leave
// it. False where libtiff cannot read it.
bool decodeTiff(const QByteArray& tiff, const PngHeader& header, unsigned char* rows, std::ptrdiff_t stride);

} // namespace platform::ImageEncoding
