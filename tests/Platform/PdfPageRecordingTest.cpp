#include "Platform/PdfPageDraw.h"
#include "Platform/PdfAnnotations.h"
#include "Platform/PdfPageEditing.h"
#include "Platform/PdfWriting.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace platform;

namespace {

// Page 1 of the file at `path` as poppler draws it, at 18 dpi.
QImage popplerDrawing(const QString& path)
{
    const QString prefix = path + ".page";
    testsupport::runProgram("pdftoppm", {"-r", "18", "-png", "-singlefile", path, prefix});
    return QImage(prefix + ".png").convertToFormat(QImage::Format_RGB888);
}

QImage drawn(const PdfDocument& doc, int page, const PdfMatrix& m, QSize size)
{
    QImage image(size, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::white);
    drawPage(doc, page, m, image);
    return image;
}

QImage drawnRecording(const PdfPageRecording& recording, const PdfMatrix& m, QSize size)
{
    QImage image(size, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::white);
    drawRecording(recording, m, image);
    return image;
}

} // namespace

// A recording drawn through a transform gives the pixels of the live page,
// rotated pages and marks included.
TEST(PdfPageRecordingTest, DrawsAsTheLivePageDoes)
{
    for (const char* name : {"pdflatex-4-pages.pdf", "habibi-rotated.pdf", "annotated_pdf.pdf"}) {
        const auto doc = PdfDocument::openFile(testsupport::corpusPath(name));
        const PdfPageGeometry g = doc->pageGeometry(0);
        // User space to pixels at a quarter scale, through the page's own display transform.
        const PdfMatrix m = g.userToDisplay.then(PdfMatrix::scale(0.25, 0.25));
        const QSize size(int(g.displaySize.width * 0.25), int(g.displaySize.height * 0.25));
        const auto recording = recordPage(*doc, 0);
        EXPECT_EQ(recording->geometry().rotation, g.rotation);
        EXPECT_EQ(drawnRecording(*recording, m, size), drawn(*doc, 0, m, size)) << name;
    }
}

// The recording keeps the page as it was: the live page may be edited or
// removed before the recording is drawn.
TEST(PdfPageRecordingTest, OutlivesEditsOfItsPage)
{
    const auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(2));
    const PdfPageGeometry g = doc->pageGeometry(0);
    const PdfMatrix m = g.userToDisplay.then(PdfMatrix::scale(0.5, 0.5));
    const QSize size(306, 396);
    const QImage before = drawn(*doc, 0, m, size);
    const auto recording = recordPage(*doc, 0);

    PdfAnnotation square;
    square.subtype = "Square";
    square.rect = {0, 0, 612, 792};
    square.interiorColor = PdfColor{0, 0, 0};
    PdfAnnotations::add(*doc, 0, square);
    EXPECT_NE(drawn(*doc, 0, m, size), before);
    removePage(*doc, 0);
    ASSERT_EQ(doc->pageCount(), 1);

    EXPECT_EQ(drawnRecording(*recording, m, size), before);
    EXPECT_THROW(recordPage(*doc, 5), PdfError);
}

// Content that fails part way is kept up to the failure, as other readers
// show it, and the recording says the page is damaged. Every road draws the
// page alike (its recording, a render, a drawing into the caller's pixels),
// and its text reads: one whose content stream cannot even be decoded (the
// PDF library's suite) is a blank page, as poppler draws it. A flattened
// copy of the page is written, and poppler draws it as it draws the page.
TEST(PdfPageRecordingTest, APageWhoseContentFailsPartWayKeepsWhatWasDrawnBefore)
{
    using testsupport::PageFailure;
    const auto qpdfSuite = [](const char* name) {
        return testsupport::readFile(QString::fromStdString(testsupport::qpdfCorpusPath(name)));
    };
    const struct {
        const char* what;
        QByteArray bytes;
        bool redAbove; // drawn before the failure
    } cases[] = {
        {"an image with no width", testsupport::makeHalfDrawnPagePdf(PageFailure::zeroWidthImage), true},
        {"a font that draws itself", testsupport::makeHalfDrawnPagePdf(PageFailure::selfDrawingType3Font), true},
        {"a predictor of 536870913 colours", qpdfSuite("issue-1688a.pdf"), false},
        {"the same, its data sound", qpdfSuite("issue-1688b.pdf"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.bytes.isEmpty()) continue; // a file of the library's suite that is not here
        const auto doc = PdfDocument::openBytes(c.bytes);
        const auto list = doc->displayList(0);
        ASSERT_TRUE(list);
        EXPECT_TRUE(list->damaged());
        const QImage image = list->render(0.25);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(QColor(image.pixel(76, 50)), c.redAbove ? QColor(Qt::red) : QColor(Qt::white));
        EXPECT_EQ(QColor(image.pixel(76, 150)), QColor(Qt::white)) << "the lower half, after it";
        QImage rendered;
        ASSERT_NO_THROW(rendered = doc->render(0, 0.25));
        EXPECT_EQ(rendered, image);
        const PdfPageGeometry g = doc->pageGeometry(0);
        QImage pixels;
        ASSERT_NO_THROW(pixels = drawn(*doc, 0, g.userToDisplay.then(PdfMatrix::scale(0.25, 0.25)), image.size()));
        EXPECT_EQ(pixels.convertToFormat(image.format()), image);
        EXPECT_NO_THROW(doc->textPage(0));
        QTemporaryDir dir;
        const QString original = testsupport::writeFile(dir, "original.pdf", c.bytes);
        const auto flat = PdfDocument::createEmpty();
        ASSERT_NO_THROW(
            PdfWriting::FlattenedCopy(*flat, *doc).appendPage(0, g.userToDisplay, g.displaySize, PdfMarkUse::flatten));
        const QString flattened = dir.filePath("flattened.pdf");
        flat->saveToFile(testsupport::chosen(flattened.toStdString()));
        const QImage before = popplerDrawing(original);
        ASSERT_FALSE(before.isNull());
        EXPECT_EQ(popplerDrawing(flattened), before);
    }
    const auto sound = PdfDocument::openBytes(testsupport::makeTextPdf(1));
    EXPECT_FALSE(sound->displayList(0)->damaged());
}
