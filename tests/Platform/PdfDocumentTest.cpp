#include "Platform/PdfDocument.h"
#include "Platform/PdfAnnotations.h"
#include "Platform/MetadataReader.h"
#include "Platform/PdfPageGeometries.h"
#include "Platform/PdfPageIdentity.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <fcntl.h>

using platform::PdfDocument;
using platform::PdfError;
using platform::PdfErrorCode;

namespace {

// Share of pixels in an image that are not near white.
double inkShare(const QImage& image)
{
    if (image.isNull()) return 0;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    qint64 ink = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* line = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            if (line[3 * x] < 200 || line[3 * x + 1] < 200 || line[3 * x + 2] < 200) ++ink;
    }
    return double(ink) / (double(rgb.width()) * rgb.height());
}

std::shared_ptr<PdfDocument> openCorpus(const std::string& path)
{
    auto doc = PdfDocument::openFile(path);
    if (doc->isLocked()) {
        EXPECT_TRUE(doc->unlock("openpassword")) << path;
    }
    return doc;
}

} // namespace

TEST(PdfDocument, NewDocumentIsOneWhiteLetterPage)
{
    auto doc = PdfDocument::createBlank();
    ASSERT_EQ(doc->pageCount(), 1);
    const auto g = doc->pageGeometry(0);
    EXPECT_DOUBLE_EQ(g.mediaBox.width, 612);
    EXPECT_DOUBLE_EQ(g.mediaBox.height, 792);
    const QImage image = doc->render(0, 0.5);
    EXPECT_EQ(image.size(), QSize(306, 396));
    EXPECT_EQ(inkShare(image), 0.0);
    // It survives a round trip.
    auto again = PdfDocument::openBytes(doc->save());
    EXPECT_EQ(again->pageCount(), 1);
}

TEST(PdfDocument, EveryCorpusFileOpensRendersAndRoundTrips)
{
    const auto files = testsupport::corpusPdfs();
    ASSERT_GE(files.size(), 20u);
    for (const auto& path : files) {
        SCOPED_TRACE(path);
        std::shared_ptr<PdfDocument> doc;
        try {
            doc = openCorpus(path);
        } catch (const PdfError& e) {
            ADD_FAILURE() << "cannot open: " << e.what();
            continue;
        }
        const int pages = doc->pageCount();
        ASSERT_GT(pages, 0);
        const QImage first = doc->render(0, 72.0 / 72.0);
        EXPECT_FALSE(first.isNull());
        EXPECT_GT(inkShare(first), 0.0) << "page 1 rendered blank";
        const std::string text = doc->textPage(0).text();

        auto reopened = PdfDocument::openBytes(doc->save());
        if (reopened->isLocked()) {
            EXPECT_TRUE(reopened->unlock("openpassword"));
        }
        EXPECT_EQ(reopened->pageCount(), pages);
        EXPECT_EQ(reopened->textPage(0).text(), text);
    }
}

TEST(PdfDocument, RefusesGarbageEmptyAndTruncatedInput)
{
    EXPECT_THROW(PdfDocument::openBytes(QByteArray()), PdfError);
    EXPECT_THROW(PdfDocument::openBytes(QByteArray("hello, this is not a PDF at all\n")), PdfError);
    QByteArray noise(4096, '\0');
    for (int i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919) % 251);
    EXPECT_THROW(PdfDocument::openBytes(noise), PdfError);

    QFile file(QString::fromStdString(testsupport::corpusPath("pdflatex-4-pages.pdf")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    for (int cut : {8, 100, 400}) {
        try {
            auto doc = PdfDocument::openBytes(whole.left(cut));
            ADD_FAILURE() << "a " << cut << "-byte stub opened with " << doc->pageCount() << " pages";
        } catch (const PdfError& e) {
            EXPECT_EQ(e.code(), PdfErrorCode::damaged);
        }
    }
    // A file cut in half is repaired as far as it goes, or refused; never a crash.
    try {
        auto doc = PdfDocument::openBytes(whole.left(whole.size() / 2));
        for (int i = 0; i < doc->pageCount(); ++i) {
            try {
                doc->render(i, 0.2);
            } catch (const PdfError&) {}
        }
    } catch (const PdfError&) {}
    EXPECT_THROW(PdfDocument::openFile("/nonexistent/file.pdf"), PdfError);
    EXPECT_THROW(PdfDocument::openFile("/tmp"), PdfError);
}

TEST(PdfDocument, PasswordIsRefusedThenAccepted)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    EXPECT_TRUE(doc->needsPassword());
    EXPECT_TRUE(doc->isLocked());
    EXPECT_EQ(doc->pageCount(), 0);
    EXPECT_THROW(doc->render(0, 1), PdfError);
    EXPECT_FALSE(doc->unlock("wrong"));
    EXPECT_TRUE(doc->isLocked());
    EXPECT_TRUE(doc->unlock("openpassword"));
    EXPECT_FALSE(doc->isLocked());
    EXPECT_GT(doc->pageCount(), 0);
    EXPECT_TRUE(doc->isEncrypted());
}

