#include "QuarnKit/Explore/ExploreItem.h"

#include "QuarnKit/History/LibraryTexts.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <array>

namespace quarnkit {

ExploreItem ExploreItem::make(const QString& path, const std::optional<QString>& name,
                              const std::optional<QString>& title, std::optional<std::int64_t> pageCount,
                              std::optional<std::int64_t> size, std::optional<QDateTime> lastUsed,
                              std::optional<QDateTime> dateAdded, std::optional<QDateTime> modified)
{
    ExploreItem item;
    item.path = path;
    item.name = name.value_or(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
    item.title = DocumentTitle::sensible(title, item.name);
    item.pageCount = pageCount;
    item.size = size;
    item.lastUsed = std::move(lastUsed);
    item.dateAdded = std::move(dateAdded);
    item.modified = std::move(modified);
    return item;
}

QUrl ExploreItem::url() const { return QUrl::fromLocalFile(path); }

QString ExploreItem::folderPath() const
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString ExploreItem::displayTitle() const
{
    if (title) return *title;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QString ExploreItem::detail() const { return LibraryFormat::detail(pageCount, size); }

// ---------------------------------------------------------------- exclusions

namespace {

QString withSlash(QString folder)
{
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}

// The system's own folders: what lives there belongs to programs, not to
// the user (removable drives and network places are not walked either).
const std::array<QLatin1String, 17> systemPrefixes{
    QLatin1String("/proc/"),  QLatin1String("/sys/"), QLatin1String("/dev/"),  QLatin1String("/run/"),
    QLatin1String("/boot/"),  QLatin1String("/usr/"), QLatin1String("/lib/"),  QLatin1String("/lib32/"),
    QLatin1String("/lib64/"), QLatin1String("/bin/"), QLatin1String("/sbin/"), QLatin1String("/etc/"),
    QLatin1String("/var/"),   QLatin1String("/tmp/"), QLatin1String("/opt/"),  QLatin1String("/snap/"),
    QLatin1String("/srv/")};

} // namespace

ExploreExclusions::ExploreExclusions(QString home, QStringList ownFolders) : home_(std::move(home))
{
    if (home_.endsWith(QLatin1Char('/'))) home_.chop(1);
    for (const QString& folder : ownFolders) ownFolders_.push_back(withSlash(folder));
}

ExploreExclusions ExploreExclusions::standard()
{
    return forUser(QDir::homePath(), QDir::tempPath(),
                   QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation));
}

ExploreExclusions ExploreExclusions::forUser(const QString& home, const QString& temporary, const QString& cache)
{
    QStringList own{cache, cache + QStringLiteral("/ravlen")};
    const QString homeFolder = withSlash(QDir::cleanPath(home));
    if (!homeFolder.startsWith(withSlash(QDir::cleanPath(temporary)))) own.prepend(temporary);
    return ExploreExclusions(home, own);
}

bool ExploreExclusions::excluded(const QString& path, bool lastIsFile) const
{
    for (const QString& own : ownFolders_)
        if (path.startsWith(own)) return true;
    const QString homeFolder = home_ + QLatin1Char('/');
    const bool inHome = path.startsWith(homeFolder);
    if (!inHome) {
        // A home folder under /var (as on image-based systems) is still the user's.
        for (const QLatin1String& prefix : systemPrefixes)
            if (path.startsWith(prefix)) return true;
    } else if (path.startsWith(homeFolder + QLatin1String("snap/"))) {
        // Snap packages keep their own data there, as programs do in hidden folders.
        return true;
    }
    // Any hidden folder on the way (below the home folder for its files).
    QStringList parts = (inHome ? path.mid(homeFolder.size()) : path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (lastIsFile && !parts.isEmpty()) parts.removeLast();
    for (const QString& part : parts)
        if (part.startsWith(QLatin1Char('.'))) return true;
    return false;
}

bool ExploreExclusions::excludes(const QString& path) const { return excluded(path, true); }

bool ExploreExclusions::excludesFolder(const QString& folder) const { return excluded(withSlash(folder), false); }

} // namespace quarnkit
