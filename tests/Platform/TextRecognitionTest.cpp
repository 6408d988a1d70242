#include "support/TestSupport.h"
#include "Platform/PdfDocument.h"
#include "Platform/TextRecognition.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <thread>

using platform::PdfDocument;
using platform::TextRecognition;
using platform::TextRecognitionError;

namespace {

// One Letter page with `line` in 24-point Helvetica, written by hand.
QByteArray makeLinePdf(const std::string& line)
{
    const std::string content = "BT /F1 24 Tf 72 600 Td (" + line + ") Tj ET";
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R "
        ">>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    return testsupport::writePdf(objects, "1.4");
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name)
    {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace

TEST(TextRecognition, MapsLocaleTagsToTesseractCodes)
{
    EXPECT_EQ(TextRecognition::tesseractLanguage("en"), "eng");
    EXPECT_EQ(TextRecognition::tesseractLanguage("de"), "deu");
    EXPECT_EQ(TextRecognition::tesseractLanguage("de-CH"), "deu");
    EXPECT_EQ(TextRecognition::tesseractLanguage("de_AT"), "deu");
    EXPECT_EQ(TextRecognition::tesseractLanguage("fr-CA"), "fra");
    EXPECT_EQ(TextRecognition::tesseractLanguage("zh-Hans-CN"), "chi_sim");
    EXPECT_EQ(TextRecognition::tesseractLanguage("zh-TW"), "chi_tra");
    EXPECT_EQ(TextRecognition::tesseractLanguage("zh"), "chi_sim");
    EXPECT_EQ(TextRecognition::tesseractLanguage("sr-Latn-RS"), "srp_latn");
    EXPECT_EQ(TextRecognition::tesseractLanguage("sr"), "srp");
    EXPECT_EQ(TextRecognition::tesseractLanguage("nb-NO"), "nor");
    EXPECT_EQ(TextRecognition::tesseractLanguage("xx"), std::nullopt);
    EXPECT_EQ(TextRecognition::tesseractLanguage(""), std::nullopt);
    EXPECT_EQ(TextRecognition::tesseractLanguage("-DE"), std::nullopt);

    EXPECT_EQ(TextRecognition::localeTag("eng"), "en");
    EXPECT_EQ(TextRecognition::localeTag("deu"), "de");
    EXPECT_EQ(TextRecognition::localeTag("chi_tra"), "zh-Hant");
    EXPECT_EQ(TextRecognition::localeTag("osd"), std::nullopt);
}

TEST(TextRecognition, FindsInstalledLanguagesAndHonoursTessdataPrefix)
{
    const auto installed = TextRecognition::availableLanguages();
    EXPECT_NE(std::find(installed.begin(), installed.end(), "eng"), installed.end());
    EXPECT_EQ(std::find(installed.begin(), installed.end(), "osd"), installed.end());
    EXPECT_TRUE(std::is_sorted(installed.begin(), installed.end()));

    // A data folder of the user's own, holding one damaged model.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile fake(dir.filePath(QStringLiteral("xyz.traineddata")));
    ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
    fake.write("not a model");
    fake.close();
    ScopedEnv env("TESSDATA_PREFIX", dir.path().toStdString());
    EXPECT_EQ(TextRecognition::dataPath(), dir.path().toStdString());
    EXPECT_EQ(TextRecognition::availableLanguages(), std::vector<std::string>{"xyz"});
    QImage white(200, 100, QImage::Format_RGB32);
    white.fill(Qt::white);
    EXPECT_THROW(TextRecognition::recognize(white, {"xyz"}), TextRecognitionError);
    EXPECT_THROW(TextRecognition::recognize(white, {"eng"}), TextRecognitionError); // not in that folder
}

TEST(TextRecognition, AcceptsTheFolderAboveTessdata)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("tessdata")));
    QFile model(dir.filePath(QStringLiteral("tessdata/abc.traineddata")));
    ASSERT_TRUE(model.open(QIODevice::WriteOnly));
    model.close();
    ScopedEnv env("TESSDATA_PREFIX", dir.path().toStdString());
    EXPECT_EQ(TextRecognition::dataPath(), dir.filePath(QStringLiteral("tessdata")).toStdString());
    EXPECT_EQ(TextRecognition::availableLanguages(), std::vector<std::string>{"abc"});
}

TEST(TextRecognition, ReadsARenderedPage)
{
    auto doc = PdfDocument::openBytes(makeLinePdf("HELLO WORLD"));
    const double scale = 2600.0 / 792;
    const QImage page = doc->render(0, scale);
    ASSERT_FALSE(page.isNull());
    const auto lines = TextRecognition::recognize(page, {"eng"}, int(72 * scale));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "HELLO WORLD");
    EXPECT_GT(lines[0].confidence, 50);
    // The line sits where the page drew it: 72 pt from the left, baseline 192 pt from the top.
    EXPECT_NEAR(lines[0].box.left(), 72 * scale, 10);
    EXPECT_NEAR(lines[0].box.bottom(), (792 - 600) * scale, 10);
}

TEST(TextRecognition, BlankAndEmptyImages)
{
    QImage white(800, 600, QImage::Format_ARGB32);
    white.fill(Qt::white);
    EXPECT_TRUE(TextRecognition::recognize(white, {"eng"}).empty());
    EXPECT_THROW(TextRecognition::recognize(QImage(), {"eng"}), TextRecognitionError);
    EXPECT_THROW(TextRecognition::recognize(white, {"no_such_language"}), TextRecognitionError);
}

TEST(TextRecognition, TwoRecognitionsAtOnceEachReadTheirPage)
{
    const double scale = 1600.0 / 792;
    const QImage first = PdfDocument::openBytes(makeLinePdf("FIRST PAGE"))->render(0, scale);
    const QImage second = PdfDocument::openBytes(makeLinePdf("SECOND PAGE"))->render(0, scale);
    std::vector<platform::RecognizedLine> a, b;
    std::thread other([&] { b = TextRecognition::recognize(second, {"eng"}, int(72 * scale)); });
    a = TextRecognition::recognize(first, {"eng"}, int(72 * scale));
    other.join();
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(a[0].text, "FIRST PAGE");
    EXPECT_EQ(b[0].text, "SECOND PAGE");
}
