#include "QuarnKit/History/HistoryGrouping.h"
#include "QuarnKit/History/RecentFiles.h"

#include <gtest/gtest.h>

using namespace quarnkit;

namespace {

const QTimeZone berlin("Europe/Berlin");
const QLocale us("en_US");
const QLocale german("de_DE");

QDateTime local(int year, int month, int day, int hour = 12, int minute = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute), berlin);
}

HistoryEntry entry(const QString& path, const QDateTime& opened, std::optional<QString> title = {})
{
    return HistoryEntry{QUuid::createUuid(), path, std::nullopt, std::move(title), std::nullopt, opened, opened, 1};
}

} // namespace

TEST(HistoryPeriod, EdgesFollowTheLocalesWeek)
{
    using P = HistoryPeriod;
    struct Case {
        QDateTime now, date;
        P us, german;
        const char* what;
    };
    const QDateTime wednesday = local(2025, 6, 4, 10); // weeks: Sun 1 June (en_US), Mon 2 June (de_DE)
    const QDateTime monday = local(2025, 6, 2, 9);
    const QDateTime july = local(2025, 7, 2, 9); // weeks from Sun 29 / Mon 30 June
    const std::vector<Case> cases{
        {wednesday, local(2025, 6, 4, 0), P::today, P::today, "midnight today"},
        {wednesday, wednesday.addSecs(2 * 3600), P::today, P::today, "later today"},
        {wednesday, local(2026, 1, 1), P::today, P::today, "a date after now"},
        {wednesday, local(2025, 6, 3, 23, 59), P::yesterday, P::yesterday, "late yesterday"},
        {wednesday, local(2025, 6, 3, 0), P::yesterday, P::yesterday, "yesterday's start"},
        {wednesday, local(2025, 6, 2, 23, 59), P::thisWeek, P::thisWeek, "Monday"},
        {wednesday, local(2025, 6, 1, 12), P::thisWeek, P::thisMonth, "Sunday"},
        {wednesday, local(2025, 5, 31, 23, 59), P::earlier, P::earlier, "last month"},
        {monday, local(2025, 6, 1, 12), P::yesterday, P::yesterday, "yesterday in last week"},
        {monday, local(2025, 5, 31, 12), P::earlier, P::earlier, "neither this week nor month"},
        {july, local(2025, 6, 30, 12), P::thisWeek, P::thisWeek, "this week in last month"},
        {july, local(2025, 6, 29, 12), P::thisWeek, P::earlier, "Sunday in last month"},
        {july, local(2025, 7, 1, 0), P::yesterday, P::yesterday, "first of the month"},
        {local(2025, 7, 20), local(2025, 7, 5), P::thisMonth, P::thisMonth, "earlier this month"},
    };
    const LibraryCalendar usWeek = LibraryCalendar::of(us, berlin);
    const LibraryCalendar germanWeek = LibraryCalendar::of(german, berlin);
    for (const Case& c : cases) {
        EXPECT_EQ(historyPeriod(c.date, c.now, usWeek), c.us) << c.what << " (en_US)";
        EXPECT_EQ(historyPeriod(c.date, c.now, germanWeek), c.german) << c.what << " (de_DE)";
    }
}

TEST(HistoryGrouping, SectionsInPeriodOrderWithoutEmptyOnes)
{
    const LibraryCalendar calendar = LibraryCalendar::of(german, berlin);
    const QDateTime now = local(2025, 6, 4, 10);
    EXPECT_TRUE(HistoryGrouping::sections({}, now, calendar).empty());

    const std::vector<HistoryEntry> entries{entry("/a.pdf", local(2025, 6, 4, 9)), entry("/b.pdf", local(2025, 6, 2)),
                                            entry("/c.pdf", local(2024, 3, 1)), entry("/d.pdf", local(2025, 6, 4, 8)),
                                            entry("/e.pdf", local(2023, 1, 1))};
    const auto sections = HistoryGrouping::sections(entries, now, calendar);
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[0], (HistorySection{HistoryPeriod::today, {entries[0], entries[3]}}));
    EXPECT_EQ(sections[1], (HistorySection{HistoryPeriod::thisWeek, {entries[1]}}));
    EXPECT_EQ(sections[2], (HistorySection{HistoryPeriod::earlier, {entries[2], entries[4]}}));
    EXPECT_EQ(title(sections[2].period), "Earlier");
}

