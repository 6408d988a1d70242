#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include "QuarnKit/Markup/MarkupTool.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using quarnkit::RGBA;
using quarnkit::Shortcut;
using quarnkit::ShortcutCommand;
using quarnkit::ShortcutContext;
using quarnkit::ShortcutGroup;
using quarnkit::ShortcutRow;
namespace KeyboardShortcuts = quarnkit::KeyboardShortcuts;
namespace ShortcutCatalog = quarnkit::ShortcutCatalog;

namespace {

std::vector<QString> titles(const std::vector<ShortcutGroup>& groups)
{
    std::vector<QString> out;
    for (const auto& g : groups) out.push_back(g.title);
    return out;
}

std::vector<QString> rowTitles(const ShortcutGroup& group)
{
    std::vector<QString> out;
    for (const auto& r : group.rows) out.push_back(r.title);
    return out;
}

const ShortcutGroup& group(const std::vector<ShortcutGroup>& groups, const QString& title)
{
    for (const auto& g : groups)
        if (g.title == title) return g;
    throw std::runtime_error("no group " + title.toStdString());
}

std::vector<QString> strings(std::initializer_list<const char*> texts)
{
    std::vector<QString> out;
    for (const char* t : texts) out.push_back(QString::fromUtf8(t));
    return out;
}

QKeyCombination combo(Qt::KeyboardModifiers mods, Qt::Key key) { return QKeyCombination(mods, key); }

} // namespace

TEST(KeyboardShortcuts, EveryCommandHasOneEntry)
{
    std::map<ShortcutCommand, int> seen;
    for (const Shortcut& s : KeyboardShortcuts::table()) ++seen[s.command];
    for (int c = 0; c <= int(ShortcutCommand::undoStroke); ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(seen[ShortcutCommand(c)], 1);
        EXPECT_NO_THROW(KeyboardShortcuts::shortcut(ShortcutCommand(c)));
    }
    for (const Shortcut& s : KeyboardShortcuts::table())
        for (const QKeySequence& k : s.keys) EXPECT_EQ(k.count(), 1) << k.toString().toStdString();
}

TEST(KeyboardShortcuts, NoTwoCommandsShareAKeyWhereBothAreHeard)
{
    const auto& table = KeyboardShortcuts::table();
    for (size_t i = 0; i < table.size(); ++i)
        for (size_t j = i + 1; j < table.size(); ++j) {
            if (!KeyboardShortcuts::liveTogether(table[i].context, table[j].context)) continue;
            for (const QKeySequence& a : table[i].keys)
                for (const QKeySequence& b : table[j].keys)
                    EXPECT_NE(KeyboardShortcuts::normalized(a[0]), KeyboardShortcuts::normalized(b[0]))
                        << a.toString().toStdString() << " is taken by commands " << int(table[i].command) << " and "
                        << int(table[j].command);
        }
    // The same key may serve different places that are never heard together.
    EXPECT_EQ(KeyboardShortcuts::command(combo(Qt::NoModifier, Qt::Key_Escape), ShortcutContext::findField),
              ShortcutCommand::closeFind);
    EXPECT_EQ(KeyboardShortcuts::command(combo(Qt::NoModifier, Qt::Key_Escape), ShortcutContext::pageView),
              ShortcutCommand::backToSelect);
    EXPECT_EQ(KeyboardShortcuts::command(combo(Qt::NoModifier, Qt::Key_Escape), ShortcutContext::slideshow),
              ShortcutCommand::slideshowExit);
    EXPECT_FALSE(KeyboardShortcuts::liveTogether(ShortcutContext::pageView, ShortcutContext::selectedMark));
    EXPECT_TRUE(KeyboardShortcuts::liveTogether(ShortcutContext::window, ShortcutContext::selectedMark));
    EXPECT_TRUE(KeyboardShortcuts::liveTogether(ShortcutContext::application, ShortcutContext::slideshow));
    EXPECT_FALSE(KeyboardShortcuts::liveTogether(ShortcutContext::window, ShortcutContext::slideshow));
}

