#include "Platform/PdfTextReader.h"

#include "Platform/PdfInternal.h"

#include <mutex>
#include <string>

namespace platform {
namespace {

// The store keeps a reader's fonts from page to page; pages are read once.
constexpr std::size_t readerStoreBytes = 32 << 20;

pdf_document* openReaderC(fz_context* ctx, const unsigned char* data, std::size_t size,
                          const std::shared_ptr<WatchedFile>& file, int* pages, FzError* err)
{
    pdf_document* doc = nullptr;
    fz_stream* stm = nullptr;
    fz_var(doc);
    fz_var(stm);
    fz_try(ctx) {
        stm = data ? fz_open_memory(ctx, data, size) : openWatchedStream(ctx, file);
        doc = pdf_open_document_with_stream(ctx, stm);
        *pages = pdf_count_pages(ctx, doc);
    }
    fz_always(ctx) fz_drop_stream(ctx, stm);
    fz_catch(ctx) {
        captureError(ctx, err);
        pdf_drop_document(ctx, doc);
        doc = nullptr;
    }
    return doc;
}

pdf_page* loadReaderPageC(fz_context* ctx, pdf_document* doc, int index, fz_matrix* ctm, FzError* err)
{
    pdf_page* page = nullptr;
    fz_var(page);
    fz_try(ctx) {
        page = pdf_load_page(ctx, doc, index);
        pdf_page_transform(ctx, page, nullptr, ctm);
    }
    fz_catch(ctx) {
        captureError(ctx, err);
        fz_drop_page(ctx, page ? &page->super : nullptr);
        page = nullptr;
    }
    return page;
}

} // namespace

struct PdfTextReader::Impl {
    std::shared_ptr<PageWorkRegistry> work; // the document's: its stopPageWork stops the reader too
    PrivateContext engine{readerStoreBytes};
    fz_buffer* source = nullptr;       // the shared document's bytes, kept in its engine
    std::shared_ptr<WatchedFile> file; // or the file it reads, shared with the document
    pdf_document* doc = nullptr;
    int pageCount = 0;

    ~Impl()
    {
        pdf_drop_document(engine.get(), doc);
        if (source) fz_drop_buffer(pdfContext(), source);
    }
};

PdfTextReader::PdfTextReader(std::unique_ptr<Impl> impl) : d(std::move(impl)) {}
PdfTextReader::~PdfTextReader() = default;

std::unique_ptr<PdfTextReader> PdfTextReader::open(const PdfDocument& document)
{
    auto impl = std::make_unique<Impl>();
    int expectedPages = 0;
    {
        const PdfDocument::Impl& shared = document.impl();
        std::lock_guard lock(shared.mutex);
        // A repair made while opening may have given the pages another order
        // than a fresh reading of the bytes would, before its own repair.
        if (shared.repairedAtOpen || !hasReadingSource(shared)) return nullptr;
        impl->work = shared.mutex.work();
        if (shared.source) impl->source = fz_keep_buffer(pdfContext(), shared.source);
        else impl->file = shared.watch;
        FzError err;
        expectedPages = countPagesC(pdfContext(), shared.doc, &err);
    }
    fz_context* ctx = impl->engine.get();
    FzError err;
    const unsigned char* data = impl->source ? impl->source->data : nullptr;
    const std::size_t size = impl->source ? impl->source->len : 0;
    impl->doc = openReaderC(ctx, data, size, impl->file, &impl->pageCount, &err);
    if (!impl->doc || impl->pageCount != expectedPages) return nullptr;
    return std::unique_ptr<PdfTextReader>(new PdfTextReader(std::move(impl)));
}

int PdfTextReader::pageCount() const { return d->pageCount; }

PdfTextPage PdfTextReader::textPage(int index)
{
    if (index < 0 || index >= d->pageCount)
        throw PdfError(PdfErrorCode::pageOutOfRange, "page " + std::to_string(index + 1) + " does not exist");
    fz_context* ctx = d->engine.get();
    FzError err;
    fz_matrix ctm = fz_identity;
    pdf_page* page = loadReaderPageC(ctx, d->doc, index, &ctm, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    // The reader's own document: the window never waits for it, so only a stop ends it.
    PageWork work(d->work, false);
    fz_stext_page* text = stextC(ctx, page, nullptr, work.cookie(), &err);
    fz_drop_page(ctx, &page->super);
    throwIfFailed(err, PdfErrorCode::damaged);
    PdfTextPage result;
    try {
        work.throwIfStopped();
        result = textPageOf(text, fromFz(ctm).inverted());
    } catch (...) {
        fz_drop_stext_page(ctx, text);
        throw;
    }
    fz_drop_stext_page(ctx, text);
    return result;
}

} // namespace platform
