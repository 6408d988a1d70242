#include "Platform/Metadata.h"

#include <sqlite3.h>
#include <zlib.h>

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string systemError(const std::string& what, const std::string& path, int error)
{
    return what + " " + path + ": " + std::strerror(error);
}

// Makes `folder` (and its missing parents) and leaves it a folder of this
// user's with mode 0700. A link or someone else's folder is refused.
void makePrivateFolder(const std::string& folder)
{
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        if (errno != ENOENT) throw MetadataError(systemError("cannot read", folder, errno));
        const std::size_t slash = folder.find_last_of('/');
        if (slash != std::string::npos && slash > 0) {
            const std::string parent = folder.substr(0, slash);
            struct stat up {};
            if (::stat(parent.c_str(), &up) != 0) makePrivateFolder(parent);
        }
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            throw MetadataError(systemError("cannot make", folder, errno));
        if (::lstat(folder.c_str(), &st) != 0) throw MetadataError(systemError("cannot read", folder, errno));
    }
    if (!S_ISDIR(st.st_mode)) throw MetadataError(folder + " is not a folder");
    if (st.st_uid != ::geteuid()) throw MetadataError(folder + " belongs to another user");
    if ((st.st_mode & 07777) != 0700 && ::chmod(folder.c_str(), 0700) != 0)
        throw MetadataError(systemError("cannot make private", folder, errno));
}

// The database file, when it exists, is a file of this user's with mode
// 0600 (SQLite gives its journal files the mode of the database). Looked at
// by path only, never opened: closing any descriptor of a file drops every
// POSIX lock this process holds on it, and those locks are how the SQLite
// connections of this process (the indexer's among them) tell another
// program that the log is in use. Without them, a backup tool or a sqlite3
// shell that reads the index deletes the log under the indexer. False when
// there is no file yet.
bool keepPrivateFile(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return false;
        throw MetadataError(systemError("cannot read", path, errno));
    }
    if (!S_ISREG(st.st_mode)) throw MetadataError(path + " is not a file");
    if (st.st_uid != ::geteuid()) throw MetadataError(path + " belongs to another user");
    // The folder is private and ours: nobody else can swap the file for a link meanwhile.
    if ((st.st_mode & 07777) != 0600 && ::chmod(path.c_str(), 0600) != 0)
        throw MetadataError(path + " cannot be made private");
    return true;
}

// SQLite's message and its extended code, which tells one I/O failure from another.
std::string failure(sqlite3* db)
{
    return std::string("file index: ") + sqlite3_errmsg(db) + " (" + std::to_string(sqlite3_extended_errcode(db)) + ")";
}

std::string nameOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Name and title as the substring search sees them.
std::string foldedText(const std::string& name, const std::optional<std::string>& title)
{
    QString text = QString::fromStdString(name);
    if (title) text += QLatin1Char('\n') + QString::fromStdString(*title);
    return foldedForSearch(text).toStdString();
}

// A word as an FTS5 prefix string: the word quoted (a quote doubled), then
// an asterisk. Inside the quotes the query language has no operators, and
// the tokenizer splits the word as it split the text ("e-mail" is the
// phrase "e mail").
QByteArray prefixString(const QString& word)
{
    QString quoted = word.normalized(QString::NormalizationForm_C);
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return (QLatin1Char('"') + quoted + QLatin1String("\"*")).toUtf8();
}

// The end of the range of paths below `folder`: "/" + 1 is "0".
std::string below(const std::string& folder) { return folder + "/"; }
std::string beyond(const std::string& folder) { return folder + "0"; }

enum Statement {
    stampOf,
    pathOfStamp,
    addedOf,
    titleOf,
    upsertFile,
    rowOf,
    rowsBelow,
    textOf,
    forgetWordsOf,
    dropText,
    keepText,
    insertText,
    moveFile,
    moveFiles,
    deleteFile,
    pathsBelow,
    deleteFilesBelow,
    statementCount
};

// The stored text: its size (4 bytes), then zlib's compression of it.
QByteArray packed(const char* text, std::size_t size)
{
    uLongf bound = compressBound(uLong(size));
    QByteArray out(qsizetype(4 + bound), Qt::Uninitialized);
    const auto length = std::uint32_t(size);
    std::memcpy(out.data(), &length, 4);
    if (compress2(reinterpret_cast<Bytef*>(out.data() + 4), &bound, reinterpret_cast<const Bytef*>(text), uLong(size),
                  6)
        != Z_OK)
        throw MetadataError("file index: cannot compress a text");
    out.resize(qsizetype(4 + bound));
    return out;
}

