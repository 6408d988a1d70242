#include "QuarnKit/History/HistoryStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace quarnkit;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// One entry object as the file holds it, with `extra` spliced in.
std::string entryJson(const std::string& path, double lastOpened, const std::string& extra = {})
{
    static int counter = 0;
    char id[64];
    std::snprintf(id, sizeof id, "6F9619FF-8B86-D011-B42D-00C04FC9%04X", ++counter);
    return "{\"id\":\"" + std::string(id) + "\",\"path\":\"" + path
           + "\",\"firstOpened\":1000,\"lastOpened\":" + std::to_string(lastOpened) + ",\"openCount\":1" + extra + "}";
}

QByteArray fileWith(const std::vector<std::string>& entries, const std::string& head = "\"version\":1,")
{
    std::string text = "{" + head + "\"entries\":[";
    for (size_t i = 0; i < entries.size(); ++i) text += (i ? "," : "") + entries[i];
    return QByteArray::fromStdString(text + "]}");
}

struct Folder {
    QTemporaryDir dir;
    QString file() const { return dir.filePath("history.json"); }
    // The n-th damaged copy kept: history.corrupt.json, history.corrupt-2.json, …
    QString corrupt(int n = 1) const
    {
        return dir.filePath(n == 1 ? QStringLiteral("history.corrupt.json")
                                   : QStringLiteral("history.corrupt-%1.json").arg(n));
    }
    std::unique_ptr<HistoryStore> open(int limit = HistoryStore::defaultLimit) const
    {
        HistoryStore::Options options;
        options.limit = limit;
        options.saveDelay = 60; // only flush() writes
        return std::make_unique<HistoryStore>(dir.path(), options);
    }
};

std::vector<QString> paths(const HistoryStore& store)
{
    std::vector<QString> out;
    for (const HistoryEntry& e : store.entries()) out.push_back(e.path);
    return out;
}

} // namespace

TEST(HistoryFile, DamagedEntriesCostOnlyThemselves)
{
    struct Case {
        const char* what;
        std::vector<std::string> entries;
        std::vector<QString> kept;
    };
    const std::vector<Case> cases{
        {"no openCount",
         {entryJson("/a.pdf", 3),
          "{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC96400\",\"path\":\"/b.pdf\",\"firstOpened\":1,\"lastOpened\":2}",
          entryJson("/c.pdf", 1)},
         {"/a.pdf", "/c.pdf"}},
        {"not objects", {"7", "\"text\"", "null", entryJson("/a.pdf", 1)}, {"/a.pdf"}},
        {"malformed id",
         {entryJson("/a.pdf", 2),
          "{\"id\":\"nope\",\"path\":\"/b.pdf\",\"firstOpened\":1,\"lastOpened\":2,\"openCount\":1}"},
         {"/a.pdf"}},
        {"date as text",
         {entryJson("/a.pdf", 2, ",\"title\":\"A\""),
          "{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC96401\",\"path\":\"/"
          "b.pdf\",\"firstOpened\":\"yesterday\",\"lastOpened\":2,\"openCount\":1}"},
         {"/a.pdf"}},
        {"bad base64", {entryJson("/a.pdf", 2), entryJson("/b.pdf", 1, ",\"bookmark\":\"%%%\"")}, {"/a.pdf"}},
        {"fractional count", {entryJson("/a.pdf", 2), entryJson("/b.pdf", 1, ",\"pageCount\":2.5")}, {"/a.pdf"}},
        {"empty path", {entryJson("", 5), entryJson("/a.pdf", 1)}, {"/a.pdf"}},
        {"null optionals", {entryJson("/a.pdf", 1, ",\"title\":null,\"pageCount\":null,\"shelf\":3")}, {"/a.pdf"}},
    };
    for (const Case& c : cases) {
        Folder folder;
        writeFile(folder.file(), fileWith(c.entries));
        const auto store = folder.open();
        EXPECT_EQ(paths(*store), c.kept) << c.what;
        EXPECT_FALSE(store->recoveredFromDamage()) << c.what;
        EXPECT_TRUE(store->existedOnDisk()) << c.what;
    }
}

TEST(HistoryFile, VersionIsNotLookedAt)
{
    for (const std::string head : {"\"version\":7,", "", "\"version\":\"x\","}) {
        Folder folder;
        writeFile(folder.file(), fileWith({entryJson("/a.pdf", 1)}, head));
        EXPECT_EQ(folder.open()->entries().size(), 1u) << head;
    }
}

TEST(HistoryFile, AFileThatIsNoHistoryIsKeptAsideUntilTheNextWrite)
{
    Folder folder;
    std::vector<QByteArray> kept;
    for (const QByteArray& damaged : {QByteArray(), QByteArray("[]"), QByteArray("{\"version\":1}"),
                                      fileWith({entryJson("/a.pdf", 1)}).left(40), QByteArray("{\"entries\":{}}")}) {
        writeFile(folder.file(), damaged);
        kept.push_back(damaged);
        {
            const auto store = folder.open();
            EXPECT_TRUE(store->entries().empty());
            EXPECT_TRUE(store->recoveredFromDamage());
            EXPECT_TRUE(store->existedOnDisk());
            // Each damaged file takes the next free name: no copy kept before is written over.
            for (int n = 1; n <= int(kept.size()); ++n) {
                EXPECT_TRUE(QFile::exists(folder.corrupt(n))) << n;
                EXPECT_EQ(readFile(folder.corrupt(n)), kept[size_t(n - 1)]) << n;
            }
            EXPECT_FALSE(QFile::exists(folder.file())) << "nothing written before a change";
        }
        EXPECT_FALSE(QFile::exists(folder.file())) << "closing an unchanged store writes nothing";
    }
    const auto store = folder.open();
    EXPECT_FALSE(store->existedOnDisk());
    store->record("/docs/new.pdf");
    store->flush();
    EXPECT_TRUE(readFile(folder.file()).contains("new.pdf"));
    EXPECT_EQ(readFile(folder.corrupt(5)), QByteArray("{\"entries\":{}}"));
}

