// Marks drawn, selected, moved, resized, nudged, deleted and erased with the
// mouse and the keys on a shown page view, read back from the saved file.
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/PageInteractions.h"
#include "Quarn/Viewer/TextSelection.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Platform/PdfAnnotations.h"
#include "Quarn/Markup/MarkupOverlay.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/Redaction.h"
#include "QuarnKit/Shell/Design.h"
#include "support/PageViewSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QUndoStack>

#include <cmath>

using namespace quarn;
using platform::PdfAnnotation;
using platform::PdfPoint;
using platform::PdfRect;
using quarnkit::MarkKind;
using quarnkit::MarkupTool;
namespace PdfAnnotations = platform::PdfAnnotations;

namespace {

struct MarkView {
    QuarnPDFView view;
    QUndoStack& stack() { return view.quarnDocument()->undoStack(); }
    std::vector<std::optional<int>> edits;

    explicit MarkView(int pages = 1)
    {
        MarkEditor::of(view); // marks are edited on these pages
        view.resize(800, 900);
        testsupport::showPdf(view, platform::PdfDocument::openBytes(testsupport::makeTextPdf(pages)));
        QObject::connect(view.quarnDocument(), &quarnkit::QuarnDocument::generationChanged, &view,
                         [this] { edits.push_back(view.quarnDocument()->editedPageIndex()); });
        view.show();
        QApplication::processEvents();
    }

    void use(MarkupTool tool, quarnkit::ToolStyle style = {})
    {
        if (style.color == quarnkit::RGBA{}) style.color = quarnkit::RGBA{1, 0, 0, 1};
        view.setTool(tool, style);
    }
    QPoint at(PdfPoint p) const { return view.placement().convertFromPage(p, 0).toPoint(); }
    QWidget* port() { return view.viewport(); }

    // A drag as the mouse makes it; a text markup it draws waits for its page's text.
    void dragOnly(PdfPoint from, PdfPoint to, Qt::KeyboardModifiers mods = {}, int steps = 4)
    {
        QTest::mousePress(port(), Qt::LeftButton, mods, at(from));
        for (int i = 1; i <= steps; ++i) {
            const double t = double(i) / steps;
            QTest::mouseMove(port(), at({from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t}));
        }
        QTest::mouseRelease(port(), Qt::LeftButton, mods, at(to));
    }
    // The same, and the mark it draws made.
    void drag(PdfPoint from, PdfPoint to, Qt::KeyboardModifiers mods = {}, int steps = 4)
    {
        dragOnly(from, to, mods, steps);
        EXPECT_TRUE(testsupport::waitFor([this] { return !MarkEditor::of(view).waitingForText(); }));
    }
    void click(PdfPoint p) { QTest::mouseClick(port(), Qt::LeftButton, {}, at(p)); }
    void key(int k, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(&view, Qt::Key(k), mods); }

    std::vector<PdfAnnotation> marks() const
    {
        std::vector<PdfAnnotation> result;
        for (const auto& a : PdfAnnotations::list(*pdfOf(*view.quarnDocument()), 0))
            if (quarnkit::MarkCatalog::kind(a)) result.push_back(a);
        return result;
    }
    // The marks of the document as saved and opened again.
    std::vector<quarnkit::MarkEntry> saved() const
    {
        const auto reopened = platform::PdfDocument::openBytes(pdfOf(*view.quarnDocument())->save());
        return quarnkit::MarkCatalog::entries(*reopened, 0);
    }
};

PdfRect firstTextLine(const platform::PdfDocument& doc)
{
    const platform::PdfTextPage text = doc.textPage(0);
    return text.blocks.at(0).lines.at(0).bounds;
}

} // namespace

