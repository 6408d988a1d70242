// Find in the viewer: the model's find state over a real page view.
#include "Platform/PdfAnnotations.h"
#include "Quarn/Viewer/ViewerOnPages.h"
#include "Quarn/Viewer/DocumentActions.h"
#include "Quarn/Find/FindModel.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Find/FindOnPages.h"
#include "Platform/PdfPageAssembly.h"
#include "Platform/UserDefaults.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/PageInteractions.h"
#include "Quarn/Viewer/TextSelection.h"
#include "Quarn/Viewer/PageLinks.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/DocumentSearch.h"
#include "support/PageViewSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QScrollBar>
#include <QTest>
#include <QUndoStack>

using namespace quarn;

namespace {

// Every page reads "Page N" and then "Cat cat concat cats".
constexpr const char* pageWords = "Cat cat concat cats";

// A model bound to a shown page view of `pages` pages, with its own settings file.
struct FindFixture {
    QTemporaryDir folder;
    platform::UserDefaults defaults{folder.filePath(QStringLiteral("defaults.json"))};
    quarnkit::ReadingPositionStore positions{defaults};
    ViewerModel model{&defaults, &positions};
    QuarnPDFView view;

    explicit FindFixture(int pages = 5)
    {
        MarkEditor::of(view); // marks are drawn on these pages
        view.resize(800, 600);
        testsupport::showPdf(view, platform::PdfDocument::openBytes(testsupport::makeTextPdf(pages, pageWords)));
        showViewerOnPages(model, view);
        showFindOnPages(FindModel::of(model), view);
        view.show();
        QApplication::processEvents();
    }

    // Runs the event loop until the search asked for has begun and ended.
    bool waitForSearch()
    {
        const FindModel& find = FindModel::of(model);
        return QTest::qWaitFor([&find] { return !find.searchPending() && !find.searching(); }, 10000);
    }

    void search(const QString& query)
    {
        FindModel::of(model).show();
        FindModel::of(model).setQuery(query);
        FindModel::of(model).start(0);
        ASSERT_TRUE(waitForSearch());
    }

    int currentPage() const
    {
        return view.interactions().textSelection().highlights().empty() ? -1 : currentHighlight().firstPage();
    }

    // The one highlight drawn in the current-match colour.
    quarnkit::PageSelection currentHighlight() const
    {
        for (const auto& h : view.interactions().textSelection().highlights())
            if (h.color == FindModel::currentMatchColor()) return h.selection;
        return {};
    }
};

} // namespace

// ---------------------------------------------------------------- searching

TEST(ViewerFindTest, MatchesAreCountedAndTheFirstIsCurrent)
{
    FindFixture f;
    f.search(QStringLiteral("page"));
    EXPECT_EQ(FindModel::of(f.model).count(), 5);
    EXPECT_EQ(FindModel::of(f.model).index(), 0);
    EXPECT_FALSE(FindModel::of(f.model).searching());
    ASSERT_EQ(f.view.interactions().textSelection().highlights().size(), 5u);
    EXPECT_EQ(f.currentHighlight().firstPage(), 0);
    int current = 0;
    for (const auto& h : f.view.interactions().textSelection().highlights()) {
        if (h.color == FindModel::currentMatchColor()) ++current;
        else EXPECT_EQ(h.color, FindModel::allMatchesColor());
    }
    EXPECT_EQ(current, 1);
}

TEST(ViewerFindTest, HighlightColoursAreThoseOfTheDesign)
{
    EXPECT_EQ(FindModel::allMatchesColor(), QColor::fromRgbF(0.98f, 0.84f, 0.32f, 0.42f));
    EXPECT_EQ(FindModel::currentMatchColor(), QColor::fromRgbF(1.0f, 0.56f, 0.12f, 0.72f));
}

