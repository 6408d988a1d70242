// Writing a file the user chose: a write in place that fails part way puts
// the old bytes back; the new file is the user's alone until it takes the
// mode of the file it replaces; another user's link is never followed, and a
// file with a second name in another user's folder is not written in place
// unless nobody else could have made it (each writer's own case is in
// ChosenPathWrites). Another user's link or folder and a small disk need
// root to make.
#include "Platform/FileReplacement.h"
#include "Platform/PdfDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::PdfError;
using platform::PdfErrorCode;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

constexpr uid_t kNobody = 65534;
constexpr uid_t kStranger = 4242;
const bool kRoot = ::geteuid() == 0;

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
        // A name another user made is refused as such, not as a permission.
        return dynamic_cast<const platform::ForeignName*>(&error) ? -EACCES : error.systemError();
    }
    return 0;
}

} // namespace

// The folder takes no new file, so the file is written in place, and the disk
// fills part way: the old bytes go back. (The window's save test meets a
// file-size limit.) A child process mounts a small file system of its own
// and becomes nobody, who may write the file but not make one beside it.
TEST(FileReplacement, AWriteInPlaceThatFailsOnAFullDiskPutsTheOriginalBack)
{
    if (!kRoot) GTEST_SKIP() << "mounting a small file system needs root";
    QTemporaryDir dir;
    const pid_t child = ::fork();
    if (child == 0) {
        [&] {
            // 64 KB, 8 KB of it left free beside a file of 20,000 bytes.
            ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
            ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
            ASSERT_EQ(::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", 0, "size=64k,mode=0755"), 0);
            const QString path = dir.filePath("doc.pdf");
            const QByteArray original = QByteArray("original ").repeated(2223).left(20000);
            ASSERT_TRUE(writeFile(path, original));
            QFile filler(dir.filePath("filler"));
            ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
            while (filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush()) {}
            filler.resize(filler.size() - 8192);
            filler.close();
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0);
            ASSERT_TRUE(::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0);

            EXPECT_EQ(replaceWith(path, QByteArray(60000, 'N')), ENOSPC);
            EXPECT_EQ(readFile(path), original);
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"doc.pdf", "filler"}));
        }();
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed";
}

// While it is written, the new file is the user's alone; then it takes the
// replaced file's mode, whatever the umask. A file that replaces none gets
// the usual mode. (ChosenPathWrites has 0600 kept and 0644 made.)
TEST(FileReplacement, TheNewFileIsTheUsersAloneUntilItTakesItsPredecessorsMode)
{
    const struct {
        mode_t before; // 0: no file there
        mode_t umask;
        mode_t after;
    } cases[] = {{0644, 022, 0644}, {0660, 077, 0660}, {0, 077, 0600}};
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
        EXPECT_EQ(whileWritten.st_mode & 077, 0u);
    }
}

// The rule alone, which needs no second account: which names another user
// could have aimed at a file of the user's a write goes through. The real
// folders below need root.
TEST(FileReplacement, ANameAnotherUserCouldHaveAimedIsNotUsed)
{
    using platform::NameUse;
    constexpr uid_t me = 1000, other = 1001, owner = 1002;
    const struct {
        const char* name;
        mode_t kind;      // S_IFLNK or S_IFREG
        uid_t entryOwner; // the link's or the file's
        nlink_t names;
        uid_t folderOwner;
        mode_t folderMode;
        bool inPlace;
        NameUse use;
    } cases[] = {
        {"my link, in another's folder", S_IFLNK, me, 1, owner, 0755, false, NameUse::use},
        {"root's link, in a sticky folder all may write", S_IFLNK, 0, 1, 0, 01777, false, NameUse::use},
        {"another's link, in a sticky folder all may write", S_IFLNK, other, 1, 0, 01777, false, NameUse::foreignLink},
        {"another's link, in their own folder I cannot write", S_IFLNK, owner, 1, owner, 0755, false,
         NameUse::foreignLink},
        {"another's link, in a folder all may write, not sticky", S_IFLNK, other, 1, owner, 0777, false,
         NameUse::foreignLink},
        {"another's link, in my own folder", S_IFLNK, other, 1, me, 0700, false, NameUse::foreignLink},
        {"my file, in a sticky folder all may write", S_IFREG, me, 1, 0, 01777, false, NameUse::use},
        {"another's file, in a sticky folder all may write", S_IFREG, other, 1, 0, 01777, false, NameUse::foreignFile},
        {"the folder owner's file, in a sticky folder all may write", S_IFREG, owner, 1, owner, 01777, false,
         NameUse::use},
        {"another's file, in a folder all may write, not sticky", S_IFREG, other, 1, owner, 0777, false, NameUse::use},
        {"another's file, in a sticky folder its group may write", S_IFREG, other, 1, owner, 01775, false,
         NameUse::use},
        {"a second name of my file, in another's folder, in place", S_IFREG, me, 2, owner, 0755, true,
         NameUse::foreignSecondName},
        {"a second name of my file, in another's folder, replaced", S_IFREG, me, 2, owner, 0755, false, NameUse::use},
        {"a colleague's own file with two names, in their team folder", S_IFREG, owner, 2, owner, 02775, true,
         NameUse::use},
        {"my file with two names, in a root folder", S_IFREG, me, 2, 0, 0755, true, NameUse::use},
        {"my file with two names, in my folder", S_IFREG, me, 2, me, 0755, true, NameUse::use},
        {"my file with one name, in another's folder", S_IFREG, me, 1, owner, 0755, true, NameUse::use},
    };
    for (const auto& c : cases) {
        struct stat entry = {}, folder = {};
        entry.st_mode = c.kind | 0644;
        entry.st_uid = c.entryOwner;
        entry.st_nlink = c.names;
        folder.st_mode = S_IFDIR | c.folderMode;
        folder.st_uid = c.folderOwner;
        EXPECT_EQ(platform::judgeName(me, entry, folder, c.inPlace), c.use) << c.name;
    }
}

