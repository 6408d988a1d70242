// Writing a file the user chose: a write in place that fails part way puts
// the old bytes back; the new file is the user's alone until it takes the
// mode of the file it replaces; another user's link is never followed, and a
// file with a second name in another user's folder is not written in place
// unless nobody else could have made it (each writer's own case is in
// ChosenPathWrites). Another user's link or folder and a small disk need
// root to make.
#include "Platform/FileReplacement.h"
#include "Platform/PdfDocument.h"
#include "Platform/PrivateFiles.h"
#include "Platform/FileDescriptor.h"
#include "support/OtherUsers.h"
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
        platform::replaceFileContents(testsupport::chosen(path), [&](int fd) {
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

// The rule alone: which names another user could have aimed at a file of
// the user's a write goes through. Folders are judged for the process's own
// user: run as root, the table runs as nobody, in a child. The real folders
// below need root.
TEST(FileReplacement, ANameAnotherUserCouldHaveAimedIsNotUsed)
{
    using platform::NameUse;
    const uid_t me = kRoot ? testsupport::kUser : ::geteuid(), other = me + 1, owner = me + 2;
    struct Case {
        const char* name;
        mode_t kind;      // S_IFLNK or S_IFREG
        uid_t entryOwner; // the link's or the file's
        nlink_t names;
        uid_t folderOwner;
        mode_t folderMode;
        bool inPlace;
        NameUse use;
        bool linksProtected = true; // fs.protected_hardlinks
    };
    const Case cases[] = {
        // A link is followed only where no other user could have put it at
        // that name: another user may move the user's own link.
        {"my link, in another's folder", S_IFLNK, me, 1, owner, 0755, false, NameUse::foreignLink},
        {"my link, in my team folder its group may write, not sticky", S_IFLNK, me, 1, me, 02775, false,
         NameUse::foreignLink},
        {"my link, in a folder all may write, not sticky", S_IFLNK, me, 1, me, 0777, false, NameUse::foreignLink},
        {"my link, in my own folder", S_IFLNK, me, 1, me, 0755, false, NameUse::use},
        {"my link, in a root folder", S_IFLNK, me, 1, 0, 0755, false, NameUse::use},
        {"root's link, in a root folder", S_IFLNK, 0, 1, 0, 0755, false, NameUse::use},
        {"root's link, in a sticky folder all may write", S_IFLNK, 0, 1, 0, 01777, false, NameUse::foreignLink},
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
        // Where others may link what is not theirs, a second name of the
        // user's own link, in a folder the user does not own, is theirs.
        {"my link with a second name, in another's folder", S_IFLNK, me, 2, owner, 0755, false, NameUse::foreignLink,
         false},
        {"my link with a second name, in a sticky folder all may write", S_IFLNK, me, 2, 0, 01777, false,
         NameUse::foreignLink, false},
        {"root's link with a second name, in another's folder", S_IFLNK, 0, 2, owner, 0755, false, NameUse::foreignLink,
         false},
        {"my link with a second name, in my own folder", S_IFLNK, me, 2, me, 0755, false, NameUse::use, false},
        {"my link with a second name, in my own folder others may write", S_IFLNK, me, 2, me, 02775, false,
         NameUse::foreignLink, false},
        {"my link with one name, in a sticky folder all may write", S_IFLNK, me, 1, 0, 01777, false,
         NameUse::foreignLink, false},
        // There, the user's own file in another's folder is not written in
        // place: its other name may have gone before the names are counted.
        {"my file with one name, in another's folder, in place, links not protected", S_IFREG, me, 1, owner, 0755, true,
         NameUse::foreignFolder, false},
        {"my file with one name, in another's folder, replaced, links not protected", S_IFREG, me, 1, owner, 0755,
         false, NameUse::use, false},
        {"my file with one name, in a root folder, in place, links not protected", S_IFREG, me, 1, 0, 0755, true,
         NameUse::use, false},
        {"my file with one name, in my folder, in place, links not protected", S_IFREG, me, 1, me, 0755, true,
         NameUse::use, false},
        {"a colleague's own file, in their team folder, in place, links not protected", S_IFREG, owner, 1, owner, 02775,
         true, NameUse::use, false},
        {"a colleague's file, in another's folder, in place, links not protected", S_IFREG, other, 1, owner, 0755, true,
         NameUse::use, false},
        // In a sticky folder all may write (/tmp), anyone may give the
        // user's file a second name, and no one but its owner take it away.
        {"my file with two names, in a sticky root folder all may write, in place", S_IFREG, me, 2, 0, 01777, true,
         NameUse::foreignSecondName},
        {"my file with two names, in a sticky root folder all may write, replaced", S_IFREG, me, 2, 0, 01777, false,
         NameUse::use},
        {"my file with one name, in a sticky root folder all may write, in place", S_IFREG, me, 1, 0, 01777, true,
         NameUse::use},
    };
    const auto judgeAll = [&] {
        for (const auto& c : cases) {
            struct stat entry = {}, folder = {};
            entry.st_mode = c.kind | 0644;
            entry.st_uid = c.entryOwner;
            entry.st_nlink = c.names;
            folder.st_mode = S_IFDIR | c.folderMode;
            folder.st_uid = c.folderOwner;
            EXPECT_EQ(platform::judgeName(me, entry, folder, c.inPlace, c.linksProtected), c.use) << c.name;
        }
    };
    if (kRoot) {
        EXPECT_TRUE(testsupport::asUser(me, judgeAll));
    } else {
        judgeAll();
    }
}

// Whether the kernel protects hard links, read from its setting: on only
// when it says so; a setting that cannot be read counts as off. And the
// system's own setting, read as the writers read it.
TEST(FileReplacement, TheKernelsHardLinkProtectionIsReadAsItSays)
{
    QTemporaryDir dir;
    const struct {
        const char* text; // nullptr: no such file
        bool on;
    } cases[] = {{"1\n", true}, {"0\n", false},  {"1", true},     {"2\n", true},
                 {"", false},   {"on\n", false}, {nullptr, false}};
    int row = 0;
    for (const auto& c : cases) {
        const QString setting = dir.filePath(QString::number(row++));
        if (c.text) {
            ASSERT_TRUE(writeFile(setting, c.text));
        }
        EXPECT_EQ(platform::hardLinksProtected(QFile::encodeName(setting).toStdString()), c.on)
            << (c.text ? c.text : "missing");
    }
    const QByteArray real = readFile("/proc/sys/fs/protected_hardlinks").trimmed();
    EXPECT_EQ(platform::hardLinksProtected(), !real.isEmpty() && real != "0") << real.toStdString();
    EXPECT_EQ(platform::writeSeams().hardLinkSetting, "/proc/sys/fs/protected_hardlinks");
}

// The rule on real folders: another user's link is never followed, in
// whatever folder it sits; it may name a folder on the way or lead nowhere
// yet. Nor is the user's own link where another user could have put it at
// that name: moved (mv -f latest report.pdf) by a member of the user's team
// folder, or into their own folder; nor a second name another user gave it
// (ln -P, where the kernel lets them link what is not theirs) in a folder
// they may write, the user's own included. Root's link where only root
// writes is followed, as is the user's own where only they write; in a
// sticky folder of root's only at the name, once the question named it and
// where it leads (anyone may move an entry into a sticky folder), and in
// another user's sticky folder not at all (its owner may rename any entry).
// The refusal names the link. The user is nobody, in a child.
TEST(FileReplacement, EachLinkOnTheWayIsFollowedOnlyAsTheRuleSays)
{
    using testsupport::kOtherUser;
    using testsupport::kUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "another user's link needs root to make (lchown)";
    struct Case {
        const char* name;
        const char* link;    // in the other folder, owned by `linkOwner`
        const char* leadsTo; // in the user's folder
        const char* written;
        mode_t folderMode;
        uid_t folderOwner;
        uid_t linkOwner;
        bool followed;
        bool secondName = false; // the link is a second name of one in the user's folder
        bool teamGroup = false;  // the folder's group is the other user's (else its owner's)
    };
    const Case cases[] = {
        {"to a folder on the way", "box", "", "box/report.pdf", 01777, 0, kOtherUser, false},
        {"to a file not made yet", "report.pdf", "/report.pdf", "report.pdf", 01777, 0, kOtherUser, false},
        {"the folder owner's, in a sticky folder", "report.pdf", "/report.pdf", "report.pdf", 01777, kOtherUser,
         kOtherUser, false},
        {"in their own folder, which the user cannot write", "report.pdf", "/report.pdf", "report.pdf", 0555,
         kOtherUser, kOtherUser, false},
        {"in a folder that is not sticky", "box", "", "box/./report.pdf", 0777, 0, kOtherUser, false},
        {"root's, in a sticky folder", "box", "", "box/report.pdf", 01777, kOtherUser, 0, false},
        {"root's, in a folder only root may write", "box", "", "box/report.pdf", 0755, 0, 0, true},
        {"the user's own, moved into another user's folder", "report.pdf", "/report.pdf", "report.pdf", 0755,
         kOtherUser, kUser, false},
        {"the user's own, moved in the user's team folder", "report.pdf", "/report.pdf", "report.pdf", 02775, kUser,
         kUser, false, false, true},
        {"the user's own, in a folder all may write", "box", "", "box/report.pdf", 0777, kUser, kUser, false},
        {"the user's own, in the user's folder only they may write", "report.pdf", "/report.pdf", "report.pdf", 0755,
         kUser, kUser, true},
        {"the user's own, on the way, in a sticky folder", "box", "", "box/report.pdf", 01777, 0, kUser, false},
        {"the user's own, at the name, in a sticky folder", "report.pdf", "/report.pdf", "report.pdf", 01777, 0, kUser,
         true},
        {"the user's own, at the name, in another user's sticky folder", "report.pdf", "/report.pdf", "report.pdf",
         01777, kOtherUser, kUser, false},
        {"the user's own, with a second name in another user's folder", "report.pdf", "/report.pdf", "report.pdf", 0755,
         kOtherUser, kUser, false, true},
        {"the user's own, with a second name in a sticky folder", "box", "", "box/report.pdf", 01777, 0, kUser, false,
         true},
        {"the user's own, with a second name in the user's folder", "report.pdf", "/report.pdf", "report.pdf", 0755,
         kUser, kUser, true, true},
        {"the user's own, with a second name in the user's team folder", "report.pdf", "/report.pdf", "report.pdf",
         02775, kUser, kUser, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir home, dir;
        const QString shared = dir.filePath("shared"), link = shared + '/' + c.link;
        ASSERT_TRUE(QDir().mkpath(shared));
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        ASSERT_EQ(::chown(QFile::encodeName(home.path()).constData(), kUser, kUser), 0);
        const QString made = c.secondName ? home.filePath(".my link") : link;
        ASSERT_TRUE(QFile::link(home.path() + c.leadsTo, made));
        ASSERT_EQ(::lchown(QFile::encodeName(made).constData(), c.linkOwner, c.linkOwner), 0);
        if (c.secondName) {
            ASSERT_EQ(::link(QFile::encodeName(made).constData(), QFile::encodeName(link).constData()), 0);
        }
        ASSERT_EQ(
            ::chown(QFile::encodeName(shared).constData(), c.folderOwner, c.teamGroup ? kOtherUser : c.folderOwner), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), c.folderMode), 0);

        EXPECT_TRUE(testsupport::asUser(kUser, [&] {
            std::string named, asked;
            try {
                const auto file = platform::ChosenFile::ask(QFile::encodeName(shared + '/' + c.written).toStdString(),
                                                            [&](const platform::NameSeen& seen) {
                                                                asked = seen.leadsTo;
                                                                return true;
                                                            });
                platform::replaceFileContents(*file, [](int fd) {
                    if (platform::writeAllAt(fd, "%PDF", 4, 0) != 0) throw PdfError(PdfErrorCode::io, "write");
                });
            } catch (const platform::ForeignName& refused) {
                named = refused.name();
            } catch (const PdfError& error) {
                ADD_FAILURE() << error.what();
            }
            EXPECT_EQ(named, c.followed ? "" : c.link);
            // A link followed at the name is named to the user, with where it leads.
            if (c.followed && std::string(c.written) == c.link) {
                EXPECT_EQ(asked, QFile::encodeName(home.filePath("report.pdf")).toStdString());
            }
        }));
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
    // The kernel's protection on: the rule is the one that holds with it.
    QTemporaryDir settings;
    ASSERT_TRUE(writeFile(settings.filePath("protected_hardlinks"), "1\n"));
    ASSERT_EQ(::chmod(QFile::encodeName(settings.path()).constData(), 0755), 0);
    platform::writeSeams().hardLinkSetting = QFile::encodeName(settings.filePath("protected_hardlinks")).toStdString();
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
    platform::writeSeams() = {};
}

// A write in place goes only into the file the user meant. Another user
// who owns the folder (which the user cannot write, so the file is written
// in place) gives the user's private file a second name at the saved name
// (a hard link, where the kernel lets them make one), and takes it away
// again once the file is open, before its names are counted: Save writes
// only the file it was opened from, and where such links can be made the
// user's own file in another user's folder is not written in place. In a
// sticky folder all may write (/tmp), the user's file with a second name is
// not written in place either. The user is nobody, in a child; the other
// user's moves are made at the writer's seam, between the opening of the
// file and its first byte written.
TEST(FileReplacement, AWriteInPlaceGoesOnlyIntoTheFileTheUserMeant)
{
    using platform::NameUse;
    using testsupport::kOtherUser;
    using testsupport::kUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "another user's folder needs root to make";
    enum class Outcome { written, refused, replaced };
    enum class Through { saveAs, save, documentSave };
    struct Case {
        const char* name;
        uid_t folderOwner;
        mode_t folderMode; // 0555: the user can make no file there
        uid_t fileOwner;   // the file at the name when the user opened it
        bool linkedIn;     // another user puts a second name of the user's private file at the name
        bool takenAway;    // and puts the file back once it is open
        bool linksProtected;
        Through through;
        Outcome outcome;
        NameUse refusal = NameUse::use;
    };
    const Case cases[] = {
        {"the user's own file, in another user's folder, links not protected", kOtherUser, 0555, kUser, false, false,
         false, Through::saveAs, Outcome::refused, NameUse::foreignFolder},
        {"the user's own file, in another user's folder, links protected", kOtherUser, 0555, kUser, false, false, true,
         Through::saveAs, Outcome::written},
        {"a colleague's file, in their folder, links not protected", kOtherUser, 0555, kOtherUser, false, false, false,
         Through::save, Outcome::written},
        {"the user's file linked in and taken away, Save", kOtherUser, 0555, kOtherUser, true, true, false,
         Through::save, Outcome::replaced},
        {"the user's file linked in and taken away, Save of the document", kOtherUser, 0555, kOtherUser, true, true,
         false, Through::documentSave, Outcome::replaced},
        {"the user's file linked in and taken away, Save As", kOtherUser, 0555, kOtherUser, true, true, false,
         Through::saveAs, Outcome::refused, NameUse::foreignFolder},
        {"the user's file linked in, Save As", kOtherUser, 0555, kOtherUser, true, false, false, Through::saveAs,
         Outcome::refused, NameUse::foreignSecondName},
        {"the user's file linked in, in a sticky root folder, its group not the user's", 0, 01777, kOtherUser, true,
         false, true, Through::saveAs, Outcome::refused, NameUse::foreignSecondName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString home = dir.filePath("home"), theirs = dir.filePath("theirs");
        const QString secret = home + "/.secret", named = theirs + "/report.pdf", aside = theirs + "/.aside.pdf";
        const QString setting = dir.filePath("protected_hardlinks");
        const QByteArray original =
            c.through == Through::documentSave ? testsupport::makeTextPdf(1) : QByteArray("the file opened");
        ASSERT_TRUE(writeFile(secret, "secret") && writeFile(named, original) && QDir().mkpath(theirs));
        ASSERT_TRUE(writeFile(setting, c.linksProtected ? "1\n" : "0\n"));
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        // The user's private file; its group is not one of the user's, so a
        // new file could not keep it.
        ASSERT_EQ(::chown(QFile::encodeName(home).constData(), kUser, kUser), 0);
        ASSERT_EQ(::chown(QFile::encodeName(secret).constData(), kUser, kOtherUser), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(secret).constData(), 0600), 0);
        ASSERT_EQ(::chown(QFile::encodeName(named).constData(), c.fileOwner, c.fileOwner), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(named).constData(), 0666), 0);
        ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), c.folderOwner, c.folderOwner), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(theirs).constData(), c.folderMode), 0);
        platform::writeSeams().hardLinkSetting = QFile::encodeName(setting).toStdString();
        if (c.takenAway) {
            platform::writeSeams().afterInPlaceOpen = [&] {
                testsupport::asRoot([&] {
                    EXPECT_EQ(::rename(QFile::encodeName(aside).constData(), QFile::encodeName(named).constData()), 0);
                });
            };
        }

        EXPECT_TRUE(testsupport::asUser(kUser, [&] {
            // Opened as the user opens it: the file there now.
            const std::shared_ptr<platform::PdfDocument> document =
                c.through == Through::documentSave ? platform::PdfDocument::openFile(named.toStdString()) : nullptr;
            struct stat opened = {};
            ASSERT_EQ(::stat(QFile::encodeName(named).constData(), &opened), 0);
            if (c.linkedIn) {
                testsupport::asRoot([&] {
                    EXPECT_EQ(::rename(QFile::encodeName(named).constData(), QFile::encodeName(aside).constData()), 0);
                    EXPECT_EQ(::link(QFile::encodeName(secret).constData(), QFile::encodeName(named).constData()), 0);
                });
            }
            Outcome outcome = Outcome::written;
            NameUse refusal = NameUse::use;
            try {
                if (document) {
                    const auto own = document->ownFile();
                    document->saveToFile(
                        platform::ChosenFile::expecting(named.toStdString(), {dev_t(own->first), ino_t(own->second)}));
                } else {
                    platform::ChosenFile file =
                        c.through == Through::save
                            ? platform::ChosenFile::expecting(named.toStdString(), platform::FileIdentity::of(opened))
                            : testsupport::chosen(named.toStdString());
                    platform::replaceFileContents(file, [](int fd) {
                        if (platform::writeAllAt(fd, "%PDF", 4, 0) != 0) throw PdfError(PdfErrorCode::io, "write");
                    });
                }
            } catch (const platform::ForeignName& refused) {
                outcome = Outcome::refused;
                refusal = refused.use();
            } catch (const PdfError& error) {
                if (error.code() == PdfErrorCode::fileReplaced) outcome = Outcome::replaced;
                else ADD_FAILURE() << error.what();
            }
            EXPECT_EQ(int(outcome), int(c.outcome));
            EXPECT_EQ(int(refusal), int(c.refusal));
        }));
        platform::writeSeams() = {};
        EXPECT_EQ(readFile(secret), "secret");
        // Refused, the name holds what the other user left there, untouched.
        if (c.outcome == Outcome::written) EXPECT_NE(readFile(named), original);
        else EXPECT_TRUE(readFile(named) == original || readFile(named) == "secret") << readFile(named).toStdString();
        EXPECT_EQ(QDir(theirs).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".report.pdf.")).size(), 0);
        ::chmod(QFile::encodeName(theirs).constData(), 0755);
    }
}

