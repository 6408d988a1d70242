#include "QuarnKit/Update/UpdateStaging.h"

#include "QuarnKit/Update/UpdateError.h"
#include "QuarnKit/Update/UpdateVerifier.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace quarnkit {

namespace {

bool isPlainName(const QString& text)
{
    if (text.isEmpty() || text == QLatin1String(".") || text == QLatin1String("..")) return false;
    for (const QChar c : text)
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'.'
              || c == u'-'))
            return false;
    return true;
}

int removeEntry(const char* path, const struct stat*, int type, struct FTW*)
{
    if (type == FTW_DP) ::rmdir(path);
    else ::unlink(path);
    return 0; // what cannot be removed stays for a later clean
}

// A folder opened without following a link; -1 when it is not a folder.
int openFolder(const QByteArray& path)
{
    return ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

std::unique_ptr<StagingFolder> StagingFolder::make(const WorkFolder& place, const QString& identifier)
{
    QString root;
    try {
        root = place.path();
    } catch (const platform::PrivateFiles::PrivateFolderError& error) {
        qWarning("ravlen: no private folder for the update: %s", qUtf8Printable(error.message()));
        throw UpdateFailure(UpdateError::noPrivateFolder);
    }
    const QString path =
        root + u'/' + prefix(identifier) + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QByteArray native = QFile::encodeName(path);
    // A name that exists already is refused, never reused.
    if (::mkdir(native.constData(), 0700) != 0) throw UpdateFailure(UpdateError::noPrivateFolder);
    const int lock = openFolder(native);
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        if (lock >= 0) ::close(lock);
        remove(path);
        throw UpdateFailure(UpdateError::noPrivateFolder);
    }
    return std::unique_ptr<StagingFolder>(new StagingFolder(path, lock));
}

StagingFolder::~StagingFolder()
{
    if (lock_ >= 0) ::close(lock_);
}

QString StagingFolder::archive() const { return path_ + QStringLiteral("/update.zip"); }
QString StagingFolder::unzipped() const { return path_ + QStringLiteral("/Unzipped"); }

void StagingFolder::handOver()
{
    if (lock_ < 0) return;
    ::futimens(lock_, nullptr);
    ::close(lock_);
    lock_ = -1;
}

QString StagingFolder::prefix(const QString& identifier)
{
    return (isPlainName(identifier) ? identifier : QString()) + QStringLiteral("-update-");
}

QString StagingFolder::privateRoot(const WorkFolder& place) { return place.path(); }

void StagingFolder::remove(const QString& path)
{
    if (path.isEmpty()) return;
    ::nftw(QFile::encodeName(path).constData(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void StagingFolder::removeStale(const WorkFolder& place, const QString& identifier, const QDateTime& now)
{
    QByteArray root;
    try {
        root = QFile::encodeName(place.path());
    } catch (const platform::PrivateFiles::PrivateFolderError&) {
        return;
    }
    struct stat rootInfo {};
    // Only a private folder of the user's own is cleaned: a link or a folder
    // someone else made in its place is left alone.
    if (::lstat(root.constData(), &rootInfo) != 0 || !S_ISDIR(rootInfo.st_mode) || rootInfo.st_uid != ::getuid()
        || (rootInfo.st_mode & 077) != 0)
        return;
    const int rootFd = openFolder(root);
    if (rootFd < 0) return;
    DIR* dir = ::fdopendir(rootFd);
    if (!dir) {
        ::close(rootFd);
        return;
    }
    const QByteArray wanted = QFile::encodeName(prefix(identifier));
    const qint64 cutoff = now.toSecsSinceEpoch() - staleAfterSeconds;
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(dir))
        if (std::strncmp(entry->d_name, wanted.constData(), size_t(wanted.size())) == 0)
            names.emplace_back(entry->d_name);

    for (const QByteArray& name : names) {
        const int fd = ::openat(::dirfd(dir), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue; // a file or a link of that name is not ours to judge
        struct stat st {};
        // Held while it is checked, so that nobody starts using it meanwhile.
        const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (free && ::fstat(fd, &st) == 0 && st.st_uid == ::getuid() && qint64(st.st_mtim.tv_sec) <= cutoff)
            remove(QFile::decodeName(root + '/' + name));
        ::close(fd);
    }
    ::closedir(dir);
}

QString UpdateVerification::verifyDownload(const DownloadCheck& check)
{
    try {
        const QString app =
            UpdateVerifier::checkAndUnpack(check.archive, check.expected, check.publicKey, check.unzipped);
        const AppRelease release =
            UpdateVerifier::checkApp(app, check.identifier, check.current, check.chip, check.team, check.publicKey);
        if (!(release == check.offered)) throw UpdateFailure(UpdateError::damagedFeed);
        return app;
    } catch (const UpdateFailure&) {
        throw;
    } catch (const std::exception&) {
        throw UpdateFailure(UpdateError::damagedArchive);
    }
}

} // namespace quarnkit
