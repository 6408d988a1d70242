#pragma once
// Image files in memory: PNG through libpng, JPEG through libjpeg-turbo and
// TIFF through libtiff. Pixels are written as 8-bit RGB; the images the
// exports encode are opaque, so their alpha is dropped.
#include <QByteArray>
#include <QImage>

#include <stdexcept>
#include <vector>

namespace platform::ImageEncoding {

class EncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A resolution of 0 or less writes none. Each throws EncodingError.

// PNG with its resolution as a pHYs chunk (pixels per metre, rounded).
QByteArray png(const QImage& image, int dpi = 0);
// Baseline JPEG; `quality` from 0 to 1 (clamped), the density in dots per inch.
QByteArray jpeg(const QImage& image, double quality, int dpi = 0);
// TIFF, one directory per image, LZW compressed, classic 32-bit offsets.
QByteArray tiff(const std::vector<QImage>& images, int dpi = 0);

} // namespace platform::ImageEncoding