QByteArray unpacked(const void* blob, int bytes)
{
    if (!blob || bytes < 4) return {};
    std::uint32_t length = 0;
    std::memcpy(&length, blob, 4);
    QByteArray out(qsizetype(length), Qt::Uninitialized);
    uLongf size = length;
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size, static_cast<const Bytef*>(blob) + 4, uLong(bytes - 4))
            != Z_OK
        || size != length)
        throw MetadataError("file index: a stored text is damaged");
    return out;
}

struct Reset {
    sqlite3_stmt* s;
    ~Reset()
    {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
};

void bindText(sqlite3_stmt* s, int index, const std::string& text)
{
    sqlite3_bind_text(s, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
}

void bindText(sqlite3_stmt* s, int index, const QByteArray& text)
{
    sqlite3_bind_text(s, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* s, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return text ? std::string(text, std::size_t(sqlite3_column_bytes(s, column))) : std::string();
}

QString columnString(sqlite3_stmt* s, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(s, column)) : QString();
}

} // namespace

MetadataIndex::MetadataIndex(const std::string& path) : path_(path), statements_(statementCount, nullptr)
{
    makeFolder(path);
    keepPrivateFile(path);
    // SQLite makes a missing file (in the private folder); it is made
    // private below, before the log and its index exist.
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
                        nullptr)
        != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw MetadataError("cannot open the file index: " + message);
    }
    try {
        if (!keepPrivateFile(path)) throw MetadataError("cannot make " + path);
        sqlite3_busy_timeout(db_, 5000);
        // Pages freed by merges can go back to the file system (set while
        // the database is new; a no-op after).
        exec("PRAGMA auto_vacuum=INCREMENTAL");
        useWriteAheadLog();
        exec("PRAGMA synchronous=NORMAL");
        // After a checkpoint the log shrinks back to this.
        exec("PRAGMA journal_size_limit=8388608");
        // Making the tables takes the write lock, which the indexer may hold
        // for a while: only a new index needs it.
        if (!matchesSchema()) createSchema();
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

MetadataIndex::~MetadataIndex()
{
    for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
    sqlite3_close(db_);
}

void MetadataIndex::makeFolder(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) makePrivateFolder(path.substr(0, slash));
}

void MetadataIndex::discard(const std::string& path)
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
}

QString foldedForSearch(const QString& text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString out;
    out.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing && c.category() != QChar::Mark_Enclosing) out.append(c);
    return out.toCaseFolded();
}

void MetadataIndex::exec(const char* sql) const
{
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = failure(db_);
        sqlite3_free(error);
        throw MetadataError(message);
    }
}

void MetadataIndex::useWriteAheadLog()
{
    // Turning a new database to the log needs it to itself, and SQLite then
    // answers "busy" at once rather than waiting: two processes opening a new
    // index together try again.
    for (int attempt = 0;; ++attempt) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db_, "PRAGMA journal_mode=WAL", -1, &s, nullptr);
        const int rc = s ? sqlite3_step(s) : SQLITE_ERROR;
        sqlite3_finalize(s);
        if (rc == SQLITE_ROW || rc == SQLITE_DONE) return;
        if (rc != SQLITE_BUSY || attempt >= 500) throw MetadataError(failure(db_));
        ::usleep(10000);
    }
}