TEST(KeyboardShortcuts, AvoidsTheDesktopsCombinations)
{
    for (const Shortcut& s : KeyboardShortcuts::table())
        for (const QKeySequence& k : s.keys)
            EXPECT_FALSE(KeyboardShortcuts::isReserved(k[0])) << k.toString().toStdString();

    const auto ctrlAlt = Qt::ControlModifier | Qt::AltModifier;
    EXPECT_TRUE(KeyboardShortcuts::isReserved(combo(ctrlAlt, Qt::Key_T)));
    EXPECT_TRUE(KeyboardShortcuts::isReserved(combo(ctrlAlt, Qt::Key_L)));
    EXPECT_TRUE(KeyboardShortcuts::isReserved(combo(ctrlAlt, Qt::Key_D)));
    EXPECT_TRUE(KeyboardShortcuts::isReserved(combo(ctrlAlt, Qt::Key_Delete)));
    EXPECT_TRUE(KeyboardShortcuts::isReserved(combo(ctrlAlt, Qt::Key_Down)));
    EXPECT_TRUE(KeyboardShortcuts::isReserved(combo(ctrlAlt | Qt::ShiftModifier, Qt::Key_Left)));
    EXPECT_TRUE(KeyboardShortcuts::isReserved(combo(Qt::MetaModifier, Qt::Key_S)));
    EXPECT_TRUE(KeyboardShortcuts::isReserved(combo(Qt::MetaModifier | Qt::ControlModifier, Qt::Key_K)));
    EXPECT_FALSE(KeyboardShortcuts::isReserved(combo(ctrlAlt, Qt::Key_G)));
    EXPECT_FALSE(KeyboardShortcuts::isReserved(combo(Qt::AltModifier, Qt::Key_Down)));

    // The translated keys: Command → Ctrl, Option → Alt, and the nearest free
    // combination where the translation is the desktop's.
    EXPECT_EQ(KeyboardShortcuts::menuKey(ShortcutCommand::zoomIn), QKeySequence(QStringLiteral("Ctrl+=")));
    EXPECT_EQ(KeyboardShortcuts::menuKey(ShortcutCommand::bringToFront),
              QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F")));
    EXPECT_EQ(KeyboardShortcuts::menuKey(ShortcutCommand::goToPage), QKeySequence(QStringLiteral("Ctrl+Alt+G")));
    EXPECT_EQ(KeyboardShortcuts::menuKey(ShortcutCommand::nextPage), QKeySequence(QStringLiteral("Alt+Down")));
    EXPECT_EQ(KeyboardShortcuts::menuKey(ShortcutCommand::insertDate),
              QKeySequence(QStringLiteral("Ctrl+Alt+Shift+T")));
    EXPECT_EQ(KeyboardShortcuts::menuKey(ShortcutCommand::keyboardShortcuts), QKeySequence(QStringLiteral("Ctrl+/")));
}

TEST(KeyboardShortcuts, LooksUpKeyPressesByContext)
{
    using KeyboardShortcuts::command;
    EXPECT_EQ(command(combo(Qt::NoModifier, Qt::Key_V), ShortcutContext::pageView), ShortcutCommand::toolSelect);
    EXPECT_EQ(command(combo(Qt::NoModifier, Qt::Key_3), ShortcutContext::pageView), ShortcutCommand::swatch3);
    EXPECT_EQ(command(combo(Qt::NoModifier, Qt::Key_9), ShortcutContext::pageView), std::nullopt);
    EXPECT_EQ(command(combo(Qt::ControlModifier, Qt::Key_V), ShortcutContext::pageView), std::nullopt);
    EXPECT_EQ(command(combo(Qt::ControlModifier, Qt::Key_V), ShortcutContext::window), ShortcutCommand::paste);
    // Keypad Enter is Return; Shift+Tab may arrive as Backtab; the keypad flag does not matter.
    EXPECT_EQ(command(combo(Qt::KeypadModifier, Qt::Key_Enter), ShortcutContext::findField),
              ShortcutCommand::findFieldNext);
    EXPECT_EQ(command(combo(Qt::ShiftModifier, Qt::Key_Return), ShortcutContext::findField),
              ShortcutCommand::findFieldPrevious);
    EXPECT_EQ(command(combo(Qt::ShiftModifier, Qt::Key_Backtab), ShortcutContext::pageView),
              ShortcutCommand::previousFormField);
    EXPECT_EQ(command(combo(Qt::NoModifier, Qt::Key_Backtab), ShortcutContext::pageView),
              ShortcutCommand::previousFormField);
    EXPECT_EQ(command(combo(Qt::ShiftModifier, Qt::Key_Up), ShortcutContext::selectedMark), ShortcutCommand::nudgeFar);
    EXPECT_EQ(command(combo(Qt::NoModifier, Qt::Key_Backspace), ShortcutContext::selectedMark),
              ShortcutCommand::deleteMark);
    EXPECT_EQ(command(combo(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Plus), ShortcutContext::window),
              ShortcutCommand::zoomIn);
}

TEST(ShortcutCatalog, GroupsAreBuiltFromTheTable)
{
    const auto groups = ShortcutCatalog::groups();
    EXPECT_EQ(titles(groups), strings({"Tools", "Colors", "Marks", "Navigation", "Zoom", "View", "Find",
                                       "Fill and sign", "Pages", "File", "Slideshow"}));
    // Fill and sign offers the Sign menu's own keys.
    EXPECT_EQ(group(groups, QStringLiteral("Fill and sign")).rows,
              (std::vector<ShortcutRow>{
                  ShortcutRow(QStringLiteral("Add signature"), {QStringLiteral("Ctrl+Alt+Shift+S")}),
                  ShortcutRow(QStringLiteral("Insert date"), {QStringLiteral("Ctrl+Alt+Shift+T")}),
                  ShortcutRow(QStringLiteral("Insert checkmark"), {QStringLiteral("Ctrl+Alt+Shift+K")})}));
    EXPECT_EQ(group(groups, QStringLiteral("Fill and sign")).rows[2].keys,
              (std::vector<QStringList>{
                  {QStringLiteral("Ctrl"), QStringLiteral("Alt"), QStringLiteral("Shift"), QStringLiteral("K")}}));
    const auto& tools = group(groups, QStringLiteral("Tools"));
    ASSERT_EQ(tools.rows.size(), 13u);
    EXPECT_EQ(tools.rows[0], ShortcutRow(QStringLiteral("Select"), {QStringLiteral("V")}));
    EXPECT_EQ(tools.rows[11], ShortcutRow(QStringLiteral("Redact"), {QStringLiteral("X")}));
    // The table's tool keys are the tools' own letters, in the tools' order.
    for (size_t i = 0; i < quarnkit::allTools.size(); ++i) {
        EXPECT_EQ(tools.rows[i].title, quarnkit::title(quarnkit::allTools[i]));
        EXPECT_EQ(tools.rows[i].keys, (std::vector<QStringList>{{quarnkit::letter(quarnkit::allTools[i])}}));
    }

    const auto& colors = group(groups, QStringLiteral("Colors"));
    ASSERT_EQ(colors.rows.size(), 8u);
    EXPECT_EQ(colors.rows[1], ShortcutRow(QStringLiteral("Ink"), {QStringLiteral("2")}, RGBA::ink));
    for (size_t i = 0; i < colors.rows.size(); ++i) EXPECT_EQ(colors.rows[i].swatch, RGBA::swatches[i]);
    for (const auto& g : groups) {
        if (g.title == QStringLiteral("Colors")) continue;
        for (const auto& r : g.rows) EXPECT_FALSE(r.swatch) << r.title.toStdString();
    }

    const auto& navigation = group(groups, QStringLiteral("Navigation"));
    EXPECT_EQ(navigation.rows[0].id(), QStringLiteral("Next page→|Page Down|Alt↓"));
    EXPECT_EQ(navigation.rows[2].id(), QStringLiteral("First pageCtrl↑|Home"));
    const auto& view = group(groups, QStringLiteral("View"));
    EXPECT_EQ(rowTitles(view), strings({"Single page", "Continuous", "Two pages", "Two pages continuous",
                                        "Show or hide sidebar", "History", "Explore PDFs on this computer", "Slideshow",
                                        "Welcome window", "Keyboard shortcuts"}));
    EXPECT_EQ(view.rows[0].keys, (std::vector<QStringList>{{QStringLiteral("Ctrl"), QStringLiteral("1")}}));
    const auto& marks = group(groups, QStringLiteral("Marks"));
    EXPECT_EQ(marks.rows[4].keys,
              (std::vector<QStringList>{{QStringLiteral("Return")}, {QStringLiteral("Double-click")}}));
    EXPECT_EQ(marks.rows[6].keys, (std::vector<QStringList>{{QStringLiteral("Shift"), QStringLiteral("Arrow keys")}}));
    EXPECT_EQ(group(groups, QStringLiteral("File")).rows[3].id(), QStringLiteral("Document infoCtrlI"));

    // Two rows called "Next page", told apart by their keys.
    const auto& slideshow = group(groups, QStringLiteral("Slideshow"));
    EXPECT_EQ(slideshow.rows[0].title, navigation.rows[0].title);
    EXPECT_NE(slideshow.rows[0].id(), navigation.rows[0].id());
    EXPECT_EQ(slideshow.rows[0].id(), QStringLiteral("Next page→|Space|Click"));
    EXPECT_EQ(ShortcutCatalog::groups(), groups); // rebuilt the same every time
}

TEST(ShortcutCatalog, SplitsKeyTextsIntoCaps)
{
    using L = QStringList;
    EXPECT_EQ(ShortcutRow::caps(QString()), L{});
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("⌥⇧⌘F")), (L{"⌥", "⇧", "⌘", "F"}));
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("⇧Arrow keys")), (L{"⇧", "Arrow keys"}));
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("⇧")), (L{"⇧"}));
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("⌥⌘")), (L{"⌥", "⌘"}));
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("⌃⌘K")), (L{"⌃", "⌘", "K"}));
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("F⌘")), (L{"F⌘"}));
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("Page Down")), (L{"Page Down"}));
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("Double-click")), (L{"Double-click"}));
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("Ctrl+Alt+Shift+F")), (L{"Ctrl", "Alt", "Shift", "F"}));
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("Shift+Arrow keys")), (L{"Shift", "Arrow keys"}));
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("Shift")), (L{"Shift"}));
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("Ctrl+")), (L{"Ctrl+"}));
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("Ctrl++")), (L{"Ctrl", "+"}));
    // A modifier symbol followed by a character built of several code points stays whole.
    EXPECT_EQ(ShortcutRow::caps(QStringLiteral("⌘e\u0301")), (L{"⌘", "e\u0301"}));
}

