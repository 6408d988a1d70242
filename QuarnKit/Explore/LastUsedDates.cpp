#include "QuarnKit/Explore/LastUsedDates.h"

#include "QuarnKit/History/HistoryEntry.h"
#include "QuarnKit/History/HistoryStore.h"
#include "QuarnKit/History/RecentFiles.h"

#include <QFile>

#include <sys/stat.h>

namespace quarnkit {

LastUsedDates::LastUsedDates(QString historyFile, QString recentsFile)
    : historyFile_(std::move(historyFile)), recentsFile_(std::move(recentsFile))
{}

LastUsedDates LastUsedDates::standard()
{
    return LastUsedDates(HistoryStore::defaultDirectory() + QLatin1Char('/') + QLatin1String(HistoryFile::fileName),
                         RecentFiles::defaultXbelPath());
}

LastUsedDates::Stamp LastUsedDates::stampOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return {std::int64_t(st.st_size), std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            std::uint64_t(st.st_ino)};
}

bool LastUsedDates::refresh()
{
    const Stamp history = stampOf(historyFile_);
    const Stamp recents = stampOf(recentsFile_);
    if (historyStamp_ == history && recentsStamp_ == recents) return false;
    historyStamp_ = history;
    recentsStamp_ = recents;

    QHash<QString, QDateTime> dates;
    const auto note = [&dates](const QString& path, const QDateTime& date) {
        if (!date.isValid()) return;
        QDateTime& kept = dates[path];
        if (!kept.isValid() || date > kept) kept = date;
    };
    if (history.size >= 0) {
        QFile file(historyFile_);
        if (file.open(QIODevice::ReadOnly))
            for (const HistoryEntry& entry : HistoryFile::decode(file.readAll()).entries)
                note(entry.path, entry.lastOpened);
    }
    if (recents.size >= 0)
        for (const RecentFiles::RecentUse& use : RecentFiles::systemRecentUses(recentsFile_))
            note(use.url.toLocalFile(), use.used);
    if (dates == dates_) return false;
    dates_ = std::move(dates);
    return true;
}

std::optional<QDateTime> LastUsedDates::lastUsed(const QString& path) const
{
    const auto found = dates_.constFind(path);
    if (found == dates_.constEnd()) return std::nullopt;
    return *found;
}

} // namespace quarnkit