TEST(PdfDocument, SavingKeepsTheFilesEncryption)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    ASSERT_TRUE(doc->unlock("openpassword"));
    const std::string text = doc->textPage(0).text();
    auto saved = PdfDocument::openBytes(doc->save());
    EXPECT_TRUE(saved->isLocked()) << "an unlocked document was written out without its password";
    EXPECT_FALSE(saved->unlock("wrong"));
    EXPECT_TRUE(saved->unlock("openpassword"));
    EXPECT_EQ(saved->textPage(0).text(), text);
}

TEST(PdfDocument, NewPasswordsAndRemovalOfEncryption)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("pdflatex-4-pages.pdf"));
    platform::PdfSaveOptions opts;
    opts.encryption = platform::PdfSaveOptions::Encryption::aes256;
    opts.userPassword = "secret";
    opts.ownerPassword = "owner";
    auto locked = PdfDocument::openBytes(doc->save(opts));
    ASSERT_TRUE(locked->isLocked());
    ASSERT_TRUE(locked->unlock("secret"));
    EXPECT_EQ(locked->pageCount(), 4);
    platform::PdfSaveOptions plain;
    plain.encryption = platform::PdfSaveOptions::Encryption::none;
    auto open = PdfDocument::openBytes(locked->save(plain));
    EXPECT_FALSE(open->isLocked());
    EXPECT_EQ(open->pageCount(), 4);
}

TEST(PdfDocument, SaveToFileReplacesWholeFile)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("out.pdf").toStdString();
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(3));
    doc->saveToFile(testsupport::chosen(path));
    auto back = PdfDocument::openFile(path);
    EXPECT_EQ(back->pageCount(), 3);
    EXPECT_NE(back->textPage(2).text().find("Page 3"), std::string::npos);
    // A folder that cannot be written leaves nothing behind and reports an error.
    EXPECT_THROW(doc->saveToFile(testsupport::chosen(std::string("/proc/ravlen-cannot-write/out.pdf"))), PdfError);
}

TEST(PdfDocument, GeometryFollowsRotationAndCropBox)
{
    EXPECT_EQ(platform::normalizedRotation(-90), 270);
    EXPECT_EQ(platform::normalizedRotation(450), 90);
    EXPECT_EQ(platform::normalizedRotation(720), 0);
    EXPECT_EQ(platform::normalizedRotation(-540), 180);

    auto doc = PdfDocument::openFile(testsupport::corpusPath("habibi-rotated.pdf"));
    const auto g = doc->pageGeometry(0);
    if (g.rotation == 90 || g.rotation == 270) {
        EXPECT_DOUBLE_EQ(g.displaySize.width, g.cropBox.height);
        EXPECT_DOUBLE_EQ(g.displaySize.height, g.cropBox.width);
    }
    // The top left of the crop box lands on the display origin for an upright page.
    auto upright = PdfDocument::openBytes(testsupport::makeTextPdf(1));
    const auto u = upright->pageGeometry(0);
    const auto origin = u.userToDisplay.map({0, 792});
    EXPECT_NEAR(origin.x, 0, 1e-6);
    EXPECT_NEAR(origin.y, 0, 1e-6);
}

