#include "QuarnKit/Update/UpdateInstaller.h"

#include "Platform/Crypto.h"
#include "QuarnKit/Update/CodeSignature.h"
#include "QuarnKit/Update/Seal.h"
#include "QuarnKit/Update/UpdateError.h"
#include "QuarnKit/Update/UpdateFixtures.h"
#include "support/OtherUsers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quarnkit;
namespace Crypto = platform::Crypto;
using updatefixtures::makeInstallFolder;
using updatefixtures::readFile;
using updatefixtures::writeFile;

namespace {

// An installed copy and a verified new one in a folder whose path has a
// space and an apostrophe, as a user's folder may. Each copy's bin/ravlen
// writes the descriptors it holds to `launchedFds`, then its version and
// arguments to `launched`, when it is started.
struct Installation {
    QTemporaryDir root;
    QString base = root.filePath("it's my folder");
    QString target = base + "/ravlen";
    QString staging = base + "/staging area";
    QString newApp = staging + "/Unzipped/ravlen";
    QString launched = base + "/launched.txt";
    QString launchedFds = base + "/launched fds.txt";
    QString scriptPath = base + "/updates/install.sh";
    Crypto::KeyPair keys = Crypto::generateKeyPair();

    Installation()
    {
        EXPECT_TRUE(makeInstallFolder(target, "1.0", "10", program("1.0")));
        EXPECT_TRUE(makeInstallFolder(newApp, "2.0", "20", program("2.0")));
        EXPECT_EQ(Seal::seal(newApp, keys.secretKey), std::nullopt);
    }

    QByteArray program(const char* version) const
    {
        return "#!/bin/sh\n/bin/ls -l /proc/$$/fd > " + UpdateInstaller::quote(launchedFds).toUtf8()
               + " 2>&1\nprintf '%s\\n' " + version + " \"$@\" > " + UpdateInstaller::quote(launched).toUtf8() + "\n";
    }

    UpdateInstallPlan plan(pid_t waitFor, int timeout = 5) const
    {
        UpdateInstallPlan plan;
        plan.pid = waitFor;
        plan.newApp = newApp;
        plan.target = target + "/"; // a trailing slash changes nothing
        plan.staging = staging;
        plan.log = base + "/updates/update.log";
        plan.relaunch = UpdateInstallPlan::reopen(
            {QUrl::fromLocalFile(base + "/a file's name.pdf"), QUrl("https://example.com/x.pdf")});
        plan.requirement = CodeSignature::requirement("com.ombri.ravlen", Seal::teamOf(keys.publicKey));
        plan.timeout = timeout;
        plan.verifier = QStringLiteral(RAVLEN_SEAL_TOOL);
        plan.publicKey = Crypto::toBase64(keys.publicKey);
        return plan;
    }

