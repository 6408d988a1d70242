#include "QuarnKit/Export/ExportForm.h"

#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/PageRange.h"
#include "QuarnKit/Export/Exporter.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace quarnkit {

namespace {

constexpr char formatKey[] = "ravlenExportFormat";
constexpr char scopeKey[] = "ravlenExportScope";
constexpr char dpiKey[] = "ravlenExportDPI";
constexpr char qualityKey[] = "ravlenExportJPEGQuality";
constexpr char searchableKey[] = "ravlenExportSearchable";

QString counted(int n, const char* noun)
{
    return n == 1 ? QStringLiteral("1 ") + QLatin1String(noun)
                  : QStringLiteral("%1 %2s").arg(n).arg(QLatin1String(noun));
}

int pageCountOf(const ExportSource& source) { return source.document ? source.document->pageCount() : 0; }

} // namespace

// ---------------------------------------------------------------- remembered choices

ExportChoices ExportChoices::saved(const platform::UserDefaults& defaults)
{
    ExportChoices c;
    if (const auto raw = defaults.stringValue(formatKey))
        c.format = ExportFormats::fromRaw(QString::fromStdString(*raw)).value_or(ExportFormat::flattenedPDF);
    if (const auto raw = defaults.stringValue(scopeKey))
        c.scope = ExportScopes::fromRaw(QString::fromStdString(*raw)).value_or(ExportScope::allPages);
    if (c.scope == ExportScope::range) c.scope = ExportScope::allPages;
    if (const auto dpi = defaults.intValue(dpiKey))
        if (std::find(ExportSettings::resolutions.begin(), ExportSettings::resolutions.end(), *dpi)
            != ExportSettings::resolutions.end())
            c.dpi = int(*dpi);
    c.quality = std::clamp(defaults.doubleValue(qualityKey).value_or(0.85), 0.3, 1.0);
    c.searchable = defaults.boolValue(searchableKey).value_or(false);
    return c;
}

void ExportChoices::save(platform::UserDefaults& defaults) const
{
    defaults.set(formatKey, ExportFormats::rawValue(format).toStdString());
    defaults.set(scopeKey, ExportScopes::rawValue(scope).toStdString());
    defaults.set(dpiKey, dpi);
    defaults.set(qualityKey, quality);
    defaults.set(searchableKey, searchable);
}

// ---------------------------------------------------------------- pages

ExportForm::PageList ExportForm::pageList(const ExportSource& source) const
{
    try {
        return Exporter::pages(scope, pageCountOf(source), source.pageIndex, source.selectedPages, rangeText);
    } catch (const ExportError& error) {
        return error.message();
    } catch (const PageRangeError& error) {
        return error.message();
    }
}

std::vector<int> ExportForm::pages(const ExportSource& source) const
{
    const PageList list = pageList(source);
    if (const auto* pages = std::get_if<std::vector<int>>(&list)) return *pages;
    return {};
}

std::vector<ExportScope> ExportForm::scopes(const ExportSource& source)
{
    std::vector<ExportScope> out;
    for (ExportScope s : allExportScopes)
        if (s != ExportScope::selectedPages || !source.selectedPages.empty()) out.push_back(s);
    return out;
}

std::optional<QString> ExportForm::unavailableReason(ExportFormat f) const
{
    if (!census) return std::nullopt;
    if (f == ExportFormat::marksSummary && !census->hasMarks()) return QStringLiteral("No marks yet");
    if (f == ExportFormat::redactedPDF && !census->hasRedactions()) return QStringLiteral("No redactions yet");
    return std::nullopt;
}

ExportForm::Line ExportForm::pagesLine(const ExportSource& source) const
{
    const PageList list = pageList(source);
    if (const auto* pages = std::get_if<std::vector<int>>(&list)) {
        const QString count = counted(int(pages->size()), "page");
        switch (scope) {
        case ExportScope::thisPage: return {QStringLiteral("Page %1").arg(pages->front() + 1)};
        case ExportScope::allPages: return {count};
        default: return {count + QStringLiteral(": ") + PageRange::describe(*pages)};
        }
    }
    const QString trimmed = QString(rangeText).remove(QRegularExpression(QStringLiteral("^[ \\t]+|[ \\t]+$")));
    if (scope == ExportScope::range && trimmed.isEmpty())
        return {QStringLiteral("Type pages like 1-3, 5, 8-. A trailing dash runs to the end.")};
    return {std::get<QString>(list), true};
}

QString ExportForm::pixelSize(const ExportSource& source) const
{
    if (!source.document) return {};
    const std::vector<int> list = pages(source);
    const int index = list.empty() ? source.pageIndex : list.front();
    if (index < 0 || index >= pageCountOf(source)) return {};
    try {
        const platform::PdfPageGeometry geometry = pdfOf(*source.document)->pageGeometry(index);
        const platform::PdfSize size = Exporter::drawnSize(geometry, Exporter::displayBox(geometry));
        const double s = dpi / 72.0;
        return QStringLiteral("%1 \u00D7 %2 px").arg(std::llround(size.width * s)).arg(std::llround(size.height * s));
    } catch (const platform::PdfError&) {
        return {};
    }
}

