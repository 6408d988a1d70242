#include "Platform/MetadataIndexer.h"

#include "Platform/FileDescriptor.h"
#include "Platform/Metadata.h"
#include "Platform/MetadataReader.h"
#include "Platform/TrustedProgram.h"

#include <QString>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Why a reader the check refused was not run; none when it was not refused.
std::optional<MetadataIndexProblem> refusalOf(ProgramCheck::Verdict verdict)
{
    switch (verdict) {
    case ProgramCheck::Verdict::untrusted: return MetadataIndexProblem::readerUntrusted;
    case ProgramCheck::Verdict::undecided: return MetadataIndexProblem::readerUnchecked;
    case ProgramCheck::Verdict::trusted:
    case ProgramCheck::Verdict::missing: break;
    }
    return std::nullopt;
}

constexpr std::uint32_t folderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY
                                       | IN_ATTRIB | IN_DELETE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;
// Rows written are committed together, at most this long after the first.
constexpr auto commitDelay = std::chrono::milliseconds(250);
// Folders listed per turn of the loop, between looks at events and readers.
constexpr int foldersPerTurn = 32;

struct FileStat {
    MetadataStamp stamp;
    std::int64_t birthSeconds = 0; // 0: the file system keeps none
    bool regular = false;
    bool folder = false;
};

