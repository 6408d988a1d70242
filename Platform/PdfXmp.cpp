#include "Platform/PdfXmp.h"

#include "Platform/PdfInternal.h"

#include <memory>

namespace platform::PdfXmp {

namespace {

pdf_obj* metadataC(fz_context* ctx, pdf_document* doc, FzError* err)
{
    pdf_obj* stream = nullptr;
    fz_var(stream);
    fz_try(ctx) {
        stream = pdf_dict_get(ctx, pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Root)), PDF_NAME(Metadata));
        if (!pdf_is_stream(ctx, stream)) stream = nullptr;
    }
    fz_catch(ctx) captureError(ctx, err);
    return stream;
}

fz_buffer* loadC(fz_context* ctx, pdf_obj* stream, FzError* err)
{
    fz_buffer* buf = nullptr;
    fz_var(buf);
    fz_try(ctx) buf = pdf_load_stream(ctx, stream);
    fz_catch(ctx) captureError(ctx, err);
    return buf;
}

void updateC(fz_context* ctx, pdf_document* doc, pdf_obj* stream, const char* data, size_t length, FzError* err)
{
    fz_buffer* buf = nullptr;
    fz_var(buf);
    fz_try(ctx) {
        buf = fz_new_buffer_from_copied_data(ctx, reinterpret_cast<const unsigned char*>(data), length);
        pdf_update_stream(ctx, doc, stream, buf, 0);
    }
    fz_always(ctx) fz_drop_buffer(ctx, buf);
    fz_catch(ctx) captureError(ctx, err);
}

} // namespace

std::optional<QByteArray> read(const PdfDocument& doc)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    if (doc.isLocked()) return std::nullopt;
    fz_context* ctx = pdfContext();
    FzError err;
    pdf_obj* stream = metadataC(ctx, d.doc, &err);
    throwIfFailed(err);
    if (!stream) return std::nullopt;
    const std::unique_ptr<fz_buffer, void (*)(fz_buffer*)> buf(loadC(ctx, stream, &err),
                                                               [](fz_buffer* b) { fz_drop_buffer(pdfContext(), b); });
    throwIfFailed(err, PdfErrorCode::damaged);
    unsigned char* data = nullptr;
    const size_t length = fz_buffer_storage(ctx, buf.get(), &data);
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(length));
}

bool write(PdfDocument& doc, const QByteArray& packet)
{
    auto& d = doc.impl();
    std::lock_guard lock(d.mutex);
    if (doc.isLocked()) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    settleBeforeEditing(d);
    fz_context* ctx = pdfContext();
    FzError err;
    pdf_obj* stream = metadataC(ctx, d.doc, &err);
    throwIfFailed(err);
    if (!stream) return false;
    updateC(ctx, d.doc, stream, packet.constData(), size_t(packet.size()), &err);
    throwIfFailed(err);
    return true;
}

} // namespace platform::PdfXmp