// What is replaced is the file judged at the name, up to the step that puts
// the new file in place: a file another user puts at the name while the new
// one is written (in the user's team folder, which its group may write)
// stays, and the write says another file took the name, whether a file was
// there (Save As onto it, Save of the file opened) or none (a new file, and
// one meant to replace nothing, as a copy that could not be checked). The
// user is nobody, in a child; the other user acts from inside the write.
TEST(FileReplacement, AFilePutAtTheNameWhileTheNewOneIsWrittenStays)
{
    using testsupport::kOtherUser;
    using testsupport::kUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "another user's file needs root to make";
    enum class Meant { any, fileThere, nothing };
    const struct {
        const char* name;
        bool fileThere;
        Meant meant;
        bool putMeanwhile;
        bool namesNotExchanged = false; // the file judged is written in place from the new one
        bool noExclusiveRename = false; // a new name is made anew, the new file copied into it
    } cases[] = {
        {"a file there, Save As onto it, names not exchanged", true, Meant::any, true, true},
        {"a file there, Save of the file opened, names not exchanged", true, Meant::fileThere, true, true},
        {"a file there, nothing put meanwhile, names not exchanged", true, Meant::fileThere, false, true},
        {"a file there, Save As onto it", true, Meant::any, true},
        {"a file there, Save of the file opened", true, Meant::fileThere, true},
        {"no file there, a new file", false, Meant::any, true},
        {"no file there, a file meant to replace nothing", false, Meant::nothing, true},
        {"a file there, nothing put meanwhile", true, Meant::fileThere, false},
        {"no file there, nothing put meanwhile", false, Meant::nothing, false},
        {"no file there, a new file, no exclusive rename", false, Meant::any, true, false, true},
        {"no file there, nothing put meanwhile, no exclusive rename", false, Meant::nothing, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString team = dir.filePath("team"), named = team + "/report.pdf", theirs = team + "/theirs.pdf";
        ASSERT_TRUE(QDir().mkpath(team));
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        if (c.fileThere) {
            ASSERT_TRUE(writeFile(named, "the file opened"));
            ASSERT_EQ(::chown(QFile::encodeName(named).constData(), kUser, kUser), 0);
        }
        ASSERT_TRUE(writeFile(theirs, "their file"));
        ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), kOtherUser, kOtherUser), 0);
        ASSERT_EQ(::chown(QFile::encodeName(team).constData(), kUser, kOtherUser), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(team).constData(), 02775), 0);

        struct stat before = {};
        ::stat(QFile::encodeName(named).constData(), &before);
        platform::writeSeams().namesNotExchanged = c.namesNotExchanged;
        platform::writeSeams().noExclusiveRename = c.noExclusiveRename;
        EXPECT_TRUE(testsupport::asUser(kUser, [&] {
            bool replaced = false;
            try {
                platform::ChosenFile file = testsupport::chosen(named.toStdString());
                if (c.meant == Meant::nothing) file.expectNothing();
                platform::replaceFileContents(file, [&](int fd) {
                    if (c.putMeanwhile)
                        testsupport::asRoot([&] {
                            EXPECT_EQ(
                                ::rename(QFile::encodeName(theirs).constData(), QFile::encodeName(named).constData()),
                                0);
                        });
                    if (platform::writeAllAt(fd, "%PDF", 4, 0) != 0) throw PdfError(PdfErrorCode::io, "write");
                });
            } catch (const PdfError& error) {
                if (error.code() == PdfErrorCode::fileReplaced) replaced = true;
                else ADD_FAILURE() << error.what();
            }
            EXPECT_EQ(replaced, c.putMeanwhile);
        }));
        platform::writeSeams() = {};
        EXPECT_EQ(readFile(named), c.putMeanwhile ? "their file" : "%PDF");
        EXPECT_EQ(QDir(team).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".report.pdf.")).size(), 0);
        // Without exchanges, the file judged is the one written.
        struct stat after = {};
        ::stat(QFile::encodeName(named).constData(), &after);
        if (c.namesNotExchanged && !c.putMeanwhile) {
            EXPECT_EQ(after.st_ino, before.st_ino);
        }
    }
}

