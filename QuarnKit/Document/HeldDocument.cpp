#include "QuarnKit/Document/HeldDocument.h"

#include "QuarnKit/Document/DocumentEngine.h"

namespace quarnkit {

HeldDocument::HeldDocument(const QuarnDocument& document) : pdf_(pdfOf(document)) {}

QByteArray HeldDocument::snapshot() const { return snapshotOf(*pdf_); }

QByteArray HeldDocument::shareCopy(bool lossAccepted) const
{
    if (copyNeedsLossQuestion(*pdf_, lossAccepted))
        throw DocumentError(DocumentError::Code::fileWriteCopyShowsLess, "the copy may show less than the file");
    return snapshot();
}

} // namespace quarnkit
