#include "Platform/FileMoves.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include <fcntl.h>

namespace platform::FileMoves {

namespace {

int renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    return ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

} // namespace

int moveNoReplace(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from), target = QFile::encodeName(to);
    const int error = renameNoReplace(source, target);
    if (error != EXDEV) return error;

    // Another file system: copy next to the destination first, so that the
    // entry appears there whole, by one rename.
    const QFileInfo info(to);
    const QByteArray staging = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()
                                                 + QLatin1Char('.') + QUuid::createUuid().toString(QUuid::Id128));
    std::error_code ec;
    std::filesystem::copy(source.toStdString(), staging.toStdString(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks, ec);
    const int result = ec ? ec.value() : renameNoReplace(staging, target);
    if (result != 0) {
        std::filesystem::remove_all(staging.toStdString(), ec);
        return result;
    }
    std::filesystem::remove_all(source.toStdString(), ec);
    return 0;
}

int moveReplacing(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from), target = QFile::encodeName(to);
    if (std::rename(source.constData(), target.constData()) == 0) return 0;
    if (errno != EXDEV) return errno;
    std::error_code ec;
    const QByteArray staging = target + "." + QUuid::createUuid().toString(QUuid::Id128).toLatin1();
    std::filesystem::copy_file(source.toStdString(), staging.toStdString(), ec);
    int result = ec ? ec.value() : 0;
    if (!ec && std::rename(staging.constData(), target.constData()) != 0) result = errno;
    if (result != 0) {
        std::filesystem::remove(staging.toStdString(), ec);
        return result;
    }
    std::filesystem::remove(source.toStdString(), ec);
    return 0;
}

std::optional<QString> moveAside(const QString& path)
{
    const QFileInfo info(path);
    const QString stem = info.completeBaseName();
    for (int n = 1; n <= 100; ++n) {
        const QString name =
            n == 1 ? stem + QStringLiteral(".corrupt.json") : stem + QStringLiteral(".corrupt-%1.json").arg(n);
        const int error = moveNoReplace(path, info.dir().filePath(name));
        if (error == 0) return name;
        if (error != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

} // namespace platform::FileMoves
