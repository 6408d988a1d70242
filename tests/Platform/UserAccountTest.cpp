// The account's full name: the first field of its GECOS entry.
#include "Platform/UserAccount.h"

#include <gtest/gtest.h>

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
