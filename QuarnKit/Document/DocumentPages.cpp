#include "QuarnKit/Document/DocumentPages.h"

#include "Platform/PdfPageGeometries.h"
#include "Platform/PdfPageLabels.h"
#include "QuarnKit/Document/DocumentEngine.h"

namespace quarnkit::DocumentPages {

std::vector<PageId> ids(const QuarnDocument& document) { return platform::pageIds(*pdfOf(document)); }

PageGeometry geometry(const QuarnDocument& document, int page) { return pdfOf(document)->pageGeometry(page); }

std::vector<std::optional<PageGeometry>> geometries(const QuarnDocument& document, int first)
{
    return platform::firstPageGeometries(*pdfOf(document), first);
}

std::vector<QString> labels(const QuarnDocument& document)
{
    const auto ranges = platform::pageLabelRanges(*pdfOf(document));
    std::vector<QString> result;
    const int count = document.pageCount();
    result.reserve(size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        const QString label = QString::fromStdString(platform::pageLabel(ranges, i)).trimmed();
        result.push_back(label == QString::number(i + 1) ? QString() : label);
    }
    return result;
}

std::vector<PageLink> links(const QuarnDocument& document, int page) { return pdfOf(document)->links(page); }

QImage image(const QuarnDocument& document, int page, double scale) { return pdfOf(document)->render(page, scale); }

} // namespace quarnkit::DocumentPages
