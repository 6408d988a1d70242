// The signature sheet: default names, drawing with undo, typing in a chosen
// font, and what it shows when a signature cannot be made or kept.
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Signatures/SignControls.h"
#include "Quarn/Signatures/SignaturePad.h"
#include "Quarn/Signatures/SignatureSheet.h"
#include "QuarnKit/Signatures/SignatureInk.h"
#include "QuarnKit/Signatures/SignatureStore.h"
#include "Quarn/Design/UnnamedControls.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QWindow>

using namespace quarn;
using quarnkit::Signature;
using quarnkit::SignatureFont;
using Kind = Signature::Kind;

namespace {

struct OpenSheet {
    std::vector<Signature> kept;
    std::function<void(const Signature&)> onSave = [this](const Signature& s) { kept.push_back(s); };
    SignatureSheet sheet;

    explicit OpenSheet(Kind kind, std::vector<SignatureFont> fonts = SignatureFont::installed(),
                       QString fullName = QStringLiteral("Ada King Lovelace"))
        : sheet(
            kind, [this](const Signature& s) { onSave(s); }, nullptr, std::move(fonts), std::move(fullName))
    {
        sheet.show();
        QApplication::setActiveWindow(&sheet);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    }
    void stroke(QPoint from, QPoint to)
    {
        SignaturePad* pad = sheet.pad();
        QTest::mousePress(pad, Qt::LeftButton, Qt::NoModifier, from);
        for (int i = 1; i <= 10; ++i) QTest::mouseMove(pad, from + (to - from) * i / 10);
        QTest::mouseRelease(pad, Qt::LeftButton, Qt::NoModifier, to);
    }
    // A key as the keyboard sends it: to the sheet's window.
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* target = QApplication::focusWidget();
        QTest::keyClick(target ? target : &sheet, key, modifiers);
    }
};

} // namespace

TEST(SignatureSheetTest, DefaultNamesComeFromTheFullName)
{
    struct Case {
        QString fullName, signature, initials;
    };
    const std::vector<Case> cases{
        {QStringLiteral("  alpha  beta gamma "), QStringLiteral("alpha  beta gamma"), QStringLiteral("ABG")},
        {QStringLiteral("one two three four"), QStringLiteral("one two three four"), QStringLiteral("OTT")},
        {QStringLiteral("élodie o\u0308hman"), QStringLiteral("élodie o\u0308hman"), QStringLiteral("ÉO\u0308")},
        {QString(), QString(), QString()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SignatureSheet::defaultName(Kind::signature, c.fullName), c.signature) << c.fullName.toStdString();
        EXPECT_EQ(SignatureSheet::defaultName(Kind::initials, c.fullName), c.initials) << c.fullName.toStdString();
    }
}

TEST(SignatureSheetTest, CtrlZTakesTheNewestStrokeBack)
{
    OpenSheet s(Kind::signature);
    EXPECT_FALSE(s.sheet.undoButton()->isEnabled());
    EXPECT_FALSE(s.sheet.clearButton()->isEnabled());
    EXPECT_FALSE(s.sheet.saveButton()->isEnabled());
    s.key(Qt::Key_Z, Qt::ControlModifier); // nothing to take back
    EXPECT_TRUE(s.sheet.strokes().empty());

    s.stroke({40, 60}, {200, 120});
    s.stroke({220, 60}, {300, 140});
    EXPECT_TRUE(s.sheet.undoButton()->isEnabled());
    EXPECT_TRUE(s.sheet.clearButton()->isEnabled());
    EXPECT_TRUE(s.sheet.saveButton()->isEnabled());
    ASSERT_EQ(s.sheet.strokes().size(), 2u);
    const auto first = s.sheet.strokes().front();
    s.key(Qt::Key_Z, Qt::ControlModifier);
    ASSERT_EQ(s.sheet.strokes().size(), 1u);
    EXPECT_EQ(s.sheet.strokes().front(), first);
    EXPECT_EQ(s.sheet.pad()->strokes(), s.sheet.strokes()); // the pad shows what is left
    QTest::mouseClick(s.sheet.clearButton(), Qt::LeftButton);
    EXPECT_TRUE(s.sheet.pad()->strokes().empty());
    EXPECT_FALSE(s.sheet.saveButton()->isEnabled());
}

TEST(SignatureSheetTest, DrawnStrokesSaveOnceWithReturn)
{
    OpenSheet s(Kind::initials);
    s.stroke({40, 60}, {200, 120});
    s.key(Qt::Key_Return);
    s.key(Qt::Key_Return); // a second Return while it closes saves nothing
    ASSERT_EQ(s.kept.size(), 1u);
    EXPECT_EQ(s.kept[0].kind, Kind::initials);
    EXPECT_EQ(s.kept[0].source, Signature::Source::drawn);
    EXPECT_TRUE(s.sheet.isSaved());
    EXPECT_FALSE(s.sheet.isVisible());
}

