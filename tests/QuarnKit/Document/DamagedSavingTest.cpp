// Saving damaged copies of real files as the window saves them: whatever the
// damage, a save either keeps every page and every word ravlen read from the
// file, plus the new mark, or is refused and leaves the file as it was.
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Document/SaveRefusal.h"
#include "QuarnKit/Export/ExportJob.h"
#include "QuarnKit/Viewer/PrintLayout.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <random>

using quarnkit::DocumentError;
using quarnkit::QuarnDocument;

using testsupport::readFile;
using testsupport::writeFile;

namespace {

struct Damaged {
    std::string name;
    QByteArray bytes;
};

// Copies of `original` cut short, with a span deleted, with a span written
// twice, and with bytes flipped, at places drawn from `random`.
std::vector<Damaged> damagedCopies(const std::string& name, const QByteArray& original, std::mt19937& random)
{
    const auto at = [&](qsizetype size) {
        return qsizetype(std::uniform_int_distribution<qsizetype>(0, size - 1)(random));
    };
    const auto length = [&] { return qsizetype(std::uniform_int_distribution<int>(1, 2000)(random)); };
    std::vector<Damaged> copies;
    for (int k = 0; k < 2; ++k) {
        const qsizetype end = at(original.size());
        copies.push_back({name + " cut at " + std::to_string(end), original.left(end)});
        const qsizetype from = at(original.size()), n = length();
        copies.push_back({name + " without " + std::to_string(n) + " bytes at " + std::to_string(from),
                          original.left(from) + original.mid(from + n)});
        const qsizetype start = at(original.size()), span = length();
        copies.push_back({name + " with " + std::to_string(span) + " bytes at " + std::to_string(start) + " twice",
                          original.left(start + span) + original.mid(start)});
        QByteArray flipped = original;
        std::string where;
        for (int flip = 0; flip < 8; ++flip) {
            const qsizetype i = at(flipped.size());
            flipped[i] = char(flipped[i] ^ (1 << (random() % 8)));
            where += " " + std::to_string(i);
        }
        copies.push_back({name + " with bytes flipped at" + where, flipped});
    }
    return copies;
}

using Words = std::map<std::string, int>;

Words wordsOf(const std::string& text)
{
    Words words;
    std::string word;
    for (const char c : text + " ") {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            word += c;
        } else if (!word.empty()) {
            ++words[word];
            word.clear();
        }
    }
    return words;
}

// The words of every page as the engine reads them; a page it cannot read has none.
std::vector<Words> pageWords(const platform::PdfDocument& pdf)
{
    std::vector<Words> pages;
    for (int page = 0; page < pdf.pageCount(); ++page) {
        try {
            pages.push_back(wordsOf(pdf.textPage(page).text()));
        } catch (const platform::PdfError&) {
            pages.emplace_back();
        }
    }
    return pages;
}

int markCount(const platform::PdfDocument& pdf)
{
    try {
        return int(platform::PdfAnnotations::list(pdf, 0).size());
    } catch (const platform::PdfError&) {
        return 0;
    }
}

platform::PdfAnnotation square()
{
    platform::PdfAnnotation mark;
    mark.subtype = "Square";
    mark.rect = {40, 40, 80, 60};
    mark.color = platform::PdfColor{1, 0, 0};
    mark.borderWidth = 2;
    return mark;
}

} // namespace

TEST(DamagedSaving, ASaveKeepsEveryPageWordAndMarkOrLeavesTheFileAlone)
{
    std::mt19937 random(24); // the same damage on every run
    QTemporaryDir dir;
    std::map<std::string, int> outcomes;
    for (const std::string& source : testsupport::corpusPdfs()) {
        const QByteArray original = readFile(QString::fromStdString(source));
        // The long document would take the run's time alone.
        if (original.size() > 1'000'000 && QFileInfo(QString::fromStdString(source)).fileName().startsWith("GeoTopo"))
            continue;
        for (const Damaged& damaged :
             damagedCopies(QFileInfo(QString::fromStdString(source)).fileName().toStdString(), original, random)) {
            SCOPED_TRACE(damaged.name);
            const QString path = dir.filePath("damaged.pdf");
            writeFile(path, damaged.bytes);
            std::unique_ptr<QuarnDocument> document;
            try {
                document = QuarnDocument::open(path);
            } catch (const DocumentError&) {
                ++outcomes["not opened"];
                continue;
            }
            if (document->isLocked() || document->pageCount() == 0) {
                ++outcomes["locked or without pages"];
                continue;
            }
            const std::vector<Words> before = pageWords(*pdfOf(*document));
            const int marks = markCount(*pdfOf(*document));
            try {
                platform::PdfAnnotations::add(*pdfOf(*document), 0, square());
            } catch (const platform::PdfError& error) {
                // Nothing changed: the window says why, and has nothing to save.
                EXPECT_EQ(error.code(), platform::PdfErrorCode::damagedPage) << error.what();
                ++outcomes["mark refused"];
                continue;
            }
            try {
                document->writeTo(testsupport::chosen(path));
            } catch (const DocumentError& error) {
                EXPECT_EQ(readFile(path), damaged.bytes) << "a refused save changed the file";
                ++outcomes["save refused: " + std::string(DocumentError::message(error.code())).substr(0, 40)];
                continue;
            }
            ++outcomes["saved"];
            const auto saved = QuarnDocument::open(path);
            ASSERT_EQ(saved->pageCount(), int(before.size())) << "pages lost";
            const std::vector<Words> after = pageWords(*pdfOf(*saved));
            for (size_t page = 0; page < before.size(); ++page)
                for (const auto& [word, count] : before[page])
                    EXPECT_GE(after[page].count(word) ? after[page].at(word) : 0, count)
                        << "page " << page + 1 << " lost \"" << word << "\"";
            EXPECT_EQ(markCount(*pdfOf(*saved)), marks + 1) << "the mark is not in the saved file";
        }
    }
    for (const auto& [outcome, count] : outcomes) std::printf("  %4d %s\n", count, outcome.c_str());
    EXPECT_GT(outcomes["saved"], 0);
}

