#pragma once
// What a search's result area says when it has no results: that the index
// cannot be searched, that the search still runs, that the index is empty,
// or why the shown request found nothing. The Explore panel and the welcome
// window show the same words. No state, no disk.
#include "QuarnKit/Explore/ExploreModel.h"

#include <QString>

namespace quarnkit {

struct ExploreEmptyMessage {
    QString symbol;
    QString title;
    QString detail;

    friend bool operator==(const ExploreEmptyMessage&, const ExploreEmptyMessage&) = default;
};

namespace ExploreEmptyState {

// The first rule that holds: unavailable, still searching, an index known to
// hold no PDF (and why: its indexer found none, or cannot read any), the
// recents request, words that matched nothing, an empty folder. The last
// three read `shown`, the request whose results are on screen. Words that
// matched no name point to the search by contents where the search
// `offersContents` (the welcome window's does not).
ExploreEmptyMessage message(ExploreModel::Status status, bool finished, std::optional<bool> indexHasPDFs,
                            platform::MetadataIndexProblem problem, const ExploreRequest& shown, bool offersContents);
ExploreEmptyMessage message(const ExploreModel& model, bool offersContents);

} // namespace ExploreEmptyState

} // namespace quarnkit