TEST(HistoryGrouping, FilterNeedsEveryWordInTitleNameOrFolder)
{
    const QDateTime when = local(2025, 1, 1);
    const std::vector<HistoryEntry> entries{
        entry("/home/ann/Taxes 2023/statement.pdf", when, QStringLiteral("Annual Report")),
        entry("/home/ann/Work/q3.pdf", when, QStringLiteral("Report")),
        entry(QString::fromUtf8("/home/ann/Jobs/Résumé.pdf"), when),
    };
    const auto names = [&](const QString& query) {
        std::vector<QString> out;
        for (const HistoryEntry& e : HistoryGrouping::filter(entries, query)) out.push_back(e.fileName());
        return out;
    };
    EXPECT_EQ(names("  ").size(), 3u);
    EXPECT_EQ(names("report 2023"), (std::vector<QString>{"statement"}));
    EXPECT_EQ(names("2023 REPORT"), (std::vector<QString>{"statement"}));
    EXPECT_EQ(names("report"), (std::vector<QString>{"statement", "q3"}));
    EXPECT_EQ(names("resume"), (std::vector<QString>{QString::fromUtf8("Résumé")}));
    EXPECT_EQ(names(QString::fromUtf8("RÉSUMÉ jobs")), (std::vector<QString>{QString::fromUtf8("Résumé")}));
    EXPECT_TRUE(names("pdf").empty()) << "the extension is not searched";
}

TEST(LibrarySearchText, SplitsAtAnyWhiteSpaceUpToEightWords)
{
    EXPECT_EQ(LibrarySearchText::words("a  b\tc\nd"), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(LibrarySearchText::words(QString::fromUtf8("\u00a0x\u2003Y ")), (QStringList{"x", "Y"}));
    EXPECT_EQ(LibrarySearchText::words("1 2 3 4 5 6 7 8 9 10"), (QStringList{"1", "2", "3", "4", "5", "6", "7", "8"}));
    EXPECT_TRUE(LibrarySearchText::words(" \t\n").isEmpty());
}

TEST(HistoryLabels, Progress)
{
    struct Case {
        std::optional<std::int64_t> page, count;
        std::optional<QString> text;
    };
    const std::vector<Case> cases{
        {4, 10, "Page 5 of 10"},
        {12, 10, "Page 10 of 10"},
        {0, std::nullopt, "Page 1"},
        {std::nullopt, 1, "1 page"},
        {std::nullopt, 0, std::nullopt},
        {-1, 3, "3 pages"},
        {std::nullopt, 12500, "12500 pages"},
        {std::nullopt, std::nullopt, std::nullopt},
        {3, 0, "Page 4"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HistoryLabels::progress(c.page, c.count), c.text)
            << c.page.value_or(-99) << " " << c.count.value_or(-99);
}

TEST(HistoryLabels, OpenedShowsTimeWeekdayOrDateByPeriod)
{
    const QDateTime now = local(2025, 6, 4, 10);
    struct Case {
        QDateTime date;
        const QLocale& locale;
        QString text;
    };
    const std::vector<Case> cases{
        {local(2025, 6, 4, 9, 5), german, "09:05"}, {local(2025, 6, 3, 21, 30), german, "21:30"},
        {local(2025, 6, 2, 9), us, "Monday"},       {local(2025, 6, 2, 9), german, "Montag"},
        {local(2025, 3, 5), us, "Mar 5"},           {local(2025, 3, 5), german, QString::fromUtf8("5. März")},
        {local(2024, 3, 5), us, "Mar 5, 2024"},     {local(2024, 3, 5), german, QString::fromUtf8("5. März 2024")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HistoryLabels::opened(c.date, now, LibraryCalendar::of(c.locale, berlin), c.locale), c.text)
            << c.date.toString(Qt::ISODate).toStdString();
    // Twelve-hour clocks where the locale keeps them.
    const QString morning = HistoryLabels::opened(local(2025, 6, 4, 9, 5), now, LibraryCalendar::of(us, berlin), us);
    EXPECT_TRUE(morning.startsWith("9:05") && morning.endsWith("AM")) << morning.toStdString();
}

TEST(RelativeDay, TodayYesterdayOrADate)
{
    const LibraryCalendar calendar = LibraryCalendar::of(us, berlin);
    const QDateTime now = local(2025, 6, 4, 0, 30);
    EXPECT_EQ(RelativeDay::label(local(2025, 6, 4, 0, 1), now, calendar, us), "Today");
    EXPECT_EQ(RelativeDay::label(local(2025, 6, 3, 23, 50), now, calendar, us), "Yesterday");
    EXPECT_EQ(RelativeDay::label(local(2025, 6, 5, 9), now, calendar, us), "Jun 5") << "tomorrow is a date";
    EXPECT_EQ(RelativeDay::label(local(2024, 12, 31), now, calendar, us), "Dec 31, 2024");
    EXPECT_EQ(RelativeDay::label(local(2024, 12, 31), now, LibraryCalendar::of(german, berlin), german),
              "31. Dez. 2024");
    // The calendar's zone decides the day: 23:50 in Berlin is already the next day in Tokyo.
    const LibraryCalendar tokyo{QTimeZone("Asia/Tokyo"), Qt::Monday};
    EXPECT_EQ(RelativeDay::label(local(2025, 6, 3, 23, 50), now, tokyo, us), "Today");
}
