// Which marks each drawing of a page shows, by the marks' flags (Hidden,
// Print, NoView): the page view's, a flattened export's and a print's.
#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Export/Exporter.h"
#include "QuarnKit/Viewer/PrintLayout.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include <optional>

using platform::PdfDocument;
using testsupport::pdfStream;

namespace {

// A page with two squares of the same flags: a red one that carries its
// appearance, and a blue one without, which is drawn as the engine makes it.
// With `layer`, both belong to a layer (object 7), shown or not; with
// `alternative` the file also offers settings (/Configs) that show it the
// other way.
QByteArray markedPage(int flags, std::optional<bool> layer = {}, bool alternative = false)
{
    const std::string f = " /F " + std::to_string(flags) + (layer ? " /OC 7 0 R" : "");
    const bool shown = layer && *layer;
    const std::string layers =
        " /OCProperties << /OCGs [7 0 R] /D << /" + std::string(shown ? "ON" : "OFF") + " [7 0 R] >>"
        + (alternative ? " /Configs [<< /" + std::string(shown ? "OFF" : "ON") + " [7 0 R] >>]" : "") + " >>";
    return testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R" + (layer ? layers : "") + " >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [4 0 R 6 0 R] >>",
        "<< /Type /Annot /Subtype /Square /Rect [100 500 300 700] /C [1 0 0] /IC [1 0 0]" + f
            + " /AP << /N 5 0 R >> >>",
        pdfStream("/Type /XObject /Subtype /Form /BBox [0 0 200 200]", "1 0 0 rg 0 0 200 200 re f"),
        "<< /Type /Annot /Subtype /Square /Rect [100 100 300 300] /C [0 0 1] /IC [0 0 1] /BS << /W 4 >>" + f + " >>",
        "<< /Type /OCG /Name (Squares) >>",
    });
}

// Whether `image` shows the red square and the blue one.
std::pair<bool, bool> redAndBlue(const QImage& drawn)
{
    const QImage image = drawn.convertToFormat(QImage::Format_RGB888);
    bool red = false, blue = false;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red = red || (c.red() > 200 && c.green() < 80 && c.blue() < 80);
            blue = blue || (c.blue() > 200 && c.red() < 80 && c.green() < 80);
        }
    return {red, blue};
}

std::pair<bool, bool> redAndBlue(const PdfDocument& doc) { return redAndBlue(doc.render(0, 0.5)); }

// The same as poppler draws page 1 of the file at `path`.
std::pair<bool, bool> popplerRedAndBlue(const QString& path)
{
    QTemporaryDir dir;
    const QString prefix = dir.filePath("page");
    testsupport::runProgram("pdftoppm", {"-r", "36", "-png", "-singlefile", path, prefix});
    const QImage image(prefix + ".png");
    EXPECT_FALSE(image.isNull()) << "poppler drew no page of " << path.toStdString();
    return redAndBlue(image);
}

} // namespace

TEST(MarkVisibility, EachDrawingShowsTheMarksItsFlagsLetItShow)
{
    // Hidden: never drawn. NoView: not on screen, printed when flagged Print.
    // Print: on paper. A flattened copy shows what the screen shows, in
    // every reader: marks without the Print flag are common.
    enum : int { hidden = 2, print = 4, noView = 32 };
    // A mark in a layer shows where the layer does: a hidden layer's nowhere.
    const struct {
        const char* flags;
        int bits;
        bool screen, paper;
        std::optional<bool> layer = {}; // in a layer, shown or hidden
        bool alternative = false;       // the file offers settings that show the layer the other way
    } cases[] = {
        {"none", 0, true, false},
        {"Print", print, true, true},
        {"Hidden", hidden, false, false},
        {"Hidden Print", hidden | print, false, false},
        {"NoView", noView, false, false},
        {"NoView Print", noView | print, false, true},
        {"Print, in a layer shown", print, true, true, true},
        {"Print, in a layer hidden", print, false, false, false},
        // Every reader starts from the default settings; the alternatives
        // are for a reader to offer.
        {"Print, in a layer shown, hidden by the alternative settings", print, true, true, true, true},
        {"Print, in a layer hidden, shown by the alternative settings", print, false, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        QTemporaryDir dir;
        const QString path = testsupport::writeFile(dir, "marks.pdf", markedPage(c.bits, c.layer, c.alternative));
        const auto document = quarnkit::QuarnDocument::open(path);
        ASSERT_TRUE(document);
        const auto& pdf = quarnkit::pdfOf(*document);
        // Both squares alike: the red one with its appearance, the blue one without.
        EXPECT_EQ(redAndBlue(*pdf), std::pair(c.screen, c.screen)) << "on screen";
        if (c.layer) {
            EXPECT_EQ(popplerRedAndBlue(path), std::pair(c.screen, c.screen)) << "in poppler";
        }
        const QString flattened =
            testsupport::writeFile(dir, "flattened.pdf", quarnkit::Exporter::pdfData(pdf, {0}, true));
        EXPECT_EQ(redAndBlue(*PdfDocument::openFile(flattened.toStdString())), std::pair(c.screen, c.screen))
            << "flattened";
        EXPECT_EQ(popplerRedAndBlue(flattened), std::pair(c.screen, c.screen)) << "flattened, in poppler";
        const QString sheets = dir.filePath("printed.pdf");
        ASSERT_TRUE(quarnkit::printingJob(*document, {0}, QSizeF(612, 792), testsupport::chosen(sheets))());
        EXPECT_EQ(redAndBlue(*PdfDocument::openFile(sheets.toStdString())), std::pair(c.paper, c.paper)) << "printed";
        EXPECT_EQ(popplerRedAndBlue(sheets), std::pair(c.paper, c.paper)) << "printed, in poppler";
    }
}
