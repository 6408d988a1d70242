#include "Quarn/Design/ChromeMenuButton.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QEnterEvent>
#include <QMenu>
#include <QPainter>
#include <QTest>

using namespace quarn;

namespace {

// A button on screen whose items come from `items` at every click.
struct MenuFixture {
    std::vector<ChromeMenuItem> items;
    std::vector<ChromeMenuButton::LabelState> labelStates;
    ChromeMenuButton button{
        QStringLiteral("View: Continuous"), [this] { return items; },
        [this](QPainter&, const QRectF&, const ChromeMenuButton::LabelState& state) { labelStates.push_back(state); }};

    MenuFixture()
    {
        button.setFixedSize(38, 26);
        button.move(100, 100);
        button.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&button));
    }
    ~MenuFixture()
    {
        if (QMenu* menu = button.openMenu()) menu->close();
    }

    QMenu* click()
    {
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(19, 13));
        return button.openMenu();
    }
};

std::vector<QAction*> actionsOf(QMenu* menu)
{
    const QList<QAction*> actions = menu->actions();
    return {actions.begin(), actions.end()};
}

} // namespace

TEST(ChromeMenuItem, ShowsItsShortcutOnlyWithAKey)
{
    EXPECT_EQ((ChromeMenuItem{"Find", false, true, "F", Qt::ControlModifier, [] {}}).shortcutText(), "Ctrl+F");
    EXPECT_EQ((ChromeMenuItem{"Zoom In", false, true, "=", Qt::ControlModifier, [] {}}).shortcutText(), "Ctrl+=");
    EXPECT_EQ(
        (ChromeMenuItem{"Fit Page", false, true, "", Qt::ControlModifier | Qt::ShiftModifier, [] {}}).shortcutText(),
        "");
    EXPECT_EQ((ChromeMenuItem{"Next", false, true, "→", Qt::AltModifier, [] {}}).shortcutText(), "Alt+→");
    EXPECT_TRUE(ChromeMenuItem::separator().isSeparator());
}

TEST(ChromeMenuButton, OpensTheItemsBelowTheButton)
{
    MenuFixture f;
    int single = 0;
    f.items = {{"Single Page", false, true, "1", Qt::ControlModifier, [&] { ++single; }},
               {"Continuous", true, true, "2", Qt::ControlModifier, [] {}},
               ChromeMenuItem{"ignored", true, false, "X", Qt::ControlModifier, {}},
               {"Fill & Sign", false, false, "", Qt::ControlModifier, [] {}}};
    QMenu* menu = f.click();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(QApplication::activePopupWidget(), menu);
    // Top left corner 5 below the button's lower left corner.
    EXPECT_EQ(menu->pos(), f.button.mapToGlobal(QPoint(0, 26 + 5)));

    const auto actions = actionsOf(menu);
    ASSERT_EQ(actions.size(), 4u);
    // A reader hears the name, and the key apart from it.
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(menu)->child(0);
    EXPECT_EQ(item->text(QAccessible::Name), "Single Page");
    EXPECT_EQ(item->text(QAccessible::Accelerator), "Ctrl+1");
    EXPECT_FALSE(actions[0]->isChecked());
    EXPECT_FALSE(actions[0]->isCheckable()); // no empty check box
    EXPECT_EQ(actions[1]->text(), "Continuous");
    EXPECT_EQ(actions[1]->shortcut().toString(), "Ctrl+2");
    EXPECT_TRUE(actions[1]->isChecked());
    // A separator shows none of its fields.
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_FALSE(actions[2]->isChecked());
    // No mnemonic, no shortcut without a key, dimmed when disabled.
    EXPECT_EQ(actions[3]->text(), "Fill && Sign");
    EXPECT_FALSE(actions[3]->isEnabled());
    // The menu only shows keys; it binds none.
    QTest::keyClick(menu, Qt::Key_1, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(single, 0);
}

TEST(ChromeMenuButton, ChoosingAnItemRunsItOnceAfterTheMenuCloses)
{
    MenuFixture f;
    int single = 0, disabled = 0;
    f.items = {{"Single Page", false, true, "", {}, [&] { ++single; }},
               {"Two Pages", false, false, "", {}, [&] { ++disabled; }}};
    QMenu* menu = f.click();
    ASSERT_NE(menu, nullptr);
    const auto actions = actionsOf(menu);
    ASSERT_EQ(actions.size(), 2u);

    // A disabled item cannot be chosen although its closure is there.
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(actions[1]).center());
    QCoreApplication::processEvents();
    EXPECT_EQ(disabled, 0);
    if (!f.button.openMenu()) menu = f.click();
    ASSERT_NE(menu, nullptr);

    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions().at(0)).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return single == 1; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.button.openMenu() == nullptr; })); // the menu is gone
    QCoreApplication::processEvents();
    EXPECT_EQ(single, 1);
}

TEST(ChromeMenuButton, EachClickReadsTheItemsAnew)
{
    MenuFixture f;
    int reads = 0;
    ChromeMenuButton counting(
        QStringLiteral("Sort by"),
        [&] {
            ++reads;
            return std::vector<ChromeMenuItem>{{reads == 1 ? "Name" : "Date", reads > 1, true, "", {}, [] {}}};
        },
        {});
    counting.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&counting));
    QTest::mouseClick(&counting, Qt::LeftButton);
    QMenu* first = counting.openMenu();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->actions().at(0)->text(), "Name");
    first->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return counting.openMenu() == nullptr; }));

    QTest::mouseClick(&counting, Qt::LeftButton);
    QMenu* second = counting.openMenu();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->actions().at(0)->text(), "Date");
    EXPECT_TRUE(second->actions().at(0)->isChecked());
    EXPECT_EQ(reads, 2);
    second->close();
}

TEST(ChromeMenuButton, ShowsNothingWithoutAnAnchorOnScreen)
{
    int reads = 0;
    ChromeMenuButton hidden(QStringLiteral("Options"),
                            [&] {
                                ++reads;
                                return std::vector<ChromeMenuItem>{{"Match Case", false, true, "", {}, [] {}}};
                            },
                            {});
    hidden.click(); // never shown
    EXPECT_EQ(hidden.openMenu(), nullptr);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(ChromeMenuButton::showChromeMenu({{"A", false, true, "", {}, [] {}}}, nullptr), nullptr);
}

TEST(ChromeMenuButton, HelpAndHoverReachTheLabel)
{
    MenuFixture f;
    EXPECT_EQ(f.button.toolTip(), "View: Continuous");
    EXPECT_EQ(f.button.accessibleName(), "View: Continuous");
    EXPECT_EQ(f.button.focusPolicy(), Qt::TabFocus);

    f.labelStates.clear();
    f.button.repaint();
    ASSERT_FALSE(f.labelStates.empty());
    EXPECT_FALSE(f.labelStates.back().hover);

    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), f.button.mapToGlobal(QPointF(1, 1)));
    QApplication::sendEvent(&f.button, &enter);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.button.hoverAmount() == 1.0; }));
    f.button.repaint();
    EXPECT_TRUE(f.labelStates.back().hover);
    EXPECT_DOUBLE_EQ(f.labelStates.back().hoverAmount, 1.0);

    // Disabled: no hover look, and clicks open nothing.
    f.button.setEnabled(false);
    f.button.repaint();
    EXPECT_FALSE(f.labelStates.back().hover);
    EXPECT_FALSE(f.labelStates.back().enabled);
    f.items = {{"Single Page", false, true, "", {}, [] {}}};
    EXPECT_EQ(f.click(), nullptr);
}
