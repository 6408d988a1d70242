#pragma once
// Parts of a test run as other accounts of the same computer. Only root can
// become another user, so the tests that need one skip themselves
// otherwise. The accounts need no entry in the password file: nobody stands
// for the user ravlen runs as, and a number no account uses for another user.
#include <gtest/gtest.h>

#include <functional>

#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

constexpr uid_t kUser = 65534;     // the user ravlen runs as: nobody
constexpr uid_t kOtherUser = 4242; // another user of the same computer

inline bool canBecomeOtherUsers() { return ::geteuid() == 0; }

// Runs `part` in a child process as `user` (with the group of the same
// number, and no other), keeping root as its saved id so that asRoot() can
// act for another user within it. True when the part ran without a failure.
inline bool asUser(uid_t user, const std::function<void()>& part)
{
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    const int partsBefore = result->total_part_count();
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(user, user, 0) != 0 || ::setresuid(user, user, 0) != 0)
            ::_exit(2);
        part();
        // Only what failed here: the test's earlier rows are the parent's to report.
        for (int i = partsBefore; i < result->total_part_count(); ++i)
            if (result->GetTestPartResult(i).failed()) ::_exit(1);
        ::_exit(0);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Within asUser(): does `act` as root, for another user who acts while the
// code under test runs (a name swapped, say), then is the user again.
inline void asRoot(const std::function<void()>& act)
{
    const uid_t user = ::geteuid();
    const gid_t group = ::getegid();
    if (::seteuid(0) != 0 || ::setegid(0) != 0) {
        ADD_FAILURE() << "cannot act as root";
        return;
    }
    act();
    if (::setegid(group) != 0 || ::seteuid(user) != 0) ::_exit(3);
}

} // namespace testsupport
