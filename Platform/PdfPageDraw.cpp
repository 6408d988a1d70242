// The one page renderer of the program: every page drawn into pixels, from
// the page itself or from its recording, goes through drawC below.
#include "Platform/PdfPageDraw.h"

#include "Platform/PdfInternal.h"

namespace platform {

struct PdfPageRecording::Impl {
    fz_display_list* list = nullptr;
    PdfMatrix userToPage; // the page's own transform when it was recorded
};

void drawC(fz_context* ctx, pdf_page* page, fz_display_list* list, fz_matrix ctm, const PixelTarget& target,
           fz_cookie* cookie, FzError* err)
{
    fz_pixmap* pix = nullptr;
    fz_device* dev = nullptr;
    fz_var(pix);
    fz_var(dev);
    fz_try(ctx) {
        // The caller's own pixels: no copy of a possibly large bitmap.
        const fz_irect box = target.bbox;
        pix = fz_new_pixmap_with_data(ctx, target.bgra ? fz_device_bgr(ctx) : fz_device_rgb(ctx), box.x1 - box.x0,
                                      box.y1 - box.y0, nullptr, target.bgra || target.alpha ? 1 : 0, target.stride,
                                      target.samples);
        pix->x = box.x0;
        pix->y = box.y0;
        if (target.clearToWhite) fz_clear_pixmap_with_value(ctx, pix, 255);
        dev = fz_new_draw_device(ctx, fz_identity, pix);
        if (list) fz_run_display_list(ctx, list, dev, ctm, fz_rect_from_irect(box), cookie);
        else runPagePartsC(ctx, &page->super, dev, ctm, cookie, 3);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_pixmap(ctx, pix);
    }
    fz_catch(ctx) captureError(ctx, err);
}

namespace {

// The pixels of an image the caller fills first, drawn over: RGBA bytes in
// rows without padding, or RGB bytes in rows of any length.
PixelTarget imageTarget(QImage& image)
{
    const bool alpha = image.format() != QImage::Format_RGB888;
    return {image.bits(), int(image.bytesPerLine()), {0, 0, image.width(), image.height()}, false, alpha, false};
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
    drawC(pdfContext(), page.page, nullptr, toFz(ctm), imageTarget(image), work.cookie(), &err);
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
    int damaged = 0;
    fz_display_list* list = recordPageC(pdfContext(), page.page, work.cookie(), &damaged, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    return std::make_shared<const PdfPageRecording>(new PdfPageRecording::Impl{list, userToPage}, geometry);
}

} // namespace

std::shared_ptr<const PdfPageRecording> recordPage(const PdfDocument& doc, int index)
{
    return runPageWork(doc.impl(), [&](PageWork& work) { return record(doc, index, work); });
}

std::shared_ptr<const PdfPageRecording> recordPage(const PdfDocument& doc, PdfPageId page, int where)
{
    return runPageWork(doc.impl(), [&](PageWork& work) -> std::shared_ptr<const PdfPageRecording> {
        const bool there = where >= 0 && page && pageIdAt(doc.impl(), where) == page;
        const std::optional<int> index = there ? std::optional(where) : pageIndex(doc, page);
        return index ? record(doc, *index, work) : nullptr;
    });
}

void drawRecording(const PdfPageRecording& recording, const PdfMatrix& userToPixels, QImage& image)
{
    checkImage(image);
    // The list holds the page in MuPDF's page space, as fz_run_page draws it.
    const PdfMatrix ctm = recording.impl().userToPage.inverted().then(userToPixels);
    FzError err;
    drawC(pdfContext(), nullptr, recording.impl().list, toFz(ctm), imageTarget(image), nullptr, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
}

} // namespace platform
