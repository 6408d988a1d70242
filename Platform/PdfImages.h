#pragma once
// The pictures inside a PDF: listing the image objects that can be stored
// again in another form, decoding one and replacing its stored bytes with a
// JPEG. MuPDF 1.21 has no recompression of its own.
#include "Platform/PdfDocument.h"

#include <QByteArray>
#include <QImage>

#include <vector>

namespace platform::PdfImages {

struct StoredImage {
    int objectNumber = 0;
    int width = 0, height = 0;
    qint64 storedBytes = 0; // the stream as stored (compressed)
};

// Colour and grey images of 8 or more bits per component, without decode
// arrays or colour-key masks (unless a soft mask overrides the key), that are
// not themselves soft masks: those whose pixels a JPEG can hold. Their soft
// masks stay as they are. Throws PdfError.
std::vector<StoredImage> replaceable(const PdfDocument& doc);

// The image's pixels in RGB (without its soft mask). Throws PdfError.
QImage decode(const PdfDocument& doc, int objectNumber);

// Stores `jpeg` (an RGB baseline JPEG of width × height) as the image's
// pixels; the image keeps its soft mask. Throws PdfError.
void replaceWithJpeg(PdfDocument& doc, int objectNumber, const QByteArray& jpeg, int width, int height);

} // namespace platform::PdfImages
