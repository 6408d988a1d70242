#include "Platform/UserDefaults.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/App/LaunchTasks.h"
#include "support/OtherUsers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace quarn;

namespace {

int visiblePanels()
{
    int panels = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        panels += qobject_cast<QFileDialog*>(widget) && widget->isVisible();
    return panels;
}

} // namespace

TEST(LaunchTasks, LaunchingAgainBringsAMinimisedWindowBack)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("d.json"));
    DocumentController controller;
    controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    LaunchTasks tasks(controller, defaults);
    DocumentWindow* window =
        controller.openDocument(QString::fromStdString(testsupport::corpusPath("pdflatex-4-pages.pdf")));
    ASSERT_NE(window, nullptr);
    window->showMinimized();
    ASSERT_TRUE(testsupport::waitFor([&] { return window->isMinimized(); }));
    tasks.reopen(); // what a second launch without files asks of the first
    EXPECT_TRUE(testsupport::waitFor([&] { return !window->isMinimized() && window->isVisible(); }));
    EXPECT_FALSE(controller.openPanelVisible());
    controller.closeAll();
}

TEST(LaunchTasks, WithoutTheWelcomeSettingAnOpenPanelShowsButNotASecondOne)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("d.json"));
    defaults.set("ravlenShowWelcome", false);
    DocumentController controller;
    LaunchTasks tasks(controller, defaults);
    tasks.perform();
    EXPECT_TRUE(controller.openPanelVisible());
    tasks.perform();
    EXPECT_EQ(visiblePanels(), 1);
    EXPECT_TRUE(tasks.didClaim());
    controller.closeOpenPanels();
}

TEST(LaunchTasks, WelcomeSettingClosesOpenPanelsFirst)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("d.json"));
    DocumentController controller;
    controller.runOpenPanel();
    ASSERT_TRUE(controller.openPanelVisible());
    LaunchTasks tasks(controller, defaults);
    int welcomes = 0;
    tasks.showWelcome = [&] { ++welcomes; };
    // Nothing open: the panel is cancelled, then the welcome window greets.
    tasks.perform();
    EXPECT_EQ(welcomes, 1);
    testsupport::waitFor([] { return visiblePanels() == 0; });
    EXPECT_EQ(visiblePanels(), 0);
    EXPECT_FALSE(controller.openPanelVisible());
    // Launched again without a file and nothing on screen: the welcome again.
    tasks.reopen();
    EXPECT_EQ(welcomes, 2);
}

TEST(LaunchTasks, RunOnceAfterTheDelay)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("d.json"));
    defaults.set("ravlenShowWelcome", false);
    DocumentController controller;
    LaunchTasks tasks(controller, defaults);
    tasks.schedule();
    EXPECT_FALSE(tasks.didClaim());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tasks.didClaim(); }));
    EXPECT_TRUE(controller.openPanelVisible());
    controller.closeOpenPanels();
}

