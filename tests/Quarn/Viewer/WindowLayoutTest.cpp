// How a document window arranges itself around the pages, as a user sees it.
#include "Quarn/Design/ChromeMenuButton.h"
#include "Quarn/Find/FindModel.h"
#include "Quarn/Design/ChromeSegmented.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Markup/Inspector.h"
#include "Quarn/Markup/MarksList.h"
#include "Quarn/Markup/ToolPalette.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/Find/FindBar.h"
#include "Quarn/Viewer/StatusBar.h"
#include "QuarnKit/Shell/Design.h"
#include "Quarn/App/ViewerScreen.h"
#include "Quarn/App/ViewerScreenHarness.h"

#include <QUndoStack> // before the view header

#include "Quarn/Viewer/QuarnPDFView.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <functional>

using namespace quarn;
using namespace viewertest;
using quarnkit::QuarnDocument;

namespace {

// Where a point of page 1 stands in the window.
QPoint inWindow(ViewerScreen& screen, platform::PdfPoint point)
{
    QuarnPDFView* view = screen.pageViewHost()->view();
    return view->viewport()->mapTo(&screen, view->placement().convertFromPage(point, 0).toPoint());
}

} // namespace

TEST(WindowLayout, AtAChosenZoomThePageStaysUnderThePointerWhenTheInspectorComesAndGoes)
{
    const struct {
        const char* name;
        QByteArray pdf;
        QSize window;
    } cases[] = {
        {"a page narrower than the view", testsupport::makeTextPdf(3), QSize(1180, 800)},
        {"a page wider than the view", testsupport::makeTextPdf(3), QSize(900, 1400)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Settings settings;
        auto document = QuarnDocument::fromData(c.pdf);
        auto screen = showScreen(document.get(), {}, settings);
        screen->resize(c.window);
        auto* inspector = screen->findChild<InspectorPane*>();
        ASSERT_NE(inspector, nullptr);
        ASSERT_TRUE(waitForPages(*screen));
        // The scale the fit chose, now as a zoom of its own.
        screen->model().setZoom(screen->pageViewHost()->view()->scaleFactor());
        ASSERT_TRUE(waitForPages(*screen));
        const platform::PdfPoint word{100, 700};
        const QPoint before = inWindow(*screen, word);
        const QuarnPDFView* view = screen->pageViewHost()->view();
        const int wide = view->width();

        // The pen key, sent to the window: the inspector opens beside the pages.
        QTest::keyClick(screen->windowHandle(), 'p');
        ASSERT_TRUE(testsupport::waitFor([&] { return inspector->isVisible() && view->width() < wide; }));
        ASSERT_TRUE(waitForPages(*screen));
        EXPECT_EQ(inWindow(*screen, word), before);

        // Back to the select tool: it closes, and the page is still where it was.
        QTest::keyClick(screen->windowHandle(), 'v');
        ASSERT_TRUE(testsupport::waitFor([&] { return !inspector->isVisible() && view->width() == wide; }));
        ASSERT_TRUE(waitForPages(*screen));
        EXPECT_EQ(inWindow(*screen, word), before);
    }
}

TEST(WindowLayout, AFitFollowsTheInspectorAndAChosenZoomScrollsSideways)
{
    Settings settings;
    auto document = QuarnDocument::fromData(testsupport::makeTextPdf(3));
    auto screen = showScreen(document.get(), {}, settings);
    // Tall and narrow: fit page is bound by the view's width.
    screen->resize(700, 1400);
    ASSERT_TRUE(waitForPages(*screen));
    ASSERT_EQ(screen->model().zoomFit(), quarnkit::ZoomPreset::fitPage);
    QuarnPDFView* view = screen->pageViewHost()->view();
    auto* inspector = screen->findChild<InspectorPane*>();
    ASSERT_NE(inspector, nullptr);
    const auto pageLeft = [&] { return view->placement().pageRect(0).left(); };
    const auto pageRight = [&] { return view->placement().pageRect(0).right(); };
    const auto wholeWidth = [&] { return pageLeft() >= 0 && pageRight() <= view->viewport()->width(); };
    ASSERT_TRUE(wholeWidth());
    const int wide = view->width();

    // The pen key, sent to the window: the inspector opens and the page shrinks to the narrower view.
    QTest::keyClick(screen->windowHandle(), 'p');
    ASSERT_TRUE(testsupport::waitFor([&] { return inspector->isVisible() && view->width() < wide && wholeWidth(); }));
    ASSERT_TRUE(waitForPages(*screen));
    EXPECT_TRUE(wholeWidth()) << pageLeft() << " " << pageRight() << " " << view->viewport()->width();
    EXPECT_EQ(screen->model().zoomFit(), quarnkit::ZoomPreset::fitPage);
    // And grows back when it closes.
    const double narrowScale = view->scaleFactor();
    QTest::keyClick(screen->windowHandle(), 'v');
    ASSERT_TRUE(testsupport::waitFor([&] { return !inspector->isVisible() && view->scaleFactor() > narrowScale; }));
    ASSERT_TRUE(waitForPages(*screen));
    EXPECT_TRUE(wholeWidth());

    // At the fit's scale chosen as a zoom, the page stays put and the rest of it is a scroll away.
    screen->model().setZoom(view->scaleFactor());
    ASSERT_TRUE(waitForPages(*screen));
    const double left = pageLeft();
    QTest::keyClick(screen->windowHandle(), 'p');
    ASSERT_TRUE(testsupport::waitFor([&] { return inspector->isVisible() && view->width() < wide; }));
    ASSERT_TRUE(waitForPages(*screen));
    EXPECT_EQ(pageLeft(), left);
    ASSERT_GT(pageRight(), view->viewport()->width()); // cut off on the right
    EXPECT_GT(view->horizontalScrollBar()->maximum(), view->horizontalScrollBar()->minimum());
    // Shift and the wheel, sent to the window over the pages, scroll to the page's right edge.
    const QPoint at = view->viewport()->mapTo(screen.get(), view->viewport()->rect().center());
    for (int notch = 0; notch < 40 && pageRight() > view->viewport()->width(); ++notch) {
        QWheelEvent wheel(at, screen->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::ShiftModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(screen->windowHandle(), &wheel);
    }
    EXPECT_LE(pageRight(), view->viewport()->width());
    EXPECT_GE(pageLeft(), view->viewport()->width() - view->placement().contentPixels().width() - 1);
}

TEST(WindowLayout, TheFindBarOpensUnderTheToolbarAboveThePages)
{
    Settings settings;
    auto document = QuarnDocument::fromData(testsupport::makeTextPdf(2));
    auto screen = showScreen(document.get(), {}, settings);
    ASSERT_NE(screen->findBar(), nullptr);
    EXPECT_FALSE(screen->findBar()->isVisible());
    QTest::keyClick(screen->windowHandle(), Qt::Key_F, Qt::ControlModifier);
    if (!screen->findBar()->isVisible()) FindModel::of(screen->model()).show(); // no menu bar without a window
    ASSERT_TRUE(testsupport::waitFor([&] { return screen->findBar()->isVisible(); }));
    QApplication::processEvents();
    const auto top = [&](QWidget* w) { return w->mapTo(screen.get(), QPoint(0, 0)).y(); };
    // Toolbar (48) and its hairline above; the pages and the status bar below.
    EXPECT_EQ(top(screen->findBar()), 49);
    EXPECT_GE(top(screen->pageViewHost()), top(screen->findBar()) + screen->findBar()->height());
    EXPECT_GT(top(screen->statusBar()), top(screen->pageViewHost()));
    // Its hairline is its bottom row.
    const QImage bar = screen->findBar()->grab().toImage();
    EXPECT_NE(bar.pixel(bar.width() / 2, bar.height() - 1), bar.pixel(bar.width() / 2, bar.height() - 3));
}

TEST(WindowLayout, LockedAndEmptyWindowsShowOnlyTheirMessage)
{
    Settings settings;
    const struct {
        const char* name;
        std::function<std::unique_ptr<QuarnDocument>()> open;
        ViewerScreen::Content content;
    } cases[] = {
        {"locked", [] { return QuarnDocument::open(corpus("libreoffice-writer-password.pdf")); },
         ViewerScreen::Content::locked},
        {"no pages", [] { return std::make_unique<QuarnDocument>(platform::PdfDocument::createEmpty()); },
         ViewerScreen::Content::noPages},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto document = c.open();
        auto screen = showScreen(document.get(), {}, settings);
        ASSERT_EQ(screen->content(), c.content);
        QApplication::processEvents();
        // No status bar with controls that do nothing, no marks column, no toolbar.
        EXPECT_EQ(screen->statusBar(), nullptr);
        EXPECT_EQ(screen->findBar(), nullptr);
        for (QWidget* child : screen->findChildren<QWidget*>()) {
            if (child->isVisible()) {
                EXPECT_FALSE(qobject_cast<QLabel*>(child)
                             && qobject_cast<QLabel*>(child)->text().startsWith("No marks yet"));
            }
        }
        EXPECT_TRUE(screen->findChildren<StatusBar*>().empty());
        EXPECT_TRUE(screen->findChildren<MarksList*>().empty());
    }
}

TEST(WindowLayout, ScreenReadersHearWhichToolSwatchAndSegmentIsChosen)
{
    Settings settings;
    auto document = QuarnDocument::fromData(testsupport::makeTextPdf(1));
    auto screen = showScreen(document.get(), {}, settings);
    const auto checked = [](QWidget* widget) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
        return face && face->state().checkable && face->state().checked;
    };
    QApplication::setActiveWindow(screen.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(screen.get()));
    const auto buttonNamed = [&](const QString& name) -> QAbstractButton* {
        for (auto* button : screen->findChildren<QAbstractButton*>())
            if (button->accessibleName().startsWith(name) && button->isVisible()) return button;
        return nullptr;
    };
    QTest::keyClick(screen->windowHandle(), 'p');
    QAbstractButton* pen = buttonNamed("Pen");
    QAbstractButton* select = buttonNamed("Select");
    ASSERT_TRUE(pen && select);
    EXPECT_TRUE(testsupport::waitFor([&] { return checked(pen); }));
    EXPECT_FALSE(checked(select));
    // A click on the chosen tool leaves it chosen, for the reader too.
    QTest::mouseClick(pen, Qt::LeftButton);
    EXPECT_TRUE(checked(pen));
    // A tool of a group: its part of the group button.
    QTest::keyClick(screen->windowHandle(), 'h');
    EXPECT_TRUE(testsupport::waitFor([&] { return !checked(pen); }));
    int toolsChosen = 0;
    for (auto* part : screen->findChild<ToolPalette*>()->findChildren<QAbstractButton*>()) toolsChosen += checked(part);
    EXPECT_EQ(toolsChosen, 1); // the highlighter's part of its group
    QTest::keyClick(screen->windowHandle(), 'p');
    ASSERT_TRUE(testsupport::waitFor([&] { return checked(pen); }));

    // The inspector's swatches: the chosen colour, and after the second key the second one.
    auto* inspector = screen->findChild<InspectorPane*>();
    ASSERT_TRUE(testsupport::waitFor([&] { return inspector->isVisible(); }));
    QTest::keyClick(screen->windowHandle(), '2');
    ASSERT_TRUE(testsupport::waitFor([&] { return checked(inspector->swatches().at(1)); }));
    int chosen = 0;
    for (QWidget* swatch : inspector->swatches()) chosen += checked(swatch);
    EXPECT_EQ(chosen, 1);

    ChromeSegmented segmented({"Sans", "Serif", "Mono"}, 1);
    segmented.show();
    std::vector<bool> states;
    for (auto* segment : segmented.findChildren<QAbstractButton*>()) states.push_back(checked(segment));
    EXPECT_EQ(states, (std::vector<bool>{false, true, false}));
}

TEST(WindowLayout, TheStatusBarsMenusOpenWithinTheWindow)
{
    Settings settings;
    auto document = QuarnDocument::fromData(testsupport::makeTextPdf(2));
    auto screen = showScreen(document.get(), {}, settings);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(screen.get()));
    for (ChromeMenuButton* button : {screen->statusBar()->presetsButton(), screen->statusBar()->displayModeButton()}) {
        QTest::mouseClick(button, Qt::LeftButton);
        QMenu* menu = button->openMenu();
        ASSERT_NE(menu, nullptr);
        ASSERT_TRUE(testsupport::waitFor([&] { return menu->isVisible(); }));
        // Above the button, inside the window's frame.
        EXPECT_LE(menu->frameGeometry().bottom(), button->mapToGlobal(QPoint(0, 0)).y());
        EXPECT_GE(menu->frameGeometry().top(), screen->frameGeometry().top());
        menu->close();
        QApplication::processEvents();
    }
}

