#pragma once
// When the user last opened each PDF: the later of ravlen's own history
// (history.json) and the desktop's list of recently used files
// (recently-used.xbel). Read from the files, off the UI thread, and read
// again only when one of them changed.
#include <QDateTime>
#include <QString>

#include <QHash>

#include <cstdint>
#include <optional>

namespace quarnkit {

class LastUsedDates {
public:
    LastUsedDates(QString historyFile, QString recentsFile);
    // ravlen's history file and the desktop's list.
    static LastUsedDates standard();

    // Reads the files again when either changed since the last call. True
    // when the dates changed. One thread at a time.
    bool refresh();
    std::optional<QDateTime> lastUsed(const QString& path) const;

private:
    struct Stamp {
        std::int64_t size = -1;
        std::int64_t modifiedNs = -1;
        std::uint64_t inode = 0;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    static Stamp stampOf(const QString& path);

    QString historyFile_;
    QString recentsFile_;
    std::optional<Stamp> historyStamp_, recentsStamp_;
    QHash<QString, QDateTime> dates_;
};

} // namespace quarnkit
