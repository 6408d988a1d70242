#include "QuarnKit/Viewer/PrintLayout.h"

#include "Platform/FileReplacement.h"
#include "Platform/PdfDocument.h"
#include "Platform/PdfWriting.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Export/ExportJob.h"
#include "QuarnKit/Export/ExportSettings.h"
#include "QuarnKit/Export/Exporter.h"
#include "QuarnKit/Export/PageRender.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace quarnkit {

std::vector<int> printedPages(int pageCount, const std::vector<std::pair<int, int>>& ranges)
{
    std::vector<bool> chosen(size_t(std::max(pageCount, 0)), ranges.empty());
    for (const auto& [from, to] : ranges)
        for (int page = std::max(from, 1); page <= std::min(to, pageCount); ++page) chosen[size_t(page - 1)] = true;
    std::vector<int> pages;
    for (int page = 0; page < pageCount; ++page)
        if (chosen[size_t(page)]) pages.push_back(page);
    return pages;
}

PrintPlacement placeOnSheet(platform::PdfSize page, const QRectF& area)
{
    if (!(page.width > 0) || !(page.height > 0) || area.isEmpty()) return {};
    // Square pages (within a point) are never turned.
    const bool turned =
        (page.width > page.height) != (area.width() > area.height()) && std::fabs(page.width - page.height) > 1;
    const double width = turned ? page.height : page.width;
    const double height = turned ? page.width : page.height;
    const double fit = std::min(area.width() / width, area.height() / height);
    const QSizeF shown(width * fit, height * fit);
    return {QRectF(area.center() - QPointF(shown.width(), shown.height()) / 2, shown), turned};
}

QRectF printArea(const QSizeF& sheet, double unitsPerPoint)
{
    const double margin = printMargin * unitsPerPoint;
    const QRectF area = QRectF(QPointF(0, 0), sheet).adjusted(margin, margin, -margin, -margin);
    return area.isValid() ? area : QRectF();
}

namespace {

// The document the sheets are drawn from, on the printing thread: a copy of
// the open one; where none can be written from it (an earlier write changed
// it past putting back), its pages as ravlen draws them, as images and a
// flattened export take them.
std::shared_ptr<platform::PdfDocument> printedSource(const platform::PdfDocument& pdf)
{
    try {
        return pdf.copy();
    } catch (const platform::PdfError& error) {
        if (error.code() != platform::PdfErrorCode::writeUnrestored) throw;
        return platform::PdfDocument::openBytes(ExportSnapshot::data(pdf, ExportFormat::flattenedPDF));
    }
}

} // namespace

std::function<PrintOutcome()> printingJob(const QuarnDocument& document, std::vector<int> pages, QSizeF sheet,
                                          ChosenFile file, bool lossAccepted)
{
    return [pdf = pdfOf(document), pages = std::move(pages), sheet, file = std::move(file),
            lossAccepted]() -> PrintOutcome {
        try {
            if (copyNeedsLossQuestion(*pdf, lossAccepted)) return {false, {}, true};
            const QRectF area = printArea(sheet, 1);
            if (pages.empty() || area.isEmpty()) return {};
            const std::shared_ptr<platform::PdfDocument> source = printedSource(*pdf);
            const std::shared_ptr<platform::PdfDocument> out = platform::PdfDocument::createEmpty();
            // The sheets share what the pages share: one copy of each font and picture.
            platform::PdfWriting::FlattenedCopy copy(*out, *source);
            for (const int index : pages) {
                const platform::PdfPageGeometry geometry = source->pageGeometry(index);
                const platform::PdfSize drawn = Exporter::drawnSize(geometry, Exporter::displayBox(geometry));
                const PrintPlacement placed = placeOnSheet(drawn, area);
                if (placed.rect.isEmpty()) return {};
                // The shown page, turned a quarter clockwise when it must be,
                // scaled into its place on the sheet (y down from the top left).
                platform::PdfMatrix toSheet = Exporter::userToPixels(geometry, 1.0);
                if (placed.turned) toSheet = toSheet.then({0, 1, -1, 0, drawn.height, 0});
                const double fit = placed.rect.width() / (placed.turned ? drawn.height : drawn.width);
                toSheet = toSheet.then(platform::PdfMatrix::scale(fit, fit))
                              .then(platform::PdfMatrix::translate(placed.rect.x(), placed.rect.y()));
                copy.appendPage(index, toSheet, {sheet.width(), sheet.height()}, platform::PdfMarkUse::print);
            }
            if (out->pageCount() != int(pages.size())) return {};
            try {
                out->saveToFile(file);
            } catch (const platform::PdfError& error) {
                // Told as a save of the same file is told.
                return {false, Exporter::saveFailureReason(error)};
            }
            return {true, {}};
        } catch (const std::exception&) {
            // A page that could not be drawn: the file was never the matter.
            return {};
        }
    };
}

std::optional<ChosenFile> choosePrintFile(const QString& path, const ReplaceQuestion& question, QString* problem)
{
    try {
        return Exporter::chooseFile(path, question);
    } catch (const ExportError& error) {
        *problem = error.reason();
    }
    return std::nullopt;
}

} // namespace quarnkit
