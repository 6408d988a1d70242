#include "Platform/PdfPageDraw.h"

#include "Platform/PdfInternal.h"

namespace platform {

struct PdfPageRecording::Impl {
    fz_display_list* list = nullptr;
    PdfMatrix userToPage; // the page's own transform when it was recorded
};

namespace {

// The image's own pixels as MuPDF sees them: RGBA bytes in rows without
// padding, or RGB bytes in rows of any length.
struct Pixels {
    unsigned char* samples;
    int w, h, stride, alpha;
};

Pixels pixelsOf(QImage& image)
{
    const int alpha = image.format() == QImage::Format_RGB888 ? 0 : 1;
    return {image.bits(), image.width(), image.height(), int(image.bytesPerLine()), alpha};
}

// Wraps the image's own pixels and draws the page, or its recording, into
// them: no copy of a possibly large bitmap.
void drawC(fz_context* ctx, pdf_page* page, fz_display_list* list, fz_matrix ctm, Pixels px, fz_cookie* cookie,
           FzError* err)
{
    fz_pixmap* pix = nullptr;
    fz_device* dev = nullptr;
    fz_var(pix);
    fz_var(dev);
    fz_try(ctx) {
        pix = fz_new_pixmap_with_data(ctx, fz_device_rgb(ctx), px.w, px.h, nullptr, px.alpha, px.stride, px.samples);
        dev = fz_new_draw_device(ctx, fz_identity, pix);
        if (list) fz_run_display_list(ctx, list, dev, ctm, fz_infinite_rect, cookie);
        else fz_run_page(ctx, &page->super, dev, ctm, cookie);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_pixmap(ctx, pix);
    }
    fz_catch(ctx) captureError(ctx, err);
}

void checkImage(const QImage& image)
{
    if (image.isNull()) throw PdfError(PdfErrorCode::general, "no image to draw into");
    if (image.format() == QImage::Format_RGB888) return;
    if (image.format() != QImage::Format_RGBA8888_Premultiplied && image.format() != QImage::Format_RGBX8888)
        throw PdfError(PdfErrorCode::general, "unsupported image format");
    if (image.bytesPerLine() != qsizetype(image.width()) * 4)
        throw PdfError(PdfErrorCode::general, "unsupported image layout");
}

} // namespace

void drawPage(const PdfDocument& doc, int index, const PdfMatrix& userToPixels, QImage& image)
{
    checkImage(image);
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    PageRef page = loadPage(d, index);
    // fz_run_page applies the page's own transform (user space to MuPDF page
    // space) first; undo it so that the caller's transform starts from user space.
    const PdfMatrix ctm = pageTransform(page.page).inverted().then(userToPixels);
    FzError err;
    // Drawn over the caller's pixels, which a second run could not take back:
    // it is never interrupted, only stopped.
    PageWork work(d, false);
    drawC(pdfContext(), page.page, nullptr, toFz(ctm), pixelsOf(image), work.cookie(), &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    work.throwIfStopped();
}

PdfPageRecording::~PdfPageRecording()
{
    fz_drop_display_list(pdfContext(), d->list);
    delete d;
}

namespace {

// With the document's lock held.
std::shared_ptr<const PdfPageRecording> record(const PdfDocument& doc, int index, PageWork& work)
{
    auto& d = doc.impl();
    const PdfPageGeometry geometry = doc.pageGeometry(index);
    PageRef page = loadPage(d, index);
    const PdfMatrix userToPage = pageTransform(page.page);
    FzError err;
    fz_display_list* list = recordPageC(pdfContext(), page.page, work.cookie(), &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    return std::make_shared<const PdfPageRecording>(new PdfPageRecording::Impl{list, userToPage}, geometry);
}

} // namespace

std::shared_ptr<const PdfPageRecording> recordPage(const PdfDocument& doc, int index)
{
    return runPageWork(doc.impl(), [&](PageWork& work) { return record(doc, index, work); });
}

std::shared_ptr<const PdfPageRecording> recordPage(const PdfDocument& doc, PdfPageId page)
{
    return runPageWork(doc.impl(), [&](PageWork& work) -> std::shared_ptr<const PdfPageRecording> {
        const std::optional<int> index = pageIndex(doc, page);
        return index ? record(doc, *index, work) : nullptr;
    });
}

void drawRecording(const PdfPageRecording& recording, const PdfMatrix& userToPixels, QImage& image)
{
    checkImage(image);
    // The list holds the page in MuPDF's page space, as fz_run_page draws it.
    const PdfMatrix ctm = recording.impl().userToPage.inverted().then(userToPixels);
    FzError err;
    drawC(pdfContext(), nullptr, recording.impl().list, toFz(ctm), pixelsOf(image), nullptr, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
}

} // namespace platform