    // Starts the script and waits for it; its exit status.
    int run(const UpdateInstallPlan& plan) const
    {
        const pid_t pid = UpdateInstaller::start(plan, scriptPath);
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    QString installedVersion() const
    {
        return QString::fromStdString(
            nlohmann::json::parse(readFile(target + "/Info.json").toStdString())["CFBundleShortVersionString"]);
    }
    QStringList logMessages() const
    {
        QStringList messages;
        static const QRegularExpression stamped(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} (.*)$"));
        for (const QString& line :
             QString::fromUtf8(readFile(base + "/updates/update.log")).split(u'\n', Qt::SkipEmptyParts)) {
            const auto match = stamped.match(line);
            messages << (match.hasMatch() ? match.captured(1) : QStringLiteral("unstamped: ") + line);
        }
        return messages;
    }
    // The relaunched program's version and arguments, once it has run.
    QStringList launchedWith() const
    {
        testsupport::waitFor([&] { return readFile(launched).endsWith('\n'); }, 10000);
        return QString::fromUtf8(readFile(launched)).split(u'\n', Qt::SkipEmptyParts);
    }
};

// A process that has ended and been reaped: the script finds it gone.
pid_t endedProcess()
{
    QProcess process;
    process.start("/bin/true", {});
    process.waitForFinished();
    return pid_t(process.processId() ? process.processId() : 999999);
}

} // namespace

TEST(UpdateInstaller, TheScriptSwapsTheFolderLogsAndReopens)
{
    Installation install;
    QProcess app;
    app.start("/bin/sleep", {"0.5"});
    ASSERT_TRUE(app.waitForStarted());
    const UpdateInstallPlan plan = install.plan(pid_t(app.processId()));
    // Leftovers of an earlier attempt are cleared first.
    ASSERT_TRUE(writeFile(plan.next() + "/ravlen/stale", "old attempt"));
    ASSERT_TRUE(QDir().mkpath(plan.backup()));
    const pid_t script = UpdateInstaller::start(plan, install.scriptPath);
    app.waitForFinished();
    int status = -1;
    ASSERT_EQ(::waitpid(script, &status, 0), script);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    EXPECT_EQ(install.installedVersion(), "2.0");
    EXPECT_TRUE(updatefixtures::readFile(install.target + "/Seal.json").size() > 0);
    EXPECT_FALSE(QFileInfo::exists(plan.backup()));
    EXPECT_FALSE(QFileInfo::exists(plan.next()));
    EXPECT_FALSE(QFileInfo::exists(install.staging));
    EXPECT_EQ(install.logMessages(),
              QStringList({QStringLiteral("Waiting for process %1 to quit.").arg(plan.pid),
                           "Installed the new copy at " + install.target, "Opening " + install.target}));
    EXPECT_EQ(install.launchedWith(), QStringList({"2.0", install.base + "/a file's name.pdf"}));
    // The new copy's mode bits came along.
    EXPECT_TRUE(QFileInfo(install.target + "/bin/ravlen").isExecutable());
}

TEST(UpdateInstaller, FailuresBeforeTheSwapLeaveTheOldCopyAndReopenIt)
{
    struct Case {
        const char* why;
        std::function<void(Installation&)> spoil;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"the new copy is missing", [](Installation& i) { QDir(i.newApp).removeRecursively(); },
         "Stopped: the new copy or the old one is missing."},
        {"the new copy was changed after sealing",
         [](Installation& i) { writeFile(i.newApp + "/share/ravlen/notes.txt", "changed"); },
         "Stopped: the new copy failed its signature check."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Installation install;
        c.spoil(install);
        const UpdateInstallPlan plan = install.plan(endedProcess());
        EXPECT_EQ(install.run(plan), 1);
        EXPECT_EQ(install.installedVersion(), "1.0");
        EXPECT_FALSE(QFileInfo::exists(plan.next()));
        EXPECT_FALSE(QFileInfo::exists(install.staging));
        const QStringList log = install.logMessages();
        ASSERT_EQ(log.size(), 3);
        EXPECT_EQ(log[1], QLatin1String(c.reason));
        EXPECT_EQ(log[2], "Opening " + install.target);
        EXPECT_EQ(install.launchedWith().value(0), "1.0");
    }
}

// The shell that installs and the copy it opens again hold no descriptor of
// the application's: what the application had open (documents, sockets),
// whether or not close-on-exec, stays with it. The shell's own listing is
// taken as it opens the copy.
TEST(UpdateInstaller, TheShellAndTheReopenedAppHoldNoDescriptorOfTheApps)
{
    Installation install;
    const QString marker = install.base + "/the app's document.pdf", shellFds = install.base + "/shell fds.txt";
    ASSERT_TRUE(writeFile(marker, "%PDF-1.7\n"));
    // Opened out of the way of those below, which get copies of it.
    const int first = ::open(QFile::encodeName(marker).constData(), O_RDONLY | O_CLOEXEC);
    const int opened = first < 0 ? -1 : ::fcntl(first, F_DUPFD_CLOEXEC, 400);
    ::close(first);
    ASSERT_GE(opened, 0);
    // The ones just above the script's (3), and one further up, left open
    // across exec; whatever the test had there is put back after.
    std::vector<std::pair<int, int>> saved;
    for (const int fd : {4, 5, 9, 200}) {
        saved.emplace_back(fd, ::fcntl(fd, F_DUPFD_CLOEXEC, 300));
        ASSERT_EQ(::dup2(opened, fd), fd);
    }
    ::close(opened);
    UpdateInstallPlan plan = install.plan(endedProcess());
    plan.relaunch = "/bin/ls -l /proc/$$/fd > " + UpdateInstaller::quote(shellFds) + " 2>&1; " + plan.relaunch;
    const int status = install.run(plan);
    for (const auto& [fd, copy] : saved) {
        if (copy >= 0) {
            ::dup2(copy, fd);
            ::close(copy);
        } else {
            ::close(fd);
        }
    }
    EXPECT_EQ(status, 0);
    EXPECT_EQ(install.launchedWith().value(0), "2.0");
    for (const QString& listing : {shellFds, install.launchedFds}) {
        SCOPED_TRACE(listing.toStdString());
        const QString fds = QString::fromUtf8(readFile(listing));
        ASSERT_TRUE(fds.contains(QLatin1String(" 0 -> "))) << fds.toStdString();
        EXPECT_FALSE(fds.contains(marker)) << fds.toStdString();
        // Past the standard three, the shell holds only its script (from
        // memory) and its own copies of the standard ones (nowhere), and the
        // copy its own program.
        static const QRegularExpression entry(QStringLiteral(" (\\d+) -> (.*)$"), QRegularExpression::MultilineOption);
        for (auto it = entry.globalMatch(fds); it.hasNext();) {
            const auto match = it.next();
            if (match.captured(1).toInt() <= 2) continue;
            const QString to = match.captured(2);
            EXPECT_TRUE(to.contains(QLatin1String("install.sh")) || to == QLatin1String("/dev/null")
                        || to == install.target + "/bin/ravlen")
                << match.captured(1).toStdString() << " -> " << to.toStdString();
        }
    }
}

TEST(UpdateInstaller, AProgramThatCannotBeStartedIsLogged)
{
    Installation install;
    QDir(install.newApp).removeRecursively();
    QFile::remove(install.target + "/bin/ravlen");
    const UpdateInstallPlan plan = install.plan(endedProcess());
    EXPECT_EQ(install.run(plan), 1);
    EXPECT_EQ(install.logMessages().value(3), "Couldn't open the app.");
}

TEST(UpdateInstaller, AnAppStillRunningAtTheTimeOutKeepsEverything)
{
    Installation install;
    // The test itself is the app that does not quit; a time-out of 0 waits about a second.
    const UpdateInstallPlan plan = install.plan(::getpid(), 0);
    EXPECT_EQ(install.run(plan), 1);
    EXPECT_EQ(install.installedVersion(), "1.0");
    EXPECT_TRUE(QFileInfo::exists(install.target + "/bin/ravlen"));
    EXPECT_FALSE(QFileInfo::exists(install.staging));
    EXPECT_EQ(install.logMessages().value(1), "Stopped: the app is still running after 1 seconds.");
    EXPECT_FALSE(QFileInfo::exists(install.launched)) << "nothing was opened";
}

// A swap that fails half way: the new copy will not move in, or another
// user takes the install folder's name between the two moves (in a folder
// they may write). The script opens a copy only where it put one, the old
// one put back or the new one, and otherwise nothing, saying why. A fake mv
// makes each happen at that moment, bound over the real one in a mount
// namespace of a child of its own (which needs root).
TEST(UpdateInstaller, ASwapThatFailsOpensOnlyACopyTheScriptPutInPlace)
{
    if (::geteuid() != 0) GTEST_SKIP() << "a mount namespace needs root";
    const struct {
        const char* what;
        bool taken;       // else the new copy does not move
        const char* last; // the log's last line, around the install folder's path
        const char* after;
        const char* launched; // the version started, none
    } cases[] = {
        {"the new copy does not move in", false, "Opening ", "", "1.0"},
        {"another user takes the name between the moves", true,
         "Not opening the app: neither the new copy nor the old one is at ", ".", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Installation install;
        const UpdateInstallPlan plan = install.plan(endedProcess());
        const QString realMv = install.base + "/real-mv", fakeMv = install.base + "/fake-mv";
        const QString planted = install.base + "/planted";
        ASSERT_TRUE(QFile::copy("/usr/bin/mv", realMv));
        ASSERT_TRUE(writeFile(planted, "#!/bin/sh\nprintf 'planted\\n' > "
                                           + UpdateInstaller::quote(install.launched).toUtf8() + "\n"));
        using UpdateInstaller::quote;
        const QString fake = "#!/bin/sh\nREAL=" + quote(realMv) + "\nNEW=" + quote(plan.nextApp())
                             + "\nTARGET=" + quote(install.target) + "\nPLANTED=" + quote(planted)
                             + "\nTAKEN=" + (c.taken ? "1" : "") + R"SH(
if [ -z "$TAKEN" ] && [ "$2" = "$NEW" ]; then exit 1; fi
"$REAL" "$@" || exit $?
if [ -n "$TAKEN" ] && [ "$2" = "$TARGET" ]; then
  /bin/mkdir -p "$TARGET/bin" && /bin/cp "$PLANTED" "$TARGET/bin/ravlen" && /bin/chmod 755 "$TARGET/bin/ravlen"
fi
)SH";
        ASSERT_TRUE(writeFile(fakeMv, fake.toUtf8()));
        ASSERT_EQ(::chmod(QFile::encodeName(fakeMv).constData(), 0755), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(realMv).constData(), 0755), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            const bool bound =
                ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                && ::mount(QFile::encodeName(fakeMv).constData(), "/usr/bin/mv", nullptr, MS_BIND, nullptr) == 0;
            ::_exit(bound ? install.run(plan) : 100);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "the child failed";
        EXPECT_EQ(WEXITSTATUS(status), 1);
        const QStringList log = install.logMessages();
        ASSERT_FALSE(log.isEmpty());
        EXPECT_EQ(log.last(), QLatin1String(c.last) + install.target + QLatin1String(c.after))
            << log.join(" | ").toStdString();
        if (c.launched) EXPECT_EQ(install.launchedWith().value(0), c.launched);
        else EXPECT_FALSE(log.contains("Opening " + install.target)) << "the other user's program was started";
        EXPECT_FALSE(QFileInfo::exists(plan.next()));
    }
}

// The script that runs is the one ravlen wrote, in a folder of the user's
// own: nothing the shell runs is read again by name, so another user who
// swaps the script or its folder for their own once it is written changes
// nothing, and an updates folder another user can change is not written
// into at all. The user is nobody, in a child; the swaps are made between
// the writing of the script and the start of the shell.
TEST(UpdateInstaller, TheScriptThatRunsIsTheOneWrittenInAFolderOfTheUsersOwn)
{
    using testsupport::kOtherUser;
    using testsupport::kUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "another user's folders need root to make";
    enum class Swap { none, script, folder };
    struct Case {
        const char* what;
        const char* updates; // the updates folder, under the installation's folder
        Swap swap;
        bool started;
    };
    const Case cases[] = {
        {"in a folder of the user's own", "updates", Swap::none, true},
        {"the script swapped for another once written", "updates", Swap::script, true},
        {"the updates folder swapped for another once the script is written", "updates", Swap::folder, true},
        {"in a folder another user made first", "theirs/updates", Swap::none, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Installation install;
        QDir(install.newApp).removeRecursively(); // a short run: it stops at once, and opens the old copy
        const QString updates = install.base + '/' + c.updates, script = updates + "/install.sh";
        const QString theirs = install.base + "/theirs";
        UpdateInstallPlan plan = install.plan(endedProcess());
        plan.log = updates + "/update.log";
        const QByteArray planted =
            "#!/bin/sh\nprintf 'planted\\n' > " + UpdateInstaller::quote(install.launched).toUtf8() + "\n";
        ASSERT_TRUE(writeFile(install.base + "/planted.sh", planted) && QDir().mkpath(theirs));
        ASSERT_EQ(::chmod(QFile::encodeName(install.root.path()).constData(), 0755), 0);
        for (QDirIterator it(install.base, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            ASSERT_EQ(::lchown(QFile::encodeName(it.next()).constData(), kUser, kUser), 0);
        ASSERT_EQ(::chown(QFile::encodeName(install.base).constData(), kUser, kUser), 0);
        ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), kOtherUser, kOtherUser), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(theirs).constData(), 0777), 0);
        // What another user does once the script is written.
        const auto swap = [&] {
            testsupport::asRoot([&] {
                const QByteArray from = QFile::encodeName(install.base + "/planted.sh");
                const QByteArray to = QFile::encodeName(script);
                if (c.swap == Swap::script) {
                    EXPECT_EQ(::rename(from.constData(), to.constData()), 0);
                }
                if (c.swap != Swap::folder) return;
                EXPECT_EQ(
                    ::rename(QFile::encodeName(updates).constData(), QFile::encodeName(updates + ".aside").constData()),
                    0);
                EXPECT_TRUE(QDir().mkpath(updates));
                EXPECT_EQ(::rename(from.constData(), to.constData()), 0);
            });
        };
        EXPECT_TRUE(testsupport::asUser(kUser, [&] {
            pid_t shell = -1;
            try {
                shell = UpdateInstaller::start(plan, script, swap);
            } catch (const UpdateFailure& failure) {
                EXPECT_EQ(failure.error, UpdateError::installerFailed);
            }
            EXPECT_EQ(shell > 0, c.started);
            int status = -1;
            if (shell > 0) {
                EXPECT_EQ(::waitpid(shell, &status, 0), shell);
            }
        }));
        if (c.started) {
            // The script ravlen wrote ran: it logged, stopped, and opened the old copy.
            EXPECT_EQ(install.launchedWith().value(0), "1.0");
            // (It logs by the log's name, which the swapped folder's owner holds then.)
            const QString log = QString::fromUtf8(readFile(plan.log));
            if (c.swap != Swap::folder) {
                EXPECT_TRUE(log.contains("Waiting for process")) << log.toStdString();
            }
        } else {
            EXPECT_FALSE(QFileInfo::exists(install.launched));
            QDirIterator it(theirs, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) ADD_FAILURE() << "left in another user's folder: " << it.next().toStdString();
        }
    }
}

