#pragma once
// The calendar the library's date rules run in: a time zone and the first
// day of the week (the locale's). Callers pass it in, so tests can fix it.
#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>

namespace quarnkit {

struct LibraryCalendar {
    QTimeZone timeZone = QTimeZone::utc();
    Qt::DayOfWeek firstDayOfWeek = Qt::Monday;

    // The system's time zone and the week of the current locale.
    static LibraryCalendar current();
    // The given zone with the week of the given locale.
    static LibraryCalendar of(const QLocale& locale, const QTimeZone& zone);

    QDate day(const QDateTime& time) const;
    QDateTime startOfDay(const QDate& day) const;
    QDateTime startOfWeek(const QDateTime& time) const; // the week holding `time`
    QDateTime startOfMonth(const QDateTime& time) const;
};

// `time` written with the locale's pattern for a date-format template such
// as "MMMd" or "jmm" (the fields wanted, in any order), in the calendar's zone.
QString formatDate(const QDateTime& time, const char* formatTemplate, const LibraryCalendar& calendar,
                   const QLocale& locale);

} // namespace quarnkit
