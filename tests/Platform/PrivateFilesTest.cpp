// The check of a folder that another user could have made first, made on
// each folder of the path in turn and run as an ordinary user: as nobody, in
// a child process, when the tests run as root.
#include "Platform/PrivateFiles.h"
#include "support/OtherUsers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <functional>

#include <fcntl.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::readFile;

namespace {

constexpr uid_t kNobody = testsupport::kUser;
constexpr uid_t kStranger = testsupport::kOtherUser;
const bool kRoot = ::geteuid() == 0;
const uid_t kUser = kRoot ? kNobody : ::geteuid();

// What privateFolderProblem() says of each folder, asked by kUser; empty for none.
QStringList problemsAsUser(const QStringList& folders)
{
    const auto ask = [&] {
        QStringList answers;
        for (const QString& folder : folders)
            answers << platform::PrivateFiles::privateFolderProblem(folder).value_or(QString());
        return answers.join(u'\n').toUtf8();
    };
    if (!kRoot) return QString::fromUtf8(ask()).split(u'\n');
    int pipe[2];
    if (::pipe(pipe) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
        const QByteArray answers = ask();
        ::_exit(::write(pipe[1], answers.constData(), size_t(answers.size())) == answers.size() ? 0 : 3);
    }
    ::close(pipe[1]);
    QByteArray answers;
    char chunk[4096];
    for (ssize_t n; (n = ::read(pipe[0], chunk, sizeof chunk)) > 0;) answers.append(chunk, n);
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the unprivileged child failed";
    return QString::fromUtf8(answers).split(u'\n');
}

void own(const QString& path, uid_t user, mode_t mode)
{
    const QByteArray native = QFile::encodeName(path);
    EXPECT_EQ(::chmod(native.constData(), mode), 0);
    if (kRoot) {
        EXPECT_EQ(::chown(native.constData(), user, user == 0 ? 0 : kNobody), 0);
    }
}

// A folder of the user's with a shared copy in it, everything in it last
// changed `hoursAgo`; a link inside leads to `outside`.
QString leftover(const QString& folder, mode_t mode, qint64 hoursAgo, const QString& outside)
{
    const QString copies = folder + "/ravlen Share/0F1E2D3C";
    EXPECT_TRUE(testsupport::writeFile(copies + "/Report.pdf", "%PDF-1.7\n"));
    EXPECT_TRUE(QFile::link(outside, copies + "/link.pdf"));
    EXPECT_EQ(::chmod(QFile::encodeName(folder).constData(), mode), 0);
    const timespec then[2] = {{::time(nullptr) - hoursAgo * 3600, 0}, {::time(nullptr) - hoursAgo * 3600, 0}};
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    for (QString entry = folder; !entry.isEmpty(); entry = it.hasNext() ? it.next() : QString())
        ::utimensat(AT_FDCWD, QFile::encodeName(entry).constData(), then, AT_SYMLINK_NOFOLLOW);
    return folder;
}

} // namespace