TEST(UpdateInstaller, ScriptTextQuotesEveryPath)
{
    const std::vector<std::pair<QString, QString>> quoted = {
        {"plain", "'plain'"}, {"", "''"}, {"it's", "'it'\\''s'"}, {"a \"b\" $c `d`", "'a \"b\" $c `d`'"}};
    for (const auto& [text, word] : quoted) EXPECT_EQ(UpdateInstaller::quote(text), word);

    UpdateInstallPlan plan;
    plan.pid = 42;
    plan.target = "/home/o'neil/ravlen/";
    plan.newApp = "/tmp/x/Unzipped/ravlen";
    plan.staging = "/tmp/x";
    plan.log = "/home/o'neil/.cache/ravlen/updates/update.log";
    plan.relaunch = UpdateInstallPlan::reopen({});
    plan.timeout = 0;
    EXPECT_EQ(plan.backup(), "/home/o'neil/.ravlen.update-backup");
    EXPECT_EQ(plan.next(), "/home/o'neil/.ravlen.update-new");
    EXPECT_EQ(plan.nextApp(), "/home/o'neil/.ravlen.update-new/ravlen");
    const QString script = plan.script();
    EXPECT_TRUE(script.startsWith(
        "#!/bin/sh\n# Installs an update once the running app quits, then opens it again.\n\nPID=42\n"));
    for (const char* line : {"\nTARGET='/home/o'\\''neil/ravlen'\n", "\nREQUIREMENT=''\n", "\nTIMEOUT=1\n",
                             "\nexec 3<&-\n", "\nmain\nexit $?\n"})
        EXPECT_TRUE(script.contains(QLatin1String(line))) << line;
    EXPECT_TRUE(script.endsWith("exit $?\n"));
    // Only local documents are reopened; none reopens the app alone.
    EXPECT_EQ(UpdateInstallPlan::reopen({QUrl("https://example.com/a.pdf")}), UpdateInstallPlan::reopen({}));
    EXPECT_TRUE(UpdateInstallPlan::reopen({QUrl::fromLocalFile("/d/it's.pdf")}).contains("'/d/it'\\''s.pdf'"));
}