TEST(ShortcutCatalog, FiltersByGroupAndRowTitles)
{
    const auto all = ShortcutCatalog::groups();
    EXPECT_EQ(ShortcutCatalog::filtered(QStringLiteral(" \n\t ")), all);
    EXPECT_EQ(ShortcutCatalog::filtered(QString()), all);

    const auto zoom = ShortcutCatalog::filtered(QStringLiteral("zoom"));
    ASSERT_EQ(zoom.size(), 1u);
    EXPECT_EQ(zoom[0], group(all, QStringLiteral("Zoom")));

    const auto page = ShortcutCatalog::filtered(QStringLiteral("page"));
    EXPECT_EQ(titles(page), strings({"Navigation", "Zoom", "View", "Pages", "File", "Slideshow"}));
    EXPECT_EQ(rowTitles(page[0]), strings({"Next page", "Previous page", "First page", "Last page", "Go to page"}));
    EXPECT_EQ(rowTitles(page[1]), strings({"Fit page"}));
    EXPECT_EQ(rowTitles(page[2]), strings({"Single page", "Two pages", "Two pages continuous"}));
    // A group whose title matches shows every row.
    EXPECT_EQ(page[3], group(all, QStringLiteral("Pages")));
    EXPECT_EQ(rowTitles(page[4]), strings({"Copy page"}));
    EXPECT_EQ(rowTitles(page[5]), strings({"Next page", "Previous page"}));

    const auto slideshow = ShortcutCatalog::filtered(QStringLiteral("SLIDESHOW"));
    EXPECT_EQ(titles(slideshow), strings({"View", "Slideshow"}));
    EXPECT_EQ(rowTitles(slideshow[0]), strings({"Slideshow"}));
    EXPECT_EQ(slideshow[1], group(all, QStringLiteral("Slideshow")));

    // Keys are never searched.
    EXPECT_TRUE(ShortcutCatalog::filtered(QStringLiteral("⌘")).empty());
    EXPECT_TRUE(ShortcutCatalog::filtered(QStringLiteral("Ctrl")).empty());
    EXPECT_TRUE(ShortcutCatalog::filtered(QStringLiteral("→")).empty());

    const auto ink = ShortcutCatalog::filtered(QStringLiteral("ink"));
    ASSERT_EQ(ink.size(), 1u);
    EXPECT_EQ(rowTitles(ink[0]), strings({"Ink"}));
    ASSERT_TRUE(ink[0].rows[0].swatch);

    const auto insert = ShortcutCatalog::filtered(QStringLiteral("Insert"));
    EXPECT_EQ(titles(insert), strings({"Fill and sign", "Pages"}));
    EXPECT_EQ(rowTitles(insert[0]), strings({"Insert date", "Insert checkmark"}));
    EXPECT_EQ(rowTitles(insert[1]), strings({"Insert blank page", "Insert pages from file"}));
    const auto sign = ShortcutCatalog::filtered(QStringLiteral("sign"));
    EXPECT_EQ(titles(sign), strings({"Fill and sign"}));
    EXPECT_EQ(sign[0], group(all, QStringLiteral("Fill and sign")));

    const auto fit = ShortcutCatalog::filtered(QStringLiteral("  Fit "));
    EXPECT_EQ(titles(fit), strings({"Zoom"}));
    EXPECT_EQ(rowTitles(fit[0]), strings({"Fit page", "Fit width"}));
}