TEST(PrivateFiles, EveryFolderOfThePathIsCheckedAsTheUserSeesIt)
{
    // Root's link is followed where only root may change the folder holding
    // it (a runtime folder reached through /var/run); no other is.
    enum Change {
        none,
        rootsFolder,
        strangersFolder,
        othersMayWrite,
        stickyOthersMayWrite,
        link,
        rootsLink,
        strangersLink,
        missing
    };
    struct Case {
        const char* what;
        Change change;
        int at;        // the folder of base/a/b/c changed: 0 for a … 2 for c
        int problemAt; // the folder the problem names; -1 for none
    };
    std::vector<Case> cases = {{"all the user's", none, 0, -1}, {"the last two missing", missing, 1, -1}};
    for (int at = 0; at < 3; ++at) {
        cases.push_back({"others may write", othersMayWrite, at, at});
        cases.push_back({"others may write, sticky", stickyOthersMayWrite, at, at == 2 ? 2 : -1});
        cases.push_back({"the user's own link to a folder of the user's", link, at, at});
        if (!kRoot) continue; // only root gives folders and links away
        cases.push_back({"root's link to a folder of the user's", rootsLink, at, -1});
        cases.push_back({"another user's link to a folder of the user's", strangersLink, at, at});
        cases.push_back({"root's", rootsFolder, at, at == 2 ? 2 : -1});
        cases.push_back({"another user's", strangersFolder, at, at});
    }

    QTemporaryDir dir;
    own(dir.path(), 0, 0755);
    QStringList targets;
    std::vector<QStringList> chains;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const QString base = dir.filePath(QString::number(i));
        const QStringList chain = {base + "/a", base + "/a/b", base + "/a/b/c"};
        EXPECT_TRUE(QDir().mkpath(chain[2]) && QDir().mkpath(base + "/twin"));
        own(base, 0, 0755);
        for (const QString& folder : chain) own(folder, kUser, folder == chain[2] ? 0700 : 0755);
        own(base + "/twin", kUser, 0700);
        const QString& changed = chain[c.at];
        switch (c.change) {
        case none: break;
        case rootsFolder: own(changed, 0, 0755); break;
        case strangersFolder: own(changed, kStranger, 0700); break;
        case othersMayWrite: own(changed, kUser, 0777); break;
        case stickyOthersMayWrite: own(changed, kUser, 01777); break;
        case link:
        case rootsLink:
        case strangersLink: {
            EXPECT_TRUE(QDir().rename(changed, base + "/twin/" + QFileInfo(changed).fileName()));
            EXPECT_TRUE(QFile::link(base + "/twin/" + QFileInfo(changed).fileName(), changed));
            const uid_t owner = c.change == link ? kUser : c.change == rootsLink ? 0 : kStranger;
            EXPECT_EQ(::lchown(QFile::encodeName(changed).constData(), owner, owner), 0);
            break;
        }
        case missing: EXPECT_TRUE(QDir(changed).removeRecursively()); break;
        }
        targets << chain[2];
        chains.push_back(chain);
    }

    const QStringList problems = problemsAsUser(targets);
    ASSERT_EQ(problems.size(), qsizetype(cases.size()));
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(std::string(c.what) + " at folder " + std::to_string(c.at));
        const QString& problem = problems[qsizetype(i)];
        if (c.problemAt < 0) {
            EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
            continue;
        }
        const QString& named = chains[i][c.problemAt];
        EXPECT_TRUE(problem.contains(named + u' ') || problem.endsWith(named)) << problem.toStdString();
    }
    // The missing folders were made the user's own, closed to others.
    struct stat made {};
    ASSERT_EQ(::stat(QFile::encodeName(chains[1][2]).constData(), &made), 0);
    EXPECT_EQ(made.st_uid, kUser);
    EXPECT_EQ(made.st_mode & 07777, 0700u);
}

