#pragma once
// Moving finished files and folders into place without ever replacing
// something that appeared at the destination meanwhile.
#include <QString>

#include <optional>

namespace platform::FileMoves {

// Renames `from` to `to` unless something exists at `to` (renameat2 with
// RENAME_NOREPLACE). Across file systems the entry is copied beside `to`,
// renamed the same way and the original removed. Returns 0 or an errno value:
// EEXIST when `to` is taken.
int moveNoReplace(const QString& from, const QString& to);

// Renames `from` to `to`, replacing a file there in one step. Returns 0 or an
// errno value.
int moveReplacing(const QString& from, const QString& to);

// Moves a damaged file ("defaults.json") aside in its folder under the first
// free name of "defaults.corrupt.json", "defaults.corrupt-2.json", … up to
// 100, so that a copy kept earlier is never written over. Returns the name
// taken; none when the file could not be moved (it then stays where it was).
std::optional<QString> moveAside(const QString& path);

} // namespace platform::FileMoves