TEST(ViewerFindTest, MatchCaseAndWholeWordsNarrowTheMatches)
{
    FindFixture f;
    f.search(QStringLiteral("cat"));
    EXPECT_EQ(FindModel::of(f.model).count(), 20); // Cat, cat, concat, cats on five pages

    FindModel::of(f.model).setMatchCase(true); // the bar is shown: searches again at once
    ASSERT_TRUE(f.waitForSearch());
    EXPECT_EQ(FindModel::of(f.model).count(), 15);

    FindModel::of(f.model).setWholeWords(true);
    ASSERT_TRUE(f.waitForSearch());
    EXPECT_EQ(FindModel::of(f.model).count(), 5);

    FindModel::of(f.model).setMatchCase(false);
    ASSERT_TRUE(f.waitForSearch());
    EXPECT_EQ(FindModel::of(f.model).count(), 10); // Cat and cat
}

TEST(ViewerFindTest, AnOptionChangedWhileTheBarIsHiddenStartsNoSearch)
{
    FindFixture f;
    QSignalSpy searching(&FindModel::of(f.model), &FindModel::searchingChanged);
    FindModel::of(f.model).setMatchCase(true);
    QTest::qWait(20); // that nothing starts is the point: a search would have begun by now
    EXPECT_TRUE(FindModel::of(f.model).matchCase());
    EXPECT_EQ(searching.count(), 0);
    // The next search uses it.
    f.search(QStringLiteral("cat"));
    EXPECT_EQ(FindModel::of(f.model).count(), 15);
}

TEST(ViewerFindTest, AQueryOfSpacesSearchesNothing)
{
    FindFixture f;
    f.search(QStringLiteral("page"));
    ASSERT_EQ(FindModel::of(f.model).count(), 5);
    FindModel::of(f.model).setQuery(QStringLiteral("   "));
    FindModel::of(f.model).start(0);
    ASSERT_TRUE(f.waitForSearch());
    EXPECT_FALSE(FindModel::of(f.model).searching());
    EXPECT_EQ(FindModel::of(f.model).count(), 0);
    EXPECT_TRUE(f.view.interactions().textSelection().highlights().empty());
}

TEST(ViewerFindTest, TypingSearchesOnlyTheLastQuery)
{
    FindFixture f;
    FindModel::of(f.model).show();
    FindModel::of(f.model).setQuery(QStringLiteral("c"));
    FindModel::of(f.model).start(160);
    FindModel::of(f.model).setQuery(QStringLiteral("ca"));
    FindModel::of(f.model).start(160);
    FindModel::of(f.model).setQuery(QStringLiteral("cats"));
    FindModel::of(f.model).start(160);
    EXPECT_FALSE(FindModel::of(f.model).searching()); // still waiting
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return FindModel::of(f.model).count() > 0 && !FindModel::of(f.model).searching(); }, 10000));
    EXPECT_EQ(FindModel::of(f.model).count(), 5);
}

TEST(ViewerFindTest, MatchesOfALongDocumentArriveBeforeTheSearchEnds)
{
    FindFixture f(400);
    FindModel::of(f.model).show();
    FindModel::of(f.model).setQuery(QStringLiteral("cat"));
    FindModel::of(f.model).start(0);
    // The first match is current the moment it is found.
    ASSERT_TRUE(QTest::qWaitFor([&] { return FindModel::of(f.model).count() > 0; }, 10000));
    EXPECT_EQ(FindModel::of(f.model).index(), 0);
    EXPECT_EQ(f.currentHighlight().firstPage(), 0);
    ASSERT_TRUE(f.waitForSearch());
    EXPECT_EQ(FindModel::of(f.model).count(), 1600);
    EXPECT_EQ(f.view.interactions().textSelection().highlights().size(), 1600u);
}

// ---------------------------------------------------------------- stepping

TEST(ViewerFindTest, NextAndPreviousWrapAround)
{
    FindFixture f;
    f.search(QStringLiteral("page"));
    FindModel::of(f.model).previousMatch();
    EXPECT_EQ(FindModel::of(f.model).index(), 4); // from the first to the last
    EXPECT_EQ(f.currentHighlight().firstPage(), 4);
    EXPECT_TRUE(f.view.placement().pageRect(4).intersects(f.view.viewport()->rect())); // scrolled to it
    FindModel::of(f.model).nextMatch();
    EXPECT_EQ(FindModel::of(f.model).index(), 0); // from the last to the first
    FindModel::of(f.model).nextMatch();
    FindModel::of(f.model).nextMatch();
    EXPECT_EQ(FindModel::of(f.model).index(), 2);
    EXPECT_EQ(f.currentHighlight().firstPage(), 2);
    EXPECT_EQ(FindModel::of(f.model).count(), 5);
}

