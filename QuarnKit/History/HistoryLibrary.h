#pragma once
// The application's model of the history: the store's entries as the views
// see them, what background checks found about each entry's file, and the
// roads in: a window recording the document it opened, moved or closed, a
// panel opening, removing or locating an entry, the one-time import of the
// desktop's recent files. Lives on the UI thread; the file checks and the
// opens look at the disk on workers and hand their results back, so that a
// hung network mount never holds a window.
#include "QuarnKit/History/HistoryEntry.h"
#include "QuarnKit/History/HistoryLocator.h"
#include "QuarnKit/History/HistoryStore.h"
#include "QuarnKit/History/OpenProblem.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QUuid>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace platform {
class UserDefaults;
}

namespace quarnkit {

class QuarnDocument;
class ReadingPositionStore;

// What a check found about one entry's file.
struct HistoryFileState {
    std::optional<QString> path;       // where the file is now; none when it is missing
    std::optional<QString> progress;   // "Page 5 of 10", "12 pages", …
    std::optional<QDateTime> modified; // the file's modification time, whole milliseconds

    bool missing() const { return !path; }
    friend bool operator==(const HistoryFileState&, const HistoryFileState&) = default;
};

// How the application's document system answered a request to open a file.
struct OpenOutcome {
    enum class Kind { opened, alreadyOpen, cancelled, failed };
    Kind kind = Kind::opened;
    QString reason; // with failed: why, in a sentence for the user
};
// Opens the file as a window (or brings its window forward) and answers
// later, on the UI thread.
using DocumentOpener = std::function<void(const QString& path, std::function<void(const OpenOutcome&)> done)>;

class HistoryLibrary : public QObject {
    Q_OBJECT
public:
    static constexpr int sharedLimit = 5000;
    static constexpr int importLimit = 50;

    // Over `store`. With `recentsToImport` (a recently-used.xbel path), a
    // history that had no file yet is seeded once per user from it; the
    // reading of the desktop's list and its files happens on a worker.
    HistoryLibrary(std::unique_ptr<HistoryStore> store, ReadingPositionStore& positions,
                   platform::UserDefaults& defaults, std::optional<QString> recentsToImport = std::nullopt,
                   QObject* parent = nullptr);
    ~HistoryLibrary() override;

    // The application's library: history.json in the data folder, 5,000
    // entries, the standard settings and reading positions, the desktop's
    // recent files imported once. Made on first use, never released.
    static HistoryLibrary& shared();
    // Writes what the shared library has pending, when it was ever made.
    static void flushShared();
    // The workers of the user's opens, where the document system also reads
    // the files it opens for a library. Never released: quitting never waits
    // for a file on a mount that stopped answering.
    static QThreadPool& userOpens();

    // Newest first, as last published.
    const std::vector<HistoryEntry>& entries() const { return entries_; }
    // The checked entries' file states; an entry without one was not checked.
    const std::map<QUuid, HistoryFileState>& states() const { return states_; }
    std::optional<HistoryFileState> state(const QUuid& id) const;
    // Raised each time the checks start over (views ask again).
    int epoch() const { return epoch_; }
    HistoryStore& store() { return *store_; }

    // Whether opened PDFs are recorded (the setting shared with Settings).
    bool keepHistory() const;
    void setKeepHistory(bool on);

    // The viewer's calls. Each records nothing while keeping a history is off.
    // An opening, with the document's sensible title and page count (none while locked).
    void recordOpen(const QString& path, const QuarnDocument* document);
    // The document's file was saved elsewhere or renamed.
    void documentMoved(const QString& from, const QString& to);
    // The page count when a readable window goes away (below 1 changes nothing).
    void updatePageCount(int count, const QString& path);
    // Title and page count after the document was unlocked.
    void refreshDetails(const QString& path, const QuarnDocument& document);

    void remove(const QUuid& id);
    // Empties the history and writes it at once.
    void clearAll();
    // Looks at the entry's file in the background, once until the checks start over.
    void check(const HistoryEntry& entry);
    // Starts the checks over: on returning to the application and when a panel is shown.
    void recheck();
    // Up to `limit` entries whose files are there, with their paths, from the
    // first 4 × limit entries; the answer comes later on the UI thread.
    void loadRecents(int limit, std::function<void(std::vector<std::pair<HistoryEntry, QString>>)> completion);
    // Opens the entry's file; a missing file marks the entry missing and is
    // told through `onProblem`, as is a file the document system refused.
    void open(const HistoryEntry& entry, std::function<void(const OpenProblem&)> onProblem);
    // Opens any file as History, Explore and the welcome window do.
    void openFile(const QString& path, std::function<void(const OpenProblem&)> onProblem);
    // Points the entry at the file the user found.
    void relocate(const HistoryEntry& entry, const QString& path);

    // Set by the application: its document system's open.
    DocumentOpener opener;
    // How the checks and opens look for a file (tests slow it down).
    HistoryLocator::Exists exists = HistoryLocator::defaultExists;

signals:
    void entriesChanged();
    void statesChanged();
    void epochChanged(int epoch);
    void keepHistoryChanged(bool on);

private:
    void republish();
    void importRecents(const QString& xbelPath);
    // Runs `work` on `pool` and hands its result to `done` on the UI thread,
    // unless the library is gone by then. A higher `priority` runs sooner.
    template <typename Work, typename Done>
    void runOff(QThreadPool& pool, Work work, Done done, int priority = 0);

    std::unique_ptr<HistoryStore> store_;
    ReadingPositionStore& positions_;
    platform::UserDefaults& defaults_;
    std::vector<HistoryEntry> entries_;
    std::map<QUuid, HistoryFileState> states_;
    int epoch_ = 0;
    std::set<QUuid> checked_;
    std::set<QUuid> checking_;
    // The file checks, one at a time, the latest asked first (the rows on
    // screen now before those scrolled past). The user's opens have workers
    // of their own (userOpens()), so an open never waits behind a check.
    QThreadPool resolver_;
    int asked_ = 0;
};

} // namespace quarnkit
