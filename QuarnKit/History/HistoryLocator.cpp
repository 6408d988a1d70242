#include "QuarnKit/History/HistoryLocator.h"

#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>

namespace quarnkit {

namespace HistoryLocator {

namespace {

// ".Trash-1000": the per-user trash at the top of a mount without a shared .Trash.
bool isUserTrashFolder(QStringView component)
{
    static constexpr QStringView prefix = u".Trash-";
    if (!component.startsWith(prefix) || component.size() == prefix.size()) return false;
    for (const QChar c : component.mid(prefix.size()))
        if (!c.isDigit()) return false;
    return true;
}

} // namespace

HistoryResolution resolve(const HistoryEntry& entry, const Exists& exists)
{
    if (!entry.path.isEmpty() && exists(entry.path) && !isTrashed(entry.path))
        return HistoryResolution::present(entry.path);
    return HistoryResolution::missing();
}

QString homeTrashFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
}

bool isTrashed(const QString& path) { return isTrashed(path, homeTrashFolder()); }

bool isTrashed(const QString& path, const QString& homeTrash)
{
    if (!homeTrash.isEmpty()) {
        const QString trash = standardizedPath(homeTrash);
        if (path == trash || path.startsWith(trash + QLatin1Char('/'))) return true;
    }
    for (const QStringView component : QStringView(path).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (component == u".Trash" || component == u".Trashes" || component.startsWith(u".DocumentRevisions")
            || isUserTrashFolder(component))
            return true;
    }
    return false;
}

bool defaultExists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

} // namespace HistoryLocator

std::optional<FileIdentity> FileIdentity::of(const QString& path)
{
    if (path.isEmpty()) return std::nullopt;
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return std::nullopt;
    return FileIdentity{std::uint64_t(info.st_dev), std::uint64_t(info.st_ino)};
}

bool sameFile(const QString& a, const QString& b)
{
    const auto first = FileIdentity::of(a);
    const auto second = FileIdentity::of(b);
    if (first && second) return *first == *second;
    return standardizedPath(a) == standardizedPath(b);
}

} // namespace quarnkit