TEST(UpdateInstaller, StartDropsALogPastItsLimit)
{
    for (const auto& [size, kept] : std::vector<std::pair<int, bool>>{{300000, false}, {200000, true}}) {
        Installation install;
        UpdateInstallPlan plan = install.plan(endedProcess());
        QDir(install.newApp).removeRecursively(); // a short run: it stops at once
        ASSERT_TRUE(writeFile(plan.log, QByteArray(size, 'x')));
        EXPECT_EQ(install.run(plan), 1);
        EXPECT_EQ(readFile(plan.log).startsWith(QByteArray(1000, 'x')), kept) << size;
        EXPECT_TRUE(readFile(plan.log).contains("Waiting for process"));
    }
}

TEST(UpdateInstaller, TheLogAndItsFolderAreTheUsersAlone)
{
    for (const bool leftOpen : {false, true}) {
        SCOPED_TRACE(leftOpen ? "left open by an earlier version" : "new");
        Installation install;
        UpdateInstallPlan plan = install.plan(endedProcess());
        QDir(install.newApp).removeRecursively(); // a short run: it stops at once
        if (leftOpen) {
            ASSERT_TRUE(writeFile(plan.log, "an earlier update\n"));
            ::chmod(QFile::encodeName(plan.log).constData(), 0644);
            ::chmod(QFile::encodeName(QFileInfo(plan.log).path()).constData(), 0755);
        }
        EXPECT_EQ(install.run(plan), 1);
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(plan.log).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(plan.log).path()).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u);
        EXPECT_TRUE(readFile(plan.log).contains("Waiting for process"));
    }
}

