#include "QuarnKit/Document/PaperSize.h"

#include "DocumentMetadataTestPdf.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using platform::PdfDocument;
using platform::PdfSize;
namespace PaperSize = quarnkit::PaperSize;

namespace {

std::string describe(double width, double height) { return PaperSize::describe(PdfSize{width, height}).toStdString(); }

std::string describePages(const std::vector<handmade::Page>& pages)
{
    auto doc = PdfDocument::openBytes(handmade::makePdf(pages));
    return PaperSize::describe(*doc).toStdString();
}

handmade::Page page(const std::string& mediaBox, const std::string& extra = {})
{
    handmade::Page p;
    p.mediaBox = mediaBox;
    p.extra = extra;
    return p;
}

} // namespace

TEST(PaperSizeDescribe, NamesStandardSizesInThePageOrientation)
{
    EXPECT_EQ(describe(612, 792), "Letter, 8.5 \u00D7 11 in");
    EXPECT_EQ(describe(792, 612), "Letter, 11 \u00D7 8.5 in");
    EXPECT_EQ(describe(612, 1008), "Legal, 8.5 \u00D7 14 in");
    EXPECT_EQ(describe(792, 1224), "Tabloid, 11 \u00D7 17 in");
    EXPECT_EQ(describe(522, 756), "Executive, 7.25 \u00D7 10.5 in");
    EXPECT_EQ(describe(595.28, 841.89), "A4, 210 \u00D7 297 mm");
    EXPECT_EQ(describe(841.89, 595.28), "A4, 297 \u00D7 210 mm");
    EXPECT_EQ(describe(841.89, 1190.55), "A3, 297 \u00D7 420 mm");
    EXPECT_EQ(describe(419.53, 595.28), "A5, 148 \u00D7 210 mm");
    EXPECT_EQ(describe(297.64, 419.53), "A6, 105 \u00D7 148 mm");
    EXPECT_EQ(describe(498.9, 708.66), "B5, 176 \u00D7 250 mm");
}

TEST(PaperSizeDescribe, ToleranceIsTwoAndAHalfPoints)
{
    EXPECT_EQ(describe(614, 790), "Letter, 8.5 \u00D7 11 in");
    EXPECT_EQ(describe(615, 792), "615 \u00D7 792 pt");
    EXPECT_EQ(describe(1000.4, 500.6), "1000 \u00D7 501 pt");
    EXPECT_EQ(describe(-612, -792), "Letter, 8.5 \u00D7 11 in");
    EXPECT_EQ(describe(0, 0), "0 \u00D7 0 pt");
}

TEST(PaperSizeDocument, RotationCropBoxAndMixedSizes)
{
    EXPECT_EQ(describePages({page("[0 0 612 792]")}), "Letter, 8.5 \u00D7 11 in");
    EXPECT_EQ(describePages({page("[0 0 612 792]", "/Rotate 90")}), "Letter, 11 \u00D7 8.5 in");
    EXPECT_EQ(describePages({page("[0 0 612 792]", "/Rotate -270")}), "Letter, 11 \u00D7 8.5 in");
    EXPECT_EQ(describePages({page("[0 0 612 792]", "/Rotate 180")}), "Letter, 8.5 \u00D7 11 in");
    // A crop box of nothing is measured by the media box; a real one wins.
    EXPECT_EQ(describePages({page("[0 0 612 792]", "/CropBox [0 0 0 0]")}), "Letter, 8.5 \u00D7 11 in");
    EXPECT_EQ(describePages({page("[0 0 612 792]", "/CropBox [50 50 550 750]")}), "500 \u00D7 700 pt");
    EXPECT_EQ(describePages({page("[0 0 595.28 841.89]"), page("[0 0 612 792]")}),
              "A4, 210 \u00D7 297 mm, and other sizes");
    // Within tolerance the pages count as one size.
    EXPECT_EQ(describePages({page("[0 0 612 792]"), page("[0 0 613 790]")}), "Letter, 8.5 \u00D7 11 in");
    // A rotated second page of the same paper is another size as shown.
    EXPECT_EQ(describePages({page("[0 0 612 792]"), page("[0 0 612 792]", "/Rotate 90")}),
              "Letter, 8.5 \u00D7 11 in, and other sizes");
}

TEST(PaperSizeDocument, NoPagesAndCorpusFiles)
{
    EXPECT_EQ(PaperSize::describe(*PdfDocument::createEmpty()).toStdString(), "No pages");
    auto a4 = PdfDocument::openFile(testsupport::corpusPath("pdflatex-outline.pdf"));
    EXPECT_EQ(PaperSize::describe(*a4).toStdString(), "A4, 210 \u00D7 297 mm");
    auto blank = PdfDocument::createBlank();
    EXPECT_EQ(PaperSize::describe(*blank).toStdString(), "Letter, 8.5 \u00D7 11 in");
}
