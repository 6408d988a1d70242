#pragma once
// Shared by the Platform sources that talk to MuPDF; never included outside Platform/.
//
// Rules for every MuPDF call:
// - fz_try is setjmp/longjmp: a function that uses it keeps no C++ object with a
//   destructor in its frame, never returns from inside the try, and lets no
//   C++ exception through it. Such functions are plain "static" C-style helpers
//   that report into an FzError, which C++ code turns into a PdfError after.
// - Each thread uses its own clone of one base context (pdfContext()).
extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

#include "Platform/PdfDocument.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace platform {

// The calling thread's MuPDF context, cloned on first use from the base context.
fz_context* pdfContext();

struct FzError {
    int code = 0; // 0: no error
    char message[256] = {};
};

inline void captureError(fz_context* ctx, FzError* err)
{
    err->code = fz_caught(ctx) ? fz_caught(ctx) : FZ_ERROR_GENERIC;
    const char* msg = fz_caught_message(ctx);
    std::strncpy(err->message, msg ? msg : "unknown error", sizeof err->message - 1);
    err->message[sizeof err->message - 1] = 0;
}

// Throws a PdfError for a captured error; does nothing when there was none.
void throwIfFailed(const FzError& err, PdfErrorCode code = PdfErrorCode::general);

inline fz_rect toFz(const PdfRect& r) { return fz_make_rect(float(r.x), float(r.y), float(r.maxX()), float(r.maxY())); }
inline PdfRect fromFz(const fz_rect& r) { return {r.x0, r.y0, double(r.x1) - r.x0, double(r.y1) - r.y0}; }
inline fz_matrix toFz(const PdfMatrix& m) { return fz_make_matrix(float(m.a), float(m.b), float(m.c), float(m.d), float(m.e), float(m.f)); }
inline PdfMatrix fromFz(const fz_matrix& m) { return {m.a, m.b, m.c, m.d, m.e, m.f}; }

struct PdfDocument::Impl {
    pdf_document* doc = nullptr;
    mutable std::recursive_mutex mutex; // one thread at a time inside MuPDF for this document
    bool passwordProtected = false; // fixed when opened
    std::atomic<bool> locked{false};
    ~Impl();
};

// Owner of a loaded page; drops it with the calling thread's context.
struct PageRef {
    pdf_page* page = nullptr;
    PageRef() = default;
    explicit PageRef(pdf_page* p) : page(p) {}
    PageRef(PageRef&& o) noexcept : page(o.page) { o.page = nullptr; }
    PageRef& operator=(PageRef&& o) noexcept { std::swap(page, o.page); return *this; }
    ~PageRef() { if (page) fz_drop_page(pdfContext(), &page->super); }
    PageRef(const PageRef&) = delete;
};

// Loads a page of a locked-by-caller document; throws PdfError.
PageRef loadPage(const PdfDocument::Impl& d, int index);

// The transform from user space to MuPDF's page space (display space in points).
PdfMatrix pageTransform(pdf_page* page);

} // namespace platform
