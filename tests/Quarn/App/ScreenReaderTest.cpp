// What a keyboard and a screen reader meet in a document window: every sheet
// and popover among the application's windows, named, each of its controls a
// named stop of Tab.
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/App/ViewerScreen.h"
#include "Quarn/App/ViewerScreenHarness.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/UnnamedControls.h"
#include "Quarn/Export/ExportSheet.h"
#include "Quarn/Signatures/SignPopover.h"
#include "Quarn/Signatures/SignToolbarItem.h"
#include "Quarn/Signatures/SignatureSheet.h"
#include "Quarn/Viewer/DocumentInfoView.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace quarn;

namespace {

// Windows read the standard settings: keep them away from the user's.
const bool privateConfig = testsupport::usePrivateConfigDir();

// A window of a corpus file, opened as the application opens one.
struct Shown {
    QTemporaryDir dir;
    DocumentController controller;
    DocumentWindow* window = nullptr;

    explicit Shown(const char* corpusName)
    {
        controller.showFailure = [](const QString&, const QString&, QWidget*) {};
        controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
        const QString path = dir.filePath(QStringLiteral("doc.pdf"));
        QFile::copy(QString::fromStdString(testsupport::corpusPath(corpusName)), path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        window = controller.openDocument(path);
        QApplication::setActiveWindow(window);
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
        EXPECT_TRUE(viewertest::waitForPages(*window->screen()));
    }
    ~Shown() { controller.closeAll(); }

    QWindow* keys() const { return window->windowHandle(); }
    QuarnPDFView& view() const { return *window->screen()->pageViewHost()->view(); }
};

} // namespace

// Each sheet and popover, opened as the user opens it, is one of the
// application's windows a reader finds by its name; every control in it has
// a name, and Tab, sent to the window, stops on each of them in turn and on
// nothing unnamed (a scroll area, a frame).
TEST(ScreenReader, EverySheetAndPopoverIsNamedAndGoneThroughByTab)
{
    Shown shown("pdflatex-4-pages.pdf");
    auto* sign = shown.window->findChild<SignToolbarItem*>();
    ASSERT_NE(sign, nullptr);
    struct Row {
        const char* name;
        std::function<void()> open;
        std::function<QWidget*()> find;
        bool popover; // its keys come through the window under it
    };
    const Row rows[] = {
        {"Document info", [&] { QTest::keyClick(shown.keys(), Qt::Key_I, Qt::ControlModifier); },
         [&] { return static_cast<QWidget*>(shown.window->findChild<DocumentInfoPopover*>()); }, true},
        {"Fill and sign", [&] { QTest::mouseClick(sign->button(), Qt::LeftButton); },
         [&] { return static_cast<QWidget*>(sign->popover()); }, true},
        {"Export", [&] { QTest::keyClick(shown.keys(), Qt::Key_E, Qt::ControlModifier); },
         [&] { return static_cast<QWidget*>(shown.window->findChild<ExportSheet*>()); }, false},
        {"New signature",
         [&] { QTest::keyClick(shown.keys(), Qt::Key_S, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier); },
         [&] { return static_cast<QWidget*>(sign->sheet()); }, false},
    };
    for (const Row& row : rows) {
        row.open();
        ASSERT_TRUE(testsupport::waitFor([&] { return row.find() && row.find()->isVisible(); })) << row.name;
        QWidget* sheet = row.find();
        QAccessibleInterface* node = accessibletest::applicationWindow(sheet);
        ASSERT_NE(node, nullptr) << row.name;
        EXPECT_EQ(node->text(QAccessible::Name), QString::fromUtf8(row.name));
        EXPECT_EQ(node->role(), QAccessible::Dialog) << row.name;
        EXPECT_GT(node->childCount(), 0) << row.name;
        EXPECT_EQ(accessibletest::unnamedControls(sheet), QStringList()) << row.name;

        QWindow* keys = row.popover ? shown.keys() : sheet->windowHandle();
        const QList<QWidget*> stops = accessibletest::tabStops(keys);
        EXPECT_GT(stops.size(), 2) << row.name;
        EXPECT_EQ(accessibletest::unnamedStops(stops), QStringList()) << row.name;
        for (QWidget* stop : stops) EXPECT_TRUE(sheet->isAncestorOf(stop)) << row.name;
        EXPECT_EQ(accessibletest::unreached(sheet, stops), QStringList()) << row.name;

        QTest::keyClick(keys, Qt::Key_Escape);
        ASSERT_TRUE(testsupport::waitFor([&] { return !row.find() || !row.find()->isVisible(); })) << row.name;
        QApplication::setActiveWindow(shown.window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(shown.window));
    }
}
