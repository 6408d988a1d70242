// New PDFs from the exporter, read back by ravlen and by other programs.
#include "QuarnKit/Export/Exporter.h"

#include "Platform/PdfAnnotations.h"
#include "Platform/PdfForms.h"
#include "Platform/PdfPageEditing.h"
#include "Platform/PdfWriting.h"
#include "QuarnKit/Document/DocumentMetadata.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/Redaction.h"

#include "QuarnKit/Export/ExportTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <map>

using namespace quarnkit;
using platform::PdfDocument;

namespace {

// Page 1: a line to redact above a line to keep; page 2: one more line.
// `pageExtra` goes into each page dictionary (boxes, rotation).
std::shared_ptr<PdfDocument> makeDocument(const std::string& pageExtra = "/MediaBox [0 0 612 792]")
{
    const std::string first =
        "BT /F1 24 Tf 72 700 Td (Alpha secret words) Tj ET BT /F1 24 Tf 72 600 Td (Bravo public words) Tj ET";
    const std::string second = "BT /F1 24 Tf 72 700 Td (Charlie second page) Tj ET";
    auto page = [&](int contents) {
        return "<< /Type /Page /Parent 2 0 R " + pageExtra + " /Resources << /Font << /F1 3 0 R >> >> /Contents "
               + std::to_string(contents) + " 0 R >>";
    };
    auto stream = [](const std::string& s) {
        return "<< /Length " + std::to_string(s.size()) + " >>\nstream\n" + s + "\nendstream";
    };
    return PdfDocument::openBytes(testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        page(5),
        stream(first),
        page(7),
        stream(second),
    }));
}

int addRedactionOverAlpha(PdfDocument& doc)
{
    return platform::PdfAnnotations::add(doc, 0, *Redaction::mark({60, 690}, {420, 730}));
}

int addTextBox(PdfDocument& doc, const std::string& words)
{
    const auto box = AnnotationFactory::freeText({72, 400}, words, RGBA::crimson, 18, TextFont::sans, {0, 0, 612, 792});
    return platform::PdfAnnotations::add(doc, 0, *box);
}

QRect darkBounds(const QImage& image)
{
    QRect r;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128) r |= QRect(x, y, 1, 1);
    return r;
}

struct Written {
    QTemporaryDir dir;
    QString path;
    explicit Written(const QByteArray& bytes) : path(dir.path() + "/out.pdf") { testsupport::writeFile(path, bytes); }
    QString pdftotext() const { return exporttest::output("pdftotext", {path, "-"}); }
    QString mutoolText() const { return exporttest::output("mutool", {"draw", "-F", "txt", path}); }
    // Every object and stream decompressed, as mutool writes them.
    QByteArray decompressed() const
    {
        const QString clean = dir.path() + "/clean.pdf";
        exporttest::output("mutool", {"clean", "-d", path, clean});
        return testsupport::readFile(clean);
    }
};

} // namespace

TEST(ExporterPdf, FlattenedFileHasNoAnnotationsAndKeepsTheTextBoxWordsAsText)
{
    auto doc = makeDocument();
    addTextBox(*doc, "Boxed note words");
    platform::PdfAnnotations::add(*doc, 1, *AnnotationFactory::rectangle({100, 100}, {200, 200}, RGBA::ink, 2, false));
    const Written out(Exporter::pdfData(doc, {0, 1}, true));

    const auto back = PdfDocument::openFile(out.path.toStdString());
    ASSERT_EQ(back->pageCount(), 2);
    EXPECT_FALSE(out.decompressed().contains("/Annots"));
    const QString text = out.pdftotext();
    EXPECT_TRUE(text.contains("Boxed note words"));
    EXPECT_TRUE(text.contains("Alpha secret words"));
    EXPECT_TRUE(text.contains("Charlie second page"));
    // The rectangle mark is ink on page 2 now.
    const QImage page2 = back->render(1, 1.0);
    EXPECT_LT(qGray(page2.pixel(100, 792 - 150)), 160);
}

