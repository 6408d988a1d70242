#pragma once
// A document's PDF held for work on a worker thread (the copy Share writes,
// the bytes Export reads). Taken on the application's thread, it keeps the
// PDF itself, not the window's document, so the window may close while the
// work runs; the work sees the PDF as it stands when it reads it.
#include "QuarnKit/Document/QuarnDocument.h"

#include <QByteArray>

#include <memory>

namespace quarnkit {

class HeldDocument {
public:
    explicit HeldDocument(const QuarnDocument& document);

    // The whole PDF as QuarnDocument::snapshot makes it, on any thread.
    // Throws DocumentError(fileWriteUnknown) when there are no bytes.
    QByteArray snapshot() const;
    // The working copy Share hands on: the snapshot, unless the user must
    // be asked first (copyNeedsLossQuestion): DocumentError(fileWriteCopyShowsLess).
    QByteArray shareCopy(bool lossAccepted) const;

private:
    friend struct DocumentEngine;
    std::shared_ptr<platform::PdfDocument> pdf_;
};

} // namespace quarnkit
