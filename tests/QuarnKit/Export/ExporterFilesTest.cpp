// Page selection, names, images and files of the exporter.
#include "QuarnKit/Export/Exporter.h"

#include "QuarnKit/Document/PageRange.h"
#include "QuarnKit/Export/MultiPageTIFF.h"

#include "QuarnKit/Export/ExportTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace quarnkit;
using platform::PdfDocument;

namespace {

std::shared_ptr<PdfDocument> textDocument(int pages) { return PdfDocument::openBytes(testsupport::makeTextPdf(pages)); }

template <typename F>
ExportError::Kind failureOf(F&& f)
{
    try {
        f();
    } catch (const ExportError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no ExportError";
    return ExportError::Kind::writeFailed;
}

// The pixels-per-metre of a PNG's pHYs chunk; 0 without one.
quint32 pngPixelsPerMetre(const QByteArray& png)
{
    const qsizetype at = png.indexOf("pHYs");
    if (at < 0) return 0;
    const auto* b = reinterpret_cast<const unsigned char*>(png.constData() + at + 4);
    return quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | b[3];
}

} // namespace

TEST(ExporterPages, ScopesNameTheirPages)
{
    EXPECT_EQ(Exporter::pageIndexes(3, ExportScope::thisPage, 7), std::vector<int>{2});
    EXPECT_EQ(Exporter::pageIndexes(3, ExportScope::thisPage, -1), std::vector<int>{0});
    EXPECT_EQ(Exporter::pageIndexes(3, ExportScope::allPages, 0), (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(Exporter::pageIndexes(3, ExportScope::range, 0).empty());
    EXPECT_TRUE(Exporter::pageIndexes(0, ExportScope::allPages, 0).empty());

    EXPECT_EQ(Exporter::pages(ExportScope::selectedPages, 5, 0, {4, 1, 9}, {}), (std::vector<int>{1, 4}));
    EXPECT_EQ(Exporter::pages(ExportScope::range, 10, 0, {}, "8-, 2"), (std::vector<int>{1, 7, 8, 9}));
    EXPECT_EQ(failureOf([] {
                  Exporter::pages(ExportScope::selectedPages, 3, 0, {5, 6}, {});
              }),
              ExportError::Kind::noSelection);
    EXPECT_EQ(failureOf([] { Exporter::pages(ExportScope::allPages, 0, 0, {}, {}); }), ExportError::Kind::empty);
    EXPECT_THROW(Exporter::pages(ExportScope::range, 3, 0, {}, "5"), PageRangeError);
}

TEST(ExporterNames, BaseNamesAndSuggestedFileNames)
{
    EXPECT_EQ(Exporter::baseName(QString("/home/u/ Report .pdf")), "Report");
    EXPECT_EQ(Exporter::baseName(QString("/home/u/   .pdf")), "Untitled");
    EXPECT_EQ(Exporter::baseName(std::nullopt), "Untitled");

    struct ScopeCase {
        ExportFormat format;
        ExportScope scope;
        QString name;
    };
    const std::vector<ScopeCase> byScope = {
        {ExportFormat::pdf, ExportScope::allPages, "Doc copy.pdf"},
        {ExportFormat::pdf, ExportScope::thisPage, "Doc page.pdf"},
        {ExportFormat::flattenedPDF, ExportScope::range, "Doc pages flattened.pdf"},
        {ExportFormat::redactedPDF, ExportScope::allPages, "Doc redacted.pdf"},
        {ExportFormat::smallerPDF, ExportScope::selectedPages, "Doc pages smaller.pdf"},
        {ExportFormat::jpeg, ExportScope::thisPage, "Doc page.jpg"},
        {ExportFormat::tiff, ExportScope::allPages, "Doc.tiff"},
        {ExportFormat::text, ExportScope::allPages, "Doc.txt"},
        {ExportFormat::marksSummary, ExportScope::allPages, "Doc marks.md"},
    };
    for (const ScopeCase& c : byScope) EXPECT_EQ(Exporter::suggestedFileName("Doc", c.format, c.scope), c.name);

    struct PagesCase {
        std::vector<int> pages;
        int count;
        QString name;
    };
    const std::vector<PagesCase> byPages = {
        {{4}, 10, "Doc page 5.png"},
        {{4, 4}, 10, "Doc page 5.png"},
        {{0, 1, 2, 4}, 10, "Doc pages 1-3, 5.png"},
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 10, "Doc.png"},
        {{}, 10, "Doc.png"},
        {{0}, 1, "Doc.png"},
        // "1, 3, 5, 7, 9, 11, 13, 15" is 25 characters: too long to name.
        {{0, 2, 4, 6, 8, 10, 12, 14}, 20, "Doc pages.png"},
        {{0, 2, 4, 6, 8, 10, 12}, 20, "Doc pages 1, 3, 5, 7, 9, 11, 13.png"},
    };
    for (const PagesCase& c : byPages)
        EXPECT_EQ(Exporter::suggestedFileName("Doc", ExportFormat::png, c.pages, c.count), c.name);

    EXPECT_EQ(Exporter::pageFileName("Doc", 0, 100, "png"), "Doc-001.png");
    EXPECT_EQ(Exporter::pageFileName("Doc", 0, 1, "png"), "Doc-01.png");
    EXPECT_EQ(Exporter::pageFileName("Doc", 0, 9, "jpg"), "Doc-01.jpg");
    EXPECT_EQ(Exporter::pageFileName("Doc", 119, 120, "png"), "Doc-120.png");
}

TEST(ExporterText, OnePageAloneSeveralUnderHeadings)
{
    auto doc = textDocument(3);
    EXPECT_EQ(Exporter::text(*doc, {1}), "Page 2");
    EXPECT_EQ(Exporter::text(*doc, {2, 0, 8}), "Page 3\nPage 3\n\nPage 1\nPage 1");
    auto blank = PdfDocument::createBlank();
    EXPECT_EQ(Exporter::text(*blank, {0, 0}), "Page 1\n\n\nPage 1\n");
}

TEST(ExporterImages, PngJpegAndTiffCarryTheirResolution)
{
    auto doc = textDocument(1);
    const QImage page = Exporter::bitmap(*doc, 0, 150.0 / 72);
    ASSERT_EQ(page.size(), QSize(1275, 1650));

    const QByteArray png = Exporter::encode({page}, ExportFormat::png, 150, 1);
    EXPECT_EQ(pngPixelsPerMetre(png), 5906u);
    EXPECT_EQ(QImage::fromData(png).size(), page.size());
    EXPECT_EQ(pngPixelsPerMetre(Exporter::encode({page}, ExportFormat::png, std::nullopt, 1)), 0u);

    const QByteArray jpeg = Exporter::encode({page}, ExportFormat::jpeg, 300, 0.5);
    ASSERT_GT(jpeg.size(), 20);
    // JFIF density: units 1 (dots per inch), then 300 across and down.
    EXPECT_EQ(jpeg.mid(13, 5), QByteArray::fromHex("01012c012c"));
    EXPECT_LT(jpeg.size(), Exporter::encode({page}, ExportFormat::jpeg, 300, 1.0).size());
    EXPECT_EQ(QImage::fromData(jpeg).size(), page.size());

    QTemporaryDir dir;
    const QString tiff = dir.path() + "/page.tiff";
    testsupport::writeFile(tiff, Exporter::encode({page}, ExportFormat::tiff, 150, 1));
    const QString info = exporttest::output("tiffinfo", {tiff});
    EXPECT_TRUE(info.contains("Compression Scheme: LZW")) << info.toStdString();
    EXPECT_TRUE(info.contains("Resolution: 150, 150 pixels/inch")) << info.toStdString();
    EXPECT_TRUE(info.contains("Image Width: 1275 Image Length: 1650")) << info.toStdString();
}

TEST(ExporterImages, ThreeRenderedPagesJoinIntoOneTiff)
{
    auto doc = textDocument(3);
    QTemporaryDir dir;
    const QString path = dir.path() + "/Doc.tiff";
    Exporter::writeFile(testsupport::chosen(path), [&](int fd) {
        MultiPageTIFF writer(fd, "Doc.tiff", MultiPageTIFF::maximumSize);
        for (int i = 0; i < 3; ++i)
            writer.append(Exporter::encode({Exporter::bitmap(*doc, i, 0.5)}, ExportFormat::tiff, 36, 1));
        writer.finish();
    });
    const QString info = exporttest::output("tiffinfo", {path});
    EXPECT_EQ(info.count("TIFF Directory at offset"), 3) << info.toStdString();
    EXPECT_EQ(info.count("Compression Scheme: LZW"), 3);
    // tiffinfo -D decodes every page: the strips were moved with their pages.
    QProcess check;
    check.start("tiffinfo", {"-D", path});
    ASSERT_TRUE(check.waitForFinished(60000));
    EXPECT_EQ(check.exitCode(), 0);
    EXPECT_FALSE(QString::fromUtf8(check.readAllStandardError()).contains("rror"));
}

TEST(ExporterImages, EncodingNeedsImagesOfAnImageFormat)
{
    auto doc = textDocument(2);
    const QImage page = Exporter::bitmap(*doc, 0, 0.25);
    EXPECT_EQ(failureOf([&] { Exporter::encode({}, ExportFormat::png, 72, 1); }), ExportError::Kind::empty);
    EXPECT_EQ(failureOf([&] { Exporter::encode({page}, ExportFormat::text, 72, 1); }), ExportError::Kind::renderFailed);
    EXPECT_EQ(failureOf([&] {
                  Exporter::encode({page, page}, ExportFormat::png, 72, 1);
              }),
              ExportError::Kind::renderFailed);
    EXPECT_EQ(failureOf([&] { Exporter::imageData(*doc, {7, 8}, ExportFormat::png, 1, 1); }), ExportError::Kind::empty);
    // Several pages in memory: one TIFF holding them all.
    QTemporaryDir dir;
    testsupport::writeFile(dir.path() + "/two.tiff", Exporter::imageData(*doc, {0, 1, 5}, ExportFormat::tiff, 0.25, 1));
    EXPECT_EQ(exporttest::output("tiffinfo", {dir.path() + "/two.tiff"}).count("TIFF Directory at offset"), 2);
}

TEST(ExporterFiles, WritesReplaceWholeFilesOrReportWhy)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/out.txt";
    testsupport::writeFile(path, "old contents");
    Exporter::writeFile("new", testsupport::chosen(path));
    EXPECT_EQ(testsupport::readFile(path), "new");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.txt"}); // no leftovers

    try {
        Exporter::chooseFile(dir.path() + "/missing/Report.pdf", {});
        FAIL();
    } catch (const ExportError& error) {
        EXPECT_EQ(error.kind(), ExportError::Kind::cannotWrite);
        EXPECT_EQ(error.name(), "Report.pdf");
    }
    if (::geteuid() != 0) { // root may write anywhere
        const QString locked = dir.path() + "/locked";
        QDir().mkdir(locked);
        ::chmod(QFile::encodeName(locked).constData(), 0500);
        try {
            Exporter::chooseFile(locked + "/Report.pdf", {});
            FAIL();
        } catch (const ExportError& error) {
            EXPECT_EQ(error, ExportError::cannotWrite("Report.pdf", "You don't have permission to save there."));
        }
        ::chmod(QFile::encodeName(locked).constData(), 0700);
    }
}

TEST(ExporterFiles, FreeFolderNamesCountUpFromTwo)
{
    QTemporaryDir dir;
    const Exporter::HeldFolder held = Exporter::chosenFolder(dir.path());
    EXPECT_EQ(Exporter::freeFolderName(held.fd.fd, "Doc"), "Doc");
    QDir(dir.path()).mkdir("Doc");
    EXPECT_EQ(Exporter::freeFolderName(held.fd.fd, "Doc"), "Doc 2");
    testsupport::writeFile(dir.path() + "/Doc 2", "a file counts too");
    EXPECT_EQ(Exporter::freeFolderName(held.fd.fd, "Doc"), "Doc 3");
}

TEST(ExporterFiles, WorkFoldersLieOnTheDestinationsVolumeAndGoAway)
{
    QTemporaryDir dir;
    const Exporter::HeldFolder held = Exporter::chosenFolder(dir.path());
    QString folder;
    {
        Exporter::WorkFolder work(held);
        folder = work.path();
        ASSERT_TRUE(QFileInfo(folder).isDir());
        const Exporter::WorkFolder second(held);
        EXPECT_NE(second.path(), folder);
        struct stat a {
        }, b{};
        ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &a), 0);
        ASSERT_EQ(::stat(QFile::encodeName(dir.path()).constData(), &b), 0);
        EXPECT_EQ(a.st_dev, b.st_dev);
        EXPECT_EQ(a.st_mode & 0777, 0700u);
        work.writeNewFile(work.makeFolder(work.fd(), "pages"), "page.png", "x");
    }
    EXPECT_FALSE(QFileInfo::exists(folder));
    // What it did not make stays, and so does the folder that holds it.
    {
        Exporter::WorkFolder work(held);
        folder = work.path();
        testsupport::writeFile(folder + "/pages/page.png", "x");
    }
    EXPECT_TRUE(QFileInfo::exists(folder + "/pages/page.png"));
    QDir(folder).removeRecursively();
}

TEST(ExporterImages, PosterPagesFailAsImagesWhileRedactionScalesDown)
{
    // A 200-inch square page: 60000 pixels a side at 300 dpi.
    const std::string content = "0 0 0 rg 0 0 7200 7200 re f";
    auto doc = PdfDocument::openBytes(testsupport::writePdf(
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 14400 14400] /Contents 4 0 R >>",
         "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream"}));
    EXPECT_EQ(failureOf([&] { Exporter::imageData(*doc, {0}, ExportFormat::png, 300.0 / 72, 1); }),
              ExportError::Kind::renderFailed);

    const double scale = Exporter::cappedScale({14400, 14400}, 300.0 / 72);
    EXPECT_LT(scale, 300.0 / 72);
    const QSize pixels = Exporter::pixelSize({14400, 14400}, scale);
    EXPECT_LE(pixels.width(), 32767);
    EXPECT_LE(qint64(pixels.width()) * pixels.height(), qint64(1) << 28);
    EXPECT_GT(qint64(pixels.width()) * pixels.height(), (qint64(1) << 28) * 9 / 10); // not needlessly small
    EXPECT_DOUBLE_EQ(Exporter::cappedScale({612, 792}, 300.0 / 72), 300.0 / 72);
}