// A new name (the question found nothing there) is made there or not at
// all: the user's link to a missing file in a private folder, moved to it
// after the question (into a sticky folder, from a team folder), is not
// followed. The user is nobody, in a child.
TEST(FileReplacement, ANewNameIsMadeThereWhateverIsMovedToItAfterTheQuestion)
{
    using testsupport::kUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "another user's folder needs root to make";
    // The sticky folder's owner, and whether the link is moved in.
    for (const auto& [owner, moved] :
         {std::pair(0u, true), std::pair(testsupport::kOtherUser, true), std::pair(0u, false)}) {
        QTemporaryDir dir;
        const QByteArray drop = QFile::encodeName(dir.filePath("drop")), mine = QFile::encodeName(dir.filePath("mine"));
        const QString named = dir.filePath("drop/new.pdf");
        ASSERT_TRUE(::chmod(QFile::encodeName(dir.path()), 0755) == 0 && ::mkdir(drop, 01777) == 0
                    && ::chmod(drop, 01777) == 0 && ::chown(drop, owner, owner) == 0);
        ASSERT_TRUE(::mkdir(mine, 0700) == 0 && ::chown(mine, kUser, kUser) == 0);
        EXPECT_TRUE(testsupport::asUser(kUser, [&] {
            // What the question found: nothing; the link comes after.
            const platform::ChosenFile file = testsupport::chosen(named);
            testsupport::asRoot([&] {
                ASSERT_TRUE(!moved
                            || (::symlink(mine + "/new.pdf", QFile::encodeName(named)) == 0
                                && ::lchown(QFile::encodeName(named), kUser, kUser) == 0));
            });
            try {
                platform::PdfDocument::openBytes(testsupport::makeTextPdf(1))->saveToFile(file);
                EXPECT_FALSE(moved);
            } catch (const PdfError& error) {
                EXPECT_TRUE(moved && error.code() == PdfErrorCode::fileReplaced) << error.what();
            }
        }));
        EXPECT_TRUE(QDir(dir.filePath("mine")).isEmpty()) << owner;
        EXPECT_EQ(readFile(named).startsWith("%PDF"), !moved);
    }
}