TEST(ViewerFindTest, StepsWithoutMatchesNeverDivideByZero)
{
    FindFixture f;
    f.search(QStringLiteral("zebra"));
    EXPECT_EQ(FindModel::of(f.model).count(), 0);
    QSignalSpy searching(&FindModel::of(f.model), &FindModel::searchingChanged);
    FindModel::of(f.model).nextMatch(); // unchanged query: nothing
    FindModel::of(f.model).previousMatch();
    EXPECT_EQ(FindModel::of(f.model).index(), 0);
    EXPECT_EQ(searching.count(), 0);

    // An edited query is searched at once, without the typing delay.
    FindModel::of(f.model).setQuery(QStringLiteral("concat"));
    FindModel::of(f.model).nextMatch();
    EXPECT_TRUE(FindModel::of(f.model).searching());
    ASSERT_TRUE(f.waitForSearch());
    EXPECT_EQ(FindModel::of(f.model).count(), 5);
}

TEST(ViewerFindTest, OneMatchStepsOntoItself)
{
    FindFixture f(1);
    f.search(QStringLiteral("concat"));
    ASSERT_EQ(FindModel::of(f.model).count(), 1);
    FindModel::of(f.model).nextMatch();
    FindModel::of(f.model).previousMatch();
    EXPECT_EQ(FindModel::of(f.model).index(), 0);
}

// ---------------------------------------------------------------- opening and closing

TEST(ViewerFindTest, ShowFindSeedsTheQueryFromAShortSelection)
{
    FindFixture f;
    quarnkit::PageSelection selection;
    selection.pieces.push_back({0, {}});
    selection.text = "  concat \n";
    f.view.interactions().textSelection().set(selection);
    QSignalSpy token(&FindModel::of(f.model), &FindModel::tokenChanged);
    FindModel::of(f.model).show();
    EXPECT_TRUE(FindModel::of(f.model).presented());
    EXPECT_EQ(FindModel::of(f.model).query(), QStringLiteral("concat"));
    EXPECT_EQ(token.count(), 1);

    // A second time keeps the query, whatever is selected now.
    selection.text = "cats";
    f.view.interactions().textSelection().set(selection);
    FindModel::of(f.model).show();
    EXPECT_EQ(FindModel::of(f.model).query(), QStringLiteral("concat"));
    EXPECT_EQ(FindModel::of(f.model).token(), 2);
}

TEST(ViewerFindTest, LongOrMultiLineSelectionsDoNotSeedTheQuery)
{
    FindFixture f;
    quarnkit::PageSelection selection;
    selection.pieces.push_back({0, {}});
    selection.text = std::string(81, 'a');
    f.view.interactions().textSelection().set(selection);
    FindModel::of(f.model).show();
    EXPECT_TRUE(FindModel::of(f.model).query().isEmpty());
    FindModel::of(f.model).close();

    selection.text = "two\nlines";
    f.view.interactions().textSelection().set(selection);
    FindModel::of(f.model).show();
    EXPECT_TRUE(FindModel::of(f.model).query().isEmpty());
    FindModel::of(f.model).close();

    selection.text = std::string(80, 'a');
    f.view.interactions().textSelection().set(selection);
    FindModel::of(f.model).show();
    EXPECT_EQ(FindModel::of(f.model).query().size(), 80);
}

TEST(ViewerFindTest, ClosingStopsTheSearchAndRemovesEveryHighlight)
{
    FindFixture f(300);
    FindModel::of(f.model).show();
    FindModel::of(f.model).setQuery(QStringLiteral("cat"));
    FindModel::of(f.model).start(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return FindModel::of(f.model).count() > 0; }, 10000));
    FindModel::of(f.model).close();
    EXPECT_FALSE(FindModel::of(f.model).presented());
    EXPECT_FALSE(FindModel::of(f.model).searching());
    EXPECT_TRUE(FindModel::of(f.model).query().isEmpty());
    EXPECT_EQ(FindModel::of(f.model).count(), 0);
    QTest::qWait(300); // that nothing comes is the point: late batches and the typing delay would have by now
    EXPECT_TRUE(f.view.interactions().textSelection().highlights().empty());
    EXPECT_EQ(FindModel::of(f.model).count(), 0);
    EXPECT_TRUE(FindModel::of(f.model).matches().empty());
}

