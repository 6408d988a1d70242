#pragma once
// The one walk of a path that ravlen writes to, makes private folders in, or
// runs a helper program from. It opens the path one name at a time from the
// root (openat with O_PATH | O_NOFOLLOW), reads each link and follows it by
// hand (at most maxPathLinks), so that a path of any length is walked and
// what is judged is what the walk holds. Each folder it opens is judged as it
// meets it, the folders that hold a link included, and a link another user
// made is never followed. It hands back the last folder, held open: the
// caller checks, creates, writes and renames relative to it (fstatat, openat,
// renameat) and never resolves the name again, so nothing swapped in after
// the walk is reached.
#include "Platform/FileDescriptor.h"

#include <functional>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>

namespace platform {

// The kernel's own limit of links on one path.
constexpr int maxPathLinks = 40;

// Whether the link `link` (as lstat sees it) in `folder` may be followed:
// one that no other user could have put under that name. That is a link of
// the user's or root's in a folder that only the user and root may write
// (keepsOthersOut). Anywhere else another user may have put the user's own
// link there: in a team folder or another user's folder they may move it or
// give it a second name, into a sticky folder anyone may move an entry from
// a folder where they may rename it, and a sticky folder's owner may rename
// any entry in it. It counts as theirs. `user` is this process's (whose
// folders keepsOthersOut judges); `folderFd` holds the folder (-1: not held,
// and a folder its group may write is others').
bool mayFollowLink(uid_t user, const struct stat& link, const struct stat& folder, int folderFd = -1);
// Whether a link mayFollowLink refuses may still be followed for a write the
// user is asked about, the question naming the link and where it leads: the
// user's own, with no other name, in a sticky folder of root's or the user's,
// where nobody else may move it away or change it.
bool mayFollowNamedLink(uid_t user, const struct stat& link, const struct stat& folder);

struct WalkRules {
    // Asked about each folder the walk opens (held at `fd`), before it looks
    // inside: false stops the walk there. None: every folder passes.
    std::function<bool(const struct stat& folder, int fd)> folder;
    // Which links are followed: those mayFollowLink allows, only root's of
    // those, or none; any other stops the walk.
    enum class Links { allowed, rootsOnly, none };
    Links links = Links::allowed;
    // Missing folders on the way are made with this mode (the umask applies); 0: none is made.
    mode_t makeFolders = 0;
    // The last name's link, where mayFollowNamedLink allows it, is followed
    // and handed back (WalkedPath::namedLink) for a question to name.
    bool namedLastLink = false;
};

struct WalkedPath {
    enum class End {
        reached,   // `folder` holds `name`, which may not exist yet
        missing,   // a folder on the way is not there
        notFolder, // a name on the way is not a folder
        link,      // a link the rules do not follow: another user's, or any when none are followed
        refused,   // a folder the rules refused
        failed,    // `error` says why: ELOOP for more than maxPathLinks links, EACCES for a
                   // folder that may not be searched, …
    };
    End end = End::failed;
    int error = 0;
    // Where the walk stopped, when it did not reach the end: the path of the
    // folder, link or name, the links before it followed.
    std::string stoppedAt;
    // Refused: the folder, as the walk found it; link: the link (lstat).
    struct stat stoppedStat {};

    // Reached: the last folder, held (O_PATH), as the walk found it.
    FileDescriptor folder;
    struct stat folderStat {};
    std::string folderPath; // absolute, links followed
    // The last name in `folder`, links followed; empty when the path names
    // `folder` itself (the root, or a path that ends in "." or "..").
    std::string name;
    // What `name` was when the walk met it: held (O_PATH | O_NOFOLLOW), never
    // a link; -1 when there is nothing there yet.
    FileDescriptor entry;
    struct stat entryStat {};

    // The link at the last name that rules.namedLastLink let the walk
    // follow, and the folder it is in; none when no such link was met.
    struct NamedLink {
        struct stat folder {};
        struct stat link {};
        std::string path;   // the link's own path
        std::string target; // as it reads
    };
    std::optional<NamedLink> namedLink;
    // The last name of the path was a link, followed.
    bool lastNameLinked = false;

    // folderPath and name, joined.
    std::string path() const;
    bool exists() const { return entry.fd >= 0; }
};

// Walks `path` (a relative one from the current folder) under `rules`.
WalkedPath walkPath(const std::string& path, const WalkRules& rules = {});

} // namespace platform
