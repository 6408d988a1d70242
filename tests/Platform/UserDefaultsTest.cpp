#include "Platform/UserDefaults.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

using nlohmann::json;
using platform::UserDefaults;
using testsupport::readFile;
using testsupport::writeFile;

namespace {} // namespace

TEST(UserDefaults, EveryTypeSurvivesAReopen)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config/defaults.json"); // the folder is made on first write
    const std::int64_t big = (std::int64_t(1) << 53) + 1;      // not representable as a double
    {
        UserDefaults defaults(path);
        defaults.set("flag", true);
        defaults.set("off", false);
        defaults.set("big", big);
        defaults.set("min", std::numeric_limits<std::int64_t>::min());
        defaults.set("max", std::numeric_limits<std::int64_t>::max());
        defaults.set("ratio", 0.1);
        defaults.set("whole", 2.0);
        defaults.set("name", "Zoë — 日本");
        defaults.set("blob", json{{"b", json::array({1, 2.5, "x"})}, {"a", nullptr}});
        ASSERT_TRUE(defaults.synchronize());
    }
    UserDefaults again(path);
    EXPECT_EQ(again.boolValue("flag"), true);
    EXPECT_EQ(again.boolValue("off"), false);
    EXPECT_EQ(again.intValue("big"), big);
    EXPECT_EQ(again.intValue("min"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(again.intValue("max"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(again.doubleValue("ratio"), 0.1);
    EXPECT_EQ(again.doubleValue("whole"), 2.0);
    EXPECT_EQ(again.intValue("whole"), std::nullopt) << "a double stays a double";
    EXPECT_EQ(again.stringValue("name"), "Zoë — 日本");
    EXPECT_EQ(again.value("blob"), (json{{"b", json::array({1, 2.5, "x"})}, {"a", nullptr}}));
}

TEST(UserDefaults, TypedReadsTellMissingFromOtherTypes)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.json"));
    defaults.set("text", "yes");
    defaults.set("count", 3);
    EXPECT_FALSE(defaults.contains("nothing"));
    EXPECT_EQ(defaults.boolValue("nothing"), std::nullopt);
    EXPECT_TRUE(defaults.contains("text"));
    EXPECT_EQ(defaults.boolValue("text"), std::nullopt);
    EXPECT_EQ(defaults.intValue("text"), std::nullopt);
    EXPECT_EQ(defaults.stringValue("count"), std::nullopt);
    EXPECT_EQ(defaults.doubleValue("count"), 3.0) << "integers read as doubles";
    // An unsigned value beyond the signed range is not an int64.
    defaults.set("huge", std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(defaults.intValue("huge"), std::nullopt);
    defaults.remove("text");
    EXPECT_FALSE(defaults.contains("text"));
    // Replacing an integer with an equal double changes its type.
    defaults.set("count", 3.0);
    EXPECT_EQ(defaults.intValue("count"), std::nullopt);
}

TEST(UserDefaults, FileHasSortedKeysAndIsLocaleFree)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("d.json");
    {
        UserDefaults defaults(path);
        defaults.set("zeta", 1.5);
        defaults.set("alpha", 1);
        defaults.set("mid", "m");
    }
    const QByteArray text = readFile(path);
    const qsizetype a = text.indexOf("\"alpha\""), m = text.indexOf("\"mid\""), z = text.indexOf("\"zeta\"");
    ASSERT_GE(a, 0);
    EXPECT_LT(a, m);
    EXPECT_LT(m, z);
    EXPECT_TRUE(text.contains("1.5"));
    EXPECT_FALSE(text.contains("1,5"));
}

TEST(UserDefaults, InvalidUtf8IsWrittenReplacedNotLost)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("d.json");
    {
        UserDefaults defaults(path);
        defaults.set("bad", std::string("a\xff"
                                        "b"));
        defaults.set("good", 1);
        EXPECT_TRUE(defaults.synchronize());
    }
    UserDefaults again(path);
    EXPECT_EQ(again.intValue("good"), 1);
    EXPECT_EQ(again.stringValue("bad"), "a\xEF\xBF\xBD"
                                        "b");
}

TEST(UserDefaults, ChangesReachTheFileWithoutSynchronize)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("d.json");
    {
        UserDefaults defaults(path);
        defaults.set("later", 42);
        // Written off this thread shortly after the change.
        testsupport::waitFor([&] { return readFile(path).contains("later"); });
        EXPECT_TRUE(readFile(path).contains("\"later\": 42"));
    }

    // A steady stream of changes (a slider dragged on and on) is written
    // while it goes on: the write is due a delay after the first change the
    // file does not hold, the first ever and the first after a write, and
    // the changes after it leave it there. A delay no test outlasts keeps
    // the writer from writing meanwhile.
    const auto delay = std::chrono::hours(1);
    UserDefaults defaults(path, delay);
    for (int round = 0; round < 2; ++round) {
        const auto before = std::chrono::steady_clock::now();
        defaults.set("dragged", 2 * round);
        const auto due = defaults.writeDue();
        ASSERT_TRUE(due);
        EXPECT_GE(*due, before + delay) << round;
        EXPECT_LE(*due, std::chrono::steady_clock::now() + delay) << round;
        defaults.set("dragged", 2 * round + 1);
        EXPECT_EQ(defaults.writeDue(), due) << round;
        ASSERT_TRUE(defaults.synchronize());
        EXPECT_EQ(defaults.writeDue(), std::nullopt);
    }
}