TEST(ExporterPdf, RedactedPageLosesTheCoveredWordsEverywhereWhileOtherPagesKeepTheirText)
{
    auto doc = makeDocument();
    addRedactionOverAlpha(*doc);
    const Written out(Exporter::renderPDF(*doc, {0, 1}, {}, {}, Exporter::drawRedacted));

    // The source's content stream, had it been carried along, would show the
    // words as a literal string in the decompressed bytes.
    EXPECT_FALSE(out.decompressed().contains("secret"));
    for (const QString& text : {out.pdftotext(), out.mutoolText()}) {
        EXPECT_FALSE(text.contains("secret"));
        EXPECT_FALSE(text.contains("Alpha"));
    }
    EXPECT_TRUE(out.pdftotext().contains("Charlie second page"));
    EXPECT_TRUE(out.mutoolText().contains("Charlie second page"));

    // Page 1 is a picture of itself: the kept line still shows, the box is black.
    const auto back = PdfDocument::openFile(out.path.toStdString());
    const QImage page1 = back->render(0, 1.0);
    ASSERT_EQ(page1.size(), QSize(612, 792));
    EXPECT_LT(qGray(page1.pixel(240, 792 - 710)), 30);                      // inside the box
    EXPECT_FALSE(darkBounds(page1.copy(60, 792 - 625, 400, 40)).isEmpty()); // "Bravo public words"
    EXPECT_TRUE(back->textPage(0).text().empty());
}

TEST(ExporterPdf, ARedactionBlackensEveryPixelItTouches)
{
    // A grey page, and a box whose edges fall inside pixels of the 300 dpi
    // picture: a pixel it covers in part keeps nothing of what it covers.
    auto doc = PdfDocument::openBytes(testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
        testsupport::pdfStream("", "0.5 g 0 0 612 792 re f"),
    }));
    const platform::PdfRect box{100.224, 292.008, 299.928, 199.848}; // 0.6 and 0.3 of a pixel past each edge
    platform::PdfAnnotations::add(*doc, 0, *Redaction::mark({box.x, box.y}, {box.maxX(), box.maxY()}));
    const Written out(Exporter::renderPDF(*doc, {0}, {}, {}, Exporter::drawRedacted));
    exporttest::output("pdfimages", {"-png", out.path, out.dir.path() + "/picture"});
    const QImage picture(out.dir.path() + "/picture-000.png");
    ASSERT_EQ(picture.size(), QSize(2550, 3300));
    const double scale = 300.0 / 72;
    const QRect touched(QPoint(int(box.x * scale), int((792 - box.maxY()) * scale)),
                        QPoint(int(std::ceil(box.maxX() * scale)) - 1, int(std::ceil((792 - box.y) * scale)) - 1));
    int left = 0;
    for (int y = touched.top(); y <= touched.bottom(); ++y)
        for (int x = touched.left(); x <= touched.right(); ++x) left += qGray(picture.pixel(x, y)) > 10;
    EXPECT_EQ(left, 0) << "pixels of what the box covers survive";
    EXPECT_GT(qGray(picture.pixel(touched.left() - 2, touched.top() - 2)), 100); // the page around it stays
}

TEST(ExporterPdf, PagesWithoutRedactionsStayVector)
{
    auto doc = makeDocument();
    const Written out(Exporter::renderPDF(*doc, {0}, {}, {}, Exporter::drawRedacted));
    EXPECT_TRUE(out.pdftotext().contains("Alpha secret words"));
}

TEST(ExporterPdf, DrawnPagesKeepTheDisplayedSizeAndPicture)
{
    struct Case {
        std::string boxes;
        QSize size;
    };
    const std::vector<Case> cases = {
        {"/MediaBox [0 0 612 792]", {612, 792}},
        {"/MediaBox [0 0 612 792] /Rotate 90", {792, 612}},
        {"/MediaBox [0 0 612 792] /Rotate 270 /CropBox [50 500 450 780]", {280, 400}},
        {"/MediaBox [0 0 612 792] /CropBox [0 0 1 500]", {612, 792}}, // a 1-point crop box gives way
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.boxes);
        auto doc = makeDocument(c.boxes);
        addTextBox(*doc, "Boxed");
        const auto back = PdfDocument::openBytes(Exporter::pdfData(doc, {0}, true));
        const auto geometry = back->pageGeometry(0);
        EXPECT_EQ(geometry.rotation, 0);
        EXPECT_EQ(QSize(int(geometry.displaySize.width), int(geometry.displaySize.height)), c.size);
        const QImage before = Exporter::bitmap(*doc, 0, 1.0);
        const QImage after = Exporter::bitmap(*back, 0, 1.0);
        ASSERT_EQ(before.size(), c.size);
        ASSERT_EQ(after.size(), c.size);
        const QRect a = darkBounds(before), b = darkBounds(after);
        EXPECT_FALSE(a.isEmpty());
        EXPECT_LE(std::abs(a.left() - b.left()) + std::abs(a.top() - b.top()) + std::abs(a.right() - b.right())
                      + std::abs(a.bottom() - b.bottom()),
                  4);
    }
}

