#include "Platform/MetadataIndexer.h"

#include "Platform/FileDescriptor.h"
#include "Platform/Metadata.h"
#include "Platform/MetadataReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <set>

#include <fcntl.h>
#include <sys/stat.h>

using namespace platform;
using testsupport::waitFor;

namespace {

// A home folder of generated PDFs and an indexer over it.
struct IndexerTest : ::testing::Test {
    QTemporaryDir dir;

    QString home() const { return dir.filePath("home"); }
    std::string indexPath() const { return dir.filePath("cache/index.sqlite").toStdString(); }

    void write(const QString& relative, const QByteArray& bytes) const
    {
        const QString path = home() + "/" + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    MetadataIndexerOptions options(std::string reader = RAVLEN_INDEX_READER) const
    {
        MetadataIndexerOptions o;
        o.indexPath = indexPath();
        o.roots = {home().toStdString()};
        o.skipsFolder = [](const std::string& folder) { return folder.substr(folder.rfind('/') + 1).front() == '.'; };
        o.readerPath = std::move(reader);
        o.settle = std::chrono::milliseconds(50);
        o.idlePriority = false;
        return o;
    }

    // The names of the files a query finds, relative to the home folder.
    std::set<QString> found(const std::vector<QString>& words, bool contents = false) const
    {
        std::set<QString> names;
        MetadataIndex index(indexPath());
        index.query({words, contents, {}},
                    [&](const MetadataEntry& e) { names.insert(e.path.mid(home().size() + 1)); });
        return names;
    }

    bool complete() const { return MetadataIndex(indexPath()).isComplete(); }
    MetadataIndexProblem problem() const { return MetadataIndex(indexPath()).problem(); }
};

QString script(const QTemporaryDir& dir, const char* name, const char* body)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray("#!/bin/sh\n") + body + "\n");
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

} // namespace

TEST_F(IndexerTest, IndexesTheTreeAndFollowsItsChanges)
{
    RAVLEN_SKIP_WITHOUT_CONFINED_READER();
    write("Report.pdf", testsupport::makeTextPdf(2, "revenue growth", "Quarterly Figures"));
    write("Sub/Notes.pdf", testsupport::makeTextPdf(1, "meeting minutes"));
    write(".hidden/Secret.pdf", testsupport::makeTextPdf(1, "hidden words"));
    write("Broken.pdf", "not a PDF at all");
    write("readme.txt", testsupport::makeTextPdf(1, "text file"));
    QFile::copy(QString::fromStdString(testsupport::corpusPath("libreoffice-writer-password.pdf")),
                home() + "/Locked.pdf");

    MetadataIndexer indexer(options());
    indexer.start();
    ASSERT_TRUE(waitFor([&] { return complete(); }));
    EXPECT_TRUE(indexer.holdsLock());
    EXPECT_EQ(found({}), (std::set<QString>{"Report.pdf", "Sub/Notes.pdf", "Broken.pdf", "Locked.pdf"}));
    EXPECT_EQ(found({"quarterly"}), std::set<QString>{"Report.pdf"});
    EXPECT_EQ(found({"revenue"}, true), std::set<QString>{"Report.pdf"});
    EXPECT_EQ(found({"minut"}, true), std::set<QString>{"Sub/Notes.pdf"});
    {
        MetadataIndex index(indexPath());
        index.query({{"report"}, false, {}}, [](const MetadataEntry& e) { EXPECT_EQ(e.pageCount, 2); });
    }

    // Each change shows in the index by itself.
    const auto until = [&](const std::vector<QString>& words, const std::set<QString>& expected,
                           bool contents = false) {
        return waitFor([&] { return found(words, contents) == expected; }, 10000);
    };
    write("Sub/Fresh.pdf", testsupport::makeTextPdf(1, "brand new"));
    EXPECT_TRUE(until({"brand"}, {"Sub/Fresh.pdf"}, true)) << "a file copied in";
    ASSERT_TRUE(QFile::rename(home() + "/Report.pdf", home() + "/Renamed.pdf"));
    EXPECT_TRUE(until({"revenue"}, {"Renamed.pdf"}, true)) << "a file renamed";
    ASSERT_TRUE(QDir(home()).rename("Sub", "Moved"));
    EXPECT_TRUE(until({"minutes"}, {"Moved/Notes.pdf"}, true)) << "a folder renamed";
    ASSERT_TRUE(QDir(home()).rename("Moved", ".Moved"));
    EXPECT_TRUE(until({"notes"}, {})) << "a folder hidden";
    write("New/Inner/Late.pdf", testsupport::makeTextPdf(1, "late arrival"));
    EXPECT_TRUE(until({"arrival"}, {"New/Inner/Late.pdf"}, true)) << "a folder made with a file inside";
    ASSERT_TRUE(QFile::remove(home() + "/Renamed.pdf"));
    EXPECT_TRUE(until({"renamed"}, {})) << "a file deleted";
    ASSERT_TRUE(QDir(home() + "/New").removeRecursively());
    EXPECT_TRUE(until({"late"}, {})) << "a folder deleted";
}

