#include "Quarn/App/SingleInstance.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
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