TEST(ExporterPdf, RenderingReportsEachPageStopsWhenCancelledAndNeedsAPage)
{
    auto doc = makeDocument();
    std::vector<int> reported;
    const auto bytes = Exporter::renderPDF(
        *doc, {1, 7, 0}, {{"Title", "Fresh"}}, [&](int k) { reported.push_back(k); }, Exporter::drawFlattened);
    EXPECT_EQ(reported, (std::vector<int>{0, 1, 2}));
    const auto back = PdfDocument::openBytes(bytes);
    EXPECT_EQ(back->pageCount(), 2); // the missing page 8 is skipped
    EXPECT_EQ(back->infoString("Title"), "Fresh");

    try {
        Exporter::renderPDF(*doc, {5, 9}, {}, {}, Exporter::drawFlattened);
        FAIL() << "no page was drawn";
    } catch (const ExportError& error) {
        EXPECT_EQ(error.kind(), ExportError::Kind::renderFailed);
    }

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(Exporter::renderPDF(*doc, {0}, {}, {}, Exporter::drawFlattened, stop.get_token()), ExportCancelled);
}

TEST(ExporterPdf, SubsetsCopyPagesWithTheirMarksInListOrder)
{
    auto doc = makeDocument();
    doc->setInfoString("Title", "Quarterly");
    addRedactionOverAlpha(*doc);
    EXPECT_EQ(Exporter::subset(doc, {0, 1}), doc);

    const auto reversed = Exporter::subset(doc, {1, 0, 0, 4});
    ASSERT_NE(reversed, doc);
    ASSERT_EQ(reversed->pageCount(), 3);
    EXPECT_NE(reversed->textPage(0).text().find("Charlie"), std::string::npos);
    EXPECT_NE(reversed->textPage(1).text().find("Alpha"), std::string::npos);
    EXPECT_EQ(Redaction::count(*reversed, {0, 1, 2}), 2);
    EXPECT_EQ(reversed->infoString("Title"), "Quarterly");

    // Saved and read by another program: a sound file without the source's other pages.
    const Written out(reversed->save());
    EXPECT_TRUE(exporttest::output("qpdf", {"--check", out.path}).contains("No syntax or stream encoding errors"));
    EXPECT_EQ(Redaction::count(*PdfDocument::openFile(out.path.toStdString()), {0, 1, 2}), 2);
}

TEST(ExporterPdf, PasswordsProtectTheWrittenFile)
{
    auto doc = makeDocument();
    ExportSettings settings;
    settings.format = ExportFormat::pdf;

    settings.editPassword = "owner";
    auto back = PdfDocument::openBytes(Exporter::pdfData(doc, {1}, false, settings.writeOptions()));
    EXPECT_FALSE(back->needsPassword());
    EXPECT_EQ(back->pageCount(), 1);
    const auto limited = back->permissions();
    EXPECT_TRUE(limited.print);
    EXPECT_TRUE(limited.copy);
    EXPECT_FALSE(limited.edit);
    EXPECT_FALSE(limited.annotate);
    EXPECT_FALSE(limited.fillForms);
    EXPECT_FALSE(limited.assemble);

    settings.editPassword.clear();
    settings.openPassword = "reader";
    back = PdfDocument::openBytes(Exporter::pdfData(doc, {0, 1}, true, settings.writeOptions()));
    ASSERT_TRUE(back->needsPassword());
    EXPECT_FALSE(back->unlock("wrong"));
    ASSERT_TRUE(back->unlock("reader"));
    const auto full = back->permissions();
    EXPECT_TRUE(full.edit && full.annotate && full.print && full.copy);
    EXPECT_NE(back->textPage(0).text().find("Alpha"), std::string::npos);
}

