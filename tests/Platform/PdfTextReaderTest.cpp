#include "Platform/PdfTextReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <thread>

using platform::PdfDocument;
using platform::PdfTextPage;
using platform::PdfTextReader;
using testsupport::writeFile;

namespace {

// Every glyph's code and quad, in reading order.
std::vector<platform::PdfChar> glyphs(const PdfTextPage& page)
{
    std::vector<platform::PdfChar> all;
    for (const auto& block : page.blocks)
        for (const auto& line : block.lines) all.insert(all.end(), line.chars.begin(), line.chars.end());
    return all;
}

void expectSameText(const PdfTextPage& read, const PdfTextPage& expected)
{
    const auto a = glyphs(read), b = glyphs(expected);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].code, b[i].code);
        EXPECT_EQ(a[i].quad, b[i].quad);
    }
    EXPECT_EQ(read.text(), expected.text());
}

} // namespace

// A reader reads what the document shows, glyph for glyph in user space,
// whether the document came from bytes or from a file (rotated pages too).
TEST(PdfTextReader, ReadsWhatTheDocumentShows)
{
    std::vector<std::shared_ptr<PdfDocument>> documents = {
        PdfDocument::openBytes(testsupport::makeTextPdf(3, "the reader"))};
    for (const char* name :
         {"pdflatex-4-pages.pdf", "habibi-rotated.pdf", "multicolumn.pdf", "GeoTopo-komprimiert.pdf"})
        documents.push_back(PdfDocument::openFile(testsupport::corpusPath(name)));
    for (const auto& doc : documents) {
        const auto reader = PdfTextReader::open(*doc);
        ASSERT_TRUE(reader);
        ASSERT_EQ(reader->pageCount(), doc->pageCount());
        for (int page = 0; page < doc->pageCount(); ++page) {
            SCOPED_TRACE(page);
            expectSameText(reader->textPage(page), doc->textPage(page));
        }
        EXPECT_THROW(reader->textPage(doc->pageCount()), platform::PdfError);
        EXPECT_THROW(reader->textPage(-1), platform::PdfError);
    }
}

// None where a fresh reading of the source would not show what the document does.
TEST(PdfTextReader, NoneWhenTheSourceNoLongerShowsTheDocument)
{
    QTemporaryDir dir;
    const QString replaced = dir.filePath("replaced.pdf");
    ASSERT_TRUE(writeFile(replaced, testsupport::makeTextPdf(2)));
    const auto fileDoc = PdfDocument::openFile(replaced.toStdString());
    ASSERT_TRUE(PdfTextReader::open(*fileDoc));
    QFile::remove(replaced);
    ASSERT_TRUE(writeFile(replaced, testsupport::makeTextPdf(5)));
    // A small file is held whole: its reader reads the bytes the document came from.
    const auto reader = PdfTextReader::open(*fileDoc);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->pageCount(), 2);

    const auto edited = PdfDocument::openBytes(testsupport::makeTextPdf(2));
    edited->setInfoString("Title", "Edited");

    // The cross-reference table points past the end: MuPDF rebuilds it on opening.
    QByteArray damaged = testsupport::makeTextPdf(2);
    const qsizetype at = damaged.lastIndexOf("startxref");
    ASSERT_GE(at, 0);
    damaged = damaged.left(at) + "startxref\n999999\n%%EOF\n";
    const auto repaired = PdfDocument::openBytes(damaged);
    ASSERT_EQ(repaired->pageCount(), 2);

    const struct {
        const char* name;
        std::shared_ptr<PdfDocument> doc;
    } cases[] = {
        {"edited since opening", edited},
        {"made, not opened", PdfDocument::createBlank()},
        {"needs a password", PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf"))},
        {"repaired on opening", repaired},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(PdfTextReader::open(*c.doc));
    }
}

// Readers on several threads at once, and while the document itself is read
// elsewhere: each reads its pages as the document does, and outlives it.
TEST(PdfTextReader, ReadersOnSeveralThreadsAndAfterTheDocumentIsGone)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(40, "several readers"));
    std::vector<PdfTextPage> expected;
    for (int page = 0; page < doc->pageCount(); ++page) expected.push_back(doc->textPage(page));
    std::vector<std::unique_ptr<PdfTextReader>> readers(4);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(readers.size(), 0);
    for (std::size_t i = 0; i < readers.size(); ++i) {
        threads.emplace_back([&, i] {
            readers[i] = PdfTextReader::open(*doc);
            if (!readers[i]) {
                ++mismatches[i];
                return;
            }
            for (int page = 0; page < int(expected.size()); ++page)
                if (readers[i]->textPage(page).text() != expected[std::size_t(page)].text()) ++mismatches[i];
        });
    }
    for (int page = 0; page < doc->pageCount(); ++page)
        EXPECT_EQ(doc->textPage(page).text(), expected[std::size_t(page)].text());
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(readers.size(), 0));
    doc.reset();
    EXPECT_EQ(readers.front()->textPage(39).text(), expected.back().text());
}