TEST(UserDefaults, DestructorWritesPendingChanges)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("d.json");
    {
        UserDefaults defaults(path);
        defaults.set("key", "value");
    }
    EXPECT_EQ(UserDefaults(path).stringValue("key"), "value");
}

TEST(UserDefaults, MalformedFilesReadEmptyAndAreEachKeptAside)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("defaults.json");
    const std::vector<QByteArray> damaged = {"{\"a\": tru", "[1, 2]", "\xff\xfe garbage"};
    const QStringList aside = {"defaults.corrupt.json", "defaults.corrupt-2.json", "defaults.corrupt-3.json"};
    for (size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(damaged[i].toStdString());
        writeFile(path, damaged[i]);
        {
            UserDefaults defaults(path);
            EXPECT_FALSE(defaults.contains("a"));
            defaults.set("fresh", true);
            EXPECT_TRUE(defaults.synchronize());
        }
        EXPECT_EQ(UserDefaults(path).boolValue("fresh"), true);
        // A second damaged file takes the next name: no copy is ever written over.
        for (size_t j = 0; j <= i; ++j) EXPECT_EQ(readFile(dir.filePath(aside[int(j)])), damaged[j]);
    }
}

TEST(UserDefaults, EmptyFileReadsEmptyWithoutACorruptCopy)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("defaults.json");
    writeFile(path, {});
    UserDefaults defaults(path);
    EXPECT_FALSE(defaults.contains("x"));
    EXPECT_FALSE(QFile::exists(dir.filePath("defaults.corrupt.json")));
}

TEST(UserDefaults, UnwritableFolderFailsButKeepsValues)
{
    QTemporaryDir dir;
    // A file where the folder should be: no folder can be made, even as root.
    writeFile(dir.filePath("blocked"), "x");
    UserDefaults defaults(dir.filePath("blocked/defaults.json"));
    defaults.set("kept", 7);
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(defaults.intValue("kept"), 7);
    defaults.set("more", "y");
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(defaults.stringValue("more"), "y");
    EXPECT_EQ(readFile(dir.filePath("blocked")), "x");
}

TEST(UserDefaults, ConcurrentWritersLoseNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("d.json");
    {
        UserDefaults defaults(path);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&defaults, t] {
                for (int i = 0; i < 200; ++i) {
                    const std::string key = "k" + std::to_string(t) + "_" + std::to_string(i);
                    defaults.set(key, i);
                    EXPECT_EQ(defaults.intValue(key), i);
                    if (i % 50 == 0) defaults.synchronize();
                }
            });
        for (auto& thread : threads) thread.join();
    }
    UserDefaults again(path);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 200; ++i) ASSERT_EQ(again.intValue("k" + std::to_string(t) + "_" + std::to_string(i)), i);
}

TEST(UserDefaults, StandardLivesInTheConfiguredFolder)
{
    QTemporaryDir dir;
    qputenv("RAVLEN_CONFIG_DIR", dir.path().toUtf8());
    EXPECT_EQ(UserDefaults::standard().path(), QDir(dir.path()).filePath("defaults.json"));
    EXPECT_EQ(&UserDefaults::standard(), &UserDefaults::standard());
    qunsetenv("RAVLEN_CONFIG_DIR");
}