// ---------------------------------------------------------------- validation

std::optional<QString> ExportForm::validationMessage(const ExportSource& source) const
{
    if (!source.document) return QStringLiteral("There is no document to export.");
    if (source.document->isLocked()) return QStringLiteral("Unlock the PDF to export it.");
    const PageList list = pageList(source);
    if (!std::holds_alternative<std::vector<int>>(list) || !census) return std::nullopt;
    const auto& chosen = std::get<std::vector<int>>(list);
    if (format == ExportFormat::marksSummary) {
        if (!census->hasMarks()) return QStringLiteral("This PDF has no marks yet.");
        if (census->marksIn(chosen) == 0) return QStringLiteral("These pages have no marks.");
    }
    if (format == ExportFormat::redactedPDF) {
        if (!census->hasRedactions()) return QStringLiteral("This PDF has no redactions yet.");
        if (census->redactionsIn(chosen) == 0) return QStringLiteral("These pages have no redactions.");
    }
    return std::nullopt;
}

bool ExportForm::canExport(const ExportSource& source, bool working) const
{
    return !pages(source).empty() && !validationMessage(source) && !working;
}

std::optional<QString> ExportForm::passwordCaption() const
{
    if (!openPassword.isEmpty() && !editPassword.isEmpty())
        return QStringLiteral(
            "Readers need the first password. Changes need the second. ravlen can't recover a lost password.");
    if (!openPassword.isEmpty())
        return QStringLiteral("The copy won't open without this password. ravlen can't recover it if it's lost.");
    if (!editPassword.isEmpty()) return QStringLiteral("The copy opens freely, but changing it takes this password.");
    return std::nullopt;
}

std::optional<QString> ExportForm::formatNote(const ExportSource& source) const
{
    const std::vector<int> list = pages(source);
    switch (format) {
    case ExportFormat::pdf: return std::nullopt;
    case ExportFormat::flattenedPDF: {
        const QString painted = QStringLiteral("Marks are painted in, so they look the same everywhere.");
        // A black box reads as removal: the flattened copy removes what it covers too.
        if (!census || list.empty() || census->redactionsIn(list) < 1) return painted;
        return painted + QStringLiteral(" ") + counted(census->redactionsIn(list), "redaction") + QStringLiteral(" on ")
               + counted(census->pagesWithRedactionsIn(list), "page")
               + QStringLiteral(" remove what they cover; those pages become images.");
    }
    case ExportFormat::redactedPDF: {
        if (!census || list.empty() || census->redactionsIn(list) < 1) return std::nullopt;
        return counted(census->redactionsIn(list), "redaction") + QStringLiteral(" on ")
               + counted(census->pagesWithRedactionsIn(list), "page")
               + QStringLiteral(" will be applied. Those pages become images, so the covered text is gone. Document "
                                "details are removed.");
    }
    case ExportFormat::smallerPDF:
        return QStringLiteral(
            "Images are recompressed for the screen. Text stays selectable. ravlen shows the new size when it's done.");
    case ExportFormat::png:
    case ExportFormat::jpeg:
        if (list.size() > 1) return QStringLiteral("One image per page, in a new folder named after the PDF.");
        return std::nullopt;
    case ExportFormat::tiff:
        if (list.size() > 1) return QStringLiteral("All pages go into one TIFF file.");
        return std::nullopt;
    case ExportFormat::text:
        return QStringLiteral(
            "Plain text in reading order. Pages without a text layer are read with text recognition.");
    case ExportFormat::marksSummary: {
        if (!census || list.empty() || census->marksIn(list) < 1) return std::nullopt;
        return counted(census->marksIn(list), "mark") + QStringLiteral(" on ")
               + counted(census->pagesWithMarksIn(list), "page")
               + QStringLiteral(", listed by page as Markdown with highlighted words and note text.");
    }
    }
    return std::nullopt;
}

QString ExportForm::actionTitle(const ExportSource& source) const
{
    const bool folder = (format == ExportFormat::png || format == ExportFormat::jpeg) && pages(source).size() >= 2;
    return folder ? QStringLiteral("Choose Folder") : QStringLiteral("Export");
}

QString ExportForm::qualityText() const { return QStringLiteral("%1%").arg(std::llround(quality * 100)); }

ExportSettings ExportForm::settings(const ExportSource& source) const
{
    ExportSettings s;
    s.format = format;
    s.pages = pages(source);
    s.baseName = Exporter::baseName(source.filePath);
    s.dpi = dpi;
    s.jpegQuality = quality;
    if (ExportFormats::isPDF(format)) {
        s.openPassword = openPassword;
        s.editPassword = editPassword;
        s.makeSearchable = searchable;
    }
    return s;
}

} // namespace quarnkit
