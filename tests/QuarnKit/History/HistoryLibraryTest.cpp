#include "QuarnKit/History/HistoryLibrary.h"

#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/History/LibraryPanel.h"
#include "QuarnKit/History/HistoryLibraryFixture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <sys/stat.h>
#include <utime.h>

using namespace quarnkit;
using historytest::Library;
using historytest::titledPdf;
using testsupport::readFile;

namespace {

int modeOf(const QString& path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return int(info.st_mode & 07777);
}

void setModified(const QString& path, const QDateTime& time)
{
    struct utimbuf times {};
    times.actime = times.modtime = time.toSecsSinceEpoch();
    ::utime(QFile::encodeName(path).constData(), &times);
}

const HistoryEntry& only(HistoryLibrary& library)
{
    EXPECT_EQ(library.entries().size(), 1u);
    return library.entries().front();
}

} // namespace

TEST(HistoryLibrary, RecordsWhatAWindowOpensMovesAndCloses)
{
    Library h;
    HistoryLibrary& library = h.make();
    int published = 0;
    QObject::connect(&library, &HistoryLibrary::entriesChanged, [&] { ++published; });

    const struct {
        const char* name;
        QByteArray pdf;
        std::optional<QString> title;
        std::optional<std::int64_t> pages;
    } opened[] = {
        {"report.pdf", titledPdf("Annual  Report", 3), QStringLiteral("Annual Report"), 3},
        {"untitled.pdf", titledPdf("Untitled", 2), std::nullopt, 2},
        {"locked.pdf", readFile(QString::fromStdString(testsupport::corpusPath("libreoffice-writer-password.pdf"))),
         std::nullopt, std::nullopt},
    };
    for (const auto& c : opened) {
        SCOPED_TRACE(c.name);
        const QString path = h.write(c.name, c.pdf);
        const auto document = QuarnDocument::open(path);
        library.recordOpen(path, document.get());
        const HistoryEntry& entry = library.entries().front();
        EXPECT_EQ(entry.path, path);
        EXPECT_EQ(entry.title, c.title);
        EXPECT_EQ(entry.pageCount, c.pages);
    }
    EXPECT_EQ(published, 3);

    // Unlocked in its window: its details arrive.
    const QString locked = h.dir.filePath("files/locked.pdf");
    const auto document = QuarnDocument::open(locked);
    ASSERT_TRUE(document->unlock("openpassword"));
    library.refreshDetails(locked, *document);
    EXPECT_EQ(library.store().entryForPath(locked)->pageCount, document->pageCount());

    // A count of 0 changes nothing; a real one is kept.
    const QString report = h.dir.filePath("files/report.pdf");
    library.updatePageCount(0, report);
    EXPECT_EQ(library.store().entryForPath(report)->pageCount, 3);
    library.updatePageCount(5, report);
    EXPECT_EQ(library.store().entryForPath(report)->pageCount, 5);

    // Saved elsewhere: the same entry follows; a file with no entry yet is recorded.
    const QUuid id = library.store().entryForPath(report)->id;
    library.documentMoved(report, h.dir.filePath("files/moved.pdf"));
    EXPECT_EQ(library.store().entryForPath(h.dir.filePath("files/moved.pdf"))->id, id);
    EXPECT_FALSE(library.store().entryForPath(report));
    library.documentMoved(QString(), h.dir.filePath("files/new.pdf"));
    EXPECT_TRUE(library.store().entryForPath(h.dir.filePath("files/new.pdf")));

    // Keeping a history switched off: nothing more is recorded.
    library.setKeepHistory(false);
    const QString later = h.write("later.pdf", titledPdf("Later", 1));
    library.recordOpen(later, QuarnDocument::open(later).get());
    library.documentMoved(QString(), h.dir.filePath("files/other.pdf"));
    EXPECT_EQ(library.entries().size(), 4u);
}

