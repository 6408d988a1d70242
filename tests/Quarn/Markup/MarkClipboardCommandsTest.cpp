// Copy, Cut, Paste and Duplicate of marks in the page view, their undo steps
// and the page view's context menu; results read back from the saved file.
#include "Quarn/Markup/InlineEditor.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Markup/MarkClipboardCommands.h"
#include "Platform/PdfAnnotations.h"
#include "Platform/PdfPageEditing.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/MarkClipboard.h"
#include "support/PageViewSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QUndoStack>

using namespace quarn;
using platform::PdfAnnotation;
using platform::PdfRect;
using quarnkit::MarkKind;
namespace PdfAnnotations = platform::PdfAnnotations;
namespace MarkClipboard = quarnkit::MarkClipboard;

namespace {

struct ClipView {
    QuarnPDFView view;
    QUndoStack& stack() { return view.quarnDocument()->undoStack(); }

    explicit ClipView(int pages = 1)
    {
        QApplication::clipboard()->clear();
        MarkEditor::of(view); // marks are edited on these pages
        view.resize(800, 900);
        testsupport::showPdf(view, platform::PdfDocument::openBytes(testsupport::makeTextPdf(pages)));
        view.show();
        QApplication::processEvents();
    }

    MarkRef place(const PdfAnnotation& a, int page = 0)
    {
        const int object = PdfAnnotations::add(*pdfOf(*view.quarnDocument()), page, a);
        view.quarnDocument()->noteEditOfPage(page);
        return MarkRef{page, object};
    }
    MarkRef box(PdfRect rect, int page = 0)
    {
        return place(*quarnkit::AnnotationFactory::rectangle({rect.x, rect.y}, {rect.maxX(), rect.maxY()},
                                                             quarnkit::RGBA{1, 0, 0, 1}, 2, false),
                     page);
    }
    std::vector<PdfAnnotation> marks(int page = 0) const
    {
        std::vector<PdfAnnotation> result;
        for (const auto& a : PdfAnnotations::list(*pdfOf(*view.quarnDocument()), page))
            if (quarnkit::MarkCatalog::kind(a)) result.push_back(a);
        return result;
    }
    std::vector<quarnkit::MarkEntry> saved() const
    {
        const auto reopened = platform::PdfDocument::openBytes(pdfOf(*view.quarnDocument())->save());
        return quarnkit::MarkCatalog::entries(*reopened);
    }
    QStringList menuTitles()
    {
        std::unique_ptr<QMenu> menu(MarkEditor::of(view).contextMenu());
        QStringList titles;
        for (QAction* a : menu->actions()) titles << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return titles;
    }
    QAction* menuItem(QMenu& menu, const QString& title)
    {
        for (QAction* a : menu.actions())
            if (a->text() == title) return a;
        return nullptr;
    }
};

} // namespace

TEST(MarkClipboardCommands, CopyPutsTheSelectedMarkOnTheClipboard)
{
    ClipView v;
    EXPECT_FALSE(copySelectedMark(MarkEditor::of(v.view))); // nothing selected
    MarkEditor::of(v.view).select(v.box({100, 500, 80, 40}));
    ASSERT_TRUE(copySelectedMark(MarkEditor::of(v.view)));
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    ASSERT_TRUE(mime->hasFormat(QString::fromLatin1(MarkClipboard::mimeType)));
    const auto read = MarkClipboard::read(mime);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].subtype, "Square");
    EXPECT_EQ(v.stack().count(), 0);
}

TEST(MarkClipboardCommands, CutRemovesTheMarkAndUndoBringsItBack)
{
    ClipView v;
    const MarkRef mark = v.box({100, 500, 80, 40});
    MarkEditor::of(v.view).select(mark);
    ASSERT_TRUE(cutSelectedMark(MarkEditor::of(v.view)));
    EXPECT_TRUE(v.marks().empty());
    EXPECT_FALSE(MarkEditor::of(v.view).selected());
    EXPECT_EQ(v.stack().undoText(), QStringLiteral("Cut"));
    EXPECT_TRUE(MarkClipboard::canRead(QApplication::clipboard()->mimeData())); // the cut mark stays there
    v.stack().undo();
    ASSERT_EQ(v.marks().size(), 1u);
    EXPECT_EQ(v.marks()[0].objectNumber, mark.object);
}