TEST_F(IndexerTest, AChangedFileLosesItsOldWordsAndADeletedOneGoesWhileStopped)
{
    RAVLEN_SKIP_WITHOUT_CONFINED_READER();
    write("Gone.pdf", testsupport::makeTextPdf(1, "vanishing"));
    write("Changed.pdf", testsupport::makeTextPdf(1, "alpha bravo"));
    write("Swapped.pdf", testsupport::makeTextPdf(1, "kilo lima"));
    {
        MetadataIndexer indexer(options());
        indexer.start();
        ASSERT_TRUE(waitFor([&] { return complete(); }));
    }
    ASSERT_EQ(found({"bravo"}, true), std::set<QString>{"Changed.pdf"});
    // While no indexer runs, one file goes and two get new words of the same
    // size and keep their modification time: one is written over in place,
    // the other replaced by a file renamed over it.
    ASSERT_TRUE(QFile::remove(home() + "/Gone.pdf"));
    const auto sameSizeAndTime = [&](const QString& name, const QString& writtenAs, const std::string& words) {
        const QByteArray path = QFile::encodeName(home() + "/" + name),
                         written = QFile::encodeName(home() + "/" + writtenAs);
        struct stat before {};
        ASSERT_EQ(::stat(path.constData(), &before), 0);
        const QByteArray bytes = testsupport::makeTextPdf(1, words);
        ASSERT_EQ(bytes.size(), before.st_size);
        write(writtenAs, bytes);
        const timespec times[2] = {before.st_mtim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, written.constData(), times, 0), 0);
        ASSERT_EQ(::rename(written.constData(), path.constData()), 0);
    };
    sameSizeAndTime("Changed.pdf", "Changed.pdf", "delta hotel");
    sameSizeAndTime("Swapped.pdf", "Swapped.tmp", "mike papa");
    MetadataIndexer indexer(options());
    indexer.start();
    const std::set<QString> changed = {"Changed.pdf"};
    EXPECT_TRUE(waitFor([&] {
        return found({}) == std::set<QString>{"Changed.pdf", "Swapped.pdf"} && found({"hotel"}, true) == changed
               && found({"papa"}, true) == std::set<QString>{"Swapped.pdf"};
    }));
    // Then a change while it runs. The old words go, the first and the last alike.
    write("Changed.pdf", testsupport::makeTextPdf(1, "foxtrot golf"));
    EXPECT_TRUE(waitFor([&] { return found({"golf"}, true) == changed; }));
    for (const char* word : {"alpha", "bravo", "delta", "hotel", "kilo", "lima", "vanishing"})
        EXPECT_EQ(found({word}, true), std::set<QString>{}) << word;
}