TEST(PdfDocument, TextCarriesQuadsInUserSpace)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(1));
    const auto page = doc->textPage(0);
    ASSERT_FALSE(page.blocks.empty());
    const auto& line = page.blocks[0].lines[0];
    EXPECT_EQ(line.text(), "Page 1");
    const auto box = line.chars[0].quad.bounds();
    // The text was set at (72, 700) in 24 points.
    EXPECT_NEAR(box.x, 72, 1.0);
    EXPECT_GT(box.maxY(), 700);
    EXPECT_LT(box.y, 700);
}

TEST(PdfDocument, InfoEntriesReadAndWrite)
{
    auto doc = PdfDocument::createBlank();
    EXPECT_FALSE(doc->infoString("Title"));
    doc->setInfoString("Title", "Grüße");
    // The first write creates /Info and must stick at once.
    EXPECT_EQ(doc->infoString("Title").value_or(""), "Grüße");
    doc->setInfoString("Keywords", "a, b, c");
    auto back = PdfDocument::openBytes(doc->save());
    EXPECT_EQ(back->infoString("Title").value_or(""), "Grüße");
    EXPECT_EQ(back->infoString("Keywords").value_or(""), "a, b, c");
    back->setInfoString("Title", std::nullopt);
    EXPECT_FALSE(back->infoString("Title"));
}

TEST(PdfDocument, DisplayListsRenderOnOtherThreads)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("pdflatex-4-pages.pdf"));
    auto list = doc->displayList(0);
    const QImage direct = doc->render(0, 1.0);
    QImage threaded;
    std::thread worker([&] { threaded = list->render(1.0); });
    worker.join();
    EXPECT_EQ(direct, threaded);
    // A tile is the same pixels as that part of the whole page.
    const QRect tile(50, 60, 100, 80);
    EXPECT_EQ(list->render(1.0, tile), direct.copy(tile));
}

