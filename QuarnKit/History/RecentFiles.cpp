#include "QuarnKit/History/RecentFiles.h"

#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include <algorithm>
#include <set>

namespace quarnkit {

namespace RecentFiles {

namespace {

// The xbel dates are ISO 8601 in UTC, often with microseconds.
QDateTime xbelDate(QStringView text)
{
    QDateTime date = QDateTime::fromString(text.toString(), Qt::ISODateWithMs);
    if (!date.isValid()) {
        // Qt reads at most milliseconds: drop the further digits of the fraction.
        const qsizetype dot = text.indexOf(QLatin1Char('.'));
        const qsizetype zone = text.indexOf(QLatin1Char('Z'), dot);
        if (dot > 0 && zone > dot + 4)
            date = QDateTime::fromString(text.left(dot + 4).toString() + text.mid(zone).toString(), Qt::ISODateWithMs);
    }
    return date;
}

} // namespace

std::vector<RecentUse> systemRecentUses(const QString& xbelPath)
{
    QFile file(xbelPath);
    if (!file.open(QIODevice::ReadOnly)) return {};
    std::vector<RecentUse> items;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd() && !xml.hasError()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != u"bookmark") continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        const QUrl url(attributes.value(QLatin1String("href")).toString(), QUrl::StrictMode);
        if (!url.isValid() || !url.isLocalFile()) continue;
        QDateTime used;
        for (const char* name : {"added", "modified", "visited"}) {
            const QDateTime date = xbelDate(attributes.value(QLatin1String(name)));
            if (date.isValid() && (!used.isValid() || date > used)) used = date;
        }
        items.push_back({url, used});
    }
    std::stable_sort(items.begin(), items.end(), [](const RecentUse& a, const RecentUse& b) {
        if (a.used.isValid() != b.used.isValid()) return a.used.isValid();
        return a.used > b.used;
    });
    return items;
}

std::vector<QUrl> systemRecents(const QString& xbelPath)
{
    std::vector<QUrl> urls;
    for (RecentUse& item : systemRecentUses(xbelPath)) urls.push_back(std::move(item.url));
    return urls;
}

QString defaultXbelPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/recently-used.xbel");
}

std::vector<QUrl> visible(const std::vector<QUrl>& urls, int limit, const std::function<bool(const QUrl&)>& exists)
{
    std::vector<QUrl> result;
    std::set<QString> seen;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) continue;
        const QString local = url.toLocalFile();
        if (QFileInfo(local).suffix().toLower() != u"pdf") continue;
        if (result.size() >= size_t(std::max(limit, 0))) break;
        const QString path = standardizedPath(local);
        if (seen.count(path)) continue;
        if (!exists(url)) continue; // not remembered: a later spelling is asked again
        seen.insert(path);
        result.push_back(url);
    }
    return result;
}

std::vector<QUrl> rebuildOrder(const QUrl& removed, const std::vector<QUrl>& urls)
{
    const QString gone = standardizedPath(removed.toLocalFile());
    std::vector<QUrl> kept;
    for (auto it = urls.rbegin(); it != urls.rend(); ++it)
        if (standardizedPath(it->toLocalFile()) != gone) kept.push_back(*it);
    return kept;
}

} // namespace RecentFiles

namespace RelativeDay {

QString label(const QDateTime& date, const QDateTime& now, const LibraryCalendar& calendar, const QLocale& locale)
{
    const QDate day = calendar.day(date);
    const QDate today = calendar.day(now);
    if (day == today) return QStringLiteral("Today");
    if (day == today.addDays(-1)) return QStringLiteral("Yesterday");
    return formatDate(date, day.year() == today.year() ? "MMMd" : "MMMdyyyy", calendar, locale);
}

} // namespace RelativeDay

} // namespace quarnkit
