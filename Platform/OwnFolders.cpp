#include "Platform/OwnFolders.h"

#include "Platform/TrustedProgram.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// Each folder on the way kept from others but for a sticky one; missing
// ones made with the usual mode (the umask applies): none but the last is
// ravlen's own.
WalkRules ownFolderRules()
{
    WalkRules rules;
    rules.folder = [](const struct stat& folder, int fd) { return keepsOthersOut(folder, fd, true); };
    rules.makeFolders = 0777;
    return rules;
}

std::string ownerProblem(const struct stat& st, const std::string& at)
{
    if (st.st_uid != ::geteuid() && st.st_uid != 0) return at + " belongs to another user";
    return "others may write to " + at;
}

// Why a walk that did not reach its end stopped.
std::string walkProblem(const WalkedPath& walked)
{
    const std::string& at = walked.stoppedAt;
    switch (walked.end) {
    case WalkedPath::End::reached: break;
    case WalkedPath::End::refused: return ownerProblem(walked.stoppedStat, at);
    case WalkedPath::End::link: return at + " is a link another user could have made";
    case WalkedPath::End::notFolder: return at + " is not a folder";
    case WalkedPath::End::missing:
    case WalkedPath::End::failed:
        return "cannot open or create " + at + (walked.error ? std::string(": ") + std::strerror(walked.error) : "");
    }
    return {};
}

// The last name of a walk that reached it, held as a folder: the one the walk
// met there, else one made now (0700). -1 with `problem` set when it is none.
FileDescriptor holdLast(WalkedPath& walked, struct stat* st, std::string* problem)
{
    if (walked.name.empty()) {
        *st = walked.folderStat;
        return std::move(walked.folder);
    }
    const std::string path = walked.path();
    FileDescriptor held = std::move(walked.entry);
    if (held.fd < 0) {
        // Someone who made it first is told apart below, by its owner.
        if (::mkdirat(walked.folder.fd, walked.name.c_str(), 0700) != 0 && errno != EEXIST) {
            *problem = "cannot create " + path + ": " + std::strerror(errno);
            return FileDescriptor();
        }
        held = FileDescriptor(::openat(walked.folder.fd, walked.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    }
    if (held.fd < 0 || ::fstat(held.fd, st) != 0) {
        *problem = "cannot open " + path + ": " + std::strerror(errno);
        return FileDescriptor();
    }
    if (!S_ISDIR(st->st_mode)) {
        *problem = path + " is a link or not a folder";
        return FileDescriptor();
    }
    return held;
}

} // namespace

WalkedPath walkOwnPath(const std::string& path)
{
    WalkRules rules = ownFolderRules();
    rules.makeFolders = 0;
    return walkPath(path, rules);
}

OwnFolder holdOwnFolder(const std::string& folder)
{
    OwnFolder own;
    WalkedPath walked = walkPath(folder, ownFolderRules());
    if (walked.end != WalkedPath::End::reached) {
        own.problem = walkProblem(walked);
        return own;
    }
    own.path = walked.path();
    struct stat st {};
    FileDescriptor held = holdLast(walked, &st, &own.problem);
    if (held.fd < 0) return own;
    if (st.st_uid != ::geteuid()) {
        own.problem = own.path + " belongs to another user";
        return own;
    }
    if (st.st_mode & 077) {
        // Through the held folder itself, not its name.
        const std::string self = "/proc/self/fd/" + std::to_string(held.fd);
        if (::chmod(self.c_str(), 0700) != 0 || ::fstat(held.fd, &st) != 0 || (st.st_mode & 077)) {
            own.problem = own.path + " is open to other users";
            return own;
        }
    }
    own.folder = std::move(held);
    return own;
}

std::optional<std::string> baseFolderProblem(const std::string& base, bool make)
{
    WalkRules rules = ownFolderRules();
    if (!make) rules.makeFolders = 0;
    WalkedPath walked = walkPath(base, rules);
    if (walked.end != WalkedPath::End::reached) return walkProblem(walked);
    if (!make && !walked.name.empty() && !walked.exists()) return std::nullopt;
    const std::string path = walked.path();
    struct stat st {};
    std::string problem;
    const FileDescriptor held = holdLast(walked, &st, &problem);
    if (held.fd < 0) return problem;
    if (!keepsOthersOut(st, held.fd, false)) return ownerProblem(st, path);
    return std::nullopt;
}

std::optional<std::string> temporaryFolderProblem(const std::string& folder)
{
    const WalkedPath walked = walkOwnPath(folder + "/.");
    if (walked.end != WalkedPath::End::reached) return walkProblem(walked);
    return std::nullopt;
}

std::string temporaryFolder()
{
    const char* given = std::getenv("TMPDIR");
    for (const std::string& folder : {std::string(given && *given == '/' ? given : ""), std::string("/tmp")})
        if (!folder.empty() && !temporaryFolderProblem(folder)) return folder;
    return {};
}

} // namespace platform
