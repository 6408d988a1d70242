// Text boxes and notes typed on the page: the editor's keys and size, new
// marks built from its words, existing ones retyped with one undo step, and
// the results read back from the saved file.
#include "Quarn/Markup/InlineEditor.h"
#include "Quarn/Viewer/PageInteractions.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "support/PageViewSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>

using namespace quarn;
using platform::PdfAnnotation;
using platform::PdfPoint;
using quarnkit::MarkKind;
using quarnkit::MarkupTool;
namespace PdfAnnotations = platform::PdfAnnotations;

namespace {

struct EditView {
    QuarnPDFView view;
    QUndoStack& stack() { return view.quarnDocument()->undoStack(); }

    EditView()
    {
        MarkEditor::of(view); // marks are edited on these pages
        view.resize(800, 900);
        testsupport::showPdf(view, platform::PdfDocument::openBytes(testsupport::makeTextPdf(1)));
        view.show();
        QApplication::processEvents();
    }

    void use(MarkupTool tool, double textSize = 16)
    {
        quarnkit::ToolStyle style;
        style.color = quarnkit::RGBA{0, 0, 1, 1};
        style.textSize = textSize;
        view.setTool(tool, style);
    }
    QPoint at(PdfPoint p) const { return view.placement().convertFromPage(p, 0).toPoint(); }
    QWidget* port() { return view.viewport(); }
    void click(PdfPoint p) { QTest::mouseClick(port(), Qt::LeftButton, {}, at(p)); }
    InlineEditor* editor() const
    {
        return qobject_cast<InlineEditor*>(view.interactions().find<MarkEditor>()->editor());
    }
    void type(const QString& words)
    {
        ASSERT_NE(editor(), nullptr);
        QTest::keyClicks(editor(), words);
    }
    void typeKey(int key, Qt::KeyboardModifiers mods = {})
    {
        ASSERT_NE(editor(), nullptr);
        QTest::keyClick(editor(), Qt::Key(key), mods);
    }

    std::vector<PdfAnnotation> marks() const
    {
        std::vector<PdfAnnotation> result;
        for (const auto& a : PdfAnnotations::list(*pdfOf(*view.quarnDocument()), 0))
            if (quarnkit::MarkCatalog::kind(a)) result.push_back(a);
        return result;
    }
    std::vector<quarnkit::MarkEntry> saved() const
    {
        const auto reopened = platform::PdfDocument::openBytes(pdfOf(*view.quarnDocument())->save());
        return quarnkit::MarkCatalog::entries(*reopened, 0);
    }
    // A text box put on the page directly, as if made earlier.
    MarkRef placeBox(const std::string& words, PdfPoint at = {100, 400})
    {
        const auto box =
            quarnkit::AnnotationFactory::freeText(at, words, quarnkit::RGBA{0, 0, 0, 1}, 16, quarnkit::TextFont::serif,
                                                  pdfOf(*view.quarnDocument())->pageGeometry(0).cropBox);
        const int object = PdfAnnotations::add(*pdfOf(*view.quarnDocument()), 0, *box);
        view.quarnDocument()->noteEditOfPage(0);
        return MarkRef{0, object};
    }
};

} // namespace

