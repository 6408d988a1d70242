#pragma once
// The owner of the history: the entries in memory, newest first, every
// change to them, and history.json, written a short time after each change
// on a thread of the store's own, or at once by flush().
#include "QuarnKit/History/HistoryEntry.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace platform {
class UserDefaults;
}

namespace quarnkit {

class HistoryStore {
public:
    static constexpr int defaultLimit = 5000;
    static constexpr double defaultSaveDelay = 1.5;

    using Clock = std::function<QDateTime()>;
    // Writes the bytes to the path whole or not at all; false on failure.
    using FileWriter = std::function<bool(const QString& path, const QByteArray& bytes)>;

    struct Options {
        int limit = defaultLimit;            // below 1 counts as 1
        double saveDelay = defaultSaveDelay; // seconds; negative or not a number counts as 0
        Clock clock;                         // none: the current time
        FileWriter writeFile;                // none: an atomic write with fsync
    };

    // Loads `directory`/history.json at once. A missing file is an empty
    // history. A file that cannot be read is left alone, and the store then
    // writes nothing this run. A file that is not a history is kept aside as
    // history.corrupt.json (history.corrupt-2.json, … when taken: a copy
    // kept before is never written over); when that fails, nothing is
    // written this run.
    explicit HistoryStore(const QString& directory);
    HistoryStore(const QString& directory, Options options);
    // Writes what is pending and waits for any write in progress.
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // The application's folder: the user's data location + "/ravlen", shared
    // with the signatures file. Not created here.
    static QString defaultDirectory();

    const std::vector<HistoryEntry>& entries() const { return entries_; }
    int limit() const { return limit_; }
    QString filePath() const { return filePath_; }
    bool recoveredFromDamage() const { return recoveredFromDamage_; }
    // A file was there when the store loaded, readable or not.
    bool existedOnDisk() const { return existedOnDisk_; }
    // False when the loaded file must not be replaced this run.
    bool canWrite() const { return canWrite_; }
    bool hasPendingSave() const;

    std::optional<HistoryEntry> entry(const QUuid& id) const;
    std::optional<HistoryEntry> entryForPath(const QString& path) const; // the path standardized first

    // Records one opening: the entry moves to the front with the clock's
    // date; a title, page count or bookmark not given keeps the stored one.
    // None when the path cannot be recorded (see historyPath).
    std::optional<HistoryEntry> record(const QString& path, const std::optional<QString>& title = {},
                                       std::optional<std::int64_t> pageCount = {},
                                       const std::optional<QByteArray>& bookmark = {});
    // Moves an entry to a new path; when another entry is already there the
    // two merge (the one opened later keeps its id and place; counts add up).
    void relocate(const QUuid& id, const QString& path, const std::optional<QByteArray>& bookmark = {});
    void updateDetails(const QString& path, const std::optional<QString>& title, std::optional<std::int64_t> pageCount);
    void remove(const QUuid& id);
    void remove(const std::set<QUuid>& ids);
    void removeAll();

    struct Recent {
        QString path;
        QDateTime date;
    };
    // Adds the files not yet in the history, then sorts newest first.
    void importRecents(const std::vector<Recent>& recents);

    // Writes the pending change now, on the calling thread, and returns once
    // every change made so far is on disk (or its write has failed), also
    // when a delayed write had already taken it.
    void flush();

private:
    void load();
    void trim();
    void scheduleSave();
    void writePending(std::int64_t sequence, bool force);
    bool write(const std::vector<HistoryEntry>& entries);
    void runWriter();

    QString directory_;
    QString filePath_;
    int limit_;
    double saveDelay_;
    Clock clock_;
    FileWriter writeFile_;
    std::vector<HistoryEntry> entries_;
    bool recoveredFromDamage_ = false;
    bool existedOnDisk_ = false;
    bool canWrite_ = true;
    // The bytes of a loaded file that lost entries in decoding, kept aside
    // before the first write replaces it.
    std::optional<QByteArray> damagedOriginal_;

    struct Pending {
        std::int64_t sequence = 0;
        std::vector<HistoryEntry> entries;
    };
    mutable std::mutex lock_; // guards everything down to `wake_`
    std::optional<Pending> pending_;
    std::int64_t generation_ = 0;
    std::int64_t taken_ = 0;    // the newest sequence taken out of `pending_`
    std::int64_t finished_ = 0; // the newest sequence whose write is over
    std::multimap<std::chrono::steady_clock::time_point, std::int64_t> jobs_;
    bool stopping_ = false;
    std::condition_variable wake_; // the writer thread: a job or the end
    std::condition_variable finishedChanged_;

    std::mutex writeLock_; // one write of the file at a time; guards `written_`
    std::int64_t written_ = 0;

    std::thread writer_;
};

// The two settings of the history.
namespace HistoryPreferences {

inline constexpr const char* keepHistoryKey = "ravlenKeepHistory";
inline constexpr const char* importedRecentsKey = "ravlenHistoryImportedRecents";

// Anything but a stored Boolean reads as on.
bool keepHistory(const platform::UserDefaults& defaults);

} // namespace HistoryPreferences

} // namespace quarnkit