TEST(ExporterPdf, PdfDataOfNothingIsEmpty)
{
    auto doc = makeDocument();
    for (bool flatten : {false, true}) {
        try {
            Exporter::pdfData(doc, {}, flatten);
            FAIL();
        } catch (const ExportError& error) {
            EXPECT_EQ(error.kind(), ExportError::Kind::empty);
        }
    }
}

TEST(ExporterPdf, DocumentInfoCarriesTheFilledAttributesOnly)
{
    auto doc = makeDocument();
    doc->setInfoString("Title", "  Plan  ");
    doc->setInfoString("Creator", "Writer");
    doc->setInfoString("Author", "");
    const Exporter::DocumentInfo info = Exporter::documentInfo(*doc);
    EXPECT_EQ(info, (Exporter::DocumentInfo{{"Title", "Plan"}, {"Creator", "Writer"}}));
}

TEST(ExporterPdf, FlattenedCorpusPagesLookLikeTheirSources)
{
    // Fonts, images, forms and rotations of files made by other programs
    // survive flattening: the first page looks the same before and after.
    int compared = 0;
    for (const std::string& path : testsupport::corpusPdfs()) {
        SCOPED_TRACE(path);
        std::shared_ptr<PdfDocument> doc;
        try {
            doc = PdfDocument::openFile(path);
        } catch (const platform::PdfError&) {
            continue;
        }
        if (doc->needsPassword() || doc->pageCount() < 1) continue;
        const auto back = PdfDocument::openBytes(Exporter::pdfData(doc, {0}, true));
        const QImage before = Exporter::bitmap(*doc, 0, 0.5).convertToFormat(QImage::Format_RGB888);
        const QImage after = Exporter::bitmap(*back, 0, 0.5).convertToFormat(QImage::Format_RGB888);
        ASSERT_EQ(before.size(), after.size());
        qint64 difference = 0;
        for (int y = 0; y < before.height(); ++y)
            for (int x = 0; x < before.width() * 3; ++x)
                difference += std::abs(int(before.constScanLine(y)[x]) - int(after.constScanLine(y)[x]));
        EXPECT_LT(double(difference) / (before.width() * before.height() * 3), 2.0);
        ++compared;
    }
    EXPECT_GT(compared, 10);
}

TEST(ExporterPdf, MarksWithoutAnAppearanceAreFlattenedAsReadersDrawThem)
{
    // The corpus file's highlight, ink and note carry no appearance streams.
    auto doc = PdfDocument::openFile(testsupport::corpusPath("annotated_pdf.pdf"));
    const Written out(Exporter::pdfData(doc, {0}, true));
    EXPECT_FALSE(out.decompressed().contains("/Annots"));
    exporttest::output("pdftoppm", {"-r", "72", "-png", "-singlefile", out.path, out.dir.path() + "/page"});
    const QImage page(out.dir.path() + "/page.png");
    ASSERT_FALSE(page.isNull());
    // Poppler shows the highlight over "Line 1" yellow, and the ink stroke.
    const QColor highlight = page.pixelColor(200, int(841.89 - 700));
    EXPECT_GT(highlight.red(), 200);
    EXPECT_GT(highlight.green(), 200);
    EXPECT_LT(highlight.blue(), 120);
    int ink = 0; // yellow pixels of the ink diamond
    for (int y = int(841.89 - 531); y < int(841.89 - 472); ++y)
        for (int x = 27; x < 87; ++x)
            if (page.pixelColor(x, y).blue() < 120 && page.pixelColor(x, y).red() > 180) ++ink;
    EXPECT_GT(ink, 20);
    // The note, with no colour of its own, is a note's icon: its lines on
    // white, not a filled black box.
    int dark = 0;
    for (int y = 51; y < 65; ++y)
        for (int x = 165; x < 179; ++x) dark += qGray(page.pixel(x, y)) < 80;
    EXPECT_LT(dark, 14 * 14 / 2);
}

