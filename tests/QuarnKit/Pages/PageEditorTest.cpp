// The page operations on real and generated documents: what each does to the
// page order, what its edit undoes, and what a saved file holds afterwards.
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Pages/PageEditor.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace quarnkit;
using platform::PdfDocument;
namespace annots = platform::PdfAnnotations;

namespace {

// The "Page N" number written on each page, in page order.
std::vector<int> order(const PdfDocument& doc)
{
    std::vector<int> numbers;
    for (int i = 0; i < doc.pageCount(); ++i) {
        const std::string text = doc.textPage(i).text();
        const size_t at = text.find("Page ");
        numbers.push_back(at == std::string::npos ? 0 : std::atoi(text.c_str() + at + 5));
    }
    return numbers;
}

std::vector<int> rotations(const PdfDocument& doc)
{
    std::vector<int> result;
    for (int i = 0; i < doc.pageCount(); ++i) result.push_back(doc.pageGeometry(i).rotation);
    return result;
}

std::shared_ptr<PdfDocument> fivePages() { return PdfDocument::openBytes(testsupport::makeTextPdf(5)); }

std::shared_ptr<PdfDocument> reopened(const PdfDocument& doc) { return PdfDocument::openBytes(doc.save()); }

} // namespace

TEST(PageEditor, TargetsAreTheUsableSelectionElseTheCurrentPage)
{
    struct Case {
        std::set<int> selected;
        int current, count;
        std::set<int> expected;
    } cases[] = {
        {{}, 7, 5, {4}},  {{9, 2}, 0, 5, {2}}, {{1, 3}, 0, 0, {}},
        {{}, -3, 5, {0}}, {{9}, 2, 5, {2}},    {{0, 4}, 2, 5, {0, 4}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PageEditor::targets(c.selected, c.current, c.count), c.expected) << c.current << " " << c.count;
}

TEST(PageEditor, TitlesAndExtractedFileNames)
{
    EXPECT_EQ(PageEditor::title("Rotate", 1, false), "Rotate Page");
    EXPECT_EQ(PageEditor::title("Delete", 3, false), "Delete 3 Pages");
    EXPECT_EQ(PageEditor::title("Extract", 2, true), "Extract 2 Pages…");
    const std::pair<std::set<int>, QString> names[] = {
        {{}, "Scan.pdf"},
        {{3}, "Scan page 4.pdf"},
        {{0, 1, 2}, "Scan pages 1-3.pdf"},
        {{0, 2}, "Scan pages 1, 3.pdf"},
        {{0, 2, 4, 6, 8}, "Scan pages 1, 3, 5, 7, 9.pdf"},
        {{0, 2, 4, 6, 8, 10}, "Scan 6 pages.pdf"},
    };
    for (const auto& [pages, name] : names) EXPECT_EQ(PageEditor::extractFileName("Scan", pages), name);
}

TEST(PageEditor, MovesPagesAsOneBlockAndTheInverseRestoresTheOrder)
{
    struct Case {
        std::set<int> pages;
        int gap;
        std::vector<int> expected; // empty: no edit
    } cases[] = {
        {{0, 2}, 5, {2, 4, 5, 1, 3}}, {{3}, 0, {4, 1, 2, 3, 5}}, {{0, 1}, 2, {}}, {{4}, 99, {}},
        {{1, 4}, 0, {2, 5, 1, 3, 4}},
    };
    for (const Case& c : cases) {
        auto doc = fivePages();
        const auto edit = PageEditor::move(c.pages, c.gap, *doc);
        if (c.expected.empty()) {
            EXPECT_FALSE(edit) << c.gap;
            EXPECT_EQ(order(*doc), (std::vector<int>{1, 2, 3, 4, 5}));
            continue;
        }
        ASSERT_TRUE(edit);
        EXPECT_EQ(order(*doc), c.expected) << c.gap;
        EXPECT_EQ(edit->insertedIndexes(), PageEditor::movedIndexes(c.pages, c.gap == 99 ? 5 : c.gap));
        edit->inverse().apply(*doc);
        EXPECT_EQ(order(*doc), (std::vector<int>{1, 2, 3, 4, 5}));
        edit->apply(*doc);
        EXPECT_EQ(order(*reopened(*doc)), c.expected) << "saved";
    }
}

namespace {

// Four pages: the first two hang from a node of the page tree that gives
// them a 300 by 500 box turned a quarter, the last two have 612 by 792 boxes
// of their own and no rotation.
QByteArray inheritingPdf()
{
    const auto content = [](int n) {
        const std::string text = "BT /F1 24 Tf 20 200 Td (Page " + std::to_string(n) + ") Tj ET";
        return "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream";
    };
    const std::string page = "<< /Type /Page /Resources << /Font << /F1 12 0 R >> >> ";
    return testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 6 0 R 7 0 R] /Count 4 >>",
        "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 5 0 R] /Count 2 /Rotate 90 /MediaBox [0 0 300 500] >>",
        page + "/Parent 3 0 R /Contents 8 0 R >>",
        page + "/Parent 3 0 R /Contents 9 0 R >>",
        page + "/Parent 2 0 R /MediaBox [0 0 612 792] /Contents 10 0 R >>",
        page + "/Parent 2 0 R /MediaBox [0 0 612 792] /Contents 11 0 R >>",
        content(1),
        content(2),
        content(3),
        content(4),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    });
}

