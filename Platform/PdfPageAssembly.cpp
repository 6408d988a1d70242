#include "Platform/PdfPageAssembly.h"

#include "Platform/PdfInternal.h"

#include <mutex>

namespace platform {
namespace {

// Grafts the pages through one map, so that a resource used by several of
// them is copied once. Stops at the first failure; pages grafted before it stay.
void graftPagesC(fz_context* ctx, pdf_document* dst, pdf_document* src, int from, int count, FzError* err)
{
    pdf_graft_map* map = nullptr;
    fz_var(map);
    fz_try(ctx) {
        map = pdf_new_graft_map(ctx, dst);
        for (int i = 0; i < count; ++i)
            pdf_graft_mapped_page(ctx, map, -1, src, from + i);
    }
    fz_always(ctx) pdf_drop_graft_map(ctx, map);
    fz_catch(ctx) captureError(ctx, err);
}

int countPagesC(fz_context* ctx, pdf_document* doc, FzError* err)
{
    int n = 0;
    fz_try(ctx) n = pdf_count_pages(ctx, doc);
    fz_catch(ctx) { captureError(ctx, err); n = 0; }
    return n;
}

} // namespace

void appendPages(PdfDocument& target, const PdfDocument& source, int from, int count)
{
    if (&target == &source) {
        // A graft map copies between two documents; pages of the document
        // itself are taken from a snapshot of it.
        const auto snapshot = source.copy();
        appendPages(target, *snapshot, from, count);
        return;
    }
    std::scoped_lock lock(target.impl().mutex, source.impl().mutex);
    PdfDocument::Impl& dst = target.impl();
    const PdfDocument::Impl& src = source.impl();
    if (dst.locked || src.locked) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    fz_context* ctx = pdfContext();
    FzError err;
    const int sourcePages = countPagesC(ctx, src.doc, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    if (count < 0 || from < 0 || from > sourcePages - count)
        throw PdfError(PdfErrorCode::pageOutOfRange, "pages " + std::to_string(from + 1) + "–"
                           + std::to_string(from + count) + " are not all in the document");
    if (count == 0) return;
    graftPagesC(ctx, dst.doc, src.doc, from, count, &err);
    // Even a failed graft may have added pages: the target has changed either way,
    // and its page count is the one a save expects from now on.
    dst.revision++;
    FzError countErr;
    dst.expectedPageCount = countPagesC(ctx, dst.doc, &countErr);
    throwIfFailed(err, PdfErrorCode::damaged);
}

} // namespace platform
