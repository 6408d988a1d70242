#pragma once
// A PDF found by a search of the computer, and the paths a search never
// shows. Values only; any thread.
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <optional>
#include <string>

namespace quarnkit {

struct ExploreItem {
    QString path;
    QString name;                 // with its extension
    std::optional<QString> title; // a title worth showing (DocumentTitle::sensible)
    std::optional<std::int64_t> pageCount;
    std::optional<std::int64_t> size;
    std::optional<QDateTime> lastUsed;
    std::optional<QDateTime> dateAdded;
    std::optional<QDateTime> modified;

    // A missing name is the path's last component; the title is kept only
    // when it says something the name does not.
    static ExploreItem make(const QString& path, const std::optional<QString>& name = {},
                            const std::optional<QString>& title = {}, std::optional<std::int64_t> pageCount = {},
                            std::optional<std::int64_t> size = {}, std::optional<QDateTime> lastUsed = {},
                            std::optional<QDateTime> dateAdded = {}, std::optional<QDateTime> modified = {});

    const QString& id() const { return path; }
    QUrl url() const;
    QString folderPath() const;
    // The title, else the name without its extension.
    QString displayTitle() const;
    // "12 pages · 1.3 MB": the row's second line.
    QString detail() const;

    friend bool operator==(const ExploreItem&, const ExploreItem&) = default;
};

// The paths a search never shows: outside the home folder, the system's own
// folders; anywhere, hidden folders (a name starting with a full stop, which
// holds the caches, the trash, settings and application data under the
// home folder), the snap packages' folders, and the program's own temporary
// and cache folders.
class ExploreExclusions {
public:
    // `home` loses a trailing slash; each own folder gains one.
    ExploreExclusions(QString home, QStringList ownFolders);
    // This user's: the home folder; the temporary folder, the cache folder
    // and ravlen's cache folder as own folders.
    static ExploreExclusions standard();
    // The same for the given folders. The temporary folder is left out
    // only when the home folder is not that folder or inside it (a home
    // under /tmp would otherwise hide every PDF).
    static ExploreExclusions forUser(const QString& home, const QString& temporary, const QString& cache);

    const QString& home() const { return home_; }

    // The file at `path` is never shown.
    bool excludes(const QString& path) const;
    // Nothing inside `folder` is ever shown (so the indexer need not enter it).
    bool excludesFolder(const QString& folder) const;

private:
    bool excluded(const QString& path, bool lastIsFile) const;

    QString home_;
    QStringList ownFolders_;
};

} // namespace quarnkit