TEST(MarkGestures, RectangleDragAddsOneMarkAsOneUndoStep)
{
    MarkView v;
    v.use(MarkupTool::rectangle);
    v.drag({100, 100}, {200, 160});
    ASSERT_EQ(v.marks().size(), 1u);
    EXPECT_EQ(v.stack().count(), 1);
    EXPECT_EQ(v.stack().undoText(), "Rectangle");
    ASSERT_FALSE(v.edits.empty());
    EXPECT_EQ(v.edits.back(), 0);
    EXPECT_FALSE(MarkEditor::of(v.view).selected()); // new marks are not selected

    const auto saved = v.saved();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].kind, MarkKind::rectangle);
    EXPECT_NEAR(saved[0].annotation.rect.midX(), 150, 4);
    EXPECT_NEAR(saved[0].annotation.rect.midY(), 130, 4);

    v.stack().undo();
    EXPECT_TRUE(v.marks().empty());
    EXPECT_TRUE(v.saved().empty());
    v.stack().redo();
    EXPECT_EQ(v.marks().size(), 1u);
}

TEST(MarkGestures, ShiftMakesASquare)
{
    MarkView v;
    v.use(MarkupTool::ellipse);
    v.drag({50, 500}, {80, 510}, Qt::ShiftModifier);
    ASSERT_EQ(v.marks().size(), 1u);
    const PdfRect r = v.marks()[0].rect;
    EXPECT_NEAR(r.width, r.height, 1.5);
    EXPECT_EQ(v.stack().undoText(), "Ellipse");
}

TEST(MarkGestures, LinesAndArrowsKeepTheirKind)
{
    MarkView v;
    v.use(MarkupTool::line);
    v.drag({100, 300}, {250, 320});
    v.use(MarkupTool::arrow);
    v.drag({100, 400}, {250, 450});
    EXPECT_EQ(v.stack().count(), 2);
    EXPECT_EQ(v.stack().undoText(), "Arrow");
    const auto saved = v.saved();
    ASSERT_EQ(saved.size(), 2u);
    std::vector<MarkKind> kinds{saved[0].kind, saved[1].kind};
    std::sort(kinds.begin(), kinds.end());
    EXPECT_EQ(kinds, (std::vector<MarkKind>{MarkKind::line, MarkKind::arrow}));
}

TEST(MarkGestures, PenStrokeAndPenClickAddInk)
{
    MarkView v;
    v.use(MarkupTool::pen);
    v.drag({100, 200}, {200, 260}, {}, 12);
    v.click({300, 300}); // a dot
    ASSERT_EQ(v.marks().size(), 2u);
    EXPECT_EQ(v.stack().count(), 2);
    EXPECT_EQ(v.stack().undoText(), "Pen");
    const auto saved = v.saved();
    ASSERT_EQ(saved.size(), 2u);
    for (const auto& entry : saved) EXPECT_EQ(entry.kind, MarkKind::drawing);
    EXPECT_GE(saved[0].annotation.inkList.at(0).size(), 2u);
    EXPECT_FALSE(saved[1].annotation.inkList.at(0).empty());
}

TEST(MarkGestures, HighlightOverTextAndOverBlankPage)
{
    MarkView v;
    const PdfRect line = firstTextLine(*pdfOf(*v.view.quarnDocument()));
    v.use(MarkupTool::highlight);
    v.drag({line.minX() + 1, line.midY()}, {line.maxX() - 1, line.midY()});
    ASSERT_EQ(v.marks().size(), 1u);
    EXPECT_EQ(v.stack().undoText(), "Highlight");
    const PdfRect marked = v.marks()[0].rect;
    EXPECT_TRUE(marked.intersects(line));

    // Over no text a highlight is a plain box; an underline is nothing.
    v.drag({100, 100}, {200, 150});
    EXPECT_EQ(v.marks().size(), 2u);
    v.use(MarkupTool::underline);
    v.drag({100, 100}, {200, 150});
    EXPECT_EQ(v.marks().size(), 2u);
    EXPECT_EQ(v.stack().count(), 2);

    v.drag({line.minX() + 1, line.midY()}, {line.maxX() - 1, line.midY()});
    EXPECT_EQ(v.stack().undoText(), "Underline");
    const auto saved = v.saved();
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(std::count_if(saved.begin(), saved.end(), [](const auto& e) { return e.kind == MarkKind::underline; }),
              1);
    v.stack().undo();
    EXPECT_EQ(v.marks().size(), 2u);
}