TEST(MarkClipboardCommands, PastingTwiceStepsOffTheCopiedMark)
{
    ClipView v;
    const MarkRef mark = v.box({100, 500, 80, 40});
    MarkEditor::of(v.view).select(mark);
    ASSERT_TRUE(copySelectedMark(MarkEditor::of(v.view)));
    ASSERT_TRUE(canPasteMarks(MarkEditor::of(v.view)));
    pasteMarks(MarkEditor::of(v.view));
    pasteMarks(MarkEditor::of(v.view));
    const auto marks = v.marks();
    ASSERT_EQ(marks.size(), 3u);
    const PdfRect original = marks[0].rect;
    EXPECT_NEAR(marks[1].rect.x - original.x, 12, 0.01);
    EXPECT_NEAR(marks[1].rect.y - original.y, -12, 0.01);
    EXPECT_NEAR(marks[2].rect.x - original.x, 24, 0.01);
    EXPECT_NEAR(marks[2].rect.y - original.y, -24, 0.01);
    ASSERT_TRUE(MarkEditor::of(v.view).selected());
    EXPECT_EQ(MarkEditor::of(v.view).selected()->object, marks[2].objectNumber);
    EXPECT_EQ(v.stack().count(), 2);
    EXPECT_EQ(v.stack().undoText(), QStringLiteral("Paste"));
    EXPECT_EQ(v.saved().size(), 3u);
}

TEST(MarkClipboardCommands, AGroupPastesAsOneUndoStepAndKeepsItsShape)
{
    ClipView v;
    const std::vector<PdfAnnotation> group{
        *quarnkit::AnnotationFactory::rectangle({50, 50}, {90, 90}, quarnkit::RGBA{1, 0, 0, 1}, 2, false),
        *quarnkit::AnnotationFactory::ellipse({150, 60}, {200, 100}, quarnkit::RGBA{0, 0, 1, 1}, 2, false),
        *quarnkit::AnnotationFactory::note({300, 300}, "hello", quarnkit::RGBA{1, 1, 0, 1}, PdfRect{0, 0, 612, 792}),
    };
    ASSERT_TRUE(MarkClipboard::write(group, PdfRect{0, 0, 612, 792}, QApplication::clipboard()));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("hello"));
    pasteMarks(MarkEditor::of(v.view));
    const auto marks = v.marks();
    ASSERT_EQ(marks.size(), 3u);
    EXPECT_NEAR(marks[1].rect.x - marks[0].rect.x, group[1].rect.x - group[0].rect.x, 0.01);
    EXPECT_NEAR(marks[2].rect.y - marks[0].rect.y, group[2].rect.y - group[0].rect.y, 0.01);
    EXPECT_EQ(MarkEditor::of(v.view).selected()->object, marks[2].objectNumber);
    ASSERT_EQ(v.stack().count(), 1);
    v.stack().undo();
    EXPECT_TRUE(v.marks().empty());
    v.stack().redo();
    EXPECT_EQ(v.marks().size(), 3u);
    const auto saved = v.saved();
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(std::count_if(saved.begin(), saved.end(), [](const auto& e) { return e.kind == MarkKind::note; }), 1);
}

TEST(MarkClipboardCommands, PasteLandsOnThePageInTheMiddleOfTheView)
{
    ClipView v(4);
    MarkEditor::of(v.view).select(v.box({100, 500, 80, 40}, 0));
    ASSERT_TRUE(copySelectedMark(MarkEditor::of(v.view)));
    v.view.goToPage(2);
    QApplication::processEvents();
    const int middle = *v.view.placement().pageAt(QRectF(v.view.viewport()->rect()).center(), true);
    ASSERT_NE(middle, 0);
    pasteMarks(MarkEditor::of(v.view));
    ASSERT_EQ(v.marks(middle).size(), 1u);
    EXPECT_NEAR(v.marks(middle)[0].rect.x, v.marks(0)[0].rect.x, 0.01); // its old place, on this page
    EXPECT_EQ(MarkEditor::of(v.view).selected()->page, middle);
}

TEST(MarkClipboardCommands, ATextBoxFromATurnedPageReadsUprightWherePasted)
{
    ClipView target;
    // The source window shows its page turned a quarter clockwise.
    QuarnPDFView source;
    MarkEditor::of(source);
    source.resize(800, 900);
    auto turned = platform::PdfDocument::openBytes(testsupport::makeTextPdf(1));
    platform::setPageRotation(*turned, platform::pageId(*turned, 0), 90);
    testsupport::showPdf(source, turned);
    source.show();
    QApplication::processEvents();
    const auto box = *quarnkit::AnnotationFactory::freeText({300, 400}, "Across the page", quarnkit::RGBA{0, 0, 0, 1},
                                                            14, quarnkit::TextFont::sans, PdfRect{0, 0, 612, 792}, 90);
    ASSERT_GT(box.rect.height, box.rect.width); // on the turned page the words run up its user space
    const int object = PdfAnnotations::add(*turned, 0, box);
    source.quarnDocument()->noteEditOfPage(0);
    MarkEditor::of(source).select(MarkRef{0, object});
    ASSERT_TRUE(copySelectedMark(MarkEditor::of(source)));

    pasteMarks(MarkEditor::of(target.view));
    const auto saved = platform::PdfDocument::openBytes(pdfOf(*target.view.quarnDocument())->save());
    const auto marks = PdfAnnotations::list(*saved, 0);
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].rotation, 0);
    EXPECT_NEAR(marks[0].rect.width, box.rect.height, 0.5); // reads across this upright page
    EXPECT_NEAR(marks[0].rect.height, box.rect.width, 0.5);
    EXPECT_EQ(marks[0].contents, "Across the page");
}

