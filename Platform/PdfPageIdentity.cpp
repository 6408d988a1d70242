#include "Platform/PdfPageIdentity.h"

#include "Platform/PdfInternal.h"

namespace platform {
namespace {

void countPagesC(fz_context* ctx, pdf_document* doc, int* count, FzError* err)
{
    *count = 0;
    fz_try(ctx) *count = pdf_count_pages(ctx, doc);
    fz_catch(ctx) captureError(ctx, err);
}

// The object a page dictionary was read from: a reference names it, a
// dictionary already resolved knows the object it came from.
void identifyC(fz_context* ctx, pdf_document* doc, pdf_obj* page, int* number, int* generation)
{
    if (pdf_is_indirect(ctx, page)) {
        *number = pdf_to_num(ctx, page);
        *generation = pdf_to_gen(ctx, page);
        return;
    }
    *number = pdf_obj_parent_num(ctx, page);
    // An object kept in an object stream has generation 0; its entry's
    // number there is its place in the stream.
    pdf_xref_entry* entry = *number > 0 ? pdf_get_xref_entry(ctx, doc, *number) : nullptr;
    *generation = entry && entry->type == 'n' ? entry->gen : 0;
}

// Reads the objects of every page into `out` (count entries). With the page
// tree loaded once, each look-up is direct instead of a walk of the tree.
void pageObjectsC(fz_context* ctx, pdf_document* doc, int count, int* numbers, int* generations, FzError* err)
{
    int loaded = 0;
    fz_var(loaded);
    fz_try(ctx) {
        pdf_load_page_tree(ctx, doc);
        loaded = 1;
        for (int i = 0; i < count; ++i) {
            identifyC(ctx, doc, pdf_lookup_page_obj(ctx, doc, i), &numbers[i], &generations[i]);
        }
    }
    fz_always(ctx) {
        if (loaded) pdf_drop_page_tree(ctx, doc);
    }
    fz_catch(ctx) captureError(ctx, err);
}

void pageObjectC(fz_context* ctx, pdf_document* doc, int index, int* number, int* generation, FzError* err)
{
    fz_try(ctx) {
        identifyC(ctx, doc, pdf_lookup_page_obj(ctx, doc, index), number, generation);
    }
    fz_catch(ctx) captureError(ctx, err);
}

} // namespace

PdfPageId pageId(const PdfDocument& document, int index)
{
    PdfDocument::Impl& d = document.impl();
    std::lock_guard lock(d.mutex);
    if (d.locked) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    fz_context* ctx = pdfContext();
    FzError err;
    int count = 0;
    countPagesC(ctx, d.doc, &count, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    if (index < 0 || index >= count)
        throw PdfError(PdfErrorCode::pageOutOfRange, "page " + std::to_string(index + 1) + " does not exist");
    PdfPageId id;
    pageObjectC(ctx, d.doc, index, &id.object, &id.generation, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    return id;
}

std::vector<PdfPageId> pageIds(const PdfDocument& document)
{
    PdfDocument::Impl& d = document.impl();
    std::lock_guard lock(d.mutex);
    if (d.locked) return {};
    fz_context* ctx = pdfContext();
    FzError err;
    int count = 0;
    countPagesC(ctx, d.doc, &count, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    std::vector<int> numbers(count), generations(count);
    pageObjectsC(ctx, d.doc, count, numbers.data(), generations.data(), &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    std::vector<PdfPageId> ids(count);
    for (int i = 0; i < count; ++i) ids[i] = {numbers[i], generations[i]};
    return ids;
}

std::optional<int> pageIndex(const PdfDocument& document, PdfPageId page)
{
    if (!page) return std::nullopt;
    const std::vector<PdfPageId> ids = pageIds(document);
    for (size_t i = 0; i < ids.size(); ++i)
        if (ids[i] == page) return int(i);
    return std::nullopt;
}

} // namespace platform
