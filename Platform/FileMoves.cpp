#include "Platform/FileMoves.h"

#include "Platform/FileDescriptor.h"
#include "Platform/PathWalk.h"
#include "Platform/TrustedProgram.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::FileMoves {

std::optional<QString> moveAside(const QString& path, const QString& keptFor)
{
    const WalkedPath walked = walkPath(QFile::encodeName(path).toStdString());
    if (walked.end != WalkedPath::End::reached || !walked.exists()) return std::nullopt;
    const QString stem =
        QFileInfo(keptFor.isEmpty() ? QFile::decodeName(walked.name.c_str()) : keptFor).completeBaseName();
    for (int n = 1; n <= 100; ++n) {
        const QString name =
            n == 1 ? stem + QStringLiteral(".corrupt.json") : stem + QStringLiteral(".corrupt-%1.json").arg(n);
        if (::renameat2(walked.folder.fd, walked.name.c_str(), walked.folder.fd, QFile::encodeName(name).constData(),
                        RENAME_NOREPLACE)
            == 0)
            return name;
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> entriesAt(int folder)
{
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!dir) {
        if (listed >= 0) ::close(listed);
        return std::nullopt;
    }
    // fdopendir takes the descriptor: closedir closes it.
    std::vector<std::string> names;
    while (const dirent* found = ::readdir(dir))
        if (std::strcmp(found->d_name, ".") != 0 && std::strcmp(found->d_name, "..") != 0)
            names.emplace_back(found->d_name);
    ::closedir(dir);
    return names;
}

namespace {

// Removes each entry of the folder open at `folder`; false when one stays.
bool emptyFolder(int folder)
{
    const std::optional<std::vector<std::string>> names = entriesAt(folder);
    if (!names) return false;
    bool all = true;
    for (const std::string& each : *names) all = removeTreeAt(folder, each) && all;
    return all;
}

} // namespace

bool removeTreeAt(int folder, const std::string& name)
{
    struct stat held {
    }, entry{};
    if (::fstat(folder, &held) != 0 || !keepsOthersOut(held, folder, false)) return false;
    if (::fstatat(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(entry.st_mode)) return ::unlinkat(folder, name.c_str(), 0) == 0;
    const FileDescriptor inner(::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return inner.fd >= 0 && removeFolder(folder, name, inner.fd);
}

bool removeFolder(int parent, const std::string& name, int folder)
{
    if (!emptyFolder(folder)) return false;
    struct stat own {
    }, there{};
    if (::fstat(folder, &own) != 0 || ::fstatat(parent, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0
        || own.st_dev != there.st_dev || own.st_ino != there.st_ino)
        return false;
    // Only an empty folder is removed: one put there since that holds anything stays.
    return ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

} // namespace platform::FileMoves
