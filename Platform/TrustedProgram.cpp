#include "Platform/TrustedProgram.h"

#include "Platform/PathNames.h"

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

bool ownedByUserOrRoot(const struct stat& st) { return st.st_uid == ::geteuid() || st.st_uid == 0; }

// Write permission for the group covers any other user an access list names.
bool othersMayWrite(const struct stat& st) { return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0; }

// A folder on the program's way, held open while the check lasts.
struct Folder {
    FileDescriptor fd;
    struct stat st;
    std::string path;
};

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

} // namespace

ProgramCheck checkProgram(const std::string& program)
{
    ProgramCheck check;
    if (program.empty()) return check;
    const auto stop = [&check](ProgramCheck::Verdict verdict, std::string path) {
        check.verdict = verdict;
        check.path = std::move(path);
        return std::move(check);
    };
    std::string whole = program;
    if (program.front() != '/') {
        char* here = ::getcwd(nullptr, 0);
        if (!here) return stop(ProgramCheck::Verdict::undecided, program);
        whole = std::string(here) + '/' + program;
        std::free(here);
    }
    // The folders from the root to the one the next name is in.
    std::deque<Folder> way;
    way.push_back({FileDescriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)), {}, "/"});
    if (way.back().fd.fd < 0 || ::fstat(way.back().fd.fd, &way.back().st) != 0)
        return stop(ProgramCheck::Verdict::undecided, "/");
    std::deque<std::string> rest = pathNames(whole);
    constexpr int maxLinks = 40; // the kernel's own limit
    int links = 0;
    while (!rest.empty()) {
        const std::string name = std::move(rest.front());
        rest.pop_front();
        if (name == ".") continue;
        if (name == "..") {
            if (way.size() > 1) way.pop_back();
            continue;
        }
        const Folder& folder = way.back();
        std::string path = folder.path == "/" ? "/" + name : folder.path + '/' + name;
        FileDescriptor entry(::openat(folder.fd.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (entry.fd < 0) {
            // Nothing there runs nothing; anything else (a folder it may not
            // search, a name too long) leaves the question open.
            return stop(errno == ENOENT ? ProgramCheck::Verdict::missing : ProgramCheck::Verdict::undecided, path);
        }
        struct stat st {};
        if (::fstat(entry.fd, &st) != 0) return stop(ProgramCheck::Verdict::undecided, path);
        if (S_ISLNK(st.st_mode)) {
            const std::optional<std::string> target = linkTarget(entry.fd);
            if (++links > maxLinks || !target) return stop(ProgramCheck::Verdict::undecided, path);
            if (target->empty()) return stop(ProgramCheck::Verdict::missing, path);
            const std::deque<std::string> names = pathNames(*target);
            rest.insert(rest.begin(), names.begin(), names.end());
            if (target->front() == '/') way.resize(1);
            continue;
        }
        if (!rest.empty()) {
            if (!S_ISDIR(st.st_mode)) return stop(ProgramCheck::Verdict::missing, path);
            way.push_back({std::move(entry), st, std::move(path)});
            continue;
        }
        // The program itself, then each folder from its own up to the root.
        if (!S_ISREG(st.st_mode) || !ownedByUserOrRoot(st) || othersMayWrite(st))
            return stop(ProgramCheck::Verdict::untrusted, path);
        bool own = true;
        for (auto step = way.rbegin(); step != way.rend(); ++step) {
            if (!ownedByUserOrRoot(step->st) || (othersMayWrite(step->st) && (own || !(step->st.st_mode & S_ISVTX))))
                return stop(ProgramCheck::Verdict::untrusted, step->path);
            own = false;
        }
        check.program = std::move(entry);
        return stop(ProgramCheck::Verdict::trusted, path);
    }
    // The path ends in a folder.
    return stop(ProgramCheck::Verdict::untrusted, way.back().path);
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
    // Nothing else of ours (documents, sockets) goes along; the program's
    // own opening closes as it starts.
    ::close_range(3, unsigned(program) - 1, 0);
    ::close_range(unsigned(program) + 1, ~0u, 0);
    ::syscall(SYS_execveat, program, "", argv.data(), environ, AT_EMPTY_PATH);
    // A script's interpreter opens the script by the descriptor, which must
    // then stay open.
    if (errno == ENOENT && ::fcntl(program, F_SETFD, 0) == 0)
        ::syscall(SYS_execveat, program, "", argv.data(), environ, AT_EMPTY_PATH);
    ::_exit(127);
}

} // namespace platform
