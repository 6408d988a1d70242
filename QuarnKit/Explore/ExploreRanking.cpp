#include "QuarnKit/Explore/ExploreRanking.h"

#include "QuarnKit/History/LibraryTexts.h"

#include <QCollator>
#include <QObject>

namespace quarnkit {

namespace ExploreRanking {

namespace {

// Present before absent, then the larger first; none when they tie.
template <typename T>
std::optional<bool> larger(const std::optional<T>& a, const std::optional<T>& b)
{
    if (a.has_value() != b.has_value()) return a.has_value();
    if (!a || *a == *b) return std::nullopt;
    return *a > *b;
}

bool byName(const ExploreItem& a, const ExploreItem& b)
{
    // As file managers sort: ignoring case, "9" before "10". One collator per
    // thread: a collator is not to be shared between threads.
    thread_local const QCollator collator = [] {
        // The C locale compares code points alone: collate as English there.
        const QLocale locale = QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale();
        QCollator c(locale);
        c.setNumericMode(true);
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    const int order = collator.compare(a.displayTitle(), b.displayTitle());
    if (order != 0) return order < 0;
    return a.path < b.path;
}

} // namespace

bool precedes(const ExploreItem& a, const ExploreItem& b, ExploreSort sort)
{
    std::optional<bool> first;
    switch (sort) {
    case ExploreSort::lastOpened:
        first = larger(a.lastUsed, b.lastUsed);
        if (!first) first = larger(a.modified, b.modified);
        break;
    case ExploreSort::dateAdded: first = larger(a.dateAdded, b.dateAdded); break;
    case ExploreSort::size: first = larger(a.size, b.size); break;
    case ExploreSort::name: break;
    }
    return first ? *first : byName(a, b);
}

std::vector<ExploreItem> sorted(std::vector<ExploreItem> items, ExploreSort sort)
{
    std::stable_sort(items.begin(), items.end(),
                     [sort](const ExploreItem& a, const ExploreItem& b) { return precedes(a, b, sort); });
    return items;
}

std::vector<ExploreItem> top(const std::vector<ExploreItem>& items, ExploreSort sort, int limit)
{
    TopPicker<ExploreItem> picker(limit,
                                  [sort](const ExploreItem& a, const ExploreItem& b) { return precedes(a, b, sort); });
    for (const ExploreItem& item : items) picker.offer(item);
    return picker.take();
}

} // namespace ExploreRanking

namespace ExploreSummary {

std::optional<QString> overflow(std::int64_t shown, std::int64_t total, const QLocale& locale)
{
    if (shown >= total) return std::nullopt;
    return QObject::tr("Showing %1 of %2. Refine the search to see more.")
        .arg(LibraryFormat::number(shown, locale), LibraryFormat::number(total, locale));
}

} // namespace ExploreSummary

} // namespace quarnkit