TEST(InlineEditor, ReturnCommitsShiftReturnBreaksTheLineEscapeCancels)
{
    InlineEditor editor(InlineEditor::Style::text, QFont(), Qt::black, Qt::white, {7, 5});
    int commits = 0, cancels = 0, grows = 0;
    editor.onCommit = [&] { ++commits; };
    editor.onCancel = [&] { ++cancels; };
    editor.onGrow = [&] { ++grows; };
    QTest::keyClicks(&editor, QStringLiteral("one"));
    QTest::keyClick(&editor, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClick(&editor, Qt::Key_Return, Qt::AltModifier);
    QTest::keyClicks(&editor, QStringLiteral("two -- \"x\""));
    EXPECT_EQ(editor.toPlainText(), QStringLiteral("one\n\ntwo -- \"x\""));
    EXPECT_EQ(commits, 0);
    EXPECT_GT(grows, 0);
    QTest::keyClick(&editor, Qt::Key_Return);
    EXPECT_EQ(commits, 1);
    QTest::keyClick(&editor, Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
}

TEST(InlineEditor, TypingUndoesInsideTheEditorOnly)
{
    EditView v;
    v.use(MarkupTool::text);
    v.click({200, 500});
    v.type(QStringLiteral("abc"));
    v.editor()->undo();
    EXPECT_NE(v.editor()->toPlainText(), QStringLiteral("abc"));
    EXPECT_EQ(v.stack().count(), 0);
}

TEST(InlineEditor, FittingSizeKeepsOneLineAndTheMinimumWidth)
{
    InlineEditor text(InlineEditor::Style::text, QFont(), Qt::black, Qt::white, {7, 5});
    const QSizeF empty = text.fittingSize(60);
    EXPECT_GE(empty.width(), 60);
    EXPECT_GE(empty.height(), QFontMetricsF(text.font()).lineSpacing() + 10);
    text.setPlainText(QStringLiteral("a rather longer line of words than sixty points"));
    EXPECT_GT(text.fittingSize(60).width(), 60);

    InlineEditor note(InlineEditor::Style::note, QFont(), Qt::black, Qt::white, {10, 8});
    note.resize(240, 28);
    note.setPlainText(QStringLiteral("short"));
    EXPECT_EQ(note.fittingSize(240), QSizeF(240, 64));
    note.setPlainText(QString(60, QLatin1Char(' ')).replace(QLatin1Char(' '), QStringLiteral("word ")));
    const QSizeF grown = note.fittingSize(240);
    EXPECT_EQ(grown.width(), 240);
    EXPECT_GT(grown.height(), 64);
}

TEST(InlineEditor, TextToolTypesANewBoxAsOneUndoStep)
{
    EditView v;
    v.use(MarkupTool::text);
    v.click({200, 500});
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    v.type(QStringLiteral("Hello page"));
    v.typeKey(Qt::Key_Return);
    EXPECT_FALSE(MarkEditor::of(v.view).hasEditor());
    const auto entries = v.saved();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].kind, MarkKind::text);
    EXPECT_EQ(entries[0].annotation.contents, "Hello page");
    EXPECT_EQ(v.stack().count(), 1);
    EXPECT_EQ(v.stack().undoText(), QStringLiteral("Text"));
    EXPECT_FALSE(MarkEditor::of(v.view).selected()); // a new box is left unselected
    v.stack().undo();
    EXPECT_TRUE(v.marks().empty());
}

TEST(InlineEditor, AnEmptyNewBoxIsDropped)
{
    EditView v;
    v.use(MarkupTool::text);
    v.click({200, 500});
    v.type(QStringLiteral("  "));
    v.typeKey(Qt::Key_Return);
    v.click({300, 300});
    v.typeKey(Qt::Key_Escape);
    EXPECT_FALSE(MarkEditor::of(v.view).hasEditor());
    EXPECT_TRUE(v.marks().empty());
    EXPECT_EQ(v.stack().count(), 0);
}

TEST(InlineEditor, ClickingElsewhereCommitsBeforeTheClick)
{
    EditView v;
    v.use(MarkupTool::text);
    v.click({100, 600});
    v.type(QStringLiteral("first"));
    v.click({100, 300}); // commits the first box and opens a second editor
    ASSERT_EQ(v.marks().size(), 1u);
    EXPECT_EQ(v.marks()[0].contents, "first");
    EXPECT_TRUE(MarkEditor::of(v.view).hasEditor());
    EXPECT_TRUE(v.editor()->toPlainText().isEmpty());
}

TEST(InlineEditor, NoteToolTypesANoteAndSelectsIt)
{
    EditView v;
    v.use(MarkupTool::note);
    v.click({300, 500});
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    EXPECT_EQ(v.editor()->style(), InlineEditor::Style::note);
    EXPECT_EQ(v.editor()->width(), 240);
    v.type(QStringLiteral("Check this"));
    v.typeKey(Qt::Key_Return);
    const auto entries = v.saved();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].kind, MarkKind::note);
    EXPECT_EQ(entries[0].annotation.contents, "Check this");
    ASSERT_TRUE(MarkEditor::of(v.view).selected());
    EXPECT_EQ(v.stack().undoText(), QStringLiteral("Note"));

    // A click on the note edits it.
    v.click({300, 500});
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    EXPECT_EQ(v.editor()->toPlainText(), QStringLiteral("Check this"));
    v.type(QStringLiteral("Checked"));
    v.typeKey(Qt::Key_Return);
    EXPECT_EQ(v.saved()[0].annotation.contents, "Checked");
    EXPECT_EQ(v.stack().count(), 2);
}

