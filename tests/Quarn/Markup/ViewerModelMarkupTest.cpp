// The window model's markup state: style setters that restyle the selected
// mark as one undo step and remember the value per tool, the inspector's
// descriptor, and the tool and swatch keys of the page view.
#include "Quarn/Markup/ViewerModelMarkupHarness.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Markup/MarkupModel.h"

#include "Quarn/Markup/InspectorPanel.h"
#include "QuarnKit/Markup/Redaction.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quarn;
using platform::PdfAnnotation;
using quarnkit::MarkKind;
using quarnkit::MarkupTool;
using quarnkit::RGBA;
using quarnkit::ToolMemory;
namespace AnnotationFactory = quarnkit::AnnotationFactory;

using markuptest::MarkupHarness;
using markuptest::rectangle;

TEST(ViewerModelMarkup, ColorOfASelectedMarkIsOneUndoStepAndRememberedForItsTool)
{
    MarkupHarness h;
    const MarkRef mark = h.place(rectangle(true));
    ASSERT_TRUE(MarkupModel::of(*h.model).inspected());
    EXPECT_EQ(MarkupModel::of(*h.model).inspected()->kind, MarkKind::rectangle);

    MarkupModel::of(*h.model).setColor(RGBA{0.75, 0.28, 0.27, 0.3}); // alpha is never taken
    const PdfAnnotation a = h.read(mark);
    ASSERT_TRUE(a.color);
    EXPECT_NEAR(a.color->r, 0.75, 1e-6);
    ASSERT_TRUE(a.interiorColor); // a filled shape stays filled
    EXPECT_NEAR(a.interiorColor->r, 0.75, 1e-6);
    EXPECT_EQ(h.stack().count(), 1);
    EXPECT_EQ(h.stack().undoText(), "Color");
    EXPECT_EQ(MarkupModel::of(*h.model).inspected()->color, RGBA::crimson);
    EXPECT_EQ(h.storedMemory().style(MarkupTool::rectangle).color, RGBA::crimson);

    // Quick repeats fold into the first step, which restores the colour before the run.
    MarkupModel::of(*h.model).setColor(RGBA::moss);
    MarkupModel::of(*h.model).setColor(RGBA::violet);
    EXPECT_EQ(h.stack().count(), 1);
    const auto saved = h.saved();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].color, RGBA::violet);
    h.stack().undo();
    EXPECT_NEAR(h.read(mark).color->b, RGBA::ink.b, 1e-6);
    h.stack().redo();
    EXPECT_NEAR(h.read(mark).color->b, RGBA::violet.b, 1e-6);
}

TEST(ViewerModelMarkup, AChangeToAnotherToolsMarkLeavesTheCurrentToolAlone)
{
    MarkupHarness h;
    MarkupModel::of(*h.model).chooseTool(MarkupTool::pen);
    const RGBA pen = MarkupModel::of(*h.model).color();
    const MarkRef mark = h.place(*AnnotationFactory::highlight({100, 600, 120, 20}, RGBA::highlighter));
    // Choosing select leaves the pen's style in the memory, untouched.
    MarkupModel::of(*h.model).setColor(RGBA::highlighterGreen);
    EXPECT_NEAR(h.read(mark).color->g, RGBA::highlighterGreen.g, 1e-6);
    EXPECT_NEAR(h.read(mark).opacity, 0.45, 1e-6);
    EXPECT_EQ(MarkupModel::of(*h.model).toolMemory().style(MarkupTool::highlight).color, RGBA::highlighterGreen);
    EXPECT_EQ(MarkupModel::of(*h.model).toolMemory().style(MarkupTool::pen).color, pen);
}

TEST(ViewerModelMarkup, SettersRefuseWhatTheToolOrKindDoesNotTake)
{
    MarkupHarness h;
    MarkupModel::of(*h.model).chooseTool(MarkupTool::eraser);
    const ToolMemory before = MarkupModel::of(*h.model).toolMemory();
    MarkupModel::of(*h.model).setStroke(9);
    MarkupModel::of(*h.model).setColor(RGBA::crimson);
    MarkupModel::of(*h.model).setFilled(true);
    EXPECT_EQ(MarkupModel::of(*h.model).toolMemory(), before);
    EXPECT_EQ(h.storedMemory(), before);

    // A selected redaction takes no colour.
    const MarkRef mark = h.place(*quarnkit::Redaction::mark({100, 100}, {200, 180}));
    ASSERT_EQ(MarkupModel::of(*h.model).inspected()->kind, MarkKind::redaction);
    const PdfAnnotation unchanged = h.read(mark);
    MarkupModel::of(*h.model).setColor(RGBA::crimson);
    EXPECT_EQ(h.stack().count(), 0);
    EXPECT_EQ(h.read(mark).color, unchanged.color);
}

