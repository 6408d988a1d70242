#include "QuarnKit/Pages/PageEditor.h"

#include "Platform/PdfImagePages.h"
#include "Platform/PdfPageEditing.h"

#include <QFileInfo>
#include <QObject>

#include <algorithm>
#include <cmath>
#include <map>

namespace quarnkit::PageEditor {

using platform::PdfDocument;
using platform::PdfPageId;

namespace {

// The targets that name pages of the document now, in ascending order.
std::vector<PagePlacement> placements(const std::set<int>& indexes, const PdfDocument& document)
{
    const std::vector<PdfPageId> pages = platform::pageIds(document);
    std::vector<PagePlacement> result;
    for (int index : indexes)
        if (index >= 0 && index < int(pages.size()) && pages[size_t(index)])
            result.push_back({pages[size_t(index)], index});
    return result;
}

PageEdit applied(PageEdit edit, PdfDocument& document)
{
    edit.apply(document);
    return edit;
}

// Inserts pages made in the document (not yet in its tree) from the gap on.
PageEdit insertMade(const std::vector<PdfPageId>& made, int gap, PdfDocument& document)
{
    const int start = std::clamp(gap, 0, document.pageCount());
    PageEdit edit;
    for (size_t k = 0; k < made.size(); ++k) edit.inserted.push_back({made[k], start + int(k)});
    return applied(std::move(edit), document);
}

} // namespace

const QStringList& imageSuffixes()
{
    static const QStringList suffixes{"png", "jpg", "jpeg", "jpe", "heic", "heif", "tif", "tiff"};
    return suffixes;
}

std::set<int> targets(const std::set<int>& selected, int current, int count)
{
    if (count < 1) return {};
    std::set<int> result;
    for (int index : selected)
        if (index >= 0 && index < count) result.insert(index);
    if (result.empty()) result.insert(std::min(count - 1, std::max(0, current)));
    return result;
}

QString title(const QString& verb, int count, bool opensPanel)
{
    const QString pages = count == 1 ? QObject::tr("Page") : QObject::tr("%1 Pages").arg(count);
    return verb + QLatin1Char(' ') + pages + (opensPanel ? QStringLiteral("…") : QString());
}

QString extractFileName(const QString& base, const std::set<int>& pages)
{
    std::vector<int> numbers;
    for (int index : pages) numbers.push_back(index + 1);
    if (numbers.empty()) return base + QStringLiteral(".pdf");
    if (numbers.size() == 1) return base + QStringLiteral(" page %1.pdf").arg(numbers.front());
    const int first = numbers.front(), last = numbers.back();
    if (last - first + 1 == int(numbers.size())) return base + QStringLiteral(" pages %1-%2.pdf").arg(first).arg(last);
    if (numbers.size() <= 5) {
        QStringList parts;
        for (int n : numbers) parts << QString::number(n);
        return base + QStringLiteral(" pages ") + parts.join(QStringLiteral(", ")) + QStringLiteral(".pdf");
    }
    return base + QStringLiteral(" %1 pages.pdf").arg(numbers.size());
}

std::optional<PageEdit> rotate(const std::set<int>& indexes, int degrees, PdfDocument& document)
{
    const std::vector<PagePlacement> targets = placements(indexes, document);
    if (targets.empty()) return std::nullopt;
    PageEdit edit;
    for (const PagePlacement& placement : targets) {
        const int from = platform::pageRotation(document, placement.page);
        int to = (from + degrees) % 360;
        if (to < 0) to += 360;
        edit.rotations.push_back({placement.page, from, to});
    }
    return applied(std::move(edit), document);
}

std::optional<PageEdit> deletePages(const std::set<int>& indexes, PdfDocument& document)
{
    std::vector<PagePlacement> targets = placements(indexes, document);
    if (targets.empty()) return std::nullopt;
    if (int(targets.size()) >= document.pageCount()) throw PageEditError(PageEditError::Code::lastPage);
    return applied(PageEdit{std::move(targets), {}, {}, {}}, document);
}

std::set<int> movedIndexes(const std::set<int>& indexes, int gap)
{
    const int below = int(std::count_if(indexes.begin(), indexes.end(), [&](int i) { return i < std::max(gap, 0); }));
    const int start = gap - below;
    std::set<int> moved;
    for (int k = 0; k < int(indexes.size()); ++k) moved.insert(start + k);
    return moved;
}

std::optional<PageEdit> move(const std::set<int>& indexes, int gap, PdfDocument& document)
{
    std::vector<PagePlacement> targets = placements(indexes, document);
    if (targets.empty()) return std::nullopt;
    std::set<int> from;
    for (const PagePlacement& placement : targets) from.insert(placement.index);
    const std::set<int> to = movedIndexes(from, std::clamp(gap, 0, document.pageCount()));
    if (to == from) return std::nullopt;
    PageEdit edit;
    auto destination = to.begin();
    for (const PagePlacement& placement : targets) edit.inserted.push_back({placement.page, *destination++});
    edit.removed = std::move(targets);
    return applied(std::move(edit), document);
}

std::optional<PageEdit> duplicate(const std::set<int>& indexes, PdfDocument& document)
{
    const std::vector<PagePlacement> targets = placements(indexes, document);
    if (targets.empty()) return std::nullopt;
    std::vector<int> sources;
    for (const PagePlacement& placement : targets) sources.push_back(placement.index);
    platform::PdfLayerChange layers;
    const std::vector<PdfPageId> copies = platform::copyPages(document, sources, &layers);
    if (copies.empty()) return std::nullopt;
    PageEdit edit = insertMade(copies, targets.back().index + 1, document);
    edit.layers = layers;
    return edit;
}

std::optional<PageEdit> insert(const std::vector<SourcePage>& pages, int gap, PdfDocument& document)
{
    if (pages.empty()) return std::nullopt;
    // One graft per source document, then the copies back in the order asked.
    std::map<const PdfDocument*, std::vector<size_t>> bySource;
    for (size_t k = 0; k < pages.size(); ++k)
        if (pages[k].document) bySource[pages[k].document.get()].push_back(k);
    std::vector<PdfPageId> made(pages.size());
    // Each graft starts from the layer settings the one before left; when
    // no page comes in after all, the settings found are put back.
    platform::PdfLayerChange layers;
    try {
        for (const auto& [source, positions] : bySource) {
            std::vector<int> indexes;
            for (size_t k : positions) indexes.push_back(pages[k].index);
            platform::PdfLayerChange change;
            const std::vector<PdfPageId> copies = platform::graftPages(document, *source, indexes, &change);
            for (size_t j = 0; j < positions.size() && j < copies.size(); ++j) made[positions[j]] = copies[j];
            if (change) layers = {layers ? layers.from : change.from, change.to};
        }
    } catch (const platform::PdfError&) {
        if (layers) platform::setLayerSettings(document, layers.from);
        throw;
    }
    made.erase(std::remove(made.begin(), made.end(), PdfPageId{}), made.end());
    if (made.empty()) {
        if (layers) platform::setLayerSettings(document, layers.from);
        return std::nullopt;
    }
    PageEdit edit = insertMade(made, gap, document);
    edit.layers = layers;
    return edit;
}

platform::PdfSize blankPageSize(const std::optional<platform::PdfPageGeometry>& neighbour)
{
    if (!neighbour) return {612, 792};
    const platform::PdfRect& crop = neighbour->cropBox;
    const platform::PdfRect& box = crop.width > 1 && crop.height > 1 ? crop : neighbour->mediaBox;
    const bool turned = neighbour->rotation == 90 || neighbour->rotation == 270;
    return turned ? platform::PdfSize{box.height, box.width} : platform::PdfSize{box.width, box.height};
}

PageEdit insertBlank(int index, PdfDocument& document)
{
    const int count = document.pageCount();
    const int at = std::clamp(index, 0, std::max(0, count - 1));
    std::optional<platform::PdfPageGeometry> neighbour;
    if (count > 0) neighbour = document.pageGeometry(at);
    const platform::PdfSize size = blankPageSize(neighbour);
    const PdfPageId page = platform::createBlankPage(document, size.width, size.height);
    return insertMade({page}, std::min(count, at + 1), document);
}

std::shared_ptr<PdfDocument> extract(const std::set<int>& indexes, const PdfDocument& document)
{
    std::shared_ptr<PdfDocument> result = PdfDocument::createEmpty();
    std::vector<int> sources;
    for (int index : indexes)
        if (index >= 0 && index < document.pageCount()) sources.push_back(index);
    const std::vector<PdfPageId> made = platform::graftPages(*result, document, sources);
    std::vector<std::pair<PdfPageId, int>> placements;
    for (size_t k = 0; k < made.size(); ++k) placements.emplace_back(made[k], int(k));
    if (!placements.empty()) platform::insertPages(*result, placements);
    return result;
}

bool canInsert(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("pdf") || imageSuffixes().contains(suffix);
}

std::vector<SourcePage> copies(const std::shared_ptr<const PdfDocument>& document)
{
    std::vector<SourcePage> result;
    if (!document) return result;
    for (int i = 0; i < document->pageCount(); ++i) result.push_back({document, i});
    return result;
}

std::vector<SourcePage> pages(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    if (!canInsert(path)) throw PageEditError(PageEditError::Code::unsupported, name);
    if (QFileInfo(path).suffix().toLower() == QLatin1String("pdf")) {
        std::shared_ptr<PdfDocument> document;
        try {
            if (!QFileInfo(path).isFile()) throw PageEditError(PageEditError::Code::unreadable, name);
            document = PdfDocument::openFile(path.toStdString());
        } catch (const platform::PdfError&) {
            throw PageEditError(PageEditError::Code::unreadable, name);
        }
        if (document->isLocked()) throw PageEditError(PageEditError::Code::locked, name);
        std::vector<SourcePage> result = copies(document);
        if (result.empty()) throw PageEditError(PageEditError::Code::unreadable, name);
        return result;
    }
    std::shared_ptr<PdfDocument> image = imagePage(path);
    if (!image) throw PageEditError(PageEditError::Code::unreadable, name);
    return copies(image);
}

FilePages pages(const QStringList& paths)
{
    FilePages result;
    for (const QString& path : paths) {
        try {
            const std::vector<SourcePage> more = pages(path);
            result.pages.insert(result.pages.end(), more.begin(), more.end());
        } catch (const PageEditError& error) {
            result.failures << error.description();
        }
    }
    return result;
}

std::shared_ptr<PdfDocument> imagePage(const QString& path)
{
    try {
        return platform::imagePageDocument(path.toStdString(), [](int width, int height) {
            return imagePageSize({double(width), double(height)});
        });
    } catch (const platform::PdfError&) {
        return nullptr;
    }
}

platform::PdfSize imagePageSize(platform::PdfSize pixels)
{
    const double longest = std::max(pixels.width, pixels.height);
    if (longest <= maxImageSide) return pixels;
    const double scale = maxImageSide / longest;
    return {std::round(pixels.width * scale), std::round(pixels.height * scale)};
}

} // namespace quarnkit::PageEditor