// A screen reader names the editor after what it types: a text box or a note.
TEST(InlineEditor, TheEditorIsNamedAfterItsMark)
{
    EditView v;
    for (const auto& [tool, name] : {std::pair{MarkupTool::text, "Text box"}, std::pair{MarkupTool::note, "Note"}}) {
        v.use(tool);
        v.click({300, 500});
        ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
        QAccessibleInterface* element = QAccessible::queryAccessibleInterface(v.editor());
        EXPECT_EQ(element->role(), QAccessible::EditableText);
        EXPECT_EQ(element->text(QAccessible::Name), name);
        v.typeKey(Qt::Key_Escape);
    }
}

TEST(InlineEditor, EscapeOnANewNoteAddsNothing)
{
    EditView v;
    v.use(MarkupTool::note);
    v.click({300, 500});
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    QPointer<QWidget> pending = v.editor()->companion();
    ASSERT_TRUE(pending);
    v.typeKey(Qt::Key_Escape);
    EXPECT_FALSE(MarkEditor::of(v.view).hasEditor());
    EXPECT_FALSE(pending->isVisible());
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(pending);
    EXPECT_TRUE(v.marks().empty());
}

TEST(InlineEditor, TheNoteAboutToBePlacedShowsItsOutlineAndTextBars)
{
    EditView v;
    quarnkit::ToolStyle amber;
    amber.color = quarnkit::RGBA{1, 0.8, 0, 1};
    v.view.setTool(MarkupTool::note, amber);
    v.click({300, 500});
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    QWidget* pending = v.editor()->companion();
    ASSERT_TRUE(pending && pending->isVisible());
    const QImage image = pending->grab().toImage();
    const int w = image.width(), h = image.height();
    ASSERT_GT(w, 12);
    const auto dark = [](QColor c) { return c.alpha() > 0 && qGray(c.rgb()) < 170; };
    const auto barsAt = [&](int x) {
        int bars = 0;
        bool onBar = false;
        for (int y = 1; y < h - 1; ++y) {
            const bool barHere = dark(image.pixelColor(x, y));
            if (barHere && !onBar) ++bars;
            onBar = barHere;
        }
        return bars;
    };
    // Amber beside the bars, darker at the outline and on three bars of text,
    // the last one shorter.
    EXPECT_FALSE(dark(image.pixelColor(w / 8, h / 2)));
    EXPECT_TRUE(dark(image.pixelColor(w / 2, 0)));
    EXPECT_EQ(barsAt(int(w * 0.4)), 3);
    EXPECT_EQ(barsAt(int(w * 0.7)), 2);
}

TEST(InlineEditor, NewNoteNearTheRightEdgeOpensToTheLeft)
{
    EditView v;
    v.use(MarkupTool::note);
    const double right = pdfOf(*v.view.quarnDocument())->pageGeometry(0).cropBox.maxX() - 15;
    v.click({right, 500});
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    const QPoint note = v.at({right, 500});
    EXPECT_LT(v.editor()->geometry().right(), note.x());
}

TEST(InlineEditor, DoubleClickRetypesABoxRefittedWithOneUndoStep)
{
    EditView v;
    const MarkRef box = v.placeBox("old");
    const PdfAnnotation before = *PdfAnnotations::find(*pdfOf(*v.view.quarnDocument()), 0, box.object);
    v.use(MarkupTool::select);
    const PdfPoint inside{before.rect.midX(), before.rect.midY()};
    QTest::mouseDClick(v.port(), Qt::LeftButton, {}, v.at(inside));
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    EXPECT_EQ(v.editor()->toPlainText(), QStringLiteral("old"));
    v.type(QStringLiteral("a much longer text than before"));
    v.typeKey(Qt::Key_Return);
    const auto after = *PdfAnnotations::find(*pdfOf(*v.view.quarnDocument()), 0, box.object);
    EXPECT_EQ(after.contents, "a much longer text than before");
    EXPECT_GT(after.rect.width, before.rect.width);
    EXPECT_DOUBLE_EQ(after.rect.minX(), before.rect.minX());
    EXPECT_NEAR(after.rect.maxY(), before.rect.maxY(), 0.01); // the top-left corner stays
    ASSERT_EQ(v.stack().count(), 1);
    EXPECT_EQ(v.stack().undoText(), QStringLiteral("Text"));
    v.stack().undo();
    const auto undone = *PdfAnnotations::find(*pdfOf(*v.view.quarnDocument()), 0, box.object);
    EXPECT_EQ(undone.contents, "old");
    EXPECT_NEAR(undone.rect.width, before.rect.width, 0.01);
    EXPECT_EQ(v.saved()[0].annotation.contents, "old");
}

