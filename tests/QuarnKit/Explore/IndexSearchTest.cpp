#include "QuarnKit/Explore/IndexSearch.h"

#include "Platform/MetadataIndexer.h"
#include "Platform/UserDefaults.h"
#include "QuarnKit/Explore/ExploreEmptyState.h"
#include "QuarnKit/Explore/ExploreModel.h"
#include "QuarnKit/History/HistoryEntry.h"
#include "QuarnKit/History/LibraryTexts.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>

#include <set>

using namespace quarnkit;
using testsupport::waitFor;

namespace {

QDateTime day(int n) { return QDateTime::fromSecsSinceEpoch(1700000000 + n * 86400, Qt::UTC); }

// A home folder with the three locations, a history and a recently-used
// list, indexed once for every test of the file.
class IndexSearchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        const auto write = [](const QString& relative, const QByteArray& bytes, int modifiedDay) {
            const QString path = home() + "/" + relative;
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write(bytes);
            file.flush();
            file.setFileTime(day(modifiedDay), QFileDevice::FileModificationTime);
        };
        write("Downloads/Invoice March.pdf", testsupport::makeTextPdf(2, "payment due"), 1);
        write("Downloads/Manual.pdf", testsupport::makeTextPdf(4, "descaling instructions", "Espresso Machine Guide"),
              2);
        write("Desktop/Notes.pdf", testsupport::makeTextPdf(1, "invoice draft"), 3);
        write("Documents/Tax 2024.pdf", testsupport::makeTextPdf(3, "income statement, invoice attached"), 4);
        write("Documents/.private/Hidden invoice.pdf", testsupport::makeTextPdf(1, "invoice"), 5);
        write("Elsewhere/Invoice copy.pdf", testsupport::makeTextPdf(1, "copy"), 6);
        for (int i = 0; i < 310; ++i)
            write(QString("Archive/Batch %1.pdf").arg(i, 3, 10, QLatin1Char('0')), testsupport::makeTextPdf(1), 0);

        HistoryEntry opened{QUuid::createUuid(), home() + "/Documents/Tax 2024.pdf", {}, {}, {}, day(5), day(5), 1};
        QFile history(dir->filePath("history.json"));
        history.open(QIODevice::WriteOnly);
        history.write(HistoryFile::encode({opened}));
        QFile recents(dir->filePath("recently-used.xbel"));
        recents.open(QIODevice::WriteOnly);
        recents.write("<?xml version=\"1.0\"?>\n<xbel version=\"1.0\"><bookmark href=\""
                      + QUrl::fromLocalFile(home() + "/Downloads/Manual.pdf").toEncoded()
                      + "\" added=\"2023-11-22T22:13:20Z\" visited=\"2023-11-22T22:13:20.123456Z\"/></xbel>\n");

        platform::MetadataIndexerOptions options;
        options.indexPath = indexPath();
        options.roots = {home().toStdString()};
        options.readerPath = RAVLEN_INDEX_READER;
        options.settle = std::chrono::milliseconds(50);
        options.idlePriority = false;
        indexer = new platform::MetadataIndexer(options);
        indexer->start();
        ASSERT_TRUE(waitFor([] { return platform::MetadataIndex(indexPath()).isComplete(); }, 60000));
    }
    static void TearDownTestSuite()
    {
        delete indexer;
        delete dir;
    }

    static QString home() { return dir->filePath("home"); }
    static std::string indexPath() { return dir->filePath("cache/index.sqlite").toStdString(); }
    static IndexSearch::Settings settings()
    {
        return {indexPath(),
                ExploreSummary::limit,
                ExploreExclusions(home(), {}),
                {home(), home() + "/Downloads", home() + "/Desktop", home() + "/Documents"},
                LastUsedDates(dir->filePath("history.json"), dir->filePath("recently-used.xbel")),
                std::chrono::milliseconds(100)};
    }

    // The first snapshot of a search.
    static ExploreSnapshot run(IndexSearch& source, const ExploreRequest& request)
    {
        std::optional<ExploreSnapshot> got;
        source.start(request, [&](const ExploreSnapshot& s) {
            if (!got) got = s;
        });
        EXPECT_TRUE(waitFor([&] { return got.has_value(); }));
        source.stop();
        return got.value_or(ExploreSnapshot::failed());
    }

    static QTemporaryDir* dir;
    static platform::MetadataIndexer* indexer;
};

QTemporaryDir* IndexSearchTest::dir = nullptr;
platform::MetadataIndexer* IndexSearchTest::indexer = nullptr;

