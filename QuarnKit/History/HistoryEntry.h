#pragma once
// One remembered PDF of the history, and the JSON form of the history file
// (history.json): one line, sorted keys, dates as seconds since 1970, read
// leniently so that one damaged entry costs only itself.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <cstdint>
#include <optional>
#include <vector>

namespace quarnkit {

struct HistoryEntry {
    QUuid id;
    QString path;                       // standardized, links kept
    std::optional<QByteArray> bookmark; // kept as read; Linux makes none
    std::optional<QString> title;
    std::optional<std::int64_t> pageCount;
    QDateTime firstOpened;
    QDateTime lastOpened;
    std::int64_t openCount = 1;

    QUrl url() const;
    // The file name without its last extension (Report.final.pdf gives Report.final).
    QString fileName() const;
    // The folder of the file.
    QString folderPath() const;
    // The title when there is one (an empty one included), else the file name.
    QString displayTitle() const;

    friend bool operator==(const HistoryEntry&, const HistoryEntry&) = default;
};

// The path as the history keeps it: "." and ".." resolved, symbolic links
// kept, so the path the user opened is the one shown. Empty when the path
// cannot be recorded: empty, or decoded from a name that is not valid UTF-8
// (such a name cannot be written back to the file system).
QString historyPath(const QString& path);

namespace HistoryFile {

inline constexpr const char* fileName = "history.json";

// What a read of the file's bytes gives.
struct Decoded {
    bool damaged = false;              // not a JSON object with an "entries" list: nothing was read
    int dropped = 0;                   // entries left out because they could not be read
    std::vector<HistoryEntry> entries; // in file order, not yet cleaned
};

Decoded decode(const QByteArray& bytes);

// Newest first (stable), paths standardized, empty and repeated paths
// dropped (the newest of a path wins), at most `limit` entries.
std::vector<HistoryEntry> cleaned(std::vector<HistoryEntry> entries, int limit);

// {"entries":[…],"version":1} on one line. An entry that cannot be written
// (no id, no path, a date beyond what JSON can hold) is left out, so that it
// never blocks the rest.
QByteArray encode(const std::vector<HistoryEntry>& entries);

} // namespace HistoryFile

} // namespace quarnkit
