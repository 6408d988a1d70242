// Mark edits through the document, with no widget: each is one named undo
// step that makes its write when pushed, lands on its own page after pages
// moved, and undoes and redoes to exactly the marks there were.
#include "Platform/PdfPageAssembly.h"
#include "Platform/PdfPageEditing.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkClipboard.h"
#include "QuarnKit/Markup/MarkEdits.h"
#include "QuarnKit/Markup/MarkGeometry.h"
#include "QuarnKit/Markup/Restyle.h"
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
    {}
    ~EditCount() { QObject::disconnect(connection); }
    int count() const { return count_; }
};

Annotation box(double x, RGBA color = RGBA{1, 0, 0, 1})
{
    return *AnnotationFactory::rectangle({x, 100}, {x + 50, 150}, color, 2, false);
}

// What the user sees of a page's marks: kinds, places and colours, bottom first.
struct Seen {
    std::string subtype;
    platform::PdfRect rect;
    std::optional<AnnotationColor> color;
    friend bool operator==(const Seen&, const Seen&) = default;
};

std::vector<Seen> seen(const platform::PdfDocument& pdf, int page)
{
    std::vector<Seen> out;
    for (const Annotation& a : annots::list(pdf, page))
        if (AnnotationFactory::isMarkup(a)) out.push_back({a.subtype, a.rect, a.color});
    return out;
}

struct MovedPages {
    QuarnDocument document{platform::PdfDocument::openBytes(testsupport::makeTextPdf(3))};
    int other = 0; // a mark on the page that takes the moved page's place

    MovedPages() { other = annots::add(*pdfOf(document), 0, box(300)); }

    PageId page(int index) const { return *document.pageId(index); }
    std::vector<int> marks(int index) const { return annots::order(*pdfOf(document), index); }
    // Page 2 (index 1) goes to the front: its marks are then on index 0.
    void movePage() { platform::movePage(*pdfOf(document), 1, 0); }
};

} // namespace

