#include "Platform/PdfPageLookups.h"

#include "Platform/PdfInternal.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<std::uint64_t>& lookups()
{
    static std::atomic<std::uint64_t> count{0};
    return count;
}

} // namespace

std::uint64_t pageLookups() { return lookups().load(std::memory_order_relaxed); }

} // namespace platform

// The link step routes the calls of these, ours and MuPDF's own outside its
// page code, here (see Platform/CMakeLists.txt).
extern "C" pdf_obj* __real_pdf_lookup_page_obj(fz_context* ctx, pdf_document* doc, int needle);
extern "C" int __real_pdf_lookup_page_number(fz_context* ctx, pdf_document* doc, pdf_obj* page);
extern "C" pdf_page* __real_pdf_load_page(fz_context* ctx, pdf_document* doc, int number);

extern "C" pdf_obj* __wrap_pdf_lookup_page_obj(fz_context* ctx, pdf_document* doc, int needle)
{
    platform::lookups().fetch_add(1, std::memory_order_relaxed);
    return __real_pdf_lookup_page_obj(ctx, doc, needle);
}

extern "C" int __wrap_pdf_lookup_page_number(fz_context* ctx, pdf_document* doc, pdf_obj* page)
{
    platform::lookups().fetch_add(1, std::memory_order_relaxed);
    return __real_pdf_lookup_page_number(ctx, doc, page);
}

extern "C" pdf_page* __wrap_pdf_load_page(fz_context* ctx, pdf_document* doc, int number)
{
    platform::lookups().fetch_add(1, std::memory_order_relaxed);
    return __real_pdf_load_page(ctx, doc, number);
}