// The rule on real folders: another user's link is never followed, in
// whatever folder it sits; it may name a folder on the way or lead nowhere
// yet. The refusal names the link.
TEST(FileReplacement, EachLinkOnTheWayIsFollowedOnlyAsTheRuleSays)
{
    if (!kRoot) GTEST_SKIP() << "another user's link needs root to make (lchown)";
    const struct {
        const char* name;
        const char* link;    // in the other folder, owned by `linkOwner`
        const char* leadsTo; // in the user's folder
        const char* written;
        mode_t folderMode;
        uid_t folderOwner;
        uid_t linkOwner;
        bool followed;
    } cases[] = {
        {"to a folder on the way", "box", "", "box/report.pdf", 01777, 0, kStranger, false},
        {"to a file not made yet", "report.pdf", "/report.pdf", "report.pdf", 01777, 0, kStranger, false},
        {"the folder owner's, in a sticky folder", "report.pdf", "/report.pdf", "report.pdf", 01777, kStranger,
         kStranger, false},
        {"in their own folder, which the user cannot write", "report.pdf", "/report.pdf", "report.pdf", 0555, kStranger,
         kStranger, false},
        {"in a folder that is not sticky", "box", "", "box/./report.pdf", 0777, 0, kStranger, false},
        {"the user's own, in a sticky folder", "box", "", "box/report.pdf", 01777, kStranger, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir home, dir;
        const QString shared = dir.filePath("shared"), link = shared + '/' + c.link;
        ASSERT_TRUE(QDir().mkpath(shared));
        ASSERT_TRUE(QFile::link(home.path() + c.leadsTo, link));
        ASSERT_EQ(::lchown(QFile::encodeName(link).constData(), c.linkOwner, c.linkOwner), 0);
        ASSERT_EQ(::chown(QFile::encodeName(shared).constData(), c.folderOwner, c.folderOwner), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), c.folderMode), 0);

        std::string named;
        try {
            platform::replaceFileContents(QFile::encodeName(shared + '/' + c.written).toStdString(), [](int fd) {
                if (platform::writeAllAt(fd, "%PDF", 4, 0) != 0) throw PdfError(PdfErrorCode::io, "write");
            });
        } catch (const platform::ForeignName& refused) {
            named = refused.name();
        }
        EXPECT_EQ(named, c.followed ? "" : c.link);
        EXPECT_EQ(readFile(home.filePath("report.pdf")), c.followed ? "%PDF" : "");
        EXPECT_EQ(QDir(shared).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size(), 1);
    }
}

// Where the system lets a user link others' files, another user's folder may
// hold a second name of one of the user's files (a ~/.bashrc). Save As to
// that name cannot make a new file there, and must not write the user's file
// in place, as the kernel's rule for making such links would have refused
// the link. Where nobody but the file's owner, root or the user could have
// made the name, it is written in place: a colleague's own file in their
// team folder, the user's file in a root folder or their own. The user is
// nobody, in a child.
TEST(FileReplacement, AFileWithASecondNameInAnotherUsersFolderIsNotWrittenInPlace)
{
    if (!kRoot) GTEST_SKIP() << "another user's folder and a second user need root to make";
    const struct {
        const char* name;
        uid_t folderOwner; // the folder holding the name written
        mode_t folderMode; // 0555: neither user can make a file there
        uid_t fileOwner;   // the file's (writable by the user)
        bool secondName;   // the name written is a second name of the file first named in the user's folder
        bool written;
    } cases[] = {
        {"a second name in another user's folder", kStranger, 0555, kNobody, true, false},
        {"the only name in another user's folder", kStranger, 0555, kNobody, false, true},
        {"a second name in a folder of the user's", kNobody, 0555, kNobody, true, true},
        {"a colleague's own file with a second name, in their folder", kStranger, 0555, kStranger, true, true},
        // A new file there could not keep the colleague as its owner.
        {"a colleague's own file with a second name, in their team folder", kStranger, 0777, kStranger, true, true},
        {"a second name of the user's file, in a root folder", 0, 0555, kNobody, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString home = dir.filePath("home"), theirs = dir.filePath("theirs");
        const QString own = home + "/.bashrc", named = theirs + "/report.pdf";
        ASSERT_TRUE(writeFile(own, "secret") && QDir().mkpath(theirs));
        if (c.secondName)
            ASSERT_EQ(::link(QFile::encodeName(own).constData(), QFile::encodeName(named).constData()), 0);
        else ASSERT_TRUE(writeFile(named, "secret"));
        for (const QString& path : {dir.path(), home, own, named})
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        ASSERT_EQ(::chown(QFile::encodeName(named).constData(), c.fileOwner, c.fileOwner), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(named).constData(), 0666), 0);
        ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), c.folderOwner, c.folderOwner), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(theirs).constData(), c.folderMode), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
            const int error = replaceWith(named, "%PDF");
            const bool asExpected =
                c.written ? error == 0 && readFile(named) == "%PDF" : error == -EACCES && readFile(own) == "secret";
            ::_exit(asExpected ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "written: " << readFile(named).toStdString();
        ::chmod(QFile::encodeName(theirs).constData(), 0755);
    }
}