TEST(ExporterPdf, AFlattenedCopyShowsInOtherReadersWhatItsSourceShows)
{
    // Marks that poppler and ravlen's window show, their appearances as other
    // programs write them, and content in layers, shown or hidden as the file
    // says: flattened, poppler and MuPDF read the words the source shows, and
    // no other, and poppler draws each page as it drew the source's.
    const auto qpdfSuite = [](const char* name) {
        return testsupport::readFile(QString::fromStdString(testsupport::qpdfCorpusPath(name)));
    };
    const QByteArray withoutResources = testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 5 0 R >> >>"
        " /Annots [4 0 R] >>",
        "<< /Type /Annot /Subtype /Square /Rect [100 500 300 700] /AP << /N 6 0 R >> >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>",
        testsupport::pdfStream("/Type /XObject /Subtype /Form /BBox [0 0 200 200]",
                               "BT /F1 20 Tf 10 10 Td (Square words) Tj ET"),
    });
    // 1-bit grey pictures stored as they are, their rows padded with ones:
    // grey, drawn inverted, and a stencil. A write stores them as fax data.
    std::string bits;
    for (int y = 0; y < 40; ++y) bits += std::string{char(y % 8 < 4 ? 0xcc : 0x33), char(0xaf)};
    const std::string picture = "/Type /XObject /Subtype /Image /Width 13 /Height 40 ";
    const QByteArray bitmaps = testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 100] /Resources << /XObject << /A 5 0 R /B 6 0 R /C 7 0 R "
        ">> >> /Contents 4 0 R >>",
        testsupport::pdfStream("", "q 90 0 0 90 5 5 cm /A Do Q q 90 0 0 90 105 5 cm /B Do Q 0 0 1 rg 90 0 0 90 205 5 "
                                   "cm /C Do"),
        testsupport::pdfStream(picture + "/ColorSpace /DeviceGray /BitsPerComponent 1", bits),
        testsupport::pdfStream(picture + "/ColorSpace /DeviceGray /BitsPerComponent 1 /Decode [1 0]", bits),
        testsupport::pdfStream(picture + "/ImageMask true", bits),
    });
    const struct {
        const char* what;
        QByteArray bytes;
        QStringList words;
        QStringList hidden = {};      // words the source does not show
        std::vector<int> pages = {0}; // exported
        bool drawnAlike = false;      // poppler draws each page as the source's
        bool copied = false;          // a "PDF" export of the pages shows the same
        double ofCopy = 0;            // the most the flattened copy weighs against that export
    } cases[] = {
        {"fields whose appearances do not say they are forms",
         qpdfSuite("sample-form.pdf"),
         {"ABC", "DEF", "Man", "Blue"}},
        {"an attachment whose appearance takes its font from the page",
         qpdfSuite("nontrivial-crypt-filter-decrypted.pdf"),
         {"Click for attachment2"}},
        {"an appearance without resources of its own", withoutResources, {"Square words"}},
        {"content, a form object and marks in layers shown and hidden",
         testsupport::layeredPdf(),
         {"Always there", "Visible layer words", "Shown mark words", "Second page words"},
         {"Hidden layer words", "Hidden form words", "Hidden mark words", "Second hidden words"},
         {0, 1},
         true,
         true},
        {"layers turned the other way",
         testsupport::layeredPdf(true),
         {"Always there", "Hidden layer words", "Hidden form words", "Hidden mark words", "Second hidden words"},
         {"Visible layer words", "Shown mark words", "Second page words"},
         {1, 0},
         true,
         true},
        {"one page of a file in layers",
         testsupport::layeredPdf(),
         {"Second page words"},
         {"Second hidden words"},
         {1},
         true,
         true},
        {"1-bit grey pictures", bitmaps, {}, {}, {0}, true, true},
        {"a file made by another program, its notes in a layer",
         testsupport::readFile(QString::fromStdString(testsupport::corpusPath("base64image.pdf"))),
         {},
         {},
         {0},
         true},
        {"pages of a book that share their fonts, flattened as the pages copied",
         testsupport::readFile(QString::fromStdString(testsupport::corpusPath("GeoTopo-komprimiert.pdf"))),
         {"Einführung in die", "Vorwort", "Danksagungen"},
         {},
         {0, 1, 2, 23, 24},
         true,
         true,
         1.3},
    };
    // Each picture as poppler lists it: its size, colours, bits and encoding.
    const auto pictures = [](const QString& path) {
        QStringList out;
        for (const QString& line : exporttest::output("pdfimages", {"-list", path}).split('\n').mid(2))
            out << line.simplified().section(' ', 2, 8);
        out.sort();
        return out;
    };
    for (const auto& c : cases) {
        qint64 copiedSize = 0;
        QStringList copiedPictures;
        for (const bool flattened : {false, true}) {
            if (!flattened && !c.copied) continue;
            SCOPED_TRACE(std::string(c.what) + (flattened ? ", flattened" : ", copied"));
            if (c.bytes.isEmpty()) continue; // a file of the library's suite that is not here
            const Written source(c.bytes);
            const QString before = source.pdftotext();
            const Written out(Exporter::pdfData(PdfDocument::openBytes(c.bytes), c.pages, flattened));
            if (flattened) {
                EXPECT_FALSE(out.decompressed().contains("/Annots"));
            } else {
                copiedSize = QFileInfo(out.path).size();
                copiedPictures = pictures(out.path);
            }
            if (flattened && c.ofCopy > 0) {
                EXPECT_LE(QFileInfo(out.path).size(), c.ofCopy * copiedSize);
                EXPECT_EQ(pictures(out.path), copiedPictures);
            }
            EXPECT_TRUE(
                exporttest::output("qpdf", {"--check", out.path}).contains("No syntax or stream encoding errors"));
            const QString text = out.pdftotext(), mutool = out.mutoolText();
            for (const QString& word : c.words) {
                ASSERT_TRUE(before.contains(word)) << word.toStdString();
                EXPECT_TRUE(text.contains(word)) << word.toStdString() << " in poppler";
                EXPECT_TRUE(mutool.contains(word)) << word.toStdString() << " in MuPDF";
            }
            for (const QString& word : c.hidden) {
                ASSERT_FALSE(before.contains(word)) << word.toStdString();
                EXPECT_FALSE(text.contains(word)) << word.toStdString() << " in poppler";
                EXPECT_FALSE(mutool.contains(word)) << word.toStdString() << " in MuPDF";
            }
            if (!c.drawnAlike) continue;
            for (size_t k = 0; k < c.pages.size(); ++k) {
                const double difference = testsupport::meanDifference(testsupport::popplerPage(source.path, c.pages[k]),
                                                                      testsupport::popplerPage(out.path, int(k)));
                EXPECT_GE(difference, 0) << "page " << c.pages[k] + 1;
                EXPECT_LT(difference, 1.0) << "page " << c.pages[k] + 1;
            }
        }
    }
}