TEST(ViewerFindTest, StoppingTheWindowEndsItsSearch)
{
    FindFixture f(300);
    f.model.start();
    FindModel::of(f.model).show();
    FindModel::of(f.model).setQuery(QStringLiteral("cat"));
    FindModel::of(f.model).start(50);
    f.model.stop();    // before the typing pause is over: nothing is searched
    QTest::qWait(120); // past the pause: that nothing starts is the point
    EXPECT_FALSE(FindModel::of(f.model).searching());
    EXPECT_EQ(FindModel::of(f.model).count(), 0);

    f.model.start();
    FindModel::of(f.model).show();
    FindModel::of(f.model).setQuery(QStringLiteral("cat"));
    FindModel::of(f.model).start(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return FindModel::of(f.model).count() > 0; }, 10000));
    f.model.stop(); // while the search runs
    const std::size_t held = FindModel::of(f.model).matches().size();
    QTest::qWait(300); // that nothing comes is the point: batches already queued would arrive by now
    EXPECT_FALSE(FindModel::of(f.model).searching());
    EXPECT_EQ(FindModel::of(f.model).matches().size(), held); // no batch arrives any more
}

TEST(ViewerFindTest, MarksAndDocumentInfoKeepTheMatchWhileAPageMoveSearchesAgain)
{
    FindFixture f(60);
    quarnkit::QuarnDocument& document = *f.view.quarnDocument();
    QUndoStack& stack = document.undoStack();
    f.model.setDocument(&document);
    // As the viewer screen does: the model hears of every edit from the document.
    QObject::connect(&document, &quarnkit::QuarnDocument::generationChanged, &f.model, &ViewerModel::documentChanged);
    f.model.documentChanged();
    f.search(QStringLiteral("cat"));
    ASSERT_GE(FindModel::of(f.model).count(), 151);
    while (FindModel::of(f.model).index() != 150) FindModel::of(f.model).nextMatch();
    QApplication::processEvents();
    const int page = f.view.currentPageIndex();
    const int scrolled = f.view.verticalScrollBar()->value();
    ASSERT_GT(page, 0);

    // A rectangle drawn on the page in view, then the document's title.
    f.view.setTool(quarnkit::MarkupTool::rectangle, quarnkit::ToolStyle{});
    const QRectF shown = f.view.placement().pageRect(page).intersected(QRectF(f.view.viewport()->rect()));
    QTest::mousePress(f.view.viewport(), Qt::LeftButton, {}, shown.center().toPoint());
    QTest::mouseMove(f.view.viewport(), (shown.center() + QPointF(40, 30)).toPoint());
    QTest::mouseRelease(f.view.viewport(), Qt::LeftButton, {}, (shown.center() + QPointF(40, 30)).toPoint());
    ASSERT_EQ(stack.count(), 1);
    quarnkit::DocumentMetadata info = quarnkit::DocumentMetadata::read(*pdfOf(document));
    info.title = QStringLiteral("Cats");
    DocumentActions::of(f.model).updateMetadata(info);
    ASSERT_EQ(stack.count(), 2);
    QTest::qWait(2 * FindModel::refindAfterEditMs); // that no search starts is the point: one would have by now
    EXPECT_FALSE(FindModel::of(f.model).searching());
    EXPECT_EQ(FindModel::of(f.model).index(), 150);
    EXPECT_EQ(f.view.currentPageIndex(), page);
    EXPECT_EQ(f.view.verticalScrollBar()->value(), scrolled);

    // Moving a page changes what the matches point at: the search runs again.
    platform::movePage(*pdfOf(document), 0, 59);
    document.noteEdit(std::nullopt);
    EXPECT_TRUE(QTest::qWaitFor([&] { return FindModel::of(f.model).index() != 150; }, 5000));
    EXPECT_TRUE(f.waitForSearch());
}
