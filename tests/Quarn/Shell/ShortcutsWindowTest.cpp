#include "Quarn/Shell/ShortcutsWindow.h"

#include "Platform/UserDefaults.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Design/SmallMarks.h"

#include "support/TestSupport.h"
#include "Quarn/Design/UnnamedControls.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>

using namespace quarn;

namespace {

QStringList titlesOf(const std::vector<quarnkit::ShortcutGroup>& groups)
{
    QStringList titles;
    for (const auto& g : groups) titles.append(g.title);
    return titles;
}

// The texts the user sees in the list, top to bottom, left column first.
QStringList shownTexts(ShortcutsView& view)
{
    auto* scroll = view.findChild<QScrollArea*>();
    QStringList texts;
    for (QLabel* label : scroll->widget()->findChildren<QLabel*>())
        if (label->isVisibleTo(&view)) texts.append(label->text());
    return texts;
}

// A shortcuts window over defaults of its own.
struct WindowFixture {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath(QStringLiteral("defaults.json"))};
    ShortcutsWindow windows{defaults};

    ShortcutsView& shown()
    {
        windows.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(windows.window()));
        return *windows.window();
    }
};

} // namespace

TEST(ShortcutColumns, BalanceTheWholeCatalog)
{
    const ShortcutColumns columns = dealShortcutColumns(quarnkit::ShortcutCatalog::groups());
    EXPECT_EQ(titlesOf(columns.left), QStringList({"Tools", "Navigation", "Zoom", "Find", "Fill and sign", "File"}));
    EXPECT_EQ(titlesOf(columns.right), QStringList({"Colors", "Marks", "View", "Pages", "Slideshow"}));

    // One group stays left; the second of two always goes right.
    const auto zoom = quarnkit::ShortcutCatalog::filtered(QStringLiteral("zoom"));
    EXPECT_EQ(titlesOf(dealShortcutColumns(zoom).left), QStringList({"Zoom"}));
    EXPECT_TRUE(dealShortcutColumns(zoom).right.empty());
    std::vector<quarnkit::ShortcutGroup> two{{"A", {}}, {"B", {}}};
    EXPECT_EQ(titlesOf(dealShortcutColumns(two).right), QStringList({"B"}));
}

TEST(ShortcutsWindow, SearchNarrowsTheList)
{
    WindowFixture f;
    ShortcutsView& view = f.shown();
    EXPECT_EQ(view.size(), QSize(780, 620));
    EXPECT_EQ(view.windowTitle(), "Keyboard Shortcuts");
    EXPECT_EQ(view.searchField()->placeholderText(), "Search shortcuts");
    const QStringList all = shownTexts(view);
    EXPECT_TRUE(all.contains("Tools"));
    EXPECT_TRUE(all.contains("Slideshow"));
    EXPECT_TRUE(all.contains("Graphite"));

    QTest::keyClicks(view.searchField(), QStringLiteral("zoom"));
    EXPECT_EQ(shownTexts(view), QStringList({"Zoom", "Zoom in", "Zoom out", "Actual size", "Fit page", "Fit width"}));
    EXPECT_TRUE(view.columns().right.empty());
    EXPECT_TRUE(view.emptyText().isEmpty());

    // Row titles are searched in every group; group titles bring the whole group.
    view.searchField()->clear();
    QTest::keyClicks(view.searchField(), QStringLiteral("SLIDESHOW"));
    const QStringList slideshow = shownTexts(view);
    EXPECT_EQ(titlesOf(view.columns().left), QStringList({"View"}));
    EXPECT_EQ(titlesOf(view.columns().right), QStringList({"Slideshow"}));
    EXPECT_TRUE(slideshow.contains("Exit"));
    EXPECT_FALSE(slideshow.contains("Single page"));

    // Spaces only: the whole catalog.
    view.searchField()->setText(QStringLiteral("   "));
    EXPECT_EQ(shownTexts(view), all);
}

TEST(ShortcutsWindow, SaysWhenNothingMatches)
{
    WindowFixture f;
    ShortcutsView& view = f.shown();
    // Keys are not searched.
    QTest::keyClicks(view.searchField(), QStringLiteral("  Ctrl+Q "));
    EXPECT_EQ(view.emptyText(), "No shortcuts match “Ctrl+Q”.");
    EXPECT_EQ(shownTexts(view), QStringList({"No shortcuts match “Ctrl+Q”."}));
    EXPECT_TRUE(view.columns().left.empty());
}