TEST(ViewerModelMarkup, ToolModeRemembersAndLoadsTheCurrentToolsStyle)
{
    MarkupHarness h;
    MarkupModel::of(*h.model).chooseTool(MarkupTool::rectangle);
    QSignalSpy style(&MarkupModel::of(*h.model), &MarkupModel::styleChanged);
    MarkupModel::of(*h.model).setStroke(6.5);
    MarkupModel::of(*h.model).setFilled(true);
    EXPECT_DOUBLE_EQ(MarkupModel::of(*h.model).stroke(), 6.5);
    EXPECT_TRUE(MarkupModel::of(*h.model).filled());
    EXPECT_GE(style.count(), 2);
    EXPECT_DOUBLE_EQ(h.storedMemory().style(MarkupTool::rectangle).stroke, 6.5);
    // The page view draws the next rectangle with it.
    EXPECT_DOUBLE_EQ(h.view().style().stroke, 6.5);
    EXPECT_TRUE(h.view().style().filled);

    MarkupModel::of(*h.model).chooseTool(MarkupTool::text);
    MarkupModel::of(*h.model).setTextSize(12.5);
    EXPECT_DOUBLE_EQ(MarkupModel::of(*h.model).textSize(), 13);
    MarkupModel::of(*h.model).setTextSize(12.4);
    EXPECT_DOUBLE_EQ(MarkupModel::of(*h.model).textSize(), 12);
    MarkupModel::of(*h.model).setFont(quarnkit::TextFont::mono);
    EXPECT_EQ(h.view().style().font, quarnkit::TextFont::mono);
    EXPECT_EQ(h.storedMemory().style(MarkupTool::text).font, quarnkit::TextFont::mono);
    EXPECT_EQ(h.stack().count(), 0); // no mark was touched
}

TEST(ViewerModelMarkup, AnUnchangedStrokeStillReachesTheSelectionButSavesNothing)
{
    MarkupHarness h;
    const MarkRef mark = h.place(rectangle());
    // The rectangle tool's remembered stroke is its default; the mark's is 2.
    const double remembered = MarkupModel::of(*h.model).toolMemory().style(MarkupTool::rectangle).stroke;
    MarkupModel::of(*h.model).setStroke(remembered);
    EXPECT_NEAR(*h.read(mark).borderWidth, remembered, 1e-6);
    EXPECT_EQ(h.stack().count(), 1);
    EXPECT_EQ(h.stack().undoText(), "Stroke");
    EXPECT_FALSE(QFile::exists(h.dir.filePath("defaults.json")) && h.storedMemory().styles.count("rectangle"));
    h.stack().undo();
    EXPECT_NEAR(*h.read(mark).borderWidth, 2, 1e-6);
}

TEST(ViewerModelMarkup, TextSizeAndFontRefitASelectedTextBox)
{
    MarkupHarness h;
    const MarkRef mark = h.place(*AnnotationFactory::freeText({100, 500}, "Overdue", RGBA::graphite, 12,
                                                              quarnkit::TextFont::sans, {0, 0, 612, 792}));
    const double width = h.read(mark).rect.width;
    MarkupModel::of(*h.model).setTextSize(24.4);
    EXPECT_DOUBLE_EQ(h.read(mark).fontSize, 24);
    EXPECT_GT(h.read(mark).rect.width, width);
    EXPECT_EQ(h.stack().undoText(), "Text Size");
    MarkupModel::of(*h.model).setFont(quarnkit::TextFont::serif);
    EXPECT_EQ(h.read(mark).fontName, "TiRo");
    EXPECT_EQ(h.stack().undoText(), "Font");
    EXPECT_EQ(h.stack().count(), 2);
    EXPECT_EQ(MarkupModel::of(*h.model).toolMemory().style(MarkupTool::text).textSize, 24);

    const auto saved = h.saved();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_DOUBLE_EQ(saved[0].annotation.fontSize, 24);
    EXPECT_EQ(quarnkit::textFontOf(saved[0].annotation.fontName), quarnkit::TextFont::serif);

    // White words go on a dark plate.
    MarkupModel::of(*h.model).setColor(RGBA::white);
    const PdfAnnotation plated = h.read(mark);
    ASSERT_TRUE(plated.fontColor && plated.interiorColor);
    EXPECT_DOUBLE_EQ(plated.fontColor->r, 1);
    EXPECT_NEAR(plated.interiorOpacity, 0.92, 1e-6);
}

