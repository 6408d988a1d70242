#include "Platform/PrivateFiles.h"

#include "Platform/FileDescriptor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace platform::PrivateFiles {

bool makeFolder(const QString& folder)
{
    if (!QDir().mkpath(folder)) return false;
    // A folder of another owner that lets us write stays usable as it is.
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    return true;
}

bool write(const QString& path, const QByteArray& bytes)
{
    if (!makeFolder(QFileInfo(path).absolutePath())) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    // QSaveFile gives the new file the old one's mode; this one is fixed.
    // write() only fills a buffer: a disk that runs out of room shows at
    // flush(), and commit() would put the cut-off file in place regardless.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) || file.write(bytes) != bytes.size()
        || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    ::fsync(file.handle());
    return file.commit();
}

std::optional<QString> privateFolderProblem(const QString& folder)
{
    const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const uid_t user = ::geteuid();
    FileDescriptor at(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    QString reached = QStringLiteral("/");
    for (const QString& name : path.split(u'/', Qt::SkipEmptyParts)) {
        struct stat st {};
        if (at.fd < 0 || ::fstat(at.fd, &st) != 0) return QStringLiteral("cannot open ") + reached;
        if (st.st_uid != user && st.st_uid != 0) return reached + QStringLiteral(" belongs to another user");
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX))
            return QStringLiteral("others may write to ") + reached;
        const QByteArray native = QFile::encodeName(name);
        if (::mkdirat(at.fd, native.constData(), 0700) != 0 && errno != EEXIST)
            return QStringLiteral("cannot create ") + path;
        at = FileDescriptor(::openat(at.fd, native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        reached = QDir(reached).filePath(name);
        if (at.fd < 0)
            return errno == ELOOP || errno == ENOTDIR ? reached + QStringLiteral(" is a link or not a folder")
                                                      : QStringLiteral("cannot open ") + reached;
    }
    struct stat st {};
    if (::fstat(at.fd, &st) != 0) return QStringLiteral("cannot open ") + path;
    if (st.st_uid != user) return path + QStringLiteral(" belongs to another user");
    if (st.st_mode & 077)
        return path + QStringLiteral(" is open to other users (mode %1)").arg(st.st_mode & 07777, 4, 8, QChar(u'0'));
    return std::nullopt;
}

namespace {

// The folders made with mkdtemp, by the temporary folder they were made in,
// kept for the run; an empty one is removed when the program ends.
struct MadeFolders {
    std::mutex mutex;
    std::map<QString, QString> made;
    ~MadeFolders()
    {
        for (const auto& [in, folder] : made) ::rmdir(QFile::encodeName(folder).constData());
    }
};

MadeFolders& madeFolders()
{
    static MadeFolders folders;
    return folders;
}

} // namespace

PrivateWorkFolder PrivateWorkFolder::standard()
{
    const QString runtime = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    return {runtime.startsWith(u'/') ? runtime : QString(), QDir::tempPath()};
}

QString PrivateWorkFolder::path() const
{
    QString runtimeProblem;
    if (!runtime_.isEmpty()) {
        const QString folder = QDir(runtime_).filePath(QStringLiteral("ravlen"));
        const auto problem = privateFolderProblem(folder);
        if (!problem) return folder;
        runtimeProblem = *problem;
    }
    MadeFolders& folders = madeFolders();
    const std::lock_guard<std::mutex> lock(folders.mutex);
    const auto known = folders.made.find(temporary_);
    // Checked again: what was ours may have been removed and taken since.
    if (known != folders.made.end() && !privateFolderProblem(known->second)) return known->second;

    QByteArray pattern = QFile::encodeName(QDir(temporary_).filePath(QStringLiteral("ravlen-XXXXXX")));
    if (!::mkdtemp(pattern.data())) {
        const QString why = QStringLiteral("cannot make a private folder in %1: %2")
                                .arg(temporary_, QString::fromLocal8Bit(std::strerror(errno)));
        throw PrivateFolderError(runtimeProblem.isEmpty() ? why : runtimeProblem + QStringLiteral("; ") + why);
    }
    const QString made = QFile::decodeName(pattern);
    if (const auto problem = privateFolderProblem(made)) throw PrivateFolderError(*problem);
    folders.made[temporary_] = made;
    return made;
}

} // namespace platform::PrivateFiles
