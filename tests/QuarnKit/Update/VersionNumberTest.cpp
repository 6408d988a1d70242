#include "QuarnKit/Update/VersionNumber.h"

#include "QuarnKit/Update/UpdateFeed.h"
#include "QuarnKit/Update/UpdateFixtures.h"

#include <gtest/gtest.h>

using namespace quarnkit;

TEST(VersionNumber, ComparesDottedVersionsPartByPart)
{
    const QString twentyNines(20, u'9');
    const std::vector<std::tuple<QString, QString, int>> cases = {
        {"1.2", "1.2.0", 0}, {"1.2.0", "1.2", 0},   {"1.9", "1.10", -1},    {"2", "1.99.9", 1}, {"", "0.0", 0},
        {"1..2", "1.2", 0},  {" 1.2", "1.2", 0},    {"1.2\t", "1.2", 0},    {"1.2b", "1.2", 0}, {"1.2-beta", "1.2", 0},
        {"beta", "0", 0},    {twentyNines, "0", 0}, {"1.2.3", "1.2.4", -1}, {"10", "9.9", 1},
    };
    for (const auto& [a, b, expected] : cases)
        EXPECT_EQ(VersionNumber::compare(a, b), expected) << a.toStdString() << " vs " << b.toStdString();
}

TEST(VersionNumber, ValidVersionsAreDigitsAndSinglePoints)
{
    for (const char* valid : {"1", "1.2.3", "007.1", "10"}) EXPECT_TRUE(VersionNumber::isValid(valid)) << valid;
    for (const char* invalid : {"", "1.", ".1", "1..2", "1.2a", " 1.2", "1.2 ", "1.-2", "a1.2"})
        EXPECT_FALSE(VersionNumber::isValid(invalid)) << invalid;
}

TEST(VersionNumber, SystemVersionTextDropsAZeroPatch)
{
    EXPECT_EQ(SystemVersion::string({14, 5, 0}), "14.5");
    EXPECT_EQ(SystemVersion::string({14, 5, 1}), "14.5.1");
    EXPECT_EQ(SystemVersion::string({26, 0, 0}), "26.0");
    // The C library of this computer has a version of its own.
    EXPECT_GE(SystemVersion::running().major, 2);
}

TEST(VersionNumber, ReleasesAreReadFromInfoJson)
{
    using nlohmann::json;
    EXPECT_FALSE(AppRelease::fromInfo(json()));
    EXPECT_FALSE(AppRelease::fromInfo(json::object()));
    EXPECT_FALSE(AppRelease::fromInfo(json{{"CFBundleShortVersionString", 3}, {"CFBundleVersion", "5"}}));
    EXPECT_FALSE(AppRelease::fromInfo(json{{"CFBundleShortVersionString", "1.2 beta"}, {"CFBundleVersion", "5"}}));
    EXPECT_FALSE(AppRelease::fromInfo(json{{"CFBundleShortVersionString", "1.2"}}));
    EXPECT_EQ(AppRelease::fromInfo(json{{"CFBundleShortVersionString", "3.0"}, {"CFBundleVersion", "abc"}}),
              (AppRelease{"3.0", 0}));
}

TEST(VersionNumber, BuildNumbersAreTheLeadingDigits)
{
    const std::vector<std::pair<QString, std::int64_t>> cases = {
        {" 57 ", 57},
        {"57b", 57},
        {"57.1", 57},
        {"1.2.3", 1},
        {"abc", 0},
        {QString(20, u'9'), 0},
        {QString::fromUtf8("\xD9\xA5\xD9\xA7"), 0}, // Arabic-Indic 57
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(AppRelease::buildNumber(text), expected) << text.toStdString();
}

TEST(VersionNumber, ReleasesOrderByBuildThenVersion)
{
    EXPECT_LT((AppRelease{"2.0", 10}), (AppRelease{"1.9", 11}));
    EXPECT_EQ((AppRelease{"1.2", 5}), (AppRelease{"1.2.0", 5}));
    EXPECT_LT((AppRelease{"1.4", 5}), (AppRelease{"1.4.1", 5}));
    EXPECT_EQ((AppRelease{"1.2", 5}).description(), "1.2 (5)");
}

TEST(UpdateDecision, TheFirstRuleThatAppliesDecides)
{
    struct Case {
        const char* why;
        AppRelease current;
        QString feedVersion;
        std::int64_t feedBuild;
        bool hasBuildForChip;
        QString minimum;
        std::optional<QString> skipped;
        OSVersion system;
        UpdateDecision expected;
    };
    const OSVersion system{2, 36, 0};
    const std::vector<Case> cases = {
        {"a higher build wins over a lower version",
         {"1.4", 20},
         "1.3",
         21,
         true,
         "",
         {},
         system,
         UpdateDecision::available},
        {"a lower build is not newer", {"1.4", 21}, "1.5", 20, true, "", {}, system, UpdateDecision::upToDate},
        {"equal builds, same version", {"1.4", 20}, "1.4.0", 20, true, "", {}, system, UpdateDecision::upToDate},
        {"equal builds, higher version", {"1.4", 20}, "1.4.1", 20, true, "", {}, system, UpdateDecision::available},
        {"no build before anything else",
         {"1.0", 1},
         "2.0",
         2,
         false,
         "9.0",
         "2.0",
         system,
         UpdateDecision::noBuildForThisComputer},
        {"a newer system before skipping",
         {"1.0", 1},
         "2.0",
         2,
         true,
         "2.37",
         "2.0",
         system,
         UpdateDecision::requiresNewerSystem},
        {"a skipped version matches with zeros",
         {"1.0", 1},
         "2.0.0",
         2,
         true,
         "",
         "2.0",
         system,
         UpdateDecision::skipped},
        {"an empty skipped version never matches",
         {"1.0", 1},
         "2.0",
         2,
         true,
         "",
         "",
         system,
         UpdateDecision::available},
        {"a skipped version with a space", {"1.0", 1}, "2.0", 2, true, "", "2.0 ", system, UpdateDecision::available},
        {"a skipped version with a letter", {"1.0", 1}, "2.0", 2, true, "", "2.0b", system, UpdateDecision::available},
        {"a patch above the minimum", {"1.0", 1}, "2.0", 2, true, "13.6", {}, {13, 6, 1}, UpdateDecision::available},
        {"a minimum above the system",
         {"1.0", 1},
         "2.0",
         2,
         true,
         "14",
         {},
         {13, 6, 1},
         UpdateDecision::requiresNewerSystem},
    };
    for (const Case& c : cases) {
        UpdateFeed feed = UpdateFeed::fromJson(updatefixtures::validFeed());
        feed.version = c.feedVersion;
        feed.build = c.feedBuild;
        feed.minimumSystemVersion = c.minimum;
        if (!c.hasBuildForChip) feed.builds.clear();
        EXPECT_EQ(decideUpdate(c.current, feed, Chip::x86_64, c.skipped, c.system), c.expected) << c.why;
    }
}
