#pragma once
// The PDF engine's document behind a QuarnDocument, for QuarnKit's own code
// (and the tests and tools that check what it wrote). The application reaches
// the PDF through QuarnKit's functions, which take the QuarnDocument: this
// header stops its build, so no view can read or write the engine's document
// around the undo stack and the change signal.
#ifndef QUARNKIT_INTERNAL
#error "QuarnKit/Document/DocumentEngine.h is QuarnKit's own: call a QuarnKit function that takes the QuarnDocument"
#endif
#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/HeldDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <memory>

namespace quarnkit {

struct DocumentEngine {
    // Constant for the document's life; edits change it in place.
    static const std::shared_ptr<platform::PdfDocument>& of(const QuarnDocument& document) { return document.pdf_; }
    static const std::shared_ptr<platform::PdfDocument>& of(const HeldDocument& held) { return held.pdf_; }
};

inline const std::shared_ptr<platform::PdfDocument>& pdfOf(const QuarnDocument& document)
{
    return DocumentEngine::of(document);
}

inline const std::shared_ptr<platform::PdfDocument>& pdfOf(const HeldDocument& held)
{
    return DocumentEngine::of(held);
}

} // namespace quarnkit