void MetadataIndex::createSchema()
{
    // One writer at a time makes the tables, so two processes starting at
    // once do not both try.
    exec("BEGIN IMMEDIATE");
    try {
        exec("CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;"
             "CREATE TABLE IF NOT EXISTS files("
             // Numbers are never reused (AUTOINCREMENT): the words of a
             // file are kept under its number.
             " id INTEGER PRIMARY KEY AUTOINCREMENT, path TEXT NOT NULL UNIQUE, name TEXT NOT NULL, title TEXT,"
             " pages INTEGER, size INTEGER NOT NULL, modified INTEGER NOT NULL, changed INTEGER NOT NULL,"
             " added INTEGER NOT NULL,"
             " device INTEGER NOT NULL, inode INTEGER NOT NULL, state INTEGER NOT NULL, folded TEXT NOT NULL);"
             "CREATE INDEX IF NOT EXISTS files_inode ON files(inode);"
             // The words alone (contentless): each text is kept compressed
             // in `texts`, for the one thing that needs it, taking a file's
             // words out again; apart from `files`, whose rows every name
             // search reads. Two-letter prefixes are indexed, so the first
             // letters typed search as fast as whole words.
             "CREATE TABLE IF NOT EXISTS texts(id INTEGER PRIMARY KEY, packed BLOB NOT NULL);"
             "CREATE VIRTUAL TABLE IF NOT EXISTS contents USING fts5(text, content='',"
             " tokenize='unicode61 remove_diacritics 2', prefix='2');");
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db_, "INSERT OR IGNORE INTO meta(key, value) VALUES('schema', ?)", -1, &s, nullptr);
        sqlite3_bind_int(s, 1, schemaVersion);
        const int rc = sqlite3_step(s);
        sqlite3_finalize(s);
        if (rc != SQLITE_DONE) throw MetadataError(failure(db_));
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

sqlite3_stmt* MetadataIndex::prepared(int which, const char* sql) const
{
    sqlite3_stmt*& s = statements_[std::size_t(which)];
    if (!s && sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK)
        throw MetadataError(failure(db_));
    return s;
}

namespace {

// Runs `change` as one step, in the caller's transaction or alone: all of
// its statements are made or none is.
template <typename F>
void whole(sqlite3* db, F&& change)
{
    if (sqlite3_exec(db, "SAVEPOINT change", nullptr, nullptr, nullptr) != SQLITE_OK) throw MetadataError(failure(db));
    try {
        change();
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK TO change; RELEASE change", nullptr, nullptr, nullptr);
        throw;
    }
    if (sqlite3_exec(db, "RELEASE change", nullptr, nullptr, nullptr) != SQLITE_OK) throw MetadataError(failure(db));
}

void stepDone(sqlite3* db, sqlite3_stmt* s)
{
    const int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) throw MetadataError(failure(db));
}

bool stepRow(sqlite3* db, sqlite3_stmt* s)
{
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) throw MetadataError(failure(db));
    return false;
}

} // namespace

// ---------------------------------------------------------------- reading

void MetadataIndex::query(const MetadataQuery& query, const std::function<void(const MetadataEntry&)>& each) const
{
    // The statement's shape depends only on how many words there are and the
    // mode; every word is a bound parameter.
    std::string sql = "SELECT path, name, title, pages, size, modified, added FROM files WHERE 1";
    if (!query.folder.isEmpty()) sql += " AND path >= ? AND path < ?";
    for (std::size_t i = 0; i < query.words.size(); ++i) {
        sql += " AND (instr(folded, ?) > 0";
        if (query.contents) sql += " OR id IN (SELECT rowid FROM contents WHERE contents MATCH ?)";
        sql += ")";
    }
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &s, nullptr) != SQLITE_OK)
        throw MetadataError(failure(db_));
    struct Finalize {
        sqlite3_stmt* s;
        ~Finalize() { sqlite3_finalize(s); }
    } finalize{s};

    int index = 1;
    if (!query.folder.isEmpty()) {
        const std::string folder = query.folder.toStdString();
        bindText(s, index++, below(folder));
        bindText(s, index++, beyond(folder));
    }
    for (const QString& word : query.words) {
        bindText(s, index++, foldedForSearch(word).toUtf8());
        if (query.contents) bindText(s, index++, prefixString(word));
    }
    MetadataEntry entry;
    while (stepRow(db_, s)) {
        entry.path = columnString(s, 0);
        entry.name = columnString(s, 1);
        entry.title = sqlite3_column_type(s, 2) == SQLITE_NULL ? std::nullopt : std::optional(columnString(s, 2));
        entry.pageCount =
            sqlite3_column_type(s, 3) == SQLITE_NULL ? std::nullopt : std::optional(sqlite3_column_int(s, 3));
        entry.size = sqlite3_column_int64(s, 4);
        entry.modifiedNs = sqlite3_column_int64(s, 5);
        entry.addedSeconds = sqlite3_column_int64(s, 6);
        each(entry);
    }
}

