#pragma once
// The marks round trip of ravlen-stress: one mark of each kind put on the
// first page, saved, read back and compared, then deleted and saved again.
#include "Platform/PdfDocument.h"

#include <functional>
#include <string>

namespace stress {

// Runs the round trip on `doc` (left edited) and returns how many marks went
// through it; 0 for a document without pages. `step` is told of each stage.
// Throws std::runtime_error naming what came back wrong.
int roundTripMarks(platform::PdfDocument& doc, const std::function<void(const std::string&)>& step);

} // namespace stress