TEST(MarkGestures, AHighlightDrawnBeforeThePagesTextHasComeIsMadeWhenItComes)
{
    MarkView v(2);
    const PdfRect line = firstTextLine(*pdfOf(*v.view.quarnDocument()));
    // The worker reading the page's text waits here until the view has been used.
    testsupport::WorkerGate gate;
    MarkEditor::of(v.view).textWorkerHook = gate.hook();
    v.use(MarkupTool::highlight);
    v.dragOnly({line.minX() + 1, line.midY()}, {line.maxX() - 1, line.midY()});
    EXPECT_TRUE(MarkEditor::of(v.view).waitingForText());
    EXPECT_EQ(v.stack().count(), 0);
    // The view goes on answering the keys meanwhile.
    v.key(Qt::Key_End);
    EXPECT_EQ(v.view.currentPageIndex(), 1);

    gate.release();
    ASSERT_TRUE(testsupport::waitFor([&v] { return !MarkEditor::of(v.view).waitingForText(); }));
    ASSERT_EQ(v.marks().size(), 1u);
    EXPECT_EQ(v.stack().undoText(), "Highlight");
    EXPECT_TRUE(v.marks()[0].rect.intersects(line));
}

TEST(MarkGestures, RedactionBox)
{
    MarkView v;
    v.use(MarkupTool::redact);
    v.drag({100, 100}, {220, 140});
    EXPECT_EQ(v.stack().undoText(), "Redact");
    const auto reopened = platform::PdfDocument::openBytes(pdfOf(*v.view.quarnDocument())->save());
    EXPECT_EQ(quarnkit::Redaction::count(*reopened, {0}), 1);
}

TEST(MarkGestures, ATinyDragAddsNothing)
{
    MarkView v;
    v.use(MarkupTool::rectangle);
    v.click({100, 100});
    EXPECT_TRUE(v.marks().empty());
    EXPECT_EQ(v.stack().count(), 0);
}

TEST(MarkGestures, EscapeDropsADrawing)
{
    MarkView v;
    v.use(MarkupTool::pen);
    QTest::mousePress(v.port(), Qt::LeftButton, {}, v.at({100, 100}));
    QTest::mouseMove(v.port(), v.at({150, 150}));
    v.key(Qt::Key_Escape);
    QTest::mouseRelease(v.port(), Qt::LeftButton, {}, v.at({200, 200}));
    EXPECT_TRUE(v.marks().empty());
    EXPECT_EQ(v.stack().count(), 0);
}

TEST(MarkGestures, SelectClickSelectsAndDragMoves)
{
    MarkView v;
    v.use(MarkupTool::rectangle);
    v.drag({100, 100}, {200, 160});
    const PdfRect before = v.marks().at(0).rect;
    v.use(MarkupTool::select);

    bool reported = false;
    QObject::connect(&MarkEditor::of(v.view).selection(), &MarkSelection::changed,
                     [&] { reported = MarkEditor::of(v.view).selected().has_value(); });
    v.click({100, 112}); // on its left edge, away from the handles
    ASSERT_TRUE(MarkEditor::of(v.view).selected());
    EXPECT_TRUE(reported);
    EXPECT_EQ(MarkEditor::of(v.view).selected()->object, v.marks()[0].objectNumber);

    v.drag({100, 112}, {140, 92});
    const PdfRect after = v.marks().at(0).rect;
    EXPECT_NEAR(after.x - before.x, 40, 1.5);
    EXPECT_NEAR(after.y - before.y, -20, 1.5);
    EXPECT_EQ(v.stack().undoText(), "Move");
    EXPECT_EQ(v.stack().count(), 2);
    const auto saved = v.saved();
    EXPECT_NEAR(saved.at(0).annotation.rect.x, after.x, 0.01);

    v.stack().undo();
    EXPECT_NEAR(v.marks().at(0).rect.x, before.x, 0.01);
    v.stack().redo();
    EXPECT_NEAR(v.marks().at(0).rect.x, after.x, 0.01);

    // A drag that ends where it began registers nothing.
    v.drag({140, 92}, {140, 92});
    EXPECT_EQ(v.stack().count(), 2);

    // A click beside every mark selects none.
    v.click({400, 600});
    EXPECT_FALSE(MarkEditor::of(v.view).selected());
}

