#pragma once
// Page views of PDFs that no window holds, for the tests of the page view and
// of the parts it hosts.
#include "Platform/PdfDocument.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <memory>

namespace testsupport {

// Shows `pdf` in `view` through a document of the view's own (a child of the
// view); none clears the view.
inline quarnkit::QuarnDocument* showPdf(quarn::QuarnPDFView& view, std::shared_ptr<platform::PdfDocument> pdf)
{
    auto* document = pdf ? new quarnkit::QuarnDocument(std::move(pdf), &view) : nullptr;
    view.load(document);
    return document;
}

} // namespace testsupport