namespace {

// The one number a statement without parameters gives; 0 when it fails.
std::int64_t scalar(sqlite3* db, const char* sql)
{
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    const std::int64_t n = s && sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : 0;
    sqlite3_finalize(s);
    return n;
}

} // namespace

std::int64_t MetadataIndex::count() const { return scalar(db_, "SELECT count(*) FROM files"); }

bool MetadataIndex::isEmpty() const { return scalar(db_, "SELECT EXISTS(SELECT 1 FROM files)") == 0; }

std::int64_t MetadataIndex::dataVersion() const { return scalar(db_, "PRAGMA data_version"); }

namespace {

std::optional<std::int64_t> metaValue(sqlite3* db, const char* key)
{
    sqlite3_stmt* s = nullptr;
    // No table yet (a new index) reads as no value.
    if (sqlite3_prepare_v2(db, "SELECT value FROM meta WHERE key = ?", -1, &s, nullptr) != SQLITE_OK)
        return std::nullopt;
    sqlite3_bind_text(s, 1, key, -1, SQLITE_STATIC);
    std::optional<std::int64_t> value;
    if (sqlite3_step(s) == SQLITE_ROW && sqlite3_column_type(s, 0) == SQLITE_INTEGER)
        value = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    return value;
}

} // namespace

bool MetadataIndex::isComplete() const { return metaValue(db_, "complete").value_or(0) != 0; }

MetadataIndexProblem MetadataIndex::problem() const
{
    const std::int64_t value = metaValue(db_, "problem").value_or(0);
    switch (value) {
    case int(MetadataIndexProblem::noReader): return MetadataIndexProblem::noReader;
    case int(MetadataIndexProblem::readerUnconfined): return MetadataIndexProblem::readerUnconfined;
    case int(MetadataIndexProblem::readerUntrusted): return MetadataIndexProblem::readerUntrusted;
    case int(MetadataIndexProblem::readerUnchecked): return MetadataIndexProblem::readerUnchecked;
    default: return MetadataIndexProblem::none;
    }
}

std::optional<MetadataReadState> MetadataIndex::readState(const std::string& path) const
{
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT state FROM files WHERE path = ?", -1, &s, nullptr) != SQLITE_OK)
        throw MetadataError(failure(db_));
    bindText(s, 1, path);
    std::optional<MetadataReadState> state;
    if (sqlite3_step(s) == SQLITE_ROW) state = MetadataReadState(sqlite3_column_int(s, 0));
    sqlite3_finalize(s);
    return state;
}

bool MetadataIndex::matchesSchema() const { return metaValue(db_, "schema") == schemaVersion; }

// ---------------------------------------------------------------- writing

void MetadataIndex::begin() { exec("BEGIN IMMEDIATE"); }

void MetadataIndex::commit() { exec("COMMIT"); }

std::optional<MetadataStamp> MetadataIndex::stamp(const std::string& path) const
{
    sqlite3_stmt* s =
        prepared(stampOf, "SELECT size, modified, changed, device, inode FROM files WHERE path = ? AND state != 5");
    Reset reset{s};
    bindText(s, 1, path);
    if (!stepRow(db_, s)) return std::nullopt;
    return MetadataStamp{sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1), sqlite3_column_int64(s, 2),
                         std::uint64_t(sqlite3_column_int64(s, 3)), std::uint64_t(sqlite3_column_int64(s, 4))};
}

std::optional<std::string> MetadataIndex::pathOf(const MetadataStamp& stamp) const
{
    sqlite3_stmt* s =
        prepared(pathOfStamp, "SELECT path FROM files WHERE inode = ? AND device = ? AND size = ? AND modified = ?");
    Reset reset{s};
    sqlite3_bind_int64(s, 1, std::int64_t(stamp.inode));
    sqlite3_bind_int64(s, 2, std::int64_t(stamp.device));
    sqlite3_bind_int64(s, 3, stamp.size);
    sqlite3_bind_int64(s, 4, stamp.modifiedNs);
    if (!stepRow(db_, s)) return std::nullopt;
    return columnText(s, 0);
}

