// Undo steps replayed after the page they were made on moved: each lands on
// its own page, and the other pages keep their marks.
#include "Platform/PdfPageAssembly.h"
#include "QuarnKit/Document/FormFieldCommand.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCommands.h"
#include "QuarnKit/Markup/MarkGeometry.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QUndoStack>

using namespace quarnkit;
namespace annots = platform::PdfAnnotations;

namespace {

// Counts the document's change signals.
struct EditCount {
    int count_ = 0;
    QMetaObject::Connection connection;
    explicit EditCount(QuarnDocument& document)
        : connection(QObject::connect(&document, &QuarnDocument::generationChanged, [this] { ++count_; }))
    {
    }
    ~EditCount() { QObject::disconnect(connection); }
    int count() const { return count_; }
};

struct MovedPages {
    QuarnDocument document{platform::PdfDocument::openBytes(testsupport::makeTextPdf(3))};
    QUndoStack stack;
    int other = 0; // a mark on the page that takes the moved page's place

    MovedPages() { other = annots::add(*document.pdf(), 0, box(300)); }

    static platform::PdfAnnotation box(double x, RGBA color = RGBA{1, 0, 0, 1})
    {
        return *AnnotationFactory::rectangle({x, 100}, {x + 50, 150}, color, 2, false);
    }
    platform::PdfPageId page(int index) const { return *document.pageId(index); }
    std::vector<int> marks(int index) const { return annots::order(*document.pdf(), index); }
    // Page 2 (index 1) goes to the front: its marks are then on index 0.
    void movePage() { platform::movePage(*document.pdf(), 1, 0); }
};

} // namespace

TEST(MarkCommands, StepsOfAMovedPageActOnThatPage)
{
    const struct Case {
        const char* name;
        // Makes an edit on page index 1 and returns its step; `check(made)` tells
        // whether that page, moved to index 0 by then, holds the edit's result.
        std::function<QUndoCommand*(MovedPages&, std::function<bool(bool)>&)> make;
    } cases[] = {
        {"added mark",
         [](MovedPages& m, std::function<bool(bool)>& check) -> QUndoCommand* {
             const int mark = annots::add(*m.document.pdf(), 1, MovedPages::box(100));
             check = [&m, mark](bool made) { return m.marks(0) == (made ? std::vector<int>{mark} : std::vector<int>{}); };
             return new MarkPresenceCommand(m.document, m.page(1), mark, true, 0, "Rectangle");
         }},
        {"removed mark",
         [](MovedPages& m, std::function<bool(bool)>& check) -> QUndoCommand* {
             const int mark = annots::add(*m.document.pdf(), 1, MovedPages::box(100));
             const int index = *annots::remove(*m.document.pdf(), 1, mark);
             check = [&m, mark](bool made) { return m.marks(0) == (made ? std::vector<int>{} : std::vector<int>{mark}); };
             return new MarkPresenceCommand(m.document, m.page(1), mark, false, index, "Delete");
         }},
        {"restack",
         [](MovedPages& m, std::function<bool(bool)>& check) -> QUndoCommand* {
             const int a = annots::add(*m.document.pdf(), 1, MovedPages::box(100));
             const int b = annots::add(*m.document.pdf(), 1, MovedPages::box(120));
             EXPECT_TRUE(MarkOrder::bringToFront(*m.document.pdf(), 1, a));
             check = [&m, a, b](bool made) { return m.marks(0) == (made ? std::vector<int>{b, a} : std::vector<int>{a, b}); };
             return new MarkOrderCommand(m.document, m.page(1), {a, b}, {b, a}, "Bring to Front");
         }},
        {"style",
         [](MovedPages& m, std::function<bool(bool)>& check) -> QUndoCommand* {
             const int mark = annots::add(*m.document.pdf(), 1, MovedPages::box(100));
             const auto before = *annots::find(*m.document.pdf(), 1, mark);
             auto after = before;
             after.color = platform::PdfColor{0, 0, 1};
             annots::update(*m.document.pdf(), 1, after);
             check = [&m, mark](bool made) {
                 const auto now = annots::find(*m.document.pdf(), 0, mark);
                 return now && now->color == (made ? platform::PdfColor{0, 0, 1} : platform::PdfColor{1, 0, 0});
             };
             return new MarkChangeCommand(m.document, m.page(1), before, after, "Color");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MovedPages m;
        std::function<bool(bool)> check;
        m.stack.push(c.make(m, check)); // the first redo changes nothing
        m.movePage();
        ASSERT_TRUE(check(true));
        EditCount edits(m.document);

        m.stack.undo();
        EXPECT_TRUE(check(false));
        EXPECT_EQ(m.marks(1), std::vector<int>{m.other}); // the page now at index 1 is untouched
        EXPECT_EQ(m.marks(2), std::vector<int>{});
        ASSERT_EQ(edits.count(), 1);
        EXPECT_EQ(m.document.editedPageIndex(), 0);

        m.stack.redo();
        EXPECT_TRUE(check(true));
        EXPECT_EQ(m.marks(1), std::vector<int>{m.other});
    }
}

TEST(MarkCommands, AStepWhosePageIsGoneDoesNothing)
{
    MovedPages m;
    const int mark = annots::add(*m.document.pdf(), 1, MovedPages::box(100));
    m.stack.push(new MarkPresenceCommand(m.document, m.page(1), mark, true, 0, "Rectangle"));
    // The page's object stays in the file, but it is no page of the document.
    const auto gone = m.page(1);
    m.stack.push(new MarkPresenceCommand(m.document, platform::PdfPageId{gone.object + 1000, 0}, mark, true, 0, "X"));
    EditCount edits(m.document);
    m.stack.undo();
    EXPECT_EQ(edits.count(), 0);
    EXPECT_EQ(m.marks(1), std::vector<int>{mark});
    EXPECT_EQ(m.marks(0), std::vector<int>{m.other});
}

TEST(FormFieldCommand, UndoOfAFieldEditFindsItsPageAfterAMove)
{
    QuarnDocument document(platform::PdfDocument::openFile(testsupport::corpusPath("pdflatex-forms.pdf")));
    platform::appendPages(*document.pdf(), *platform::PdfDocument::openBytes(testsupport::makeTextPdf(1)), 0, 1);
    const auto name = [&](int page) {
        for (const auto& w : platform::PdfForms::widgets(*document.pdf(), page))
            if (w.name == "Name") return std::optional(w);
        return std::optional<platform::PdfWidget>();
    };
    const auto before = *name(0);
    ASSERT_TRUE(platform::PdfForms::setText(*document.pdf(), 0, before.objectNumber, "Ada"));
    QUndoStack stack;
    stack.push(new FormFieldCommand(document, "Typing", {before}, {*name(0)}));

    platform::movePage(*document.pdf(), 0, 1); // the form page is now the second
    ASSERT_TRUE(name(1).has_value());
    EXPECT_EQ(name(1)->value, "Ada");
    stack.undo();
    EXPECT_EQ(name(1)->value.value_or(""), "");
    EXPECT_EQ(document.editedPageIndex(), 1);
    stack.redo();
    EXPECT_EQ(name(1)->value, "Ada");
}
