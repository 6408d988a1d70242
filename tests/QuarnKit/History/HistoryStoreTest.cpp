#include "QuarnKit/History/HistoryStore.h"

#include "Platform/UserDefaults.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace quarnkit;

using testsupport::readFile;

namespace {

QDateTime at(qint64 seconds) { return QDateTime::fromSecsSinceEpoch(1700000000 + seconds, Qt::UTC); }

// A store whose clock the test moves and whose file writes it counts.
struct Fixture : ::testing::Test {
    QTemporaryDir dir;
    qint64 now = 0;
    std::atomic<int> writes{0};

    HistoryStore::Options options(double delay = 60, int limit = HistoryStore::defaultLimit)
    {
        HistoryStore::Options o;
        o.limit = limit;
        o.saveDelay = delay;
        o.clock = [this] { return at(now); };
        o.writeFile = [this](const QString& path, const QByteArray& bytes) {
            // Counted once the bytes are down, so a test that waits for the
            // count reads the whole file.
            QFile file(path);
            const bool ok = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
            file.close();
            ++writes;
            return ok;
        };
        return o;
    }
    QString file() const { return dir.filePath("history.json"); }
};

using HistoryStoreTest = Fixture;

std::vector<QString> paths(const HistoryStore& store)
{
    std::vector<QString> out;
    for (const HistoryEntry& e : store.entries()) out.push_back(e.path);
    return out;
}

} // namespace

TEST_F(HistoryStoreTest, RecordingAgainCountsAndMovesToTheFront)
{
    HistoryStore store(dir.path(), options());
    store.record("/d/a.pdf", QStringLiteral("A"), 3, QByteArray("one"));
    now = 10;
    store.record("/d/b.pdf");
    now = 20;
    const auto again = store.record("/d/./a.pdf", std::nullopt, std::nullopt, QByteArray("two"));
    ASSERT_TRUE(again);
    EXPECT_EQ(paths(store), (std::vector<QString>{"/d/a.pdf", "/d/b.pdf"}));
    const HistoryEntry& a = store.entries()[0];
    EXPECT_EQ(a, *again);
    EXPECT_EQ(a.openCount, 2);
    EXPECT_EQ(a.firstOpened, at(0));
    EXPECT_EQ(a.lastOpened, at(20));
    EXPECT_EQ(a.title, "A") << "a title not given keeps the stored one";
    EXPECT_EQ(a.pageCount, 3);
    EXPECT_EQ(a.bookmark, QByteArray("two"));
}

TEST_F(HistoryStoreTest, LimitDropsTheLeastRecentlyOpened)
{
    for (const int limit : {0, -3, 2}) {
        QTemporaryDir fresh;
        HistoryStore store(fresh.path(), options(60, limit));
        store.record("/d/1.pdf");
        store.record("/d/2.pdf");
        store.record("/d/3.pdf");
        EXPECT_EQ(store.entries().size(), size_t(std::max(limit, 1)));
        EXPECT_EQ(store.entries().front().path, "/d/3.pdf");
    }
}

TEST_F(HistoryStoreTest, RelocatingOntoAnotherEntryMergesThem)
{
    struct Case {
        qint64 movedOpened, otherOpened;
        bool movedWins;
    };
    for (const Case c : {Case{50, 40, true}, Case{40, 50, false}, Case{45, 45, true}}) {
        QTemporaryDir fresh;
        HistoryStore store(fresh.path(), options());
        // moved: opened at 1 and at movedOpened; other: at 2, 3 and otherOpened.
        now = 1;
        const QUuid moved = store.record("/old/place.pdf", std::nullopt, 7)->id;
        now = 2;
        const QUuid other =
            store.record("/new/place.pdf", QStringLiteral("Other"), std::nullopt, QByteArray("mark"))->id;
        now = 3;
        store.record("/new/place.pdf");
        store.record("/d/third.pdf");
        for (const auto& [path, when] :
             {std::pair{"/old/place.pdf", c.movedOpened}, std::pair{"/new/place.pdf", c.otherOpened}}) {
            now = when;
            store.record(path);
        }
        const std::vector<QString> before = paths(store);
        store.relocate(moved, "/new/sub/../place.pdf");

        ASSERT_EQ(store.entries().size(), 2u);
        const HistoryEntry merged = *store.entryForPath(QStringLiteral("/new/place.pdf"));
        EXPECT_EQ(merged.id, c.movedWins ? moved : other);
        EXPECT_EQ(merged.openCount, 2 + 3);
        EXPECT_EQ(merged.firstOpened, at(1));
        EXPECT_EQ(merged.lastOpened, at(std::max(c.movedOpened, c.otherOpened)));
        EXPECT_EQ(merged.title, "Other");
        EXPECT_EQ(merged.pageCount, 7);
        EXPECT_EQ(merged.bookmark, QByteArray("mark"));
        // The kept entry keeps its place among the others; nothing is re-sorted.
        std::vector<QString> expected = before;
        const QString keptWas = c.movedWins ? "/old/place.pdf" : "/new/place.pdf";
        const QString droppedWas = c.movedWins ? "/new/place.pdf" : "/old/place.pdf";
        std::replace(expected.begin(), expected.end(), keptWas, QString("/new/place.pdf#"));
        std::erase(expected, droppedWas);
        std::replace(expected.begin(), expected.end(), QString("/new/place.pdf#"), QString("/new/place.pdf"));
        EXPECT_EQ(paths(store), expected);
    }
}