TEST(ShortcutsWindow, RowsShowTheirKeysAndSwatches)
{
    WindowFixture f;
    ShortcutsView& view = f.shown();
    QTest::keyClicks(view.searchField(), QStringLiteral("Next page"));
    // Navigation and Slideshow: alternatives with "or" between them.
    const QStringList texts = shownTexts(view);
    EXPECT_EQ(texts.count("Next page"), 2);
    EXPECT_EQ(texts.count("or"), 4);
    QWidget* row = nullptr;
    for (QWidget* w : view.findChildren<QWidget*>())
        if (w->accessibleName().startsWith(QStringLiteral("Next page: →"))) row = w;
    ASSERT_NE(row, nullptr);
    EXPECT_GE(row->height(), 26);
    EXPECT_GE(row->findChildren<KeyCap*>().size(), 3);

    view.searchField()->setText(QStringLiteral("ink"));
    const auto dots = view.findChildren<InkDot*>();
    ASSERT_EQ(dots.size(), 1);
    EXPECT_EQ(dots.front()->size(), QSize(10, 10));
    EXPECT_EQ(shownTexts(view), QStringList({"Colors", "Ink"}));
}

TEST(ShortcutsWindow, OneWindowHiddenOnCloseWithItsQuery)
{
    WindowFixture f;
    ShortcutsView& view = f.shown();
    QTest::keyClicks(view.searchField(), QStringLiteral("nudge"));
    view.close();
    EXPECT_FALSE(view.isVisible());
    f.windows.show(); // the menu item chosen again
    EXPECT_EQ(f.windows.window(), &view);
    EXPECT_TRUE(view.isVisible());
    EXPECT_EQ(view.query(), "nudge");
    EXPECT_EQ(shownTexts(view), QStringList({"Marks", "Nudge", "Nudge 10 points"}));
    f.windows.show();
    EXPECT_EQ(f.windows.window(), &view);
}

// Shown again, the keys are in the search with its last words selected:
// what the user types replaces them.
TEST(ShortcutsWindow, ShownAgainTypingReplacesTheLastSearch)
{
    WindowFixture f;
    for (const QString& words : {QStringLiteral("nudge"), QStringLiteral("zoom")}) {
        ShortcutsView& view = f.shown();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
        for (const QChar key : words) QTest::keyClick(view.windowHandle(), key.toLatin1());
        EXPECT_EQ(view.query(), words);
        view.close();
    }
    EXPECT_EQ(shownTexts(*f.windows.window()).first(), "Zoom");
}

// Typed into the window, "sign" finds the Fill and sign group with the keys
// the Sign menu answers to.
TEST(ShortcutsWindow, SearchingForSignShowsTheFillAndSignKeys)
{
    WindowFixture f;
    ShortcutsView& view = f.shown();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    for (const char key : std::string("sign")) QTest::keyClick(view.windowHandle(), key);
    EXPECT_EQ(shownTexts(view), QStringList({"Fill and sign", "Add signature", "Insert date", "Insert checkmark"}));
    QStringList rows;
    for (QWidget* w : view.findChildren<QWidget*>())
        if (w->isVisibleTo(&view) && !w->findChildren<KeyCap*>().isEmpty() && w->accessibleName().contains(':'))
            rows << w->accessibleName();
    EXPECT_EQ(rows, QStringList({"Add signature: Ctrl Alt Shift S", "Insert date: Ctrl Alt Shift T",
                                 "Insert checkmark: Ctrl Alt Shift K"}));
}