TEST(ExporterPdf, PagesOfFilesWhoseLayersDifferEachShowTheirFilesLayers)
{
    // Two files whose layers are named alike and shown the other way round,
    // drawn into one copy, flattened or not: each page shows what its own file
    // shows, and a layer met again is not copied again.
    const auto shown = PdfDocument::openBytes(testsupport::layeredPdf()),
               turned = PdfDocument::openBytes(testsupport::layeredPdf(true));
    auto out = PdfDocument::createEmpty();
    for (const PdfDocument* doc : {shown.get(), turned.get(), shown.get()}) {
        const platform::PdfPageGeometry geometry = doc->pageGeometry(0);
        platform::PdfWriting::FlattenedCopy(*out, *doc)
            .appendPage(0, geometry.userToDisplay, geometry.displaySize, platform::PdfMarkUse::flatten);
    }
    platform::PdfWriting::appendPagesWithMarks(*out, *turned, {1});
    const Written copy(out->save());
    const auto words = [&](int page) {
        return exporttest::output("pdftotext",
                                  {"-f", QString::number(page), "-l", QString::number(page), copy.path, "-"});
    };
    for (const int page : {1, 3}) {
        EXPECT_TRUE(words(page).contains("Visible layer words")) << page;
        EXPECT_FALSE(words(page).contains("Hidden layer words")) << page;
    }
    EXPECT_TRUE(words(2).contains("Hidden layer words"));
    EXPECT_FALSE(words(2).contains("Visible layer words"));
    EXPECT_TRUE(words(4).contains("Second hidden words"));
    EXPECT_FALSE(words(4).contains("Second page words"));
    EXPECT_EQ(QString::fromLatin1(copy.decompressed()).count(QRegularExpression("/Type\\s*/OCG\\b")), 4);
}