TEST(MarkClipboardCommands, DuplicatePutsACopyBesideTheMarkAndSelectsIt)
{
    ClipView v;
    const MarkRef mark = v.box({100, 500, 80, 40});
    MarkEditor::of(v.view).select(mark);
    duplicateSelection(MarkEditor::of(v.view));
    auto marks = v.marks();
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_NEAR(marks[1].rect.x - marks[0].rect.x, 12, 0.01);
    EXPECT_NEAR(marks[1].rect.y - marks[0].rect.y, -12, 0.01);
    EXPECT_EQ(MarkEditor::of(v.view).selected()->object, marks[1].objectNumber);
    EXPECT_EQ(v.stack().undoText(), QStringLiteral("Duplicate"));
    // A second duplicate of the first mark keeps off the first copy.
    MarkEditor::of(v.view).select(mark);
    duplicateSelection(MarkEditor::of(v.view));
    marks = v.marks();
    ASSERT_EQ(marks.size(), 3u);
    EXPECT_NEAR(marks[2].rect.x - marks[0].rect.x, 24, 0.01);
}

TEST(MarkClipboardCommands, ContextMenuOfASelectedMark)
{
    ClipView v;
    MarkEditor::of(v.view).select(v.box({100, 500, 80, 40}));
    EXPECT_EQ(v.menuTitles(), (QStringList{"Cut", "Copy", "Duplicate", "Delete Mark", "-", "Bring to Front",
                                           "Send to Back", "-", "Copy Page"}));
    std::unique_ptr<QMenu> menu(MarkEditor::of(v.view).contextMenu());
    v.menuItem(*menu, QStringLiteral("Delete Mark"))->trigger();
    EXPECT_TRUE(v.marks().empty());
    EXPECT_EQ(v.stack().undoText(), QStringLiteral("Delete"));
}

TEST(MarkClipboardCommands, ContextMenuOfATextBoxEditsIt)
{
    ClipView v;
    const MarkRef box = v.place(*quarnkit::AnnotationFactory::freeText(
        {100, 400}, "words", quarnkit::RGBA{0, 0, 0, 1}, 14, quarnkit::TextFont::sans, PdfRect{0, 0, 612, 792}));
    MarkEditor::of(v.view).select(box);
    std::unique_ptr<QMenu> menu(MarkEditor::of(v.view).contextMenu());
    ASSERT_EQ(menu->actions().value(0)->text(), QStringLiteral("Edit Text"));
    menu->actions()[0]->trigger();
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    EXPECT_EQ(qobject_cast<InlineEditor*>(MarkEditor::of(v.view).editor())->toPlainText(), QStringLiteral("words"));
}

TEST(MarkClipboardCommands, ContextMenuWithoutAMark)
{
    ClipView v;
    EXPECT_EQ(v.menuTitles(), QStringList{"Copy Page"});
    MarkEditor::of(v.view).select(v.box({100, 500, 80, 40}));
    ASSERT_TRUE(copySelectedMark(MarkEditor::of(v.view)));
    MarkEditor::of(v.view).select(std::nullopt);
    EXPECT_EQ(v.menuTitles(), (QStringList{"Paste", "-", "Copy Page"}));
    std::unique_ptr<QMenu> menu(MarkEditor::of(v.view).contextMenu());
    v.menuItem(*menu, QStringLiteral("Paste"))->trigger();
    EXPECT_EQ(v.marks().size(), 2u);
}

TEST(MarkClipboardCommands, NoPasteWhileTyping)
{
    ClipView v;
    MarkEditor::of(v.view).select(v.box({100, 500, 80, 40}));
    ASSERT_TRUE(copySelectedMark(MarkEditor::of(v.view)));
    MarkEditor::of(v.view).beginEditing(EditorTarget::newText(0, {200, 200}));
    EXPECT_FALSE(canPasteMarks(MarkEditor::of(v.view)));
    pasteMarks(MarkEditor::of(v.view));
    EXPECT_EQ(v.marks().size(), 1u);
}
