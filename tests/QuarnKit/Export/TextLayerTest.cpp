#include "QuarnKit/Export/TextLayer.h"

#include "Platform/PdfWriting.h"
#include "QuarnKit/Export/ExportJob.h"
#include "QuarnKit/Export/PageRender.h"
#include "QuarnKit/Document/TextRecognizer.h"

#include "QuarnKit/Export/ExportTestSupport.h"
#include "support/ExportSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QPainter>
#include <QTemporaryDir>

using namespace quarnkit;
using platform::PdfDocument;

TEST(TextLayer, AScannedPageBecomesSearchable)
{
    // A page that is nothing but a picture of two words.
    QImage picture(1700, 2200, QImage::Format_RGB888);
    picture.fill(Qt::white);
    {
        QPainter p(&picture);
        QFont font("DejaVu Sans");
        font.setPixelSize(120);
        p.setFont(font);
        p.setPen(Qt::black);
        p.drawText(200, 600, "HELLO WORLD");
    }
    auto doc = PdfDocument::createEmpty();
    platform::PdfWriting::appendImagePage(*doc, picture, {612, 792});
    doc = PdfDocument::openBytes(doc->save());
    ASSERT_TRUE(doc->textPage(0).text().empty());

    QTemporaryDir dir;
    const QString to = dir.path() + "/Scan.pdf";
    ExportSettings s;
    s.format = ExportFormat::pdf;
    s.pages = {0};
    s.makeSearchable = true;
    testsupport::exportTo(s, doc, to, {});
    const QString text = exporttest::output("pdftotext", {to, "-"});
    EXPECT_TRUE(text.contains("HELLO")) << text.toStdString();
    // The picture is unchanged: the words are invisible.
    const auto back = PdfDocument::openFile(to.toStdString());
    EXPECT_EQ(Exporter::bitmap(*back, 0, 0.5), Exporter::bitmap(*doc, 0, 0.5));
    EXPECT_TRUE(doc->textPage(0).text().empty()); // the job's source stays as it was
}

TEST(TextLayer, LinesLieOverTheirPicturesOnTurnedPages)
{
    for (int rotate : {0, 90, 270}) {
        SCOPED_TRACE(rotate);
        const std::string content = "0 0 0 rg 10 10 5 5 re f";
        auto doc = PdfDocument::openBytes(testsupport::writePdf(
            {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Rotate " + std::to_string(rotate)
                 + " /Contents 4 0 R >>",
             "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream"}));
        const QRect box(300, 200, 1200, 100); // pixels of the page as shown
        double scale = 0;
        auto reader = [&](const QImage& image, int dpi) {
            scale = dpi / 72.0;
            EXPECT_GT(image.width(), 0);
            return std::vector<platform::RecognizedLine>{{"Turned words here", box, 90}};
        };
        ASSERT_EQ(TextLayer::addToScannedPages(*doc, {}, reader), 1);
        const auto text = doc->textPage(0);
        ASSERT_EQ(text.blocks.size(), 1u);
        EXPECT_EQ(text.blocks[0].lines.at(0).text(), "Turned words here");
        // Where the words are read, in the picture's pixels.
        const auto geometry = doc->pageGeometry(0);
        const platform::PdfRect found = Exporter::userToPixels(geometry, scale).mapRect(text.blocks[0].lines[0].bounds);
        EXPECT_NEAR(found.x, box.x(), 12);
        EXPECT_NEAR(found.maxX(), box.x() + box.width(), 12);
        EXPECT_NEAR(found.midY(), box.center().y(), box.height() * 0.25);
        // A page with text of its own is left alone.
        EXPECT_EQ(TextLayer::addToScannedPages(*doc, {}, reader), 0);
    }
}