TEST(LaunchTasks, TheAlertOfAFileThatCouldNotBeOpenedIsReadBeforeTheOpenPanel)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("d.json"));
    defaults.set("ravlenShowWelcome", false);
    DocumentController controller; // its own alerts, as a launch shows them
    LaunchTasks tasks(controller, defaults);
    // Launched with an empty file, and with a folder named like a PDF.
    QFile empty(dir.filePath("empty.pdf"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    ASSERT_TRUE(QDir(dir.path()).mkdir("x.pdf"));
    for (const QString& path : {empty.fileName(), dir.filePath("x.pdf")}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(controller.openDocument(path), nullptr);
        QWidget* alert = controller.openFailureAlert();
        ASSERT_TRUE(alert);
        tasks.perform(); // a panel it shows shows at once
        EXPECT_EQ(visiblePanels(), 0) << "the panel would hide the alert";
        EXPECT_TRUE(alert->isVisible());
        // Dismissed, the alert makes way for the panel.
        QTest::keyClick(alert, Qt::Key_Return);
        ASSERT_TRUE(testsupport::waitFor([&] { return controller.openPanelVisible(); }));
        controller.closeOpenPanels();
        ASSERT_TRUE(testsupport::waitFor([] { return visiblePanels() == 0; }));
    }
}

// Base folders passed over at start are told once, in a notice beside the
// window that waits for no answer: where this session keeps the files, and
// that they go at logout. A run that kept its folders tells nothing.
TEST(LaunchTasks, ABaseFolderPassedOverIsToldOnceBesideTheWindow)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("d.json"));
    DocumentController controller;
    controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    const QString runtime = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    const QString kept = (runtime.isEmpty() ? dir.path() : runtime) + "/ravlen";
    {
        LaunchTasks quiet(controller, defaults);
        quiet.showWelcome = {};
        quiet.perform();
        EXPECT_EQ(quiet.baseFolderNotice(), nullptr);
    }
    LaunchTasks tasks(controller, defaults);
    tasks.showWelcome = {};
    tasks.setReplacedBaseFolders(
        {{"HOME", "/home/ada", "/home/ada belongs to another user", kept + "/home"},
         {"XDG_CONFIG_HOME", "/home/ada/.config", "others may write to /home/ada/.config", kept + "/config"},
         {"XDG_CACHE_HOME", "/home/ada/.cache", "others may write to /home/ada/.cache", kept + "/cache"}});
    DocumentWindow* window =
        controller.openDocument(QString::fromStdString(testsupport::corpusPath("pdflatex-4-pages.pdf")));
    ASSERT_NE(window, nullptr);
    tasks.perform();
    QMessageBox* notice = tasks.baseFolderNotice();
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(testsupport::waitFor([&] { return notice->isVisible(); }));
    EXPECT_EQ(notice->windowModality(), Qt::NonModal);
    const QString said = notice->text() + u'\n' + notice->informativeText();
    EXPECT_TRUE(said.contains("/home/ada/.config")) << said.toStdString();
    EXPECT_TRUE(said.contains("/home/ada/.cache")) << said.toStdString();
    EXPECT_TRUE(said.contains(kept)) << said.toStdString();
    EXPECT_TRUE(said.contains("this session")) << said.toStdString();
    EXPECT_TRUE(said.contains("Explore doesn't search")) << said.toStdString();
    if (!runtime.isEmpty()) {
        EXPECT_TRUE(said.contains("log out")) << said.toStdString();
    }
    // The window stays usable, and a second pass tells nothing more.
    EXPECT_TRUE(window->isEnabled());
    tasks.perform();
    EXPECT_EQ(tasks.baseFolderNotice(), notice);
    int notices = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        notices += qobject_cast<QMessageBox*>(widget) && widget->isVisible();
    EXPECT_EQ(notices, 1);
    notice->close();
    controller.closeAll();
}

// Started with HOME naming another user's folder (as su passes it on) and
// no session bus, neither ravlen nor what it starts (dbus-launch, the X
// resources, cursor themes) reads or writes anything in it, and the file
// given opens. Run under strace, on an X server of the test's own.
TEST(LaunchTasks, AHomeFolderAnotherUserCanChangeIsNeitherReadNorWritten)
{
    if (QStandardPaths::findExecutable("strace").isEmpty() || QStandardPaths::findExecutable("Xvfb").isEmpty()
        || !testsupport::canBecomeOtherUsers())
        GTEST_SKIP() << "strace, Xvfb and root (to give a folder away) are needed";
    QTemporaryDir dir;
    const QString home = dir.filePath("home"), run = dir.filePath("run"), trace = dir.filePath("trace");
    const QString pdf = dir.filePath("given.pdf");
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(run) && testsupport::writeFile(pdf, testsupport::makeTextPdf(1)));
    ASSERT_EQ(::chmod(QFile::encodeName(run).constData(), 0700), 0);
    ASSERT_EQ(::chown(QFile::encodeName(home).constData(), testsupport::kOtherUser, testsupport::kOtherUser), 0);
    QProcess x, traced;
    x.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
    ASSERT_TRUE(testsupport::waitFor([&] { return x.waitForReadyRead(50) || x.canReadLine(); }));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("HOME", home);
    environment.insert("DISPLAY", ':' + QString::fromLatin1(x.readLine()).trimmed());
    environment.insert("XDG_RUNTIME_DIR", run);
    traced.setProcessEnvironment(environment);
    traced.start("strace", {"-f", "-qq", "-y", "-e", "trace=%file", "-o", trace, RAVLEN_APP, pdf});
    const QByteArray held = '<' + QFile::encodeName(pdf) + '>';
    EXPECT_TRUE(testsupport::waitFor([&] { return testsupport::readFile(trace).contains(held); }, 60000));
    // ravlen, then the session bus started for it, with the X server; then strace ends.
    const QString children = QStringLiteral("/proc/%1/task/%1/children").arg(traced.processId());
    if (const int ravlen = testsupport::readFile(children).split(' ').front().toInt(); ravlen > 0)
        ::kill(ravlen, SIGTERM);
    x.terminate();
    x.waitForFinished();
    EXPECT_TRUE(traced.waitForFinished());
    const QRegularExpression underHome("[<\"]" + QRegularExpression::escape(home) + "(/|>, \"[^\"])");
    for (const QString& line : QString::fromLocal8Bit(testsupport::readFile(trace)).split('\n'))
        EXPECT_FALSE(underHome.match(line).hasMatch()) << line.toStdString();
}
