// Writing a file the user chose: a write in place that fails part way puts
// the old bytes back; the new file is the user's alone until it takes the
// mode of the file it replaces; links are followed only where the kernel's
// protected-links rule would follow them. What an ordinary user meets runs
// as nobody when the tests run as root.
#include "Platform/FileReplacement.h"
#include "Platform/PdfDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstring>
#include <iostream>

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::PdfError;
using platform::PdfErrorCode;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

constexpr uid_t kNobody = 65534;
constexpr uid_t kStranger = 4242;
const bool kRoot = ::geteuid() == 0;

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char& c : bytes) c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// Replaces the file at `path` with `bytes`; the errno of the failure, 0 when written.
int replaceWith(
    const QString& path, const QByteArray& bytes, const std::function<void(int fd)>& whileWriting = [](int) {})
{
    try {
        platform::replaceFileContents(QFile::encodeName(path).toStdString(), [&](int fd) {
            whileWriting(fd);
            if (const int error = platform::writeAllAt(fd, bytes.constData(), std::size_t(bytes.size()), 0))
                throw PdfError(PdfErrorCode::io, "cannot write", error);
        });
    } catch (const PdfError& error) {
        return error.systemError() ? error.systemError() : -1;
    }
    return 0;
}

mode_t modeOf(const QString& path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

// The child half of the next test: writes 60,000 bytes over the 20,000 of
// the file named in the environment, in place (its folder takes no new
// file), where only part of them fit. Skipped in a normal run.
TEST(FileReplacementChild, WritesInPlaceWhereTheNewBytesDoNotFit)
{
    const QString path = qEnvironmentVariable("RAVLEN_IN_PLACE_FILE");
    if (path.isEmpty()) GTEST_SKIP() << "run by FileReplacement.AWriteInPlaceThatFailsPartWayPutsTheOriginalBack";
    const QString folder = QFileInfo(path).path();
    if (qEnvironmentVariableIsSet("RAVLEN_SMALL_DISK")) {
        // A 64 KB file system of this process's own, nearly full.
        ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
        ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        ASSERT_EQ(::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=64k,mode=0755"), 0);
        ASSERT_TRUE(writeFile(path, QByteArray::fromBase64(qgetenv("RAVLEN_ORIGINAL"))));
        QFile filler(folder + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush()) {}
        filler.resize(filler.size() - 8192);
        filler.close();
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0);
    }
    if (kRoot) {
        ASSERT_EQ(::setgroups(0, nullptr), 0);
        ASSERT_EQ(::setgid(kNobody), 0);
        ASSERT_EQ(::setuid(kNobody), 0);
    }
    if (const QByteArray limit = qgetenv("RAVLEN_FILE_SIZE_LIMIT"); !limit.isEmpty()) {
        // The signal the kernel sends keeps its default: ending the process.
        rlimit size = {};
        ::getrlimit(RLIMIT_FSIZE, &size);
        size.rlim_cur = limit.toULongLong();
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &size), 0);
    }
    const QByteArray original = readFile(path);
    ASSERT_EQ(original.size(), 20000);
    const int error = replaceWith(path, QByteArray(60000, 'N'));
    EXPECT_TRUE(error == ENOSPC || error == EFBIG) << std::strerror(error);
    EXPECT_EQ(readFile(path), original);
}

TEST(FileReplacement, AWriteInPlaceThatFailsPartWayPutsTheOriginalBack)
{
    const struct {
        const char* name;
        const char* variable;
        const char* value;
    } cases[] = {
        {"a file-size limit", "RAVLEN_FILE_SIZE_LIMIT", "30000"},
        {"a small file system, full", "RAVLEN_SMALL_DISK", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!kRoot && std::string(c.variable) == "RAVLEN_SMALL_DISK") {
            std::cout << "[ SKIPPED  ] " << c.name << ": mounting a file system needs root\n";
            continue;
        }
        QTemporaryDir dir;
        const QString folder = dir.filePath("shelf"), path = folder + "/doc.pdf";
        const QByteArray original = randomBytes(20000);
        ASSERT_TRUE(writeFile(path, original));
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        // Root may write anywhere: the child becomes nobody, who may write
        // the file but not make one beside it.
        if (kRoot) {
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0);
        } else {
            ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
        }

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("RAVLEN_IN_PLACE_FILE", path);
        env.insert("RAVLEN_ORIGINAL", original.toBase64());
        env.insert(c.variable, c.value);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=FileReplacementChild.*"});
        ASSERT_TRUE(child.waitForFinished(60000));
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << "the write ended the process";
        EXPECT_EQ(child.exitCode(), 0);
        EXPECT_EQ(readFile(path), original);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"doc.pdf"});
    }
}

