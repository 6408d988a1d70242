// The Sign menu: which items are enabled, the Place Signature submenu, and
// the keys that act only while their item is enabled.
#include "Quarn/Signatures/SigningHarness.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Signatures/SignatureSheet.h"
#include "Quarn/Forms/FormEditor.h"
#include "Quarn/Forms/FormWatcher.h"
#include "QuarnKit/Signatures/SignatureInk.h"

#include <QAction>
#include <QMenu>

using namespace quarn;
using namespace quarn::signtest;
using quarnkit::Signature;

namespace {

Signature entry(Signature::Kind kind, double created, std::optional<std::string> text = std::nullopt)
{
    auto s = quarnkit::SignatureInk::drawn({{{10, 10}, {60, 40}, {120, 15}}}, kind);
    s->created = created;
    s->text = std::move(text);
    return *s;
}

QStringList titles(const QMenu* menu)
{
    QStringList out;
    for (const QAction* a : menu->actions())
        if (!a->isSeparator()) out << a->text();
    return out;
}

const QStringList alwaysWithAPage{"Add Signature…", "Add Initials…", "Insert Date", "Insert Checkmark", "Insert Cross"};

} // namespace

TEST(SignCommandsTest, WithoutADocumentWindowEveryItemIsDisabled)
{
    QTemporaryDir dir;
    SignatureLibrary library(dir.path());
    library.add(entry(Signature::Kind::signature, 1));
    SignCommands commands(nullptr, nullptr, &library);
    for (const QAction* a : commands.menu()->actions()) {
        if (a->isSeparator()) continue;
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    }
    EXPECT_FALSE(commands.placeMenu()->menuAction()->isEnabled());
    commands.place(library.entries()[0]); // does nothing, silently
}

TEST(SignCommandsTest, AWindowWithAnEmptyLibraryCanSignButPlacesNothing)
{
    SigningWindow w;
    EXPECT_EQ(titles(w.commands->menu()),
              (QStringList{"Add Signature…", "Add Initials…", "Place Signature", "Insert Date", "Insert Checkmark",
                           "Insert Cross", "Fill Form Fields"}));
    for (const QString& title : alwaysWithAPage)
        EXPECT_TRUE(w.commands->action(title)->isEnabled()) << title.toStdString();
    EXPECT_FALSE(w.commands->placeMenu()->menuAction()->isEnabled());
    EXPECT_TRUE(w.commands->placeMenu()->isEmpty());
    EXPECT_FALSE(w.commands->action(QStringLiteral("Fill Form Fields"))->isEnabled()); // no fields
}

TEST(SignCommandsTest, ThePlaceMenuFollowsTheLibrary)
{
    SigningWindow w;
    w.library.add(entry(Signature::Kind::initials, 5, "AKL"));
    w.library.add(entry(Signature::Kind::initials, 3));
    EXPECT_TRUE(w.commands->placeMenu()->menuAction()->isEnabled());
    // Only initials: their section alone.
    EXPECT_EQ(titles(w.commands->placeMenu()).size(), 3);
    EXPECT_EQ(titles(w.commands->placeMenu())[0], QStringLiteral("Initials"));
    EXPECT_EQ(titles(w.commands->placeMenu())[1], QStringLiteral("AKL")); // typed: its text
    EXPECT_TRUE(titles(w.commands->placeMenu())[2].startsWith(QStringLiteral("Drawn ")));
    EXPECT_TRUE(titles(w.commands->placeMenu())[2].contains(QStringLiteral("2001"))); // created 3 s after 2001 began

    w.library.add(entry(Signature::Kind::signature, 9, "Ada King Lovelace"));
    const QStringList both = titles(w.commands->placeMenu());
    EXPECT_EQ(both.indexOf(QStringLiteral("Signatures")), 0);
    EXPECT_EQ(both.indexOf(QStringLiteral("Initials")), 2);

    // Choosing one places it.
    for (QAction* a : w.commands->placeMenu()->actions())
        if (a->text() == QStringLiteral("Ada King Lovelace")) a->trigger();
    EXPECT_EQ(w.marks().size(), 1u);
    EXPECT_EQ(w.stack->undoText(), QStringLiteral("Signature"));
}