// A damaged file ravlen shows, its save over itself refused: each way the
// refusal offers, and Print to a file, writes a file poppler reads with the
// new mark and the file's words, and none offered fails; also where writing
// it changes the document past putting it back or reading it again.
TEST(DamagedSaving, EachWayARefusalOffersWritesTheEdit)
{
    const QByteArray converted = testsupport::textConvertedTablePdf("converted words");
    // A real file passed whole through the same conversion: MuPDF's repair
    // lists an object 0 among a damaged object stream's members.
    QByteArray linearized;
    for (const char byte : readFile(QString::fromStdString(testsupport::qpdfCorpusPath("c-linearized.pdf"))))
        linearized += static_cast<unsigned char>(byte) >= 0x80 ? QByteArray("\xEF\xBF\xBD") : QByteArray(1, byte);
    // Each file, the words of its first page, whether its write is made to
    // change it past putting back, and whether the refusal offers a way out
    // (none for a file whose page cannot be read: the refusal names it).
    const std::vector<std::tuple<std::string, QByteArray, QString, bool, bool>> files = {
        {"text-converted table", converted, "converted words", false, true},
        {"text-converted table, its write past putting back", converted, "converted words", true, true},
        {"text-converted.pdf", readFile(QString::fromStdString(testsupport::testDataPath("text-converted.pdf"))), "",
         false, true},
        {"xref-compressed-in-compressed.pdf",
         readFile(QString::fromStdString(testsupport::qpdfCorpusPath("xref-compressed-in-compressed.pdf"))), "Potato",
         false, false},
        {"text-converted c-linearized.pdf", linearized, "Potato", false, true}};
    for (const auto& [name, bytes, words, pastPuttingBack, wayOut] : files) {
        SCOPED_TRACE(name);
        QTemporaryDir dir;
        const QString path = writeFile(dir, "damaged.pdf", bytes), copy = dir.filePath("copy.pdf");
        auto document = QuarnDocument::open(path);
        ASSERT_GT(document->pageCount(), 0);
        platform::PdfAnnotations::add(*pdfOf(*document), 0, square());
        platform::writeGuardSeams().unrestorableWrites = platform::writeGuardSeams().failingRebuilds = pastPuttingBack;
        quarnkit::SaveRemedies offered;
        try {
            document->writeTo(testsupport::chosen(path));
            ADD_FAILURE() << "the damaged file was written over";
        } catch (const DocumentError& error) {
            offered = quarnkit::saveRemedies(error.code());
        }
        EXPECT_EQ(readFile(path), bytes);
        document->acceptCopyLoss();                      // the question Save As and Export ask first
        std::vector<std::pair<QByteArray, int>> written; // and the marks each keeps
        if (offered.saveAs) {
            document->writeTo(testsupport::chosen(copy));
            written.emplace_back(readFile(copy), 1);
        }
        // Export, on the kind its sheet opens on.
        if (offered.exportFlattened)
            written.emplace_back(
                quarnkit::ExportSnapshot::data(*pdfOf(*document), quarnkit::ExportFormat::flattenedPDF), 0);
        else if (offered.exportPdf)
            written.emplace_back(quarnkit::ExportSnapshot::data(*pdfOf(*document), quarnkit::ExportFormat::pdf), 1);
        EXPECT_EQ(offered.any(), wayOut);
        EXPECT_EQ(written.empty(), !offered.any());
        // Print to a file, which no refusal names, prints what ravlen shows.
        if (wayOut) {
            ASSERT_TRUE(quarnkit::printingJob(*document, {0}, QSizeF(612, 792), testsupport::chosen(copy))());
            written.emplace_back(readFile(copy), 0);
        }
        for (const auto& [pdf, marks] : written) {
            writeFile(copy, pdf);
            EXPECT_TRUE(testsupport::runProgram("pdftotext", {"-l", "1", copy, "-"}).simplified().contains(words));
            EXPECT_EQ(markCount(*pdfOf(*QuarnDocument::open(copy))), marks);
            // Poppler draws the red mark.
            const QImage page = testsupport::popplerPage(copy, 0, 72);
            bool red = false;
            for (int y = 0; y < page.height() && !red; ++y)
                for (int x = 0; x < page.width() && !red; ++x)
                    red = page.pixelColor(x, y).red() > 200 && page.pixelColor(x, y).green() < 80;
            EXPECT_TRUE(red);
        }
        platform::writeGuardSeams() = {};
    }
}
