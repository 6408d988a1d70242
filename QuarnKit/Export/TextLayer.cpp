#include "QuarnKit/Export/TextLayer.h"

#include "Platform/PdfAnnotations.h"
#include "Platform/PdfWriting.h"
#include "QuarnKit/Document/TextRecognizer.h"
#include "QuarnKit/Export/PageRender.h"

#include <cmath>

namespace quarnkit::TextLayer {

namespace {

// Where a line's text goes: along the bottom of its box in the picture (y
// down), stretched to the box's width, as big as the box is high, then
// carried back into user space.
platform::PdfMatrix placement(const platform::RecognizedLine& line, const platform::PdfMatrix& pixelsToUser)
{
    const double height = line.box.height();
    const double width = platform::PdfAnnotations::textWidth(platform::PdfBaseFont::helvetica, 1, line.text);
    const double stretch = width > 0 ? line.box.width() / (width * height) : 1;
    const double baseline = line.box.y() + height * 0.8; // Helvetica's descent is about a fifth of the size
    const platform::PdfMatrix textToPixels{stretch * height, 0, 0, -height, double(line.box.x()), baseline};
    return textToPixels.then(pixelsToUser);
}

} // namespace

int addToScannedPages(platform::PdfDocument& doc, const BeforePage& beforePage, const LineReader& read)
{
    const LineReader reader = read ? read : [](const QImage& image, int dpi) {
        return platform::TextRecognition::recognize(image, TextRecognizer::tesseractLanguages(), dpi);
    };
    int added = 0;
    for (int page = 0, count = doc.pageCount(); page < count; ++page) {
        if (beforePage) beforePage(page, count);
        try {
            if (!TextRecognizer::needsRecognition(doc, page)) continue;
            const platform::PdfPageGeometry geometry = doc.pageGeometry(page);
            const double scale = TextRecognizer::renderScale(TextRecognizer::displayedSize(geometry));
            const QImage image = Exporter::render(doc, page, scale);
            const platform::PdfMatrix pixelsToUser = Exporter::userToPixels(geometry, scale).inverted();
            std::vector<platform::PdfWriting::PdfTextRun> runs;
            for (const platform::RecognizedLine& line : reader(image, int(std::lround(72 * scale))))
                if (!line.text.empty() && !line.box.isEmpty())
                    runs.push_back({line.text, placement(line, pixelsToUser)});
            if (runs.empty()) continue;
            platform::PdfWriting::appendInvisibleText(doc, page, runs);
            ++added;
        } catch (const Exporter::RenderFailed&) {
        } catch (const platform::PdfError&) {
        } catch (const platform::TextRecognitionError&) {}
    }
    return added;
}

} // namespace quarnkit::TextLayer