TEST_F(HistoryStoreTest, RelocatingToAFreePathKeepsEverythingElse)
{
    HistoryStore store(dir.path(), options());
    const HistoryEntry a = *store.record("/d/a.pdf", QStringLiteral("A"), 2, QByteArray("old"));
    store.record("/d/b.pdf");
    store.flush();
    store.relocate(a.id, "/e/a.pdf");
    EXPECT_TRUE(store.hasPendingSave());
    HistoryEntry expected = a;
    expected.path = "/e/a.pdf";
    EXPECT_EQ(store.entries()[1], expected);
}

TEST_F(HistoryStoreTest, ChangesThatChangeNothingScheduleNoWrite)
{
    HistoryStore store(dir.path(), options());
    store.removeAll();
    EXPECT_FALSE(store.hasPendingSave());
    store.record("/d/a.pdf", QStringLiteral("A"), 4);
    store.flush();
    store.updateDetails("/d/a.pdf", QStringLiteral("A"), 4);
    store.updateDetails("/d/missing.pdf", QStringLiteral("B"), 1);
    store.relocate(QUuid::createUuid(), "/d/x.pdf");
    store.remove(QUuid::createUuid());
    store.importRecents({{"/d/a.pdf", at(99)}});
    EXPECT_FALSE(store.hasPendingSave());
    store.updateDetails("/d/./a.pdf", std::nullopt, 5);
    EXPECT_TRUE(store.hasPendingSave());
    EXPECT_EQ(store.entries()[0].pageCount, 5);
    EXPECT_EQ(store.entries()[0].title, "A");
}

TEST_F(HistoryStoreTest, ImportAddsUnknownFilesNewestFirst)
{
    HistoryStore store(dir.path(), options());
    now = 100;
    store.record("/d/known.pdf");
    store.importRecents({{"/r/later.pdf", at(200)},
                         {"/d/known.pdf", at(300)},
                         {"/r/tie-one.pdf", at(100)},
                         {"/r/./later.pdf", at(50)},
                         {"/r/tie-two.pdf", at(100)},
                         {"/r/old.pdf", at(10)}});
    EXPECT_EQ(paths(store),
              (std::vector<QString>{"/r/later.pdf", "/d/known.pdf", "/r/tie-one.pdf", "/r/tie-two.pdf", "/r/old.pdf"}));
    const HistoryEntry later = *store.entryForPath(QStringLiteral("/r/later.pdf"));
    EXPECT_EQ(later.firstOpened, at(200)) << "dated by its first occurrence";
    EXPECT_EQ(later.lastOpened, at(200));
    EXPECT_EQ(later.openCount, 1);
    EXPECT_EQ(store.entryForPath(QStringLiteral("/d/known.pdf"))->lastOpened, at(100)) << "a known file is left alone";
}

TEST_F(HistoryStoreTest, RecordsWithinTheDelayGiveOneWrite)
{
    {
        HistoryStore store(dir.path(), options(HistoryStore::defaultSaveDelay));
        const auto start = std::chrono::steady_clock::now();
        store.record("/d/a.pdf");
        store.record("/d/b.pdf");
        store.record("/d/c.pdf");
        // A machine that stalls longer than the delay between the records has
        // rightly written more than once; that says nothing about the store.
        if (std::chrono::steady_clock::now() - start
            > std::chrono::duration<double>(HistoryStore::defaultSaveDelay / 2))
            GTEST_SKIP() << "the records took longer than the delay allows";
        ASSERT_TRUE(testsupport::waitFor([&] { return writes == 1; }));
        // Jobs run in deadline order: the one that wrote was the last.
        EXPECT_FALSE(store.hasPendingSave());
        const QByteArray text = readFile(file());
        for (const char* name : {"a.pdf", "b.pdf", "c.pdf"}) EXPECT_TRUE(text.contains(name)) << name;
        store.flush();
    }
    EXPECT_EQ(writes, 1) << "neither flush nor the end writes again";
}

TEST_F(HistoryStoreTest, FlushRightAfterARecordWritesAtOnce)
{
    HistoryStore store(QDir(dir.path()).filePath("new/folder"), options(60));
    store.record("/d/a.pdf");
    store.flush();
    EXPECT_EQ(writes, 1);
    EXPECT_TRUE(readFile(QDir(dir.path()).filePath("new/folder/history.json")).contains("a.pdf"));
    EXPECT_FALSE(store.hasPendingSave());
}

