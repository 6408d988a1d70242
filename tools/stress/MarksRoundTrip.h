#pragma once
// The marks round trip of ravlen-stress: one mark of each kind put on the
// first page, saved, read back and compared, then deleted and saved again.
#include "Platform/PdfDocument.h"

#include <functional>
#include <stdexcept>
#include <string>

namespace stress {

// A signed file is saved as an incremental update, so its signed revision
// keeps the marks deleted later: by design, not a fault of the round trip.
struct KeptInSignedRevision : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Runs the round trip on `doc` (left edited) and returns how many marks went
// through it; 0 for a document without pages. `step` is told of each stage,
// `written` of each copy it writes ("with its marks", "with the marks
// deleted") before it reads it back, to judge it as readers other than ravlen
// read it. Throws std::runtime_error naming what came back wrong,
// KeptInSignedRevision when only a signed file's earlier revision still
// holds the deleted marks.
int roundTripMarks(platform::PdfDocument& doc, const std::function<void(const std::string&)>& step,
                   const std::function<void(const std::string&, const QByteArray&)>& written);

} // namespace stress