TEST_F(IndexerTest, AReaderThatHangsOrDiesCostsOnlyItsFile)
{
    RAVLEN_SKIP_WITHOUT_CONFINED_READER();
    write("Report.pdf", testsupport::makeTextPdf(1, "revenue growth"));
    write("Other.pdf", testsupport::makeTextPdf(1, "other words"));
    QTemporaryDir scripts;
    struct Case {
        const char* what;
        QString reader;
        bool readOnNextRun; // a file no reader could look at is read later; one that broke it is not
    };
    // A reader says "R" once it runs: what breaks it after that is the file's doing.
    const std::vector<Case> cases = {
        {"hangs", script(scripts, "hang", "printf R; exec sleep 30"), false},
        {"crashes", script(scripts, "crash", "printf R; head -c 4 > /dev/null; kill -SEGV $$"), false},
        {"dies as it starts", script(scripts, "broken", "exit 3"), true},
        {"cannot start", scripts.filePath("missing"), true},
    };
    for (const Case& c : cases) {
        MetadataIndex::discard(indexPath());
        {
            MetadataIndexerOptions o = options(c.reader.toStdString());
            o.readTimeout = std::chrono::milliseconds(500);
            MetadataIndexer indexer(o);
            indexer.start();
            ASSERT_TRUE(waitFor([&] { return complete(); })) << c.what;
        }
        EXPECT_EQ(found({}), (std::set<QString>{"Report.pdf", "Other.pdf"})) << c.what;
        EXPECT_EQ(found({"revenue"}, true), std::set<QString>{}) << c.what;

        MetadataIndexer again(options());
        again.start();
        const std::set<QString> expected = c.readOnNextRun ? std::set<QString>{"Report.pdf"} : std::set<QString>{};
        EXPECT_TRUE(waitFor([&] { return found({"revenue"}, true) == expected; })) << c.what;
    }
}

TEST_F(IndexerTest, OneIndexerKeepsTheIndexAtATime)
{
    write("Report.pdf", testsupport::makeTextPdf(1, "revenue"));
    MetadataIndexerOptions o = options();
    o.lockRetry = std::chrono::milliseconds(50);
    auto first = std::make_unique<MetadataIndexer>(o);
    MetadataIndexer second(o);
    first->start();
    ASSERT_TRUE(waitFor([&] { return first->holdsLock(); }));
    second.start();
    ASSERT_TRUE(waitFor([&] { return complete(); }));
    EXPECT_FALSE(second.holdsLock());
    first.reset();
    EXPECT_TRUE(waitFor([&] { return second.holdsLock(); }));
    write("Later.pdf", testsupport::makeTextPdf(1, "later"));
    EXPECT_TRUE(waitFor([&] { return found({"later"}).size() == 1; }));
}

TEST_F(IndexerTest, FoldersBeyondTheWatchLimitAreWalkedAgain)
{
    write("Sub/Deep/Old.pdf", testsupport::makeTextPdf(1, "old"));
    MetadataIndexerOptions o = options();
    o.maxWatches = 1;
    o.unwatchedRescan = std::chrono::milliseconds(300);
    MetadataIndexer indexer(o);
    indexer.start();
    ASSERT_TRUE(waitFor([&] { return complete(); }));
    write("Top.pdf", testsupport::makeTextPdf(1, "watched"));
    write("Sub/Deep/New.pdf", testsupport::makeTextPdf(1, "unwatched"));
    EXPECT_TRUE(waitFor([&] { return found({"top"}).size() == 1 && found({"new"}).size() == 1; }));
}

