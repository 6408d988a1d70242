#include "QuarnKit/Export/PageRender.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace quarnkit;
using platform::PdfDocument;

namespace {

// One page of a hand-written PDF: its extra page-dictionary entries and its content.
struct PageSpec {
    std::string boxes = "/MediaBox [0 0 200 300]";
    std::string content = "0 0 0 rg 0 0 50 50 re f"; // a black square at the lower left
};

std::shared_ptr<PdfDocument> makePdf(const std::vector<PageSpec>& pages)
{
    std::vector<std::string> objects{"<< /Type /Catalog /Pages 2 0 R >>", ""};
    std::string kids;
    for (size_t i = 0; i < pages.size(); ++i) {
        const int pageObj = int(3 + 2 * i);
        kids += std::to_string(pageObj) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R " + pages[i].boxes + " /Contents " + std::to_string(pageObj + 1)
                          + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(pages[i].content.size()) + " >>\nstream\n" + pages[i].content
                          + "\nendstream");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
    return PdfDocument::openBytes(testsupport::writePdf(objects));
}

bool isBlack(const QImage& image, int x, int y) { return qGray(image.pixel(x, y)) < 40; }

// The bounding box of the dark pixels.
QRect inkBounds(const QImage& image)
{
    QRect r;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (isBlack(image, x, y)) r |= QRect(x, y, 1, 1);
    return r;
}

} // namespace

TEST(PageRender, RotationsSwapTheDrawnSizeAndTurnThePage)
{
    // The square sits at the page's lower left; a quarter turn clockwise
    // brings that corner to the top left.
    struct Case {
        int rotate;
        QSize size;
        QRect ink;
    };
    const std::vector<Case> cases = {
        {0, {200, 300}, {0, 250, 50, 50}},     {90, {300, 200}, {0, 0, 50, 50}},
        {180, {200, 300}, {150, 0, 50, 50}},   {270, {300, 200}, {250, 150, 50, 50}},
        {-90, {300, 200}, {250, 150, 50, 50}}, {450, {300, 200}, {0, 0, 50, 50}},
        {360, {200, 300}, {0, 250, 50, 50}},   {-540, {200, 300}, {150, 0, 50, 50}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rotate);
        auto doc = makePdf({{"/MediaBox [0 0 200 300] /Rotate " + std::to_string(c.rotate)}});
        const auto g = doc->pageGeometry(0);
        const auto drawn = Exporter::drawnSize(g, Exporter::displayBox(g));
        EXPECT_EQ(QSize(int(drawn.width), int(drawn.height)), c.size);
        const QImage image = Exporter::bitmap(*doc, 0, 1.0);
        ASSERT_EQ(image.size(), c.size);
        EXPECT_EQ(inkBounds(image), c.ink);
    }
}

TEST(PageRender, DrawnSizeNormalisesAnyRotation)
{
    platform::PdfPageGeometry g;
    const platform::PdfRect box{0, 0, 100, 40};
    for (int r : {90, 270, -90, -270, 450, 630, 810})
        EXPECT_EQ(Exporter::drawnSize((g.rotation = r, g), box), (platform::PdfSize{40, 100})) << r;
    for (int r : {0, 180, -180, 360, 720, -360})
        EXPECT_EQ(Exporter::drawnSize((g.rotation = r, g), box), (platform::PdfSize{100, 40})) << r;
}

TEST(PageRender, PixelSizeRoundsAndIsAtLeastOne)
{
    EXPECT_EQ(Exporter::pixelSize({612, 792}, 150.0 / 72), QSize(1275, 1650));
    EXPECT_EQ(Exporter::pixelSize({101, 3}, 0.5), QSize(51, 2)) << "halves away from zero";
    EXPECT_EQ(Exporter::pixelSize({100.8, 100.4}, 1), QSize(101, 100));
    EXPECT_EQ(Exporter::pixelSize({612, 792}, 0.0001), QSize(1, 1));
    EXPECT_EQ(Exporter::pixelSize({0, 0}, 2), QSize(1, 1));
    EXPECT_EQ(Exporter::pixelSize({612, 792}, std::nan("")), QSize(1, 1));

    auto doc = makePdf({{"/MediaBox [0 0 101 3]"}});
    EXPECT_EQ(Exporter::bitmap(*doc, 0, 0.5).size(), QSize(51, 2));
    EXPECT_EQ(Exporter::bitmap(*doc, 0, 0.001).size(), QSize(1, 1));
}

TEST(PageRender, BackgroundIsOpaqueWhiteInBothLayouts)
{
    auto doc = PdfDocument::createBlank(100, 80);
    const QImage withAlpha = Exporter::bitmap(*doc, 0, 1.0);
    EXPECT_EQ(withAlpha.format(), QImage::Format_RGBA8888_Premultiplied);
    const QImage opaque = Exporter::render(*doc, 0, 1.0, {}, Exporter::BitmapAlpha::noneSkipLast);
    EXPECT_EQ(opaque.format(), QImage::Format_RGBX8888);
    for (const QImage& image : {withAlpha, opaque}) {
        ASSERT_EQ(image.size(), QSize(100, 80));
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ASSERT_EQ(image.pixel(x, y), qRgba(255, 255, 255, 255)) << x << "," << y;
    }
}

