#include "Quarn/Viewer/ReadingHistory.h"

#include "Quarn/Viewer/QuarnPDFView.h"

namespace quarn {

using quarnkit::PageDestination;

namespace {
constexpr int historyLimit = 100;
} // namespace

ReadingHistory::ReadingHistory(QuarnPDFView& view) : QObject(&view), view_(view) {}

std::optional<ReadingHistory::Visit> ReadingHistory::visit(const PageDestination& destination) const
{
    const quarnkit::QuarnDocument* document = view_.quarnDocument();
    const auto page = document ? document->pageId(destination.page) : std::nullopt;
    if (!page) return std::nullopt;
    return Visit{*page, destination};
}

std::optional<PageDestination> ReadingHistory::destination(const Visit& visit) const
{
    const quarnkit::QuarnDocument* document = view_.quarnDocument();
    const auto index = document ? document->pageIndex(visit.page) : std::nullopt;
    if (!index) return std::nullopt; // the page was taken out of the document
    PageDestination destination = visit.destination;
    destination.page = *index;
    return destination;
}

void ReadingHistory::record()
{
    const auto here = view_.readingPoint();
    const auto entry = here ? visit(*here) : std::nullopt;
    if (!entry) return;
    if (back_.empty() || !(back_.back().page == entry->page && back_.back().destination.point == here->point))
        back_.push_back(*entry);
    if (int(back_.size()) > historyLimit) back_.erase(back_.begin());
    forward_.clear();
    emit changed();
}

void ReadingHistory::clear()
{
    back_.clear();
    forward_.clear();
    emit changed();
}

void ReadingHistory::step(std::vector<Visit>& from, std::vector<Visit>& to)
{
    // Places on pages taken out of the document are passed over.
    std::optional<PageDestination> target;
    while (!from.empty() && !target) {
        target = destination(from.back());
        if (target) break;
        from.pop_back();
    }
    if (!target) {
        emit changed();
        return;
    }
    if (const auto here = view_.readingPoint())
        if (const auto entry = visit(*here)) to.push_back(*entry);
    from.pop_back();
    view_.goToDestination(*target, false);
    emit changed();
}

} // namespace quarn
