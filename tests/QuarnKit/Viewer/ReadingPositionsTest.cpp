#include "QuarnKit/Viewer/ReadingPositions.h"

#include "Platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <limits>

using namespace quarnkit;
using nlohmann::json;
using platform::UserDefaults;

namespace {

QDateTime at(double referenceSecondsValue) { return fromReferenceSeconds(referenceSecondsValue); }

ReadingPosition somePosition(int page)
{
    return ReadingPosition{page, platform::PdfPoint{12.5, 700.25}, ReadingZoom::fixed(1.75), DisplayMode::twoPages,
                           true};
}

struct Fixture : ::testing::Test {
    QTemporaryDir dir;
    UserDefaults defaults{QDir(dir.path()).filePath("defaults.json")};
};

using ReadingPositionStoreTest = Fixture;
using ReaderPreferencesTest = Fixture;

} // namespace

TEST(FileFingerprint, RoundsModificationToMilliseconds)
{
    EXPECT_EQ(FileFingerprint("/a", 1, 10.0004).modified, 10.0);
    EXPECT_EQ(FileFingerprint("/a", 1, 10.0006).modified, 10.001);
    EXPECT_EQ(FileFingerprint("/a", 1, -10.0005).modified, -10.001) << "halves away from zero";
}

TEST(FileFingerprint, ReadsAFileAndRefusesOthers)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("doc.pdf");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("12345");
    }
    const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC).addMSecs(250);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(stamp, QFileDevice::FileModificationTime));
    }
    const auto f = FileFingerprint::of(dir.path() + "/sub/../doc.pdf");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->path, QDir::cleanPath(path));
    EXPECT_EQ(f->size, 5);
    EXPECT_DOUBLE_EQ(f->modified, 1700000000.25 - 978307200.0);

    EXPECT_FALSE(FileFingerprint::of(dir.filePath("missing.pdf")));
    EXPECT_FALSE(FileFingerprint::of(dir.path())) << "a folder is not a file";
    EXPECT_FALSE(FileFingerprint::of(QString()));
}

TEST_F(ReadingPositionStoreTest, RoundTripsThroughTheDefaultsFile)
{
    const FileFingerprint file("/docs/a.pdf", 1000, 5000.123);
    const ReadingPosition noPoint{3, std::nullopt, ReadingZoom::fitWidth(), DisplayMode::singlePage, false};
    {
        ReadingPositionStore store(defaults);
        store.save(somePosition(7), file, at(100));
        store.save(noPoint, FileFingerprint("/docs/b.pdf", 1, 1), at(200));
        store.save(ReadingPosition{0, {}, ReadingZoom::fitPage(), DisplayMode::twoPagesContinuous, false},
                   FileFingerprint("/docs/c.pdf", 1, 1), at(300));
        ASSERT_TRUE(defaults.synchronize());
    }
    UserDefaults reopened(defaults.path());
    ReadingPositionStore store(reopened);
    EXPECT_EQ(store.count(), 3);
    EXPECT_EQ(store.position(file), somePosition(7));
    EXPECT_EQ(store.position(FileFingerprint("/docs/b.pdf", 1, 1)), noPoint);
    EXPECT_EQ(store.position(FileFingerprint("/docs/c.pdf", 1, 1))->zoom, ReadingZoom::fitPage());
    EXPECT_EQ(store.lastRead("/docs/a.pdf"), at(100));

    // The stored form: dates in reference seconds, zoom as a one-member object, no "point" when none.
    const json blob = *reopened.value("ravlenReadingPositions");
    EXPECT_EQ(blob["/docs/a.pdf"]["date"], 100.0);
    EXPECT_EQ(blob["/docs/a.pdf"]["size"], 1000);
    EXPECT_EQ(blob["/docs/a.pdf"]["position"]["zoom"], (json{{"scale", {{"_0", 1.75}}}}));
    EXPECT_EQ(blob["/docs/a.pdf"]["position"]["point"], json::array({12.5, 700.25}));
    EXPECT_EQ(blob["/docs/a.pdf"]["position"]["mode"], "twoPages");
    EXPECT_FALSE(blob["/docs/b.pdf"]["position"].contains("point"));
    EXPECT_EQ(blob["/docs/b.pdf"]["position"]["zoom"], (json{{"fitWidth", json::object()}}));
}

