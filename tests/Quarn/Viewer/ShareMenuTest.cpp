#include "Quarn/Viewer/ShareMenu.h"
#include "Quarn/App/ViewerScreenHarness.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Viewer/ToolbarItems.h"
#include "support/TestSupport.h"
#include "support/UrlCatcher.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

using namespace quarn;

namespace {

void touch(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("x");
}

// A session bus of the test's own, made the process's, with a file manager
// on it that refuses each ShowItems a moment after it is asked. The bus ends
// with it.
class RefusingFileManager : public QDBusVirtualObject {
public:
    RefusingFileManager()
    {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address", "--address=unix:dir=" + dir_.path()});
        daemon_.waitForReadyRead(30000);
        const QString address = QString::fromUtf8(daemon_.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
        bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "file manager"));
        bus_->registerService("org.freedesktop.FileManager1");
        bus_->registerVirtualObject("/org/freedesktop/FileManager1", this);
    }
    ~RefusingFileManager() override
    {
        bus_.reset();
        QDBusConnection::disconnectFromBus("file manager");
        daemon_.terminate();
        daemon_.waitForFinished();
    }
    // Whether the process's session bus reaches this file manager.
    bool reached() const
    {
        const QDBusConnection session = QDBusConnection::sessionBus();
        return session.isConnected()
               && session.interface()->serviceOwner("org.freedesktop.FileManager1").value() == bus_->baseService();
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != "ShowItems") return false;
        QTimer::singleShot(300, this, [message, connection] {
            QDBusConnection(connection).send(message.createErrorReply(QDBusError::Failed, "No window to show it in"));
        });
        return true;
    }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    std::unique_ptr<QDBusConnection> bus_;
};

} // namespace

// ---------------------------------------------------------------- the menu

TEST(ShareMenu, OffersEmailCopyAndShowInFolder)
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Shared copy.pdf");
    touch(path);
    ShareMenu menu(path, nullptr);
    EXPECT_EQ(menu.emailAction()->text(), "Email…");
    EXPECT_EQ(menu.copyAction()->text(), "Copy");
    EXPECT_EQ(menu.revealAction()->text(), "Show in Folder");

    menu.copyAction()->trigger();
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(mime, nullptr);
    ASSERT_EQ(mime->urls().size(), 1);
    EXPECT_EQ(mime->urls().first(), QUrl::fromLocalFile(path));
    EXPECT_TRUE(mime->hasFormat("text/uri-list"));

    QString revealed;
    menu.reveal = [&](const QString& p) { revealed = p; };
    menu.revealAction()->trigger();
    EXPECT_EQ(revealed, path);
}

// Email hands the mail program Share's own copy of the open document under a
// plain name: never the file at its path, here replaced after opening by a
// link to another of the user's files (as a team folder's owner could), nor
// a name xdg-email's road to Thunderbird reads as more than one file.
TEST(ShareMenu, TheMailProgramIsHandedShareOwnCopyOfTheDocument)
{
    QTemporaryDir dir;
    const QString record = dir.filePath("handed");
    testsupport::writeFile(dir.filePath("bin/xdg-email"),
                           "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record.toUtf8() + "'\n",
                           QFile::ReadOwner | QFile::ExeOwner);
    const QString mine = testsupport::writeFile(dir, "private.pdf", testsupport::makeTextPdf(1, "Private words"));
    const QByteArray path = qgetenv("PATH");
    viewertest::Settings settings;
    qputenv("PATH", QFile::encodeName(dir.filePath("bin")) + ':' + path);
    for (const QString name : {"Bob's notes.pdf", "notes, final.pdf", "a\\x27,\\x2fetc\\x2fpasswd.pdf"}) {
        SCOPED_TRACE(name.toStdString());
        const QString file = testsupport::writeFile(dir, name, testsupport::makeTextPdf(1, "Team words"));
        auto document = quarnkit::QuarnDocument::open(file);
        auto screen = viewertest::showScreen(document.get(), file, settings);
        ASSERT_TRUE(QFile::remove(file) && QFile::link(mine, file));
        QWidget* share = screen->findChild<DocumentToolbarItems*>()->shareButton();
        QTest::mouseClick(screen->windowHandle(), Qt::LeftButton, {},
                          share->mapTo(screen.get(), share->rect().center()));
        ShareMenu* menu = nullptr;
        ASSERT_TRUE(
            testsupport::waitFor([&] { return (menu = qobject_cast<ShareMenu*>(QApplication::activePopupWidget())); }));
        menu->setActiveAction(menu->emailAction());
        QTest::keyClick(menu, Qt::Key_Return);
        QMessageBox* alert = nullptr;
        ASSERT_TRUE(testsupport::waitFor(
            [&] { return QFileInfo(record).size() > 0 || (alert = screen->findChild<QMessageBox*>()); }));
        ASSERT_FALSE(alert) << alert->informativeText().toStdString();
        const QStringList handed = QString::fromUtf8(testsupport::readFile(record)).split(u'\n', Qt::SkipEmptyParts);
        QFile::remove(record);
        ASSERT_EQ(handed.size(), 2);
        EXPECT_TRUE(handed.at(1).startsWith(ShareFolder().path() + '/')) << handed.at(1).toStdString();
        for (const QChar c : {u'\'', u',', u'\\', u'%'}) EXPECT_FALSE(handed.at(1).contains(c));
        EXPECT_TRUE(testsupport::runProgram("pdftotext", {handed.at(1), "-"}).contains("Team words"));
    }
    qputenv("PATH", path);
}

TEST(ShareMenu, ShowInFolderWithNothingToShowTheFolderSaysWhyOverTheWindow)
{
    // No file manager on a session bus, or one that refuses late, and
    // xdg-open missing or failing.
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Shared copy.pdf");
    touch(path);
    const QString failing =
        QString("No file manager answered, and xdg-open couldn't open the folder “%1”.").arg(tmp.path());
    const struct {
        const char* name;
        std::optional<QByteArray> script;
        QString reason;
        bool refusing = false; // first: the process takes its session bus once
    } cases[] = {
        {"a file manager refuses late, and xdg-open fails", QByteArray("exit 4"),
         QString(failing).replace("No file manager answered", "The file manager couldn't show the file"), true},
        {"no xdg-open", std::nullopt, "No file manager answered, and xdg-open, which opens folders, isn't installed."},
        {"xdg-open fails", QByteArray("exit 4"), failing},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        const testsupport::XdgOpenStandIn opener(each.script);
        const std::unique_ptr<RefusingFileManager> fileManager(each.refusing ? new RefusingFileManager : nullptr);
        ASSERT_TRUE(!fileManager || fileManager->reached())
            << "the session bus was made earlier in this process: run the test alone, as ctest does";
        QWidget window;
        window.show();
        // The menu under the window's Share button closes as its item is chosen.
        auto* menu = new ShareMenu(path, nullptr, new QWidget(&window));
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->revealAction()->trigger();
        menu->close();
        QMessageBox* alert = nullptr;
        ASSERT_TRUE(testsupport::waitFor([&] { return (alert = window.findChild<QMessageBox*>()) != nullptr; }));
        EXPECT_EQ(alert->text(), "ravlen couldn't show “Shared copy” in its folder.");
        EXPECT_EQ(alert->informativeText(), each.reason);
        EXPECT_TRUE(alert->isVisible());
        // A name may hold what reads as markup: both lines show their characters as they are.
        for (const char* line : {"qt_msgbox_label", "qt_msgbox_informativelabel"})
            EXPECT_EQ(alert->findChild<QLabel*>(line)->textFormat(), Qt::PlainText) << line;
    }
}
