// The tool palette: single tool buttons, the group buttons with their
// remembered choice, and the member menu, driven with the mouse.
#include "Quarn/Markup/ViewerModelMarkupHarness.h"
#include "Quarn/Markup/MarkupModel.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Markup/ToolPalette.h"
#include "Quarn/App/ViewerScreen.h"
#include "QuarnKit/Shell/Design.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

using namespace quarn;
using markuptest::MarkupHarness;
using quarnkit::MarkupTool;
using quarnkit::ToolGroup;

namespace {

struct PaletteHarness : MarkupHarness {
    ToolPalette palette{model.get()};
    PaletteHarness()
    {
        palette.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&palette));
    }
    ToolGroupButton& shapes() { return *palette.groupButton(ToolGroup::shapes); }
    ToolGroupButton& markups() { return *palette.groupButton(ToolGroup::textMarkup); }
    void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); }
};

} // namespace

TEST(ToolPalette, SlotsInOrderWithHelpFromTheToolsLetters)
{
    PaletteHarness h;
    for (MarkupTool t : {MarkupTool::select, MarkupTool::pen, MarkupTool::text, MarkupTool::note, MarkupTool::redact,
                         MarkupTool::eraser})
        ASSERT_TRUE(h.palette.toolButton(t)) << int(t);
    EXPECT_FALSE(h.palette.toolButton(MarkupTool::rectangle)); // in the shapes group
    EXPECT_EQ(h.palette.toolButton(MarkupTool::pen)->toolTip(), "Pen (P)");
    EXPECT_EQ(h.palette.toolButton(MarkupTool::pen)->symbol(), "pencil.tip");
    EXPECT_EQ(h.shapes().menuPart()->toolTip(), "Shapes tools");
    EXPECT_EQ(h.markups().menuPart()->toolTip(), "Text markup tools");
    // Left to right: select, pen, text markup, shapes, text, note, redact, eraser.
    EXPECT_LT(h.palette.toolButton(MarkupTool::pen)->x(), h.markups().x());
    EXPECT_LT(h.markups().x(), h.shapes().x());
    EXPECT_LT(h.shapes().x(), h.palette.toolButton(MarkupTool::text)->x());
}

TEST(ToolPalette, ClickingAToolChoosesItAndMarksItsButton)
{
    PaletteHarness h;
    EXPECT_TRUE(h.palette.toolButton(MarkupTool::select)->isChosen());
    h.click(h.palette.toolButton(MarkupTool::pen));
    EXPECT_EQ(MarkupModel::of(*h.model).tool(), MarkupTool::pen);
    EXPECT_TRUE(h.palette.toolButton(MarkupTool::pen)->isChosen());
    EXPECT_FALSE(h.palette.toolButton(MarkupTool::select)->isChosen());

    // Neither group is active; each shows its first member, and a click chooses it.
    EXPECT_EQ(h.shapes().shownTool(), MarkupTool::rectangle);
    EXPECT_EQ(h.markups().shownTool(), MarkupTool::highlight);
    EXPECT_FALSE(h.shapes().isActive());
    EXPECT_EQ(h.shapes().toolPart()->toolTip(), "Rectangle (R)");
    h.click(h.shapes().toolPart());
    EXPECT_EQ(MarkupModel::of(*h.model).tool(), MarkupTool::rectangle);
    EXPECT_TRUE(h.shapes().isActive());
    EXPECT_EQ(h.shapes().background(), withOpacity(quarnkit::Design::accent(), 0.16));
    EXPECT_EQ(h.shapes().toolPart()->color(), quarnkit::Design::accent());
}

TEST(ToolPalette, AGroupShowsItsRememberedMemberAfterAnotherToolIsChosen)
{
    PaletteHarness h;
    h.click(h.shapes().menuPart());
    ToolGroupMenu* menu = h.shapes().openMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->current(), MarkupTool::select);
    ASSERT_TRUE(menu->row(MarkupTool::arrow));
    EXPECT_FALSE(menu->row(MarkupTool::highlight));
    h.click(menu->row(MarkupTool::arrow));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !h.shapes().openMenu(); }));
    EXPECT_EQ(MarkupModel::of(*h.model).tool(), MarkupTool::arrow);

    MarkupModel::of(*h.model).chooseTool(MarkupTool::pen);
    EXPECT_EQ(h.shapes().shownTool(), MarkupTool::arrow);
    EXPECT_EQ(h.shapes().toolPart()->symbol(), "arrow.up.right");
    EXPECT_EQ(h.shapes().toolPart()->toolTip(), "Arrow (A)");
    // The choice is kept in the saved tool memory.
    EXPECT_EQ(h.storedMemory().choice(ToolGroup::shapes), MarkupTool::arrow);

    // Any member of the text-markup group lights its button.
    MarkupModel::of(*h.model).chooseTool(MarkupTool::strikethrough);
    EXPECT_TRUE(h.markups().isActive());
    EXPECT_EQ(h.markups().shownTool(), MarkupTool::strikethrough);
}

TEST(ToolPalette, MenuRowHoverFollowsThePointerWhateverTheEventOrder)
{
    PaletteHarness h;
    MarkupModel::of(*h.model).chooseTool(MarkupTool::ellipse);
    h.click(h.shapes().menuPart());
    ToolGroupMenu* menu = h.shapes().openMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->current(), MarkupTool::ellipse);
    menu->rowEntered(MarkupTool::line);
    menu->rowEntered(MarkupTool::arrow); // the next row's enter comes first
    menu->rowLeft(MarkupTool::line);
    EXPECT_EQ(menu->hovered(), MarkupTool::arrow);
    menu->rowLeft(MarkupTool::arrow);
    EXPECT_FALSE(menu->hovered());
    // The chevron closes the open menu again.
    h.shapes().toggleMenu();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !h.shapes().openMenu(); }));
    EXPECT_EQ(MarkupModel::of(*h.model).tool(), MarkupTool::ellipse);
}

TEST(ToolPalette, StandsInTheDocumentWindowsToolbar)
{
    MarkupHarness h;
    ViewerScreen screen(h.document.get(), QString(), nullptr, &h.defaults, &h.positions);
    auto* palette = screen.findChild<ToolPalette*>();
    ASSERT_TRUE(palette);
    EXPECT_EQ(palette->parentWidget()->height(), 48); // the toolbar
    palette->toolButton(MarkupTool::note)->click();
    EXPECT_EQ(MarkupModel::of(screen.model()).tool(), MarkupTool::note);
}