// The copy of the old bytes a write in place keeps, the private work folder
// and the runtime folder made for Qt and the programs started are made in
// $TMPDIR only when that is walked as the work folder is: no folder on the
// way, itself included, that another user can change (a sticky one aside);
// else in /tmp, which $TMPDIR then names. The user is nobody, in a child.
TEST(FileReplacement, TheTemporaryFolderIsUsedOnlyWhereNoOtherUserCanReachIt)
{
    using testsupport::kOtherUser;
    using testsupport::kUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "another user's folder needs root to make";
    struct Case {
        const char* what;
        const char* folder; // $TMPDIR, under the test's folder
        bool used;
        bool groupShared = false; // the user's group names another user too
    };
    const Case cases[] = {
        {"the user's own", "mine", true},
        {"the user's own, in a sticky folder", "sticky/mine", true},
        {"the user's own, its private group may write", "grouped", true},
        {"another user's that the user may write", "theirs", false},
        {"the user's own, in another user's folder", "bobs/mine", false},
        {"the user's own, a group with another user may write", "grouped", false, true},
    };
    QTemporaryDir dir;
    const auto folder = [&](const char* name, uid_t owner, mode_t mode) {
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        EXPECT_TRUE(QDir().mkpath(dir.filePath(name)));
        EXPECT_EQ(::chown(path.constData(), owner, owner), 0);
        EXPECT_EQ(::chmod(path.constData(), mode), 0);
    };
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    folder("mine", kUser, 0700);
    folder("sticky", 0, 01777);
    folder("sticky/mine", kUser, 0700);
    folder("grouped", kUser, 0775);
    folder("theirs", kOtherUser, 0777);
    folder("bobs", kOtherUser, 0755);
    folder("bobs/mine", kUser, 0700);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString tmp = dir.filePath(c.folder);
        EXPECT_TRUE(testsupport::asUser(kUser, [&] {
            const testsupport::Accounts accounts(c.groupShared ? testsupport::Accounts::sharedWithBob()
                                                               : testsupport::Accounts::usersOwnGroup());
            qputenv("TMPDIR", QFile::encodeName(tmp));
            const platform::FileDescriptor copy(platform::openPrivateScratchFile());
            ASSERT_GE(copy.fd, 0);
            char target[4096] = {};
            const std::string self = "/proc/self/fd/" + std::to_string(copy.fd);
            ASSERT_GT(::readlink(self.c_str(), target, sizeof target - 1), 0);
            const QString where = QFile::decodeName(target);
            EXPECT_EQ(where.startsWith(tmp + u'/'), c.used) << where.toStdString();
            if (!c.used) {
                EXPECT_TRUE(where.startsWith(QStringLiteral("/tmp/"))) << where.toStdString();
            }
            qputenv("XDG_RUNTIME_DIR", "relative");
            platform::PrivateFiles::replaceForeignRuntimeFolder();
            const QString runtime = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
            qunsetenv("XDG_RUNTIME_DIR");
            const QString work = platform::PrivateFiles::PrivateWorkFolder::standard().path();
            for (const QString& made : {work, runtime})
                EXPECT_TRUE(made.startsWith(c.used ? tmp + u'/' : QStringLiteral("/tmp/"))) << made.toStdString();
            EXPECT_EQ(platform::PrivateFiles::replaceForeignTemporaryFolder().has_value(), !c.used);
            EXPECT_EQ(qgetenv("TMPDIR"), c.used ? QFile::encodeName(tmp) : QByteArray("/tmp"));
            QDir(runtime).removeRecursively();
        }));
    }
}