std::optional<FileStat> statAt(int folder, const char* name)
{
    struct statx sx {};
    if (::statx(folder, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return std::nullopt;
    FileStat st;
    st.regular = S_ISREG(sx.stx_mode);
    st.folder = S_ISDIR(sx.stx_mode);
    st.stamp.size = std::int64_t(sx.stx_size);
    st.stamp.modifiedNs = std::int64_t(sx.stx_mtime.tv_sec) * 1000000000 + sx.stx_mtime.tv_nsec;
    st.stamp.changedNs = std::int64_t(sx.stx_ctime.tv_sec) * 1000000000 + sx.stx_ctime.tv_nsec;
    st.stamp.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    st.stamp.inode = sx.stx_ino;
    if (sx.stx_mask & STATX_BTIME) st.birthSeconds = sx.stx_btime.tv_sec;
    return st;
}

std::optional<FileStat> statPath(const std::string& path) { return statAt(AT_FDCWD, path.c_str()); }

bool isPdfName(std::string_view name)
{
    if (name.size() < 5) return false;
    const std::string_view tail = name.substr(name.size() - 4);
    return tail[0] == '.' && (tail[1] | 0x20) == 'p' && (tail[2] | 0x20) == 'd' && (tail[3] | 0x20) == 'f';
}

// Names that are not UTF-8 cannot be named back to the file system by the
// program (its paths are Unicode strings): such files are left out.
bool isUtf8(const char* name)
{
    const QByteArray bytes(name);
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

bool isUnder(const std::string& path, const std::string& folder)
{
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

// Network and FUSE file systems mounted inside a watched tree are not
// walked: a slow or hung server must not stall the indexer.
bool isRemoteFileSystem(const std::string& folder)
{
    struct statfs fs {};
    if (::statfs(folder.c_str(), &fs) != 0) return true;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x65735546: // FUSE
    case 0x73757245: // Coda
    case 0x5346414F: // AFS
    case 0x01021997: // 9P
    case 0x00C36400: // Ceph
        return true;
    default: return false;
    }
}

std::int64_t nowSeconds() { return std::int64_t(std::time(nullptr)); }

int systemWatchLimit()
{
    int limit = 8192;
    if (FILE* f = std::fopen("/proc/sys/fs/inotify/max_user_watches", "r")) {
        if (std::fscanf(f, "%d", &limit) != 1) limit = 8192;
        std::fclose(f);
    }
    return limit;
}

// ---------------------------------------------------------------- one session of indexing

// Everything the indexer holds while it keeps the index: made when it has
// the lock, thrown away whole when the index fails (it is then rebuilt).
class Session {
public:
    Session(const MetadataIndexerOptions& options, int wake, const std::atomic<bool>& stopping);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Returns when stopped, or when no file can be read (false: the
    // reason is kept in the index); throws MetadataError when the index fails.
    bool run();

private:
    struct Job {
        std::string path;
        FileStat st;
    };
    struct Reader {
        std::unique_ptr<MetadataReaderProcess> process;
        Job job;
        Clock::time_point deadline;
    };
    struct Scan {
        std::string root;
        bool full = false;
        bool started = false;
        std::deque<std::string> folders;
        std::unordered_set<std::string> seen;
    };
    struct Moved {
        std::string path;
        Clock::time_point deadline;
    };

    template <typename F>
    void write(F&& change)
    {
        if (!inTransaction_) {
            index_->begin();
            inTransaction_ = true;
            began_ = Clock::now();
        }
        change();
    }
    void commit();

    // Walking.
    void requestFullScan();
    void requestScan(const std::string& folder);
    void advanceScans();
    void listFolder(Scan& scan, const std::string& folder);
    void finishScan(const Scan& scan);
    void noteSeen(const std::string& path);

    // Files.
    void examine(const std::string& path, const FileStat& st, bool urgent);
    void enqueue(const Job& job, bool urgent);
    void dispatch();
    void finishRead(const Job& job, const MetadataReading& reading);
    void giveUp(MetadataIndexProblem problem);
    void store(const Job& job, const MetadataReading& reading);
    bool isQueuedOrReading(const std::string& path) const;

    // Watching.
    void watch(const std::string& folder);
    void readEvents();
    void markDirty(const std::string& path);
    void processDirty(Clock::time_point now);
    void expireMoves(Clock::time_point now);
    void forgetFolder(const std::string& folder);
    void renameFolder(const std::string& from, const std::string& to);

    bool skips(const std::string& folder) const { return options_.skipsFolder && options_.skipsFolder(folder); }
    bool idle() const;
    int timeout(Clock::time_point now) const;
    void wait(Clock::time_point now);

    const MetadataIndexerOptions& options_;
    const int wake_;
    const std::atomic<bool>& stopping_;
    std::unique_ptr<MetadataIndex> index_;
    bool inTransaction_ = false;
    Clock::time_point began_;
    bool complete_ = false;
    bool gaveUp_ = false;

    std::deque<Scan> scans_; // the front one is walked first
    int fullScans_ = 0;      // full scans queued or running
    bool walkedAll_ = false; // a full scan has ended this session

    std::unordered_map<std::string, FileStat> pending_; // files to read, by path
    std::deque<std::string> urgent_, background_;       // their order: changes first
    std::vector<Reader> readers_;

    int inotify_ = -1;
    int watchBudget_ = 0;
    std::unordered_map<int, std::string> folderOfWatch_;
    std::map<std::string, int> watchOfFolder_;
    bool someUnwatched_ = false;
    Clock::time_point nextRescan_;

    std::deque<std::pair<std::string, Clock::time_point>> dirtyOrder_;
    std::unordered_map<std::string, Clock::time_point> dirty_;
    std::unordered_map<std::uint32_t, Moved> movedOut_; // folders moved away, by cookie
};

Session::Session(const MetadataIndexerOptions& options, int wake, const std::atomic<bool>& stopping)
    : options_(options), wake_(wake), stopping_(stopping)
{
    index_ = std::make_unique<MetadataIndex>(options.indexPath);
    if (!index_->matchesSchema()) throw MetadataError("the file index has another layout");
    complete_ = index_->isComplete();
    for (int i = 0; i < std::max(1, options.readers); ++i)
        readers_.push_back({std::make_unique<MetadataReaderProcess>(options.readerPath, options.readerMemory), {}, {}});
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // Other programs of the user watch folders too: take a share of the limit.
    const int system = systemWatchLimit();
    watchBudget_ = options.maxWatches > 0 ? std::min(options.maxWatches, system) : std::max(1, system / 2);
    someUnwatched_ = inotify_ < 0;
    nextRescan_ = Clock::now() + options.unwatchedRescan;
}

Session::~Session()
{
    readers_.clear(); // kills any reader still busy
    if (inotify_ >= 0) ::close(inotify_);
    if (inTransaction_) {
        try {
            index_->commit();
        } catch (const MetadataError&) {}
    }
}

bool Session::run()
{
    // Without a reader nothing is indexed at all (not even names): every
    // search says why instead. A reader that was missing or refused before
    // may work now: the first one started tells.
    if (options_.readerPath.empty()) {
        giveUp(MetadataIndexProblem::noReader);
        return false;
    }
    if (const auto refusal = refusalOf(checkProgram(options_.readerPath).verdict)) {
        giveUp(*refusal);
        return false;
    }
    if (index_->problem() != MetadataIndexProblem::none) {
        write([&] { index_->setProblem(MetadataIndexProblem::none); });
        commit();
    }
    requestFullScan();
    while (!stopping_ && !gaveUp_) {
        const auto now = Clock::now();
        processDirty(now);
        expireMoves(now);
        if (someUnwatched_ && now >= nextRescan_ && fullScans_ == 0) {
            requestFullScan();
            nextRescan_ = now + options_.unwatchedRescan;
        }
        advanceScans();
        dispatch();
        if (!complete_ && walkedAll_ && idle()) {
            // The first complete index was written in many small batches:
            // merged once, and the log that the merge filled folded into the
            // database now rather than at the next small change.
            write([&] { index_->compact(); });
            commit();
            index_->checkpoint();
            write([&] { index_->markComplete(); });
            complete_ = true;
        }
        if (inTransaction_ && (idle() || Clock::now() - began_ >= commitDelay)) commit();
        wait(Clock::now());
    }
    return !gaveUp_;
}

void Session::giveUp(MetadataIndexProblem problem)
{
    write([&] { index_->setProblem(problem); });
    commit();
    gaveUp_ = true;
}

void Session::commit()
{
    inTransaction_ = false;
    index_->commit();
}

bool Session::idle() const
{
    const bool reading =
        std::any_of(readers_.begin(), readers_.end(), [](const Reader& r) { return r.process->busy(); });
    return scans_.empty() && pending_.empty() && !reading;
}

// ---------------------------------------------------------------- walking

void Session::requestFullScan()
{
    // A full scan not yet started covers everything a new one would.
    for (const Scan& scan : scans_)
        if (scan.full && !scan.started) return;
    for (const std::string& root : options_.roots) {
        Scan scan;
        scan.root = root;
        scan.full = true;
        scan.folders.push_back(root);
        scans_.push_back(std::move(scan));
        ++fullScans_;
    }
}

void Session::requestScan(const std::string& folder)
{
    for (const Scan& scan : scans_)
        if (!scan.started && scan.root == folder) return;
    Scan scan;
    scan.root = folder;
    scan.folders.push_back(folder);
    // A folder that just appeared is looked at before the long walks.
    scans_.push_front(std::move(scan));
}

void Session::advanceScans()
{
    for (int i = 0; i < foldersPerTurn && !scans_.empty(); ++i) {
        Scan& scan = scans_.front();
        scan.started = true;
        if (scan.folders.empty()) {
            finishScan(scan);
            if (scan.full && --fullScans_ == 0) walkedAll_ = true;
            scans_.pop_front();
            continue;
        }
        const std::string folder = std::move(scan.folders.front());
        scan.folders.pop_front();
        listFolder(scan, folder);
    }
}

void Session::listFolder(Scan& scan, const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    struct stat self {};
    ::fstat(fd, &self);
    // Watched before it is listed, so that nothing made meanwhile is missed.
    watch(folder);
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || !isUtf8(name)) continue;
        const bool pdf = isPdfName(name);
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN && !(entry->d_type == DT_REG && pdf)) continue;
        const std::string child = folder + "/" + name;
        if (entry->d_type == DT_REG) {
            if (const auto st = statAt(fd, name); st && st->regular) examine(child, *st, false);
            continue;
        }
        const auto st = statAt(fd, name);
        if (!st) continue;
        if (st->regular && pdf) {
            examine(child, *st, false);
        } else if (st->folder && !skips(child)) {
            if (st->stamp.device != self.st_dev && isRemoteFileSystem(child)) continue;
            scan.folders.push_back(child);
        }
    }
    ::closedir(dir);
}

void Session::finishScan(const Scan& scan)
{
    // What the walk did not meet is gone (or now in a folder left out).
    for (const std::string& path : index_->pathsIn(scan.root))
        if (!scan.seen.count(path) && !isQueuedOrReading(path)) write([&] { index_->remove(path); });
}

void Session::noteSeen(const std::string& path)
{
    for (Scan& scan : scans_)
        if (isUnder(path, scan.root)) scan.seen.insert(path);
}

// ---------------------------------------------------------------- files

void Session::examine(const std::string& path, const FileStat& st, bool urgent)
{
    noteSeen(path);
    const std::optional<MetadataStamp> known = index_->stamp(path);
    if (known == st.stamp) return;
    if (!known) {
        // Moved or renamed: the row of the same file under its old name,
        // when nothing is at that name any more, takes the new one.
        if (const auto old = index_->pathOf(st.stamp); old && *old != path) {
            const auto there = statPath(*old);
            if (!there || there->stamp.inode != st.stamp.inode || there->stamp.device != st.stamp.device) {
                write([&] { index_->move(*old, path, st.stamp); });
                return;
            }
        }
    }
    if (st.stamp.size > options_.largestFile) {
        MetadataReading nameOnly;
        nameOnly.state = MetadataReadState::tooLarge;
        store({path, st}, nameOnly);
        return;
    }
    enqueue({path, st}, urgent);
}

void Session::enqueue(const Job& job, bool urgent)
{
    const bool queued = pending_.count(job.path) > 0;
    pending_[job.path] = job.st;
    if (urgent) urgent_.push_back(job.path);
    else if (!queued) background_.push_back(job.path);
}

bool Session::isQueuedOrReading(const std::string& path) const
{
    if (pending_.count(path)) return true;
    return std::any_of(readers_.begin(), readers_.end(),
                       [&](const Reader& r) { return r.process->busy() && r.job.path == path; });
}

void Session::dispatch()
{
    for (Reader& reader : readers_) {
        while (!reader.process->busy() && !(urgent_.empty() && background_.empty())) {
            std::deque<std::string>& queue = urgent_.empty() ? background_ : urgent_;
            const std::string path = std::move(queue.front());
            queue.pop_front();
            const auto found = pending_.find(path);
            if (found == pending_.end()) continue; // taken already
            Job job{path, found->second};
            pending_.erase(found);
            // The reader gets the file open, and can open nothing itself.
            const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
            struct stat st {};
            if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                MetadataReading unreadable;
                unreadable.state = MetadataReadState::unreadable;
                if (file.fd < 0 && errno == ENOENT) write([&] { index_->remove(path); });
                else store(job, unreadable);
                continue;
            }
            if (!reader.process->begin(file.fd)) {
                if (const auto refusal = refusalOf(reader.process->programVerdict())) return giveUp(*refusal);
                // No reader runs: list the file by name, to be read next time.
                MetadataReading unread;
                unread.state = MetadataReadState::unread;
                store(job, unread);
                continue;
            }
            reader.job = std::move(job);
            reader.deadline = Clock::now() + options_.readTimeout;
        }
    }
}

