#pragma once
// Drawing a page through any transform into an image the caller owns: the
// exporter's page bitmaps, which choose their own box and pixel size.
#include "Platform/PdfDocument.h"

#include <QImage>

namespace platform {

// Draws page `page` with its annotations and form fields over what `image`
// already holds (fill it first for a background). `userToPixels` maps PDF
// user space to the image's pixels (y down). The image must be
// Format_RGBA8888_Premultiplied or Format_RGBX8888 with an opaque alpha byte.
// Throws PdfError.
void drawPage(const PdfDocument& doc, int page, const PdfMatrix& userToPixels, QImage& image);

} // namespace platform