TEST(InlineEditor, ReturnOnASelectedBoxEditsItAndTheSameTextChangesNothing)
{
    EditView v;
    const MarkRef box = v.placeBox("same");
    v.use(MarkupTool::select);
    MarkEditor::of(v.view).select(box);
    QTest::keyClick(&v.view, Qt::Key_Return);
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    EXPECT_EQ(v.editor()->textCursor().selectedText(), QStringLiteral("same")); // all selected
    v.typeKey(Qt::Key_Return);
    EXPECT_FALSE(MarkEditor::of(v.view).hasEditor());
    EXPECT_EQ(v.stack().count(), 0);

    // Empty words keep the old ones.
    QTest::keyClick(&v.view, Qt::Key_Return);
    v.typeKey(Qt::Key_Backspace);
    v.typeKey(Qt::Key_Return);
    EXPECT_EQ(PdfAnnotations::find(*pdfOf(*v.view.quarnDocument()), 0, box.object)->contents, "same");
    EXPECT_EQ(v.stack().count(), 0);
}

TEST(InlineEditor, TheEditorShowsTheBoxAtItsSizeOnScreen)
{
    EditView v;
    v.view.setScaleFactor(0.5);
    QApplication::processEvents();
    v.use(MarkupTool::text, 16);
    v.click({200, 500});
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    EXPECT_EQ(QFontInfo(v.editor()->font()).pixelSize(), 9); // 8 is raised to 9
    v.typeKey(Qt::Key_Escape);

    v.view.setScaleFactor(2.0);
    QApplication::processEvents();
    MarkEditor::of(v.view).beginEditing(EditorTarget::newText(0, {100, 400}));
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    EXPECT_EQ(QFontInfo(v.editor()->font()).pixelSize(), 32);
}

TEST(InlineEditor, WhiteWordsAreTypedOnADarkBacking)
{
    EditView v;
    quarnkit::ToolStyle style;
    style.color = quarnkit::RGBA{1, 1, 1, 1};
    v.view.setTool(MarkupTool::text, style);
    v.click({200, 500});
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    EXPECT_TRUE(v.editor()->styleSheet().contains(QStringLiteral("rgba(31,31,31")));
    EXPECT_TRUE(v.editor()->styleSheet().contains(QStringLiteral("color: rgba(255,255,255")));
}

TEST(InlineEditor, TheEditorStaysInsideTheView)
{
    EditView v;
    v.view.verticalScrollBar()->setValue(0);
    QApplication::processEvents();
    const double top = pdfOf(*v.view.quarnDocument())->pageGeometry(0).cropBox.maxY();
    MarkEditor::of(v.view).beginEditing(EditorTarget::newText(0, {100, top - 1}));
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    EXPECT_GE(v.editor()->geometry().top(), 8);
}

TEST(InlineEditor, ChangingTheToolCommitsTheWords)
{
    EditView v;
    v.use(MarkupTool::text);
    v.click({200, 500});
    v.type(QStringLiteral("kept"));
    v.use(MarkupTool::select);
    ASSERT_TRUE(testsupport::waitFor([&] { return !MarkEditor::of(v.view).hasEditor(); }, 5000));
    ASSERT_EQ(v.marks().size(), 1u);
    EXPECT_EQ(v.marks()[0].contents, "kept");
}

TEST(InlineEditor, ASecondClickOnASelectedBoxTypesIntoIt)
{
    EditView v;
    const MarkRef box = v.placeBox("again");
    const PdfAnnotation before = *PdfAnnotations::find(*pdfOf(*v.view.quarnDocument()), 0, box.object);
    v.use(MarkupTool::select);
    const PdfPoint inside{before.rect.midX(), before.rect.midY()};
    v.click(inside); // selects
    ASSERT_EQ(MarkEditor::of(v.view).selected(), box);
    EXPECT_FALSE(MarkEditor::of(v.view).hasEditor());
    v.click(inside); // the same box again
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    EXPECT_EQ(v.editor()->toPlainText(), QStringLiteral("again"));
    EXPECT_EQ(PdfAnnotations::find(*pdfOf(*v.view.quarnDocument()), 0, box.object)->rect, before.rect); // not moved
    EXPECT_EQ(v.stack().count(), 0);
}

