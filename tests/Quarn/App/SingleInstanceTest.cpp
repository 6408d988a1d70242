#include "Quarn/App/SingleInstance.h"
#include "support/OtherUsers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

using quarn::SingleInstance;

TEST(SingleInstance, ASecondLaunchHandsItsFilesToTheFirst)
{
    QTemporaryDir dir;
    SingleInstance first(dir.path(), "test");
    ASSERT_TRUE(first.claim());
    QList<QStringList> received;
    QObject::connect(&first, &SingleInstance::filesReceived, [&](const QStringList& files) { received << files; });

    SingleInstance second(dir.path(), "test");
    EXPECT_FALSE(second.claim());
    // The second launch waits for an answer; the first answers from its event loop.
    std::atomic<int> result{-1};
    std::thread launch([&] { result = second.handOver({"relative.pdf", "/abs/other.pdf"}) ? 1 : 0; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return result != -1; }, 5000));
    launch.join();
    EXPECT_EQ(result, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !received.isEmpty(); }));
    EXPECT_EQ(received[0], QStringList({QFileInfo("relative.pdf").absoluteFilePath(), "/abs/other.pdf"}));

    // A launch with no file is a reopen.
    result = -1;
    std::thread reopen([&] { result = second.handOver({}) ? 1 : 0; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return result != -1; }, 5000));
    reopen.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == 2; }));
    EXPECT_TRUE(received[1].isEmpty());
}

TEST(SingleInstance, WithoutARuntimeFolderLaunchesMeetInTheUsersOwnCache)
{
    // Another user may make any name in the temporary folder first.
    QTemporaryDir cache;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray caches = qgetenv("XDG_CACHE_HOME");
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    const QString folder = SingleInstance::defaultFolder();
    SingleInstance first;
    SingleInstance second;
    const bool firstClaims = first.claim();
    const bool secondClaims = second.claim();
    const auto restore = [](const char* name, const QByteArray& value) {
        value.isNull() ? qunsetenv(name) : qputenv(name, value);
    };
    restore("XDG_RUNTIME_DIR", runtime);
    restore("XDG_CACHE_HOME", caches);
    EXPECT_EQ(folder, cache.path() + "/ravlen/instance");
    EXPECT_EQ(first.socketPath(), folder + "/ravlen.socket");
    EXPECT_TRUE(firstClaims);
    EXPECT_FALSE(secondClaims);
}

TEST(SingleInstance, TheLockIsFreedWhenTheFirstEnds)
{
    QTemporaryDir dir;
    {
        SingleInstance first(dir.path(), "test");
        ASSERT_TRUE(first.claim());
    }
    SingleInstance next(dir.path(), "test");
    EXPECT_TRUE(next.claim());
    // Nobody listens on another name: the hand-over fails instead of hanging.
    SingleInstance stray(dir.path(), "other");
    EXPECT_FALSE(stray.handOver({"a.pdf"}));
}

TEST(SingleInstance, AFolderThatIsNotPrivatelyOursIsNotUsed)
{
    struct Case {
        const char* why;
        // Makes the folder at the path and returns the path of the folder to use.
        std::function<QString(const QString& base)> make;
    };
    const auto made = [](const QString& path, mode_t mode) {
        QDir().mkpath(path);
        ::chmod(QFile::encodeName(path).constData(), mode);
        return path;
    };
    std::vector<Case> cases = {
        {"a folder others may read", [&](const QString& base) { return made(base + "/run", 0755); }},
        {"a folder others may write", [&](const QString& base) { return made(base + "/run", 0777); }},
        {"a link to a private folder",
         [&](const QString& base) {
             made(base + "/elsewhere", 0700);
             QFile::link(base + "/elsewhere", base + "/run");
             // Run as root, it is another user's: root's own, where only root writes, is followed.
             if (::geteuid() == 0) {
                 EXPECT_EQ(::lchown(QFile::encodeName(base + "/run").constData(), 65534, 65534), 0);
             }
             return base + "/run";
         }},
        {"a private folder in a folder others may write",
         [&](const QString& base) {
             made(base + "/shared", 0777);
             return made(base + "/shared/run", 0700);
         }},
    };
    // Only root can give a folder away.
    if (::geteuid() == 0)
        cases.push_back({"a folder of another user", [&](const QString& base) {
                             const QString path = made(base + "/run", 0700);
                             EXPECT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
                             return path;
                         }});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QTemporaryDir dir;
        const QString folder = c.make(dir.path());
        // Someone else's instance waits there: a lock held by a live process and a socket.
        QLockFile theirLock(folder + "/test.lock");
        ASSERT_TRUE(theirLock.tryLock());
        QLocalServer theirServer;
        ASSERT_TRUE(theirServer.listen(folder + "/test.socket"));
        int connections = 0;
        QObject::connect(&theirServer, &QLocalServer::newConnection, [&] { ++connections; });

        QStringList log;
        static QStringList* messages = nullptr;
        messages = &log;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { messages->append(text); });
        SingleInstance launch(folder, "test");
        // Not handed over: this launch runs on its own.
        EXPECT_TRUE(launch.claim());
        EXPECT_FALSE(launch.handOver({"/home/someone/private.pdf"}));
        qInstallMessageHandler(previous);
        QTest::qWait(50); // that no connection comes is the point: one would have by now
        EXPECT_EQ(connections, 0);
        EXPECT_EQ(log.filter(folder).size(), 1) << log.join(u'\n').toStdString();
    }
}

TEST(SingleInstance, AMissingFolderIsMadePrivate)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("runtime/ravlen");
    SingleInstance first(folder, "test");
    ASSERT_TRUE(first.claim());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    SingleInstance second(folder, "test");
    EXPECT_FALSE(second.claim());
}

TEST(SingleInstance, TheUsersOwnLinkForTheCacheKeepsTheHandOver)
{
    // ~/.cache on another disk and no runtime folder: the user's own link is
    // the user's, as the base folders' rule says. Root's is followed anyway.
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "runs as nobody, which needs root";
    QTemporaryDir dir("/tmp/home-XXXXXX");
    ASSERT_EQ(::chown(QFile::encodeName(dir.path()).constData(), testsupport::kUser, testsupport::kUser), 0);
    EXPECT_TRUE(testsupport::asUser(testsupport::kUser, [&] {
        ASSERT_TRUE(QDir(dir.path()).mkpath("home") && QDir(dir.path()).mkpath("disk/cache"));
        ASSERT_TRUE(QFile::link(dir.filePath("disk/cache"), dir.filePath("home/.cache")));
        qputenv("HOME", QFile::encodeName(dir.filePath("home")));
        qunsetenv("XDG_RUNTIME_DIR");
        qunsetenv("XDG_CACHE_HOME");
        SingleInstance first;
        SingleInstance second;
        EXPECT_EQ(first.socketPath(), dir.filePath("disk/cache/ravlen/instance/ravlen.socket"));
        EXPECT_TRUE(first.claim());
        EXPECT_FALSE(second.claim());
    }));
}
