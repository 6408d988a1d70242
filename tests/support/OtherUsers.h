#pragma once
// Parts of a test run as other accounts of the same computer. Only root can
// become another user, so the tests that need one skip themselves
// otherwise. The accounts need no entry in the password file: nobody stands
// for the user ravlen runs as, and a number no account uses for another user.
// Whether a group holds the user alone is read from an account book the test
// names (Accounts below), never from the computer's own databases.
#include "Platform/UserAccount.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <utility>

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

// Makes the whole process act as `user` by its effective ids, or as root
// again for 0: for window tests, whose windows live in this process, where
// the user's own steps and another user's alternate.
inline void becomeEffectively(uid_t user)
{
    if (user != 0) ASSERT_TRUE(::setegid(user) == 0 && ::seteuid(user) == 0);
    else ASSERT_TRUE(::seteuid(0) == 0 && ::setegid(0) == 0);
}

// For as long as it lives, the accounts the group rule reads
// (platform::accountBook): root, the user (nobody) and the other user
// (bob), each with the primary group of its own number, or `bobsGroup`, and
// the groups `groups` names by number (none other is known).
class Accounts {
public:
    explicit Accounts(std::map<gid_t, platform::GroupEntry> groups, gid_t bobsGroup = kOtherUser)
        : saved_(platform::accountBook())
    {
        const std::vector<platform::AccountEntry> accounts = {
            {"root", 0, 0}, {"nobody", kUser, kUser}, {"bob", kOtherUser, bobsGroup}};
        platform::accountBook() = {[accounts](uid_t uid) -> std::optional<platform::AccountEntry> {
                                       for (const platform::AccountEntry& account : accounts)
                                           if (account.uid == uid) return account;
                                       return std::nullopt;
                                   },
                                   [groups = std::move(groups)](gid_t gid) -> std::optional<platform::GroupEntry> {
                                       const auto found = groups.find(gid);
                                       if (found == groups.end()) return std::nullopt;
                                       return found->second;
                                   },
                                   [accounts] { return std::optional(accounts); }};
    }
    ~Accounts() { platform::accountBook() = saved_; }
    Accounts(const Accounts&) = delete;
    Accounts& operator=(const Accounts&) = delete;

    // The user's private group, and the same number naming bob as well.
    static std::map<gid_t, platform::GroupEntry> usersOwnGroup() { return {{kUser, {"nobody", {}}}}; }
    static std::map<gid_t, platform::GroupEntry> sharedWithBob() { return {{kUser, {"nobody", {"bob"}}}}; }

private:
    platform::AccountBook saved_;
};

} // namespace testsupport