TEST(MarkGestures, SelectDragOverTextStillSelectsText)
{
    MarkView v;
    const PdfRect line = firstTextLine(*pdfOf(*v.view.quarnDocument()));
    v.use(MarkupTool::select);
    v.drag({line.minX() + 1, line.midY()}, {line.maxX() - 1, line.midY()});
    // Once a worker has read the page's text.
    EXPECT_TRUE(testsupport::waitFor([&] { return !v.view.interactions().textSelection().current().text.empty(); }));
    EXPECT_EQ(v.stack().count(), 0);
}

TEST(MarkGestures, HandleDragResizes)
{
    MarkView v;
    v.use(MarkupTool::rectangle);
    v.drag({100, 100}, {200, 160});
    const PdfRect before = v.marks().at(0).rect;
    v.use(MarkupTool::select);
    v.click({100, 130});
    ASSERT_TRUE(MarkEditor::of(v.view).selected());

    // The top-right corner handle (y up: the top is maxY).
    v.drag({before.maxX(), before.maxY()}, {before.maxX() + 50, before.maxY() + 30});
    const PdfRect after = v.marks().at(0).rect;
    EXPECT_NEAR(after.maxX(), before.maxX() + 50, 1.5);
    EXPECT_NEAR(after.maxY(), before.maxY() + 30, 1.5);
    EXPECT_NEAR(after.minX(), before.minX(), 0.01);
    EXPECT_EQ(v.stack().undoText(), "Resize");
    v.stack().undo();
    EXPECT_EQ(v.marks().at(0).rect, before);
}

TEST(MarkGestures, EscapeDuringAMovePutsTheMarkBack)
{
    MarkView v;
    v.use(MarkupTool::rectangle);
    v.drag({100, 100}, {200, 160});
    const PdfRect before = v.marks().at(0).rect;
    v.use(MarkupTool::select);
    QTest::mousePress(v.port(), Qt::LeftButton, {}, v.at({100, 130}));
    QTest::mouseMove(v.port(), v.at({160, 180}));
    EXPECT_NE(v.marks().at(0).rect, before);
    v.key(Qt::Key_Escape);
    QTest::mouseRelease(v.port(), Qt::LeftButton, {}, v.at({160, 180}));
    EXPECT_EQ(v.marks().at(0).rect, before);
    EXPECT_EQ(v.stack().count(), 1);
}

TEST(MarkGestures, DeleteKeyRemovesTheSelectedMark)
{
    MarkView v;
    v.use(MarkupTool::rectangle);
    v.drag({100, 100}, {200, 160});
    v.use(MarkupTool::select);
    v.click({100, 130});
    ASSERT_TRUE(MarkEditor::of(v.view).selected());
    v.key(Qt::Key_Delete);
    EXPECT_TRUE(v.marks().empty());
    EXPECT_FALSE(MarkEditor::of(v.view).selected());
    EXPECT_EQ(v.stack().undoText(), "Delete");
    EXPECT_TRUE(v.saved().empty());
    v.stack().undo();
    EXPECT_EQ(v.marks().size(), 1u);
    EXPECT_FALSE(MarkEditor::of(v.view).selected()); // back, but not selected

    v.click({100, 130});
    v.key(Qt::Key_Backspace);
    EXPECT_TRUE(v.marks().empty());
}

