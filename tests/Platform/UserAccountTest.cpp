// The account's full name: the first field of its GECOS entry; whether a
// group holds the account alone.
#include "Platform/UserAccount.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include <pwd.h>
#include <unistd.h>

TEST(UserAccountTest, TheFullNameIsTheFirstFieldOfTheGecosEntry)
{
    const std::vector<std::pair<const char*, QString>> cases{
        {"Ada Lovelace,Room 12,555-0100,,", QStringLiteral("Ada Lovelace")},
        {"  Grace Hopper  ", QStringLiteral("Grace Hopper")},
        {"Zoë Ångström", QStringLiteral("Zoë Ångström")},
        {",,,", QString()},
        {"", QString()},
        {nullptr, QString()},
    };
    for (const auto& [gecos, name] : cases)
        EXPECT_EQ(platform::fullNameFromGecos(gecos), name) << (gecos ? gecos : "null");
}

TEST(UserAccountTest, TheRunningAccountIsReadFromThePasswordDatabase)
{
    const passwd* entry = getpwuid(getuid());
    ASSERT_TRUE(entry);
    EXPECT_EQ(platform::fullUserName(), platform::fullNameFromGecos(entry->pw_gecos));
}

// A group holds the user alone when it is the user's private group: named as
// the user, naming nobody else, and the primary group of no other account.
// Whatever the book cannot tell counts as a group others may be in.
TEST(UserAccountTest, AGroupHoldsTheUserAloneOnlyWhenNoOtherAccountIsInIt)
{
    using platform::AccountEntry;
    using platform::GroupEntry;
    constexpr uid_t ada = 1000, bob = 1001;
    constexpr gid_t adas = 1000, staff = 50;
    const std::vector<AccountEntry> everyone = {{"ada", ada, adas}, {"bob", bob, 1001}, {"root", 0, 0}};
    struct Case {
        const char* what;
        std::optional<GroupEntry> group; // what the book says of group 1000
        std::vector<AccountEntry> accounts;
        bool accountsReadable;
        bool alone;
        gid_t asked = adas;
        bool userKnown = true;
    };
    const std::vector<Case> cases = {
        {"the user's private group", GroupEntry{"ada", {}}, everyone, true, true},
        {"naming the user as a member too", GroupEntry{"ada", {"ada"}}, everyone, true, true},
        {"naming the user by a second name",
         GroupEntry{"ada", {"ada2"}},
         {{"ada", ada, adas}, {"ada2", ada, adas}, {"bob", bob, 1001}},
         true,
         true},
        {"naming another member", GroupEntry{"ada", {"ada", "bob"}}, everyone, true, false},
        {"another account's primary group",
         GroupEntry{"ada", {}},
         {{"ada", ada, adas}, {"bob", bob, adas}},
         true,
         false},
        {"a group named otherwise", GroupEntry{"users", {}}, everyone, true, false},
        {"a group with no entry", std::nullopt, everyone, true, false},
        {"the accounts cannot all be read", GroupEntry{"ada", {}}, everyone, false, false},
        {"a user with no entry", GroupEntry{"ada", {}}, everyone, true, false, adas, false},
        {"another group of the user's", GroupEntry{"ada", {}}, everyone, true, false, staff},
    };
    const platform::AccountBook saved = platform::accountBook();
    for (const Case& c : cases) {
        int listed = 0;
        platform::accountBook() = {[&c](uid_t uid) -> std::optional<AccountEntry> {
                                       if (uid == ada && c.userKnown) return AccountEntry{"ada", ada, adas};
                                       return std::nullopt;
                                   },
                                   [&c](gid_t gid) -> std::optional<GroupEntry> {
                                       if (gid == adas) return c.group;
                                       if (gid == staff) return GroupEntry{"staff", {"ada", "bob"}};
                                       return std::nullopt;
                                   },
                                   [&c, &listed]() -> std::optional<std::vector<AccountEntry>> {
                                       ++listed;
                                       if (!c.accountsReadable) return std::nullopt;
                                       return c.accounts;
                                   }};
        EXPECT_EQ(platform::groupHoldsUserAlone(c.asked, ada), c.alone) << c.what;
        // Judged once a run: the accounts are listed again only when they could not be.
        const int once = listed;
        EXPECT_EQ(platform::groupHoldsUserAlone(c.asked, ada), c.alone) << c.what;
        EXPECT_EQ(listed, c.accountsReadable ? once : 2 * once) << c.what;
    }
    platform::accountBook() = saved;
}

// The system's own book reads the running account and its primary group.
TEST(UserAccountTest, TheSystemsBookKnowsTheRunningAccount)
{
    const platform::AccountBook& book = platform::accountBook();
    const auto account = book.account(::getuid());
    ASSERT_TRUE(account);
    EXPECT_EQ(account->name, platform::loginName().toStdString());
    EXPECT_TRUE(book.group(account->group));
    const auto accounts = book.accounts();
    ASSERT_TRUE(accounts);
    EXPECT_TRUE(std::any_of(accounts->begin(), accounts->end(),
                            [&](const platform::AccountEntry& entry) { return entry.uid == ::getuid(); }));
}