TEST(SignatureSheetTest, TheNameFollowsTheKindUntilTheUserEditsIt)
{
    OpenSheet s(Kind::initials);
    EXPECT_EQ(s.sheet.name(), QStringLiteral("AKL"));
    s.sheet.setKind(Kind::signature);
    EXPECT_EQ(s.sheet.name(), QStringLiteral("Ada King Lovelace"));
    s.sheet.setMode(SignatureSheet::Mode::type);
    EXPECT_EQ(QApplication::focusWidget(), s.sheet.nameField()); // switching to Type puts the cursor there
    s.sheet.nameField()->selectAll();
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Ada L."));
    s.sheet.setKind(Kind::initials);
    EXPECT_EQ(s.sheet.name(), QStringLiteral("Ada L."));
}

TEST(SignatureSheetTest, TypingSavesInTheChosenFont)
{
    const std::vector<SignatureFont> fonts = SignatureFont::installed();
    ASSERT_GE(fonts.size(), 2u) << "the handwriting font packages are not installed";
    OpenSheet s(Kind::signature, fonts);
    s.sheet.setMode(SignatureSheet::Mode::type);
    ASSERT_EQ(s.sheet.fontCards().size(), fonts.size());
    EXPECT_TRUE(s.sheet.fontCards()[0]->isChecked());
    QTest::mouseClick(s.sheet.fontCards()[1], Qt::LeftButton);
    EXPECT_FALSE(s.sheet.fontCards()[0]->isChecked());
    EXPECT_TRUE(s.sheet.fontCards()[1]->isChecked());
    s.key(Qt::Key_Return);
    ASSERT_EQ(s.kept.size(), 1u);
    EXPECT_EQ(s.kept[0].source, Signature::Source::typed);
    EXPECT_EQ(s.kept[0].text, "Ada King Lovelace");
    // The same words in the other font make other ink.
    const auto inFirst = quarnkit::SignatureInk::typed("Ada King Lovelace", fonts[0], Kind::signature);
    ASSERT_TRUE(inFirst);
    EXPECT_NE(inFirst->strokes, s.kept[0].strokes);
}

TEST(SignatureSheetTest, ABlankNameOrNoFontLeavesSaveOff)
{
    {
        OpenSheet s(Kind::initials);
        s.sheet.setMode(SignatureSheet::Mode::type);
        s.sheet.nameField()->setText(QStringLiteral("   "));
        EXPECT_FALSE(s.sheet.saveButton()->isEnabled());
        for (SignatureFontCard* card : s.sheet.fontCards()) {
            EXPECT_EQ(card->previewText(), QStringLiteral("YN"));
            EXPECT_TRUE(card->showsPlaceholder());
        }
        s.key(Qt::Key_Return);
        EXPECT_TRUE(s.kept.empty());
    }
    {
        OpenSheet s(Kind::signature, {});
        s.sheet.setMode(SignatureSheet::Mode::type);
        EXPECT_FALSE(s.sheet.saveButton()->isEnabled());
        EXPECT_FALSE(s.sheet.findChildren<QLabel*>().isEmpty());
        bool told = false;
        for (QLabel* l : s.sheet.findChildren<QLabel*>())
            told = told || l->text().startsWith(QStringLiteral("No signature fonts are installed"));
        EXPECT_TRUE(told);
        s.sheet.setMode(SignatureSheet::Mode::draw); // drawing still works
        s.stroke({40, 60}, {200, 120});
        EXPECT_TRUE(s.sheet.saveButton()->isEnabled());
    }
}

TEST(SignatureSheetTest, AFailedSaveKeepsTheSheetOpenWithTheMessage)
{
    OpenSheet s(Kind::signature);
    s.onSave = [](const Signature&) {
        throw quarnkit::SignatureStoreError(quarnkit::SignatureStoreError::Code::writeFailed);
    };
    s.stroke({40, 60}, {200, 120});
    s.key(Qt::Key_Return);
    EXPECT_TRUE(s.sheet.isVisible());
    EXPECT_FALSE(s.sheet.isSaved());
    EXPECT_TRUE(s.sheet.errorLabel()->isVisible());
    EXPECT_EQ(s.sheet.errorLabel()->text(), QStringLiteral("ravlen couldn't update your saved signatures."));
    s.sheet.setMode(SignatureSheet::Mode::type); // any switch clears it
    EXPECT_FALSE(s.sheet.error().has_value());
}