TEST(WindowLayout, ClicksOnTheChromeLeaveTheKeysWithThePage)
{
    Settings settings;
    auto document = QuarnDocument::fromData(testsupport::makeTextPdf(2));
    auto screen = showScreen(document.get(), {}, settings);
    QApplication::setActiveWindow(screen.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(screen.get()));
    QuarnPDFView* view = screen->pageViewHost()->view();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QTest::keyClick(screen->windowHandle(), 'p');
    auto* inspector = screen->findChild<InspectorPane*>();
    ASSERT_TRUE(testsupport::waitFor([&] { return inspector->isVisible(); }));
    const auto pageHasTheKeys = [&] {
        QWidget* focus = QApplication::focusWidget();
        return focus && (focus == view || view->isAncestorOf(focus));
    };
    const auto sliderClick = [&] {
        QSlider* slider = inspector->strokeSlider();
        QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() * 3 / 4, slider->height() / 2));
    };
    const std::vector<std::pair<const char*, std::function<void()>>> clicks = {
        {"a swatch", [&] { QTest::mouseClick(inspector->swatches().at(2), Qt::LeftButton); }},
        {"the stroke slider", sliderClick},
        {"a tool button",
         [&] {
             for (auto* button : screen->findChildren<QAbstractButton*>())
                 if (button->accessibleName() == "Text (T)") QTest::mouseClick(button, Qt::LeftButton);
         }},
        {"the sidebar button",
         [&] {
             for (auto* button : screen->findChildren<QAbstractButton*>())
                 if (button->accessibleName().startsWith("Sidebar")) QTest::mouseClick(button, Qt::LeftButton);
         }},
    };
    for (const auto& [what, click] : clicks) {
        click();
        QApplication::processEvents();
        EXPECT_TRUE(pageHasTheKeys()) << what << ": "
                                      << (QApplication::focusWidget()
                                              ? QApplication::focusWidget()->metaObject()->className()
                                              : "none");
    }
    // The tool keys still reach the page: V for Select.
    QTest::keyClick(screen->windowHandle(), 'v');
    EXPECT_TRUE(testsupport::waitFor([&] { return !inspector->isVisible(); }));
}
