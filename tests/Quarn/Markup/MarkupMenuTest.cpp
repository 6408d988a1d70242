// The mark items of the Edit menu: where they stand, when they are enabled,
// and what they do to the selected mark.
#include "Quarn/Markup/ViewerModelMarkupHarness.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Markup/MarkupModel.h"

#include "Quarn/Markup/MarkupMenu.h"
#include "Quarn/Shell/QuarnCommands.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>

using namespace quarn;
using markuptest::MarkupHarness;
using markuptest::rectangle;
using quarnkit::MarkupTool;

namespace {

QStringList titles(const QMenu& menu)
{
    QStringList out;
    for (const QAction* a : menu.actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

} // namespace

TEST(MarkupMenu, ItemsStandInTheEditMenuDisabledWithoutAWindow)
{
    QMenuBar bar;
    QuarnCommands commands(&bar, nullptr);
    QMenu* edit = commands.menu(QStringLiteral("Edit"));
    ASSERT_TRUE(edit);
    const QStringList items = titles(*edit);
    const int duplicate = int(items.indexOf("Duplicate"));
    ASSERT_GE(duplicate, 1);
    EXPECT_EQ(items[duplicate - 1], "-");
    EXPECT_EQ(items.mid(duplicate, 5),
              (QStringList{"Duplicate", "Delete Mark", "Bring to Front", "Send to Back", "-"}));
    EXPECT_EQ(items[duplicate + 5], "Find");

    auto* marks = commands.findChild<MarkupCommands*>();
    ASSERT_TRUE(marks);
    for (QAction* a : {marks->duplicate(), marks->deleteMark(), marks->bringToFront(), marks->sendToBack()})
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    // The keys come from the shortcut table.
    EXPECT_EQ(marks->duplicate()->shortcut(), QKeySequence("Ctrl+D"));
    EXPECT_EQ(marks->bringToFront()->shortcut(), QKeySequence("Ctrl+Alt+Shift+F"));
    EXPECT_EQ(marks->sendToBack()->shortcut(), QKeySequence("Ctrl+Alt+Shift+B"));
    EXPECT_TRUE(marks->deleteMark()->shortcut().isEmpty());
}

TEST(MarkupMenu, ASelectionEnablesTheItemsThatActOnIt)
{
    MarkupHarness h;
    QMenuBar bar;
    QuarnCommands commands(&bar, h.model.get());
    auto* marks = commands.findChild<MarkupCommands*>();
    ASSERT_TRUE(marks);
    EXPECT_FALSE(marks->bringToFront()->isEnabled());

    const MarkRef first = h.place(rectangle());
    const MarkRef second =
        h.place(*quarnkit::AnnotationFactory::rectangle({300, 300}, {400, 380}, quarnkit::RGBA::moss, 2, false));
    EXPECT_TRUE(marks->duplicate()->isEnabled());
    EXPECT_TRUE(marks->deleteMark()->isEnabled());
    EXPECT_TRUE(marks->bringToFront()->isEnabled());
    EXPECT_TRUE(marks->sendToBack()->isEnabled());

    marks->sendToBack()->trigger();
    EXPECT_EQ(h.stack().undoText(), "Send to Back");
    EXPECT_EQ(markuptest::PdfAnnotations::order(h.pdf(), 0), (std::vector<int>{second.object, first.object}));
    marks->bringToFront()->trigger();
    EXPECT_EQ(h.stack().undoText(), "Bring to Front");
    EXPECT_EQ(markuptest::PdfAnnotations::order(h.pdf(), 0), (std::vector<int>{first.object, second.object}));

    marks->deleteMark()->trigger();
    EXPECT_EQ(h.stack().undoText(), "Delete");
    const auto saved = h.saved();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].annotation.objectNumber, first.object);
    // Deleting leaves nothing selected, and the items go grey again.
    EXPECT_FALSE(marks->deleteMark()->isEnabled());
    h.stack().undo();
    EXPECT_EQ(h.saved().size(), 2u);

    // Duplicate puts a copy beside the mark and selects it.
    MarkEditor::of(h.view()).select(second);
    marks->duplicate()->trigger();
    EXPECT_EQ(h.stack().undoText(), "Duplicate");
    EXPECT_EQ(h.saved().size(), 3u);
    EXPECT_NE(MarkEditor::of(h.view()).selected(), second);

    // Choosing a drawing tool clears the selection and disables the items.
    MarkEditor::of(h.view()).select(first);
    EXPECT_TRUE(marks->sendToBack()->isEnabled());
    MarkupModel::of(*h.model).chooseTool(MarkupTool::pen);
    EXPECT_FALSE(marks->sendToBack()->isEnabled());
}
