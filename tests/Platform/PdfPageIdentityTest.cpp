#include "Platform/PdfAnnotations.h"
#include "Platform/PdfPageAssembly.h"
#include "Platform/PdfPageIdentity.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::PdfDocument;
using platform::PdfError;
using platform::PdfErrorCode;
namespace annots = platform::PdfAnnotations;

namespace {

std::string firstLine(const PdfDocument& doc, int page)
{
    const std::string text = doc.textPage(page).text();
    return text.substr(0, text.find('\n'));
}

platform::PdfAnnotation box(double x)
{
    platform::PdfAnnotation a;
    a.subtype = "Square";
    a.rect = {x, 100, 40, 40};
    a.color = platform::PdfColor{1, 0, 0};
    a.borderWidth = 2;
    return a;
}

} // namespace

TEST(PdfPageIdentity, PagesKeepTheirObjectWhenTheyMove)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(4));
    const auto before = platform::pageIds(*doc);
    ASSERT_EQ(before.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(before[i]);
        EXPECT_EQ(platform::pageId(*doc, i), before[i]);
        EXPECT_EQ(platform::pageIndex(*doc, before[i]), i);
    }
    const int mark = annots::add(*doc, 1, box(50));

    platform::movePage(*doc, 1, 3); // pages 1 3 4 2
    const std::vector<platform::PdfPageId> moved{before[0], before[2], before[3], before[1]};
    EXPECT_EQ(platform::pageIds(*doc), moved);
    EXPECT_EQ(platform::pageIndex(*doc, before[1]), 3);
    EXPECT_EQ(firstLine(*doc, 3), "Page 2");
    EXPECT_TRUE(annots::find(*doc, 3, mark).has_value()); // the mark went with its page

    platform::movePage(*doc, 3, 0); // pages 2 1 3 4
    auto reopened = PdfDocument::openBytes(doc->save());
    const std::string expected[] = {"Page 2", "Page 1", "Page 3", "Page 4"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(firstLine(*reopened, i), expected[i]) << i;
    EXPECT_TRUE(annots::find(*reopened, 0, mark).has_value());

    EXPECT_FALSE(platform::pageIndex(*doc, platform::PdfPageId{}).has_value());
    EXPECT_FALSE(platform::pageIndex(*doc, platform::PdfPageId{9999, 0}).has_value());
}

TEST(PdfPageIdentity, EveryPageOfEveryCorpusFileIsKnownByItsObject)
{
    for (const char* name :
         {"pdflatex-4-pages.pdf", "pdflatex-forms.pdf", "GeoTopo-komprimiert.pdf", "annotated_pdf.pdf",
          "libreoffice-form.pdf", "mistitled_outlines_example.pdf", "crazyones-pdfa.pdf"}) {
        SCOPED_TRACE(name);
        auto doc = PdfDocument::openFile(testsupport::corpusPath(name));
        const auto ids = platform::pageIds(*doc);
        ASSERT_EQ(int(ids.size()), doc->pageCount());
        for (int i = 0; i < doc->pageCount(); ++i) {
            EXPECT_EQ(platform::pageId(*doc, i), ids[size_t(i)]) << i;
            EXPECT_EQ(platform::pageIndex(*doc, ids[size_t(i)]), i);
        }
    }
}

TEST(PdfPageIdentity, OutOfRangeAndLockedAreRefused)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(2));
    const struct {
        int from, to;
    } bad[] = {{-1, 0}, {0, 2}, {2, 0}, {0, -1}};
    for (const auto& move : bad) {
        try {
            platform::movePage(*doc, move.from, move.to);
            ADD_FAILURE() << move.from << "→" << move.to;
        } catch (const PdfError& error) {
            EXPECT_EQ(error.code(), PdfErrorCode::pageOutOfRange);
        }
    }
    EXPECT_THROW(platform::pageId(*doc, 2), PdfError);
    auto locked = PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    ASSERT_TRUE(locked->isLocked());
    EXPECT_TRUE(platform::pageIds(*locked).empty());
    EXPECT_THROW(platform::movePage(*locked, 0, 0), PdfError);
}

TEST(PdfAnnotations, AMarkIsNeverPutOnAPageThatIsNotItsOwn)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(2));
    const int a = annots::add(*doc, 0, box(50));
    const int b = annots::add(*doc, 0, box(150));
    const int c = annots::add(*doc, 1, box(50));
    ASSERT_TRUE(annots::remove(*doc, 0, a).has_value());

    // Back onto another page: refused, on its own page: taken.
    EXPECT_FALSE(annots::insert(*doc, 1, a, 0));
    EXPECT_EQ(annots::order(*doc, 1), (std::vector<int>{c}));
    EXPECT_TRUE(annots::insert(*doc, 0, a, 0));

    // Restacking names marks of the page only.
    EXPECT_FALSE(annots::replaceTail(*doc, 1, {b, a}));
    EXPECT_EQ(annots::order(*doc, 1), (std::vector<int>{c}));
    EXPECT_EQ(annots::order(*doc, 0), (std::vector<int>{a, b}));
    EXPECT_TRUE(annots::replaceTail(*doc, 0, {b, a}));
    EXPECT_EQ(annots::order(*doc, 0), (std::vector<int>{b, a}));
}

TEST(PdfAnnotations, MarksWrittenStraightIntoAnnotsGetAnObjectOfTheirOwn)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("annotated_pdf.pdf"));
    (void)doc->render(0, 0.5); // the page's first loading numbers its marks, their keys unchanged
    const auto after = annots::list(*doc, 0);
    ASSERT_EQ(after.size(), 3u);
    for (const auto& a : after) EXPECT_GT(a.objectNumber, 0) << a.subtype;
    EXPECT_EQ(annots::numberDirect(*doc, 0), 0);
    EXPECT_EQ(after[0].subtype, "Text");
    EXPECT_NEAR(after[0].rect.width, 172.91 - 170.08, 0.01); // not MuPDF's icon size
    // The note and the highlight (the top of the page) keep their looks when
    // another of the marks is edited.
    const QRect top(0, 0, 306, 100);
    const QImage numbered = doc->render(0, 0.5).copy(top);

    // Now an ordinary mark: it can be changed and taken off, and another
    // reader finds it under its number.
    auto moved = after[2];
    moved.rect.x += 30;
    EXPECT_TRUE(annots::update(*doc, 0, moved));
    EXPECT_EQ(doc->render(0, 0.5).copy(top), numbered);
    QTemporaryDir dir;
    const QString path = dir.filePath("numbered.pdf");
    doc->saveToFile(testsupport::chosen(path.toStdString()));
    QProcess mutool;
    mutool.start("mutool", {"show", path, QString::number(after[2].objectNumber)});
    ASSERT_TRUE(mutool.waitForFinished(30000));
    EXPECT_TRUE(mutool.readAllStandardOutput().contains("/Ink"));
    auto reopened = PdfDocument::openFile(path.toStdString());
    const auto again = annots::find(*reopened, 0, after[2].objectNumber);
    ASSERT_TRUE(again.has_value());
    EXPECT_NEAR(again->rect.x, moved.rect.x, 0.01);
    EXPECT_TRUE(annots::remove(*reopened, 0, after[2].objectNumber).has_value());
    EXPECT_EQ(annots::list(*reopened, 0).size(), 2u);
}
