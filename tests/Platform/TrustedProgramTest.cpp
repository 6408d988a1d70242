// Which helper programs may run: the program and every folder on its path
// the user's or root's, written by nobody else; sticky folders (/tmp) are
// passed over above the program's own folder; a way of any length is
// judged, and one that cannot be judged is refused; the program that runs
// is the file that was checked. Another user's files need root to make
// (chown to nobody); those cases are left out otherwise.
#include "Platform/TrustedProgram.h"

#include "Platform/ConfinedDrawing.h"
#include "Platform/FileDescriptor.h"
#include "support/OtherUsers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <climits>
#include <cstdint>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using platform::ProgramCheck;

namespace {

constexpr uid_t kNobody = 65534;

bool setMode(const QString& path, mode_t mode) { return ::chmod(QFile::encodeName(path).constData(), mode) == 0; }
bool giveAway(const QString& path) { return ::lchown(QFile::encodeName(path).constData(), kNobody, kNobody) == 0; }

// Gives `path` an access list that lets `user` write it (as setfacl -m u:user:rwx
// does), its mode's bits kept.
bool letWrite(const QString& path, uid_t user)
{
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) != 0) return false;
    // The kernel's form: a version, then (tag, permissions, id) for each entry.
    struct Entry {
        std::uint16_t tag, permissions;
        std::uint32_t id;
    };
    const std::uint32_t version = 2, anyone = ~0u;
    const Entry entries[] = {{0x01, std::uint16_t((st.st_mode >> 6) & 7), anyone},
                             {0x02, 7, user},
                             {0x04, std::uint16_t((st.st_mode >> 3) & 7), anyone},
                             {0x10, 7, anyone},
                             {0x20, std::uint16_t(st.st_mode & 7), anyone}};
    std::string value(reinterpret_cast<const char*>(&version), sizeof version);
    value.append(reinterpret_cast<const char*>(entries), sizeof entries);
    return ::setxattr(native.constData(), "system.posix_acl_access", value.data(), value.size(), 0) == 0;
}

// What `check` gives for `program` as the unprivileged user nobody, in a
// child process (only root can become another user).
ProgramCheck::Verdict verdictAsNobody(const QString& program)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(100);
        ::_exit(int(platform::checkProgram(program.toStdString()).verdict));
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return ProgramCheck::Verdict::trusted;
    return ProgramCheck::Verdict(WEXITSTATUS(status));
}

} // namespace

TEST(TrustedProgram, OnlyAProgramNoOtherUserCanChangeRuns)
{
    // top/mid/bin/reader, all the user's and 0755 but for one step; top
    // stands for /tmp, mid for a folder made in it.
    struct Case {
        const char* what;
        const char* step;          // the step changed, below the test's folder
        mode_t mode;               // its mode; 0: given to another user instead
        bool trusted;              // else refused at that step
        bool privateGroup = false; // its group holds the user alone (root, as the test runs)
        bool accessList = false;   // an access list lets another user write it
    };
    const std::vector<Case> cases = {
        {"the user's own, in folders others cannot write", "top/mid/bin/reader", 0700, true},
        {"a sticky folder open to all above", "top", 01777, true},
        {"the program writable by others", "top/mid/bin/reader", 0757, false},
        {"the program writable by its group", "top/mid/bin/reader", 0775, false},
        {"its folder writable by others", "top/mid/bin", 0777, false},
        {"its folder sticky and open to all", "top/mid/bin", 01777, false},
        {"a folder above open to all, not sticky", "top/mid", 0777, false},
        {"a folder above writable by its group", "top", 0775, false},
        {"the program another user's", "top/mid/bin/reader", 0, false},
        {"its folder another user's", "top/mid/bin", 0, false},
        {"a folder above another user's", "top/mid", 0, false},
        {"the program writable by the user's private group", "top/mid/bin/reader", 0775, true, true},
        {"its folder writable by the user's private group", "top/mid/bin", 0775, true, true},
        {"a folder above writable by the user's private group", "top", 0775, true, true},
        {"a folder above, the private group's, that an access list opens", "top", 0775, false, true, true},
    };
    for (const Case& c : cases) {
        // Only root gives files away, and the accounts the test names are root's.
        if ((c.mode == 0 || c.privateGroup) && ::geteuid() != 0) continue;
        const testsupport::Accounts accounts(
            {{0, {"root", c.privateGroup ? std::vector<std::string>{} : std::vector<std::string>{"bob"}}}});
        QTemporaryDir dir;
        const QString top = dir.filePath("top"), mid = top + "/mid", bin = mid + "/bin", reader = bin + "/reader";
        ASSERT_TRUE(testsupport::writeFile(reader, "#!/bin/sh\n")); // and its folders
        for (const QString& step : {top, mid, bin, reader}) ASSERT_TRUE(setMode(step, 0755));
        const QString changed = dir.filePath(c.step);
        ASSERT_TRUE(c.mode ? setMode(changed, c.mode) : giveAway(changed)) << c.what;
        if (c.accessList && !letWrite(changed, testsupport::kOtherUser)) {
            ADD_FAILURE() << "no access list here: " << c.what;
            continue;
        }

        const ProgramCheck check = platform::checkProgram(reader.toStdString());
        EXPECT_EQ(check.verdict, c.trusted ? ProgramCheck::Verdict::trusted : ProgramCheck::Verdict::untrusted)
            << c.what << ": " << check.path;
        EXPECT_EQ(check.path, QFileInfo(c.trusted ? reader : changed).canonicalFilePath().toStdString()) << c.what;
    }
}

