#include "QuarnKit/History/HistoryLocator.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace quarnkit;

namespace {

QString touch(const QTemporaryDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("%PDF-1.4\n");
    return path;
}

HistoryEntry entryAt(const QString& path)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return HistoryEntry{QUuid::createUuid(), path, QByteArray("opaque"), std::nullopt, std::nullopt, now, now, 1};
}

} // namespace

TEST(HistoryLocator, TrashFoldersOfTheDesktopAndOfOtherDisks)
{
    struct Case {
        const char* path;
        bool trashed;
    };
    const std::vector<Case> cases{
        {"/home/u/.local/share/Trash/files/a.pdf", true},
        {"/home/u/.local/share/Trash", true},
        {"/home/u/.local/share/Trashy/a.pdf", false},
        {"/media/u/USB/.Trash-1000/files/a.pdf", true},
        {"/media/u/USB/.Trash/1000/files/a.pdf", true},
        {"/media/u/USB/.Trash-/a.pdf", false},
        {"/media/u/USB/.Trash-abc/a.pdf", false},
        {"/Volumes/Disk/.Trashes/501/a.pdf", true},
        {"/media/u/Mac/.DocumentRevisions-V100/a.pdf", true},
        {"/home/u/.Trashcan/a.pdf", false},
        {"/home/u/Trash/a.pdf", false},
        {"/home/u/.trash/a.pdf", false},
        {"//home//u//.Trash//a.pdf", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HistoryLocator::isTrashed(c.path, "/home/u/.local/share/Trash"), c.trashed) << c.path;
}

TEST(HistoryLocator, AFileAtItsPathIsPresentAndAnythingElseMissing)
{
    QTemporaryDir dir;
    const QString here = touch(dir, "here.pdf");
    EXPECT_EQ(HistoryLocator::resolve(entryAt(here), HistoryLocator::defaultExists), HistoryResolution::present(here));
    EXPECT_EQ(HistoryLocator::resolve(entryAt(dir.filePath("gone.pdf")), HistoryLocator::defaultExists),
              HistoryResolution::missing());
    EXPECT_EQ(HistoryLocator::resolve(entryAt(dir.path()), HistoryLocator::defaultExists), HistoryResolution::missing())
        << "a folder is no file";
    const QString thrown = touch(dir, ".Trash-1000/files/thrown.pdf");
    EXPECT_EQ(HistoryLocator::resolve(entryAt(thrown), HistoryLocator::defaultExists), HistoryResolution::missing());

    std::vector<QString> asked;
    HistoryLocator::resolve(entryAt("/x/a.pdf"), [&](const QString& p) {
        asked.push_back(p);
        return true;
    });
    EXPECT_EQ(asked, (std::vector<QString>{"/x/a.pdf"}));
}

TEST(FileIdentity, LinksAndTheirTargetsAreOneFile)
{
    QTemporaryDir dir;
    const QString target = touch(dir, "real/report.pdf");
    const QString twin = touch(dir, "real/twin.pdf"); // same bytes, another file
    const QString link = dir.filePath("link.pdf");
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_TRUE(QFile::link(dir.filePath("real"), dir.filePath("folder-link")));

    EXPECT_TRUE(sameFile(link, target));
    EXPECT_TRUE(sameFile(dir.filePath("folder-link/report.pdf"), target));
    EXPECT_TRUE(sameFile(dir.filePath("real/../real/report.pdf"), target));
    EXPECT_FALSE(sameFile(twin, target));
    EXPECT_TRUE(sameFile(dir.filePath("none/../gone.pdf"), dir.filePath("gone.pdf"))) << "missing: by path";
    EXPECT_FALSE(sameFile(dir.filePath("gone.pdf"), target));
    EXPECT_FALSE(FileIdentity::of(dir.filePath("gone.pdf")));
}
