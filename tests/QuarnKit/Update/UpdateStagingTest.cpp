#include "QuarnKit/Update/UpdateStaging.h"

#include "QuarnKit/Update/UpdateError.h"
#include "QuarnKit/Update/UpdateFixtures.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/time.h>

using namespace quarnkit;
using updatefixtures::writeFile;

namespace {

const QString identifier = QStringLiteral("com.ombri.ravlen");

// Sets a path's modification time (not through a link) `seconds` before `now`.
void age(const QString& path, const QDateTime& now, qint64 seconds)
{
    const timeval times[2] = {{time_t(now.toSecsSinceEpoch() - seconds), 0},
                              {time_t(now.toSecsSinceEpoch() - seconds), 0}};
    ::lutimes(QFile::encodeName(path).constData(), times);
}

unsigned modeOf(const QString& path)
{
    struct stat info {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

} // namespace

TEST(StagingFolder, IsMadePrivateInTheUsersOwnTemporaryFolder)
{
    QTemporaryDir tmp;
    const auto staging = StagingFolder::make(tmp.path(), identifier);
    const QString root = StagingFolder::privateRoot(tmp.path());
    EXPECT_EQ(QFileInfo(staging->path()).path(), root);
    EXPECT_TRUE(QFileInfo(staging->path()).fileName().startsWith("com.ombri.ravlen-update-"));
    EXPECT_EQ(modeOf(root), 0700u);
    EXPECT_EQ(modeOf(staging->path()), 0700u);
    EXPECT_EQ(staging->archive(), staging->path() + "/update.zip");
    // Each download has a folder of its own.
    EXPECT_NE(StagingFolder::make(tmp.path(), identifier)->path(), staging->path());

    // An identifier that is no plain name cannot lead the folder elsewhere.
    for (const QString bad : {"", "../escape", "a/b", ".."})
        EXPECT_EQ(StagingFolder::prefix(bad), "-update-") << bad.toStdString();

    // A private folder planted as a link by someone else is refused, not followed.
    QTemporaryDir other, elsewhere;
    ASSERT_TRUE(QFile::link(elsewhere.path(), StagingFolder::privateRoot(other.path())));
    try {
        StagingFolder::make(other.path(), identifier);
        ADD_FAILURE() << "a link was used as the private folder";
    } catch (const UpdateFailure& failure) {
        EXPECT_EQ(failure.error, UpdateError::downloadFailed);
    }
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
}

TEST(StagingFolder, OnlyStaleFoldersNobodyHoldsAreRemoved)
{
    QTemporaryDir tmp;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString root = StagingFolder::privateRoot(tmp.path());
    auto held = StagingFolder::make(tmp.path(), identifier);
    writeFile(held->archive(), "bytes");
    age(held->path(), now, 7200);
    auto handedOver = StagingFolder::make(tmp.path(), identifier);
    age(handedOver->path(), now, 86400);
    handedOver->handOver(); // the script's now: its time is new again

    const QString crashed = root + "/com.ombri.ravlen-update-CRASHED";
    writeFile(crashed + "/Unzipped/ravlen/bin/ravlen", "program");
    age(crashed, now, 7200);
    const QString recent = root + "/com.ombri.ravlen-update-RECENT";
    QDir().mkpath(recent);
    age(recent, now, 600);
    const QString another = root + "/org.example.other-update-OLD";
    QDir().mkpath(another);
    age(another, now, 7200);
    // A link with a staging name leads outside: the link may go, its target stays.
    QTemporaryDir outside;
    writeFile(outside.filePath("keep.txt"), "keep");
    const QString link = root + "/com.ombri.ravlen-update-LINK";
    ASSERT_TRUE(QFile::link(outside.path(), link));

    StagingFolder::removeStale(tmp.path(), identifier, now);
    EXPECT_FALSE(QFileInfo::exists(crashed));
    EXPECT_TRUE(QFileInfo::exists(held->archive()));
    EXPECT_TRUE(QFileInfo::exists(handedOver->path()));
    EXPECT_TRUE(QFileInfo::exists(recent));
    EXPECT_TRUE(QFileInfo::exists(another));
    EXPECT_TRUE(QFileInfo::exists(outside.filePath("keep.txt")));

    // Let go, and old enough: now it goes.
    const QString heldPath = held->path();
    held.reset();
    StagingFolder::removeStale(tmp.path(), identifier, now.addSecs(StagingFolder::staleAfterSeconds));
    EXPECT_FALSE(QFileInfo::exists(heldPath));
    EXPECT_FALSE(QFileInfo::exists(handedOver->path()));
    EXPECT_TRUE(QFileInfo::exists(another));
}

TEST(StagingFolder, APrivateFolderThatIsNotPrivateIsLeftAlone)
{
    QTemporaryDir tmp;
    const QString root = StagingFolder::privateRoot(tmp.path());
    const QString old = root + "/com.ombri.ravlen-update-OLD";
    QDir().mkpath(old);
    age(old, QDateTime::currentDateTimeUtc(), 7200);
    ::chmod(QFile::encodeName(root).constData(), 0777); // anyone could have put it there
    StagingFolder::removeStale(tmp.path(), identifier);
    EXPECT_TRUE(QFileInfo::exists(old));
}
