#include "Quarn/Viewer/ShareMenu.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
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
    ShareMenu menu("/tmp/x.pdf");
    menu.launch = [](const QString&, const QStringList&) { return false; };
    QString failure;
    QObject::connect(&menu, &ShareMenu::failed, [&](const QString& description) { failure = description; });
    menu.emailAction()->trigger();
    EXPECT_FALSE(failure.isEmpty());
}