namespace {

// The fields of a PDF as qpdf lists its form: full name → value.
std::map<QString, QString> formFields(const QString& path)
{
    const QJsonObject form =
        QJsonDocument::fromJson(exporttest::output("qpdf", {"--json", "--json-key=acroform", path}).toUtf8())
            .object()["acroform"]
            .toObject();
    std::map<QString, QString> fields;
    for (const QJsonValue& field : form["fields"].toArray())
        fields[field["fullname"].toString()] = field["value"].toString();
    return fields;
}

} // namespace

TEST(ExporterPdf, APageRangeOfAFilledFormKeepsItsFieldsFillable)
{
    using platform::PdfForms;
    // The corpus form, filled, and a page after it; page 1 is exported.
    auto doc = PdfDocument::openFile(testsupport::corpusPath("libreoffice-form.pdf"));
    const auto byName = [](const std::vector<platform::PdfWidget>& widgets, const std::string& name) {
        return *std::find_if(widgets.begin(), widgets.end(), [&](const auto& w) { return w.name == name; });
    };
    auto widgets = PdfForms::widgets(*doc, 0);
    ASSERT_TRUE(PdfForms::setText(*doc, 0, byName(widgets, "Last Name").objectNumber, "Lovelace"));
    ASSERT_TRUE(PdfForms::setChecked(*doc, 0, byName(widgets, "gdpr").objectNumber, true));
    platform::insertPage(*doc, platform::createBlankPage(*doc, 612, 792), 1);
    const Written out(Exporter::pdfData(doc, {0}, false));

    // Other readers find every field, with its value, in the form.
    const auto fields = formFields(out.path);
    EXPECT_EQ(fields.size(), 8u);
    EXPECT_EQ(fields.at("Last Name"), "u:Lovelace");
    EXPECT_EQ(fields.at("First Name"), "u:Alice");
    EXPECT_EQ(fields.at("gdpr"), "/Yes");
    EXPECT_TRUE(out.pdftotext().contains("Lovelace"));
    // The fields take new values, and keep them.
    auto exported = PdfDocument::openFile(out.path.toStdString());
    ASSERT_EQ(exported->pageCount(), 1);
    ASSERT_TRUE(
        PdfForms::setText(*exported, 0, byName(PdfForms::widgets(*exported, 0), "Last Name").objectNumber, "Byron"));
    const Written refilled(exported->save());
    EXPECT_EQ(formFields(refilled.path).at("Last Name"), "u:Byron");

    // A field with a widget on each of two pages comes with the one on the
    // page exported, its drawing too (however deep its resources nest); a
    // field of the other page stays behind with it.
    const std::string widget = "/Type /Annot /Subtype /Widget /F 4 /Rect [72 700 272 720] /DA (/Helv 12 Tf 0 g)";
    const auto form = [](const std::string& content, const std::string& resources) {
        return testsupport::pdfStream("/Type /XObject /Subtype /Form /BBox [0 0 200 20] /Resources " + resources,
                                      content);
    };
    auto twoPages = PdfDocument::openBytes(testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R 6 0 R 8 0 R] /DA (/Helv 0 Tf 0 g) >> >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [5 0 R 7 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [9 0 R 8 0 R] >>",
        "<< " + widget + " /FT /Tx /T (first) /V (On page one) /P 3 0 R >>",
        "<< /FT /Tx /T (shared) /V (On both) /Kids [7 0 R 9 0 R] >>",
        "<< " + widget + " /Parent 6 0 R /P 3 0 R >>",
        "<< /Type /Annot /Subtype /Widget /F 4 /Rect [72 600 272 620] /FT /Tx /T (second) /V (On page two) /P 4 0 R"
        " /AP << /N 10 0 R >> >>",
        "<< " + widget + " /Parent 6 0 R /P 4 0 R >>",
        form("/X1 Do", "<< /XObject << /X1 11 0 R >> >>"),
        form("/X2 Do", "<< /XObject << /X2 12 0 R >> >>"),
        form("BT /F1 12 Tf 2 6 Td (Drawn deep) Tj ET", "<< /Font << /F1 13 0 R >> >>"),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /FontDescriptor << /Flags 32 >> >>",
    }));
    const Written second(Exporter::pdfData(twoPages, {1}, false));
    EXPECT_EQ(formFields(second.path),
              (std::map<QString, QString>{{"shared", "u:On both"}, {"second", "u:On page two"}}));
    EXPECT_TRUE(exporttest::output("pdfinfo", {second.path}).contains(QRegularExpression("Pages: +1\\n")));
    EXPECT_TRUE(second.pdftotext().contains("Drawn deep")); // the stored drawing, not poppler's own
}

