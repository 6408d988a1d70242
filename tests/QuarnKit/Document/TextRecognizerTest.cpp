#include "QuarnKit/Document/TextRecognizer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using platform::PdfDocument;
using platform::PdfPageGeometry;
using platform::PdfSize;
using quarnkit::TextRecognizerError;
namespace TextRecognizer = quarnkit::TextRecognizer;

namespace {

// A PDF written by hand from its page's content stream and resources; more
// objects may follow from number 5 on.
QByteArray makePagePdf(const std::string& content, const std::string& resources, const std::string& extraObject = {},
                       const std::string& pageExtra = {})
{
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]" + pageExtra + " /Resources " + resources
            + " /Contents 4 0 R >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    if (!extraObject.empty()) objects.push_back(extraObject);
    return testsupport::writePdf(objects, "1.4");
}

const std::string helvetica = "<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>";

QByteArray helloWorldPdf() { return makePagePdf("BT /F1 24 Tf 72 600 Td (HELLO WORLD) Tj ET", helvetica); }

// A "scanned" page: the text page drawn into a grey image that fills a page
// with no text of its own.
QByteArray scannedPdf()
{
    auto vector = PdfDocument::openBytes(helloWorldPdf());
    const QImage grey = vector->render(0, 2.0).convertToFormat(QImage::Format_Grayscale8);
    std::string pixels;
    for (int y = 0; y < grey.height(); ++y)
        pixels.append(reinterpret_cast<const char*>(grey.constScanLine(y)), size_t(grey.width()));
    const std::string image = "<< /Type /XObject /Subtype /Image /Width " + std::to_string(grey.width()) + " /Height "
                              + std::to_string(grey.height()) + " /ColorSpace /DeviceGray /BitsPerComponent 8 /Length "
                              + std::to_string(pixels.size()) + " >>\nstream\n" + pixels + "\nendstream";
    return makePagePdf("q 612 0 0 792 0 0 cm /Im1 Do Q", "<< /XObject << /Im1 5 0 R >> >>", image);
}

PdfPageGeometry geometry(double w, double h, int rotation, double cropW = -1, double cropH = -1)
{
    PdfPageGeometry g;
    g.mediaBox = {0, 0, w, h};
    g.cropBox = {0, 0, cropW < 0 ? w : cropW, cropH < 0 ? h : cropH};
    g.rotation = rotation;
    return g;
}

} // namespace

TEST(TextRecognizer, ErrorSentence)
{
    const auto error = TextRecognizerError::unavailable(QStringLiteral("The model is missing."));
    EXPECT_EQ(error.message(), QStringLiteral("Text recognition isn't available. The model is missing."));
    EXPECT_STREQ(error.what(), "Text recognition isn't available. The model is missing.");
    EXPECT_EQ(error.kind(), TextRecognizerError::Kind::unavailable);
    EXPECT_EQ(error, TextRecognizerError::unavailable(QStringLiteral("The model is missing.")));
    EXPECT_FALSE(error == TextRecognizerError::unavailable(QStringLiteral("Other.")));
    EXPECT_EQ(TextRecognizerError::unavailable({}).message(), QStringLiteral("Text recognition isn't available. "));
}

TEST(TextRecognizer, RenderScaleKeepsTheLongerSideNear2600Pixels)
{
    EXPECT_DOUBLE_EQ(TextRecognizer::renderScale({612, 792}), 2600.0 / 792);
    EXPECT_DOUBLE_EQ(TextRecognizer::renderScale({200, 300}), 4);
    EXPECT_DOUBLE_EQ(TextRecognizer::renderScale({2000, 3000}), 2);
    EXPECT_NEAR(TextRecognizer::renderScale({841.89, 1190.55}), 2.18, 0.01);
    EXPECT_DOUBLE_EQ(TextRecognizer::renderScale({1, 0.5}), 4);
    EXPECT_DOUBLE_EQ(TextRecognizer::renderScale({0, 0}), 4);
    EXPECT_DOUBLE_EQ(TextRecognizer::renderScale({NAN, NAN}), 4);

    // Rotation swaps the sides; the scale depends only on the longer one.
    EXPECT_EQ(TextRecognizer::displayedSize(geometry(612, 792, 90)), (PdfSize{792, 612}));
    EXPECT_EQ(TextRecognizer::displayedSize(geometry(612, 792, 180)), (PdfSize{612, 792}));
    EXPECT_DOUBLE_EQ(TextRecognizer::renderScale(TextRecognizer::displayedSize(geometry(612, 792, 270))), 2600.0 / 792);
    // A crop box no wider than a point gives way to the media box.
    EXPECT_EQ(TextRecognizer::displayedSize(geometry(612, 792, 0, 1, 500)), (PdfSize{612, 792}));
    EXPECT_EQ(TextRecognizer::displayedSize(geometry(612, 792, 0, 300, 400)), (PdfSize{300, 400}));
}

