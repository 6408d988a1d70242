// The status bar: the page field, the zoom field and presets, the display-mode
// menu and the slideshow button, driven as the user does.
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/App/BarsWindow.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>

using namespace quarn;
using quarn::testing::BarsWindow;
using quarnkit::DisplayMode;
using quarnkit::ZoomPreset;

namespace {

// Types `text` over the page field's contents and presses Return.
void typePage(BarsWindow& w, const QString& text)
{
    QLineEdit* field = w.statusBar->pageField();
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
    (void)w.waitForReports();
}

void typeZoom(BarsWindow& w, const QString& text)
{
    QLineEdit* field = w.statusBar->zoomField();
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
    (void)w.waitForReports();
}

} // namespace

// ---------------------------------------------------------------- page field

TEST(StatusBarTest, ShowsTheCurrentPageAndTheTotal)
{
    BarsWindow w(12);
    EXPECT_EQ(w.statusBar->pageField()->text(), QStringLiteral("1"));
    EXPECT_EQ(w.statusBar->pageTotalLabel()->text(), QStringLiteral("of 12"));
    EXPECT_FALSE(w.statusBar->previousPageButton()->isEnabled());
    EXPECT_TRUE(w.statusBar->nextPageButton()->isEnabled());
    QTest::mouseClick(w.statusBar->nextPageButton(), Qt::LeftButton);
    testsupport::waitFor([&] { return w.statusBar->pageField()->text() == QStringLiteral("2"); });
    EXPECT_EQ(w.view->currentPageIndex(), 1);
    EXPECT_EQ(w.statusBar->pageField()->text(), QStringLiteral("2"));
    EXPECT_TRUE(w.statusBar->previousPageButton()->isEnabled());
}

TEST(StatusBarTest, APageNumberPastTheEndGoesToTheLastPage)
{
    BarsWindow w(12);
    typePage(w, QStringLiteral("999"));
    EXPECT_EQ(w.view->currentPageIndex(), 11);
    EXPECT_EQ(w.statusBar->pageField()->text(), QStringLiteral("12"));
    EXPECT_FALSE(w.statusBar->pageField()->hasFocus()); // the pages have the keyboard again
    EXPECT_FALSE(w.statusBar->nextPageButton()->isEnabled());
}

TEST(StatusBarTest, NumbersAreClampedAndSpacesIgnored)
{
    BarsWindow w(12);
    typePage(w, QStringLiteral(" 7 "));
    EXPECT_EQ(w.view->currentPageIndex(), 6);
    EXPECT_EQ(w.statusBar->pageField()->text(), QStringLiteral("7"));
    for (const char* first : {"0", "-4", "+1"}) {
        typePage(w, QStringLiteral("5"));
        typePage(w, QString::fromLatin1(first));
        EXPECT_EQ(w.view->currentPageIndex(), 0) << first;
        EXPECT_EQ(w.statusBar->pageField()->text(), QStringLiteral("1")) << first;
    }
}

TEST(StatusBarTest, TextThatIsNotANumberIsRefusedAndReset)
{
    BarsWindow w(12);
    typePage(w, QStringLiteral("3"));
    ASSERT_EQ(w.view->currentPageIndex(), 2);
    QSignalSpy refused(w.statusBar, &StatusBar::inputRefused);
    for (const char* bad : {"7a", "7.0", "seven", "", "99999999999999999999"}) {
        typePage(w, QString::fromLatin1(bad));
        EXPECT_EQ(w.view->currentPageIndex(), 2) << bad;
        EXPECT_EQ(w.statusBar->pageField()->text(), QStringLiteral("3")) << bad;
    }
    EXPECT_EQ(refused.count(), 5);
}