TEST(SignCommandsTest, KeysActOnlyWhileTheirItemIsEnabled)
{
    SigningWindow w;
    QTest::keyClick(&w.window, Qt::Key_T, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    ASSERT_EQ(w.marks().size(), 1u);
    EXPECT_EQ(w.stack->undoText(), QStringLiteral("Date"));
    QTest::keyClick(&w.window, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(w.marks().size(), 2u);
    EXPECT_EQ(w.stack->undoText(), QStringLiteral("Checkmark"));
    QTest::keyClick(&w.window, Qt::Key_S, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    ASSERT_TRUE(w.item->sheet()); // the same sheet as the toolbar item's, without the popover
    EXPECT_FALSE(w.item->isShowing());
    w.item->sheet()->reject();
    QApplication::processEvents();

    // A window that cannot sign hears none of them.
    w.commands->action(QStringLiteral("Insert Date"))->setEnabled(false);
    QTest::keyClick(&w.window, Qt::Key_T, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(w.marks().size(), 2u);
}

TEST(SignCommandsTest, FillFormFieldsChoosesSelectAndGoesToTheFirstEmptyField)
{
    QFile form(QString::fromStdString(testsupport::corpusPath("libreoffice-form.pdf")));
    ASSERT_TRUE(form.open(QIODevice::ReadOnly));
    SigningWindow w(form.readAll());
    FormWatcher::of(*w.model).start(w.model, w.document.get());
    ASSERT_TRUE(testsupport::waitFor([&] { return FormWatcher::of(*w.model).fieldCount() > 0; }));
    w.commands->refresh();
    QAction* fill = w.commands->action(QStringLiteral("Fill Form Fields"));
    ASSERT_TRUE(fill->isEnabled());
    MarkupModel::of(*w.model).chooseTool(quarnkit::MarkupTool::highlight);
    fill->trigger();
    EXPECT_EQ(MarkupModel::of(*w.model).tool(), quarnkit::MarkupTool::select);
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return FormWatcher::of(*w.model).editor() && FormWatcher::of(*w.model).editor()->editingField(); }));
}

TEST(SignCommandsTest, ThePlaceMenuShowsEachSignatureAtItsOwnShape)
{
    SigningWindow w;
    w.library.add(entry(Signature::Kind::signature, 9)); // about four times as wide as high
    // Opened as a user does: the Sign title in the window's bar, then Place Signature.
    QMenuBar* bar = w.window.menuBar();
    QMenu* menu = w.commands->menu();
    QTest::mouseClick(w.window.windowHandle(), Qt::LeftButton, {},
                      bar->mapTo(&w.window, bar->actionGeometry(menu->menuAction()).center()));
    ASSERT_TRUE(testsupport::waitFor([&] { return menu->isVisible(); }));
    QMenu* place = w.commands->placeMenu();
    QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {}, menu->actionGeometry(place->menuAction()).center());
    ASSERT_TRUE(testsupport::waitFor([&] { return place->isVisible(); }));
    QAction* item = place->actions().last();
    const QRect row = place->actionGeometry(item);
    const QImage image = place->grab().toImage();
    // The preview is the first run of inked columns of the row (a gap of a
    // few blank columns ends it; the title follows).
    const QRgb paper = image.pixel(row.right() - 3, row.center().y());
    const auto inked = [&](int x, int y) { return std::abs(qGray(image.pixel(x, y)) - qGray(paper)) > 60; };
    QRect ink;
    int blank = 0;
    for (int x = row.left() + 3; x <= row.right() - 3 && blank < 5; ++x) { // inside the menu's frame
        bool any = false;
        for (int y = row.top() + 1; y < row.bottom() - 1; ++y)
            if (inked(x, y)) {
                ink |= QRect(x, y, 1, 1);
                any = true;
            }
        blank = any || ink.isNull() ? 0 : blank + 1;
    }
    EXPECT_GE(ink.width(), 40);
    EXPECT_LE(ink.height(), 19);
    EXPECT_GE(double(ink.width()) / std::max(1, ink.height()), 2.2);
    QTest::keyClick(place->windowHandle(), Qt::Key_Escape);
    QTest::keyClick(menu->windowHandle(), Qt::Key_Escape);
}
