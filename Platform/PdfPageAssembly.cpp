#include "Platform/PdfPageAssembly.h"

#include "Platform/PdfLayers.h"

#include <algorithm>
#include <mutex>

namespace platform {
namespace {

// Grafts the pages through one map, so that a resource used by several of
// them is copied once, with the layers they name. Stops at the first
// failure; pages grafted before it stay, and name the document's layers.
void graftPagesC(fz_context* ctx, pdf_document* dst, pdf_document* src, int from, int count, FzError* err)
{
    LayerGraft graft;
    fz_var(graft);
    fz_try(ctx) {
        beginLayerGraftC(ctx, dst, src, &graft);
        for (int i = 0; i < count; ++i) pdf_graft_mapped_page(ctx, graft.map, -1, src, from + i);
    }
    fz_catch(ctx) captureError(ctx, err);
    fz_try(ctx) endLayerGraftC(ctx, dst, graft);
    fz_always(ctx) dropLayerGraftC(ctx, &graft);
    fz_catch(ctx) {
        if (!err->code) captureError(ctx, err);
    }
}

// Deletes the pages flagged in `drop` (one flag per page), last first so that
// the indices of the pages still to go do not shift; the object number and
// generation of each page deleted go into `nums` and `gens` at its index.
void dropPagesC(fz_context* ctx, pdf_document* doc, const unsigned char* drop, int count, int* nums, int* gens,
                FzError* err)
{
    fz_try(ctx) {
        for (int page = count - 1; page >= 0; --page)
            if (drop[page]) {
                pdf_obj* obj = pdf_lookup_page_obj(ctx, doc, page);
                nums[page] = pdf_to_num(ctx, obj);
                gens[page] = pdf_to_gen(ctx, obj);
                pdf_delete_page(ctx, doc, page);
            }
    }
    fz_catch(ctx) captureError(ctx, err);
}

// The page object is kept while it is out of the tree, so the same object goes back in.
void movePageC(fz_context* ctx, pdf_document* doc, int from, int to, FzError* err)
{
    pdf_obj* page = nullptr;
    fz_var(page);
    fz_try(ctx) {
        page = pdf_keep_obj(ctx, pdf_lookup_page_obj(ctx, doc, from));
        pdf_delete_page(ctx, doc, from);
        pdf_insert_page(ctx, doc, to, page);
    }
    fz_always(ctx) pdf_drop_obj(ctx, page);
    fz_catch(ctx) captureError(ctx, err);
}

} // namespace

void keepPages(PdfDocument& doc, const std::vector<int>& pages)
{
    std::scoped_lock lock(doc.impl().mutex);
    PdfDocument::Impl& d = doc.impl();
    settleBeforeEditing(d);
    if (d.locked) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    // Asked before any page goes out, as removePages asks it.
    signedDocument(d);
    fz_context* ctx = pdfContext();
    FzError err;
    const int count = countPagesC(ctx, d.doc, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    std::vector<unsigned char> drop(size_t(std::max(count, 0)), 1);
    for (const int page : pages)
        if (page >= 0 && page < count) drop[size_t(page)] = 0;
    pageTreeChanged(d);
    std::vector<int> nums(drop.size(), 0), gens(drop.size(), 0);
    dropPagesC(ctx, d.doc, drop.data(), count, nums.data(), gens.data(), &err);
    // The page count a save expects from now on, also after a failure part way.
    pageTreeChanged(d);
    std::vector<PdfPageId> gone;
    for (size_t page = 0; page < nums.size(); ++page)
        if (nums[page] > 0) gone.push_back({nums[page], gens[page]});
    holdReferences(d, gone);
    throwIfFailed(err, PdfErrorCode::damaged);
}

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
    settleBeforeEditing(dst);
    if (dst.locked || src.locked) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    fz_context* ctx = pdfContext();
    FzError err;
    const int sourcePages = countPagesC(ctx, src.doc, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    if (count < 0 || from < 0 || from > sourcePages - count)
        throw PdfError(PdfErrorCode::pageOutOfRange, "pages " + std::to_string(from + 1) + "–"
                                                         + std::to_string(from + count)
                                                         + " are not all in the document");
    if (count == 0) return;
    pageTreeChanged(dst);
    inheritOrigins(dst, src);
    graftPagesC(ctx, dst.doc, src.doc, from, count, &err);
    // Even a failed graft may have added pages: the page count now is the one
    // a save expects from now on.
    FzError countErr;
    dst.expectedPageCount = countPagesC(ctx, dst.doc, &countErr);
    throwIfFailed(err, PdfErrorCode::damaged);
}

void movePage(PdfDocument& document, int from, int to)
{
    PdfDocument::Impl& d = document.impl();
    std::lock_guard lock(d.mutex);
    settleBeforeEditing(d);
    if (d.locked) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    fz_context* ctx = pdfContext();
    FzError err;
    const int count = countPagesC(ctx, d.doc, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    for (int index : {from, to})
        if (index < 0 || index >= count)
            throw PdfError(PdfErrorCode::pageOutOfRange, "page " + std::to_string(index + 1) + " does not exist");
    if (from == to) return;
    pageTreeChanged(d);
    movePageC(ctx, d.doc, from, to, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
}

} // namespace platform