std::optional<std::int64_t> MetadataIndex::added(const std::string& path) const
{
    sqlite3_stmt* s = prepared(addedOf, "SELECT added FROM files WHERE path = ?");
    Reset reset{s};
    bindText(s, 1, path);
    if (!stepRow(db_, s)) return std::nullopt;
    return sqlite3_column_int64(s, 0);
}

void MetadataIndex::forgetWords(std::int64_t id)
{
    QByteArray text;
    {
        sqlite3_stmt* s = prepared(textOf, "SELECT packed FROM texts WHERE id = ?");
        Reset reset{s};
        sqlite3_bind_int64(s, 1, id);
        if (!stepRow(db_, s)) return;
        text = unpacked(sqlite3_column_blob(s, 0), sqlite3_column_bytes(s, 0));
    }
    {
        // A contentless index forgets a row's words only when told them again.
        sqlite3_stmt* s = prepared(forgetWordsOf, "INSERT INTO contents(contents, rowid, text) VALUES('delete', ?, ?)");
        Reset reset{s};
        sqlite3_bind_int64(s, 1, id);
        bindText(s, 2, text);
        stepDone(db_, s);
    }
    sqlite3_stmt* s = prepared(dropText, "DELETE FROM texts WHERE id = ?");
    Reset reset{s};
    sqlite3_bind_int64(s, 1, id);
    stepDone(db_, s);
}

std::optional<std::int64_t> MetadataIndex::idOf(const std::string& path) const
{
    sqlite3_stmt* s = prepared(rowOf, "SELECT id FROM files WHERE path = ?");
    Reset reset{s};
    bindText(s, 1, path);
    if (!stepRow(db_, s)) return std::nullopt;
    return sqlite3_column_int64(s, 0);
}

void MetadataIndex::put(const MetadataRecord& r)
{
    whole(db_, [&] { write(r); });
}

void MetadataIndex::write(const MetadataRecord& r)
{
    if (const auto old = idOf(r.path)) forgetWords(*old);
    sqlite3_stmt* s = prepared(upsertFile, "INSERT INTO files(path, name, title, pages, size, modified, changed, added,"
                                           " device, inode, state, folded)"
                                           " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?12, ?7, ?8, ?9, ?10, ?11)"
                                           " ON CONFLICT(path) DO UPDATE SET name = ?2, title = ?3, pages = ?4,"
                                           " size = ?5, modified = ?6, changed = ?12, added = ?7, device = ?8,"
                                           " inode = ?9, state = ?10, folded = ?11 RETURNING id");
    std::int64_t id = 0;
    {
        Reset reset{s};
        const std::string name = nameOf(r.path);
        bindText(s, 1, r.path);
        bindText(s, 2, name);
        if (r.title) bindText(s, 3, *r.title);
        if (r.pageCount) sqlite3_bind_int(s, 4, *r.pageCount);
        sqlite3_bind_int64(s, 5, r.size);
        sqlite3_bind_int64(s, 6, r.modifiedNs);
        sqlite3_bind_int64(s, 7, r.addedSeconds);
        sqlite3_bind_int64(s, 8, std::int64_t(r.device));
        sqlite3_bind_int64(s, 9, std::int64_t(r.inode));
        sqlite3_bind_int(s, 10, int(r.state));
        bindText(s, 11, foldedText(name, r.title));
        sqlite3_bind_int64(s, 12, r.changedNs);
        if (!stepRow(db_, s)) throw MetadataError("file index: a row was not written");
        id = sqlite3_column_int64(s, 0);
        stepDone(db_, s);
    }
    std::size_t bytes = std::min(r.text.size(), maxTextBytes);
    // Cut between characters, not inside one.
    while (bytes > 0 && bytes < r.text.size() && (static_cast<unsigned char>(r.text[bytes]) & 0xC0) == 0x80) --bytes;
    if (bytes == 0) return;
    {
        const QByteArray stored = packed(r.text.data(), bytes);
        sqlite3_stmt* keep = prepared(keepText, "INSERT OR REPLACE INTO texts(id, packed) VALUES(?, ?)");
        Reset reset{keep};
        sqlite3_bind_int64(keep, 1, id);
        sqlite3_bind_blob(keep, 2, stored.constData(), int(stored.size()), SQLITE_STATIC);
        stepDone(db_, keep);
    }
    sqlite3_stmt* add = prepared(insertText, "INSERT INTO contents(rowid, text) VALUES(?, ?)");
    Reset reset{add};
    sqlite3_bind_int64(add, 1, id);
    sqlite3_bind_text(add, 2, r.text.data(), int(bytes), SQLITE_STATIC);
    stepDone(db_, add);
}