// By keyboard alone: Tab and Right reach Type, where the name filled in is
// selected, so typing replaces it; Tab reaches the chosen font card, and the
// arrows choose another, the keys going with the choice; the switches are
// radio groups too; Return on a segment saves in the font shown chosen. Keys go to the sheet's window.
TEST(SignatureSheetTest, TheKeyboardTypesChoosesAFontAndSaves)
{
    const std::vector<SignatureFont> fonts = SignatureFont::installed();
    ASSERT_GE(fonts.size(), 2u) << "the handwriting font packages are not installed";
    OpenSheet s(Kind::signature, fonts);
    QWindow* window = s.sheet.windowHandle();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&s.sheet));
    const auto focusedName = [] {
        QWidget* focused = QApplication::focusWidget();
        return focused ? QAccessible::queryAccessibleInterface(focused)->text(QAccessible::Name) : QString();
    };
    // Tab to the switch that holds the segment named title, which stops on
    // its chosen segment alone, then Right to that segment, which chooses it.
    const auto choose = [&](const QString& title) {
        QWidget* control = nullptr;
        for (auto* segment : s.sheet.findChildren<QAbstractButton*>())
            if (segment->accessibleName() == title) control = segment->parentWidget();
        ASSERT_TRUE(control);
        const auto onControl = [&] {
            return QApplication::focusWidget() && QApplication::focusWidget()->parentWidget() == control;
        };
        for (int i = 0; i < 20 && !onControl(); ++i) QTest::keyClick(window, Qt::Key_Tab);
        ASSERT_TRUE(onControl());
        for (int i = 0; i < 4 && onControl() && focusedName() != title; ++i) QTest::keyClick(window, Qt::Key_Right);
    };
    choose(QStringLiteral("Type"));
    ASSERT_EQ(s.sheet.mode(), SignatureSheet::Mode::type);
    EXPECT_EQ(QApplication::focusWidget(), s.sheet.nameField());
    EXPECT_EQ(focusedName(), QStringLiteral("Your name"));
    for (const QChar c : QStringLiteral("Jana Nov")) QTest::keyClick(window, c.toLatin1());
    EXPECT_EQ(s.sheet.name(), QStringLiteral("Jana Nov"));

    // The cards are choices, and a reader hears which one is chosen.
    const auto checked = [&] {
        QList<bool> states;
        for (SignatureFontCard* card : s.sheet.fontCards()) {
            QAccessibleInterface* node = QAccessible::queryAccessibleInterface(card);
            EXPECT_EQ(node->role(), QAccessible::RadioButton);
            states << node->state().checked;
        }
        return states.mid(0, 2);
    };
    EXPECT_EQ(checked(), QList<bool>({true, false}));
    QTest::keyClick(window, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), s.sheet.fontCards()[0]);
    EXPECT_EQ(focusedName(), QString::fromStdString(fonts[0].name));
    // A radio group: the arrows choose, and the keys go with the choice.
    const struct {
        Qt::Key key;
        size_t chosen;
    } steps[] = {{Qt::Key_Right, 1}, {Qt::Key_Left, 0}, {Qt::Key_Down, 1}, {Qt::Key_Up, 0}, {Qt::Key_Down, 1}};
    for (const auto& step : steps) {
        QTest::keyClick(window, step.key);
        EXPECT_EQ(QApplication::focusWidget(), s.sheet.fontCards()[step.chosen]) << step.key;
        EXPECT_EQ(s.sheet.selectedFont()->id(), fonts[step.chosen].id());
        EXPECT_EQ(checked(), QList<bool>({step.chosen == 0, step.chosen == 1}));
    }
    QTest::keyClick(window, Qt::Key_Space); // the card the keys are on is chosen already
    EXPECT_EQ(checked(), QList<bool>({false, true}));
    // Tab leaves the group at once; Shift+Tab comes back to the chosen card.
    QTest::keyClick(window, Qt::Key_Tab);
    for (SignatureFontCard* card : s.sheet.fontCards()) EXPECT_NE(QApplication::focusWidget(), card);
    QTest::keyClick(window, Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), s.sheet.fontCards()[1]);

    QTest::keyClick(window, Qt::Key_Backtab);
    choose(QStringLiteral("Initials"));
    ASSERT_EQ(s.sheet.kind(), Kind::initials);
    EXPECT_EQ(s.sheet.name(), QStringLiteral("Jana Nov")); // edited, so it stays
    QTest::keyClick(window, Qt::Key_Return);
    ASSERT_EQ(s.kept.size(), 1u);
    EXPECT_EQ(s.kept[0].kind, Kind::initials);
    EXPECT_EQ(s.kept[0].text, "Jana Nov");
    const auto inSecond = quarnkit::SignatureInk::typed("Jana Nov", fonts[1], Kind::initials);
    ASSERT_TRUE(inSecond);
    EXPECT_EQ(s.kept[0].strokes, inSecond->strokes);
}

TEST(SignatureSheetTest, EveryControlHasAName)
{
    OpenSheet s(Kind::initials);
    s.sheet.setMode(SignatureSheet::Mode::type);
    EXPECT_EQ(accessibletest::unnamedControls(&s.sheet), QStringList());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(s.sheet.nameField())->text(QAccessible::Name),
              QStringLiteral("Your initials"));
}