namespace {

// The largest difference of one colour channel between two images of one size.
int largestChannelDifference(const QImage& a, const QImage& b)
{
    int most = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            most = std::max(
                {most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    return most;
}

} // namespace

// The page view's tiles: 32-bit pixels drawn straight into a buffer the
// caller hands over, the pixels of the 24-bit rendering of the page (MuPDF
// rounds blends over an alpha channel its own way: a level at most).
TEST(PdfDocument, DisplayListsDrawInto32BitBuffersOfTheCaller)
{
    for (const std::string& path : testsupport::corpusPdfs()) {
        SCOPED_TRACE(path);
        std::shared_ptr<PdfDocument> doc;
        try {
            doc = PdfDocument::openFile(path);
        } catch (const PdfError&) {
            continue;
        }
        if (doc->needsPassword() || doc->pageCount() == 0) continue;
        const auto list = doc->displayList(0);
        const platform::PdfSize size = list->displaySize();
        if (size.width < 20 || size.height < 20) continue;
        // A part inside the page: a tile.
        const QRect clip(int(size.width * 0.05), int(size.height * 0.05), int(size.width * 0.6),
                         int(size.height * 0.4));
        const QImage rgb = list->render(1.0, clip);
        ASSERT_EQ(rgb.size(), clip.size());
        QImage given(clip.size(), QImage::Format_RGB32);
        given.fill(Qt::red);
        const uchar* buffer = given.constBits();
        // The source gives its only reference away, as the renderer's buffers do.
        const QImage drawn = list->renderRgb32(
            1.0, clip, [&](QSize size) { return size == given.size() ? std::exchange(given, {}) : QImage(); });
        ASSERT_EQ(drawn.format(), QImage::Format_RGB32);
        EXPECT_EQ(drawn.constBits(), buffer); // drawn where it was asked to, not into a copy
        EXPECT_LE(largestChannelDifference(drawn, rgb), 1);
        // A buffer of the wrong size is not written; the tile is drawn all the same.
        const QImage fresh = list->renderRgb32(1.0, clip, [](QSize) { return QImage(10, 10, QImage::Format_RGB32); });
        EXPECT_EQ(fresh, drawn);
    }
}

// A recording's cost is what it keeps in memory that was not there before:
// a page of images costs more than a page of text, and a second recording of
// a page whose images are already loaded costs only its own commands.
TEST(PdfDocument, DisplayListCostsWhatTheRecordingKeeps)
{
    const auto images = PdfDocument::openFile(testsupport::corpusPath("cmyk-image.pdf"));
    const auto text = PdfDocument::openBytes(testsupport::makeTextPdf(1));
    const auto first = images->displayList(0);
    const auto textList = text->displayList(0);
    EXPECT_GT(textList->cost(), 0u);
    EXPECT_GT(first->cost(), 4 * textList->cost());
    const auto again = images->displayList(0);
    EXPECT_LT(again->cost(), first->cost() / 2);
    EXPECT_EQ(again->render(0.5), first->render(0.5));
}

// A page's recording gives the same text, in the same places, as the page.
TEST(PdfDocument, TextReadFromARecordingIsThePagesText)
{
    for (const char* file : {"pdflatex-4-pages.pdf", "habibi-rotated.pdf", "multicolumn.pdf"}) {
        SCOPED_TRACE(file);
        const auto doc = PdfDocument::openFile(testsupport::corpusPath(file));
        for (int page = 0; page < doc->pageCount(); ++page) {
            const platform::PdfTextPage direct = doc->textPage(page);
            const platform::PdfTextPage recorded = doc->displayList(page)->textPage();
            ASSERT_EQ(recorded.text(), direct.text()) << page;
            ASSERT_EQ(recorded.blocks.size(), direct.blocks.size());
            const auto& a = direct.blocks.front().lines.front().chars.front().quad;
            const auto& b = recorded.blocks.front().lines.front().chars.front().quad;
            EXPECT_NEAR(a.ll.x, b.ll.x, 0.01);
            EXPECT_NEAR(a.ll.y, b.ll.y, 0.01);
            EXPECT_NEAR(a.ur.x, b.ur.x, 0.01);
        }
    }
}

TEST(PdfDocument, AnOutlineNestedTooDeepIsReadToALimitAndACycleEnds)
{
    // Objects: 1 catalog, 2 pages, 3 page, 4 outline root, 5… a chain of items
    // each the only child of the one before, 75,000 deep.
    constexpr int depth = 75000;
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R /Outlines 4 0 R >>",
                                        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>",
                                        "<< /Type /Outlines /First 5 0 R /Last 5 0 R /Count 1 >>"};
    for (int i = 0; i < depth; ++i) {
        const int num = 5 + i;
        std::string item = "<< /Title (Level " + std::to_string(i + 1) + ") /Parent " + std::to_string(i ? num - 1 : 4)
                           + " 0 R /Dest [3 0 R /XYZ 0 200 0]";
        if (i + 1 < depth)
            item += " /First " + std::to_string(num + 1) + " 0 R /Last " + std::to_string(num + 1) + " 0 R /Count 1";
        objects.push_back(item + " >>");
    }
    auto deep = PdfDocument::openBytes(testsupport::writePdf(objects));
    const auto outline = deep->outline();
    ASSERT_EQ(outline.size(), 1u);
    int levels = 0;
    for (const auto* level = &outline; !level->empty(); level = &level->front().children) {
        EXPECT_EQ(level->front().title, "Level " + std::to_string(levels + 1));
        EXPECT_EQ(level->front().page, std::optional<int>(0));
        ++levels;
    }
    EXPECT_GE(levels, 16);
    EXPECT_LT(levels, depth);

    // Two items that name each other as the next one: each is listed once.
    auto looped = PdfDocument::openBytes(testsupport::writePdf(
        {"<< /Type /Catalog /Pages 2 0 R /Outlines 4 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>", "<< /Type /Outlines /First 5 0 R /Count 2 >>",
         "<< /Title (One) /Parent 4 0 R /Next 6 0 R /Dest [3 0 R /Fit] >>",
         "<< /Title (Two) /Parent 4 0 R /Next 5 0 R /Dest [3 0 R /Fit] >>"}));
    const auto pair = looped->outline();
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_EQ(pair[0].title, "One");
    EXPECT_EQ(pair[1].title, "Two");
}

TEST(PdfDocument, DocumentsLetGoOfWhileOthersRenderGoSafely)
{
    // Text boxes make MuPDF compare objects across documents in its shared store.
    auto source = PdfDocument::openBytes(testsupport::makeTextPdf(3));
    for (int page = 0; page < 3; ++page) {
        platform::PdfAnnotation box;
        box.subtype = "FreeText";
        box.rect = {60, 300, 200, 60};
        box.contents = "Box on page " + std::to_string(page + 1);
        box.fontName = "Helv";
        box.fontSize = 14;
        box.fontColor = platform::PdfColor{0, 0, 0};
        platform::PdfAnnotations::add(*source, page, box);
    }
    const QByteArray bytes = source->save();

    // The open document is replaced again and again, as Revert does, while
    // workers render whichever one is current; the last one to let go of an
    // old document may be a worker.
    std::mutex slotMutex;
    std::shared_ptr<PdfDocument> current = PdfDocument::openBytes(bytes);
    std::atomic<bool> stop{false};
    std::atomic<int> rendered{0}, blank{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; !stop; ++i) {
                std::shared_ptr<PdfDocument> doc;
                {
                    std::lock_guard lock(slotMutex);
                    doc = current;
                }
                try {
                    // Half the workers draw pages directly, half record display lists.
                    const QImage image =
                        w % 2 ? doc->render((w + i) % 3, 0.3) : doc->displayList((w + i) % 3)->render(0.3);
                    (image.isNull() ? blank : rendered)++;
                } catch (const PdfError&) {
                    blank++;
                }
            }
        });
    for (int i = 0; i < 1000; ++i) {
        auto fresh = PdfDocument::openBytes(bytes);
        std::lock_guard lock(slotMutex);
        current = std::move(fresh);
    }
    stop = true;
    for (auto& worker : workers) worker.join();
    EXPECT_GT(rendered.load(), 0);
    EXPECT_EQ(blank.load(), 0);
}

