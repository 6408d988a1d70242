// Text boxes as a user meets them in the page view: typed in any script,
// retyped when another program made them, and read back from the saved file.
#include "Quarn/Markup/InlineEditor.h"
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QUndoStack>

using namespace quarn;
using platform::PdfAnnotation;
using platform::PdfPoint;
using quarnkit::MarkupTool;
namespace PdfAnnotations = platform::PdfAnnotations;

namespace {

struct TextView {
    QuarnPDFView view;
    QUndoStack stack;

    explicit TextView(const QByteArray& pdf = testsupport::makeTextPdf(1))
    {
        view.resize(800, 900);
        view.load(platform::PdfDocument::openBytes(pdf));
        view.setUndoManagerOverride(&stack);
        view.show();
        QApplication::processEvents();
    }
    void use(MarkupTool tool, quarnkit::RGBA color = {0, 0, 0.6, 1}, double size = 16)
    {
        quarnkit::ToolStyle style;
        style.color = color;
        style.textSize = size;
        view.setTool(tool, style);
    }
    QPoint at(PdfPoint p, int page = 0) const { return view.convertFromPage(p, page).toPoint(); }
    InlineEditor* editor() const { return qobject_cast<InlineEditor*>(view.editor()); }
    std::vector<PdfAnnotation> marks(int page = 0) const
    {
        std::vector<PdfAnnotation> out;
        for (const auto& a : PdfAnnotations::list(*view.document(), page))
            if (quarnkit::MarkCatalog::kind(a)) out.push_back(a);
        return out;
    }
};

} // namespace

TEST(TextBoxesOnThePage, ForeignBoxKeepsItsFlagsAndRichTextUntilItsWordsChange)
{
    // A text box another program made, with its own flags (/F 28: print,
    // no zoom, no rotate) and rich text.
    const QByteArray pdf = testsupport::writePdf({
        "<</Type/Catalog/Pages 2 0 R>>",
        "<</Type/Pages/Kids[3 0 R]/Count 1>>",
        "<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Annots[4 0 R]>>",
        "<</Type/Annot/Subtype/FreeText/Rect[100 600 300 640]/F 28/Contents(Hello there)"
        "/DA(/Helv 12 Tf 0 0 1 rg)/DS(font: 12pt Helvetica)"
        "/RC(<?xml version=\"1.0\"?><body><p>Hello <b>there</b></p></body>)/NM(foreign-1)>>",
    });
    TextView v(pdf);
    v.use(MarkupTool::select);
    QTest::mouseClick(v.view.viewport(), Qt::LeftButton, {}, v.at({200, 620}));
    ASSERT_TRUE(v.view.selectedAnnotation());
    QTest::keyClick(&v.view, Qt::Key_Right); // nudged: its words stay
    QApplication::processEvents();
    platform::PdfSaveOptions plain;
    plain.compress = false;
    const QByteArray moved = v.view.document()->save(plain);
    EXPECT_GT(PdfAnnotations::find(*platform::PdfDocument::openBytes(moved), 0, 4)->rect.x, 100);
    EXPECT_TRUE(moved.contains("/F 28")) << moved.toStdString();
    EXPECT_TRUE(moved.contains("<b>there</b>"));
    EXPECT_TRUE(moved.contains("foreign-1"));

    // Retyped: the old rich text would show the old words in other readers.
    QTest::mouseDClick(v.view.viewport(), Qt::LeftButton, {}, v.at({205, 620}));
    ASSERT_TRUE(v.editor());
    QTest::keyClicks(v.editor(), QStringLiteral("Goodbye"));
    QTest::keyClick(&v.view, Qt::Key_Return);
    const QByteArray retyped = v.view.document()->save(plain);
    EXPECT_TRUE(retyped.contains("/F 28"));
    EXPECT_FALSE(retyped.contains("<b>there</b>"));
    EXPECT_EQ(PdfAnnotations::find(*platform::PdfDocument::openBytes(retyped), 0, 4)->contents, "Goodbye");
}