TEST(StatusBarTest, UncommittedTypingIsDroppedWhenTheFieldLosesTheFocus)
{
    BarsWindow w(12);
    QLineEdit* field = w.statusBar->pageField();
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("9"));
    w.view->goToPage(4); // scrolling meanwhile leaves the typing alone
    ASSERT_TRUE(testsupport::waitFor([&] { return w.model.pageIndex() == 4; }));
    EXPECT_EQ(field->text(), QStringLiteral("9"));
    w.view->setFocus();
    testsupport::waitFor([&] { return field->text() == QStringLiteral("5"); });
    EXPECT_EQ(field->text(), QStringLiteral("5"));
    EXPECT_EQ(w.view->currentPageIndex(), 4);
}

TEST(StatusBarTest, GoToPageFocusesThePageFieldWithItsNumberSelected)
{
    BarsWindow w(12);
    w.view->setFocus();
    QTest::keyClick(w.view, Qt::Key_G, Qt::ControlModifier | Qt::AltModifier);
    // The field takes the focus, then selects its number on the next turn.
    testsupport::waitFor([&] { return w.statusBar->pageField()->hasSelectedText(); });
    EXPECT_EQ(w.model.pageFieldToken(), 1);
    EXPECT_TRUE(w.statusBar->pageField()->hasFocus());
    EXPECT_EQ(w.statusBar->pageField()->selectedText(), QStringLiteral("1"));
}

TEST(StatusBarTest, WithoutPagesThePageGroupKeepsItsRoomButShowsNothing)
{
    BarsWindow w(3);
    w.statusBar->setPageTotal(0);
    EXPECT_FALSE(w.statusBar->pageGroupShown());
    EXPECT_FALSE(w.statusBar->pageField()->isVisible());
    EXPECT_TRUE(w.statusBar->pageField()->text().isEmpty());
    QSignalSpy refused(w.statusBar, &StatusBar::inputRefused);
    w.statusBar->commitPage(); // nothing at all, not even the beep
    EXPECT_EQ(refused.count(), 0);
}

// ---------------------------------------------------------------- zoom

TEST(StatusBarTest, TypedZoomsAndRefusals)
{
    BarsWindow w(3);
    typeZoom(w, QStringLiteral("150"));
    EXPECT_NEAR(w.model.zoom(), 1.5, 0.001);
    EXPECT_EQ(w.statusBar->zoomField()->text(), QStringLiteral("150%"));
    EXPECT_FALSE(w.model.zoomFit());
    typeZoom(w, QStringLiteral("0.5x"));
    EXPECT_NEAR(w.model.zoom(), 0.5, 0.001);
    EXPECT_EQ(w.statusBar->zoomField()->text(), QStringLiteral("50%"));

    QSignalSpy refused(w.statusBar, &StatusBar::inputRefused);
    typeZoom(w, QStringLiteral("-20"));
    typeZoom(w, QStringLiteral("zoom"));
    EXPECT_EQ(refused.count(), 2);
    EXPECT_EQ(w.statusBar->zoomField()->text(), QStringLiteral("50%"));
    EXPECT_NEAR(w.model.zoom(), 0.5, 0.001);
}

TEST(StatusBarTest, ZoomButtonsStopAtTheLimits)
{
    BarsWindow w(3);
    w.model.setZoom(0.05);
    (void)w.waitForReports();
    EXPECT_FALSE(w.statusBar->zoomOutButton()->isEnabled());
    EXPECT_TRUE(w.statusBar->zoomInButton()->isEnabled());
    w.model.setZoom(10);
    (void)w.waitForReports();
    EXPECT_TRUE(w.statusBar->zoomOutButton()->isEnabled());
    EXPECT_FALSE(w.statusBar->zoomInButton()->isEnabled());
    EXPECT_EQ(w.statusBar->zoomField()->text(), QStringLiteral("1000%"));
}