TEST(MarkGestures, ArrowKeysNudgeAsOneStep)
{
    MarkView v(3); // pages that scroll, which the nudges must not do
    v.use(MarkupTool::rectangle);
    v.drag({100, 100}, {200, 160});
    const PdfRect before = v.marks().at(0).rect;
    v.use(MarkupTool::select);
    v.click({100, 130});
    const int scrolled = v.view.verticalScrollBar()->value();
    ASSERT_LT(scrolled, v.view.verticalScrollBar()->maximum());
    v.key(Qt::Key_Right);
    v.key(Qt::Key_Right);
    v.key(Qt::Key_Up, Qt::ShiftModifier);
    v.key(Qt::Key_Down);
    const PdfRect after = v.marks().at(0).rect;
    EXPECT_NEAR(after.x - before.x, 2, 0.01);
    EXPECT_NEAR(after.y - before.y, 9, 0.01); // up the page
    EXPECT_EQ(v.view.verticalScrollBar()->value(), scrolled);
    EXPECT_EQ(v.stack().count(), 2);
    EXPECT_EQ(v.stack().undoText(), "Move");
    v.stack().undo();
    EXPECT_EQ(v.marks().at(0).rect, before);

    // Without a selection the keys are left to the view.
    v.key(Qt::Key_Escape);
    EXPECT_FALSE(MarkEditor::of(v.view).selected());
    v.key(Qt::Key_Right);
    EXPECT_EQ(v.marks().at(0).rect, before);
}

TEST(MarkGestures, EscapeDeselectsThenChoosesSelect)
{
    MarkView v;
    std::optional<MarkupTool> chosen;
    MarkEditor::of(v.view).onChooseTool = [&](MarkupTool tool) { chosen = tool; };
    v.use(MarkupTool::pen);
    v.key(Qt::Key_Escape);
    EXPECT_EQ(chosen, MarkupTool::select);
}

TEST(MarkGestures, EraseDragIsOneStep)
{
    MarkView v;
    v.use(MarkupTool::line);
    v.drag({100, 300}, {100, 400});
    v.drag({200, 300}, {200, 400});
    v.drag({300, 300}, {300, 400});
    ASSERT_EQ(v.marks().size(), 3u);
    v.use(MarkupTool::eraser);
    v.drag({80, 350}, {220, 350}, {}, 20);
    EXPECT_EQ(v.marks().size(), 1u);
    EXPECT_EQ(v.stack().undoText(), "Erase");
    EXPECT_EQ(v.stack().count(), 4);
    EXPECT_EQ(v.saved().size(), 1u);
    v.stack().undo();
    EXPECT_EQ(v.marks().size(), 3u);
    v.stack().redo();
    EXPECT_EQ(v.marks().size(), 1u);
}

TEST(MarkGestures, OverlayShowsThePreviewAndTheSelection)
{
    MarkView v;
    quarnkit::ToolStyle style;
    style.color = quarnkit::RGBA{1, 0, 0, 1};
    style.stroke = 4;
    v.use(MarkupTool::rectangle, style);
    const auto redAround = [&](PdfPoint p) {
        const QImage image = v.port()->grab().toImage();
        const QPoint c = v.at(p);
        for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx) {
                const QColor px = image.pixelColor(c + QPoint(dx, dy));
                if (px.red() > 200 && px.green() < 80 && px.blue() < 80) return true;
            }
        return false;
    };
    QTest::mousePress(v.port(), Qt::LeftButton, {}, v.at({100, 100}));
    QTest::mouseMove(v.port(), v.at({300, 250}));
    EXPECT_TRUE(redAround({200, 100})); // the bottom edge being drawn
    QTest::mouseRelease(v.port(), Qt::LeftButton, {}, v.at({300, 250}));

    // The selection's handles are drawn in the accent colour.
    v.use(MarkupTool::select);
    v.click({100, 175});
    ASSERT_TRUE(MarkEditor::of(v.view).selected());
    const PdfRect r = v.marks().at(0).rect;
    const QImage image = v.port()->grab().toImage();
    const QColor accent = quarnkit::Design::accent();
    bool found = false;
    const QPoint corner = v.at({r.maxX(), r.maxY()});
    for (int dy = -5; dy <= 5 && !found; ++dy)
        for (int dx = -5; dx <= 5 && !found; ++dx) {
            const QColor px = image.pixelColor(corner + QPoint(dx, dy));
            found = std::abs(px.red() - accent.red()) < 30 && std::abs(px.green() - accent.green()) < 30
                    && std::abs(px.blue() - accent.blue()) < 30;
        }
    EXPECT_TRUE(found);
}