TEST_F(HistoryStoreTest, FlushWaitsForADelayedWriteAlreadyUnderWay)
{
    std::mutex m;
    std::condition_variable cv;
    bool entered = false, release = false;
    std::atomic<bool> finished{false};
    HistoryStore::Options o = options(0);
    o.writeFile = [&](const QString& path, const QByteArray& bytes) {
        {
            std::unique_lock lock(m);
            entered = true;
            cv.notify_all();
            cv.wait(lock, [&] { return release; });
        }
        QFile file(path);
        const bool ok = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        file.close();
        finished = true;
        return ok;
    };
    HistoryStore store(dir.path(), o);
    store.record("/d/slow.pdf");
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return entered; }); // the delayed write has taken the change
    }
    bool writtenWhenFlushReturned = false;
    std::thread flusher([&] {
        store.flush();
        writtenWhenFlushReturned = finished;
    });
    // That flush waits is the point: a wrong one would have returned by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    flusher.join();
    EXPECT_TRUE(writtenWhenFlushReturned);
    EXPECT_TRUE(readFile(file()).contains("slow.pdf"));
}

TEST_F(HistoryStoreTest, TheEndWritesWhatIsPending)
{
    {
        HistoryStore store(dir.path(), options(600));
        store.record("/d/last-minute.pdf");
    }
    EXPECT_TRUE(readFile(file()).contains("last-minute.pdf"));
}

TEST_F(HistoryStoreTest, OneEntryThatCannotBeWrittenDoesNotBlockTheRest)
{
    HistoryStore::Options o = options();
    int calls = 0;
    o.clock = [&calls] { return calls++ == 1 ? QDateTime() : at(calls); }; // the second recording gets no date
    HistoryStore store(dir.path(), o);
    store.record("/d/good.pdf");
    store.record("/d/undated.pdf");
    store.record("/d/also-good.pdf");
    store.flush();
    const QByteArray text = readFile(file());
    EXPECT_TRUE(text.contains("/d/good.pdf"));
    EXPECT_TRUE(text.contains("/d/also-good.pdf"));
    EXPECT_FALSE(text.contains("undated.pdf"));
}

TEST_F(HistoryStoreTest, AFileThatCannotBeReadIsLeftAlone)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("history.json")); // there, but no file to read
    {
        HistoryStore store(dir.path(), options());
        EXPECT_TRUE(store.existedOnDisk());
        EXPECT_FALSE(store.canWrite());
        store.record("/d/a.pdf");
        store.flush();
    }
    EXPECT_EQ(writes, 0);
    EXPECT_TRUE(QFileInfo(file()).isDir());
}

TEST_F(HistoryStoreTest, ADamagedFileThatCannotBeMovedAsideIsNotOverwritten)
{
    {
        QFile damaged(file());
        ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
        damaged.write("{\"entries\":[{\"id\":");
    }
    // Every name a damaged copy may take is taken by one kept before.
    for (int n = 1; n <= 100; ++n)
        testsupport::writeFile(dir.filePath(n == 1 ? QStringLiteral("history.corrupt.json")
                                                   : QStringLiteral("history.corrupt-%1.json").arg(n)),
                               "kept");
    {
        HistoryStore store(dir.path(), options());
        EXPECT_TRUE(store.recoveredFromDamage());
        EXPECT_FALSE(store.canWrite());
        store.record("/d/a.pdf");
    }
    EXPECT_EQ(readFile(file()), QByteArray("{\"entries\":[{\"id\":"));
    EXPECT_EQ(readFile(dir.filePath("history.corrupt.json")), "kept");
}

TEST_F(HistoryStoreTest, EntriesLostInReadingAreKeptAsideBeforeTheFirstWrite)
{
    const QByteArray original =
        "{\"entries\":[{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\",\"path\":\"/d/a.pdf\","
        "\"firstOpened\":1,\"lastOpened\":2,\"openCount\":1},{\"path\":\"/d/lost.pdf\"}],\"version\":1}";
    {
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(original);
    }
    testsupport::writeFile(dir.filePath("history.corrupt.json"), "kept before");
    HistoryStore store(dir.path(), options());
    EXPECT_FALSE(QFile::exists(dir.filePath("history.corrupt-2.json"))) << "nothing happens before a write";
    store.record("/d/b.pdf");
    store.flush();
    // Under the next free name: the copy kept before stays as it was.
    EXPECT_EQ(readFile(dir.filePath("history.corrupt-2.json")), original);
    EXPECT_EQ(readFile(dir.filePath("history.corrupt.json")), "kept before");
    EXPECT_TRUE(readFile(file()).contains("/d/a.pdf"));
    store.record("/d/c.pdf");
    store.flush();
    EXPECT_EQ(writes, 3) << "the copy is made once";
}

TEST(HistoryPreferences, AnythingButFalseKeepsAHistory)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("defaults.json"));
    EXPECT_TRUE(HistoryPreferences::keepHistory(defaults));
    defaults.set(HistoryPreferences::keepHistoryKey, "no");
    EXPECT_TRUE(HistoryPreferences::keepHistory(defaults));
    defaults.set(HistoryPreferences::keepHistoryKey, false);
    EXPECT_FALSE(HistoryPreferences::keepHistory(defaults));
}
