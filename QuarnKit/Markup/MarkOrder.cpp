#include "QuarnKit/Markup/MarkOrder.h"

#include "QuarnKit/Markup/AnnotationFactory.h"

#include <algorithm>

namespace quarnkit::MarkOrder {

using platform::PdfAnnotation;

std::vector<PdfAnnotation> stack(const platform::PdfDocument& doc, int page)
{
    auto all = platform::PdfAnnotations::list(doc, page);
    std::erase_if(all, [](const PdfAnnotation& a) { return AnnotationFactory::matches(a, "Popup"); });
    return all;
}

std::vector<int> numbers(const std::vector<PdfAnnotation>& stack)
{
    std::vector<int> out;
    for (const auto& a : stack) out.push_back(a.objectNumber);
    return out;
}

std::optional<std::vector<int>> toFront(const std::vector<PdfAnnotation>& stack, int objectNumber)
{
    auto s = numbers(stack);
    const auto it = std::find(s.begin(), s.end(), objectNumber);
    if (it == s.end() || objectNumber <= 0 || it == s.end() - 1) return std::nullopt;
    s.erase(it);
    s.push_back(objectNumber);
    return s;
}

std::optional<std::vector<int>> toBack(const std::vector<PdfAnnotation>& stack, int objectNumber)
{
    auto s = numbers(stack);
    const auto it = std::find(s.begin(), s.end(), objectNumber);
    if (it == s.end() || objectNumber <= 0) return std::nullopt;
    const long i = it - s.begin();
    const auto firstMark =
        std::find_if(stack.begin(), stack.end(), [](const PdfAnnotation& a) { return AnnotationFactory::isMarkup(a); });
    const long j = firstMark == stack.end() ? 0 : firstMark - stack.begin();
    if (j >= i) return std::nullopt;
    s.erase(it);
    s.insert(s.begin() + j, objectNumber);
    return s;
}

bool restore(platform::PdfDocument& doc, int page, const std::vector<int>& order)
{
    const auto current = numbers(stack(doc, page));
    for (int number : order)
        if (std::find(current.begin(), current.end(), number) == current.end()) return false;
    size_t k = 0;
    while (k < current.size() && k < order.size() && current[k] == order[k]) ++k;
    if (k >= std::max(current.size(), order.size())) return true;
    const std::vector<int> tail(order.begin() + long(k), order.end());
    for (size_t i = k; i < current.size(); ++i)
        if (std::find(tail.begin(), tail.end(), current[i]) == tail.end())
            platform::PdfAnnotations::remove(doc, page, current[i]);
    return platform::PdfAnnotations::replaceTail(doc, page, tail);
}

} // namespace quarnkit::MarkOrder
