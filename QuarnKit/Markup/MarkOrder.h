#pragma once
// The stacking order of a page's marks: its /Annots order, last on top. The
// orders a mark is raised or lowered to are worked out here; the undo step
// that restores an order writes it.
#include "Platform/PdfAnnotations.h"

#include <optional>
#include <vector>

namespace quarnkit::MarkOrder {

// The page's annotations in order, without popups.
std::vector<platform::PdfAnnotation> stack(const platform::PdfDocument& doc, int page);
// The object numbers of a stack, in its order.
std::vector<int> numbers(const std::vector<platform::PdfAnnotation>& stack);
// The order with the mark on top; none when it is on top already or not on the page.
std::optional<std::vector<int>> toFront(const std::vector<platform::PdfAnnotation>& stack, int objectNumber);
// The order with the mark behind every other mark, yet above the links and
// widgets before the first mark; none when it stands there already.
std::optional<std::vector<int>> toBack(const std::vector<platform::PdfAnnotation>& stack, int objectNumber);
// Makes the stack equal `order` (object numbers), rewriting only the tail from
// the first difference. False, and nothing changed, when `order` names a mark
// that is not on the page.
bool restore(platform::PdfDocument& doc, int page, const std::vector<int>& order);

} // namespace quarnkit::MarkOrder
