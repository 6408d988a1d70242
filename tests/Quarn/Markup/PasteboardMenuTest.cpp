// Edit ▸ Cut, Copy and Paste in a document window: enabled only when they
// would act, on the selected mark, and on the typed words while a text box
// is being edited.
#include "Platform/PdfAnnotations.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Markup/InlineEditor.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"
#include "Quarn/App/BarsWindow.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QTextEdit>
#include <QUndoStack>

using namespace quarn;
using quarnkit::ShortcutCommand;
namespace PdfAnnotations = platform::PdfAnnotations;

namespace {

struct PasteboardWindow : quarn::testing::BarsWindow {
    QUndoStack& stack() { return view->quarnDocument()->undoStack(); }
    PasteboardWindow() : BarsWindow(2)
    {
        QApplication::clipboard()->clear();
        QApplication::processEvents();
    }
    QAction* item(ShortcutCommand command) const
    {
        commands->refresh(); // as opening the Edit menu does
        return commands->action(command);
    }
    bool enabled(ShortcutCommand command) const { return item(command)->isEnabled(); }
    int addBox(const std::string& words)
    {
        const auto box = quarnkit::AnnotationFactory::freeText({100, 400}, words, quarnkit::RGBA{0, 0, 0, 1}, 16,
                                                               quarnkit::TextFont::sans,
                                                               pdfOf(*view->quarnDocument())->pageGeometry(0).cropBox);
        const int object = PdfAnnotations::add(*pdfOf(*view->quarnDocument()), 0, *box);
        view->quarnDocument()->noteEditOfPage(0);
        return object;
    }
};

} // namespace

TEST(PasteboardMenu, ItemsFollowTheSelectedMarkAndTheClipboard)
{
    PasteboardWindow w;
    EXPECT_FALSE(w.enabled(ShortcutCommand::cut));
    EXPECT_FALSE(w.enabled(ShortcutCommand::copy));
    EXPECT_FALSE(w.enabled(ShortcutCommand::paste));

    const int object = w.addBox("Words");
    MarkEditor::of(*w.view).select(MarkRef{0, object});
    EXPECT_TRUE(w.enabled(ShortcutCommand::cut));
    EXPECT_TRUE(w.enabled(ShortcutCommand::copy));
    EXPECT_FALSE(w.enabled(ShortcutCommand::paste)); // no marks on the clipboard yet

    w.item(ShortcutCommand::copy)->trigger();
    EXPECT_TRUE(w.enabled(ShortcutCommand::paste));
    w.item(ShortcutCommand::paste)->trigger();
    EXPECT_EQ(w.stack().undoText(), "Paste");
    EXPECT_EQ(PdfAnnotations::list(*pdfOf(*w.view->quarnDocument()), 0).size(), 2u);
}

TEST(PasteboardMenu, WhileABoxIsTypedInTheItemsActOnItsWords)
{
    PasteboardWindow w;
    const int object = w.addBox("Hello there");
    MarkEditor::of(*w.view).select(MarkRef{0, object});
    MarkEditor::of(*w.view).beginEditing(EditorTarget::text(MarkRef{0, object}));
    auto* editor = qobject_cast<QTextEdit*>(MarkEditor::of(*w.view).editor());
    ASSERT_TRUE(editor);
    editor->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(editor->hasFocus());
    // Nothing selected in the words: no Cut, no Copy (the mark is not what they take now).
    QTest::keyClick(w.window.windowHandle(), Qt::Key_End);
    EXPECT_FALSE(w.enabled(ShortcutCommand::cut));
    EXPECT_FALSE(w.enabled(ShortcutCommand::copy));

    QTest::keyClick(w.window.windowHandle(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(w.enabled(ShortcutCommand::copy));
    w.item(ShortcutCommand::cut)->trigger();
    EXPECT_EQ(editor->toPlainText(), QString());
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("Hello there"));
    EXPECT_TRUE(PdfAnnotations::find(*pdfOf(*w.view->quarnDocument()), 0, object).has_value()); // the mark stays
    EXPECT_TRUE(w.enabled(ShortcutCommand::paste));
    w.item(ShortcutCommand::paste)->trigger();
    w.item(ShortcutCommand::paste)->trigger();
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("Hello thereHello there"));
}
