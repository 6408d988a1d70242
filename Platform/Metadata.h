#pragma once
// The file index: every PDF the indexer found under the user's folders, with
// its name, title, page count, size, dates and text, in one SQLite database
// (FTS5 for the text). One connection per thread; the indexer writes through
// its own connection while searches read through theirs (write-ahead log, so
// neither waits for the other). The database is a cache: the folder holding
// it is private to the user (0700) and the files are 0600.
//
// Words typed by the user only ever reach SQLite as bound parameters: names
// and titles are searched as folded substrings with instr(), contents as
// quoted FTS5 prefix strings in a bound MATCH argument.
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace platform {

class MetadataError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What reading a file gave.
enum class MetadataReadState {
    read = 0,       // title, page count and text as the file holds them
    locked = 1,     // needs a password: listed by name only
    unreadable = 2, // not a PDF MuPDF can open
    failed = 3,     // the reader crashed, ran out of time or memory on it
    tooLarge = 4,   // over the size limit: listed by name only
    unread = 5,     // no reader could be started: read again at the next walk
};

// Why the indexer reads no file at all; kept in the index, so that every
// search can say so.
enum class MetadataIndexProblem {
    none = 0,
    noReader = 1,         // no reader program is installed with the program
    readerUnconfined = 2, // the reader cannot confine itself on this system
    readerUntrusted = 3,  // another user owns or can change the reader or a folder on its path
    readerUnchecked = 4,  // whether others can change the reader could not be told (a folder it may not search)
};

// One file as the indexer stores it.
struct MetadataRecord {
    std::string path; // UTF-8, absolute
    std::optional<std::string> title;
    std::optional<int> pageCount;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;   // nanoseconds since 1970
    std::int64_t changedNs = 0;    // the inode's change time, likewise
    std::int64_t addedSeconds = 0; // birth time, else when the indexer first saw it
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    MetadataReadState state = MetadataReadState::read;
    std::string text; // the file's text (kept compressed; searched through its words)
};

// What the indexer compares to know whether a file changed. The change
// time catches a rewrite that kept the size and put the modification time
// back; it moves on a rename too, so a moved file is found without it.
struct MetadataStamp {
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const MetadataStamp&, const MetadataStamp&) = default;
};

// A search: every word must occur (AND); a word occurs when it is a case- and
// accent-insensitive substring of the file's name or title, or, with
// `contents`, when a word of the text begins with it.
struct MetadataQuery {
    std::vector<QString> words;
    bool contents = false;
    QString folder; // only files below this folder; empty: everywhere
};

// One file found.
struct MetadataEntry {
    QString path;
    QString name;
    std::optional<QString> title;
    std::optional<int> pageCount;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t addedSeconds = 0;
};

// Case and accents folded away (decomposed, marks dropped, case folded),
// as every search of names and titles compares them.
QString foldedForSearch(const QString& text);

class MetadataIndex {
public:
    // Bumped whenever the layout changes; an index of another version is
    // dropped and rebuilt by the indexer.
    static constexpr int schemaVersion = 2;
    // Text kept per file: enough for a long book; the rest is not searched.
    static constexpr std::size_t maxTextBytes = 4u << 20;

    // Opens the index at `path`, making its folder (0700) and the database
    // (0600) when missing, and tightening their modes when they are ours.
    // Throws MetadataError when the folder cannot be made private or the
    // database cannot be opened or is damaged.
    explicit MetadataIndex(const std::string& path);
    ~MetadataIndex();
    MetadataIndex(const MetadataIndex&) = delete;
    MetadataIndex& operator=(const MetadataIndex&) = delete;

    // Makes the folder of the index at `path` (0700), or throws MetadataError.
    static void makeFolder(const std::string& path);
    // Deletes the database at `path` and its journal files (a damaged index).
    static void discard(const std::string& path);

    // ---- reading
    // Calls `each` for every file the query finds, in no particular order.
    // Throws MetadataError.
    void query(const MetadataQuery& query, const std::function<void(const MetadataEntry&)>& each) const;
    bool isEmpty() const;
    std::int64_t count() const;
    // Changes whenever another connection commits a change.
    std::int64_t dataVersion() const;
    // A full walk of the indexer's folders has finished and every file it
    // found has been read, at least once in the index's life.
    bool isComplete() const;
    // Why the indexer stopped reading files, if it did.
    MetadataIndexProblem problem() const;
    // The reading state a file was stored with (tests).
    std::optional<MetadataReadState> readState(const std::string& path) const;

    // ---- writing (the indexer); each change is whole or not made at all,
    // inside a transaction or not. A number given to a file is never given
    // to another, so words that stayed behind could never name a stranger.
    bool matchesSchema() const;
    void begin();
    void commit();
    // The stamp stored with a file that needs no new reading.
    std::optional<MetadataStamp> stamp(const std::string& path) const;
    // The path of a file stored with this device and inode, size and
    // modification time.
    std::optional<std::string> pathOf(const MetadataStamp& stamp) const;
    // The stored date the file was first seen, to keep across updates.
    std::optional<std::int64_t> added(const std::string& path) const;
    void put(const MetadataRecord& record);
    // Gives a stored file a new path (a file moved or renamed), and the
    // stamp it has there when given.
    void move(const std::string& from, const std::string& to, const std::optional<MetadataStamp>& stamp = {});
    // Moves every file below folder `from` below `to`.
    void moveFolder(const std::string& from, const std::string& to);
    void remove(const std::string& path);
    void removeFolder(const std::string& folder);
    // Every stored path below the folder.
    std::vector<std::string> pathsIn(const std::string& folder) const;
    void markComplete();
    void setProblem(MetadataIndexProblem problem);
    // Merges the text index into one segment and frees the pages it left.
    void compact();
    // Writes the log into the database and empties it (outside a transaction).
    void checkpoint();

private:
    sqlite3_stmt* prepared(int which, const char* sql) const;
    std::optional<std::int64_t> idOf(const std::string& path) const;
    void write(const MetadataRecord& record);
    void forgetWords(std::int64_t id);
    void exec(const char* sql) const;
    void useWriteAheadLog();
    void createSchema();

    std::string path_;
    sqlite3* db_ = nullptr;
    mutable std::vector<sqlite3_stmt*> statements_;
};

} // namespace platform