TEST(PdfDocument, APageCountThatLiesGivesThePagesThereAre)
{
    // The root claims more pages than the file holds, up to a count no int
    // holds, which MuPDF reads cut to 32 bits (99,999,999,999 as
    // 1,215,752,191). With a page object the tree is rebuilt from it;
    // without one (a page dictionary with no /Type) the file shows no pages.
    QTemporaryDir dir;
    struct Case {
        const char* count;
        bool typed;
    };
    for (const Case& c : {Case{"5", true}, Case{"10000000", true}, Case{"1000000000", true}, Case{"2147483647", true},
                          Case{"99999999999", true}, Case{"99999999999", false}}) {
        SCOPED_TRACE(std::string(c.count) + (c.typed ? ", a page object" : ", no page object"));
        auto objects = testsupport::textPageObjects("Only page");
        objects[1] = std::string("<< /Type /Pages /Kids [3 0 R] /Count ") + c.count + " >>";
        objects[2] =
            std::string("<< ") + (c.typed ? "/Type /Page " : "")
            + "/Parent 2 0 R /MediaBox [0 0 300 400] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>";
        const QString path = testsupport::writeFile(dir, "lying.pdf", testsupport::writePdf(objects));
        const int expected = c.typed ? 1 : 0;
        const auto doc = PdfDocument::openFile(path.toStdString());
        EXPECT_EQ(doc->pageCount(), expected);
        const auto geometries = platform::pageGeometries(*doc);
        ASSERT_EQ(geometries.size(), size_t(expected));
        if (c.typed) {
            ASSERT_TRUE(geometries[0].has_value());
            EXPECT_EQ(geometries[0]->displaySize.width, 300);
            EXPECT_EQ(platform::pageIndex(*doc, platform::pageId(*doc, 0)), 0);
            EXPECT_NE(doc->textPage(0).text().find("Only page"), std::string::npos);
        } else {
            // Saved, it would be a PDF no reader opens: refused, the file kept.
            const QByteArray before = testsupport::readFile(path);
            try {
                doc->saveToFile(testsupport::chosen(dir.filePath("saved.pdf").toStdString()));
                ADD_FAILURE() << "a document with no pages was saved";
            } catch (const PdfError& error) {
                EXPECT_EQ(error.code(), PdfErrorCode::unreadablePages);
            }
            EXPECT_EQ(testsupport::readFile(path), before);
        }
        // The index reader is handed the file open, as the indexer hands it.
        const auto reading = platform::readForIndex(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC),
                                                    std::chrono::seconds(5));
        EXPECT_EQ(reading.pageCount.value_or(-1), expected);
    }
}
