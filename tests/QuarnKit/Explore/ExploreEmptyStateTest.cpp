// What a search's result area says with no results: the first of six rules
// that holds, the last three read from the request on screen.
#include "QuarnKit/Explore/ExploreEmptyState.h"

#include <gtest/gtest.h>

using namespace quarnkit;
using Status = ExploreModel::Status;

TEST(ExploreEmptyState, TheFirstRuleThatHoldsSpeaks)
{
    const ExploreRequest recents{};
    const ExploreRequest twoWordsInDownloads{"tax  2023", ExploreMode::names, ExploreLocation::downloads};
    const ExploreRequest twoWordsByContents{"tax  2023", ExploreMode::contents, ExploreLocation::all};
    const ExploreRequest desktop{"  ", ExploreMode::names, ExploreLocation::desktop};
    const struct {
        Status status;
        bool finished;
        std::optional<bool> indexHasPDFs;
        ExploreRequest shown;
        const char* title;
        const char* detail; // null: not compared
    } cases[] = {
        // 1. Unavailable comes before everything, finished or not.
        {Status::unavailable, false, false, twoWordsInDownloads, "The file index isn't available", nullptr},
        // 2. Still searching.
        {Status::searching, false, false, recents, "Searching", "Looking through the PDFs the file index knows about."},
        // 3. An index known to be empty comes before the recents request.
        {Status::ready, true, false, recents, "The file index has no PDFs yet", nullptr},
        // 4. The recents request, with the index unknown or holding PDFs.
        {Status::ready, true, std::nullopt, recents, "Nothing opened lately",
         "Type a name to search every PDF on this computer."},
        {Status::ready, true, true, recents, "Nothing opened lately", nullptr},
        // 5. Words that matched nothing: the words once, single spaced.
        {Status::ready, true, true, twoWordsInDownloads, "No matches",
         "No PDFs in Downloads match “tax 2023”. Try Contents to search inside them."},
        {Status::ready, true, true, twoWordsByContents, "No matches", "No PDFs match “tax 2023”."},
        // 6. No words, a folder.
        {Status::ready, true, true, desktop, "No PDFs here", "The file index found no PDFs in Desktop."},
    };
    for (const auto& c : cases) {
        const ExploreEmptyMessage message = ExploreEmptyState::message(c.status, c.finished, c.indexHasPDFs, c.shown);
        EXPECT_EQ(message.title, c.title);
        if (c.detail) {
            EXPECT_EQ(message.detail, c.detail) << c.title;
        }
    }
}
