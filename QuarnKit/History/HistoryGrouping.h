#pragma once
// The history list's groups by how recently a file was opened, its filter,
// and the texts of a row: when it was opened and how far it was read.
#include "QuarnKit/History/HistoryEntry.h"
#include "QuarnKit/History/LibraryCalendar.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace quarnkit {

enum class HistoryPeriod { today, yesterday, thisWeek, thisMonth, earlier };

inline constexpr std::array<HistoryPeriod, 5> allHistoryPeriods{HistoryPeriod::today, HistoryPeriod::yesterday,
                                                                HistoryPeriod::thisWeek, HistoryPeriod::thisMonth,
                                                                HistoryPeriod::earlier};

// "Today", "Yesterday", "This Week", "This Month", "Earlier".
QString title(HistoryPeriod period);
// The first period whose start `date` is not before: dates after now are
// today; yesterday wins over the week, the week over the month.
HistoryPeriod historyPeriod(const QDateTime& date, const QDateTime& now, const LibraryCalendar& calendar);

struct HistorySection {
    HistoryPeriod period;
    std::vector<HistoryEntry> entries; // in input order

    friend bool operator==(const HistorySection&, const HistorySection&) = default;
};

namespace HistoryGrouping {

// One section per period that has entries, in period order.
std::vector<HistorySection> sections(const std::vector<HistoryEntry>& entries, const QDateTime& now,
                                     const LibraryCalendar& calendar);
// The entries whose title, file name or folder hold every word of the query,
// ignoring case and accents. An empty query keeps everything.
std::vector<HistoryEntry> filter(const std::vector<HistoryEntry>& entries, const QString& query);

} // namespace HistoryGrouping

namespace HistoryLabels {

// The time for today and yesterday, the weekday within the week, else the
// date (with the year when it is another year's).
QString opened(const QDateTime& date, const QDateTime& now, const LibraryCalendar& calendar, const QLocale& locale);
// "Page 5 of 10", "Page 5", "1 page", "10 pages", or none.
std::optional<QString> progress(std::optional<std::int64_t> page, std::optional<std::int64_t> pageCount);

} // namespace HistoryLabels

namespace LibrarySearchText {

inline constexpr int maximumWords = 8;

// The query split at white space, at most eight words, unchanged otherwise.
QStringList words(const QString& text);
// Whether `word` occurs in `text`, ignoring case and accents.
bool contains(const QString& text, const QString& word);

} // namespace LibrarySearchText

} // namespace quarnkit
