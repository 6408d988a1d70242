#include "Platform/PdfPageIdentity.h"

#include "Platform/PdfInternal.h"

namespace platform {

PdfPageId pageId(const PdfDocument& document, int index)
{
    PdfDocument::Impl& d = document.impl();
    std::lock_guard lock(d.mutex);
    if (d.locked) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    const std::optional<PdfPageId> found = pageIdAt(d, index);
    if (!found) throw PdfError(PdfErrorCode::pageOutOfRange, "page " + std::to_string(index + 1) + " does not exist");
    const PdfPageId id = *found;
    if (!id) throw PdfError(PdfErrorCode::damaged, "page " + std::to_string(index + 1) + " cannot be read");
    return id;
}

std::vector<PdfPageId> pageIds(const PdfDocument& document)
{
    PdfDocument::Impl& d = document.impl();
    std::lock_guard lock(d.mutex);
    if (d.locked) return {};
    return pageMap(d).ids;
}

std::optional<int> pageIndex(const PdfDocument& document, PdfPageId page)
{
    if (!page) return std::nullopt;
    PdfDocument::Impl& d = document.impl();
    std::lock_guard lock(d.mutex);
    if (d.locked) return std::nullopt;
    const PageMap& map = pageMap(d);
    const auto found = map.indexByObject.find(page.object);
    if (found == map.indexByObject.end() || map.ids[size_t(found->second)] != page) return std::nullopt;
    return found->second;
}

} // namespace platform