void Session::finishRead(const Job& job, const MetadataReading& reading)
{
    // The file may have gone or changed while it was read.
    const auto now = statPath(job.path);
    if (!now || !now->regular) {
        write([&] { index_->remove(job.path); });
        return;
    }
    if (now->stamp != job.st.stamp) markDirty(job.path);
    store(job, reading);
}

void Session::store(const Job& job, const MetadataReading& reading)
{
    MetadataRecord record;
    record.path = job.path;
    record.title = reading.title;
    record.pageCount = reading.pageCount;
    record.size = job.st.stamp.size;
    record.modifiedNs = job.st.stamp.modifiedNs;
    record.changedNs = job.st.stamp.changedNs;
    record.device = job.st.stamp.device;
    record.inode = job.st.stamp.inode;
    record.state = reading.state;
    record.text = reading.text;
    record.addedSeconds =
        job.st.birthSeconds > 0 ? job.st.birthSeconds : index_->added(job.path).value_or(nowSeconds());
    write([&] { index_->put(record); });
    noteSeen(job.path);
}

// ---------------------------------------------------------------- watching

void Session::watch(const std::string& folder)
{
    if (inotify_ < 0 || watchOfFolder_.count(folder)) return;
    if (int(folderOfWatch_.size()) >= watchBudget_) {
        someUnwatched_ = true;
        return;
    }
    const int wd = ::inotify_add_watch(inotify_, folder.c_str(), folderEvents);
    if (wd < 0) {
        if (errno == ENOSPC) {
            watchBudget_ = int(folderOfWatch_.size());
            someUnwatched_ = true;
        }
        return;
    }
    if (const auto old = folderOfWatch_.find(wd); old != folderOfWatch_.end()) watchOfFolder_.erase(old->second);
    folderOfWatch_[wd] = folder;
    watchOfFolder_[folder] = wd;
}