TEST(PageRender, CropBoxIsDrawnUnlessItIsDegenerate)
{
    // The crop box keeps the upper right 100 × 100 of the page; the square at
    // (120, 220) lies inside it.
    auto doc = makePdf({{"/MediaBox [0 0 200 300] /CropBox [100 200 200 300]", "0 0 0 rg 120 220 30 30 re f"},
                        {"/MediaBox [0 0 200 300] /CropBox [0 0 0.5 300]"},
                        {"/MediaBox [0 0 200 300] /CropBox [500 500 600 600]"}});
    const auto g0 = doc->pageGeometry(0);
    EXPECT_EQ(Exporter::displayBox(g0), (platform::PdfRect{100, 200, 100, 100}));
    const QImage cropped = Exporter::bitmap(*doc, 0, 2.0);
    ASSERT_EQ(cropped.size(), QSize(200, 200));
    EXPECT_EQ(inkBounds(cropped), QRect(40, 100, 60, 60));
    // The platform renderer shows the crop box too: same pixels.
    const QImage platformImage = doc->render(0, 2.0).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    ASSERT_EQ(platformImage.size(), cropped.size());
    EXPECT_EQ(inkBounds(platformImage), inkBounds(cropped));

    // A crop box not above one point wide, or outside the media box, gives way to the media box.
    for (int page : {1, 2}) {
        SCOPED_TRACE(page);
        EXPECT_EQ(Exporter::displayBox(*doc, page), (platform::PdfRect{0, 0, 200, 300}));
        const QImage full = Exporter::bitmap(*doc, page, 1.0);
        ASSERT_EQ(full.size(), QSize(200, 300));
        EXPECT_EQ(inkBounds(full), QRect(0, 250, 50, 50));
    }
}

TEST(PageRender, OverlayDrawsInUserSpace)
{
    for (int rotate : {0, 90}) {
        SCOPED_TRACE(rotate);
        auto doc = makePdf({{"/MediaBox [0 0 200 300] /Rotate " + std::to_string(rotate), ""}});
        // A box at the page's upper left in user space, as a redaction's bounds would be.
        const QImage image = Exporter::render(
            *doc, 0, 2.0, [](QPainter& p) { p.fillRect(QRectF(0, 250, 40, 50), Qt::black); },
            Exporter::BitmapAlpha::noneSkipLast);
        // Upright it is at the top left; a quarter turn clockwise takes it to the top right.
        const QRect expected = rotate == 0 ? QRect(0, 0, 80, 100) : QRect(500, 0, 100, 80);
        EXPECT_EQ(inkBounds(image), expected);
    }
}

TEST(PageRender, CorpusPagesMatchThePlatformRenderer)
{
    // Real files (rotated pages, annotations, forms, images): the exporter's
    // bitmap shows the same page as the page view's renderer.
    for (const std::string& path : testsupport::corpusPdfs()) {
        SCOPED_TRACE(path);
        auto doc = PdfDocument::openFile(path);
        if (doc->isLocked()) {
            ASSERT_TRUE(doc->unlock("openpassword"));
        }
        for (int page = 0; page < std::min(doc->pageCount(), 2); ++page) {
            const auto g = doc->pageGeometry(page);
            const QImage image = Exporter::bitmap(*doc, page, 0.5);
            EXPECT_EQ(image.size(), Exporter::pixelSize(Exporter::drawnSize(g, Exporter::displayBox(g)), 0.5));
            const QImage reference = doc->render(page, 0.5).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
            ASSERT_EQ(reference.size(), image.size());
            double difference = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    difference += std::abs(qGray(image.pixel(x, y)) - qGray(reference.pixel(x, y)));
            EXPECT_LT(difference / (image.width() * image.height()), 1.0) << "page " << page;
        }
    }
}

TEST(PageRender, FailuresAreRenderFailed)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(1));
    EXPECT_THROW(Exporter::bitmap(*doc, 1, 1.0), Exporter::RenderFailed);
    EXPECT_THROW(Exporter::bitmap(*doc, -1, 1.0), Exporter::RenderFailed);
    for (double scale : {0.0, -1.0, std::numeric_limits<double>::infinity(), std::nan("")})
        EXPECT_THROW(Exporter::bitmap(*doc, 0, scale), Exporter::RenderFailed) << scale;
    // A bitmap that would take gigabytes is refused, not attempted.
    auto huge = makePdf({{"/MediaBox [0 0 14400 14400]"}});
    EXPECT_THROW(Exporter::bitmap(*huge, 0, 10.0), Exporter::RenderFailed);
    try {
        Exporter::bitmap(*doc, 5, 1.0);
    } catch (const Exporter::RenderFailed& e) {
        EXPECT_STREQ(e.what(), "The page could not be rendered.");
    }
}

TEST(PageRender, LockedDocumentIsRenderFailed)
{
    const auto doc = PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    ASSERT_TRUE(doc->isLocked());
    EXPECT_THROW(Exporter::bitmap(*doc, 0, 1.0), Exporter::RenderFailed);
}