TEST(MarkGestures, DraggingALineEndResizesIt)
{
    MarkView v;
    v.use(MarkupTool::arrow);
    v.drag({100, 300}, {250, 300});
    const PdfAnnotation before = v.marks().at(0);
    ASSERT_TRUE(before.lineEnd);
    v.use(MarkupTool::select);
    v.click({170, 300});
    ASSERT_TRUE(MarkEditor::of(v.view).selected());

    v.drag(*before.lineEnd, {250, 400});
    const PdfAnnotation after = v.marks().at(0);
    ASSERT_TRUE(after.lineEnd && after.lineStart);
    EXPECT_NEAR(after.lineEnd->y, 400, 1.5);
    EXPECT_NEAR(after.lineStart->x, before.lineStart->x, 0.01);
    EXPECT_EQ(v.stack().undoText(), "Resize");
    EXPECT_EQ(quarnkit::MarkCatalog::kind(after), MarkKind::arrow);

    // An end dragged onto the other one stops short of it.
    v.drag(*after.lineEnd, *after.lineStart);
    EXPECT_GE(
        std::hypot(v.marks().at(0).lineEnd->x - after.lineStart->x, v.marks().at(0).lineEnd->y - after.lineStart->y),
        4.0);

    while (v.stack().canUndo() && v.stack().undoText() == "Resize") v.stack().undo();
    EXPECT_EQ(v.marks().at(0).lineStart, before.lineStart);
    EXPECT_EQ(v.marks().at(0).lineEnd, before.lineEnd);
}

TEST(MarkGestures, EscapeClosesFindFirst)
{
    MarkView v;
    int dismissed = 0;
    v.view.findIsPresented = [] { return true; };
    v.view.onDismissFind = [&] { ++dismissed; };
    v.use(MarkupTool::rectangle);
    v.drag({100, 100}, {200, 160});
    v.use(MarkupTool::select);
    v.click({100, 112});
    v.key(Qt::Key_Escape);
    EXPECT_EQ(dismissed, 1);
    EXPECT_TRUE(MarkEditor::of(v.view).selected()); // the selection waits for the next Escape
}

TEST(MarkGestures, HoverOverAMarkWithSelect)
{
    MarkView v;
    v.use(MarkupTool::rectangle);
    v.drag({100, 100}, {200, 160});
    v.use(MarkupTool::select);
    QTest::mouseMove(v.port(), v.at({100, 112}));
    EXPECT_EQ(v.port()->cursor().shape(), Qt::OpenHandCursor);
    QTest::mouseMove(v.port(), v.at({400, 600}));
    EXPECT_NE(v.port()->cursor().shape(), Qt::OpenHandCursor);
}

TEST(MarkGestures, ABubbleOpensBesideItsNoteAndStaysInside)
{
    const QRectF area(0, 0, 800, 600);
    const QSizeF size(120, 60);
    const QRectF right = MarkupOverlay::bubbleRect({100, 100, 22, 22}, size, area);
    EXPECT_EQ(right.topLeft(), QPointF(130, 100));
    // Near the right edge it opens to the left of the note.
    const QRectF left = MarkupOverlay::bubbleRect({700, 100, 22, 22}, size, area);
    EXPECT_EQ(left.topLeft(), QPointF(700 - 120 - 8, 100));
    // Near the bottom it is pushed up to stay 8 points inside.
    const QRectF low = MarkupOverlay::bubbleRect({100, 580, 22, 22}, size, area);
    EXPECT_EQ(low.bottom(), 600 - 8);
}

