#include "Platform/Archive.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace platform;
using Entry = Archive::Entry;

namespace {

void writeFile(const QString& path, const QByteArray& data, QFileDevice::Permissions permissions)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();
    file.setPermissions(permissions);
}

Entry fileEntry(const QString& path, const QByteArray& data = "x", int mode = 0644)
{
    return {Entry::Kind::file, path, data, {}, mode};
}
int modeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

Entry linkEntry(const QString& path, const QString& target) { return {Entry::Kind::link, path, {}, target, 0777}; }

} // namespace

TEST(Archive, AFolderComesBackWithItsContentsModesAndLinks)
{
    QTemporaryDir dir;
    const QString app = dir.filePath("source/ravlen");
    const auto exec = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                      QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    writeFile(app + "/bin/ravlen", "#!/bin/sh\n", exec);
    writeFile(app + "/share/private.txt", "mine", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    writeFile(app + "/lib/libkit.so.1", "library", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    ASSERT_TRUE(QFile::link("libkit.so.1", app + "/lib/libkit.so"));

    const QString zip = dir.filePath("update.zip");
    Archive::writeZip(zip, Archive::folderEntries(app));
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    Archive::unzip(zip, out);

    EXPECT_EQ(modeOf(out + "/ravlen/bin/ravlen"), 0755);
    EXPECT_EQ(modeOf(out + "/ravlen/share/private.txt"), 0600);
    EXPECT_EQ(modeOf(out + "/ravlen/lib/libkit.so.1"), 0604);
    EXPECT_TRUE(QFileInfo(out + "/ravlen/lib/libkit.so").isSymLink());
    QFile library(out + "/ravlen/lib/libkit.so");
    ASSERT_TRUE(library.open(QIODevice::ReadOnly));
    EXPECT_EQ(library.readAll(), "library");
}

TEST(Archive, UnsafeEntriesAreRefusedAndNothingLandsOutside)
{
    struct Case {
        const char* name;
        std::vector<Entry> entries;
    };
    const std::vector<Case> cases = {
        {"a name that climbs out", {fileEntry("../escaped")}},
        {"a name that climbs out from inside", {fileEntry("app/../../escaped")}},
        {"an absolute name", {fileEntry("/tmp/ravlen-archive-test-escaped")}},
        {"a link to an absolute path", {linkEntry("app/etc", "/etc")}},
        {"a link that climbs out", {linkEntry("app/up", "../../escaped")}},
        {"a write through a link", {linkEntry("app/here", "."), fileEntry("app/here/../../escaped")}},
        {"a link inside followed by a write through it", {fileEntry("app/real/keep"), linkEntry("app/jump", "real"), fileEntry("app/jump/escaped")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString zip = dir.filePath("evil.zip");
        Archive::writeZip(zip, c.entries);
        const QString out = dir.filePath("a/b/out");
        QDir().mkpath(out);
        EXPECT_THROW(Archive::unzip(zip, out), Archive::ArchiveError);
        EXPECT_FALSE(QFileInfo::exists(dir.filePath("a/b/escaped")));
        EXPECT_FALSE(QFileInfo::exists(dir.filePath("a/escaped")));
        EXPECT_FALSE(QFileInfo::exists(dir.filePath("a/b/out/app/real/escaped")));
    }
    EXPECT_FALSE(QFileInfo::exists("/tmp/ravlen-archive-test-escaped"));
}

TEST(Archive, DamagedOrMissingArchivesAreErrors)
{
    QTemporaryDir dir;
    const QString zip = dir.filePath("good.zip");
    Archive::writeZip(zip, {fileEntry("app/Info.json", QByteArray(5000, 'a'))});
    QFile whole(zip);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    whole.close();

    QFile cut(dir.filePath("cut.zip"));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(bytes.left(bytes.size() / 3));
    cut.close();
    QFile text(dir.filePath("text.zip"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not an archive at all");
    text.close();

    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    for (const QString& path : {cut.fileName(), text.fileName(), dir.filePath("missing.zip")})
        EXPECT_THROW(Archive::unzip(path, out), Archive::ArchiveError) << path.toStdString();
    EXPECT_THROW(Archive::unzip(zip, dir.filePath("no-such-folder")), Archive::ArchiveError);
}
