#include "Platform/FileMoves.h"

#include "Platform/FileDescriptor.h"
#include "Platform/PathWalk.h"

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

void removeTreeAt(int folder, const std::string& name)
{
    struct stat entry {};
    if (::fstatat(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (!S_ISDIR(entry.st_mode)) {
        ::unlinkat(folder, name.c_str(), 0);
        return;
    }
    const int inner = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (inner >= 0) {
        std::vector<std::string> names;
        // fdopendir takes the descriptor: closedir closes it.
        if (DIR* dir = ::fdopendir(inner)) {
            while (const dirent* found = ::readdir(dir))
                if (std::strcmp(found->d_name, ".") != 0 && std::strcmp(found->d_name, "..") != 0)
                    names.emplace_back(found->d_name);
            for (const std::string& each : names) removeTreeAt(::dirfd(dir), each);
            ::closedir(dir);
        } else {
            ::close(inner);
        }
    }
    ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
}

} // namespace platform::FileMoves