TEST_F(IndexerTest, TheReaderRunsConfinedAndStillReads)
{
    RAVLEN_SKIP_WITHOUT_CONFINED_READER();
    MetadataReaderProcess reader(RAVLEN_INDEX_READER, 1ull << 30);
    const FileDescriptor file(::open(testsupport::corpusPath("pdflatex-4-pages.pdf").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(reader.begin(file.fd));
    std::optional<MetadataReading> reading;
    ASSERT_TRUE(waitFor([&] { return (reading = reader.receive()).has_value(); }));
    EXPECT_EQ(reading->state, MetadataReadState::read);
    EXPECT_EQ(reading->pageCount, 4);
    EXPECT_FALSE(reading->text.empty());
    // Seen from outside: no new privileges, a system-call filter.
    const QByteArray status = testsupport::readFile(QString("/proc/%1/status").arg(reader.pid()));
    EXPECT_TRUE(status.contains("NoNewPrivs:\t1")) << status.toStdString();
    EXPECT_TRUE(status.contains("Seccomp:\t2")) << status.toStdString();
}

TEST_F(IndexerTest, AConfinedReaderDiesAtAForbiddenCallAndCostsOnlyItsFile)
{
    write("Report.pdf", testsupport::makeTextPdf(1, "revenue growth"));
    QTemporaryDir readers;
    for (const char* call : {"socket", "connect", "execve", "write", "mmap-exec", "mprotect-exec", "pkey_mprotect"}) {
        const QString reader = readers.filePath(call);
        ASSERT_TRUE(QFile::link(RAVLEN_MISBEHAVING_READER, reader));
        MetadataIndex::discard(indexPath());
        MetadataIndexer indexer(options(reader.toStdString()));
        indexer.start();
        ASSERT_TRUE(waitFor([&] { return complete(); })) << call;
        EXPECT_EQ(MetadataIndex(indexPath()).readState(home().toStdString() + "/Report.pdf"), MetadataReadState::failed)
            << call;
        EXPECT_EQ(found({"escaped"}, true), std::set<QString>{}) << call;
    }
}

TEST_F(IndexerTest, WithoutAConfinedReaderNothingIsIndexedAndTheIndexSaysWhy)
{
    write("Report.pdf", testsupport::makeTextPdf(1, "revenue growth"));
    QTemporaryDir readers;
    const QString unconfinable = readers.filePath("unconfinable");
    ASSERT_TRUE(QFile::link(RAVLEN_MISBEHAVING_READER, unconfinable));
    // A reader in a folder anyone may write: whoever put it there would run
    // as the user. It would leave a mark, then read as the real one does.
    const QString open = readers.filePath("open"), mark = readers.filePath("ran");
    ASSERT_TRUE(QDir().mkpath(open));
    ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0777), 0);
    const QString body = QString("touch '%1'; exec '%2' \"$@\"").arg(mark, RAVLEN_INDEX_READER);
    const QString planted = script(readers, "open/planted", qPrintable(body));
    // The same behind a way longer than the system's limit for a path; and
    // links that go round, where nobody can tell what would run.
    const testsupport::LongWay farAway(open, "#!/bin/sh\n" + body.toUtf8() + "\n");
    ASSERT_FALSE(farAway.path.isEmpty());
    const QString round = readers.filePath("round");
    ASSERT_TRUE(QFile::link(round, readers.filePath("about")) && QFile::link(readers.filePath("about"), round));
    struct Case {
        QString reader;
        MetadataIndexProblem problem;
    };
    for (const Case& c :
         {Case{"", MetadataIndexProblem::noReader}, Case{unconfinable, MetadataIndexProblem::readerUnconfined},
          Case{planted, MetadataIndexProblem::readerUntrusted},
          Case{farAway.path, MetadataIndexProblem::readerUntrusted},
          Case{round, MetadataIndexProblem::readerUnchecked}}) {
        MetadataIndex::discard(indexPath());
        {
            MetadataIndexer indexer(options(c.reader.toStdString()));
            indexer.start();
            ASSERT_TRUE(waitFor([&] { return problem() == c.problem; })) << c.reader.toStdString();
            EXPECT_TRUE(waitFor([&] { return !indexer.holdsLock(); })) << "it stops";
        }
        EXPECT_EQ(found({}), std::set<QString>{}) << c.reader.toStdString();
        EXPECT_FALSE(complete());
        EXPECT_FALSE(QFile::exists(mark)) << c.reader.toStdString();
        // A reader that works indexes again, and the reason goes.
        MetadataIndexer again(options());
        again.start();
        EXPECT_TRUE(waitFor([&] { return complete() && found({}).size() == 1; })) << c.reader.toStdString();
        EXPECT_EQ(problem(), MetadataIndexProblem::none);
    }
}
