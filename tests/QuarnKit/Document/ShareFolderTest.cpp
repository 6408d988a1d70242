#include "QuarnKit/Document/ShareFolder.h"
#include "support/OtherUsers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quarnkit;

namespace {

mode_t modeOf(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

// Sets the modification time of the entry itself (a link is not followed).
void setModified(const QString& path, const QDateTime& when)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {when.toSecsSinceEpoch(), 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW);
}

void touch(const QString& path, const QDateTime& when)
{
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("x");
    }
    setModified(path, when);
}

} // namespace

TEST(ShareFolder, IsPrivateToTheUser)
{
    QTemporaryDir tmp;
    const ShareFolder folder({tmp.filePath("run"), tmp.path()});
    EXPECT_EQ(folder.path(), tmp.filePath("run/ravlen/ravlen Share"));
    folder.prepare();
    EXPECT_EQ(modeOf(folder.privateRoot()), 0700u);
    EXPECT_EQ(modeOf(folder.path()), 0700u);

    // A share folder left open to others is closed again.
    ::chmod(QFile::encodeName(folder.path()).constData(), 0777);
    folder.prepare();
    EXPECT_EQ(modeOf(folder.path()), 0700u);

    const QString copy = folder.writeCopy("%PDF-1.4 test", "Report");
    EXPECT_TRUE(copy.startsWith(folder.path() + "/"));
    EXPECT_TRUE(copy.endsWith("/Report.pdf"));
    EXPECT_EQ(modeOf(QFileInfo(copy).absolutePath()), 0700u);
    EXPECT_EQ(modeOf(copy), 0600u);
    QFile written(copy);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), "%PDF-1.4 test");
}

// The private work folder's rules are its own tests'; here, that a share goes through them.
TEST(ShareFolder, APrivateRootPlantedAsALinkIsPassedOver)
{
    QTemporaryDir tmp, elsewhere;
    ASSERT_TRUE(QDir().mkpath(tmp.filePath("run")));
    ::chmod(QFile::encodeName(tmp.filePath("run")).constData(), 0700);
    ASSERT_TRUE(QFile::link(elsewhere.path(), tmp.filePath("run/ravlen")));
    // Run as root, it is another user's: root's own, where only root writes, is followed.
    if (testsupport::canBecomeOtherUsers()) {
        ASSERT_EQ(::lchown(QFile::encodeName(tmp.filePath("run/ravlen")).constData(), testsupport::kOtherUser,
                           testsupport::kOtherUser),
                  0);
    }
    const ShareFolder folder({tmp.filePath("run"), tmp.path()});
    const QString copy = folder.writeCopy("data", "Report");
    EXPECT_TRUE(copy.startsWith(tmp.filePath("ravlen-"))) << copy.toStdString();
    EXPECT_EQ(modeOf(folder.privateRoot()), 0700u);
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
}

TEST(ShareFolder, RefusesLinksInsteadOfFollowingThem)
{
    QTemporaryDir tmp;
    QTemporaryDir elsewhere;
    const ShareFolder folder({tmp.filePath("run"), tmp.path()});

    // The share folder planted as a link.
    ASSERT_TRUE(QDir().mkpath(folder.privateRoot()));
    ASSERT_EQ(::symlink(QFile::encodeName(elsewhere.path()).constData(), QFile::encodeName(folder.path()).constData()),
              0);
    try {
        folder.prepare();
        ADD_FAILURE() << "a link was accepted";
    } catch (const ShareError& error) {
        EXPECT_TRUE(error.message().contains("link")) << error.message().toStdString();
    }
    EXPECT_THROW(folder.writeCopy("data", "Report"), ShareError);
    EXPECT_TRUE(QDir(elsewhere.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty());

    // A plain file in its place.
    QFile::remove(folder.path());
    touch(folder.path(), QDateTime::currentDateTime());
    EXPECT_THROW(folder.prepare(), ShareError);
}

TEST(ShareFolder, CleaningRemovesOnlyCopiesOlderThanADayByModificationTime)
{
    QTemporaryDir tmp;
    QTemporaryDir outside;
    const ShareFolder folder({QString(), tmp.path()});
    folder.prepare();
    const QDateTime now = QDateTime::currentDateTimeUtc();

    const QString old = folder.path() + "/OLD";
    QDir().mkpath(old);
    touch(old + "/a.pdf", now.addDays(-3));
    setModified(old, now.addSecs(-ShareFolder::maxAgeSeconds - 60));
    const QString fresh = folder.path() + "/FRESH";
    QDir().mkpath(fresh);
    touch(fresh + "/b.pdf", now.addSecs(-3600));
    setModified(fresh, now.addSecs(-3600));
    touch(folder.path() + "/stray.pdf", now.addDays(-2));
    // An old link into another folder goes as a link; what it points at stays.
    touch(outside.filePath("keep.pdf"), now.addDays(-5));
    const QString link = folder.path() + "/link";
    ASSERT_EQ(::symlink(QFile::encodeName(outside.path()).constData(), QFile::encodeName(link).constData()), 0);
    setModified(link, now.addDays(-4));

    folder.clean(now);
    EXPECT_FALSE(QFileInfo::exists(old));
    EXPECT_FALSE(QFileInfo::exists(folder.path() + "/stray.pdf"));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(fresh + "/b.pdf"));
    EXPECT_TRUE(QFileInfo::exists(outside.filePath("keep.pdf")));
}

TEST(ShareFolder, CopiesAreNamedAfterTheFile)
{
    EXPECT_EQ(ShareFolder::baseName("/home/u/Docs/Annual report.pdf"), "Annual report");
    EXPECT_EQ(ShareFolder::baseName("/home/u/Docs/archive.tar.pdf"), "archive.tar");
    EXPECT_EQ(ShareFolder::baseName(""), "Untitled");
    EXPECT_EQ(ShareFolder::baseName("/home/u/.pdf"), "Untitled");
}

TEST(ShareFolder, AMailedCopyHasAPlainName)
{
    // Only what xdg-email's road to Thunderbird reads as itself stays.
    const std::pair<QString, QString> cases[] = {
        {"Annual report 2024_v2.final-draft", "Annual report 2024_v2.final-draft"},
        {"Bob's notes, final", "Bob’s notes‚ final"},
        {"a\\x27,\\x2fetc\\x2fpasswd", "a＼x27‚＼x2fetc＼x2fpasswd"},
        {"100% (sure)!", "100％ （sure）！"},
        {"tab\tnew\nline  two", "tab new line two"},
        {"Zürich 東京 Ze\u0301ro", "Zürich 東京 Zéro"},
        {"smile 😀 \u202Egnp.exe", "smile _ _gnp.exe"},
        {"\t", "Untitled"},
        {QString(300, u'é'), QString(120, u'é')},
    };
    for (const auto& [name, plain] : cases) EXPECT_EQ(ShareFolder::plainName(name), plain) << name.toStdString();
}