TEST(InlineEditor, TheEditorFollowsTheBoxWhenTheViewScrolls)
{
    EditView v;
    const MarkRef box = v.placeBox("scrolled", {100, 300});
    v.use(MarkupTool::select);
    MarkEditor::of(v.view).select(box);
    MarkEditor::of(v.view).editSelectedText();
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    const int top = v.editor()->y();
    v.view.verticalScrollBar()->setValue(v.view.verticalScrollBar()->value() + 40);
    QApplication::processEvents();
    EXPECT_EQ(v.editor()->y(), top - 40);
}

TEST(InlineEditor, EscapeAtThePageViewAbandonsTheTyping)
{
    EditView v;
    v.use(MarkupTool::text);
    v.click({200, 500});
    v.type(QStringLiteral("dropped"));
    QTest::keyClick(&v.view, Qt::Key_Escape); // the view's own keys, as when it has the focus
    EXPECT_FALSE(MarkEditor::of(v.view).hasEditor());
    EXPECT_TRUE(v.marks().empty());
}

namespace {

// Where poppler draws in a square of 60 points whose top-left corner is
// `corner`, on the first page (842 points tall) of the PDF at `path`: the
// width and height of what it draws, in points.
QSizeF popplerInkNear(const QString& path, PdfPoint corner)
{
    QTemporaryDir dir;
    testsupport::runProgram("pdftoppm", {"-r", "72", "-png", "-singlefile", path, dir.filePath("page")});
    const QImage image(dir.filePath("page.png"));
    EXPECT_FALSE(image.isNull()) << "poppler drew no page";
    int x0 = image.width(), y0 = image.height(), x1 = -1, y1 = -1;
    for (int y = std::max(0, int(842 - corner.y) - 20); y < std::min(image.height(), int(842 - corner.y) + 40); ++y)
        for (int x = std::max(0, int(corner.x) - 20); x < std::min(image.width(), int(corner.x) + 40); ++x)
            if (qGray(image.pixel(x, y)) < 200) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    return x1 < 0 ? QSizeF() : QSizeF(x1 + 1 - x0, y1 + 1 - y0);
}

} // namespace

TEST(InlineEditor, ANoteRetypedKeepsItsIconInOtherReaders)
{
    // A note another program gave a box of 2.8 points and no drawing:
    // readers draw their icon there. Retyped on the page and saved, and
    // undone and saved, poppler draws an icon of its size, not a speck.
    EditView v;
    testsupport::showPdf(v.view, platform::PdfDocument::openFile(testsupport::corpusPath("annotated_pdf.pdf")));
    QApplication::processEvents();
    QTemporaryDir dir;
    const QString original = QString::fromStdString(testsupport::corpusPath("annotated_pdf.pdf"));
    const PdfPoint corner{170.08, 785.2}; // the top-left corner of the note's box
    const QSizeF icon = popplerInkNear(original, corner);
    ASSERT_GT(icon.width(), 10);
    v.use(MarkupTool::select);
    QTest::mouseDClick(v.port(), Qt::LeftButton, {}, v.at({171.5, 783.8}));
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    EXPECT_EQ(v.editor()->toPlainText(), QStringLiteral("This is a text annotation."));
    v.type(QStringLiteral("Retyped on the page"));
    v.typeKey(Qt::Key_Return);
    ASSERT_EQ(v.stack().count(), 1);
    for (const char* step : {"retyped", "undone"}) {
        SCOPED_TRACE(step);
        if (std::string(step) == "undone") v.stack().undo();
        const QString saved = dir.filePath(QStringLiteral("%1.pdf").arg(step));
        pdfOf(*v.view.quarnDocument())->saveToFile(testsupport::chosen(saved.toStdString()));
        const QSizeF drawn = popplerInkNear(saved, corner);
        EXPECT_GT(drawn.width(), icon.width() * 2 / 3) << drawn.width() << " by " << drawn.height();
        EXPECT_GT(drawn.height(), icon.height() * 2 / 3) << drawn.width() << " by " << drawn.height();
    }
    EXPECT_EQ(v.saved()[0].annotation.contents, "This is a text annotation.");
}
