#pragma once
// Image files in memory: PNG through libpng, JPEG through libjpeg-turbo and
// TIFF through libtiff. Images are written as 8-bit RGB (JPEG also takes grey
// and CMYK samples); the images the exports encode are opaque, so their alpha
// is dropped.
#include <QByteArray>
#include <QImage>

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

} // namespace platform::ImageEncoding
