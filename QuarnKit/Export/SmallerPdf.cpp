#include "QuarnKit/Export/SmallerPdf.h"

#include "Platform/ImageEncoding.h"
#include "Platform/PdfCompaction.h"
#include "Platform/PdfImages.h"

namespace quarnkit::SmallerPdf {

int compressImages(platform::PdfDocument& doc, const std::function<void()>& check)
{
    int replaced = 0;
    for (const platform::PdfImages::StoredImage& stored : platform::PdfImages::replaceable(doc)) {
        if (check) check();
        try {
            QImage image = platform::PdfImages::decode(doc, stored.objectNumber);
            if (std::max(image.width(), image.height()) > maximumSide)
                image = image.scaled(maximumSide, maximumSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            const QByteArray jpeg = platform::ImageEncoding::jpeg(image, jpegQuality);
            if (jpeg.size() >= stored.storedBytes) continue;
            platform::PdfImages::replaceWithJpeg(doc, stored.objectNumber, jpeg, image.width(), image.height());
            ++replaced;
        } catch (const platform::PdfError&) {
        } catch (const platform::ImageEncoding::EncodingError&) {
        }
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