std::vector<QString> names(const std::vector<ExploreItem>& items)
{
    std::vector<QString> out;
    for (const ExploreItem& i : items) out.push_back(i.name);
    return out;
}

} // namespace

TEST_F(IndexSearchTest, NamesAndContentsPerLocationAndSort)
{
    RAVLEN_SKIP_WITHOUT_CONFINED_READER();
    IndexSearch source(settings());
    struct Case {
        QString text;
        ExploreMode mode;
        ExploreLocation location;
        std::vector<QString> byName; // the results in name order
    };
    const std::vector<Case> cases = {
        {"invoice", ExploreMode::names, ExploreLocation::all, {"Invoice copy.pdf", "Invoice March.pdf"}},
        {"INVOICE",
         ExploreMode::contents,
         ExploreLocation::all,
         {"Invoice copy.pdf", "Invoice March.pdf", "Notes.pdf", "Tax 2024.pdf"}},
        {"invoice", ExploreMode::contents, ExploreLocation::documents, {"Tax 2024.pdf"}},
        {"invoice", ExploreMode::names, ExploreLocation::downloads, {"Invoice March.pdf"}},
        {"", ExploreMode::names, ExploreLocation::desktop, {"Notes.pdf"}},
        {"espresso guide", ExploreMode::names, ExploreLocation::all, {"Manual.pdf"}},
        {"desc", ExploreMode::contents, ExploreLocation::downloads, {"Manual.pdf"}},
        {"desc", ExploreMode::names, ExploreLocation::downloads, {}},
        // Recently opened: from the history and the desktop's list.
        {"", ExploreMode::contents, ExploreLocation::all, {"Manual.pdf", "Tax 2024.pdf"}},
    };
    for (const Case& c : cases) {
        for (ExploreSort sort : allExploreSorts) {
            const ExploreSnapshot s = run(source, {c.text, c.mode, c.location, sort});
            const std::string what =
                (c.text + " " + name(c.mode) + " " + name(c.location) + " " + name(sort)).toStdString();
            EXPECT_TRUE(s.finished && !s.unavailable) << what;
            EXPECT_EQ(s.total, std::int64_t(c.byName.size())) << what;
            EXPECT_EQ(s.items, ExploreRanking::sorted(s.items, sort)) << what;
            if (sort == ExploreSort::name) {
                EXPECT_EQ(names(s.items), c.byName) << what;
            }
        }
    }
    const ExploreSnapshot recents =
        run(source, {"", ExploreMode::names, ExploreLocation::all, ExploreSort::lastOpened});
    ASSERT_EQ(recents.items.size(), 2u);
    EXPECT_EQ(recents.items[0].lastUsed, QDateTime::fromString("2023-11-22T22:13:20.123Z", Qt::ISODateWithMs));
    EXPECT_EQ(recents.items[1].lastUsed, day(5));
    const ExploreSnapshot bySize =
        run(source, {"invoice", ExploreMode::contents, ExploreLocation::all, ExploreSort::size});
    EXPECT_EQ(names(bySize.items)[0], "Tax 2024.pdf");
    EXPECT_EQ(bySize.items[0].pageCount, 3);
    EXPECT_EQ(bySize.items[0].modified, day(4));
    const ExploreSnapshot titled = run(source, {"manual", ExploreMode::names, ExploreLocation::all, ExploreSort::name});
    EXPECT_EQ(titled.items.at(0).displayTitle(), "Espresso Machine Guide");
}

TEST_F(IndexSearchTest, MoreThanTheLimitGiveTheTotalAndTheOverflowLine)
{
    platform::UserDefaults defaults(dir->filePath("defaults.json"));
    ExploreModel model(std::make_unique<IndexSearch>(settings()), false, defaults);
    model.setSort(ExploreSort::name);
    model.setText("batch");
    model.activate();
    ASSERT_TRUE(
        waitFor([&] { return model.status() == ExploreModel::Status::ready && model.shown() == model.request(); }));
    EXPECT_EQ(model.total(), 310);
    ASSERT_EQ(model.items().size(), 300u);
    EXPECT_EQ(model.items().front().name, "Batch 000.pdf");
    EXPECT_EQ(model.items().back().name, "Batch 299.pdf");
    EXPECT_EQ(model.summaryLine(), LibraryFormat::pdfCount(310, QLocale()));
    EXPECT_EQ(model.overflowLine(), "Showing 300 of 310. Refine the search to see more.");
}

