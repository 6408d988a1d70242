#pragma once
// Where a history entry's file is now. Linux has no bookmark data that
// follows a moved file, so an entry is found by its path: a file at the path
// is present, anything else (gone, a folder, in a trash) is missing. The
// user can point a missing entry at its file again (HistoryStore::relocate).
#include "QuarnKit/History/HistoryEntry.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace quarnkit {

struct HistoryResolution {
    enum class Kind { present, missing };
    Kind kind = Kind::missing;
    QString path; // the file's path when present

    static HistoryResolution present(QString path) { return {Kind::present, std::move(path)}; }
    static HistoryResolution missing() { return {}; }
    friend bool operator==(const HistoryResolution&, const HistoryResolution&) = default;
};

namespace HistoryLocator {

using Exists = std::function<bool(const QString& path)>;

// Asks `exists` about the entry's path; never changes anything.
HistoryResolution resolve(const HistoryEntry& entry, const Exists& exists);

// Whether the path lies in a trash: the home trash folder (given, or
// $XDG_DATA_HOME/Trash), a ".Trash" or ".Trash-UID" folder at the top of
// another mount, or a folder that a Mac-formatted disk keeps for its trash
// and old versions (".Trashes", ".DocumentRevisions…"). Looks at the string only.
bool isTrashed(const QString& path);
bool isTrashed(const QString& path, const QString& homeTrash);
QString homeTrashFolder();

// Something that is not a folder exists at the path.
bool defaultExists(const QString& path);

} // namespace HistoryLocator

// The identity of a file on disk, so that two paths (one through a symbolic
// link, say) can be told to name the same file.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    // None when nothing is at the path (links are followed).
    static std::optional<FileIdentity> of(const QString& path);
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// Both paths name one file: the same device and inode, or, when either
// cannot be looked at, the same standardized path.
bool sameFile(const QString& a, const QString& b);

} // namespace quarnkit