TEST(HistoryLibrary, TheFileIsPrivateAndWrittenSoonAfterAnOpening)
{
    Library h;
    // A folder left open by an older version is closed on the next write.
    QDir().mkpath(h.data());
    QFile::setPermissions(h.data(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                        | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                        | QFileDevice::ExeOther);
    HistoryLibrary& library = h.make(HistoryStore::defaultSaveDelay);
    const QString path = h.write("paper.pdf", titledPdf("Paper", 2));
    library.recordOpen(path, QuarnDocument::open(path).get());
    ASSERT_TRUE(testsupport::waitFor([&] { return readFile(h.historyFile()).contains("paper.pdf"); }, 10000));
    EXPECT_EQ(modeOf(h.historyFile()), 0600);
    EXPECT_EQ(modeOf(h.data()), 0700);

    // Clearing is on disk at once, without the delay.
    library.clearAll();
    EXPECT_FALSE(readFile(h.historyFile()).contains("paper.pdf"));
    EXPECT_TRUE(readFile(h.historyFile()).contains("\"entries\":[]"));
    EXPECT_EQ(modeOf(h.historyFile()), 0600);
}

TEST(HistoryLibrary, ChecksFindFilesAndHowFarTheyWereRead)
{
    Library h;
    HistoryLibrary& library = h.make();
    const QString present = h.write("present.pdf", titledPdf("Present", 10));
    const QString gone = h.write("gone.pdf", titledPdf("Gone", 12));
    library.recordOpen(present, QuarnDocument::open(present).get());
    library.recordOpen(gone, QuarnDocument::open(gone).get());
    QFile::remove(gone);
    const auto fingerprint = FileFingerprint::of(present);
    ASSERT_TRUE(fingerprint);
    ReadingPosition position;
    position.page = 2;
    h.positions.save(position, *fingerprint);

    std::atomic<int> looks{0};
    library.exists = [&](const QString& path) {
        ++looks;
        return HistoryLocator::defaultExists(path);
    };
    for (const HistoryEntry& entry : library.entries()) library.check(entry);
    const HistoryEntry presentEntry = *library.store().entryForPath(present);
    const HistoryEntry goneEntry = *library.store().entryForPath(gone);
    ASSERT_TRUE(testsupport::waitFor([&] { return library.states().size() == 2; }));
    EXPECT_EQ(*library.state(presentEntry.id),
              (HistoryFileState{present, QStringLiteral("Page 3 of 10"), fromReferenceSeconds(fingerprint->modified)}));
    EXPECT_EQ(*library.state(goneEntry.id), (HistoryFileState{std::nullopt, QStringLiteral("12 pages"), std::nullopt}));

    // Checked once until the checks start over.
    library.check(presentEntry);
    QCoreApplication::processEvents();
    EXPECT_EQ(looks, 2);
    const int epoch = library.epoch();
    library.recheck();
    EXPECT_EQ(library.epoch(), epoch + 1);
    library.check(presentEntry);
    EXPECT_TRUE(testsupport::waitFor([&] { return looks == 3; }));
}

TEST(HistoryLibrary, OpeningReportsWhatWentWrongAndRecordsAWindowBroughtForward)
{
    Library h;
    HistoryLibrary& library = h.make();
    std::vector<QString> asked;
    OpenOutcome answer;
    library.opener = [&](const QString& path, std::function<void(const OpenOutcome&)> done) {
        asked.push_back(path);
        done(answer);
    };
    const QString report = h.write("Report.pdf", titledPdf("Untitled", 1));
    library.recordOpen(report, nullptr);
    const HistoryEntry entry = only(library);

    const struct {
        const char* name;
        OpenOutcome outcome;
        std::optional<OpenProblem> problem;
        std::int64_t openCount;
    } cases[] = {
        {"opened in a new window", {OpenOutcome::Kind::opened, {}}, std::nullopt, 1},
        {"a cancel says nothing", {OpenOutcome::Kind::cancelled, {}}, std::nullopt, 1},
        {"a window brought forward is one more opening", {OpenOutcome::Kind::alreadyOpen, {}}, std::nullopt, 2},
        {"refused",
         {OpenOutcome::Kind::failed, QStringLiteral("Not a PDF.")},
         OpenProblem{QStringLiteral("ravlen couldn't open “Report”."), QStringLiteral("Not a PDF.")},
         2},
        {"refused without a reason",
         {OpenOutcome::Kind::failed, {}},
         OpenProblem{QStringLiteral("ravlen couldn't open “Report”."),
                     QStringLiteral("The file may be damaged or not a PDF.")},
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        answer = c.outcome;
        asked.clear();
        std::optional<OpenProblem> problem;
        library.open(entry, [&](const OpenProblem& p) { problem = p; });
        ASSERT_TRUE(testsupport::waitFor([&] { return !asked.empty(); }));
        EXPECT_EQ(asked.front(), report);
        EXPECT_EQ(problem, c.problem);
        EXPECT_EQ(only(library).openCount, c.openCount);
    }

    // Gone: no open is tried, the entry turns missing and the panel is told.
    QFile::remove(report);
    asked.clear();
    std::optional<OpenProblem> problem;
    library.open(entry, [&](const OpenProblem& p) { problem = p; });
    ASSERT_TRUE(testsupport::waitFor([&] { return problem.has_value(); }));
    EXPECT_EQ(*problem, (OpenProblem{QStringLiteral("“Report” was moved or deleted."),
                                     QStringLiteral("Locate it, or remove it from History.")}));
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(*library.state(entry.id), HistoryFileState{});

    // Pointed at the file again: the state goes, the next check finds it.
    const QString found = h.write("found/Report.pdf", titledPdf("Report", 1));
    library.relocate(entry, found);
    EXPECT_FALSE(library.state(entry.id));
    EXPECT_EQ(only(library).path, found);
}

TEST(HistoryLibrary, AnOpenNeverWaitsBehindTheCheckOfAFileThatDoesNotAnswer)
{
    Library h;
    HistoryLibrary& library = h.make();
    const QString stuck = h.write("mount/stuck.pdf", titledPdf("Stuck", 1));
    const QString wanted = h.write("wanted.pdf", titledPdf("Wanted", 1));
    library.recordOpen(stuck, nullptr);
    library.recordOpen(wanted, nullptr);
    // Looking at the stuck file hangs, as on a network mount that stopped answering.
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<bool> hanging{false};
    library.exists = [&](const QString& path) {
        if (path == stuck) {
            hanging = true;
            std::unique_lock lock(mutex);
            released.wait(lock, [&] { return release; });
        }
        return HistoryLocator::defaultExists(path);
    };
    library.check(*library.store().entryForPath(stuck));
    ASSERT_TRUE(testsupport::waitFor([&] { return hanging.load(); }));

    QString opened;
    library.opener = [&](const QString& path, std::function<void(const OpenOutcome&)> done) {
        opened = path;
        done({});
    };
    library.open(*library.store().entryForPath(wanted), {});
    EXPECT_TRUE(testsupport::waitFor([&] { return !opened.isEmpty(); }));
    EXPECT_EQ(opened, wanted);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    // The check ends before what it waits on goes.
    EXPECT_TRUE(
        testsupport::waitFor([&] { return library.state(library.store().entryForPath(stuck)->id).has_value(); }));
}

TEST(HistoryLibrary, RecentEntriesAreLookedForOnlyUntilEnoughAreFound)
{
    Library h;
    HistoryLibrary& library = h.make();
    // 40 entries, newest first; the first 31 are gone.
    for (int i = 39; i >= 0; --i) {
        const QString path = h.dir.filePath(QStringLiteral("files/%1.pdf").arg(i));
        if (i >= 31) h.write(QStringLiteral("%1.pdf").arg(i), titledPdf("x", 1));
        library.recordOpen(path, nullptr);
    }
    std::atomic<int> looks{0};
    library.exists = [&](const QString& path) {
        ++looks;
        return HistoryLocator::defaultExists(path);
    };
    std::optional<std::vector<std::pair<HistoryEntry, QString>>> found;
    library.loadRecents(8, [&](std::vector<std::pair<HistoryEntry, QString>> recents) { found = std::move(recents); });
    ASSERT_TRUE(testsupport::waitFor([&] { return found.has_value(); }));
    ASSERT_EQ(found->size(), 1u);
    EXPECT_EQ(found->front().second, h.dir.filePath("files/31.pdf"));
    EXPECT_EQ(looks, 32);
}

TEST(HistoryLibrary, TheDesktopsRecentPdfsSeedANewHistoryOnce)
{
    Library h;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString read = h.write("read.pdf", titledPdf("Read", 1));
    const QString hourOld = h.write("hour old.pdf", titledPdf("Old", 1));
    const QString future = h.write("future.pdf", titledPdf("Future", 1));
    const QString notes = h.write("notes.txt", "words");
    setModified(hourOld, now.addSecs(-3600));
    setModified(read, now.addSecs(-3600));
    setModified(future, now.addDays(2));
    ReadingPosition position;
    h.positions.save(position, *FileFingerprint::of(read), now.addDays(-3));
    QString xbel = R"(<?xml version="1.0" encoding="UTF-8"?><xbel version="1.0">)";
    for (const QString& path : {future, notes, hourOld, h.dir.filePath("files/gone.pdf"), read})
        xbel += "<bookmark href=\"" + QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) + "\"/>";
    xbel += "</xbel>";
    const QString recents = h.write("recently-used.xbel", xbel.toUtf8());

    HistoryLibrary& library = h.make(60, recents);
    EXPECT_EQ(h.defaults.boolValue(HistoryPreferences::importedRecentsKey), true);
    ASSERT_TRUE(testsupport::waitFor([&] { return library.entries().size() == 3; }));
    // The desktop's order holds: none later than now less its place in the list.
    const auto dateOf = [&](const QString& path) { return library.store().entryForPath(path)->lastOpened; };
    EXPECT_LE(dateOf(future), QDateTime::currentDateTimeUtc());
    EXPECT_NEAR(dateOf(hourOld).secsTo(now), 3600, 2);
    EXPECT_NEAR(dateOf(read).secsTo(now), 3 * 86400, 2); // when it was read, not changed
    library.store().flush();

    // Once only: another first start imports nothing, nor does a history already on disk.
    QFile::remove(h.historyFile());
    EXPECT_TRUE(h.make(60, recents).entries().empty());
    h.defaults.remove(HistoryPreferences::importedRecentsKey);
    h.write("../data/history.json", R"({"entries":[],"version":1})");
    HistoryLibrary& again = h.make(60, recents);
    QCoreApplication::processEvents();
    EXPECT_TRUE(again.entries().empty());
    EXPECT_EQ(h.defaults.boolValue(HistoryPreferences::importedRecentsKey), true);
}

TEST(LibraryPanel, TheChoiceIsSavedByNameAndReadStrictly)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("defaults.json"));
    EXPECT_EQ(LibraryPanels::saved(defaults), LibraryPanel::document);
    for (const auto& [stored, panel] :
         std::vector<std::pair<std::string, LibraryPanel>>{{"history", LibraryPanel::history},
                                                           {"explore", LibraryPanel::explore},
                                                           {"History", LibraryPanel::document},
                                                           {"", LibraryPanel::document}}) {
        defaults.set(LibraryPanels::savedKey, stored);
        EXPECT_EQ(LibraryPanels::saved(defaults), panel) << stored;
    }
    defaults.set(LibraryPanels::savedKey, 3);
    EXPECT_EQ(LibraryPanels::saved(defaults), LibraryPanel::document);
    LibraryPanels::save(defaults, LibraryPanel::explore);
    EXPECT_EQ(defaults.stringValue(LibraryPanels::savedKey), "explore");
}

TEST(OpenProblem, WordsNameTheFileWithoutItsLastExtension)
{
    EXPECT_EQ(OpenProblem::couldNotOpen("/d/Report.final.pdf", "Damaged."),
              (OpenProblem{"ravlen couldn't open “Report.final”.", "Damaged."}));
    EXPECT_EQ(OpenProblem::moved("/d/Report.pdf"),
              (OpenProblem{"“Report” was moved or deleted.", "It's still in History, where you can locate it."}));
}
