#include "Platform/PdfPageDraw.h"

#include "Platform/PdfInternal.h"

namespace platform {

namespace {

// Wraps the image's own pixels (RGBA bytes, rows without padding) and draws the
// page into them: no copy of a possibly large bitmap.
void drawC(fz_context* ctx, pdf_page* page, fz_matrix ctm, unsigned char* samples, int w, int h, FzError* err)
{
    fz_pixmap* pix = nullptr;
    fz_device* dev = nullptr;
    fz_var(pix);
    fz_var(dev);
    fz_try(ctx) {
        pix = fz_new_pixmap_with_data(ctx, fz_device_rgb(ctx), w, h, nullptr, 1, w * 4, samples);
        dev = fz_new_draw_device(ctx, fz_identity, pix);
        fz_run_page(ctx, &page->super, dev, ctm, nullptr);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_pixmap(ctx, pix);
    }
    fz_catch(ctx) captureError(ctx, err);
}

} // namespace

void drawPage(const PdfDocument& doc, int index, const PdfMatrix& userToPixels, QImage& image)
{
    if (image.isNull()) throw PdfError(PdfErrorCode::general, "no image to draw into");
    if (image.format() != QImage::Format_RGBA8888_Premultiplied && image.format() != QImage::Format_RGBX8888)
        throw PdfError(PdfErrorCode::general, "unsupported image format");
    if (image.bytesPerLine() != qsizetype(image.width()) * 4)
        throw PdfError(PdfErrorCode::general, "unsupported image layout");
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    PageRef page = loadPage(d, index);
    // fz_run_page applies the page's own transform (user space to MuPDF page
    // space) first; undo it so that the caller's transform starts from user space.
    const PdfMatrix ctm = pageTransform(page.page).inverted().then(userToPixels);
    FzError err;
    drawC(pdfContext(), page.page, toFz(ctm), image.bits(), image.width(), image.height(), &err);
    throwIfFailed(err, PdfErrorCode::damaged);
}

} // namespace platform
