#include "QuarnKit/History/HistoryStore.h"

#include "Platform/FileMoves.h"
#include "Platform/PrivateFiles.h"
#include "Platform/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include <sys/stat.h>

namespace quarnkit {

HistoryStore::HistoryStore(const QString& directory) : HistoryStore(directory, Options{}) {}

HistoryStore::HistoryStore(const QString& directory, Options options)
    : directory_(directory), filePath_(QDir(directory).filePath(QString::fromLatin1(HistoryFile::fileName))),
      limit_(std::max(options.limit, 1)),
      saveDelay_(std::isfinite(options.saveDelay) && options.saveDelay > 0 ? options.saveDelay : 0),
      clock_(options.clock ? std::move(options.clock) : Clock([] { return QDateTime::currentDateTimeUtc(); })),
      writeFile_(options.writeFile ? std::move(options.writeFile) : FileWriter(platform::PrivateFiles::write))
{
    load();
    writer_ = std::thread([this] { runWriter(); });
}

HistoryStore::~HistoryStore()
{
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    writer_.join(); // lets a write in progress finish
    flush();
}

QString HistoryStore::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/ravlen");
}

void HistoryStore::load()
{
    struct stat info {};
    const QByteArray native = QFile::encodeName(filePath_);
    if (::stat(native.constData(), &info) != 0 && errno == ENOENT) return; // no history yet
    // Something is there: whatever happens next, it is not replaced unseen.
    existedOnDisk_ = true;
    QFile file(filePath_);
    if (QFileInfo(filePath_).isDir() || !file.open(QIODevice::ReadOnly)) {
        canWrite_ = false;
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        canWrite_ = false;
        return;
    }
    file.close();
    HistoryFile::Decoded decoded = HistoryFile::decode(bytes);
    if (decoded.damaged) {
        recoveredFromDamage_ = true;
        // Under the first free name: a damaged copy kept before is never written over.
        if (!platform::FileMoves::moveAside(filePath_)) canWrite_ = false;
        return;
    }
    if (decoded.dropped > 0) damagedOriginal_ = bytes;
    entries_ = HistoryFile::cleaned(std::move(decoded.entries), limit_);
}

bool HistoryStore::hasPendingSave() const
{
    std::lock_guard guard(lock_);
    return pending_.has_value();
}

std::optional<HistoryEntry> HistoryStore::entry(const QUuid& id) const
{
    for (const HistoryEntry& e : entries_)
        if (e.id == id) return e;
    return std::nullopt;
}

std::optional<HistoryEntry> HistoryStore::entryForPath(const QString& path) const
{
    const QString p = historyPath(path);
    if (p.isEmpty()) return std::nullopt;
    for (const HistoryEntry& e : entries_)
        if (e.path == p) return e;
    return std::nullopt;
}

void HistoryStore::trim()
{
    if (entries_.size() > size_t(limit_)) entries_.resize(size_t(limit_));
}

std::optional<HistoryEntry> HistoryStore::record(const QString& path, const std::optional<QString>& title,
                                                 std::optional<std::int64_t> pageCount,
                                                 const std::optional<QByteArray>& bookmark)
{
    const QString p = historyPath(path);
    if (p.isEmpty()) return std::nullopt;
    const QDateTime now = clock_();
    const auto found =
        std::find_if(entries_.begin(), entries_.end(), [&](const HistoryEntry& e) { return e.path == p; });
    HistoryEntry e;
    if (found != entries_.end()) {
        e = *found;
        entries_.erase(found);
        e.lastOpened = now;
        e.openCount += 1;
        if (title) e.title = title;
        if (pageCount) e.pageCount = pageCount;
        if (bookmark) e.bookmark = bookmark;
    } else {
        e = HistoryEntry{QUuid::createUuid(), p, bookmark, title, pageCount, now, now, 1};
    }
    entries_.insert(entries_.begin(), e);
    trim();
    scheduleSave();
    return e;
}

void HistoryStore::relocate(const QUuid& id, const QString& path, const std::optional<QByteArray>& bookmark)
{
    const auto i =
        size_t(std::find_if(entries_.begin(), entries_.end(), [&](const HistoryEntry& e) { return e.id == id; })
               - entries_.begin());
    if (i == entries_.size()) return;
    const QString p = historyPath(path);
    if (p.isEmpty()) return;
    const auto j = size_t(
        std::find_if(entries_.begin(), entries_.end(), [&](const HistoryEntry& e) { return e.path == p && e.id != id; })
        - entries_.begin());
    if (j == entries_.size()) {
        entries_[i].path = p;
        if (bookmark) entries_[i].bookmark = bookmark;
        scheduleSave();
        return;
    }
    // The relocated entry wins ties.
    const bool keepRelocated = entries_[i].lastOpened >= entries_[j].lastOpened;
    const size_t kept = keepRelocated ? i : j;
    const HistoryEntry& dropped = entries_[keepRelocated ? j : i];
    HistoryEntry merged = entries_[kept];
    merged.path = p;
    merged.openCount = entries_[i].openCount + entries_[j].openCount;
    merged.firstOpened = std::min(entries_[i].firstOpened, entries_[j].firstOpened);
    merged.bookmark = bookmark ? bookmark : merged.bookmark ? merged.bookmark : dropped.bookmark;
    if (!merged.title) merged.title = dropped.title;
    if (!merged.pageCount) merged.pageCount = dropped.pageCount;
    const size_t droppedIndex = keepRelocated ? j : i;
    entries_[kept] = std::move(merged);
    entries_.erase(entries_.begin() + std::ptrdiff_t(droppedIndex));
    scheduleSave();
}

