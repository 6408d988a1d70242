#include "QuarnKit/Pages/PageEdit.h"

#include "Platform/PdfPageEditing.h"

#include <QObject>

#include <algorithm>
#include <map>

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
        std::vector<int> indexes;
        for (const PagePlacement& placement : removed) {
            const auto found = std::find(pages.begin(), pages.end(), placement.page);
            if (found != pages.end()) indexes.push_back(int(found - pages.begin()));
        }
        std::sort(indexes.begin(), indexes.end(), std::greater<>());
        indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
        for (int index : indexes) platform::removePage(document, index);
    }
    std::vector<PagePlacement> ordered = inserted;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const PagePlacement& a, const PagePlacement& b) { return a.index < b.index; });
    for (const PagePlacement& placement : ordered) platform::insertPage(document, placement.page, placement.index);
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
