#include "QuarnKit/Document/HeldDocument.h"

#include "QuarnKit/Document/DocumentEngine.h"

namespace quarnkit {

HeldDocument::HeldDocument(const QuarnDocument& document) : pdf_(pdfOf(document)) {}

QByteArray HeldDocument::snapshot() const { return snapshotOf(*pdf_); }

} // namespace quarnkit