TEST(MarkGestures, ASelectedNoteShowsItsText)
{
    MarkView v;
    const auto note = quarnkit::AnnotationFactory::note({200, 400}, "Read this first", quarnkit::RGBA{1, 0.8, 0, 1},
                                                        PdfRect{0, 0, 612, 792});
    ASSERT_TRUE(note);
    const int object = PdfAnnotations::add(*pdfOf(*v.view.quarnDocument()), 0, *note);
    v.view.quarnDocument()->noteEditOfPage(0);
    v.use(MarkupTool::select);
    const QImage plain = v.port()->grab().toImage();
    v.click({200, 400});
    ASSERT_TRUE(MarkEditor::of(v.view).selected());
    EXPECT_EQ(MarkEditor::of(v.view).selected()->object, object);
    const QImage shown = v.port()->grab().toImage();
    // The bubble opens to the right of the note.
    const QPoint beside = v.at({200 + quarnkit::AnnotationFactory::noteSize / 2 + 40, 400 - 5});
    EXPECT_NE(plain.pixelColor(beside), shown.pixelColor(beside));
    auto* overlay = MarkEditor::of(v.view).overlay()->findChild<MarkupOverlay*>();
    ASSERT_TRUE(overlay);
    EXPECT_TRUE(overlay->bubble.has_value());

    // While the note's words are typed, its editor shows them and the bubble goes.
    v.key(Qt::Key_Return);
    ASSERT_TRUE(MarkEditor::of(v.view).hasEditor());
    (void)v.port()->grab();
    EXPECT_FALSE(overlay->bubble.has_value());
    v.key(Qt::Key_Escape);
    (void)v.port()->grab();
    EXPECT_TRUE(overlay->bubble.has_value());
}

TEST(MarkGestures, HeldArrowKeysReportEachStepOfThePageAndUndoAsOne)
{
    MarkView v;
    v.use(MarkupTool::rectangle);
    v.drag({100, 100}, {200, 160});
    v.use(MarkupTool::select);
    v.click({100, 112});
    v.edits.clear();
    v.key(Qt::Key_Left);
    v.key(Qt::Key_Left);
    v.key(Qt::Key_Left);
    EXPECT_EQ(v.edits, (std::vector<std::optional<int>>{0, 0, 0})); // every view sees each step
    const int steps = v.stack().count();
    v.stack().undo();
    EXPECT_EQ(v.stack().count(), steps);
    EXPECT_EQ(v.edits.size(), 4u);
}

TEST(MarkGestures, ADocumentShownMidDragTakesNoMark)
{
    MarkView v;
    v.use(MarkupTool::rectangle);
    QTest::mousePress(v.port(), Qt::LeftButton, {}, v.at({100, 100}));
    QTest::mouseMove(v.port(), v.at({200, 200}));
    const auto first = pdfOf(*v.view.quarnDocument());
    testsupport::showPdf(v.view, platform::PdfDocument::openBytes(testsupport::makeTextPdf(1)));
    QTest::mouseRelease(v.port(), Qt::LeftButton, {}, v.at({200, 200}));
    EXPECT_TRUE(v.marks().empty());
    EXPECT_TRUE(PdfAnnotations::list(*first, 0).empty());
    EXPECT_EQ(v.stack().count(), 0);
}

TEST(MarkGestures, TheEraserShowsWhatItWouldTake)
{
    MarkView v;
    v.use(MarkupTool::line);
    v.drag({100, 300}, {300, 300});
    v.use(MarkupTool::eraser);
    const QImage plain = v.port()->grab().toImage();
    QTest::mouseMove(v.port(), v.at({200, 301}));
    const QImage shown = v.port()->grab().toImage();
    const QPoint trail = v.at({150, 300}) + QPoint(0, 4); // inside the trail, beside the line itself
    EXPECT_NE(plain.pixelColor(trail), shown.pixelColor(trail));
}

