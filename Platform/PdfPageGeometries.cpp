#include "Platform/PdfPageGeometries.h"

#include "Platform/PdfInternal.h"

namespace platform {

std::vector<std::optional<PdfPageGeometry>> pageGeometries(const PdfDocument& document)
{
    PdfDocument::Impl& d = document.impl();
    std::lock_guard lock(d.mutex);
    if (d.locked) return {};
    return pageMap(d).geometries;
}

} // namespace platform
