#include "QuarnKit/History/LibraryCalendar.h"

#include <unicode/dtptngen.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

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

namespace {

// Making a formatter loads the locale's data: a list of thousands of rows
// would spend most of its time there. Each locale, template and zone gets one.
std::unique_ptr<icu::SimpleDateFormat> makeFormat(const std::string& localeName, const char* formatTemplate,
                                                  const QByteArray& zoneId)
{
    const icu::Locale where(localeName.c_str());
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(where, status));
    icu::UnicodeString pattern;
    if (U_SUCCESS(status)) pattern = generator->getBestPattern(icu::UnicodeString::fromUTF8(formatTemplate), status);
    if (U_FAILURE(status)) pattern = icu::UnicodeString::fromUTF8(formatTemplate);
    status = U_ZERO_ERROR;
    auto format = std::make_unique<icu::SimpleDateFormat>(pattern, where, status);
    if (U_FAILURE(status)) return nullptr;
    format->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zoneId.constData())));
    return format;
}

} // namespace

QString formatDate(const QDateTime& time, const char* formatTemplate, const LibraryCalendar& calendar,
                   const QLocale& locale)
{
    static std::mutex mutex;
    static std::map<std::tuple<std::string, std::string, QByteArray>, std::unique_ptr<icu::SimpleDateFormat>> formats;
    const QByteArray zoneId = calendar.timeZone.id();
    const std::string localeName = locale.name().toStdString();
    icu::UnicodeString text;
    {
        // ICU formatters are not safe to share between threads while formatting.
        std::lock_guard guard(mutex);
        auto& format = formats[{localeName, formatTemplate, zoneId}];
        if (!format) format = makeFormat(localeName, formatTemplate, zoneId);
        if (!format) return locale.toString(time.toTimeZone(calendar.timeZone), QLocale::ShortFormat);
        format->format(UDate(time.toMSecsSinceEpoch()), text);
    }
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

} // namespace quarnkit