void Session::markDirty(const std::string& path)
{
    const auto due = Clock::now() + options_.settle;
    dirty_[path] = due;
    dirtyOrder_.emplace_back(path, due);
}

void Session::readEvents()
{
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                // Events were lost: only a walk can tell what changed.
                requestFullScan();
                continue;
            }
            const auto found = folderOfWatch_.find(event->wd);
            if (found == folderOfWatch_.end()) continue;
            if (event->mask & IN_IGNORED) {
                watchOfFolder_.erase(found->second);
                folderOfWatch_.erase(found);
                continue;
            }
            const std::string folder = found->second;
            if (event->mask & IN_DELETE_SELF) {
                // A root went: the walk of it finds nothing and drops its files.
                if (std::find(options_.roots.begin(), options_.roots.end(), folder) != options_.roots.end())
                    requestScan(folder);
                continue;
            }
            if (event->len == 0 || !isUtf8(event->name)) continue;
            const std::string child = folder + "/" + event->name;
            if (event->mask & IN_ISDIR) {
                if (event->mask & IN_MOVED_FROM) {
                    movedOut_[event->cookie] = {child, Clock::now() + options_.settle};
                } else if (event->mask & IN_MOVED_TO) {
                    const auto from = movedOut_.find(event->cookie);
                    if (skips(child)) {
                        if (from != movedOut_.end()) forgetFolder(from->second.path);
                    } else if (from != movedOut_.end()) {
                        renameFolder(from->second.path, child);
                    } else {
                        requestScan(child);
                    }
                    if (from != movedOut_.end()) movedOut_.erase(from);
                } else if (event->mask & IN_CREATE) {
                    if (!skips(child)) requestScan(child);
                } else if (event->mask & IN_DELETE) {
                    forgetFolder(child);
                }
            } else if (isPdfName(event->name)) {
                markDirty(child);
            }
        }
    }
}

