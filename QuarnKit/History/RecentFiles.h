#pragma once
// The desktop's list of recently used files (recently-used.xbel), cleaned
// down to existing PDF files, and the short day labels of recent dates.
#include "QuarnKit/History/LibraryCalendar.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QUrl>

#include <functional>
#include <vector>

namespace quarnkit {

namespace RecentFiles {

// The file URLs of recently-used.xbel, most recently used first (by the
// latest of its dates). A missing or unreadable file gives none; a damaged
// one gives what was read before the damage.
std::vector<QUrl> systemRecents(const QString& xbelPath);
// The same with each file's latest date (invalid when it has none).
struct RecentUse {
    QUrl url;
    QDateTime used;
};
std::vector<RecentUse> systemRecentUses(const QString& xbelPath);
// $XDG_DATA_HOME/recently-used.xbel.
QString defaultXbelPath();

// At most `limit` distinct existing PDF file URLs, in the given order, each
// as given. `exists` is asked only about PDF file URLs not yet taken.
std::vector<QUrl> visible(const std::vector<QUrl>& urls, int limit, const std::function<bool(const QUrl&)>& exists);
// The list without any URL of `removed`'s file, last first.
std::vector<QUrl> rebuildOrder(const QUrl& removed, const std::vector<QUrl>& urls);

} // namespace RecentFiles

namespace RelativeDay {

// "Today", "Yesterday", else the locale's short month and day (and year when
// it is another year's). A later day is written as a date.
QString label(const QDateTime& date, const QDateTime& now, const LibraryCalendar& calendar, const QLocale& locale);

} // namespace RelativeDay

} // namespace quarnkit