TEST(UpdateInstaller, BlockersComeInOrder)
{
    QTemporaryDir dir;
    const QString own = dir.filePath("ravlen");
    ASSERT_TRUE(makeInstallFolder(own, "1.0", "1", "program"));
    const QString team = "ABCDE12345";
    const uid_t user = 1000;
    EXPECT_EQ(UpdateInstaller::blocker(own, std::nullopt, user), InstallBlocker::unsignedCopy);
    EXPECT_EQ(UpdateInstaller::blocker("/usr", QString(), 0), InstallBlocker::unsignedCopy);
    for (const char* system : {"/usr", "/usr/local", "/usr/lib/ravlen", "/", "/opt/../usr"})
        EXPECT_EQ(UpdateInstaller::blocker(system, team, user), InstallBlocker::packageManaged) << system;
    EXPECT_EQ(UpdateInstaller::blocker(dir.path(), team, user), InstallBlocker::packageManaged)
        << "not an install folder";
    EXPECT_EQ(UpdateInstaller::blocker(own, team, 0), InstallBlocker::runningAsRoot);
    EXPECT_EQ(UpdateInstaller::blocker(own + "/", team, user), std::nullopt);
    EXPECT_EQ(message(InstallBlocker::unsignedCopy, "Sample App"),
              "This copy of Sample App is a development build, so it can't update itself.");
    // A copy in or under a folder another user may write, sticky or not,
    // or reached through their link, is not the user's to replace; one its
    // group may write is, when that group holds the user alone.
    const struct {
        const char* what;
        const char* folder; // holds the copy, below the test's folder
        mode_t mode;
        std::optional<InstallBlocker> blocker;
        bool privateGroup = false; // the folder's group (root's, as the test runs) holds the user alone
    } places[] = {
        {"a sticky folder all may write", "shared", 01777, InstallBlocker::translocated},
        {"a folder all may write", "open", 0777, InstallBlocker::translocated},
        {"a folder its group may write", "team", 0775, InstallBlocker::translocated},
        {"a folder of the user's in a sticky one", "shared/mine", 0755, std::nullopt},
        {"a folder the user's private group may write", "private", 0775, std::nullopt, true},
    };
    for (const auto& p : places) {
        if (p.privateGroup && ::geteuid() != 0) continue; // the accounts the test names are root's
        const testsupport::Accounts accounts(
            {{0, {"root", p.privateGroup ? std::vector<std::string>{} : std::vector<std::string>{"bob"}}}});
        const QString folder = dir.filePath(p.folder);
        ASSERT_TRUE(makeInstallFolder(folder + "/ravlen", "1.0", "1", "program"));
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), p.mode), 0);
        EXPECT_EQ(UpdateInstaller::blocker(folder + "/ravlen", team, user), p.blocker) << p.what;
    }
    EXPECT_EQ(message(InstallBlocker::translocated, "Sample App"),
              "Move Sample App to a folder of your own so it can update itself.");
    if (::geteuid() != 0) return; // only root gives a link away
    ASSERT_TRUE(QFile::link(own, dir.filePath("theirs")));
    ASSERT_EQ(::lchown(QFile::encodeName(dir.filePath("theirs")).constData(), 4242, 4242), 0);
    EXPECT_EQ(UpdateInstaller::blocker(dir.filePath("theirs"), team, user), InstallBlocker::translocated);
}
