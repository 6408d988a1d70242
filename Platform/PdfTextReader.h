#pragma once
// Reading the text of a document's pages on a thread of its own, apart from
// the rest of the PDF engine. Text extraction takes MuPDF's allocation lock
// several times per character (a font's reference count, each allocation):
// threads that share one engine spend more time passing that lock between
// cores than reading. A reader opens the document anew in an engine of its
// own (own allocator lock, store and caches), so several readers scale with
// the cores.
#include "Platform/PdfDocument.h"

#include <memory>

namespace platform {

class PdfTextReader {
public:
    // A reader over the very bytes or file `document` was opened from, or
    // none when it could not read what `document` shows: `document` changed
    // since it was opened, needs a password, was made rather than opened, had
    // to be repaired on opening, or its file changed on disk. The document's
    // stopPageWork stops the reader's reading too.
    static std::unique_ptr<PdfTextReader> open(const PdfDocument& document);
    ~PdfTextReader();
    PdfTextReader(const PdfTextReader&) = delete;
    PdfTextReader& operator=(const PdfTextReader&) = delete;

    int pageCount() const;
    // The text of page `index`, as `PdfDocument::textPage` reads it. One
    // thread at a time. Throws PdfError (pageOutOfRange, damaged).
    PdfTextPage textPage(int index);

    struct Impl;

private:
    explicit PdfTextReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d;
};

} // namespace platform