// Among the application's windows a screen reader finds it by its title;
// the group titles are headings, and Tab goes from the search to the rows,
// one stop, and back; the arrows go through the rows, each read as one
// sentence. Nothing unnamed is a stop.
TEST(ShortcutsWindow, AScreenReaderMeetsAWindowNamedKeyboardShortcuts)
{
    WindowFixture f;
    ShortcutsView& view = f.shown();
    QAccessibleInterface* window = accessibletest::applicationWindow(&view);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), "Keyboard Shortcuts");

    QStringList headings;
    for (QLabel* label : view.findChildren<QLabel*>())
        if (QAccessible::queryAccessibleInterface(label)->role() == QAccessible::Heading) headings << label->text();
    QStringList titles = titlesOf(quarnkit::ShortcutCatalog::groups());
    headings.sort();
    titles.sort();
    EXPECT_EQ(headings, titles);

    QApplication::setActiveWindow(&view);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    const QList<QWidget*> stops = accessibletest::tabStops(view.windowHandle(), 200);
    EXPECT_EQ(accessibletest::unnamedStops(stops), QStringList());
    ASSERT_EQ(stops.size(), 2); // the rows, then back to the search
    EXPECT_EQ(stops.back(), view.searchField());
    QAccessibleInterface* row = QAccessible::queryAccessibleInterface(stops.front());
    EXPECT_EQ(row->text(QAccessible::Name), QStringLiteral("Select: V"));
    EXPECT_EQ(row->childCount(), 0);
    QStringList shown;
    for (const auto* column : {&view.columns().left, &view.columns().right})
        for (const auto& group : *column)
            for (const auto& each : group.rows) shown << each.title;
    ASSERT_EQ(QApplication::focusWidget(), stops.front());
    for (const auto& [key, at] : {std::pair(Qt::Key_Down, 1), {Qt::Key_End, shown.size() - 1}, {Qt::Key_Home, 0}}) {
        QTest::keyClick(view.windowHandle(), key);
        EXPECT_TRUE(QApplication::focusWidget()->accessibleName().startsWith(shown[at] + ": "))
            << shown[at].toStdString();
    }
}

TEST(ShortcutsWindow, EscAndCtrlWCloseItWhileTheSearchFieldHasTheKeys)
{
    WindowFixture f;
    for (const QKeyCombination key :
         {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::ControlModifier, Qt::Key_W)}) {
        ShortcutsView& view = f.shown();
        QApplication::setActiveWindow(&view);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
        view.searchField()->setFocus();
        for (const char key : std::string("zoom")) QTest::keyClick(view.windowHandle(), key);
        QTest::keyClick(view.windowHandle(), key.key(), key.keyboardModifiers());
        EXPECT_TRUE(testsupport::waitFor([&] { return !view.isVisible(); })) << key.toCombined();
    }
}

TEST(ShortcutsWindow, OpensCentredThenWhereItWasLeft)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("defaults.json"));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint moved = area.topLeft() + QPoint(40, 30);
    {
        platform::UserDefaults defaults(path);
        ShortcutsWindow windows(defaults);
        windows.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(windows.window()));
        EXPECT_EQ(windows.window()->pos(), area.center() - QPoint(390, 310));
        windows.window()->move(moved);
        windows.window()->close();
        ASSERT_TRUE(defaults.synchronize());
    }
    {
        // The next run.
        platform::UserDefaults defaults(path);
        const auto saved = defaults.value(ShortcutsWindow::frameKey);
        ASSERT_TRUE(saved);
        EXPECT_EQ((*saved)["x"], moved.x());
        ShortcutsWindow windows(defaults);
        windows.show();
        EXPECT_EQ(windows.window()->pos(), moved);
        windows.window()->close();
    }
    {
        // A frame on no screen any more is not restored.
        platform::UserDefaults defaults(path);
        defaults.set(ShortcutsWindow::frameKey, {{"x", 90000}, {"y", 90000}, {"width", 780}, {"height", 620}});
        ShortcutsWindow windows(defaults);
        windows.show();
        EXPECT_EQ(windows.window()->pos(), area.center() - QPoint(390, 310));
        windows.window()->close();
    }
}

TEST(ShortcutsWindow, NoTitleIsCutEvenAtItsNarrowest)
{
    WindowFixture f;
    ShortcutsView& view = f.shown();
    view.resize(300, view.height()); // as narrow as it lets itself be
    QApplication::processEvents();
    int titles = 0;
    for (QLabel* label : view.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&view) || label->text().isEmpty()) continue;
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << label->text().toStdString();
        ++titles;
    }
    EXPECT_GT(titles, 40);
}
