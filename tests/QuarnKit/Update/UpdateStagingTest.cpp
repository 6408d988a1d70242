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

TEST(StagingFolder, IsMadePrivateInTheUsersOwnWorkFolder)
{
    QTemporaryDir tmp;
    const StagingFolder::WorkFolder place{tmp.filePath("run"), tmp.path()};
    const auto staging = StagingFolder::make(place, identifier);
    const QString root = StagingFolder::privateRoot(place);
    EXPECT_EQ(root, tmp.filePath("run/ravlen"));
    EXPECT_EQ(QFileInfo(staging->path()).path(), root);
    EXPECT_TRUE(QFileInfo(staging->path()).fileName().startsWith("com.ombri.ravlen-update-"));
    EXPECT_EQ(modeOf(root), 0700u);
    EXPECT_EQ(modeOf(staging->path()), 0700u);
    EXPECT_EQ(staging->archive(), staging->path() + "/update.zip");
    // Each download has a folder of its own.
    EXPECT_NE(StagingFolder::make(place, identifier)->path(), staging->path());

    // An identifier that is no plain name cannot lead the folder elsewhere.
    for (const QString bad : {"", "../escape", "a/b", ".."})
        EXPECT_EQ(StagingFolder::prefix(bad), "-update-") << bad.toStdString();

    // No place at all: the failure says so, not "check your connection".
    const StagingFolder::WorkFolder nowhere{QString(), tmp.filePath("missing/deeper")};
    ASSERT_TRUE(writeFile(tmp.filePath("missing"), "a file, not a folder"));
    try {
        StagingFolder::make(nowhere, identifier);
        ADD_FAILURE() << "a staging folder was made";
    } catch (const UpdateFailure& failure) {
        EXPECT_EQ(failure.error, UpdateError::noPrivateFolder);
    }
}

TEST(StagingFolder, OnlyStaleFoldersNobodyHoldsAreRemoved)
{
    QTemporaryDir tmp;
    const StagingFolder::WorkFolder place{tmp.filePath("run"), tmp.path()};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString root = StagingFolder::privateRoot(place);
    auto held = StagingFolder::make(place, identifier);
    writeFile(held->archive(), "bytes");
    age(held->path(), now, 7200);
    auto handedOver = StagingFolder::make(place, identifier);
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

    StagingFolder::removeStale(place, identifier, now);
    EXPECT_FALSE(QFileInfo::exists(crashed));
    EXPECT_TRUE(QFileInfo::exists(held->archive()));
    EXPECT_TRUE(QFileInfo::exists(handedOver->path()));
    EXPECT_TRUE(QFileInfo::exists(recent));
    EXPECT_TRUE(QFileInfo::exists(another));
    EXPECT_TRUE(QFileInfo::exists(outside.filePath("keep.txt")));

    // Let go, and old enough: now it goes.
    const QString heldPath = held->path();
    held.reset();
    StagingFolder::removeStale(place, identifier, now.addSecs(StagingFolder::staleAfterSeconds));
    EXPECT_FALSE(QFileInfo::exists(heldPath));
    EXPECT_FALSE(QFileInfo::exists(handedOver->path()));
    EXPECT_TRUE(QFileInfo::exists(another));
}

TEST(StagingFolder, APrivateFolderThatIsNotPrivateIsLeftAlone)
{
    QTemporaryDir tmp;
    const StagingFolder::WorkFolder place{tmp.filePath("run"), tmp.path()};
    const QString root = StagingFolder::privateRoot(place);
    const QString old = root + "/com.ombri.ravlen-update-OLD";
    QDir().mkpath(old);
    age(old, QDateTime::currentDateTimeUtc(), 7200);
    ::chmod(QFile::encodeName(root).constData(), 0777); // anyone could have put it there
    StagingFolder::removeStale(place, identifier);
    EXPECT_TRUE(QFileInfo::exists(old));
}
