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
// The file the in-place test writes over, 20,000 bytes.
const QByteArray kOriginal = QByteArray("original ").repeated(2223).left(20000);

// Replaces the file at `path` with `bytes`; the errno of the failure, 0 when written.
int replaceWith(const QString& path, const QByteArray& bytes, const std::function<void(int fd)>& whileWriting = {})
{
    try {
        platform::replaceFileContents(QFile::encodeName(path).toStdString(), [&](int fd) {
            if (whileWriting) whileWriting(fd);
            if (const int error = platform::writeAllAt(fd, bytes.constData(), std::size_t(bytes.size()), 0))
                throw PdfError(PdfErrorCode::io, "cannot write", error);
        });
    } catch (const PdfError& error) {
        return error.code() == PdfErrorCode::foreignLink ? -EACCES : error.systemError();
    }
    return 0;
}

} // namespace

// The child half of the next test: writes 60,000 bytes in place (the
// folder takes no new file) over the file named in the environment, where
// fewer fit. Skipped in a normal run.
TEST(FileReplacementChild, WritesInPlaceWhereTheNewBytesDoNotFit)
{
    const QString path = qEnvironmentVariable("RAVLEN_IN_PLACE_FILE");
    if (path.isEmpty()) GTEST_SKIP() << "run by FileReplacement.AWriteInPlaceThatFailsPartWayPutsTheOriginalBack";
    const QByteArray folder = QFile::encodeName(QFileInfo(path).path());
    if (qEnvironmentVariableIsSet("RAVLEN_SMALL_DISK")) {
        // A 64 KB file system of this process's own, left 8 KB free.
        ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
        ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        ASSERT_EQ(::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=64k,mode=0755"), 0);
        ASSERT_TRUE(writeFile(path, kOriginal));
        QFile filler(folder + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush()) {}
        filler.resize(filler.size() - 8192);
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0);
    }
    if (kRoot) {
        ASSERT_TRUE(::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0);
    }
    if (const QByteArray limit = qgetenv("RAVLEN_FILE_SIZE_LIMIT"); !limit.isEmpty()) {
        // SIGXFSZ keeps its default: ending the process.
        rlimit size = {};
        ::getrlimit(RLIMIT_FSIZE, &size);
        size.rlim_cur = limit.toULongLong();
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &size), 0);
    }
    const int error = replaceWith(path, QByteArray(60000, 'N'));
    EXPECT_TRUE(error == ENOSPC || error == EFBIG) << std::strerror(error);
    EXPECT_EQ(readFile(path), kOriginal);
}

TEST(FileReplacement, AWriteInPlaceThatFailsPartWayPutsTheOriginalBack)
{
    const std::pair<const char*, const char*> cases[] = {{"RAVLEN_FILE_SIZE_LIMIT", "30000"},
                                                         {"RAVLEN_SMALL_DISK", "1"}};
    for (const auto& [variable, value] : cases) {
        SCOPED_TRACE(variable);
        if (!kRoot && std::string(variable) == "RAVLEN_SMALL_DISK") {
            std::cout << "[ SKIPPED  ] a full small file system: mounting one needs root\n";
            continue;
        }
        QTemporaryDir dir;
        const QString folder = dir.filePath("shelf"), path = folder + "/doc.pdf";
        ASSERT_TRUE(writeFile(path, kOriginal));
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        // Root writes anywhere: its child becomes nobody, who may write the
        // file but not make one beside it.
        ASSERT_EQ(kRoot ? ::chown(QFile::encodeName(path).constData(), kNobody, kNobody)
                        : ::chmod(QFile::encodeName(folder).constData(), 0555),
                  0);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("RAVLEN_IN_PLACE_FILE", path);
        env.insert(variable, value);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=FileReplacementChild.*"});
        ASSERT_TRUE(child.waitForFinished(60000));
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << "the write ended the process";
        EXPECT_EQ(child.exitCode(), 0);
        EXPECT_EQ(readFile(path), kOriginal);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"doc.pdf"});
    }
}

// While it is written, the new file is the user's alone; then it takes the
// replaced file's mode. A file that replaces none gets the usual mode.
TEST(FileReplacement, TheNewFileIsTheUsersAloneUntilItTakesItsPredecessorsMode)
{
    const struct {
        mode_t before; // 0: no file there
        mode_t umask;
        mode_t after;
    } cases[] = {{0600, 022, 0600}, {0644, 022, 0644}, {0660, 077, 0660}, {0, 022, 0644}, {0, 077, 0600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.before << " umask " << c.umask);
        QTemporaryDir dir;
        const QString path = dir.filePath("doc.pdf");
        if (c.before) {
            ASSERT_TRUE(writeFile(path, "old"));
            ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), c.before), 0);
        }
        const mode_t saved = ::umask(c.umask);
        struct stat whileWritten = {}, after = {};
        EXPECT_EQ(replaceWith(path, "new", [&](int fd) { ::fstat(fd, &whileWritten); }), 0);
        ::umask(saved);
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &after), 0);
        EXPECT_EQ(readFile(path), "new");
        EXPECT_EQ(after.st_mode & 07777, c.after);
        if (c.before) {
            EXPECT_EQ(whileWritten.st_mode & 077, 0u);
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
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::mayTrustEntry(me, c.linkOwner, owner, S_IFDIR | c.folderMode), c.followed) << c.name;
}

// The rule on real folders, where a link may also name a folder on the way
// or lead nowhere yet (every writer's own case is in ChosenPathWrites).
TEST(FileReplacement, EachLinkOnTheWayIsFollowedOnlyAsTheRuleSays)
{
    if (!kRoot) GTEST_SKIP() << "another user's link needs root to make (lchown)";
    const struct {
        const char* name;
        const char* link;    // in the shared folder, owned by kStranger
        const char* leadsTo; // in the user's folder
        const char* written;
        mode_t folderMode;
        uid_t folderOwner;
        bool followed;
    } cases[] = {
        {"to a folder on the way", "box", "", "box/report.pdf", 01777, 0, false},
        {"to a file not made yet", "report.pdf", "/report.pdf", "report.pdf", 01777, 0, false},
        {"the folder owner's", "report.pdf", "/report.pdf", "report.pdf", 01777, kStranger, true},
        {"in a folder that is not sticky", "box", "", "box/./report.pdf", 0777, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir home, dir;
        const QString shared = dir.filePath("shared"), link = shared + '/' + c.link;
        ASSERT_TRUE(QDir().mkpath(shared));
        ASSERT_EQ(::chown(QFile::encodeName(shared).constData(), c.folderOwner, c.folderOwner), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), c.folderMode), 0);
        ASSERT_TRUE(QFile::link(home.path() + c.leadsTo, link));
        ASSERT_EQ(::lchown(QFile::encodeName(link).constData(), kStranger, kStranger), 0);

        EXPECT_EQ(replaceWith(shared + '/' + c.written, "%PDF"), c.followed ? 0 : -EACCES);
        EXPECT_EQ(readFile(home.filePath("report.pdf")), c.followed ? "%PDF" : "");
        EXPECT_EQ(QDir(shared).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size(), 1);
    }
}