// Each page's size and rotation as poppler reads them from a saved file.
QStringList popplerPages(const QString& pdf)
{
    QProcess pdfinfo;
    pdfinfo.start("pdfinfo", {"-f", "1", "-l", "99", pdf});
    pdfinfo.waitForFinished();
    QStringList pages;
    for (const QString& line : QString::fromUtf8(pdfinfo.readAllStandardOutput()).split('\n')) {
        const QRegularExpressionMatch m = QRegularExpression(R"(^Page +\d+ (size|rot): +(\S+(?: x \S+)?))").match(line);
        if (!m.hasMatch()) continue;
        if (m.captured(1) == "size") pages << m.captured(2);
        else pages.last() += " rot " + m.captured(2);
    }
    return pages;
}

} // namespace

TEST(PageEditor, PagesMovedOutOfOrIntoAnInheritingNodeKeepTheirBoxAndTurn)
{
    const QString turned = "300 x 500 rot 90", upright = "612 x 792 rot 0";
    const struct {
        std::set<int> pages;
        int gap;
        std::vector<int> order;
        QStringList looks;
    } cases[] = {
        {{1}, 4, {1, 3, 4, 2}, {turned, upright, upright, turned}}, // out of the node, to the end
        {{3}, 0, {4, 1, 2, 3}, {upright, turned, turned, upright}}, // into the node's place, first
        {{2}, 1, {1, 3, 2, 4}, {turned, upright, turned, upright}}, // between the node's own pages
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.gap);
        auto doc = PdfDocument::openBytes(inheritingPdf());
        ASSERT_EQ(rotations(*doc), (std::vector<int>{90, 90, 0, 0}));
        const auto edit = PageEditor::move(c.pages, c.gap, *doc);
        ASSERT_TRUE(edit);
        QTemporaryDir dir;
        const QString path = dir.filePath("moved.pdf");
        doc->saveToFile(testsupport::chosen(path.toStdString()));
        EXPECT_EQ(order(*PdfDocument::openFile(path.toStdString())), c.order);
        EXPECT_EQ(popplerPages(path), c.looks);

        edit->inverse().apply(*doc);
        doc->saveToFile(testsupport::chosen(path.toStdString()));
        EXPECT_EQ(popplerPages(path), (QStringList{turned, turned, upright, upright}));
    }
    // A blank page put among the turned ones shows the shape its neighbour shows.
    auto doc = PdfDocument::openBytes(inheritingPdf());
    PageEditor::insertBlank(0, *doc);
    EXPECT_EQ(doc->pageGeometry(1).displaySize, doc->pageGeometry(0).displaySize);
    EXPECT_EQ(doc->pageGeometry(1).displaySize, (platform::PdfSize{500, 300}));
}

TEST(PageEditor, AMarkDeletedOnADuplicateStaysOnTheOriginal)
{
    auto doc = fivePages();
    const auto mark = AnnotationFactory::rectangle({100, 100}, {200, 200}, RGBA::crimson, 3, false);
    ASSERT_TRUE(mark);
    const int original = annots::add(*doc, 0, *mark);
    ASSERT_TRUE(PageEditor::duplicate({0}, *doc));
    const auto copied = annots::list(*doc, 1);
    ASSERT_EQ(copied.size(), 1u);
    EXPECT_NE(copied.front().objectNumber, original);
    ASSERT_TRUE(annots::remove(*doc, 1, copied.front().objectNumber));
    auto saved = reopened(*doc);
    EXPECT_EQ(annots::list(*saved, 0).size(), 1u);
    EXPECT_TRUE(annots::list(*saved, 1).empty());
}