TEST(ViewerModelMarkup, PanelDescribesTheToolOrTheSelection)
{
    MarkupHarness h;
    MarkupModel::of(*h.model).chooseTool(MarkupTool::arrow);
    MarkupPanel panel = MarkupModel::of(*h.model).markupPanel();
    EXPECT_EQ(panel.title, "Arrow");
    EXPECT_EQ(panel.shortcut, QString("A"));
    EXPECT_TRUE(panel.head);
    EXPECT_FALSE(panel.showsHead);
    EXPECT_TRUE(panel.showsStroke);
    EXPECT_FALSE(panel.isSelection);

    MarkupModel::of(*h.model).chooseTool(MarkupTool::redact);
    panel = MarkupModel::of(*h.model).markupPanel();
    EXPECT_TRUE(panel.palette.empty());
    EXPECT_EQ(MarkupModel::of(*h.model).swatchIndex(), -1);
    EXPECT_TRUE(panel.explainsRedaction);
    EXPECT_FALSE(panel.showsColor);

    h.place(*AnnotationFactory::line({100, 300}, {200, 350}, RGBA::moss, 3, false));
    panel = MarkupModel::of(*h.model).markupPanel();
    EXPECT_TRUE(panel.isSelection);
    EXPECT_FALSE(panel.shortcut);
    EXPECT_EQ(panel.title, "Line");
    EXPECT_TRUE(panel.showsHead);
    EXPECT_FALSE(panel.head);
    EXPECT_EQ(panel.hint, "Drag an end to reshape it. Hold Shift to snap. Arrow keys nudge it.");
    EXPECT_EQ(panel.chosenSwatch(), 3);
    // A colour within 0.04 of a swatch, whatever its alpha, is that swatch.
    panel.color = RGBA{0.37, 0.53, 0.42, 0.2};
    EXPECT_EQ(panel.chosenSwatch(), 3);
}

TEST(ViewerModelMarkup, SwatchCallbackUsesThePanelsPalette)
{
    MarkupHarness h;
    MarkupModel::of(*h.model).chooseTool(MarkupTool::pen);
    QSignalSpy changes(h.model.get(), &ViewerModel::changed);
    MarkEditor::of(h.view()).onChooseSwatch(-1);
    MarkEditor::of(h.view()).onChooseSwatch(8);
    EXPECT_EQ(changes.count(), 0);
    MarkEditor::of(h.view()).onChooseSwatch(2);
    EXPECT_EQ(MarkupModel::of(*h.model).color(), RGBA::crimson);
    EXPECT_EQ(MarkupModel::of(*h.model).swatchIndex(), 2);

    // With a highlight selected the digits pick highlighter colours for it.
    const MarkRef mark = h.place(*AnnotationFactory::highlight({100, 600, 120, 20}, RGBA::highlighter));
    MarkEditor::of(h.view()).onChooseSwatch(1);
    EXPECT_NEAR(h.read(mark).color->g, RGBA::highlighterGreen.g, 1e-6);

    // Selecting the selected mark again publishes nothing.
    QSignalSpy inspected(&MarkupModel::of(*h.model), &MarkupModel::inspectedChanged);
    MarkupModel::of(*h.model).select(mark);
    EXPECT_EQ(inspected.count(), 0);
}

TEST(ViewerModelMarkup, LetterAndDigitKeysOnThePageChooseToolsAndSwatches)
{
    MarkupHarness h;
    h.view().setFocus();
    QTest::keyClick(&h.view(), Qt::Key_P);
    EXPECT_EQ(MarkupModel::of(*h.model).tool(), MarkupTool::pen);
    QTest::keyClick(&h.view(), Qt::Key_R, Qt::ShiftModifier); // Shift with the letter works too
    EXPECT_EQ(MarkupModel::of(*h.model).tool(), MarkupTool::rectangle);
    QTest::keyClick(&h.view(), Qt::Key_3);
    EXPECT_EQ(MarkupModel::of(*h.model).color(), RGBA::crimson);
    EXPECT_EQ(MarkupModel::of(*h.model).toolMemory().style(MarkupTool::rectangle).color, RGBA::crimson);
    QTest::keyClick(&h.view(), Qt::Key_9); // no ninth swatch
    QTest::keyClick(&h.view(), Qt::Key_0);
    EXPECT_EQ(MarkupModel::of(*h.model).color(), RGBA::crimson);
    QTest::keyClick(&h.view(), Qt::Key_E, Qt::ControlModifier); // not a tool key
    EXPECT_EQ(MarkupModel::of(*h.model).tool(), MarkupTool::rectangle);

    // A selected mark takes the swatch; Escape then goes back to Select.
    const MarkRef mark = h.place(rectangle());
    QTest::keyClick(&h.view(), Qt::Key_4);
    EXPECT_NEAR(h.read(mark).color->g, RGBA::moss.g, 1e-6);
    EXPECT_EQ(h.stack().undoText(), "Color");
    QTest::keyClick(&h.view(), Qt::Key_L);
    EXPECT_EQ(MarkupModel::of(*h.model).tool(), MarkupTool::line);
    EXPECT_FALSE(MarkupModel::of(*h.model).inspected());
}
