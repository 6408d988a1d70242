#include "Platform/TrustedProgram.h"

#include "Platform/PathWalk.h"
#include "Platform/UserAccount.h"

#include <cerrno>
#include <optional>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

bool ownedByUserOrRoot(const struct stat& st) { return st.st_uid == ::geteuid() || st.st_uid == 0; }

// Whether the file or folder held at `fd` has an access list: then its
// group's write permission is the most the list grants any user or group it
// names. None when that cannot be told.
std::optional<bool> hasAccessList(int fd)
{
    // Through the descriptor's own name in /proc: an O_PATH one takes no fgetxattr.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::getxattr(self.c_str(), "system.posix_acl_access", nullptr, 0) >= 0) return true;
    if (errno == ENODATA || errno == ENOTSUP) return false;
    return std::nullopt;
}

// The walk to `path`, every folder on it judged as a folder above the
// program's own, and what stopped it as a verdict.
WalkedPath walkToProgram(const std::string& path, ProgramCheck& check)
{
    WalkRules rules;
    rules.folder = [](const struct stat& folder, int fd) { return keepsOthersOut(folder, fd, true); };
    WalkedPath walked = walkPath(path, rules);
    switch (walked.end) {
    case WalkedPath::End::reached: break;
    case WalkedPath::End::missing:
    case WalkedPath::End::notFolder: check.verdict = ProgramCheck::Verdict::missing; break;
    case WalkedPath::End::link:
    case WalkedPath::End::refused: check.verdict = ProgramCheck::Verdict::untrusted; break;
    case WalkedPath::End::failed:
        // Nothing there runs nothing; anything else (a folder it may not
        // search, links that go round) leaves the question open.
        check.verdict = walked.error == ENOENT ? ProgramCheck::Verdict::missing : ProgramCheck::Verdict::undecided;
        break;
    }
    check.path = walked.stoppedAt;
    return walked;
}

// Both checks past the walk: what the path names, judged by `itself`, and
// the folder that holds it, which may not even be sticky (another user
// could put there a hard link to some other program of this user's, or take
// a folder's name while it is moved).
ProgramCheck checkWalkedEnd(const std::string& path, bool (*itself)(const struct stat&, int fd))
{
    ProgramCheck check;
    if (path.empty()) return check;
    WalkedPath walked = walkToProgram(path, check);
    if (walked.end != WalkedPath::End::reached) return check;
    check.path = walked.path();
    if (!walked.exists()) {
        // A path that names a folder (the root, or one ending in "..") is
        // no program and no folder of one's own; nothing there runs nothing.
        check.verdict = walked.name.empty() ? ProgramCheck::Verdict::untrusted : ProgramCheck::Verdict::missing;
        return check;
    }
    check.verdict = ProgramCheck::Verdict::untrusted;
    if (!itself(walked.entryStat, walked.entry.fd)) return check;
    if (!keepsOthersOut(walked.folderStat, walked.folder.fd, false)) {
        check.path = walked.folderPath;
        return check;
    }
    check.verdict = ProgramCheck::Verdict::trusted;
    check.program = std::move(walked.entry);
    return check;
}

} // namespace

bool othersMayWrite(const struct stat& st, int fd)
{
    if (st.st_mode & S_IWOTH) return true;
    if (!(st.st_mode & S_IWGRP)) return false;
    // Written by its group: by nobody else when that is the user's private
    // group and no access list names anyone.
    return fd < 0 || hasAccessList(fd) != false || !groupHoldsUserAlone(st.st_gid, ::geteuid());
}

bool keepsOthersOut(const struct stat& folder, int fd, bool stickyIsEnough)
{
    return ownedByUserOrRoot(folder)
           && (!othersMayWrite(folder, fd) || (stickyIsEnough && (folder.st_mode & S_ISVTX) != 0));
}

ProgramCheck checkProgram(const std::string& program)
{
    return checkWalkedEnd(program, [](const struct stat& st, int fd) {
        return S_ISREG(st.st_mode) && ownedByUserOrRoot(st) && !othersMayWrite(st, fd);
    });
}

ProgramCheck checkProgramFolder(const std::string& folder)
{
    return checkWalkedEnd(
        folder, [](const struct stat& st, int fd) { return S_ISDIR(st.st_mode) && keepsOthersOut(st, fd, false); });
}

pid_t startCheckedProgram(const ProgramCheck& check, const std::vector<std::string>& arguments, int io)
{
    if (check.verdict != ProgramCheck::Verdict::trusted || check.program.fd < 0 || arguments.empty()) {
        errno = EPERM;
        return -1;
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    // The child of a process with threads: only calls that are safe there.
    // Everything moves above the standard three first, so that none of the
    // moves below overwrites another.
    const int program = ::fcntl(check.program.fd, F_DUPFD_CLOEXEC, 3);
    const int wire = ::fcntl(io, F_DUPFD_CLOEXEC, 3);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const int errors = nowhere < 0 ? -1 : ::fcntl(nowhere, F_DUPFD_CLOEXEC, 3);
    if (program < 0 || wire < 0 || errors < 0 || ::dup2(wire, 0) < 0 || ::dup2(wire, 1) < 0 || ::dup2(errors, 2) < 0)
        ::_exit(127);
    // Nothing else of ours (documents, sockets) goes along, whether or not
    // it was opened close-on-exec; the program's own opening closes as it
    // starts. Without close_range, each possible descriptor is closed.
    if (::close_range(3, unsigned(program) - 1, 0) != 0 || ::close_range(unsigned(program) + 1, ~0u, 0) != 0) {
        rlimit limit{};
        const long most = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? long(limit.rlim_cur) : 65536;
        for (long fd = 3; fd < most; ++fd)
            if (fd != program) ::close(int(fd));
    }
    ::syscall(SYS_execveat, program, "", argv.data(), environ, AT_EMPTY_PATH);
    // A script's interpreter opens the script by the descriptor, which must
    // then stay open.
    if (errno == ENOENT && ::fcntl(program, F_SETFD, 0) == 0)
        ::syscall(SYS_execveat, program, "", argv.data(), environ, AT_EMPTY_PATH);
    ::_exit(127);
}

} // namespace platform