void HistoryStore::updateDetails(const QString& path, const std::optional<QString>& title,
                                 std::optional<std::int64_t> pageCount)
{
    const QString p = historyPath(path);
    if (p.isEmpty()) return;
    const auto found =
        std::find_if(entries_.begin(), entries_.end(), [&](const HistoryEntry& e) { return e.path == p; });
    if (found == entries_.end()) return;
    HistoryEntry copy = *found;
    if (title) copy.title = title;
    if (pageCount) copy.pageCount = pageCount;
    if (copy == *found) return;
    *found = std::move(copy);
    scheduleSave();
}

void HistoryStore::remove(const QUuid& id) { remove(std::set<QUuid>{id}); }

void HistoryStore::remove(const std::set<QUuid>& ids)
{
    if (std::erase_if(entries_, [&](const HistoryEntry& e) { return ids.count(e.id) > 0; }) > 0) scheduleSave();
}

void HistoryStore::removeAll()
{
    if (entries_.empty()) return;
    entries_.clear();
    scheduleSave();
}

void HistoryStore::importRecents(const std::vector<Recent>& recents)
{
    std::set<QString> known;
    for (const HistoryEntry& e : entries_) known.insert(e.path);
    bool added = false;
    for (const Recent& recent : recents) {
        const QString p = historyPath(recent.path);
        if (p.isEmpty() || !recent.date.isValid() || !known.insert(p).second) continue;
        entries_.push_back(HistoryEntry{QUuid::createUuid(), p, std::nullopt, std::nullopt, std::nullopt, recent.date,
                                        recent.date, 1});
        added = true;
    }
    if (!added) return;
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const HistoryEntry& a, const HistoryEntry& b) { return a.lastOpened > b.lastOpened; });
    trim();
    scheduleSave();
}

// ---------------------------------------------------------------- writing

void HistoryStore::scheduleSave()
{
    {
        std::lock_guard guard(lock_);
        ++generation_;
        pending_ = Pending{generation_, entries_};
        const auto delay =
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(saveDelay_));
        jobs_.emplace(std::chrono::steady_clock::now() + delay, generation_);
    }
    wake_.notify_all();
}

void HistoryStore::runWriter()
{
    std::unique_lock guard(lock_);
    while (!stopping_) {
        if (jobs_.empty()) {
            wake_.wait(guard);
            continue;
        }
        const auto first = jobs_.begin();
        if (std::chrono::steady_clock::now() < first->first) {
            wake_.wait_until(guard, first->first);
            continue;
        }
        const std::int64_t sequence = first->second;
        jobs_.erase(first);
        guard.unlock();
        writePending(sequence, false);
        guard.lock();
    }
}

void HistoryStore::writePending(std::int64_t sequence, bool force)
{
    Pending snapshot;
    {
        std::lock_guard guard(lock_);
        if (!pending_ || (!force && sequence != generation_)) return;
        snapshot = std::move(*pending_);
        pending_.reset();
        taken_ = std::max(taken_, snapshot.sequence);
    }
    {
        std::lock_guard writing(writeLock_);
        // Of two snapshots racing to the disk, the older is never written after the newer.
        if (written_ < snapshot.sequence) {
            write(snapshot.entries);
            written_ = snapshot.sequence;
        }
    }
    {
        std::lock_guard guard(lock_);
        finished_ = std::max(finished_, snapshot.sequence);
    }
    finishedChanged_.notify_all();
}

void HistoryStore::flush()
{
    writePending(0, true);
    // A delayed write may have taken the last change just before: wait for it.
    std::unique_lock guard(lock_);
    const std::int64_t target = taken_;
    finishedChanged_.wait(guard, [&] { return finished_ >= target; });
}

bool HistoryStore::write(const std::vector<HistoryEntry>& entries)
{
    // The history names the user's documents: 0600 files in a 0700 folder.
    if (!canWrite_ || !platform::PrivateFiles::makeFolder(directory_)) return false;
    if (damagedOriginal_) {
        // Entries that could not be read are kept aside before the file that
        // held them is replaced, as a damaged file is: its bytes are written
        // beside it, then moved to the first free name of its damaged copies.
        const QString lost = QDir(directory_).filePath(QStringLiteral("history.lost.json"));
        if (!writeFile_(lost, *damagedOriginal_)
            || !platform::FileMoves::moveAside(lost, QString::fromLatin1(HistoryFile::fileName))) {
            QFile::remove(lost);
            return false;
        }
        damagedOriginal_.reset();
    }
    return writeFile_(filePath_, HistoryFile::encode(entries));
}

// ---------------------------------------------------------------- preferences

namespace HistoryPreferences {

bool keepHistory(const platform::UserDefaults& defaults) { return defaults.boolValue(keepHistoryKey).value_or(true); }

} // namespace HistoryPreferences

} // namespace quarnkit
