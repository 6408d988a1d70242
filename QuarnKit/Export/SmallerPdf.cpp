#include "QuarnKit/Export/SmallerPdf.h"

#include "Platform/ImageEncoding.h"
#include "Platform/PdfCompaction.h"
#include "Platform/PdfImages.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quarnkit::SmallerPdf {

namespace {

using platform::ImageEncoding::Samples;

// `in` made width × height (no larger) by averaging the area each new pixel
// covers, component by component, whatever the colour space. Along each side
// an old pixel spans as many units as the new side has pixels, and a new one
// as many as the old side had, so the overlaps are whole numbers.
Samples shrunk(const Samples& in, int width, int height)
{
    const int n = in.components;
    Samples out{width, height, n, QByteArray(qsizetype(width) * height * n, Qt::Uninitialized)};
    std::vector<double> across(size_t(width) * size_t(n)), gathered(across.size(), 0.0);
    const double area = double(in.width) * double(in.height);
    int outY = 0;
    for (int sy = 0; sy < in.height; ++sy) {
        const auto* from = reinterpret_cast<const uchar*>(in.bytes.constData()) + qsizetype(sy) * in.width * n;
        std::fill(across.begin(), across.end(), 0.0);
        int x = 0;
        for (int sx = 0; sx < in.width; ++sx) {
            for (qint64 start = qint64(sx) * width, end = start + width; start < end;) {
                const qint64 edge = qint64(x + 1) * in.width, limit = std::min(end, edge);
                for (int c = 0; c < n; ++c) across[size_t(x * n + c)] += double(limit - start) * from[sx * n + c];
                start = limit;
                if (limit == edge) ++x;
            }
        }
        for (qint64 start = qint64(sy) * height, end = start + height; start < end;) {
            const qint64 edge = qint64(outY + 1) * in.height, limit = std::min(end, edge);
            for (size_t i = 0; i < across.size(); ++i) gathered[i] += double(limit - start) * across[i];
            start = limit;
            if (limit == edge) {
                auto* to = reinterpret_cast<uchar*>(out.bytes.data()) + qsizetype(outY) * width * n;
                for (size_t i = 0; i < gathered.size(); ++i)
                    to[i] = uchar(std::clamp(std::lround(gathered[i] / area), 0L, 255L));
                std::fill(gathered.begin(), gathered.end(), 0.0);
                ++outY;
            }
        }
    }
    return out;
}

Samples fitted(Samples pixels)
{
    const int longest = std::max(pixels.width, pixels.height);
    if (longest <= maximumSide) return pixels;
    const double scale = double(maximumSide) / longest;
    return shrunk(pixels, std::max(1, int(std::lround(pixels.width * scale))),
                  std::max(1, int(std::lround(pixels.height * scale))));
}

} // namespace

int compressImages(platform::PdfDocument& doc, const std::function<void()>& check)
{
    int replaced = 0;
    for (const platform::PdfImages::StoredImage& stored : platform::PdfImages::replaceable(doc)) {
        if (check) check();
        try {
            // In the picture's own colour space: converting it would change
            // how other readers show it.
            const Samples pixels = fitted(platform::PdfImages::decode(doc, stored.objectNumber));
            const QByteArray jpeg = platform::ImageEncoding::jpeg(pixels, jpegQuality);
            if (jpeg.size() >= stored.storedBytes) continue;
            platform::PdfImages::replaceWithJpeg(doc, stored.objectNumber, jpeg, pixels);
            ++replaced;
        } catch (const platform::PdfError&) {
        } catch (const platform::ImageEncoding::EncodingError&) {}
    }
    return replaced;
}

QByteArray compactFile(const QByteArray& bytes, const platform::PdfDocument& doc, const ExportWriteOptions& options)
{
    // The owner's password opens what it encrypted with every permission; a
    // file with an open password alone opens with that.
    const std::string password = options.ownerPassword.value_or(options.userPassword.value_or(std::string()));
    return platform::PdfCompaction::compact(bytes, doc.pageCount(), password);
}

} // namespace quarnkit::SmallerPdf