TEST(MarkGestures, ANudgeKeepsAMarkOnThePage)
{
    MarkView v;
    v.use(MarkupTool::rectangle);
    v.drag({100, 100}, {200, 160});
    v.use(MarkupTool::select);
    v.click({100, 112});
    ASSERT_TRUE(MarkEditor::of(v.view).selected());
    // Shifted steps of 10 points until the right edge stops it.
    for (int i = 0; i < 60; ++i) v.key(Qt::Key_Right, Qt::ShiftModifier);
    const PdfRect atEdge = v.marks().at(0).rect;
    const PdfRect page = pdfOf(*v.view.quarnDocument())->pageGeometry(0).cropBox;
    EXPECT_NEAR(atEdge.maxX(), page.maxX(), 0.01);
    const int steps = v.stack().count();
    v.key(Qt::Key_Right);
    EXPECT_EQ(v.marks().at(0).rect, atEdge);
    EXPECT_EQ(v.stack().count(), steps);
}

TEST(MarkGestures, ShiftMakesAPenStrokeStraight)
{
    MarkView v;
    v.use(MarkupTool::pen);
    QTest::mousePress(v.port(), Qt::LeftButton, Qt::ShiftModifier, v.at({100, 100}));
    QTest::mouseMove(v.port(), v.at({130, 140}));
    QTest::mouseMove(v.port(), v.at({160, 90}));
    QTest::mouseMove(v.port(), v.at({200, 103}));
    QTest::mouseRelease(v.port(), Qt::LeftButton, Qt::ShiftModifier, v.at({200, 103}));
    ASSERT_EQ(v.marks().size(), 1u);
    const auto marks = v.marks();
    const auto& stroke = marks[0].inkList.at(0); // marks outlives the reference
    ASSERT_GE(stroke.size(), 2u);
    // Snapped to the horizontal: every point on one height.
    for (const PdfPoint& p : stroke) EXPECT_NEAR(p.y, stroke.front().y, 0.01);
}

TEST(MarkGestures, AMarkWrittenStraightIntoAnnotsIsSelectedMovedSavedAndDeleted)
{
    MarkView v;
    testsupport::showPdf(v.view, platform::PdfDocument::openFile(testsupport::corpusPath("annotated_pdf.pdf")));
    QApplication::processEvents();
    v.use(MarkupTool::select);
    const PdfPoint onStroke{42.52, 515.9}; // on an edge of the ink mark's diamond, off its handles
    v.click(onStroke);
    ASSERT_TRUE(MarkEditor::of(v.view).selected().has_value());
    const int object = MarkEditor::of(v.view).selected()->object;
    EXPECT_GT(object, 0);
    const auto before = *PdfAnnotations::find(*pdfOf(*v.view.quarnDocument()), 0, object);
    EXPECT_EQ(before.subtype, "Ink");

    v.drag(onStroke, {onStroke.x + 40, onStroke.y - 30});
    const auto moved = *PdfAnnotations::find(*pdfOf(*v.view.quarnDocument()), 0, object);
    EXPECT_NEAR(moved.rect.x - before.rect.x, 40, 2);
    EXPECT_NEAR(moved.rect.y - before.rect.y, -30, 2);
    EXPECT_EQ(v.stack().undoText(), "Move");

    // Saved and opened again, it is the same object, moved; the other two stay.
    const auto reopened = platform::PdfDocument::openBytes(pdfOf(*v.view.quarnDocument())->save());
    const auto again = PdfAnnotations::find(*reopened, 0, object);
    ASSERT_TRUE(again.has_value());
    EXPECT_NEAR(again->rect.x, moved.rect.x, 0.01);
    EXPECT_EQ(PdfAnnotations::list(*reopened, 0).size(), 3u);

    testsupport::showPdf(v.view, reopened);
    QApplication::processEvents();
    v.click({onStroke.x + 40, onStroke.y - 30});
    ASSERT_TRUE(MarkEditor::of(v.view).selected().has_value());
    EXPECT_EQ(MarkEditor::of(v.view).selected()->object, object);
    v.key(Qt::Key_Delete);
    EXPECT_FALSE(PdfAnnotations::find(*reopened, 0, object).has_value());
    EXPECT_EQ(PdfAnnotations::list(*platform::PdfDocument::openBytes(reopened->save()), 0).size(), 2u);
    v.stack().undo();
    EXPECT_TRUE(PdfAnnotations::find(*reopened, 0, object).has_value());
}
