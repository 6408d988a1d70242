// The find bar as the user drives it: Ctrl+F, typing, Return and Shift+Return,
// the options menu, the count and close.
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/Spinner.h"
#include "Quarn/Viewer/PageInteractions.h"
#include "Quarn/Find/FindModel.h"
#include "Quarn/App/BarsWindow.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>

using namespace quarn;
using quarn::testing::BarsWindow;

namespace {

// What the count area says.
QString shownCount(const BarsWindow& w) { return w.findBar->countLabel()->text(); }

// Opens the bar with Ctrl+F and types a query into the field.
void findWithKeys(BarsWindow& w, const QString& query)
{
    QTest::keyClick(w.view, Qt::Key_F, Qt::ControlModifier);
    QApplication::processEvents();
    QTest::keyClicks(w.findBar->field(), query);
}

} // namespace

TEST(FindBarTest, CtrlFOpensTheBarWithTheFieldFocused)
{
    BarsWindow w;
    EXPECT_FALSE(w.findBar->isVisible());
    QTest::keyClick(w.view, Qt::Key_F, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_TRUE(FindModel::of(w.model).presented());
    EXPECT_TRUE(w.findBar->isVisible());
    EXPECT_TRUE(w.findBar->field()->hasFocus());
    EXPECT_EQ(w.findBar->field()->placeholderText(), QStringLiteral("Find in document"));
    EXPECT_TRUE(shownCount(w).isEmpty());
    EXPECT_FALSE(w.findBar->previousButton()->isEnabled());
    EXPECT_FALSE(w.findBar->nextButton()->isEnabled());
}

TEST(FindBarTest, TypingSearchesAndShowsTheCount)
{
    BarsWindow w;
    findWithKeys(w, QStringLiteral("page"));
    EXPECT_EQ(FindModel::of(w.model).query(), QStringLiteral("page"));
    ASSERT_TRUE(w.waitForMatches());
    EXPECT_EQ(shownCount(w), QStringLiteral("1 of 12"));
    EXPECT_TRUE(w.findBar->nextButton()->isEnabled());
    EXPECT_FALSE(w.findBar->searchingIndicator()->isVisible());
}

TEST(FindBarTest, ReturnStepsForwardAndShiftReturnBackOnceWithWrapAround)
{
    BarsWindow w;
    findWithKeys(w, QStringLiteral("page"));
    ASSERT_TRUE(w.waitForMatches());
    QLineEdit* field = w.findBar->field();

    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(shownCount(w), QStringLiteral("2 of 12"));
    QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(shownCount(w), QStringLiteral("1 of 12")); // one step back, not back and forth
    QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(shownCount(w), QStringLiteral("12 of 12")); // wrapped to the last
    EXPECT_EQ(FindModel::of(w.model).index(), 11);
    EXPECT_TRUE(w.view->placement().pageRect(11).intersects(w.view->viewport()->rect())); // scrolled to it
    QTest::keyClick(field, Qt::Key_Enter);
    EXPECT_EQ(shownCount(w), QStringLiteral("1 of 12")); // wrapped to the first
    EXPECT_EQ(w.view->currentPageIndex(), 0);
    EXPECT_TRUE(field->hasFocus()); // the field keeps the keyboard
}

TEST(FindBarTest, CtrlGAndTheArrowsStepToo)
{
    BarsWindow w;
    findWithKeys(w, QStringLiteral("page"));
    ASSERT_TRUE(w.waitForMatches());
    QTest::keyClick(w.findBar->field(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(shownCount(w), QStringLiteral("2 of 12"));
    QTest::keyClick(w.findBar->field(), Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(shownCount(w), QStringLiteral("1 of 12"));
    QTest::mouseClick(w.findBar->previousButton(), Qt::LeftButton);
    EXPECT_EQ(shownCount(w), QStringLiteral("12 of 12"));
    QTest::mouseClick(w.findBar->nextButton(), Qt::LeftButton);
    EXPECT_EQ(shownCount(w), QStringLiteral("1 of 12"));
}

TEST(FindBarTest, MatchCaseAndWholeWordsFromTheOptionsMenu)
{
    BarsWindow w(3);
    findWithKeys(w, QStringLiteral("cat"));
    ASSERT_TRUE(w.waitForMatches());
    EXPECT_EQ(shownCount(w), QStringLiteral("1 of 12")); // Cat, cat, concat, cats on three pages
    EXPECT_EQ(w.findBar->optionsButton()->toolTip(), QStringLiteral("Find options"));

    std::vector<ChromeMenuItem> items = w.findBar->optionItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].title, QStringLiteral("Match Case"));
    EXPECT_FALSE(items[0].checked);
    items[0].action();
    ASSERT_TRUE(w.waitForSearch());
    EXPECT_EQ(shownCount(w), QStringLiteral("1 of 9"));
    EXPECT_EQ(w.findBar->optionsButton()->toolTip(), QStringLiteral("Find options: match case"));

    items = w.findBar->optionItems();
    EXPECT_TRUE(items[0].checked);
    EXPECT_EQ(items[1].title, QStringLiteral("Whole Words"));
    items[1].action();
    ASSERT_TRUE(w.waitForSearch());
    EXPECT_EQ(shownCount(w), QStringLiteral("1 of 3"));
    EXPECT_EQ(w.findBar->optionsButton()->toolTip(), QStringLiteral("Find options: match case, whole words"));
}

TEST(FindBarTest, NoMatchesAndBlankQueries)
{
    BarsWindow w(2);
    findWithKeys(w, QStringLiteral("zebra"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shownCount(w) == QStringLiteral("No matches"); }, 10000));
    EXPECT_FALSE(w.findBar->nextButton()->isEnabled());

    w.findBar->field()->selectAll();
    QTest::keyClicks(w.findBar->field(), QStringLiteral("   "));
    EXPECT_TRUE(testsupport::waitFor([&] { return shownCount(w).isEmpty(); }));
}

TEST(FindBarTest, CountTexts)
{
    EXPECT_EQ(FindBar::countText(QStringLiteral("  "), 0, 0, false), QString());
    EXPECT_EQ(FindBar::countText(QStringLiteral("a"), 0, 0, true), QString());
    EXPECT_EQ(FindBar::countText(QStringLiteral("a"), 0, 0, false), QStringLiteral("No matches"));
    EXPECT_EQ(FindBar::countText(QStringLiteral("a"), 0, 1, false), QStringLiteral("1 of 1"));
    EXPECT_EQ(FindBar::countText(QStringLiteral("a"), 2, 12345, true), QStringLiteral("3 of 12345"));
    EXPECT_EQ(FindBar::optionsText(false, true), QStringLiteral("Find options: whole words"));
}

TEST(FindBarTest, EscAndTheCloseButtonCloseTheBar)
{
    BarsWindow w(3);
    findWithKeys(w, QStringLiteral("page"));
    ASSERT_TRUE(w.waitForMatches());
    QTest::keyClick(w.findBar->field(), Qt::Key_Escape);
    EXPECT_FALSE(w.findBar->isVisible());
    EXPECT_TRUE(w.view->interactions().textSelection().highlights().empty());
    EXPECT_TRUE(w.view->hasFocus());

    findWithKeys(w, QStringLiteral("page"));
    ASSERT_TRUE(w.waitForMatches());
    QTest::mouseClick(w.findBar->closeButton(), Qt::LeftButton);
    EXPECT_FALSE(FindModel::of(w.model).presented());
    EXPECT_FALSE(w.findBar->isVisible());
}

// While a search runs the count's spinner turns; once the search ends, or
// is given up as the bar closes, the spinner is hidden and stops turning.
TEST(FindBarTest, TheSpinnerTurnsWhileTheSearchRunsAndStopsWhenItEnds)
{
    for (const bool closed : {false, true}) {
        SCOPED_TRACE(closed ? "the bar closed mid-search" : "the search ended");
        BarsWindow w(1500);
        auto* spinner = qobject_cast<Spinner*>(w.findBar->searchingIndicator());
        ASSERT_TRUE(spinner);
        FindModel& find = FindModel::of(w.model);
        bool turned = false, closedMidSearch = false;
        // The bar has heard first: as the search begins, the spinner turns.
        QObject::connect(&find, &FindModel::searchingChanged, spinner, [&](bool searching) {
            if (!searching) return;
            turned = spinner->isVisible() && spinner->isTurning();
            if (closed)
                QMetaObject::invokeMethod(
                    spinner,
                    [&] {
                        closedMidSearch = find.searching();
                        QTest::keyClick(w.findBar->field(), Qt::Key_Escape);
                    },
                    Qt::QueuedConnection);
        });
        findWithKeys(w, QStringLiteral("page"));
        ASSERT_TRUE(testsupport::waitFor([&] { return turned; }));
        ASSERT_TRUE(w.waitForSearch());
        EXPECT_EQ(closedMidSearch, closed);
        EXPECT_FALSE(spinner->isVisible());
        EXPECT_FALSE(spinner->isTurning());
        if (!closed) continue;
        // Asked for again, with nothing to search, the bar shows a still count.
        QTest::keyClick(w.view, Qt::Key_F, Qt::ControlModifier);
        QApplication::processEvents();
        ASSERT_TRUE(w.findBar->isVisible());
        EXPECT_FALSE(spinner->isTurning());
    }
}

TEST(FindBarTest, AskingAgainSelectsTheQuery)
{
    BarsWindow w(3);
    findWithKeys(w, QStringLiteral("page"));
    w.view->setFocus();
    QTest::keyClick(w.view, Qt::Key_F, Qt::ControlModifier);
    // The field takes the focus, then selects its text on the next turn.
    testsupport::waitFor([&] { return w.findBar->field()->hasSelectedText(); });
    EXPECT_TRUE(w.findBar->field()->hasFocus());
    EXPECT_EQ(w.findBar->field()->selectedText(), QStringLiteral("page"));
    QTest::keyClicks(w.findBar->field(), QStringLiteral("cat"));
    EXPECT_EQ(FindModel::of(w.model).query(), QStringLiteral("cat"));
}