// While it is written, the new file is the user's alone; then it takes the
// replaced file's mode. A file that replaces none gets the usual mode.
TEST(FileReplacement, TheNewFileIsTheUsersAloneUntilItTakesItsPredecessorsMode)
{
    const struct {
        const char* name;
        mode_t before; // 0: no file there
        mode_t umask;
        mode_t after;
    } cases[] = {
        {"a private file", 0600, 022, 0600},          {"a file others read", 0644, 022, 0644},
        {"a file the group writes", 0660, 077, 0660}, {"a new file", 0, 022, 0644},
        {"a new file, private umask", 0, 077, 0600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("doc.pdf");
        if (c.before) {
            ASSERT_TRUE(writeFile(path, "old"));
            ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), c.before), 0);
        }
        const mode_t saved = ::umask(c.umask);
        mode_t whileWritten = 07777;
        EXPECT_EQ(replaceWith(path, "new",
                              [&](int fd) {
                                  struct stat st = {};
                                  ::fstat(fd, &st);
                                  whileWritten = st.st_mode & 07777;
                              }),
                  0);
        ::umask(saved);
        EXPECT_EQ(readFile(path), "new");
        EXPECT_EQ(modeOf(path), c.after);
        if (c.before) {
            EXPECT_EQ(whileWritten & 077, 0u) << std::oct << whileWritten;
        }
    }
}

TEST(FileReplacement, ALinkIsFollowedWhereTheKernelsProtectedLinksRuleWould)
{
    constexpr uid_t me = 1000, other = 1001, owner = 1002;
    const struct {
        const char* name;
        uid_t linkOwner;
        mode_t folderMode;
        bool followed;
    } cases[] = {
        {"mine, in a sticky folder all may write", me, 01777, true},
        {"another's, in a sticky folder all may write", other, 01777, false},
        {"the folder owner's, in a sticky folder all may write", owner, 01777, true},
        {"another's, in a folder all may write, not sticky", other, 0777, true},
        {"another's, in a sticky folder the group may write", other, 01775, true},
        {"another's, in a sticky folder only its owner writes", other, 01755, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::mayFollowLink(me, c.linkOwner, owner, S_IFDIR | c.folderMode), c.followed) << c.name;
}

// In a sticky folder all may write to, as /tmp: links made by the user (or
// by the folder's owner) lead the write on; another user's link, at the
// name or on the way to it, refuses it and nothing is written.
TEST(FileReplacement, AnotherUsersLinkInASharedFolderIsNeverWrittenThrough)
{
    enum Link { mine, strangers, ownersOfTheFolder };
    const struct {
        const char* name;
        Link link;
        mode_t folderMode;
        bool onTheWay; // the link names a folder the file is written into
        bool followed;
    } cases[] = {
        {"my link", mine, 01777, false, true},
        {"a stranger's link", strangers, 01777, false, false},
        {"a stranger's link to a folder on the way", strangers, 01777, true, false},
        {"the folder owner's link", ownersOfTheFolder, 01777, false, true},
        {"a stranger's link, folder not sticky", strangers, 0777, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!kRoot && c.link != mine) continue;
        QTemporaryDir dir;
        const QString home = dir.filePath("home"), shared = dir.filePath("shared");
        const QString target = home + "/.bashrc";
        ASSERT_TRUE(writeFile(target, "my settings"));
        ASSERT_TRUE(QDir().mkpath(shared));
        ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), c.folderMode), 0);
        if (c.link == ownersOfTheFolder) {
            ASSERT_EQ(::chown(QFile::encodeName(shared).constData(), kStranger, kStranger), 0);
        }
        const QString link = shared + (c.onTheWay ? "/box" : "/report.pdf");
        ASSERT_TRUE(QFile::link(c.onTheWay ? home : target, link));
        if (c.link != mine) {
            ASSERT_EQ(::lchown(QFile::encodeName(link).constData(), kStranger, kStranger), 0);
        }
        const QString written = c.onTheWay ? link + "/.bashrc" : link;

        int error = 0;
        try {
            platform::replaceFileContents(QFile::encodeName(written).toStdString(),
                                          [](int fd) { ASSERT_EQ(platform::writeAllAt(fd, "%PDF", 4, 0), 0); });
        } catch (const PdfError& e) {
            EXPECT_EQ(e.code(), PdfErrorCode::foreignLink) << e.what();
            EXPECT_NE(std::string(e.what()).find(QFile::encodeName(link).toStdString()), std::string::npos);
            error = e.systemError();
        }
        EXPECT_EQ(readFile(target), c.followed ? "%PDF" : "my settings");
        EXPECT_EQ(error, c.followed ? 0 : EACCES);
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        EXPECT_EQ(QDir(shared).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size(),
                  1);
    }
    if (!kRoot) GTEST_SKIP() << "another user's link needs root to make (lchown): only the user's own link was tried";
}