TEST(HistoryFile, CleaningKeepsTheNewestOfEachPathInFileOrder)
{
    Folder folder;
    writeFile(folder.file(), fileWith({entryJson("/a/b/../c.pdf", 10, ",\"title\":\"old\""),
                                       entryJson("/a/c.pdf", 20, ",\"title\":\"new\""), entryJson("/x/one.pdf", 5),
                                       entryJson("/x/two.pdf", 5), entryJson("/x//three.pdf/", 5)}));
    const auto store = folder.open();
    EXPECT_EQ(paths(*store), (std::vector<QString>{"/a/c.pdf", "/x/one.pdf", "/x/two.pdf", "/x/three.pdf"}));
    EXPECT_EQ(store->entries()[0].title, "new");
    EXPECT_TRUE(store->entryForPath("/a/./b/../c.pdf"));
}

TEST(HistoryFile, LoadingKeepsTheNewestUpToTheLimit)
{
    Folder folder;
    std::vector<std::string> entries;
    for (int i = 0; i < 6000; ++i) entries.push_back(entryJson("/f/" + std::to_string(i) + ".pdf", i));
    writeFile(folder.file(), fileWith(entries));
    const auto store = folder.open();
    ASSERT_EQ(store->entries().size(), 5000u);
    EXPECT_EQ(store->entries().front().path, "/f/5999.pdf");
    EXPECT_EQ(store->entries().back().path, "/f/1000.pdf");
}

TEST(HistoryFile, WrittenFileIsOneSortedLineThatReadsBack)
{
    Folder folder;
    {
        HistoryStore::Options options;
        int tick = 0;
        options.clock = [&tick] { return QDateTime::fromMSecsSinceEpoch(1700000000123 + 1000 * tick++, Qt::UTC); };
        HistoryStore store(folder.dir.path(), options);
        store.record("/docs/plain.pdf");
        store.record("/docs/full.pdf", QStringLiteral("Annual Report"), 12, QByteArray("\x01\x02\xff", 3));
        store.record("/docs/./full.pdf");
        store.flush();
    }
    const QByteArray text = readFile(folder.file());
    EXPECT_FALSE(text.contains('\n'));
    EXPECT_FALSE(text.contains(' ') && !text.contains("Annual Report")) << text.constData();
    EXPECT_TRUE(text.startsWith("{\"entries\":[{\"bookmark\":\"AQL/\",\"firstOpened\":1700000001.123,\"id\":\""));
    EXPECT_TRUE(text.endsWith("],\"version\":1}"));

    // Read by another JSON reader: one object per file, the repeated one counted twice.
    const QJsonArray entries = QJsonDocument::fromJson(text).object()["entries"].toArray();
    ASSERT_EQ(entries.size(), 2);
    const QJsonObject full = entries[0].toObject();
    EXPECT_EQ(full["path"].toString(), "/docs/full.pdf");
    EXPECT_EQ(full["openCount"].toInt(), 2);
    EXPECT_EQ(full["lastOpened"].toDouble(), 1700000002.123);
    EXPECT_EQ(full.keys(),
              (QStringList{"bookmark", "firstOpened", "id", "lastOpened", "openCount", "pageCount", "path", "title"}));
    EXPECT_EQ(entries[1].toObject().keys(), (QStringList{"firstOpened", "id", "lastOpened", "openCount", "path"}));
    EXPECT_EQ(full["id"].toString(), full["id"].toString().toUpper());

    const auto reread = folder.open();
    ASSERT_EQ(reread->entries().size(), 2u);
    const HistoryEntry& e = reread->entries()[0];
    EXPECT_EQ(e.bookmark, QByteArray("\x01\x02\xff", 3));
    EXPECT_EQ(e.pageCount, 12);
    EXPECT_EQ(e.firstOpened, QDateTime::fromMSecsSinceEpoch(1700000001123, Qt::UTC));
}

TEST(HistoryFile, EntryNamesComeFromThePath)
{
    HistoryEntry e;
    e.path = "/home/ann/Reports/Report.final.pdf";
    EXPECT_EQ(e.fileName(), "Report.final");
    EXPECT_EQ(e.folderPath(), "/home/ann/Reports");
    EXPECT_EQ(e.displayTitle(), "Report.final");
    e.title = QString("");
    EXPECT_EQ(e.displayTitle(), "") << "an empty title is still the title";
    e.path = "/.hidden";
    EXPECT_EQ(e.fileName(), ".hidden");
    EXPECT_EQ(e.folderPath(), "/");
    EXPECT_EQ(e.url(), QUrl("file:///.hidden"));
}

TEST(HistoryFile, PathsThatCannotBeWrittenBackAreNeverRecorded)
{
    EXPECT_EQ(historyPath(QString::fromUtf8("/docs/bad\xff.pdf")), QString()) << "decoded from invalid UTF-8";
    EXPECT_EQ(historyPath(""), QString());
    EXPECT_EQ(historyPath(QString::fromUtf8("/docs/Résumé.pdf")), QString::fromUtf8("/docs/Résumé.pdf"));
    Folder folder;
    const auto store = folder.open();
    EXPECT_FALSE(store->record(QString::fromUtf8("/docs/bad\xff.pdf")));
    EXPECT_TRUE(store->entries().empty());
    EXPECT_FALSE(store->hasPendingSave());
}
