#include "Platform/PathWalk.h"

#include "Platform/TrustedProgram.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// The names of `path` between its slashes; empty names (//, a last /) left out.
std::deque<std::string> pathNames(const std::string& path)
{
    std::deque<std::string> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start) names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

// The target of the link open (O_PATH) at `fd`.
std::optional<std::string> linkTarget(int fd)
{
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = ::readlinkat(fd, "", target.data(), target.size());
        if (n < 0) return std::nullopt;
        if (std::size_t(n) < target.size()) return target.substr(0, std::size_t(n));
        target.resize(target.size() * 2);
    }
}

std::string joined(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + '/' + name;
}

// A folder on the way, held while the walk lasts.
struct Step {
    FileDescriptor fd;
    struct stat st;
    std::string path;
};

} // namespace

bool mayFollowLink(uid_t user, const struct stat& link, const struct stat& folder, int folderFd)
{
    if (link.st_uid != user && link.st_uid != 0) return false;
    // Only the user or root makes or moves a name in such a folder.
    return keepsOthersOut(folder, folderFd, false);
}

bool mayFollowNamedLink(uid_t user, const struct stat& link, const struct stat& folder)
{
    // There, nobody else may move the user's name away or change it: what
    // they may have moved in, the question shows.
    return (folder.st_mode & S_ISVTX) != 0 && (folder.st_uid == 0 || folder.st_uid == user) && link.st_uid == user
           && link.st_nlink <= 1;
}

namespace {

bool linkFollowed(WalkRules::Links links, uid_t user, const struct stat& link, const struct stat& folder, int folderFd)
{
    switch (links) {
    case WalkRules::Links::allowed: return mayFollowLink(user, link, folder, folderFd);
    case WalkRules::Links::rootsOnly: return link.st_uid == 0 && mayFollowLink(user, link, folder, folderFd);
    case WalkRules::Links::none: return false;
    }
    return false;
}

} // namespace

std::string WalkedPath::path() const { return name.empty() ? folderPath : joined(folderPath, name); }

WalkedPath walkPath(const std::string& path, const WalkRules& rules)
{
    WalkedPath walked;
    const auto stop = [&walked](WalkedPath::End end, std::string where, int error = 0) {
        walked.end = end;
        walked.stoppedAt = std::move(where);
        walked.error = error;
        return std::move(walked);
    };
    if (path.empty()) return stop(WalkedPath::End::failed, path, ENOENT);
    std::string whole = path;
    if (path.front() != '/') {
        char* here = ::getcwd(nullptr, 0);
        if (!here) return stop(WalkedPath::End::failed, path, errno);
        whole = std::string(here) + '/' + path;
        std::free(here);
    }
    // The folders from the root to the one the next name is in.
    std::vector<Step> way;
    const auto enter = [&](FileDescriptor fd, const struct stat& st, std::string at) {
        if (rules.folder && !rules.folder(st, fd.fd)) return false;
        way.push_back({std::move(fd), st, std::move(at)});
        return true;
    };
    {
        FileDescriptor root(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat st {};
        if (root.fd < 0 || ::fstat(root.fd, &st) != 0) return stop(WalkedPath::End::failed, "/", errno);
        if (!enter(std::move(root), st, "/")) {
            walked.stoppedStat = st;
            return stop(WalkedPath::End::refused, "/");
        }
    }
    const auto reach = [&](std::string name, FileDescriptor entry, const struct stat& st) {
        Step& last = way.back();
        walked.end = WalkedPath::End::reached;
        walked.folder = std::move(last.fd);
        walked.folderStat = last.st;
        walked.folderPath = std::move(last.path);
        walked.name = std::move(name);
        walked.entry = std::move(entry);
        walked.entryStat = st;
        return std::move(walked);
    };

    std::deque<std::string> rest = pathNames(whole);
    const uid_t user = ::geteuid();
    int links = 0;
    while (!rest.empty()) {
        std::string name = std::move(rest.front());
        rest.pop_front();
        if (name == ".") continue;
        if (name == "..") {
            if (way.size() > 1) way.pop_back();
            continue;
        }
        const Step& at = way.back();
        const std::string here = joined(at.path, name);
        FileDescriptor entry(::openat(at.fd.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (entry.fd < 0 && errno == ENOENT && !rest.empty() && rules.makeFolders) {
            if (::mkdirat(at.fd.fd, name.c_str(), rules.makeFolders) != 0 && errno != EEXIST)
                return stop(WalkedPath::End::failed, here, errno);
            entry = FileDescriptor(::openat(at.fd.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        }
        if (entry.fd < 0) {
            const int error = errno;
            if (error != ENOENT) return stop(WalkedPath::End::failed, here, error);
            // The last name may name nothing yet; a folder on the way may not.
            if (rest.empty()) return reach(std::move(name), FileDescriptor(), {});
            return stop(WalkedPath::End::missing, here, ENOENT);
        }
        struct stat st {};
        if (::fstat(entry.fd, &st) != 0) return stop(WalkedPath::End::failed, here, errno);
        if (S_ISLNK(st.st_mode)) {
            const bool named = rules.namedLastLink && rest.empty() && !walked.namedLink
                               && rules.links == WalkRules::Links::allowed && !mayFollowLink(user, st, at.st, at.fd.fd)
                               && mayFollowNamedLink(user, st, at.st);
            if (!named && !linkFollowed(rules.links, user, st, at.st, at.fd.fd)) {
                walked.stoppedStat = st;
                return stop(WalkedPath::End::link, here);
            }
            if (++links > maxPathLinks) return stop(WalkedPath::End::failed, here, ELOOP);
            const std::optional<std::string> target = linkTarget(entry.fd);
            if (!target) return stop(WalkedPath::End::failed, here, errno);
            if (target->empty()) return stop(WalkedPath::End::failed, here, ENOENT);
            if (named) walked.namedLink = WalkedPath::NamedLink{at.st, st, here, *target};
            if (rest.empty()) walked.lastNameLinked = true;
            const std::deque<std::string> names = pathNames(*target);
            rest.insert(rest.begin(), names.begin(), names.end());
            if (target->front() == '/') way.resize(1);
            continue;
        }
        if (rest.empty()) return reach(std::move(name), std::move(entry), st);
        if (!S_ISDIR(st.st_mode)) return stop(WalkedPath::End::notFolder, here, ENOTDIR);
        if (!enter(std::move(entry), st, here)) {
            walked.stoppedStat = st;
            return stop(WalkedPath::End::refused, here);
        }
    }
    // The path names a folder: the root, or one it ended in "." or ".." at.
    return reach({}, FileDescriptor(), {});
}

} // namespace platform
