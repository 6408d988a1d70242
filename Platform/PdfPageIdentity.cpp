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

// Reads the objects of every page by walking the page tree once, depth
// first, as MuPDF counts pages. Returns false when the tree is not a plain
// one (too deep, a loop, a page that is no object of its own, another count):
// the caller then looks each page up.
int walkPagesC(fz_context* ctx, pdf_document* doc, int count, int* numbers, int* generations, FzError* err)
{
    enum { maxDepth = 64 };
    int plain = 1, found = 0;
    fz_var(plain);
    fz_var(found);
    fz_try(ctx) {
        pdf_obj* nodes[maxDepth];
        int next[maxDepth];
        int depth = 0, visits = 0;
        nodes[0] = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Pages");
        next[0] = 0;
        depth = 1;
        while (depth > 0 && plain) {
            pdf_obj* kids = pdf_dict_get(ctx, nodes[depth - 1], PDF_NAME(Kids));
            const int i = next[depth - 1]++;
            if (i >= pdf_array_len(ctx, kids)) {
                --depth;
                continue;
            }
            if (++visits > 4 * count + 64) {
                plain = 0;
                break;
            }
            pdf_obj* kid = pdf_array_get(ctx, kids, i);
            if (pdf_is_array(ctx, pdf_dict_get(ctx, kid, PDF_NAME(Kids)))) {
                if (depth == maxDepth) {
                    plain = 0;
                    break;
                }
                nodes[depth] = kid;
                next[depth] = 0;
                ++depth;
            } else if (!pdf_is_indirect(ctx, kid) || found >= count) {
                plain = 0;
            } else {
                numbers[found] = pdf_to_num(ctx, kid);
                generations[found] = pdf_to_gen(ctx, kid);
                ++found;
            }
        }
    }
    fz_catch(ctx) {
        captureError(ctx, err);
        plain = 0;
    }
    return plain && found == count;
}

void pageObjectsC(fz_context* ctx, pdf_document* doc, int count, int* numbers, int* generations, FzError* err)
{
    fz_try(ctx) {
        for (int i = 0; i < count; ++i)
            identifyC(ctx, doc, pdf_lookup_page_obj(ctx, doc, i), &numbers[i], &generations[i]);
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
    FzError walked;
    if (!walkPagesC(ctx, d.doc, count, numbers.data(), generations.data(), &walked)) {
        pageObjectsC(ctx, d.doc, count, numbers.data(), generations.data(), &err);
        throwIfFailed(err, PdfErrorCode::damaged);
    }
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