TEST(PrivateFiles, AWorkFolderSomeoneElseCouldHoldIsPassedOver)
{
    using platform::PrivateFiles::PrivateWorkFolder;
    // Plants what another user made first: at "ravlen" in the runtime
    // folder, or at the fixed name once used in the temporary folder.
    using Plant = std::function<bool(const QString& runtimeRoot, const QString& oldRoot, const QString& elsewhere)>;
    struct Case {
        const char* what;
        bool runtime;     // whether there is a runtime folder
        bool runtimeKept; // whether its "ravlen" is the work folder
        Plant plant;
    };
    const auto folderWith = [](uid_t owner, mode_t mode) -> Plant {
        return [owner, mode](const QString& root, const QString&, const QString&) {
            const QByteArray native = QFile::encodeName(root);
            return QDir().mkpath(root) && ::chmod(native.constData(), mode) == 0
                   && (owner == ::geteuid() || ::chown(native.constData(), owner, owner) == 0);
        };
    };
    const std::vector<Case> cases{
        {"the user's own", true, true, folderWith(::geteuid(), 0700)},
        // Root's link where only root writes is followed: run as root, the link is another user's.
        {"a link", true, false,
         [](const QString& root, const QString&, const QString& elsewhere) {
             return QFile::link(elsewhere, root)
                    && (!kRoot || ::lchown(QFile::encodeName(root).constData(), kStranger, kStranger) == 0);
         }},
        {"another user's", true, false, folderWith(kStranger, 0700)}, // only root can give a folder away
        {"open to others", true, false, folderWith(::geteuid(), 0777)},
        {"no runtime folder, the old fixed name taken", false, false,
         [](const QString&, const QString& old, const QString& elsewhere) { return QFile::link(elsewhere, old); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir tmp, elsewhere;
        const QString runtime = tmp.filePath("run"), temporary = tmp.filePath("tmp");
        ASSERT_TRUE(QDir().mkpath(runtime) && QDir().mkpath(temporary));
        ::chmod(QFile::encodeName(runtime).constData(), 0700);
        const QString planted = runtime + "/ravlen", old = temporary + QStringLiteral("/ravlen-%1").arg(::getuid());
        if (!c.plant(planted, old, elsewhere.path())) continue;

        const PrivateWorkFolder place(c.runtime ? runtime : QString(), temporary);
        const QString path = place.path();
        if (c.runtimeKept) {
            EXPECT_EQ(path, planted);
        } else {
            // A folder of the run's own, made where nobody could name it first, and kept for the run.
            EXPECT_TRUE(path.startsWith(temporary + "/ravlen-")) << path.toStdString();
            EXPECT_NE(path, old);
            EXPECT_EQ(place.path(), path);
        }
        struct stat info {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_uid, ::geteuid());
        EXPECT_EQ(info.st_mode & 07777, 0700u);
        EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
    }
}

// Work folders that earlier runs made in the temporary folder go once no
// running copy holds their lock and a day has passed over all in them;
// whatever is not plainly such a folder of the user's own stays.
TEST(PrivateFiles, LeftoversOfEarlierRunsGoOnceNoRunningCopyHoldsThem)
{
    QTemporaryDir dir, elsewhere;
    const QString tmp = dir.filePath("tmp"), outside = elsewhere.filePath("kept.pdf");
    ASSERT_TRUE(QDir().mkpath(tmp) && QFile(outside).open(QIODevice::WriteOnly));
    const platform::PrivateFiles::PrivateWorkFolder place(QString(), tmp);
    const QString running = place.path(); // this run's, its lock held
    // An earlier run's: its lock file is there, held by nobody.
    ASSERT_TRUE(testsupport::writeFile(tmp + "/ravlen-Ab12Cd/in-use.lock", {}));
    const QString earlier = leftover(tmp + "/ravlen-Ab12Cd", 0700, 30, outside);
    // This run's; changed an hour ago; open to others; not named as a work folder; a link; another user's.
    QStringList kept = {leftover(running, 0700, 30, outside), leftover(tmp + "/ravlen-Re5ent", 0700, 1, outside),
                        leftover(tmp + "/ravlen-Op6nMe", 0755, 30, outside),
                        leftover(tmp + "/ravlen-Longer1", 0700, 30, outside), tmp + "/ravlen-Li7kEd"};
    ASSERT_TRUE(QFile::link(elsewhere.path(), kept.back()));
    if (kRoot) {
        kept << leftover(tmp + "/ravlen-St8ngr", 0700, 30, outside);
        ASSERT_EQ(::chown(QFile::encodeName(kept.back()).constData(), kStranger, kStranger), 0);
    }

    EXPECT_EQ(place.removeLeftovers(std::chrono::system_clock::now() - std::chrono::hours(24)), 1);
    EXPECT_FALSE(QFileInfo::exists(earlier));
    for (const QString& folder : kept) EXPECT_TRUE(QFileInfo::exists(folder)) << folder.toStdString();
    EXPECT_TRUE(QFileInfo(kept[4]).isSymLink());
    EXPECT_TRUE(QFile::exists(outside));

    // Nor is a folder left there that a run made and then refused, the
    // temporary folder being open to others or another user's.
    const auto entries = [&] { return QDir(tmp).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); };
    const QStringList before = entries();
    for (const auto& [owner, mode] : {std::pair(::geteuid(), mode_t(0777)), std::pair(kStranger, mode_t(0755))}) {
        if (owner != ::geteuid() && !kRoot) continue; // only root gives folders away
        own(tmp, owner, mode);
        EXPECT_THROW(platform::PrivateFiles::PrivateWorkFolder(QString(), tmp).path(),
                     platform::PrivateFiles::PrivateFolderError);
        EXPECT_EQ(entries(), before) << owner;
    }
}

// A runtime folder the user does not hold alone is replaced, in this
// process's environment (which every program it starts inherits), by a private one.
TEST(PrivateFiles, ARuntimeFolderOthersHoldIsReplacedForEveryProgramStarted)
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir dir;
    const auto folder = [&](const QString& name, mode_t mode, uid_t owner) {
        EXPECT_TRUE(QDir().mkpath(dir.filePath(name)));
        own(dir.filePath(name), owner, mode);
        return dir.filePath(name);
    };
    const struct {
        QString given;
        bool replaced;
    } cases[] = {
        {folder("own", 0700, ::geteuid()), false},
        {folder("open", 0755, ::geteuid()), true},
        // Run as root, the link is another user's: root's own would be followed.
        {QFile::link(dir.filePath("own"), dir.filePath("link"))
                 && (!kRoot || ::lchown(QFile::encodeName(dir.filePath("link")).constData(), kStranger, kStranger) == 0)
             ? dir.filePath("link")
             : QString(),
         true},
        {kRoot ? folder("theirs", 0700, kStranger) : QString(), true},
        {"run/user", true},
    };
    for (const auto& c : cases) {
        if (c.given.isEmpty()) continue;
        SCOPED_TRACE(c.given.toStdString());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(c.given));
        EXPECT_EQ(platform::PrivateFiles::replaceForeignRuntimeFolder().has_value(), c.replaced);
        const QString now = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
        EXPECT_EQ(now == c.given, !c.replaced) << now.toStdString();
        struct stat st {};
        ASSERT_EQ(::lstat(QFile::encodeName(now).constData(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700);
    }
    qputenv("XDG_RUNTIME_DIR", saved);
}

// Every base folder ravlen keeps files in (configuration, data, state,
// cache) is one no other user can change, or it is not written into: the
// process (and every program it starts) uses a folder of the same kind in
// its private work folder instead. A base folder the user made in a sticky
// folder (as one under /tmp), or reached through the user's own link, is
// kept, and so are the defaults of a login whose umask (002) lets the user's
// private group write them; a group that holds another user does not count
// as the user's. The user is nobody, in a child; afterwards nothing of
// theirs is in a folder refused.
TEST(PrivateFiles, ABaseFolderAnotherUserCanChangeIsNotWrittenInto)
{
    using testsupport::kOtherUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "another user's folders need root to make";
    static const char* const variables[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"};
    static const char* const defaults[] = {"/.config", "/.local/share", "/.local/state", "/.cache"};
    struct Case {
        const char* what;
        const char* bases; // the folder the four are made in, under the test's folder; empty: the defaults
        bool replaced;
        const char* home = "home";
        bool groupShared = false; // the user's group names another user too
    };
    const Case cases[] = {
        {"the defaults in the home folder", "", false},
        {"the user's own, in a sticky folder all may write", "tmp/mine", false},
        {"the user's own, open to read, in a sticky folder", "tmp/readable", false},
        {"through the user's own link", "home/link", false},
        {"relative, so the defaults", "relative", false},
        {"made first by another user, in a sticky folder", "tmp/theirs", true},
        {"the user's, in a folder another user owns", "bobs", true},
        {"the user's, in a folder others may write, not sticky", "open", true},
        {"another user's that the user may write", "given", true},
        {"each one a sticky folder all may write", "sticky", true},
        {"through another user's link", "tmp/link", true},
        {"the defaults, made with umask 002, the group the user's alone", "", false, "grouphome"},
        {"the user's, in a folder its private group may write", "grouped", false},
        {"the defaults, made with umask 002, the group naming another user", "", true, "sharedhome", true},
        {"the user's, in a folder a group with another user may write", "sharedgroup", true, "home", true},
    };
    QTemporaryDir dir;
    const auto folder = [&](const QString& name, uid_t owner, mode_t mode) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(QDir().mkpath(path));
        own(path, owner, mode);
        return path;
    };
    own(dir.path(), 0, 0755);
    const QString home = folder("home", kUser, 0755);
    folder("home/real", kUser, 0700);
    EXPECT_TRUE(QFile::link(dir.filePath("home/real"), dir.filePath("home/link")));
    ::lchown(QFile::encodeName(dir.filePath("home/link")).constData(), kUser, kUser);
    folder("tmp", 0, 01777);
    folder("sticky", 0, 01777);
    folder("tmp/mine", kUser, 0700);
    folder("tmp/readable", kUser, 0755);
    folder("tmp/theirs", kOtherUser, 0777);
    folder("bobs", kOtherUser, 0755);
    folder("open", 0, 0777);
    folder("given", 0, 0755);
    folder("home/elsewhere", kUser, 0700);
    // As a login with umask 002 makes them: open to the user's own group.
    for (const QString groupHome : {"grouphome", "sharedhome"}) {
        folder(groupHome, kUser, 0775);
        for (const char* base : {"/.config", "/.local", "/.local/share", "/.local/state", "/.cache"})
            folder(groupHome + base, kUser, 0775);
    }
    folder("grouped", kUser, 0775);
    folder("sharedgroup", kUser, 0775);
    EXPECT_TRUE(QFile::link(dir.filePath("home/elsewhere"), dir.filePath("tmp/link")));
    ::lchown(QFile::encodeName(dir.filePath("tmp/link")).constData(), kOtherUser, kOtherUser);
    for (const char* kind : {"config", "data", "state", "cache"}) {
        folder(QStringLiteral("bobs/") + kind, kUser, 0700);
        folder(QStringLiteral("open/") + kind, kUser, 0700);
        folder(QStringLiteral("given/") + kind, kOtherUser, 0777);
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString bases = QLatin1String(c.bases);
        const bool relative = bases == QLatin1String("relative");
        QStringList given;
        for (const char* kind : {"config", "data", "state", "cache"}) {
            if (relative) given << QStringLiteral("relative/") + kind;
            else if (bases.isEmpty()) given << QString();
            else if (bases == QLatin1String("sticky")) given << dir.filePath(bases);
            else given << dir.filePath(bases) + u'/' + kind;
        }
        const QString caseHome = dir.filePath(c.home);
        EXPECT_TRUE(testsupport::asUser(kUser, [&] {
            const testsupport::Accounts accounts(c.groupShared ? testsupport::Accounts::sharedWithBob()
                                                               : testsupport::Accounts::usersOwnGroup());
            qputenv("HOME", QFile::encodeName(caseHome));
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.filePath("home/run")));
            for (int i = 0; i < 4; ++i) {
                if (given[i].isEmpty()) qunsetenv(variables[i]);
                else qputenv(variables[i], QFile::encodeName(given[i]));
            }
            const auto replaced = platform::PrivateFiles::replaceForeignBaseFolders();
            EXPECT_EQ(replaced.size(), c.replaced ? 4u : 0u);
            for (int i = 0; i < 4; ++i) {
                const QString now = QFile::decodeName(qgetenv(variables[i]));
                const QString base = now.isEmpty() ? caseHome + defaults[i] : now;
                if (c.replaced) {
                    EXPECT_NE(now, given[i]) << variables[i];
                    EXPECT_TRUE(now.startsWith(home + "/run/ravlen/")) << now.toStdString();
                } else {
                    EXPECT_EQ(now.toStdString(), relative ? std::string() : given[i].toStdString()) << variables[i];
                }
                // What ravlen keeps there: its own folder and a private file in it.
                EXPECT_TRUE(platform::PrivateFiles::write(base + "/ravlen/kept.json", "{}")) << base.toStdString();
            }
        }));
        // Nothing of the user's in a folder refused: what the test put there only.
        if (c.replaced) {
            QStringList refused = given;
            if (QLatin1String(c.bases).isEmpty())
                for (int i = 0; i < 4; ++i) refused[i] = caseHome + defaults[i];
            for (const QString& base : refused) {
                QDirIterator it(base, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                QDirIterator::Subdirectories);
                while (it.hasNext()) {
                    const QString entry = it.next();
                    struct stat st {};
                    ::lstat(QFile::encodeName(entry).constData(), &st);
                    EXPECT_NE(st.st_uid, kUser) << entry.toStdString();
                }
            }
        } else {
            for (int i = 0; i < 4; ++i) {
                const QString base = given[i].isEmpty() || relative ? caseHome + defaults[i] : given[i];
                EXPECT_EQ(readFile(base + "/ravlen/kept.json"), "{}") << base.toStdString();
            }
        }
    }
}

