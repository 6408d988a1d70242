#pragma once
// Moving a damaged file aside and removing a folder tree, each through the
// folder that holds it, held open, so that a link swapped in on the way
// leads nowhere.
#include <QString>

#include <optional>
#include <string>
#include <vector>

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
// everything in it, depth first, never following a link; only in a folder
// that keeps others out (keepsOthersOut), where no other user may have put
// something else at that name, a folder of the user's renamed there say.
// False when something stays. Errors are ignored.
bool removeTreeAt(int folder, const std::string& name);
// The names in the folder open at `folder` ("." and ".." aside); none where
// it cannot be listed.
std::optional<std::vector<std::string>> entriesAt(int folder);
// Removes everything in the folder open at `folder` (removeTreeAt), then
// the folder itself, by `name` in `parent`, only while that name still
// leads to it: in a folder another user may change, they may have renamed
// it away and put another folder at its name. False when something stays.
bool removeFolder(int parent, const std::string& name, int folder);

} // namespace platform::FileMoves