void Session::processDirty(Clock::time_point now)
{
    std::vector<std::string> due;
    while (!dirtyOrder_.empty() && dirtyOrder_.front().second <= now) {
        auto [path, when] = std::move(dirtyOrder_.front());
        dirtyOrder_.pop_front();
        const auto found = dirty_.find(path);
        // A later change of the same file waits for its own settle time.
        if (found == dirty_.end() || found->second != when) continue;
        dirty_.erase(found);
        due.push_back(std::move(path));
    }
    // Files that are there first, so that a renamed file finds its old row
    // before the old name's absence removes it.
    std::vector<std::string> gone;
    for (const std::string& path : due) {
        if (const auto st = statPath(path)) {
            if (st->regular) examine(path, *st, true);
        } else {
            gone.push_back(path);
        }
    }
    for (const std::string& path : gone) write([&] { index_->remove(path); });
}

void Session::expireMoves(Clock::time_point now)
{
    // A folder moved out of every watched folder is gone from the index.
    for (auto it = movedOut_.begin(); it != movedOut_.end();) {
        if (it->second.deadline <= now) {
            forgetFolder(it->second.path);
            it = movedOut_.erase(it);
        } else {
            ++it;
        }
    }
}

void Session::forgetFolder(const std::string& folder)
{
    write([&] { index_->removeFolder(folder); });
    const auto first = watchOfFolder_.lower_bound(folder);
    const auto last = watchOfFolder_.lower_bound(folder + "0");
    for (auto it = first; it != last;) {
        if (it->first == folder || isUnder(it->first, folder)) {
            ::inotify_rm_watch(inotify_, it->second);
            folderOfWatch_.erase(it->second);
            it = watchOfFolder_.erase(it);
        } else {
            ++it;
        }
    }
}

