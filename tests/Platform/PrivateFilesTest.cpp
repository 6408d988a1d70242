// The check of a folder that another user could have made first, made on
// each folder of the path in turn and run as an ordinary user: as nobody, in
// a child process, when the tests run as root.
#include "Platform/PrivateFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;
constexpr uid_t kStranger = 4242;
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

} // namespace

TEST(PrivateFiles, EveryFolderOfThePathIsCheckedAsTheUserSeesIt)
{
    enum Change { none, rootsFolder, strangersFolder, othersMayWrite, stickyOthersMayWrite, link, missing };
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
        cases.push_back({"a link to a folder of the user's", link, at, at});
        if (!kRoot) continue; // only root gives folders away
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
            EXPECT_TRUE(QDir().rename(changed, base + "/twin/" + QFileInfo(changed).fileName()));
            EXPECT_TRUE(QFile::link(base + "/twin/" + QFileInfo(changed).fileName(), changed));
            break;
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
        {"a link", true, false,
         [](const QString& root, const QString&, const QString& elsewhere) { return QFile::link(elsewhere, root); }},
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