TEST(StatusBarTest, ZoomPresetsAreCheckedOnlyWithoutAFit)
{
    BarsWindow w(3);
    w.model.fitPage();
    (void)w.waitForReports();
    std::vector<ChromeMenuItem> items = w.statusBar->zoomPresetItems();
    ASSERT_EQ(items.size(), 10u); // seven percentages, a separator, two fits
    EXPECT_EQ(items[0].title, QStringLiteral("50%"));
    EXPECT_EQ(items[6].title, QStringLiteral("400%"));
    EXPECT_TRUE(items[7].isSeparator());
    EXPECT_EQ(items[8].title, QStringLiteral("Fit Page"));
    EXPECT_TRUE(items[8].checked);
    EXPECT_EQ(items[8].shortcutText(), QKeySequence(QStringLiteral("Ctrl+9")).toString(QKeySequence::NativeText));
    for (int i = 0; i < 7; ++i) EXPECT_FALSE(items[size_t(i)].checked);

    items[2].action(); // 100%
    (void)w.waitForReports();
    items = w.statusBar->zoomPresetItems();
    EXPECT_TRUE(items[2].checked);
    EXPECT_FALSE(items[8].checked);
    EXPECT_FALSE(items[9].checked);
    EXPECT_EQ(w.statusBar->zoomField()->text(), QStringLiteral("100%"));
}

// ---------------------------------------------------------------- display modes and slideshow

TEST(StatusBarTest, TheDisplayModeMenuChoosesAndShowsTheMode)
{
    BarsWindow w(6);
    std::vector<ChromeMenuItem> items = w.statusBar->displayModeItems();
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[2].title, QStringLiteral("Two Pages"));
    EXPECT_EQ(items[2].key, QStringLiteral("3"));
    items[2].action();
    EXPECT_EQ(w.model.displayMode(), DisplayMode::twoPages);
    EXPECT_EQ(w.statusBar->displayModeButton()->toolTip(), QStringLiteral("View: Two Pages"));
    items = w.statusBar->displayModeItems();
    EXPECT_TRUE(items[2].checked);
    EXPECT_TRUE(items[5].enabled); // Show Cover Separately, in a spread mode
    items[5].action();
    EXPECT_TRUE(w.model.coverSeparately());

    items[0].action();
    items = w.statusBar->displayModeItems();
    EXPECT_FALSE(items[5].enabled); // single page: disabled, yet still checked
    EXPECT_TRUE(items[5].checked);
}

TEST(StatusBarTest, TheMenuButtonsOpenTheirMenus)
{
    BarsWindow w(3);
    QSignalSpy shown(w.statusBar->displayModeButton(), &ChromeMenuButton::menuShown);
    QTest::mouseClick(w.statusBar->displayModeButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() == 1; }, 2000));
    QMenu* menu = w.statusBar->displayModeButton()->openMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions().size(), 6);
    EXPECT_TRUE(menu->actions().at(1)->text().startsWith(QStringLiteral("Continuous")));
    menu->close();
}

TEST(StatusBarTest, TheSlideshowButtonAsksForTheSlideshow)
{
    BarsWindow w(3);
    QSignalSpy asked(w.statusBar, &StatusBar::slideshowRequested);
    QTest::mouseClick(w.statusBar->slideshowButton(), Qt::LeftButton);
    EXPECT_EQ(asked.count(), 1);
    EXPECT_EQ(w.statusBar->slideshowButton()->toolTip(), QStringLiteral("Slideshow (Ctrl+Shift+F)"));
    EXPECT_EQ(w.statusBar->zoomOutButton()->toolTip(), QStringLiteral("Zoom out (Ctrl+-)"));
}

TEST(StatusBarTest, EverySymbolOfTheBarsIsDrawn)
{
    registerViewerBarSymbols();
    for (const char* name : {"minus", "plus", "chevron.down", "chevron.up", "chevron.left", "chevron.right",
                             "play.fill", "xmark", "rectangle.portrait", "rectangle.split.1x2", "rectangle.split.2x1",
                             "rectangle.split.2x2", "square.and.arrow.up", "info.circle"}) {
        EXPECT_TRUE(hasSymbol(QString::fromLatin1(name))) << name;
        // A drawing that parses covers some pixels.
        const QImage image = symbolPixmap(QString::fromLatin1(name), {24, 24}, Qt::white).toImage();
        int covered = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) covered += qAlpha(image.pixel(x, y)) > 0;
        EXPECT_GT(covered, 10) << name;
    }
}