// A link is judged with the folder that holds it and by what it leads to:
// each folder the walk passes is judged, and another user's link is not
// followed.
TEST(TrustedProgram, ALinkIsJudgedWithItsFolderAndByWhatItLeadsTo)
{
    QTemporaryDir dir;
    const QString reader = dir.filePath("private/reader"), open = dir.filePath("open");
    const QString own = dir.filePath("own");
    ASSERT_TRUE(testsupport::writeFile(reader, "#!/bin/sh\n"));
    ASSERT_TRUE(setMode(reader, 0755) && setMode(dir.filePath("private"), 0700));
    ASSERT_TRUE(QDir().mkpath(open) && setMode(open, 0777) && QDir().mkpath(own) && setMode(own, 0755));
    const struct {
        const char* what;
        QString link; // made, leading to `leadsTo`
        QString leadsTo;
        bool stranger; // the link another user's
        ProgramCheck::Verdict verdict;
        QString path; // named by the check
    } cases[] = {
        {"the user's link in the user's folder", own + "/link", reader, false, ProgramCheck::Verdict::trusted,
         QFileInfo(reader).canonicalFilePath()},
        {"the user's link in a folder anyone can change", open + "/link", reader, false,
         ProgramCheck::Verdict::untrusted, open},
        {"another user's link in the user's folder", own + "/theirs", reader, true, ProgramCheck::Verdict::untrusted,
         own + "/theirs"},
        {"a link into a folder anyone can change", dir.filePath("private/back"), open + "/reader", false,
         ProgramCheck::Verdict::untrusted, open},
        {"a link to nothing", own + "/nowhere", dir.filePath("missing"), false, ProgramCheck::Verdict::missing,
         dir.filePath("missing")},
    };
    ASSERT_TRUE(QFile::copy(reader, open + "/reader") && setMode(open + "/reader", 0755));
    for (const auto& c : cases) {
        if (c.stranger && ::geteuid() != 0) continue; // only root gives a link away
        ASSERT_TRUE(QFile::link(c.leadsTo, c.link)) << c.what;
        if (c.stranger) {
            ASSERT_EQ(::lchown(QFile::encodeName(c.link).constData(), 4242, 4242), 0);
        }
        const ProgramCheck check = platform::checkProgram(c.link.toStdString());
        EXPECT_EQ(check.verdict, c.verdict) << c.what;
        EXPECT_EQ(check.path, c.path.toStdString()) << c.what;
    }
}

