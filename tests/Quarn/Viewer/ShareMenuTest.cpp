#include "Quarn/Viewer/ShareMenu.h"
#include "support/TestSupport.h"
#include "support/UrlCatcher.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

using namespace quarn;

namespace {

void touch(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("x");
}

} // namespace

// ---------------------------------------------------------------- the menu

TEST(ShareMenu, OffersEmailCopyAndShowInFolder)
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Shared copy.pdf");
    touch(path);
    ShareMenu menu(path);
    EXPECT_EQ(menu.emailAction()->text(), "Email…");
    EXPECT_EQ(menu.copyAction()->text(), "Copy");
    EXPECT_EQ(menu.revealAction()->text(), "Show in Folder");

    QString program;
    QStringList arguments;
    menu.launch = [&](const QString& p, const QStringList& a) {
        program = p;
        arguments = a;
        return true;
    };
    menu.emailAction()->trigger();
    ASSERT_TRUE(testsupport::waitFor([&] { return !program.isEmpty(); }));
    EXPECT_EQ(program, "xdg-email");
    EXPECT_EQ(arguments, QStringList({"--attach", path}));

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

TEST(ShareMenu, AMailProgramThatDoesNotStartIsReported)
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("x.pdf");
    touch(path);
    ShareMenu menu(path);
    menu.launch = [](const QString&, const QStringList&) { return false; };
    QString failure;
    QObject::connect(&menu, &ShareMenu::failed, [&](const QString& description) { failure = description; });
    menu.emailAction()->trigger();
    ASSERT_TRUE(testsupport::waitFor([&] { return !failure.isEmpty(); }));
    EXPECT_EQ(failure, "The mail program could not be started (xdg-email).");
}

TEST(ShareMenu, TheMailProgramIsHandedOneFileWhateverItsName)
{
    // xdg-email hands Thunderbird the path between single quotes, where a
    // quote starts a field and a comma another attachment.
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Bob's notes, final.pdf");
    testsupport::writeFile(path, "%PDF-1.4 Bob's bytes");
    ShareMenu menu(path);
    QStringList arguments;
    menu.launch = [&](const QString&, const QStringList& a) {
        arguments = a;
        return true;
    };
    menu.emailAction()->trigger();
    ASSERT_TRUE(testsupport::waitFor([&] { return !arguments.isEmpty(); }));
    ASSERT_EQ(arguments.size(), 2);
    EXPECT_EQ(arguments.at(1).count(u'\''), 0) << arguments.at(1).toStdString();
    EXPECT_EQ(arguments.at(1).count(u','), 0) << arguments.at(1).toStdString();
    EXPECT_TRUE(arguments.at(1).endsWith(u"/Bob’s notes‚ final.pdf")) << arguments.at(1).toStdString();
    EXPECT_EQ(testsupport::readFile(arguments.at(1)), "%PDF-1.4 Bob's bytes");
}

TEST(ShareMenu, ShowInFolderWithNothingToShowTheFolderSaysWhyOverTheWindow)
{
    // No file manager on a session bus, and xdg-open missing or failing.
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Shared copy.pdf");
    touch(path);
    const struct {
        const char* name;
        std::optional<QByteArray> script;
        QString reason;
    } cases[] = {
        {"no xdg-open", std::nullopt, "No file manager answered, and xdg-open, which opens folders, isn't installed."},
        {"xdg-open fails", QByteArray("exit 4"),
         QString("No file manager answered, and xdg-open couldn't open the folder “%1”.").arg(tmp.path())},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        const testsupport::XdgOpenStandIn opener(each.script);
        QWidget window;
        window.show();
        // The menu under the window's Share button closes as its item is chosen.
        auto* menu = new ShareMenu(path, new QWidget(&window));
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
