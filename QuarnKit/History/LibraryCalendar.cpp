#include "QuarnKit/History/LibraryCalendar.h"

#include <unicode/dtptngen.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <memory>

namespace quarnkit {

LibraryCalendar LibraryCalendar::current() { return of(QLocale(), QTimeZone::systemTimeZone()); }

LibraryCalendar LibraryCalendar::of(const QLocale& locale, const QTimeZone& zone)
{
    return LibraryCalendar{zone, locale.firstDayOfWeek()};
}

QDate LibraryCalendar::day(const QDateTime& time) const { return time.toTimeZone(timeZone).date(); }

QDateTime LibraryCalendar::startOfDay(const QDate& date) const { return date.startOfDay(timeZone); }

QDateTime LibraryCalendar::startOfWeek(const QDateTime& time) const
{
    const QDate date = day(time);
    const int back = (date.dayOfWeek() - int(firstDayOfWeek) + 7) % 7;
    return startOfDay(date.addDays(-back));
}

QDateTime LibraryCalendar::startOfMonth(const QDateTime& time) const
{
    const QDate date = day(time);
    return startOfDay(QDate(date.year(), date.month(), 1));
}

QString formatDate(const QDateTime& time, const char* formatTemplate, const LibraryCalendar& calendar,
                   const QLocale& locale)
{
    const icu::Locale where(locale.name().toUtf8().constData());
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(where, status));
    icu::UnicodeString pattern;
    if (U_SUCCESS(status)) pattern = generator->getBestPattern(icu::UnicodeString::fromUTF8(formatTemplate), status);
    if (U_FAILURE(status)) pattern = icu::UnicodeString::fromUTF8(formatTemplate);
    status = U_ZERO_ERROR;
    icu::SimpleDateFormat format(pattern, where, status);
    if (U_FAILURE(status)) return locale.toString(time.toTimeZone(calendar.timeZone), QLocale::ShortFormat);
    const QByteArray zoneId = calendar.timeZone.id();
    format.adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zoneId.constData())));
    icu::UnicodeString text;
    format.format(UDate(time.toMSecsSinceEpoch()), text);
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

} // namespace quarnkit