TEST(MarkEdits, DrawMoveRestyleRestackPasteAndDeleteUndoAndRedo)
{
    QuarnDocument document(platform::PdfDocument::openBytes(testsupport::makeTextPdf(1)));
    QUndoStack& stack = document.undoStack();
    const PageId page = *document.pageId(0);
    std::optional<EditBurst> run;
    std::vector<std::vector<Seen>> states{seen(*pdfOf(document), 0)}; // after each step
    const auto step = [&](const QString& name) {
        EXPECT_EQ(stack.undoText(), name);
        EXPECT_EQ(stack.count(), int(states.size()));
        states.push_back(seen(*pdfOf(document), 0));
    };

    const int rect = *MarkEdits::add(document, page, box(100), QStringLiteral("Rectangle"));
    step(QStringLiteral("Rectangle"));
    const auto ink = AnnotationFactory::ink({{300, 300}, {340, 320}, {380, 300}}, RGBA{0, 0, 1, 1}, 3);
    const int pen = *MarkEdits::add(document, page, *ink, QStringLiteral("Pen"));
    step(QStringLiteral("Pen"));
    EXPECT_EQ(MarkEdits::marks(document, 0).size(), 2u);

    // A drag shows the mark on its way and records one step at the end.
    const Annotation before = *MarkEdits::find(document, 0, rect);
    Annotation moved = before;
    MarkFrame::of(moved).offset({20, 10}).apply(moved);
    MarkEdits::preview(document, page, moved);
    EXPECT_EQ(stack.count(), 2);
    ASSERT_TRUE(MarkEdits::change(document, page, before, moved, QStringLiteral("Move")));
    step(QStringLiteral("Move"));
    // Arrow keys in quick succession are one step.
    ASSERT_TRUE(MarkEdits::nudge(document, page, rect, {1, 0}, run));
    ASSERT_TRUE(MarkEdits::nudge(document, page, rect, {1, 0}, run));
    step(QStringLiteral("Move"));
    EXPECT_EQ(MarkEdits::find(document, 0, rect)->rect.x, moved.rect.x + 2);

    const auto blue = [](Annotation& a, MarkKind kind) { return Restyle::color(a, kind, RGBA{0, 0, 1, 1}); };
    const auto green = [](Annotation& a, MarkKind kind) { return Restyle::color(a, kind, RGBA{0, 0.5, 0, 1}); };
    ASSERT_TRUE(MarkEdits::restyle(document, page, rect, blue, "Color", QStringLiteral("Color"), run));
    ASSERT_TRUE(MarkEdits::restyle(document, page, rect, green, "Color", QStringLiteral("Color"), run));
    EXPECT_FALSE(MarkEdits::restyle(document, page, rect, green, "Color", QStringLiteral("Color"), run));
    step(QStringLiteral("Color"));
    EXPECT_EQ(MarkEdits::find(document, 0, rect)->color, (AnnotationColor{0, 0.5, 0}));

    ASSERT_TRUE(MarkEdits::restack(document, page, rect, true));
    step(QStringLiteral("Bring to Front"));
    EXPECT_FALSE(MarkEdits::restack(document, page, rect, true)); // on top already: no step
    EXPECT_EQ(MarkEdits::marks(document, 0).back().objectNumber, rect);

    // A pasted copy of the ink lands off the original.
    const auto copied =
        MarkClipboard::annotations(MarkClipboard::data({*MarkEdits::find(document, 0, pen)}, {0, 0, 612, 792}));
    const auto pasted = MarkEdits::paste(document, page, copied, QStringLiteral("Paste"));
    ASSERT_TRUE(pasted);
    step(QStringLiteral("Paste"));
    EXPECT_EQ(MarkEdits::find(document, 0, *pasted)->rect.x, MarkEdits::find(document, 0, pen)->rect.x + 12);
    ASSERT_TRUE(MarkEdits::duplicate(document, page, rect));
    step(QStringLiteral("Duplicate"));

    ASSERT_TRUE(MarkEdits::remove(document, page, rect, QStringLiteral("Delete")));
    step(QStringLiteral("Delete"));
    EXPECT_FALSE(MarkEdits::remove(document, page, rect, QStringLiteral("Delete"))); // gone already: no step
    EXPECT_EQ(stack.count(), int(states.size()) - 1);

    for (int i = int(states.size()) - 1; i > 0; --i) {
        stack.undo();
        EXPECT_EQ(seen(*pdfOf(document), 0), states[size_t(i) - 1]) << "undo to state " << i - 1;
    }
    for (size_t i = 1; i < states.size(); ++i) {
        stack.redo();
        EXPECT_EQ(seen(*pdfOf(document), 0), states[i]) << "redo to state " << i;
    }
    // What was saved reads back as the last state.
    const auto saved = platform::PdfDocument::openBytes(document.snapshot());
    EXPECT_EQ(seen(*saved, 0), states.back());
}