TEST(TextRecognizer, ChoosesLanguagesInTheUsersOrder)
{
    using L = QStringList;
    EXPECT_EQ(TextRecognizer::recognitionLanguages(L{"en-US", "de-DE", "fr-FR"}, L{"de-CH", "en-GB"}),
              (L{"de-DE", "en-US"}));
    EXPECT_EQ(TextRecognizer::recognitionLanguages(L{"en-US"}, L{"en-GB", "en-AU"}), (L{"en-US"}));
    EXPECT_EQ(TextRecognizer::recognitionLanguages(L{"en", "de"}, L{"de", "fr", "en-US"}), (L{"de", "en"}));
    EXPECT_TRUE(TextRecognizer::recognitionLanguages(L{}, L{"en"}).isEmpty());
    EXPECT_TRUE(TextRecognizer::recognitionLanguages(L{"en"}, L{}).isEmpty());
    // The installed English model is offered as the tag "en".
    EXPECT_TRUE(TextRecognizer::supportedLanguages().contains(QStringLiteral("en")));
}

TEST(TextRecognizer, JoinsLinesWithOneLineFeed)
{
    EXPECT_EQ(TextRecognizer::joinLines({QStringLiteral("first"), QStringLiteral("second")}),
              QStringLiteral("first\nsecond"));
    EXPECT_EQ(TextRecognizer::joinLines({QStringLiteral("  only \n")}), QStringLiteral("only"));
    EXPECT_EQ(TextRecognizer::joinLines({}), QString());
}

TEST(TextRecognizer, ExistingTextAndWhetherAPageNeedsRecognition)
{
    auto text = PdfDocument::openBytes(helloWorldPdf());
    EXPECT_FALSE(TextRecognizer::needsRecognition(*text, 0));
    EXPECT_EQ(TextRecognizer::existingText(*text, 0), QStringLiteral("HELLO WORLD"));

    auto spaces = PdfDocument::openBytes(makePagePdf("BT /F1 24 Tf 72 600 Td (   ) Tj 0 -30 Td (  ) Tj ET", helvetica));
    EXPECT_TRUE(TextRecognizer::needsRecognition(*spaces, 0));
    EXPECT_EQ(TextRecognizer::existingText(*spaces, 0), QString());

    auto scanned = PdfDocument::openBytes(scannedPdf());
    EXPECT_TRUE(TextRecognizer::needsRecognition(*scanned, 0));
}

TEST(TextRecognizer, ReadsHelloWorldFromPages)
{
    auto text = PdfDocument::openBytes(helloWorldPdf());
    EXPECT_EQ(TextRecognizer::recognize(*text, 0), QStringLiteral("HELLO WORLD"));

    auto scanned = PdfDocument::openBytes(scannedPdf());
    EXPECT_EQ(TextRecognizer::recognize(*scanned, 0), QStringLiteral("HELLO WORLD"));

    // A page shown turned by 90 degrees, whose text reads upright as shown.
    auto sideways = PdfDocument::openBytes(
        makePagePdf("BT /F1 24 Tf 0 1 -1 0 300 100 Tm (HELLO WORLD) Tj ET", helvetica, {}, " /Rotate 90"));
    EXPECT_EQ(sideways->pageGeometry(0).rotation, 90);
    EXPECT_EQ(TextRecognizer::recognize(*sideways, 0), QStringLiteral("HELLO WORLD"));

    auto blank = PdfDocument::createBlank();
    EXPECT_EQ(TextRecognizer::recognize(*blank, 0), QString());
    EXPECT_THROW(TextRecognizer::recognize(*blank, 3), platform::PdfError);
}

TEST(TextRecognizer, MissingModelsAreReportedAsUnavailable)
{
    const char* old = std::getenv("TESSDATA_PREFIX");
    const std::string saved = old ? old : "";
    setenv("TESSDATA_PREFIX", "/nonexistent/tessdata", 1);
    QImage white(100, 100, QImage::Format_RGB32);
    white.fill(Qt::white);
    try {
        TextRecognizer::recognize(white);
        ADD_FAILURE() << "recognition without models succeeded";
    } catch (const TextRecognizerError& error) {
        EXPECT_EQ(error.kind(), TextRecognizerError::Kind::unavailable);
        EXPECT_TRUE(error.message().startsWith(QStringLiteral("Text recognition isn't available. ")));
        EXPECT_GT(error.detail().size(), 0);
    }
    if (old) setenv("TESSDATA_PREFIX", saved.c_str(), 1);
    else unsetenv("TESSDATA_PREFIX");
}
