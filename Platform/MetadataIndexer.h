#pragma once
// The background indexer of the file index: walks the user's folders, reads
// every PDF it finds in reader processes (MetadataReader.h) and keeps the
// index current from then on with inotify. Runs on a thread of its own at
// low priority; one indexer per user indexes, through a lock file beside the
// index (another waits until the lock comes free).
//
// Incremental: a file whose size, modification and change times and inode
// are the ones stored is not read again, and a file or folder that moved
// keeps its row.
// Folders are watched breadth first, within a share of the user's inotify
// watches; an event queue overflow rescans everything, and when some folders
// could not be watched the walk is repeated now and then.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct MetadataIndexerOptions {
    std::string indexPath;          // the database; its folder also holds the lock file
    std::vector<std::string> roots; // folders indexed with everything below them
    // Folders never entered (hidden ones, caches, …); called on the indexer's thread.
    std::function<bool(const std::string& folder)> skipsFolder;
    std::string readerPath; // the reader program
    int readers = 2;
    std::chrono::milliseconds readTimeout{20000}; // a reader still busy after this is killed
    std::uint64_t readerMemory = 1ull << 30;      // address space of a reader
    std::int64_t largestFile = 1ll << 30;         // larger files are listed by name only
    // Quiet time after a change before the file is looked at: a copy in
    // progress is read once, when it is whole.
    std::chrono::milliseconds settle{150};
    std::chrono::milliseconds unwatchedRescan = std::chrono::minutes(15);
    int maxWatches = 0; // 0: half of the user's inotify watches
    std::chrono::milliseconds lockRetry{10000};
    bool idlePriority = true; // false: the caller's priority (benchmarks)
};

class MetadataIndexer {
public:
    // The lock file beside the index at `indexPath`.
    static std::string lockPath(const std::string& indexPath);

    explicit MetadataIndexer(MetadataIndexerOptions options);
    ~MetadataIndexer(); // stops
    MetadataIndexer(const MetadataIndexer&) = delete;
    MetadataIndexer& operator=(const MetadataIndexer&) = delete;

    void start(); // does nothing when running
    void stop();  // waits for the thread and its readers to end
    // This indexer holds the user's lock and keeps the index.
    bool holdsLock() const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace platform