TEST(MarkEdits, StepsOfAMovedPageActOnThatPage)
{
    const struct Case {
        const char* name;
        // Makes an edit on page index 1 and returns whether, after, the page
        // (moved to index 0 by then) holds the edit's result.
        std::function<std::function<bool(bool)>(MovedPages&)> make;
    } cases[] = {
        {"added mark",
         [](MovedPages& m) -> std::function<bool(bool)> {
             const int mark = *MarkEdits::add(m.document, m.page(1), box(100), "Rectangle");
             return
                 [&m, mark](bool made) { return m.marks(0) == (made ? std::vector<int>{mark} : std::vector<int>{}); };
         }},
        {"removed mark",
         [](MovedPages& m) -> std::function<bool(bool)> {
             const int mark = annots::add(*pdfOf(m.document), 1, box(100));
             EXPECT_TRUE(MarkEdits::remove(m.document, m.page(1), mark, "Delete"));
             return
                 [&m, mark](bool made) { return m.marks(0) == (made ? std::vector<int>{} : std::vector<int>{mark}); };
         }},
        {"restack",
         [](MovedPages& m) -> std::function<bool(bool)> {
             const int a = annots::add(*pdfOf(m.document), 1, box(100));
             const int b = annots::add(*pdfOf(m.document), 1, box(120));
             EXPECT_TRUE(MarkEdits::restack(m.document, m.page(1), a, true));
             return [&m, a, b](bool made) {
                 return m.marks(0) == (made ? std::vector<int>{b, a} : std::vector<int>{a, b});
             };
         }},
        {"style",
         [](MovedPages& m) -> std::function<bool(bool)> {
             const int mark = annots::add(*pdfOf(m.document), 1, box(100));
             const Annotation before = *annots::find(*pdfOf(m.document), 1, mark);
             Annotation after = before;
             after.color = AnnotationColor{0, 0, 1};
             EXPECT_TRUE(MarkEdits::change(m.document, m.page(1), before, after, "Color"));
             return [&m, mark](bool made) {
                 const auto now = annots::find(*pdfOf(m.document), 0, mark);
                 return now && now->color == (made ? AnnotationColor{0, 0, 1} : AnnotationColor{1, 0, 0});
             };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MovedPages m;
        const std::function<bool(bool)> check = c.make(m);
        ASSERT_EQ(m.document.undoStack().count(), 1);
        m.movePage();
        ASSERT_TRUE(check(true));
        EditCount edits(m.document);

        m.document.undoStack().undo();
        EXPECT_TRUE(check(false));
        EXPECT_EQ(m.marks(1), std::vector<int>{m.other}); // the page now at index 1 is untouched
        EXPECT_EQ(m.marks(2), std::vector<int>{});
        ASSERT_EQ(edits.count(), 1);
        EXPECT_EQ(m.document.editedPageIndex(), 0);

        m.document.undoStack().redo();
        EXPECT_TRUE(check(true));
        EXPECT_EQ(m.marks(1), std::vector<int>{m.other});
    }
}

TEST(MarkEdits, AStepWhosePageIsGoneDoesNothing)
{
    MovedPages m;
    const int mark = *MarkEdits::add(m.document, m.page(1), box(100), "Rectangle");
    // A page object that stays in the file but is no page of the document takes no step.
    const PageId gone{m.page(1).object + 1000, 0};
    EXPECT_FALSE(MarkEdits::add(m.document, gone, box(200), "X"));
    EXPECT_EQ(m.document.undoStack().count(), 1);
    platform::removePage(*pdfOf(m.document), 1);
    EditCount edits(m.document);
    m.document.undoStack().undo();
    EXPECT_EQ(edits.count(), 0);
    EXPECT_EQ(m.marks(0), std::vector<int>{m.other});
    (void)mark;
}

TEST(MarkEdits, ANudgedMarkStaysOnItsPage)
{
    QuarnDocument document(platform::PdfDocument::openBytes(testsupport::makeTextPdf(1)));
    const PageId page = *document.pageId(0);
    std::optional<EditBurst> run;
    const int inside = *MarkEdits::add(document, page, box(0), "Rectangle");      // against the left edge
    const int partlyOff = *MarkEdits::add(document, page, box(-30), "Rectangle"); // already over the edge
    const int steps = document.undoStack().count();
    EXPECT_FALSE(MarkEdits::nudge(document, page, inside, {-10, 0}, run)); // would leave the page: stays
    EXPECT_EQ(document.undoStack().count(), steps);
    ASSERT_TRUE(MarkEdits::nudge(document, page, partlyOff, {-10, 0}, run));
    EXPECT_EQ(MarkEdits::find(document, 0, partlyOff)->rect.x, box(-40).rect.x);
    ASSERT_TRUE(MarkEdits::nudge(document, page, inside, {10, 0}, run));
    EXPECT_EQ(MarkEdits::find(document, 0, inside)->rect.x, box(10).rect.x);
}
