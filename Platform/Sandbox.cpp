#include "Platform/Sandbox.h"

#include <seccomp.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

// Landlock's access rights by the kernel's ABI version: the first thirteen
// came with version 1, linking and renaming across folders with 2,
// truncating with 3, device ioctls with 5. The headers of the build may be
// older than the kernel.
std::uint64_t landlockFileAccess(long abi)
{
    std::uint64_t access = (1ull << 13) - 1;
    if (abi >= 2) access |= 1ull << 13;
    if (abi >= 3) access |= 1ull << 14;
    if (abi >= 5) access |= 1ull << 15;
    return access;
}

// No file may be opened, made or changed by path; descriptors already open
// stay usable. False when the kernel does not offer Landlock.
bool restrictPaths()
{
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1) return false;
    struct {
        std::uint64_t handledAccessFs;
    } ruleset{landlockFileAccess(abi)};
    const long fd = ::syscall(SYS_landlock_create_ruleset, &ruleset, sizeof ruleset, 0);
    if (fd < 0) return false;
    const bool restricted = ::syscall(SYS_landlock_restrict_self, int(fd), 0) == 0;
    ::close(int(fd));
    return restricted;
}

struct FilterOwner {
    scmp_filter_ctx ctx;
    ~FilterOwner() { seccomp_release(ctx); }
};

// What reading a PDF from a descriptor and answering on a socket needs.
// Unlisted calls kill the process.
std::string installFilter()
{
    FilterOwner filter{seccomp_init(SCMP_ACT_KILL_PROCESS)};
    if (!filter.ctx) return "cannot make a system-call filter";
    // Every thread, at once; a filter only applies with no new privileges.
    seccomp_attr_set(filter.ctx, SCMP_FLTATR_CTL_TSYNC, 1);
    seccomp_attr_set(filter.ctx, SCMP_FLTATR_CTL_NNP, 1);
    const int plain[] = {
        // Reading what it holds, answering, and closing.
        SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(preadv), SCMP_SYS(recvfrom), SCMP_SYS(recvmsg),
        SCMP_SYS(write), SCMP_SYS(writev), SCMP_SYS(sendto), SCMP_SYS(sendmsg), SCMP_SYS(lseek), SCMP_SYS(close),
        SCMP_SYS(fstat), SCMP_SYS(newfstatat), SCMP_SYS(statx), SCMP_SYS(fcntl),
        // Memory (executable memory is refused below).
        SCMP_SYS(brk), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(madvise),
        // Locks, time, randomness, itself, its end.
        SCMP_SYS(futex), SCMP_SYS(sched_yield), SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres), SCMP_SYS(gettimeofday),
        SCMP_SYS(getrandom), SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(sysinfo), SCMP_SYS(rt_sigreturn),
        SCMP_SYS(rt_sigprocmask), SCMP_SYS(restart_syscall), SCMP_SYS(exit), SCMP_SYS(exit_group)};
    for (const int call : plain) {
        // A negative number is a call this processor does not have.
        if (call >= 0 && seccomp_rule_add(filter.ctx, SCMP_ACT_ALLOW, call, 0) != 0)
            return "cannot allow system call " + std::to_string(call);
    }
    // Memory that is never executable.
    for (const int call : {SCMP_SYS(mmap), SCMP_SYS(mprotect)}) {
        if (seccomp_rule_add(filter.ctx, SCMP_ACT_ALLOW, call, 1, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) != 0)
            return "cannot allow memory mappings";
    }
    // Files opened for reading only (with Landlock, none by path at all).
    constexpr scmp_datum_t writing = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_TMPFILE;
    if (seccomp_rule_add(filter.ctx, SCMP_ACT_ALLOW, SCMP_SYS(openat), 1, SCMP_A2(SCMP_CMP_MASKED_EQ, writing, 0)) != 0)
        return "cannot allow opening files";
    if (SCMP_SYS(open) >= 0
        && seccomp_rule_add(filter.ctx, SCMP_ACT_ALLOW, SCMP_SYS(open), 1, SCMP_A1(SCMP_CMP_MASKED_EQ, writing, 0))
               != 0)
        return "cannot allow opening files";
    const int loaded = seccomp_load(filter.ctx);
    if (loaded != 0) return std::string("cannot install the system-call filter: ") + std::strerror(-loaded);
    return {};
}

} // namespace

Confinement confineProcess()
{
    Confinement result;
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        result.failure = std::string("cannot give up new privileges: ") + std::strerror(errno);
        return result;
    }
    result.landlocked = restrictPaths();
    result.failure = installFilter();
    result.confined = result.failure.empty();
    return result;
}

} // namespace platform
