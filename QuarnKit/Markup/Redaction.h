#pragma once
// Redaction marks: opaque black Square annotations told apart from rectangle
// marks by their author. The Redacted PDF export removes what lies under them.
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Markup/MarkupGeometry.h"

#include <optional>
#include <string>
#include <vector>

namespace quarnkit {

namespace Redaction {

inline constexpr const char* author = "ravlen Redaction";
// Recognised as redactions, never written.
bool isLegacyAuthor(const std::string& name);

std::optional<platform::PdfAnnotation> mark(PdfPoint from, PdfPoint to);
bool isRedaction(const platform::PdfAnnotation& annotation);
std::vector<platform::PdfAnnotation> redactions(const platform::PdfDocument& doc, int page);
// How many redactions the listed pages hold; an index listed twice counts
// twice, one beyond the document counts nothing.
int count(const platform::PdfDocument& doc, const std::vector<int>& pages);

} // namespace Redaction

} // namespace quarnkit
