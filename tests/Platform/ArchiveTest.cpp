#include "Platform/Archive.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace platform;
using Entry = Archive::Entry;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

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
Entry folderEntry(const QString& path, int mode = 0755) { return {Entry::Kind::folder, path, {}, {}, mode}; }

constexpr qint64 noLimit = qint64(1) << 40;

// Unpacks the archive file's bytes, as the updater does once it has checked them.
void unpack(const QString& zip, const QString& out, qint64 limit = noLimit)
{
    Archive::unzip(readFile(zip), out, limit);
}

// Writes the entries as an archive and unpacks it into the new folder "out"
// of `dir`, which it returns.
QString unpackEntries(const QTemporaryDir& dir, const std::vector<Entry>& entries, qint64 limit = noLimit)
{
    const QString zip = dir.filePath("entries.zip");
    Archive::writeZip(zip, entries);
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    unpack(zip, out, limit);
    return out;
}

// Sets the process's umask while it lives.
struct Umask {
    explicit Umask(mode_t mask) : saved(::umask(mask)) {}
    ~Umask() { ::umask(saved); }
    mode_t saved;
};

} // namespace

TEST(Archive, AFolderComesBackWithItsContentsModesAndLinks)
{
    QTemporaryDir dir;
    const QString app = dir.filePath("source/ravlen");
    const auto exec = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                      | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    writeFile(app + "/bin/ravlen", "#!/bin/sh\n", exec);
    writeFile(app + "/share/private.txt", "mine", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    writeFile(app + "/lib/libkit.so.1", "library",
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    ASSERT_TRUE(QFile::link("libkit.so.1", app + "/lib/libkit.so"));

    const QString zip = dir.filePath("update.zip");
    Archive::writeZip(zip, Archive::folderEntries(app));
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    const Umask umask(022);
    unpack(zip, out);

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
        {"a link inside followed by a write through it",
         {fileEntry("app/real/keep"), linkEntry("app/jump", "real"), fileEntry("app/jump/escaped")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString zip = dir.filePath("evil.zip");
        Archive::writeZip(zip, c.entries);
        const QString out = dir.filePath("a/b/out");
        QDir().mkpath(out);
        EXPECT_THROW(unpack(zip, out), Archive::ArchiveError);
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
        EXPECT_THROW(unpack(path, out), Archive::ArchiveError) << path.toStdString();
    EXPECT_THROW(unpack(zip, dir.filePath("no-such-folder")), Archive::ArchiveError);
}

TEST(Archive, LinksAreResolvedThroughTheLinksBeforeThem)
{
    // p/q leads back to the top, so p/q/.. is the folder above it.
    const std::vector<std::pair<const char*, std::vector<Entry>>> cases = {
        {"a chain of links", {folderEntry("p"), linkEntry("p/q", ".."), linkEntry("z", "p/q/..")}},
        {"the same chain, the outer link first", {folderEntry("p"), linkEntry("z", "p/q/.."), linkEntry("p/q", "..")}},
        {"a chain through two links", {linkEntry("a", "."), linkEntry("b", "a/a/a/.."), fileEntry("c")}},
        {"a loop of links", {linkEntry("x", "y"), linkEntry("y", "x")}},
    };
    for (const auto& [why, entries] : cases) {
        SCOPED_TRACE(why);
        QTemporaryDir dir;
        EXPECT_THROW(unpackEntries(dir, entries), Archive::ArchiveError);
    }
    // Links that climb and come back down stay inside, and are kept.
    QTemporaryDir dir;
    const QString out = unpackEntries(dir, {folderEntry("p"), folderEntry("p/r"), linkEntry("p/q", "r/.."),
                                            linkEntry("z", "p/q/../p"), fileEntry("p/data", "here")});
    EXPECT_EQ(readFile(out + "/z/data"), "here");
}

TEST(Archive, AnArchiveThatUnpacksPastTheLimitIsRefused)
{
    QTemporaryDir dir;
    const QString zip = dir.filePath("bomb.zip");
    // Zeros pack tightly: 8 MiB of them fill a few kilobytes of archive.
    Archive::writeZip(zip,
                      {fileEntry("app/a", QByteArray(4 << 20, '\0')), fileEntry("app/b", QByteArray(4 << 20, '\0'))});
    ASSERT_LT(QFileInfo(zip).size(), 1 << 16);
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    EXPECT_THROW(unpack(zip, out, 6 << 20), Archive::ArchiveError);
    EXPECT_LE(QFileInfo(out + "/app/a").size() + QFileInfo(out + "/app/b").size(), 6 << 20);

    const QString fits = dir.filePath("fits");
    QDir().mkpath(fits);
    EXPECT_NO_THROW(unpack(zip, fits, 8 << 20));
}

TEST(Archive, AnEntryIsNeverWrittenTwice)
{
    const std::vector<std::pair<const char*, std::vector<Entry>>> cases = {
        {"the same file twice", {fileEntry("app/x", "first"), fileEntry("app/x", "second")}},
        {"a file, then a link in its place", {fileEntry("app/x", "first"), linkEntry("app/x", "y")}},
        {"the same name spelt another way", {fileEntry("app/x", "first"), fileEntry("app/./x", "second")}},
        {"a file, then a folder of its name", {fileEntry("app/x", "first"), folderEntry("app/x/")}},
        {"a folder twice", {folderEntry("app"), folderEntry("app/")}},
        {"a file where a folder was made", {fileEntry("app/x/inner"), fileEntry("app/x", "second")}},
    };
    for (const auto& [why, entries] : cases) {
        SCOPED_TRACE(why);
        QTemporaryDir dir;
        EXPECT_THROW(unpackEntries(dir, entries), Archive::ArchiveError);
        // What was there first stays as it was.
        const QFileInfo x(dir.filePath("out/app/x"));
        EXPECT_FALSE(x.isSymLink());
        if (x.isFile()) {
            EXPECT_EQ(readFile(x.filePath()), "first");
        }
    }
}

TEST(Archive, ModesComeOutUnderTheUmask)
{
    QTemporaryDir dir;
    const Umask umask(027);
    const QString out =
        unpackEntries(dir, {folderEntry("app", 0777), fileEntry("app/everyone-writes", "x", 0666),
                            fileEntry("app/runs-as-owner", "x", 04777), fileEntry("app/read-only", "x", 0444),
                            folderEntry("app/locked", 0555), fileEntry("app/locked/inside", "x", 0644)});
    EXPECT_EQ(modeOf(out + "/app"), 0750);
    EXPECT_EQ(modeOf(out + "/app/everyone-writes"), 0640);
    EXPECT_EQ(modeOf(out + "/app/runs-as-owner"), 0750);
    EXPECT_EQ(modeOf(out + "/app/read-only"), 0440);
    EXPECT_EQ(modeOf(out + "/app/locked"), 0550);
    EXPECT_EQ(readFile(out + "/app/locked/inside"), "x");
}

TEST(Archive, NamesThatAreNotUtf8AndSpecialFilesAreRefused)
{
    using testsupport::RawZipEntry;
    const std::vector<std::pair<const char*, std::vector<RawZipEntry>>> refused = {
        {"a name that is not UTF-8", {{"app/\xff", "x"}}},
        {"a name that is not UTF-8 under the UTF-8 flag", {{"app/\xfe", "x", 0100644, true}}},
        {"two names that would come out alike", {{"app/a\xff", "x"}, {"app/a\xfe", "y"}}},
        {"an overlong encoding of a slash", {{"app/\xc0\xaf", "x"}}},
        {"a named pipe", {{"app/pipe", "", 0010644}}},
        {"a character device", {{"app/tty", "", 0020644}}},
        {"a block device", {{"app/disk", "", 0060644}}},
        {"a socket", {{"app/socket", "", 0140644}}},
    };
    for (const auto& [why, entries] : refused) {
        SCOPED_TRACE(why);
        QTemporaryDir dir;
        EXPECT_THROW(Archive::unzip(testsupport::makeRawZip(entries), dir.path(), noLimit), Archive::ArchiveError);
        EXPECT_TRUE(
            QDir(dir.filePath("app")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).isEmpty());
    }
    // UTF-8 names come out as they are, with the flag or without it.
    QTemporaryDir dir;
    Archive::unzip(
        testsupport::makeRawZip({{"app/caf\xc3\xa9", "flagged", 0100644, true}, {"app/na\xc3\xafve", "plain"}}),
        dir.path(), noLimit);
    EXPECT_EQ(readFile(dir.filePath(QString::fromUtf8("app/caf\xc3\xa9"))), "flagged");
    EXPECT_EQ(readFile(dir.filePath(QString::fromUtf8("app/na\xc3\xafve"))), "plain");
}

TEST(Archive, PackingRefusesNamesThatAreNotUtf8)
{
    QTemporaryDir dir;
    const QString app = dir.filePath("ravlen");
    writeFile(app + "/bin/ravlen", "program", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray hidden = QFile::encodeName(app) + "/bin/\xff";
    ASSERT_EQ(::mkdir(hidden.constData(), 0755), 0);
    EXPECT_THROW(Archive::folderEntries(app), Archive::ArchiveError);
}