void MetadataIndex::move(const std::string& from, const std::string& to, const std::optional<MetadataStamp>& stamp)
{
    whole(db_, [&] {
        remove(to);
        std::optional<std::string> title;
        {
            sqlite3_stmt* s = prepared(titleOf, "SELECT title FROM files WHERE path = ?");
            Reset reset{s};
            bindText(s, 1, from);
            if (!stepRow(db_, s)) return;
            if (sqlite3_column_type(s, 0) != SQLITE_NULL) title = columnText(s, 0);
        }
        sqlite3_stmt* s = prepared(moveFile, "UPDATE files SET path = ?2, name = ?3, folded = ?4,"
                                             " changed = coalesce(?5, changed) WHERE path = ?1");
        Reset reset{s};
        const std::string name = nameOf(to);
        bindText(s, 1, from);
        bindText(s, 2, to);
        bindText(s, 3, name);
        bindText(s, 4, foldedText(name, title));
        if (stamp) sqlite3_bind_int64(s, 5, stamp->changedNs);
        stepDone(db_, s);
    });
}

void MetadataIndex::moveFolder(const std::string& from, const std::string& to)
{
    whole(db_, [&] {
        removeFolder(to);
        sqlite3_stmt* s = prepared(moveFiles, "UPDATE files SET path = ?3 || substr(path, length(?4) + 1)"
                                              " WHERE path >= ?1 AND path < ?2");
        Reset reset{s};
        bindText(s, 1, below(from));
        bindText(s, 2, beyond(from));
        bindText(s, 3, to);
        bindText(s, 4, from);
        stepDone(db_, s);
    });
}

void MetadataIndex::remove(const std::string& path)
{
    whole(db_, [&] {
        const auto id = idOf(path);
        if (!id) return;
        forgetWords(*id);
        sqlite3_stmt* s = prepared(deleteFile, "DELETE FROM files WHERE path = ?");
        Reset reset{s};
        bindText(s, 1, path);
        stepDone(db_, s);
    });
}

void MetadataIndex::removeFolder(const std::string& folder)
{
    whole(db_, [&] {
        {
            sqlite3_stmt* rows = prepared(rowsBelow, "SELECT id FROM files WHERE path >= ?1 AND path < ?2");
            Reset reset{rows};
            bindText(rows, 1, below(folder));
            bindText(rows, 2, beyond(folder));
            while (stepRow(db_, rows)) forgetWords(sqlite3_column_int64(rows, 0));
        }
        sqlite3_stmt* s = prepared(deleteFilesBelow, "DELETE FROM files WHERE path >= ?1 AND path < ?2");
        Reset reset{s};
        bindText(s, 1, below(folder));
        bindText(s, 2, beyond(folder));
        stepDone(db_, s);
    });
}

std::vector<std::string> MetadataIndex::pathsIn(const std::string& folder) const
{
    sqlite3_stmt* s = prepared(pathsBelow, "SELECT path FROM files WHERE path >= ?1 AND path < ?2");
    Reset reset{s};
    bindText(s, 1, below(folder));
    bindText(s, 2, beyond(folder));
    std::vector<std::string> paths;
    while (stepRow(db_, s)) paths.push_back(columnText(s, 0));
    return paths;
}

void MetadataIndex::markComplete() { exec("INSERT OR REPLACE INTO meta(key, value) VALUES('complete', 1)"); }

void MetadataIndex::setProblem(MetadataIndexProblem problem)
{
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES('problem', ?)", -1, &s, nullptr)
        != SQLITE_OK)
        throw MetadataError(failure(db_));
    sqlite3_bind_int(s, 1, int(problem));
    const int rc = sqlite3_step(s);
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) throw MetadataError(failure(db_));
}

void MetadataIndex::compact()
{
    exec("INSERT INTO contents(contents) VALUES('optimize')");
    exec("PRAGMA incremental_vacuum");
}

void MetadataIndex::checkpoint() { exec("PRAGMA wal_checkpoint(TRUNCATE)"); }

} // namespace platform
