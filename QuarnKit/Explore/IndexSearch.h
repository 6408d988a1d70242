#pragma once
// The search source over the file index: each request runs on a thread of
// the source's own against its own connection to the index, keeps only the
// best results of the requested order, and comes back to the owner's thread
// only while it is still the current search. While a search is live, the
// source looks for changes of the index (the indexer's commits) and of the
// last-opened dates every `refresh` and reports the results anew when they
// changed, so files that come and go show up in the open list.
#include "QuarnKit/Explore/ExploreItem.h"
#include "QuarnKit/Explore/ExploreRanking.h"
#include "QuarnKit/Explore/ExploreSource.h"
#include "QuarnKit/Explore/LastUsedDates.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class MetadataIndex;
}

namespace quarnkit {

class IndexSearch : public ExploreSource {
    Q_OBJECT
public:
    struct Settings {
        std::string indexPath;
        int limit = ExploreSummary::limit;
        ExploreExclusions exclusions;
        ExploreFolders folders;
        LastUsedDates lastUsed;
        std::chrono::milliseconds refresh{300};
    };

    explicit IndexSearch(Settings settings, QObject* parent = nullptr);
    ~IndexSearch() override; // stops the search and its thread
    IndexSearch(const IndexSearch&) = delete;
    IndexSearch& operator=(const IndexSearch&) = delete;

    void start(const ExploreRequest& request, Update onUpdate) override;
    void stop() override;
    void probe(Answer answer) override;

    // One search, on the calling thread: what a snapshot of `request` holds.
    // Throws platform::MetadataError.
    static ExploreSnapshot search(const platform::MetadataIndex& index, const ExploreRequest& request,
                                  const Settings& settings);

private:
    struct Shared;
    void deliver(std::uint64_t generation, const ExploreSnapshot& snapshot);
    void answer(bool any);

    std::shared_ptr<Shared> shared_;
    std::uint64_t generation_ = 0;
    Update onUpdate_;
    std::vector<Answer> answers_;
};

} // namespace quarnkit
