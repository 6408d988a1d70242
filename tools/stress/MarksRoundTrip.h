#pragma once
// The marks round trip of ravlen-stress: one mark of each kind put on the
// first page, saved, read back and compared, then deleted and saved again.
#include "Platform/PdfDocument.h"

#include <functional>
#include <stdexcept>
#include <string>

namespace stress {

// A signed file is saved as an incremental update, and so is a file whose
// objects ravlen cannot read as other readers do (the update keeps them as
// the file holds them): the revision before the update keeps the marks
// deleted in it, by design, not a fault of the round trip.
struct KeptInEarlierRevision : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Runs the round trip on `doc` (left edited) and returns how many marks went
// through it; 0 for a document without pages. `step` is told of each stage,
// `written` of each copy it writes ("with its marks", "with the marks
// deleted") before it reads it back, to judge it as readers other than ravlen
// read it. Throws std::runtime_error naming what came back wrong,
// KeptInEarlierRevision when only the revision that the save with the marks
// deleted appended its update to still holds them.
int roundTripMarks(platform::PdfDocument& doc, const std::function<void(const std::string&)>& step,
                   const std::function<void(const std::string&, const QByteArray&)>& written);

} // namespace stress
