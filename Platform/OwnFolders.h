#pragma once
// The folders ravlen keeps its own files in: the base folders (the user's
// cache, data, state and configuration folders), ravlen's folders in them,
// and the private work folder. Each is reached through the one walk
// (PathWalk.h) under one rule, the runtime folder's: no folder on the way
// that another user can change, but for a sticky one (as /tmp), where nobody
// may rename or remove what is not theirs, holding a folder of the user's;
// links followed only as mayFollowLink allows. A folder that fails is not
// written into.
#include "Platform/FileDescriptor.h"
#include "Platform/PathWalk.h"

#include <optional>
#include <string>

#include <sys/stat.h>

namespace platform {

// A folder of ravlen's own, held open (O_PATH) as the walk found it, or why it cannot be.
struct OwnFolder {
    FileDescriptor folder;
    std::string path;    // links followed
    std::string problem; // empty when held
    bool held() const { return folder.fd >= 0; }
};

// Walks to `folder` under the rule, making what is missing (the folders
// above with the usual mode, `folder` 0700), and holds it: the user's own
// and closed to others (tightened to 0700 when an earlier version left a
// folder of the user's open).
OwnFolder holdOwnFolder(const std::string& folder);

// Walks to `path` (a file in such a folder) under the rule; makes nothing.
WalkedPath walkOwnPath(const std::string& path);

// Why the base folder `base` may not hold ravlen's files, or none: the
// folders above as the rule says, and the base itself the user's (or
// root's) and written by nobody else, not even sticky (anyone could take
// the names of ravlen's folders in it first). Made (0700) when missing,
// unless not `make`: then a missing one is no problem (the folder above is
// one nobody else can change, so nobody else can make it).
std::optional<std::string> baseFolderProblem(const std::string& base, bool make = true);

// Why `folder` may not hold private temporary files and folders (walked
// under the rule, itself included, making nothing), or none.
std::optional<std::string> temporaryFolderProblem(const std::string& folder);
// Where they are made: $TMPDIR when it is absolute and has no problem, else
// /tmp when that has none; empty when neither may be used.
std::string temporaryFolder();

} // namespace platform
