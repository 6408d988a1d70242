// What a search's result area says with no results: the first of six rules
// that holds, the last three read from the request on screen.
#include "QuarnKit/Explore/ExploreEmptyState.h"

#include <gtest/gtest.h>

using namespace quarnkit;
using Status = ExploreModel::Status;
using Problem = platform::MetadataIndexProblem;

TEST(ExploreEmptyState, TheFirstRuleThatHoldsSpeaks)
{
    const ExploreRequest recents{};
    const ExploreRequest twoWordsInDownloads{"tax  2023", ExploreMode::names, ExploreLocation::downloads};
    const ExploreRequest twoWordsByContents{"tax  2023", ExploreMode::contents, ExploreLocation::all};
    const ExploreRequest desktop{"  ", ExploreMode::names, ExploreLocation::desktop};
    const ExploreRequest tenWords{"a b c d e f g h i j", ExploreMode::contents, ExploreLocation::all};
    const struct {
        Status status;
        bool finished;
        std::optional<bool> indexHasPDFs;
        Problem problem;
        ExploreRequest shown;
        const char* title;
        const char* detail;         // null: not compared
        bool offersContents = true; // false: the welcome window's search
    } cases[] = {
        // 1. Unavailable comes before everything, finished or not.
        {Status::unavailable, false, false, Problem::none, twoWordsInDownloads, "The file index isn't available",
         nullptr},
        // 2. Still searching.
        {Status::searching, false, false, Problem::none, recents, "Searching",
         "Looking through the PDFs the file index knows about."},
        // 3. An index known to be empty comes before the recents request,
        // and says why it is empty.
        {Status::ready, true, false, Problem::none, recents, "The file index has no PDFs",
         "The file index looked through your folders and found no PDFs. New PDFs show up here as you add them."},
        {Status::ready, true, false, Problem::noReader, recents, "The file index can't read PDFs",
         "ravlen-index-reader, the program that reads PDFs for the file index, isn't installed with this copy of "
         "ravlen, so no PDF is indexed. Reinstall ravlen to search your PDFs."},
        {Status::ready, true, false, Problem::readerUnconfined, twoWordsByContents, "The file index can't read PDFs",
         "The file index reads PDFs only inside a sandbox, and this system doesn't allow one, so no PDF is indexed."},
        {Status::ready, true, false, Problem::readerUntrusted, recents, "The file index can't read PDFs",
         "ravlen didn't run ravlen-index-reader, the program that reads PDFs for the file index, because another user "
         "owns or can change it or a folder it's in, so no PDF is indexed. Run ravlen from a folder only you can "
         "change to search your PDFs."},
        {Status::ready, true, false, Problem::readerUnchecked, recents, "The file index can't read PDFs",
         "ravlen didn't run ravlen-index-reader, the program that reads PDFs for the file index, because it couldn't "
         "tell whether another user can change it: a folder on its way can't be searched, or its links go round in "
         "circles. So no PDF is indexed. Run ravlen from a folder only you can change to search your PDFs."},
        // 4. The recents request, with the index unknown or holding PDFs.
        {Status::ready, true, std::nullopt, Problem::none, recents, "Nothing opened lately",
         "Type a name to search every PDF on this computer."},
        {Status::ready, true, true, Problem::none, recents, "Nothing opened lately", nullptr},
        // 5. Words that matched nothing: the words once, single spaced; a
        // cut search says so.
        {Status::ready, true, true, Problem::none, twoWordsInDownloads, "No matches",
         "No PDFs in Downloads match “tax 2023”. Try Contents to search inside them."},
        {Status::ready, true, true, Problem::none, twoWordsInDownloads, "No matches",
         "No PDFs in Downloads match “tax 2023”.", false},
        {Status::ready, true, true, Problem::none, twoWordsByContents, "No matches", "No PDFs match “tax 2023”."},
        {Status::ready, true, true, Problem::none, tenWords, "No matches",
         "No PDFs match “a b c d e f g h”. Only the first 8 words of a search, up to 100 characters each, are "
         "searched."},
        // 6. No words, a folder.
        {Status::ready, true, true, Problem::none, desktop, "No PDFs here", "The file index found no PDFs in Desktop."},
    };
    for (const auto& c : cases) {
        const ExploreEmptyMessage message =
            ExploreEmptyState::message(c.status, c.finished, c.indexHasPDFs, c.problem, c.shown, c.offersContents);
        EXPECT_EQ(message.title, c.title);
        if (c.detail) {
            EXPECT_EQ(message.detail, c.detail) << c.title;
        }
    }
}
