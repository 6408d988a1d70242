#pragma once
// Drawing a page through any transform into an image the caller owns: the
// exporter's page bitmaps, which choose their own box and pixel size.
#include "Platform/PdfDocument.h"
#include "Platform/PdfPageIdentity.h"

#include <QImage>

#include <memory>

namespace platform {

// Draws page `page` with its annotations and form fields over what `image`
// already holds (fill it first for a background). `userToPixels` maps PDF
// user space to the image's pixels (y down). The image must be
// Format_RGBA8888_Premultiplied or Format_RGBX8888 with an opaque alpha byte,
// or Format_RGB888 (opaque, three bytes a pixel).
// Throws PdfError.
void drawPage(const PdfDocument& doc, int page, const PdfMatrix& userToPixels, QImage& image);

// A page recorded, with its annotations and form fields, on the thread that
// edits the document, so that another thread can draw it later without ever
// touching the live page: the page may be edited or deleted meanwhile.
class PdfPageRecording {
public:
    ~PdfPageRecording();
    PdfPageRecording(const PdfPageRecording&) = delete;
    PdfPageRecording& operator=(const PdfPageRecording&) = delete;

    // The page's boxes and rotation when it was recorded.
    const PdfPageGeometry& geometry() const { return geometry_; }

    struct Impl;
    PdfPageRecording(Impl* impl, PdfPageGeometry geometry) : d(impl), geometry_(geometry) {}
    const Impl& impl() const { return *d; }

private:
    Impl* d;
    PdfPageGeometry geometry_;
};

// Records page `page`. Throws PdfError.
std::shared_ptr<const PdfPageRecording> recordPage(const PdfDocument& doc, int page);
// Records the page of that page object wherever it stands when the recording
// starts; none when it is no page of the document any more. On any thread:
// the window's thread comes first (see stopPageWork). Throws PdfError.
// `where`: the index the page stood at when it was asked for; found there, a
// long document's page is recorded before every page of it has been read.
std::shared_ptr<const PdfPageRecording> recordPage(const PdfDocument& doc, PdfPageId page, int where = -1);
// Draws a recording as drawPage draws the page, on any thread. Throws PdfError.
void drawRecording(const PdfPageRecording& recording, const PdfMatrix& userToPixels, QImage& image);

} // namespace platform