// Each folder ravlen writes its own files in is reached through the walk
// with the same rule, whoever asks (the base folders are checked at start,
// but a writer never relies on that): nothing on the way another user can
// change but a sticky folder, and ravlen's own folder the user's alone. A
// folder of another user's that lets the user write is not used as it is.
// The user is nobody, in a child.
TEST(PrivateFiles, APrivateFileIsWrittenOnlyInAFolderOfTheUsersOwn)
{
    using testsupport::kOtherUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "another user's folders need root to make";
    struct Case {
        const char* what;
        const char* folder; // ravlen's folder, under the test's folder, as the user names it
        bool written;
        bool groupShared = false; // the user's group names another user too
    };
    const Case cases[] = {
        {"the user's own, in a sticky folder", "tmp/mine/ravlen", true},
        {"the user's own, left open to read", "tmp/readable/ravlen", true},
        {"made there, through the user's own link", "tmp/mine/link/ravlen", true},
        {"another user's that the user may write", "tmp/mine/given", false},
        {"the user's, in a folder another user owns", "bobs/ravlen", false},
        {"the user's, in a folder others may write, not sticky", "open/ravlen", false},
        {"in a folder another user made first, in a sticky folder", "tmp/theirs/ravlen", false},
        {"through another user's link", "tmp/mine/theirlink/ravlen", false},
        {"the user's, in a folder the user's private group may write", "grouped/ravlen", true},
        {"the user's, in a folder a group with another user may write", "grouped/shared", false, true},
    };
    QTemporaryDir dir;
    const auto folder = [&](const QString& name, uid_t owner, mode_t mode) {
        EXPECT_TRUE(QDir().mkpath(dir.filePath(name)));
        own(dir.filePath(name), owner, mode);
    };
    own(dir.path(), 0, 0755);
    folder("tmp", 0, 01777);
    folder("tmp/mine", kUser, 0700);
    folder("tmp/mine/real", kUser, 0700);
    folder("tmp/mine/elsewhere", kUser, 0700);
    folder("tmp/mine/given", kOtherUser, 0777);
    folder("tmp/readable/ravlen", kUser, 0755);
    own(dir.filePath("tmp/readable"), kUser, 0755);
    folder("tmp/theirs", kOtherUser, 0777);
    folder("bobs/ravlen", kUser, 0700);
    own(dir.filePath("bobs"), kOtherUser, 0755);
    folder("open/ravlen", kUser, 0700);
    own(dir.filePath("open"), 0, 0777);
    folder("grouped", kUser, 0775);
    EXPECT_TRUE(QFile::link(dir.filePath("tmp/mine/real"), dir.filePath("tmp/mine/link")));
    EXPECT_TRUE(QFile::link(dir.filePath("tmp/mine/elsewhere"), dir.filePath("tmp/mine/theirlink")));
    ::lchown(QFile::encodeName(dir.filePath("tmp/mine/link")).constData(), kUser, kUser);
    ::lchown(QFile::encodeName(dir.filePath("tmp/mine/theirlink")).constData(), kOtherUser, kOtherUser);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString target = dir.filePath(c.folder) + "/history.json";
        EXPECT_TRUE(testsupport::asUser(kUser, [&] {
            const testsupport::Accounts accounts(c.groupShared ? testsupport::Accounts::sharedWithBob()
                                                               : testsupport::Accounts::usersOwnGroup());
            EXPECT_EQ(platform::PrivateFiles::makeFolder(QFileInfo(target).path()), c.written);
            EXPECT_EQ(platform::PrivateFiles::write(target, "[]"), c.written);
            EXPECT_EQ(platform::PrivateFiles::ownFolderProblem(QFileInfo(target).path()).has_value(), !c.written);
        }));
        EXPECT_EQ(readFile(target), c.written ? "[]" : "");
        if (!c.written) continue;
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(target).path()).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(st.st_uid, kUser);
    }
}