// The shape of the turned page before it and of a document without pages:
// the page edits' tests and the Pages menu's.
TEST(PageEditor, ABlankPagePastTheEndGoesLastShapedAsTheLastPage)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(3));
    const PageEdit edit = PageEditor::insertBlank(99, *doc);
    EXPECT_EQ(edit.insertedIndexes(), (std::set<int>{3}));
    EXPECT_EQ(doc->pageCount(), 4);
    EXPECT_EQ(doc->pageGeometry(3).displaySize, doc->pageGeometry(2).displaySize);
}

TEST(PageEditor, ImagePageSizes)
{
    EXPECT_EQ(PageEditor::imagePageSize({4000, 3000}), (platform::PdfSize{1224, 918}));
    EXPECT_EQ(PageEditor::imagePageSize({1224, 10}), (platform::PdfSize{1224, 10}));
    EXPECT_EQ(PageEditor::imagePageSize({10, 5000}), (platform::PdfSize{2, 1224}));
}

TEST(PageEditor, APhotoBecomesAPageOfAtMostMaxImageSidePoints)
{
    QTemporaryDir dir;
    QImage photo(4000, 3000, QImage::Format_RGB32);
    photo.fill(Qt::red);
    const QString path = dir.path() + "/photo.png";
    ASSERT_TRUE(photo.save(path));
    const auto pages = PageEditor::pages(path);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages.front().document->pageGeometry(0).displaySize, (platform::PdfSize{1224, 918}));
}

TEST(PageEditor, FilesThatGiveNoPagesSayWhy)
{
    QTemporaryDir dir;
    const QString text = dir.path() + "/notes.txt";
    // Not created: a text file is refused by its name, without being opened.
    const QString fakePng = dir.path() + "/broken.png";
    QFile f(fakePng);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a png at all, only words");
    f.close();
    const QString locked = QString::fromStdString(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    const struct {
        QString path;
        PageEditError expected;
    } cases[] = {
        {text, PageEditError(PageEditError::Code::unsupported, "notes.txt")},
        {fakePng, PageEditError(PageEditError::Code::unreadable, "broken.png")},
        {dir.path() + "/missing.pdf", PageEditError(PageEditError::Code::unreadable, "missing.pdf")},
        {locked, PageEditError(PageEditError::Code::locked, "libreoffice-writer-password.pdf")},
    };
    for (const auto& c : cases) {
        try {
            PageEditor::pages(c.path);
            ADD_FAILURE() << c.path.toStdString();
        } catch (const PageEditError& error) {
            EXPECT_EQ(error, c.expected) << error.what();
        }
    }
    EXPECT_EQ(PageEditError(PageEditError::Code::unsupported, "notes.txt").description(),
              "“notes.txt” isn't a PDF or an image. ravlen adds PDF, PNG, JPEG, HEIC, and TIFF files.");
}

TEST(PageEditor, InsertsPagesOfOtherFilesAtTheGapWithTheirMarks)
{
    auto doc = fivePages();
    const QString annotated = QString::fromStdString(testsupport::corpusPath("annotated_pdf.pdf"));
    const auto source = PageEditor::pages(annotated);
    ASSERT_FALSE(source.empty());
    size_t sourceMarks = annots::list(*source.front().document, 0).size();
    const auto edit = PageEditor::insert({source.front()}, 2, *doc);
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->insertedIndexes(), (std::set<int>{2}));
    EXPECT_EQ(order(*doc), (std::vector<int>{1, 2, 0, 3, 4, 5}));
    auto saved = reopened(*doc);
    EXPECT_EQ(annots::list(*saved, 2).size(), sourceMarks);
    EXPECT_GT(sourceMarks, 0u);
    edit->inverse().apply(*doc);
    EXPECT_EQ(order(*reopened(*doc)), (std::vector<int>{1, 2, 3, 4, 5}));
}
