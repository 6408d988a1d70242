#pragma once
// The pictures inside a PDF: listing the image objects that can be stored
// again in another form, decoding one and replacing its stored bytes with a
// JPEG. MuPDF 1.21 has no recompression of its own.
#include "Platform/ImageEncoding.h"
#include "Platform/PdfDocument.h"

#include <QByteArray>

#include <vector>

namespace platform::PdfImages {

struct StoredImage {
    int objectNumber = 0;
    int width = 0, height = 0;
    qint64 storedBytes = 0; // the stream as stored (compressed)
};

// Images whose pixels a JPEG can hold in their own colour space: grey, RGB
// and CMYK ones (device, calibrated or ICC-based, indexed over one of those,
// or JPEG 2000 naming none) of 8 or more bits per component, without decode
// arrays, colour-key masks (unless a soft mask overrides the key) or
// transparency of their own, that are not themselves soft masks. Their soft
// masks stay as they are. Throws PdfError.
std::vector<StoredImage> replaceable(const PdfDocument& doc);

// The image's pixels (without its soft mask) in its own colour space; an
// indexed image's through its palette, in the palette's space. Throws
// PdfError.
ImageEncoding::Samples decode(const PdfDocument& doc, int objectNumber);

// Stores `jpeg`, the JPEG of `of` (pixels `decode` gave, perhaps scaled), as
// the image's pixels. The image keeps its colour space (an indexed one takes
// its palette's) and its soft mask. Throws PdfError.
void replaceWithJpeg(PdfDocument& doc, int objectNumber, const QByteArray& jpeg, const ImageEncoding::Samples& of);

} // namespace platform::PdfImages
