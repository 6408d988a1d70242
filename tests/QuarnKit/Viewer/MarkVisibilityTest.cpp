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

using platform::PdfDocument;
using testsupport::pdfStream;

namespace {

// A page with two squares of the same flags: a red one that carries its
// appearance, and a blue one without, which is drawn as the engine makes it.
QByteArray markedPage(int flags)
{
    const std::string f = " /F " + std::to_string(flags);
    return testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [4 0 R 6 0 R] >>",
        "<< /Type /Annot /Subtype /Square /Rect [100 500 300 700] /C [1 0 0] /IC [1 0 0]" + f
            + " /AP << /N 5 0 R >> >>",
        pdfStream("/Type /XObject /Subtype /Form /BBox [0 0 200 200]", "1 0 0 rg 0 0 200 200 re f"),
        "<< /Type /Annot /Subtype /Square /Rect [100 100 300 300] /C [0 0 1] /IC [0 0 1] /BS << /W 4 >>" + f + " >>",
    });
}

struct Seen {
    bool red = false, blue = false;
};

Seen seenOn(const QImage& page)
{
    Seen seen;
    const QImage image = page.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            seen.red = seen.red || (c.red() > 200 && c.green() < 80 && c.blue() < 80);
            seen.blue = seen.blue || (c.blue() > 200 && c.red() < 80 && c.green() < 80);
        }
    return seen;
}

Seen seenOn(const PdfDocument& doc) { return seenOn(doc.render(0, 0.5)); }

} // namespace

TEST(MarkVisibility, EachDrawingShowsTheMarksItsFlagsLetItShow)
{
    // Hidden: never drawn. NoView: not on screen, printed when flagged Print.
    // Print: on paper; a flattened copy stands for the page as printed.
    enum : int { hidden = 2, print = 4, noView = 32 };
    const struct {
        const char* flags;
        int bits;
        bool screen, flatten, printed;
    } cases[] = {
        {"none", 0, true, false, false},         {"Print", print, true, true, true},
        {"Hidden", hidden, false, false, false}, {"Hidden Print", hidden | print, false, false, false},
        {"NoView", noView, false, false, false}, {"NoView Print", noView | print, false, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        QTemporaryDir dir;
        const QString path = testsupport::writeFile(dir, "marks.pdf", markedPage(c.bits));
        const auto document = quarnkit::QuarnDocument::open(path);
        ASSERT_TRUE(document);
        const auto& pdf = quarnkit::pdfOf(*document);

        const Seen screen = seenOn(*pdf);
        const Seen flattened = seenOn(*PdfDocument::openBytes(quarnkit::Exporter::pdfData(pdf, {0}, true)));
        const QString sheets = dir.filePath("printed.pdf");
        ASSERT_TRUE(quarnkit::printingJob(*document, {0}, QSizeF(612, 792), sheets)());
        const Seen printed = seenOn(*PdfDocument::openFile(sheets.toStdString()));

        for (const auto& [use, seen, expected] :
             {std::tuple{"screen", screen, c.screen}, std::tuple{"flattened", flattened, c.flatten},
              std::tuple{"printed", printed, c.printed}}) {
            EXPECT_EQ(seen.red, expected) << use << ", with its appearance";
            EXPECT_EQ(seen.blue, expected) << use << ", without";
        }
    }
}