TEST(ExporterPdf, APageRangeCopiesOnlyTheChosenPagesAndListsEachFieldOnce)
{
    // Page 1 is exported; what it holds may lead to page 3 (object 5), whose
    // words must not come along, nor any page but the copy of page 1.
    const std::string toPage3 = "<< /S /GoTo /D [5 0 R /Fit] >>";
    const std::string widget = "/Type /Annot /Subtype /Widget /F 4 /P 3 0 R /DA (/Helv 12 Tf 0 g)";
    const struct {
        const char* what;
        std::vector<std::string> annots; // objects 9, 10, …: the marks of page 1
        std::vector<int> fields;         // the objects the source's form lists
        int exportedFields;              // how many fields the export's form lists
    } cases[] = {
        {"a widget's go-to action",
         {"<< " + widget + " /Rect [72 700 272 720] /FT /Btn /Ff 65536 /T (go) /A " + toPage3 + " >>"},
         {9},
         1},
        {"a widget's additional action",
         {"<< " + widget + " /Rect [72 700 272 720] /FT /Tx /T (typed) /V (Kept) /AA << /U " + toPage3 + " >> >>"},
         {9},
         1},
        {"a mark's additional action",
         {"<< /Type /Annot /Subtype /Square /F 4 /Rect [72 600 172 650] /C [1 0 0] /AA << /E " + toPage3 + " >> >>"},
         {},
         0},
        {"a field with two widgets on the page",
         {"<< /FT /Tx /T (twice) /V (Both) /Kids [10 0 R 11 0 R] >>",
          "<< " + widget + " /Parent 9 0 R /Rect [72 700 272 720] >>",
          "<< " + widget + " /Parent 9 0 R /Rect [72 650 272 670] >>"},
         {9},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string annots, fields;
        for (std::size_t i = 0; i < c.annots.size(); ++i)
            if (c.annots[i].find("/Subtype") != std::string::npos) annots += std::to_string(9 + i) + " 0 R ";
        for (int f : c.fields) fields += std::to_string(f) + " 0 R ";
        const auto page = [](const std::string& extra) {
            return "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 8 0 R >> >> "
                   + extra + " >>";
        };
        std::vector<std::string> objects = {
            "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [" + fields + "] /DA (/Helv 0 Tf 0 g) >> >>",
            "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>",
            page("/Contents 6 0 R /Annots [" + annots + "]"),
            page(""),
            page("/Contents 7 0 R"),
            testsupport::pdfStream("", "BT /F1 24 Tf 72 400 Td (Chosen words) Tj ET"),
            testsupport::pdfStream("", "BT /F1 24 Tf 72 400 Td (Unchosen words) Tj ET"),
            "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        };
        objects.insert(objects.end(), c.annots.begin(), c.annots.end());
        const auto doc = PdfDocument::openBytes(testsupport::writePdf(objects));
        const Written out(Exporter::pdfData(doc, {0}, false));

        EXPECT_TRUE(exporttest::output("pdfinfo", {out.path}).contains(QRegularExpression("Pages: +1\\n")));
        EXPECT_TRUE(out.pdftotext().contains("Chosen words"));
        const QByteArray all = out.decompressed();
        EXPECT_FALSE(all.contains("Unchosen words"));
        EXPECT_EQ(QString::fromLatin1(all).count(QRegularExpression("/Type\\s*/Page(?!s)")), 1);
        // The new form lists each field once.
        const QString listed =
            exporttest::output("mutool", {"show", out.path, "trailer/Root/AcroForm/Fields"}).simplified();
        QStringList refs;
        for (const auto& match : QRegularExpression("(\\d+) 0 R").globalMatch(listed)) refs << match.captured(1);
        EXPECT_EQ(refs.size(), c.exportedFields) << listed.toStdString();
        EXPECT_EQ(QSet<QString>(refs.begin(), refs.end()).size(), refs.size()) << listed.toStdString();
    }
}
