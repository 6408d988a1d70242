#pragma once
// Moving a damaged file aside and removing a folder tree, each through the
// folder that holds it, held open, so that a link swapped in on the way
// leads nowhere.
#include <QString>

#include <optional>
#include <string>

namespace platform::FileMoves {

// Moves a damaged file ("defaults.json") aside in its folder under the first
// free name of "defaults.corrupt.json", "defaults.corrupt-2.json", … up to
// 100, so that a copy kept earlier is never written over (renameat2 with
// RENAME_NOREPLACE in the folder the walk to it holds). Returns the name
// taken; none when the file could not be moved (it then stays where it was).
// `keptFor`: the name whose copies these are, when `path` is a copy written
// aside for the purpose (the part of "history.json" that could not be read).
std::optional<QString> moveAside(const QString& path, const QString& keptFor = {});

// Removes `name` in the folder open at `folder`, and when it is a folder
// everything in it, depth first, never following a link. Errors are ignored.
void removeTreeAt(int folder, const std::string& name);

} // namespace platform::FileMoves
