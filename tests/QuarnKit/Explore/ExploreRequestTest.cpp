#include "QuarnKit/Explore/ExploreItem.h"
#include "QuarnKit/Explore/ExploreRequest.h"

#include <gtest/gtest.h>

using namespace quarnkit;

namespace {

const ExploreFolders folders{"/home/ann", "/home/ann/Downloads", "/home/ann/Desktop", "/home/ann/Documents"};

} // namespace

TEST(ExploreRequestTest, ChoicesAreStoredByTheirExactNames)
{
    for (ExploreMode mode : allExploreModes) EXPECT_EQ(exploreModeNamed(name(mode)), mode);
    for (ExploreLocation location : allExploreLocations) EXPECT_EQ(exploreLocationNamed(name(location)), location);
    for (ExploreSort sort : allExploreSorts) EXPECT_EQ(exploreSortNamed(name(sort)), sort);
    EXPECT_EQ(exploreLocationNamed("Downloads"), std::nullopt);
    EXPECT_EQ(exploreLocationNamed("iCloudDrive"), std::nullopt);
    EXPECT_EQ(exploreSortNamed(""), std::nullopt);
}

TEST(ExploreRequestTest, TheIndexQueryOfARequest)
{
    struct Case {
        ExploreRequest request;
        bool recents;
        std::vector<QString> words;
        QString folder;
    };
    const std::vector<Case> cases = {
        {{"", ExploreMode::names, ExploreLocation::all}, true, {}, ""},
        {{" \t ", ExploreMode::names, ExploreLocation::downloads}, false, {}, "/home/ann/Downloads"},
        {{"tax  2024", ExploreMode::contents, ExploreLocation::documents},
         false,
         {"tax", "2024"},
         "/home/ann/Documents"},
        {{"a b c d e f g h i j", ExploreMode::names, ExploreLocation::all},
         false,
         {"a", "b", "c", "d", "e", "f", "g", "h"},
         ""},
        {{QString("say\"what*\\ x\u0007y\u200Bz"), ExploreMode::names, ExploreLocation::desktop},
         false,
         {"say\"what*\\", "xyz"},
         "/home/ann/Desktop"},
        {{"\u0001", ExploreMode::names, ExploreLocation::all}, false, {""}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.request.isRecents(), c.recents) << c.request.text.toStdString();
        const platform::MetadataQuery q = c.request.indexQuery(folders);
        EXPECT_EQ(q.words, c.words) << c.request.text.toStdString();
        EXPECT_EQ(q.folder, c.folder);
        EXPECT_EQ(q.contents, c.request.mode == ExploreMode::contents);
    }
}

TEST(ExploreRequestTest, MatchingLooksAtNameAndTitleOnly)
{
    const ExploreItem item = ExploreItem::make("/home/ann/Finance/Résumé.pdf", std::nullopt, QString("Annual Report"));
    struct Case {
        const char* text;
        bool matches;
    };
    for (const Case& c : std::vector<Case>{{"", true},
                                           {"resume", true},
                                           {"RÉSUMÉ annual", true},
                                           {"sumé.pd", true},
                                           {"report finance", false},
                                           {"ann/", false}})
        EXPECT_EQ(ExploreRequest{QString::fromUtf8(c.text)}.matches(item), c.matches) << c.text;
}

TEST(ExploreRequestTest, TheFoldersToIndex)
{
    EXPECT_EQ(folders.roots(), std::vector<QString>{"/home/ann"});
    const ExploreFolders elsewhere{"/home/ann", "/data/Downloads", "/home/ann", "/home/annex/Documents"};
    EXPECT_EQ(elsewhere.roots(), (std::vector<QString>{"/home/ann", "/data/Downloads", "/home/annex/Documents"}));
    EXPECT_EQ(elsewhere.folder(ExploreLocation::all), std::nullopt);
    EXPECT_EQ(elsewhere.folder(ExploreLocation::desktop), "/home/ann");
}