void Session::renameFolder(const std::string& from, const std::string& to)
{
    write([&] { index_->moveFolder(from, to); });
    // The kernel keeps the watches of a moved folder: only their names change.
    std::vector<std::pair<std::string, int>> moved;
    const auto first = watchOfFolder_.lower_bound(from);
    const auto last = watchOfFolder_.lower_bound(from + "0");
    for (auto it = first; it != last;) {
        if (it->first == from || isUnder(it->first, from)) {
            moved.emplace_back(to + it->first.substr(from.size()), it->second);
            it = watchOfFolder_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& [folder, wd] : moved) {
        folderOfWatch_[wd] = folder;
        watchOfFolder_[folder] = wd;
    }
    for (const std::string& path : index_->pathsIn(to)) noteSeen(path);
    // And a walk of it brings anything else up to date.
    requestScan(to);
}

// ---------------------------------------------------------------- waiting

int Session::timeout(Clock::time_point now) const
{
    const bool readerFree =
        std::any_of(readers_.begin(), readers_.end(), [](const Reader& r) { return !r.process->busy(); });
    if (!scans_.empty() || (readerFree && !(urgent_.empty() && background_.empty()))) return 0;
    std::optional<Clock::time_point> next;
    const auto consider = [&](Clock::time_point t) { next = next ? std::min(*next, t) : t; };
    if (!dirtyOrder_.empty()) consider(dirtyOrder_.front().second);
    for (const auto& [cookie, moved] : movedOut_) consider(moved.deadline);
    for (const Reader& r : readers_)
        if (r.process->busy()) consider(r.deadline);
    if (inTransaction_) consider(began_ + commitDelay);
    if (someUnwatched_) consider(nextRescan_);
    if (!next) return -1;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
    return int(std::clamp<long long>(ms, 0, 60000));
}

void Session::wait(Clock::time_point now)
{
    std::vector<pollfd> fds{{wake_, POLLIN, 0}};
    if (inotify_ >= 0) fds.push_back({inotify_, POLLIN, 0});
    const std::size_t firstReader = fds.size();
    std::vector<Reader*> polled;
    for (Reader& r : readers_) {
        if (!r.process->busy()) continue;
        fds.push_back({r.process->descriptor(), POLLIN, 0});
        polled.push_back(&r);
    }
    if (::poll(fds.data(), fds.size(), timeout(now)) < 0) return;
    if (inotify_ >= 0 && (fds[1].revents & POLLIN)) readEvents();
    for (std::size_t i = 0; i < polled.size(); ++i) {
        if (!fds[firstReader + i].revents) continue;
        Reader& r = *polled[i];
        if (auto reading = r.process->receive()) {
            // A reader that cannot be confined reads nothing, ever, here.
            if (r.process->refused()) return giveUp(MetadataIndexProblem::readerUnconfined);
            finishRead(r.job, *reading);
        }
    }
    const auto later = Clock::now();
    for (Reader& r : readers_) {
        if (!r.process->busy() || r.deadline > later) continue;
        // Stuck in one file: the reader goes, the file is listed by name.
        finishRead(r.job, r.process->abandon());
    }
}

} // namespace

// ---------------------------------------------------------------- the indexer

struct MetadataIndexer::Impl {
    MetadataIndexerOptions options;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> holdsLock{false};
    int wake = -1;

    void run();
    int acquireLock();
    // False when told to stop before the time is over.
    bool pause(std::chrono::milliseconds time) const
    {
        pollfd fd{wake, POLLIN, 0};
        ::poll(&fd, 1, int(time.count()));
        return !stopping;
    }
};

std::string MetadataIndexer::lockPath(const std::string& indexPath) { return indexPath + ".lock"; }

MetadataIndexer::MetadataIndexer(MetadataIndexerOptions options) : d(std::make_unique<Impl>())
{
    d->options = std::move(options);
    d->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

MetadataIndexer::~MetadataIndexer()
{
    stop();
    if (d->wake >= 0) ::close(d->wake);
}

void MetadataIndexer::start()
{
    if (d->thread.joinable()) return;
    d->stopping = false;
    d->thread = std::thread([impl = d.get()] { impl->run(); });
}

void MetadataIndexer::stop()
{
    if (!d->thread.joinable()) return;
    d->stopping = true;
    const std::uint64_t one = 1;
    (void)!::write(d->wake, &one, sizeof one);
    d->thread.join();
    std::uint64_t drained;
    (void)!::read(d->wake, &drained, sizeof drained);
}

bool MetadataIndexer::holdsLock() const { return d->holdsLock; }

int MetadataIndexer::Impl::acquireLock()
{
    try {
        MetadataIndex::makeFolder(options.indexPath);
    } catch (const MetadataError&) {
        return -1;
    }
    const std::string path = lockPath(options.indexPath);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    // The lock goes with the process that holds it, however it ends.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            ::close(fd);
            return -1;
        }
        if (!pause(options.lockRetry)) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

void MetadataIndexer::Impl::run()
{
    if (options.idlePriority) lowerPriority(false);
    const int lock = acquireLock();
    if (lock >= 0) {
        holdsLock = true;
        int failures = 0;
        while (!stopping) {
            try {
                Session session(options, wake, stopping);
                // Given up: nothing to do until the program runs again.
                if (!session.run()) break;
            } catch (const MetadataError&) {
                // The index is a cache: a damaged or unwritable one is
                // dropped and built again, a few times, then later.
                MetadataIndex::discard(options.indexPath);
                if (++failures >= 3 && !pause(std::chrono::minutes(10))) break;
            }
        }
        holdsLock = false;
        ::close(lock);
    }
}

} // namespace platform