TEST_F(IndexSearchTest, APdfCopiedIntoAWatchedFolderAppearsInTheOpenSearch)
{
    IndexSearch source(settings());
    std::vector<ExploreSnapshot> seen;
    source.start({"arrival"}, [&](const ExploreSnapshot& s) { seen.push_back(s); });
    ASSERT_TRUE(waitFor([&] { return !seen.empty(); }));
    EXPECT_EQ(seen.back().total, 0);

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(QFile::copy(home() + "/Desktop/Notes.pdf", home() + "/Desktop/Late arrival.pdf"));
    EXPECT_TRUE(waitFor([&] { return seen.back().total == 1; })) << "after " << clock.elapsed() << " ms";
    EXPECT_EQ(names(seen.back().items), std::vector<QString>{"Late arrival.pdf"});
    ASSERT_TRUE(QFile::remove(home() + "/Desktop/Late arrival.pdf"));
    EXPECT_TRUE(waitFor([&] { return seen.back().total == 0; }));
}

TEST_F(IndexSearchTest, OfTwoQuickSearchesOnlyTheSecondReports)
{
    IndexSearch source(settings());
    std::vector<std::pair<int, ExploreSnapshot>> seen;
    for (int attempt = 0; attempt < 20; ++attempt) {
        source.start({"invoice"}, [&](const ExploreSnapshot& s) { seen.emplace_back(1, s); });
        source.start({"manual"}, [&](const ExploreSnapshot& s) { seen.emplace_back(2, s); });
        ASSERT_TRUE(waitFor([&] { return !seen.empty(); }));
        // Results reach the owner in the order they were made: once the
        // second search's arrived, the first's would have come before.
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].first, 2);
        EXPECT_EQ(names(seen[0].second.items), std::vector<QString>{"Manual.pdf"});
        seen.clear();
    }
    bool any = false, answered = false;
    source.probe([&](bool a) { any = a, answered = true; });
    ASSERT_TRUE(waitFor([&] { return answered; }));
    EXPECT_TRUE(any);
}

TEST_F(IndexSearchTest, AnotherProgramReadingTheIndexLeavesItFollowingChanges)
{
    // A search opens a connection of its own beside the indexer's.
    IndexSearch source(settings());
    EXPECT_EQ(run(source, {"visitor"}).total, 0);
    // Another program reads the index and closes it, as backup tools and
    // file indexers do: the log stays, as this process still uses it.
    int code = -1;
    const QString said =
        testsupport::runProgram("sqlite3", {QString::fromStdString(indexPath()), "SELECT count(*) FROM files"}, &code);
    ASSERT_EQ(code, 0) << said.toStdString();
    EXPECT_TRUE(QFile::exists(QString::fromStdString(indexPath() + "-wal")));

    ASSERT_TRUE(QFile::copy(home() + "/Desktop/Notes.pdf", home() + "/Desktop/Visitor.pdf"));
    const auto finds = [&](IndexSearch& s) { return waitFor([&] { return run(s, {"visitor"}).total == 1; }); };
    EXPECT_TRUE(finds(source)) << "the open search";
    IndexSearch later(settings());
    EXPECT_TRUE(finds(later)) << "a search opened afterwards";
    ASSERT_TRUE(QFile::remove(home() + "/Desktop/Visitor.pdf"));
}

TEST_F(IndexSearchTest, ALongSearchIsCutWithASentence)
{
    platform::UserDefaults defaults(dir->filePath("defaults.json"));
    struct Case {
        QString text;
        std::int64_t total;
    };
    QStringList distinct;
    for (int i = 0; i < 2000; ++i) distinct << QString("word%1").arg(i);
    const std::vector<Case> cases = {{QString("invoice ").repeated(2000), 2},
                                     {distinct.join(' '), 0},
                                     {QString("invoice") + QString("x").repeated(5000), 0}};
    for (const Case& c : cases) {
        ExploreModel model(std::make_unique<IndexSearch>(settings()), false, defaults);
        model.setText(c.text);
        model.activate();
        ASSERT_TRUE(waitFor(
            [&] { return model.status() != ExploreModel::Status::searching && model.shown() == model.request(); }));
        EXPECT_EQ(model.status(), ExploreModel::Status::ready);
        EXPECT_EQ(model.total(), c.total);
        const QString said =
            c.total > 0 ? model.overflowLine().value_or(QString()) : ExploreEmptyState::message(model, true).detail;
        EXPECT_TRUE(said.endsWith(ExploreRequest::cutSentence())) << said.toStdString();
    }
}