TEST_F(ReadingPositionStoreTest, AChangedFileGetsNoPosition)
{
    ReadingPositionStore store(defaults);
    const FileFingerprint file("/docs/a.pdf", 1000, 5000.000);
    store.save(somePosition(2), file, at(1));
    EXPECT_EQ(store.position(FileFingerprint("/docs/a.pdf", 1000, 5000.001)), somePosition(2)) << "within 2 ms";
    EXPECT_FALSE(store.position(FileFingerprint("/docs/a.pdf", 1000, 5000.002)));
    EXPECT_FALSE(store.position(FileFingerprint("/docs/a.pdf", 1001, 5000.000)));
    EXPECT_FALSE(store.position(FileFingerprint("/docs/other.pdf", 1000, 5000.000)));
    // The stale entry stays until replaced.
    EXPECT_EQ(store.count(), 1);
    const FileFingerprint edited("/docs/a.pdf", 1200, 6000);
    store.save(somePosition(4), edited, at(2));
    EXPECT_EQ(store.count(), 1);
    EXPECT_EQ(store.position(edited), somePosition(4));
    EXPECT_FALSE(store.position(file));
}

TEST_F(ReadingPositionStoreTest, DotAndDotDotSpellingsShareOneEntry)
{
    ReadingPositionStore store(defaults);
    const auto a = FileFingerprint(standardizedPath("/docs/./x/../a.pdf"), 1, 1);
    store.save(somePosition(1), a, at(10));
    EXPECT_EQ(a.path, "/docs/a.pdf");
    EXPECT_EQ(store.lastRead("/docs/sub/../a.pdf"), at(10));
    store.forget("/docs/./a.pdf");
    EXPECT_EQ(store.count(), 0);
}

TEST_F(ReadingPositionStoreTest, BoundedStoreDropsTheFileReadLongestAgo)
{
    ReadingPositionStore store(defaults, "positions", 3);
    store.save(somePosition(1), FileFingerprint("/p1", 1, 1), at(1));
    store.save(somePosition(2), FileFingerprint("/p2", 1, 1), at(2));
    store.save(somePosition(3), FileFingerprint("/p3", 1, 1), at(3));
    // Saving again for a stored path evicts nothing.
    store.save(somePosition(3), FileFingerprint("/p3", 1, 1), at(3.5));
    EXPECT_EQ(store.count(), 3);
    store.save(somePosition(4), FileFingerprint("/p4", 1, 1), at(4));
    EXPECT_EQ(store.count(), 3);
    EXPECT_FALSE(store.lastRead("/p1"));
    EXPECT_TRUE(store.lastRead("/p2"));
    EXPECT_TRUE(store.lastRead("/p4"));
    EXPECT_EQ(defaults.value("positions")->size(), 3u);
}

TEST_F(ReadingPositionStoreTest, LimitBelowOneKeepsOneFile)
{
    for (int limit : {0, -5}) {
        ReadingPositionStore store(defaults, "limit" + std::to_string(limit), limit);
        EXPECT_EQ(store.limit(), 1);
        store.save(somePosition(1), FileFingerprint("/a", 1, 1), at(1));
        store.save(somePosition(2), FileFingerprint("/b", 1, 1), at(2));
        EXPECT_EQ(store.count(), 1);
        EXPECT_TRUE(store.position(FileFingerprint("/b", 1, 1)));
    }
}

TEST_F(ReadingPositionStoreTest, RemoveAllAndForget)
{
    ReadingPositionStore store(defaults);
    store.save(somePosition(1), FileFingerprint("/a", 1, 1), at(1));
    store.save(somePosition(2), FileFingerprint("/b", 1, 1), at(2));
    store.forget("/not/stored");
    EXPECT_EQ(store.count(), 2);
    store.forget("/a");
    EXPECT_EQ(store.count(), 1);
    EXPECT_FALSE(defaults.value(ReadingPositionStore::defaultKey)->contains("/a"));
    store.removeAll();
    EXPECT_EQ(store.count(), 0);
    EXPECT_FALSE(store.lastRead("/b"));
    EXPECT_EQ(defaults.value(ReadingPositionStore::defaultKey), json::object());
}

TEST_F(ReadingPositionStoreTest, UnreadableDataReadsEmptyUntilTheNextWrite)
{
    const json good{
        {"size", 1},
        {"modified", 1.0},
        {"date", 1.0},
        {"position",
         {{"page", 0}, {"zoom", {{"fitPage", json::object()}}}, {"mode", "continuous"}, {"coverSeparately", false}}}};
    auto damaged = [&](auto change) {
        json entry = good;
        change(entry);
        return json{{"/ok", good}, {"/bad", entry}};
    };
    const std::vector<json> blobs = {
        json("not an object"),
        json::array({1, 2}),
        damaged([](json& e) { e.erase("date"); }),
        damaged([](json& e) { e["size"] = "big"; }),
        damaged([](json& e) {
            e["position"]["zoom"] = {{"fitPage", json::object()}, {"fitWidth", json::object()}};
        }),
        damaged([](json& e) { e["position"]["zoom"] = json::object(); }),
        damaged([](json& e) {
            e["position"]["zoom"] = {{"scale", json::object()}};
        }),
        damaged([](json& e) { e["position"]["mode"] = "Continuous"; }),
        damaged([](json& e) { e["position"]["point"] = json::array({1}); }),
        damaged([](json& e) { e["position"].erase("coverSeparately"); }),
        damaged([](json& e) { e["position"]["page"] = 1.5; }),
    };
    ReadingPositionStore sane(defaults, "sane");
    defaults.set("sane", json{{"/ok", good}});
    EXPECT_EQ(sane.count(), 1) << "the well-formed entry reads";
    for (const json& blob : blobs) {
        SCOPED_TRACE(blob.dump());
        defaults.set("blob", blob);
        ReadingPositionStore store(defaults, "blob");
        EXPECT_EQ(store.count(), 0);
        EXPECT_EQ(defaults.value("blob"), blob) << "left alone until the next write";
        store.save(somePosition(1), FileFingerprint("/new", 1, 1), at(5));
        EXPECT_EQ(ReadingPositionStore(defaults, "blob").count(), 1);
    }
}

