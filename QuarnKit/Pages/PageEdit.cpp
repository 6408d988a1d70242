#include "QuarnKit/Pages/PageEdit.h"

#include "Platform/PdfPageEditing.h"

#include <QObject>

#include <algorithm>
#include <map>
#include <unordered_map>

namespace quarnkit {

PageEdit PageEdit::inverse() const
{
    PageEdit inverse{inserted, removed, rotations, {layers.to, layers.from}};
    for (PageRotation& rotation : inverse.rotations) std::swap(rotation.from, rotation.to);
    return inverse;
}

std::set<int> PageEdit::insertedIndexes() const
{
    std::set<int> indexes;
    for (const PagePlacement& placement : inserted) indexes.insert(placement.index);
    return indexes;
}

int PageEdit::pageCount() const { return int(std::max({removed.size(), inserted.size(), rotations.size()})); }

void PageEdit::apply(platform::PdfDocument& document) const
{
    if (!removed.empty()) {
        const std::vector<platform::PdfPageId> pages = platform::pageIds(document);
        std::unordered_map<int, int> byObject; // a page listed twice is found at its first place
        for (int i = int(pages.size()) - 1; i >= 0; --i) byObject[pages[size_t(i)].object] = i;
        std::vector<int> indexes;
        for (const PagePlacement& placement : removed) {
            const auto found = byObject.find(placement.page.object);
            if (found != byObject.end() && pages[size_t(found->second)] == placement.page)
                indexes.push_back(found->second);
        }
        // One walk of the document for what leads to them, however many.
        if (!indexes.empty()) platform::removePages(document, std::move(indexes));
    }
    std::vector<PagePlacement> ordered = inserted;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const PagePlacement& a, const PagePlacement& b) { return a.index < b.index; });
    std::vector<std::pair<platform::PdfPageId, int>> placements;
    for (const PagePlacement& placement : ordered) placements.emplace_back(placement.page, placement.index);
    if (!placements.empty()) platform::insertPages(document, placements);
    for (const PageRotation& rotation : rotations) {
        try {
            platform::setPageRotation(document, rotation.page, rotation.to);
        } catch (const platform::PdfError& error) {
            if (error.code() != platform::PdfErrorCode::pageOutOfRange) throw;
        }
    }
    if (layers) platform::setLayerSettings(document, layers.to);
}

PageEditError::PageEditError(Code code, const QString& name)
    : std::runtime_error(describe(code, name).toStdString()), code_(code), name_(name)
{}

QString PageEditError::description() const { return describe(code_, name_); }

QString PageEditError::describe(Code code, const QString& name)
{
    switch (code) {
    case Code::locked: return QObject::tr("“%1” is locked with a password, so ravlen can't add its pages.").arg(name);
    case Code::unreadable: return QObject::tr("ravlen couldn't read “%1”.").arg(name);
    case Code::unsupported:
        return QObject::tr("“%1” isn't a PDF or an image. ravlen adds PDF, PNG, JPEG, HEIC, and TIFF files.").arg(name);
    case Code::lastPage: return QObject::tr("A PDF needs at least one page.");
    }
    return {};
}

} // namespace quarnkit
