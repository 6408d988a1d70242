#pragma once
// The orders of a search's results, the collector that keeps only the best
// of them without sorting everything, and the line shown when more were
// found than are listed. Pure; any thread.
#include "QuarnKit/Explore/ExploreItem.h"
#include "QuarnKit/Explore/ExploreRequest.h"

#include <QLocale>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

namespace quarnkit {

// Keeps the `limit` best elements offered, best first. Each offer costs a
// binary search and one insertion into at most `limit` elements. An element
// that ties with kept ones goes after them, so among equals the first
// offered stays first, and a newcomer that only ties with the last kept
// element of a full picker is dropped.
template <typename T>
class TopPicker {
public:
    using Precedes = std::function<bool(const T&, const T&)>;

    TopPicker(int limit, Precedes precedes) : limit_(std::max(0, limit)), precedes_(std::move(precedes))
    {
        kept_.reserve(std::size_t(std::min(limit_, 1024)));
    }

    void offer(T x)
    {
        if (limit_ < 1) return;
        if (int(kept_.size()) >= limit_) {
            if (!precedes_(x, kept_.back())) return;
            kept_.pop_back();
        }
        std::size_t low = 0, high = kept_.size();
        while (low < high) {
            const std::size_t mid = (low + high) / 2;
            if (precedes_(x, kept_[mid])) high = mid;
            else low = mid + 1;
        }
        kept_.insert(kept_.begin() + std::ptrdiff_t(low), std::move(x));
    }

    const std::vector<T>& kept() const { return kept_; }
    std::vector<T> take() { return std::move(kept_); }

private:
    int limit_;
    Precedes precedes_;
    std::vector<T> kept_;
};

namespace ExploreRanking {

// Last opened, date added and size put the newest or largest first (an
// item with the value before one without); the last opened falls back to
// the modification date. Every tie, and the name order itself, goes by
// display title as file managers sort names (numbers by value), then by path.
bool precedes(const ExploreItem& a, const ExploreItem& b, ExploreSort sort);
// A stable sort by `precedes`.
std::vector<ExploreItem> sorted(std::vector<ExploreItem> items, ExploreSort sort);
// The first `limit` items of that order, through a TopPicker.
std::vector<ExploreItem> top(const std::vector<ExploreItem>& items, ExploreSort sort, int limit);

} // namespace ExploreRanking

namespace ExploreSummary {

// How many results a search lists.
inline constexpr int limit = 300;

// "Showing 300 of 1,234. Refine the search to see more.", or none when every
// result found is shown.
std::optional<QString> overflow(std::int64_t shown, std::int64_t total, const QLocale& locale = QLocale());

} // namespace ExploreSummary

} // namespace quarnkit