TEST_F(ReadingPositionStoreTest, AbsurdStoredDatesAreNoDates)
{
    const json entry{
        {"size", 1},
        {"modified", 1.0},
        {"date", 1e300},
        {"position",
         {{"page", 0}, {"zoom", {{"fitPage", json::object()}}}, {"mode", "continuous"}, {"coverSeparately", false}}}};
    json near = entry;
    near["date"] = 50.0;
    defaults.set("odd", json{{"/far", entry}, {"/near", near}});
    ReadingPositionStore store(defaults, "odd", 1);
    EXPECT_EQ(store.count(), 2);
    EXPECT_FALSE(store.lastRead("/far"));
    EXPECT_EQ(store.lastRead("/near"), at(50));
    EXPECT_TRUE(store.position(FileFingerprint("/far", 1, 1)));
}

TEST_F(ReadingPositionStoreTest, AValueJsonCannotHoldDoesNotSpoilTheStoredBlob)
{
    ReadingPositionStore store(defaults);
    store.save(somePosition(1), FileFingerprint("/a", 1, 1), at(1));
    const json before = *defaults.value(ReadingPositionStore::defaultKey);
    ReadingPosition broken = somePosition(2);
    broken.zoom = ReadingZoom::fixed(std::numeric_limits<double>::quiet_NaN());
    store.save(broken, FileFingerprint("/b", 1, 1), at(2));
    EXPECT_EQ(defaults.value(ReadingPositionStore::defaultKey), before);
    EXPECT_EQ(store.count(), 2) << "the cache keeps the new entry";
    // Once the bad entry is gone, the next save writes the rest.
    store.forget("/b");
    store.save(somePosition(3), FileFingerprint("/c", 1, 1), at(3));
    EXPECT_EQ(ReadingPositionStore(defaults).count(), 2);
}

TEST_F(ReaderPreferencesTest, UnsetOrUnreadableValuesGiveTheDefaults)
{
    EXPECT_TRUE(ReaderPreferences::restorePosition(defaults));
    EXPECT_TRUE(ReaderPreferences::showWelcome(defaults));
    EXPECT_EQ(ReaderPreferences::defaultZoom(defaults), ZoomPreset::fitPage);
    EXPECT_EQ(ReaderPreferences::defaultMode(defaults), DisplayMode::continuous);

    defaults.set(ReaderPreferences::showWelcomeKey, "NO");
    defaults.set(ReaderPreferences::restorePositionKey, 0);
    defaults.set(ReaderPreferences::defaultZoomKey, "FitWidth");
    defaults.set(ReaderPreferences::defaultModeKey, 2);
    EXPECT_TRUE(ReaderPreferences::showWelcome(defaults));
    EXPECT_TRUE(ReaderPreferences::restorePosition(defaults));
    EXPECT_EQ(ReaderPreferences::defaultZoom(defaults), ZoomPreset::fitPage);
    EXPECT_EQ(ReaderPreferences::defaultMode(defaults), DisplayMode::continuous);
}

TEST_F(ReaderPreferencesTest, StoredValuesAreRead)
{
    defaults.set("ravlenShowWelcome", false);
    defaults.set("ravlenRestorePosition", false);
    defaults.set("ravlenDefaultZoom", "actualSize");
    defaults.set("ravlenDefaultDisplayMode", "twoPagesContinuous");
    EXPECT_FALSE(ReaderPreferences::showWelcome(defaults));
    EXPECT_FALSE(ReaderPreferences::restorePosition(defaults));
    EXPECT_EQ(ReaderPreferences::defaultZoom(defaults), ZoomPreset::actualSize);
    EXPECT_EQ(ReaderPreferences::defaultMode(defaults), DisplayMode::twoPagesContinuous);
}
