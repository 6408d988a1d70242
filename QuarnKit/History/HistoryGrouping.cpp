#include "QuarnKit/History/HistoryGrouping.h"

#include "Platform/Metadata.h"

#include <QRegularExpression>

#include <algorithm>

namespace quarnkit {

QString title(HistoryPeriod period)
{
    switch (period) {
    case HistoryPeriod::today: return QStringLiteral("Today");
    case HistoryPeriod::yesterday: return QStringLiteral("Yesterday");
    case HistoryPeriod::thisWeek: return QStringLiteral("This Week");
    case HistoryPeriod::thisMonth: return QStringLiteral("This Month");
    case HistoryPeriod::earlier: return QStringLiteral("Earlier");
    }
    return {};
}

namespace {

// Where each period begins, found once for a whole list: the time-zone
// arithmetic costs more than the comparisons.
struct PeriodStarts {
    QDateTime today, yesterday, week, month;

    PeriodStarts(const QDateTime& now, const LibraryCalendar& calendar)
    {
        const QDate day = calendar.day(now);
        today = calendar.startOfDay(day);
        yesterday = calendar.startOfDay(day.addDays(-1));
        week = calendar.startOfWeek(now);
        month = calendar.startOfMonth(now);
    }

    HistoryPeriod of(const QDateTime& date) const
    {
        if (date >= today) return HistoryPeriod::today;
        if (yesterday.isValid() && date >= yesterday) return HistoryPeriod::yesterday;
        if (week.isValid() && date >= week) return HistoryPeriod::thisWeek;
        if (month.isValid() && date >= month) return HistoryPeriod::thisMonth;
        return HistoryPeriod::earlier;
    }
};

} // namespace

HistoryPeriod historyPeriod(const QDateTime& date, const QDateTime& now, const LibraryCalendar& calendar)
{
    return PeriodStarts(now, calendar).of(date);
}

namespace HistoryGrouping {

std::vector<HistorySection> sections(const std::vector<HistoryEntry>& entries, const QDateTime& now,
                                     const LibraryCalendar& calendar)
{
    std::array<std::vector<HistoryEntry>, allHistoryPeriods.size()> groups;
    const PeriodStarts starts(now, calendar);
    for (const HistoryEntry& e : entries) groups[size_t(starts.of(e.lastOpened))].push_back(e);
    std::vector<HistorySection> out;
    for (const HistoryPeriod period : allHistoryPeriods)
        if (!groups[size_t(period)].empty()) out.push_back({period, std::move(groups[size_t(period)])});
    return out;
}

std::vector<HistoryEntry> filter(const std::vector<HistoryEntry>& entries, const QString& query)
{
    QStringList words = LibrarySearchText::words(query);
    if (words.isEmpty()) return entries;
    // Each text is folded once, not once per word.
    for (QString& word : words) word = platform::foldedForSearch(word);
    std::vector<HistoryEntry> kept;
    for (const HistoryEntry& e : entries) {
        const QString haystack = platform::foldedForSearch(e.title.value_or(QString()) + QLatin1Char('\n')
                                                           + e.fileName() + QLatin1Char('\n') + e.folderPath());
        if (std::all_of(words.begin(), words.end(), [&](const QString& word) { return haystack.contains(word); }))
            kept.push_back(e);
    }
    return kept;
}

} // namespace HistoryGrouping

namespace HistoryLabels {

QString opened(const QDateTime& date, const QDateTime& now, const LibraryCalendar& calendar, const QLocale& locale)
{
    switch (historyPeriod(date, now, calendar)) {
    case HistoryPeriod::today:
    case HistoryPeriod::yesterday: return formatDate(date, "jmm", calendar, locale);
    case HistoryPeriod::thisWeek: return formatDate(date, "EEEE", calendar, locale);
    case HistoryPeriod::thisMonth:
    case HistoryPeriod::earlier: break;
    }
    const bool sameYear = calendar.day(date).year() == calendar.day(now).year();
    return formatDate(date, sameYear ? "MMMd" : "MMMdyyyy", calendar, locale);
}

std::optional<QString> progress(std::optional<std::int64_t> page, std::optional<std::int64_t> pageCount)
{
    const bool countUsable = pageCount && *pageCount >= 1;
    const bool pageUsable = page && *page >= 0;
    if (pageUsable && countUsable)
        return QStringLiteral("Page %1 of %2").arg(std::min(*page + 1, *pageCount)).arg(*pageCount);
    if (pageUsable) return QStringLiteral("Page %1").arg(*page + 1);
    if (countUsable) return *pageCount == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(*pageCount);
    return std::nullopt;
}

} // namespace HistoryLabels

namespace LibrarySearchText {

QStringList words(const QString& text)
{
    static const QRegularExpression space(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    QStringList pieces = text.split(space, Qt::SkipEmptyParts);
    if (pieces.size() > maximumWords) pieces.resize(maximumWords);
    return pieces;
}

bool contains(const QString& text, const QString& word)
{
    return platform::foldedForSearch(text).contains(platform::foldedForSearch(word));
}

} // namespace LibrarySearchText

} // namespace quarnkit
