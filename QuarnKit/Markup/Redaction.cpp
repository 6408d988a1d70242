#include "QuarnKit/Markup/Redaction.h"

#include "QuarnKit/Markup/AnnotationFactory.h"

namespace quarnkit {

namespace Redaction {

bool isLegacyAuthor(const std::string& name) { return name == "Quarn Redaction"; }

std::optional<platform::PdfAnnotation> mark(PdfPoint from, PdfPoint to)
{
    const PdfRect rect = MarkupGeometry::rect(from, to);
    if (rect.width < 3 || rect.height < 3) return std::nullopt;
    platform::PdfAnnotation a;
    a.subtype = "Square";
    a.rect = rect;
    a.color = platform::PdfColor{0, 0, 0};
    a.interiorColor = platform::PdfColor{0, 0, 0};
    a.interiorOpacity = 1;
    a.borderWidth = 0;
    a.author = std::string(author);
    a.contents = "Redaction";
    return a;
}

bool isRedaction(const platform::PdfAnnotation& a)
{
    return a.author && (*a.author == author || isLegacyAuthor(*a.author)) && AnnotationFactory::matches(a, "Square");
}

std::vector<platform::PdfAnnotation> redactions(const platform::PdfDocument& doc, int page)
{
    std::vector<platform::PdfAnnotation> out;
    try {
        for (auto& a : platform::PdfAnnotations::list(doc, page))
            if (isRedaction(a)) out.push_back(std::move(a));
    } catch (const platform::PdfError&) {
        return {};
    }
    return out;
}

int count(const platform::PdfDocument& doc, const std::vector<int>& pages)
{
    const int pageCount = doc.pageCount();
    int total = 0;
    for (int p : pages)
        if (p >= 0 && p < pageCount) total += int(redactions(doc, p).size());
    return total;
}

} // namespace Redaction

} // namespace quarnkit
