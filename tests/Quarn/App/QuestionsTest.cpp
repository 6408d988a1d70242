// Each question ravlen asks, opened by keys sent to the window: it has the
// keys (its button focused, Tab going round its buttons, Escape and Space
// answering), a reader meets an alert with that one button focused, and the
// keys go back to where it was asked from.
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/App/ViewerScreen.h"
#include "Quarn/App/ViewerScreenHarness.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Export/ExportSheet.h"
#include "Quarn/Pages/PagePanels.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ShareMenu.h"
#include "Quarn/Viewer/ToolbarItems.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

using namespace quarn;

namespace {

const bool privateConfig = testsupport::usePrivateConfigDir();

void press(QKeyCombination keys)
{
    QTest::keyClick(QGuiApplication::focusWindow(), keys.key(), keys.keyboardModifiers());
}

int focusedIn(QAccessibleInterface* node)
{
    int count = node->state().focused ? 1 : 0;
    for (int i = 0; i < node->childCount(); ++i) count += focusedIn(node->child(i));
    return count;
}

// Whether `box` has the keys and a reader hears it so; Tab goes to another of its buttons.
bool hasTheKeys(QMessageBox* box)
{
    if (!testsupport::waitFor([&] { return QApplication::activeWindow() == box; }, 5000)) return false;
    QWidget* first = QApplication::focusWidget();
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(first);
    if (!qobject_cast<QAbstractButton*>(first) || node->role() != QAccessible::PushButton || !node->state().focused)
        return false;
    while (node && node->object() != box) node = node->parent();
    if (!node || node->role() != QAccessible::AlertMessage || focusedIn(node) != 1) return false;
    press(Qt::Key_Tab);
    const bool moved = box->buttons().size() < 2 || box->buttons().contains(QApplication::focusWidget());
    press(Qt::ShiftModifier | Qt::Key_Backtab);
    return moved && QApplication::focusWidget() == first;
}

} // namespace

TEST(Questions, EachTakesTheKeysReachesAReaderAndGivesThemBack)
{
    QTemporaryDir dir;
    const QString there = testsupport::writeFile(dir, "there.pdf", "kept");
    const auto kept = [&] { return testsupport::readFile(there) == "kept"; };
    DocumentController* controller = nullptr;
    DocumentWindow* window = nullptr;
    QWidget* from = nullptr; // where the keys were as the question was asked
    QStringList proposed;    // the names the Save As panel opened on; it is cancelled after the first
    const auto saveAs = [&](QString path) {
        return [&, path] {
            proposed.clear();
            controller->chooseSaveAsPath = [&, path](DocumentWindow&, const QString& name) {
                proposed << name;
                return proposed.size() == 1 ? path : QString();
            };
            press(Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_S);
        };
    };
    const auto exportOnto = [&] {
        press(Qt::ControlModifier | Qt::Key_E);
        ExportSheet* sheet = nullptr;
        ASSERT_TRUE(testsupport::waitFor(
            [&] { return QApplication::activeWindow() == (sheet = window->findChild<ExportSheet*>()); }));
        sheet->controller().reveal = [](const QString&, ExportController::RevealTold told) { told(std::nullopt); };
        sheet->controller().chooseDestination = [&](auto&, auto&) { return std::optional<QString>(there); };
        from = QApplication::focusWidget();
        press(Qt::Key_Return);
    };
    const struct {
        const char* asks; // in its words or title
        std::function<void()> ask;
        QList<QKeyCombination> answer;
        std::function<bool()> answered;
        bool repaired = false; // the document is read from a damaged file
    } rows[] = {
        {"may show less than the original",
         saveAs(dir.filePath("new.pdf")),
         {Qt::Key_Escape},
         [&] { return !QFile::exists(dir.filePath("new.pdf")); },
         true},
        // Not replaced, the panel opens again on the name.
        {"already exists",
         saveAs(there),
         {Qt::Key_Escape},
         [&] {
             return kept() && proposed == QStringList{dir.filePath("doc.pdf"), there};
         }},
        {"could not be saved", saveAs("/nonexistent folder/x.pdf"), {Qt::Key_Escape}, kept},
        {"already exists", exportOnto, {Qt::Key_Escape}, [&] { return kept() && window->findChild<ExportSheet*>(); }},
        {"already exists",
         exportOnto,
         {Qt::Key_Tab, Qt::Key_Space},
         [&] { return testsupport::waitFor([&] { return testsupport::readFile(there).startsWith("%PDF"); }); }},
        {"Do you want to save the changes",
         [&] {
             press(Qt::ControlModifier | Qt::Key_R);
             press(Qt::ControlModifier | Qt::Key_W);
         },
         {Qt::Key_Escape},
         [&] { return window->isVisible(); }},
        {"already exists",
         [&] {
             askWhereToExtract(window->screen()->model(), window);
             auto* panel = window->findChild<QFileDialog*>();
             ASSERT_TRUE(testsupport::waitFor([&] { return QApplication::activeWindow() == panel; }));
             QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
             QTest::keyClicks(QApplication::focusWidget(), "there.pdf");
             press(Qt::Key_Return);
         },
         {Qt::Key_Escape},
         kept},
        {"couldn't share this PDF",
         [&] {
             qputenv("PATH", dir.path().toLocal8Bit()); // no mail program
             from = window->findChild<DocumentToolbarItems*>()->shareButton();
             for (int i = 0; i < 60 && QApplication::focusWidget() != from; ++i) press(Qt::Key_Tab);
             press(Qt::Key_Space);
             ShareMenu* menu = nullptr;
             ASSERT_TRUE(
                 testsupport::waitFor([&] { return (menu = window->findChild<ShareMenu*>()) && menu->isVisible(); }));
             menu->setActiveAction(menu->emailAction());
             QTest::keyClick(menu, Qt::Key_Return);
         },
         {Qt::Key_Return},
         [] { return true; }},
    };
    const QByteArray path = qgetenv("PATH");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.asks);
        testsupport::writeFile(there, "kept");
        DocumentController owner;
        controller = &owner;
        QByteArray pdf = testsupport::makeTextPdf(2);
        if (row.repaired) pdf.replace(pdf.lastIndexOf("startxref\n") + 10, 4, "12\n");
        window = owner.openDocument(testsupport::writeFile(dir, "doc.pdf", pdf));
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(window) && viewertest::waitForPages(*window->screen()));
        QWidget* page = window->screen()->pageViewHost()->view();
        page->setFocus(Qt::OtherFocusReason);
        from = page;
        QPointer<QMessageBox> asked;
        bool keys = false, seen = false;
        QStringList texts;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            for (QWidget* each : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(each); box && box->isVisible() && box != asked) {
                    texts << box->windowTitle() + u' ' + box->text();
                    if (asked) return box->reject(); // one question a row
                    seen = true;
                    keys = hasTheKeys(asked = box);
                    for (const QKeyCombination answer : row.answer) press(answer);
                }
        });
        watch.start(10);
        row.ask();
        ASSERT_TRUE(testsupport::waitFor([&] { return seen && (!asked || !asked->isVisible()); }));
        qputenv("PATH", path);
        EXPECT_TRUE(keys);
        EXPECT_EQ(texts.size(), 1);
        EXPECT_TRUE(texts.value(0).contains(QString::fromUtf8(row.asks))) << texts.join('|').toStdString();
        EXPECT_TRUE(row.answered());
        // Replaced, the export goes on and closes its sheet.
        EXPECT_TRUE(row.answer.size() > 1 || testsupport::waitFor([&] { return QApplication::focusWidget() == from; }));
        owner.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
        owner.closeAll();
    }
}