TEST(TrustedProgram, AWayOfAnyLengthIsJudgedAndOneThatCannotBeIsRefused)
{
    struct Case {
        const char* what;
        mode_t top;      // the mode of the folder the way starts in
        bool farAway;    // the program at the end of a way longer than the limit
        bool roundLinks; // else a program in a folder none but root may search
        ProgramCheck::Verdict verdict;
    };
    const std::vector<Case> cases = {
        {"a way longer than the limit, all the user's", 0700, true, false, ProgramCheck::Verdict::trusted},
        {"a way longer than the limit through a folder others may write", 0777, true, false,
         ProgramCheck::Verdict::untrusted},
        {"links that go round", 0700, false, true, ProgramCheck::Verdict::undecided},
        {"a folder on the way it may not search", 0755, false, false, ProgramCheck::Verdict::undecided},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        ASSERT_TRUE(setMode(dir.path(), c.top));
        if (c.farAway) {
            const testsupport::LongWay way(dir.path(), "#!/bin/sh\n");
            ASSERT_FALSE(way.path.isEmpty()) << c.what;
            const ProgramCheck check = platform::checkProgram(way.path.toStdString());
            EXPECT_EQ(check.verdict, c.verdict) << c.what;
            // Named whole, however long.
            const QString named = c.verdict == ProgramCheck::Verdict::trusted ? way.whole : dir.path();
            EXPECT_TRUE(check.path == named.toStdString()) << c.what << ": " << check.path.size() << " characters";
        } else if (c.roundLinks) {
            ASSERT_TRUE(QFile::link(dir.filePath("round"), dir.filePath("about")));
            ASSERT_TRUE(QFile::link(dir.filePath("about"), dir.filePath("round")));
            EXPECT_EQ(platform::checkProgram(dir.filePath("round").toStdString()).verdict, c.verdict) << c.what;
        } else {
            const QString locked = dir.filePath("locked"), reader = locked + "/reader";
            ASSERT_TRUE(testsupport::writeFile(reader, "#!/bin/sh\n") && setMode(reader, 0755));
            ASSERT_TRUE(setMode(locked, 0600));
            // Root searches every folder: then the user who may not is nobody.
            EXPECT_EQ(::geteuid() == 0 ? verdictAsNobody(reader) : platform::checkProgram(reader.toStdString()).verdict,
                      c.verdict)
                << c.what;
            setMode(locked, 0700);
        }
    }
}

// The drawing reader's name is swapped in a tight loop between the user's
// program, a program others may change and nothing at all, while drawings
// start: the one others may change never runs (it would leave a mark).
TEST(TrustedProgram, TheReaderThatRunsIsTheFileThatWasChecked)
{
    QTemporaryDir dir;
    const QString bin = dir.filePath("bin"), reader = bin + "/reader", mark = dir.filePath("ran");
    ASSERT_TRUE(QDir().mkpath(bin) && setMode(bin, 0755));
    ASSERT_TRUE(QFile::copy("/bin/true", bin + "/good") && setMode(bin + "/good", 0755));
    ASSERT_TRUE(testsupport::writeFile(bin + "/bad", "#!/bin/sh\ntouch '" + mark.toUtf8() + "'\n"));
    ASSERT_TRUE(setMode(bin + "/bad", 0777));
    const QByteArray pdf = testsupport::makeTextPdf(1, "drawn");
    ASSERT_TRUE(testsupport::writeFile(dir.filePath("doc.pdf"), pdf));

    std::atomic<bool> stop = false;
    std::thread swapper([&] {
        const QByteArray to = QFile::encodeName(reader), in = QFile::encodeName(bin + "/.in");
        const QByteArray good = QFile::encodeName(bin + "/good"), bad = QFile::encodeName(bin + "/bad");
        while (!stop) {
            for (const QByteArray& next : {good, bad}) {
                ::link(next.constData(), in.constData());
                ::rename(in.constData(), to.constData());
            }
            ::unlink(to.constData());
        }
    });
    platform::ConfinedDrawing drawing({reader.toStdString()});
    for (int attempt = 0; attempt < 2000 && !QFile::exists(mark); ++attempt) {
        const platform::FileDescriptor file(::open(QFile::encodeName(dir.filePath("doc.pdf")), O_RDONLY | O_CLOEXEC));
        drawing.draw(file.fd, 16, 16);
    }
    stop = true;
    swapper.join();
    EXPECT_FALSE(QFile::exists(mark)) << "a reader another user could have swapped in ran";
}

// A helper starts with its standard streams and nothing else of ours, also
// what was opened without close-on-exec: ls lists its own descriptors (its
// listing of /proc/self/fd takes the fourth).
TEST(TrustedProgram, AHelperStartsWithOnlyTheDescriptorsItNeeds)
{
    const ProgramCheck check = platform::checkProgram("/bin/ls");
    ASSERT_EQ(check.verdict, ProgramCheck::Verdict::trusted) << check.path;
    const platform::FileDescriptor leaked(::open("/dev/null", O_RDONLY)); // no O_CLOEXEC
    const platform::FileDescriptor high(::fcntl(leaked.fd, F_DUPFD, 100));
    ASSERT_TRUE(leaked.fd >= 0 && high.fd >= 100);
    int wire[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wire), 0);
    const pid_t pid = platform::startCheckedProgram(check, {"ls", "-1", "/proc/self/fd"}, wire[1]);
    ::close(wire[1]);
    ASSERT_GT(pid, 0);
    QByteArray listed;
    char chunk[256];
    for (ssize_t n; (n = ::read(wire[0], chunk, sizeof chunk)) > 0;) listed.append(chunk, n);
    ::close(wire[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(QString::fromUtf8(listed).split(u'\n', Qt::SkipEmptyParts), QStringList({"0", "1", "2", "3"}));
}
