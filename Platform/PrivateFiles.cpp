#include "Platform/PrivateFiles.h"

#include "Platform/FileDescriptor.h"
#include "Platform/FileMoves.h"
#include "Platform/FileReplacement.h"
#include "Platform/OwnFolders.h"
#include "Platform/PathWalk.h"
#include "Platform/TrustedProgram.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace platform::PrivateFiles {

namespace {

std::string native(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The temporary folder private folders are made in (temporaryFolder); the
// system's when none may be, where making one fails as it should.
QString judgedTemporaryFolder()
{
    const std::string folder = temporaryFolder();
    return folder.empty() ? QDir::tempPath() : QFile::decodeName(folder.c_str());
}

} // namespace

std::optional<QString> ownFolderProblem(const QString& folder)
{
    const OwnFolder own = holdOwnFolder(native(folder));
    if (own.held()) return std::nullopt;
    return QFile::decodeName(own.problem.c_str());
}

bool makeFolder(const QString& folder) { return holdOwnFolder(native(folder)).held(); }

namespace {

// Writes `bytes` as the private file `name` in the folder `file`.
bool writePrivately(const HeldName& file, const QByteArray& bytes)
{
    try {
        replacePrivateFile(file, [&bytes](int fd) {
            if (const int error = writeAllAt(fd, bytes.constData(), std::size_t(bytes.size()), 0))
                throw PdfError(PdfErrorCode::io, "cannot write the file", error);
        });
    } catch (const PdfError&) {
        return false;
    }
    return true;
}

} // namespace

bool write(const QString& path, const QByteArray& bytes)
{
    if (!makeFolder(QFileInfo(path).absolutePath())) return false;
    // Walked whole: the user's own link at the file's name leads on to its file.
    WalkedPath walked = walkOwnPath(native(path));
    if (walked.end != WalkedPath::End::reached || walked.name.empty()) return false;
    return writePrivately({std::move(walked.folder), walked.folderPath, walked.name}, bytes);
}

bool replace(const QString& path, const QByteArray& bytes)
{
    const QFileInfo info(path);
    OwnFolder folder = holdOwnFolder(native(info.absolutePath()));
    if (!folder.held() || info.fileName().isEmpty()) return false;
    // A link there goes: in a folder of the user's alone, only the user put it there.
    const std::string name = native(info.fileName());
    struct stat st {};
    if (::fstatat(folder.folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        ::unlinkat(folder.folder.fd, name.c_str(), 0);
    return writePrivately({std::move(folder.folder), folder.path, name}, bytes);
}

int openLog(const QString& path, qint64 limit)
{
    const QFileInfo info(path);
    const OwnFolder folder = holdOwnFolder(native(info.absolutePath()));
    if (!folder.held()) return -1;
    const std::string name = native(info.fileName());
    struct stat st {};
    if (::fstatat(folder.folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
        && st.st_size > limit)
        ::unlinkat(folder.folder.fd, name.c_str(), 0);
    FileDescriptor log(::openat(folder.folder.fd, name.c_str(),
                                O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (log.fd < 0 || ::fstat(log.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()
        || ::fchmod(log.fd, 0600) != 0)
        return -1;
    return std::exchange(log.fd, -1);
}

std::optional<QString> privateFolderProblem(const QString& folder)
{
    const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const uid_t user = ::geteuid();
    // Each folder above: the user's or root's, and closed to writing by
    // others unless sticky, so that nobody can put another in its place; no
    // link but root's in a folder only root may change (root holds the way
    // to the folder anyway, as /var/run to /run); missing ones made the user's alone.
    WalkRules rules;
    rules.folder = [](const struct stat& st, int fd) { return keepsOthersOut(st, fd, true); };
    rules.links = WalkRules::Links::rootsOnly;
    rules.makeFolders = 0700;
    WalkedPath walked = walkPath(QFile::encodeName(path).toStdString(), rules);
    const QString at = QFile::decodeName(walked.stoppedAt.c_str());
    switch (walked.end) {
    case WalkedPath::End::reached: break;
    case WalkedPath::End::refused:
        if (walked.stoppedStat.st_uid != user && walked.stoppedStat.st_uid != 0)
            return at + QStringLiteral(" belongs to another user");
        return QStringLiteral("others may write to ") + at;
    case WalkedPath::End::link:
    case WalkedPath::End::notFolder: return at + QStringLiteral(" is a link or not a folder");
    case WalkedPath::End::missing:
    case WalkedPath::End::failed: return QStringLiteral("cannot open or create ") + at;
    }
    FileDescriptor made;
    if (walked.name.empty()) {
        made = std::move(walked.folder);
    } else {
        const char* name = walked.name.c_str();
        if (::mkdirat(walked.folder.fd, name, 0700) != 0 && errno != EEXIST)
            return QStringLiteral("cannot create ") + path;
        made = FileDescriptor(::openat(walked.folder.fd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (made.fd < 0)
            return errno == ELOOP || errno == ENOTDIR ? path + QStringLiteral(" is a link or not a folder")
                                                      : QStringLiteral("cannot open ") + path;
    }
    struct stat st {};
    if (::fstat(made.fd, &st) != 0) return QStringLiteral("cannot open ") + path;
    if (st.st_uid != user) return path + QStringLiteral(" belongs to another user");
    if (st.st_mode & 077)
        return path + QStringLiteral(" is open to other users (mode %1)").arg(st.st_mode & 07777, 4, 8, QChar(u'0'));
    return std::nullopt;
}

namespace {

// The file in a work folder made in the temporary folder whose lock, held
// for the run, tells later runs that the folder is in use.
constexpr char kLockName[] = "in-use.lock";

// A work folder made with mkdtemp and the lock that holds it.
struct MadeFolder {
    QString path;
    FileDescriptor lock;
};

// The folders made with mkdtemp, by the temporary folder they were made in,
// kept for the run; an empty one is removed when the program ends.
struct MadeFolders {
    std::mutex mutex;
    std::map<QString, MadeFolder> made;
    ~MadeFolders()
    {
        for (const auto& [in, folder] : made) {
            const QByteArray native = QFile::encodeName(folder.path);
            ::unlink((native + '/' + kLockName).constData());
            ::rmdir(native.constData());
        }
    }
};

MadeFolders& madeFolders()
{
    static MadeFolders folders;
    return folders;
}

// Opens the lock file of a folder just made and holds it shared for the run.
FileDescriptor holdFolder(const QString& folder)
{
    const QByteArray lock = QFile::encodeName(folder) + '/' + kLockName;
    FileDescriptor fd(::open(lock.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.fd >= 0) ::flock(fd.fd, LOCK_SH);
    return fd;
}

// Each entry of the open folder `fd` but `.` and `..`, by name.
void eachEntry(int fd, const std::function<void(const char* name)>& visit)
{
    const int listed = ::dup(fd);
    DIR* dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!dir) {
        if (listed >= 0) ::close(listed);
        return;
    }
    // The copy shares the descriptor's place: an earlier listing left it at the end.
    ::rewinddir(dir);
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    ::closedir(dir);
    for (const std::string& name : names) visit(name.c_str());
}

// The latest modification time of the open folder `fd` and everything in
// it, links taken as themselves.
std::int64_t latestChange(int fd)
{
    struct stat st {};
    std::int64_t latest = ::fstat(fd, &st) == 0 ? std::int64_t(st.st_mtim.tv_sec) : 0;
    eachEntry(fd, [&](const char* name) {
        struct stat entry {};
        if (::fstatat(fd, name, &entry, AT_SYMLINK_NOFOLLOW) != 0) return;
        latest = std::max(latest, std::int64_t(entry.st_mtim.tv_sec));
        if (!S_ISDIR(entry.st_mode)) return;
        const FileDescriptor inner(::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (inner.fd >= 0) latest = std::max(latest, latestChange(inner.fd));
    });
    return latest;
}

// Whether `name` is one that mkdtemp gives from "ravlen-XXXXXX". The fixed
// name a launch without a runtime folder reaches a running copy through
// (ravlen-<uid>) is not one of them, whatever the number's length.
bool isWorkFolderName(const QString& name)
{
    static const QString prefix = QStringLiteral("ravlen-");
    if (name.size() != prefix.size() + 6 || !name.startsWith(prefix)) return false;
    if (name == prefix + QString::number(::getuid())) return false;
    return std::all_of(name.begin() + prefix.size(), name.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    });
}

} // namespace

PrivateWorkFolder PrivateWorkFolder::standard()
{
    const QString runtime = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    return {runtime.startsWith(u'/') ? runtime : QString(), judgedTemporaryFolder()};
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
    if (known != folders.made.end() && !privateFolderProblem(known->second.path)) return known->second.path;

    QByteArray pattern = QFile::encodeName(QDir(temporary_).filePath(QStringLiteral("ravlen-XXXXXX")));
    if (!::mkdtemp(pattern.data())) {
        const QString why = QStringLiteral("cannot make a private folder in %1: %2")
                                .arg(temporary_, QString::fromLocal8Bit(std::strerror(errno)));
        throw PrivateFolderError(runtimeProblem.isEmpty() ? why : runtimeProblem + QStringLiteral("; ") + why);
    }
    const QString made = QFile::decodeName(pattern);
    if (const auto problem = privateFolderProblem(made)) {
        // Refused (another user holds the temporary folder, say): not left there.
        ::rmdir(pattern.constData());
        throw PrivateFolderError(*problem);
    }
    folders.made[temporary_] = MadeFolder{made, holdFolder(made)};
    return made;
}

int PrivateWorkFolder::removeLeftovers(std::chrono::system_clock::time_point unchangedSince) const
{
    const std::int64_t cutoff =
        std::chrono::duration_cast<std::chrono::seconds>(unchangedSince.time_since_epoch()).count();
    const FileDescriptor temporary(
        ::open(QFile::encodeName(temporary_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (temporary.fd < 0) return 0;
    int removed = 0;
    eachEntry(temporary.fd, [&](const char* name) {
        const QString folder = QFile::decodeName(name);
        // Only the user's own private folders, in a temporary folder nobody
        // else can swap them out of.
        if (!isWorkFolderName(folder) || privateFolderProblem(QDir(temporary_).filePath(folder))) return;
        const FileDescriptor fd(::openat(temporary.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 077)) return;
        // A running copy holds its lock; this one is held while the folder goes.
        const FileDescriptor lock(::openat(fd.fd, kLockName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (lock.fd >= 0 && ::flock(lock.fd, LOCK_EX | LOCK_NB) != 0) return;
        if (latestChange(fd.fd) >= cutoff) return;
        // Only a folder a run of ravlen made (its lock is in it), through its
        // own opening: another user may move a folder of the user's into a
        // sticky temporary folder under such a name.
        struct stat made {};
        if (lock.fd < 0 || ::fstat(lock.fd, &made) != 0 || !S_ISREG(made.st_mode) || made.st_uid != ::geteuid()) return;
        FileMoves::removeFolder(temporary.fd, name, fd.fd);
        struct stat gone {};
        removed += ::fstatat(temporary.fd, name, &gone, AT_SYMLINK_NOFOLLOW) != 0;
    });
    return removed;
}

std::optional<QString> replaceForeignRuntimeFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty()) return std::nullopt;
    std::optional<QString> problem = runtime.startsWith('/')
                                         ? privateFolderProblem(QFile::decodeName(runtime))
                                         : QStringLiteral("the runtime folder is not an absolute path");
    if (!problem) return std::nullopt;
    try {
        const QString own = PrivateWorkFolder(QString(), judgedTemporaryFolder()).path();
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(own));
    } catch (const PrivateFolderError&) {
        qunsetenv("XDG_RUNTIME_DIR");
    }
    return problem;
}

std::optional<QString> replaceForeignTemporaryFolder()
{
    const QByteArray given = qgetenv("TMPDIR");
    if (given.isEmpty()) return std::nullopt;
    const std::optional<std::string> problem = given.startsWith('/')
                                                   ? temporaryFolderProblem(given.toStdString())
                                                   : std::optional<std::string>("it is not an absolute path");
    if (!problem) return std::nullopt;
    const std::string judged = temporaryFolder();
    if (judged.empty()) qunsetenv("TMPDIR");
    else qputenv("TMPDIR", QByteArray::fromStdString(judged));
    return QFile::decodeName(problem->c_str());
}

namespace {

// The home folder, as the desktop's folders are found from it; empty when
// none is known.
QString homeFolder()
{
    const QString home = QFile::decodeName(qgetenv("HOME"));
    if (home.startsWith(u'/')) return home;
    const passwd* account = ::getpwuid(::getuid());
    return account && account->pw_dir && account->pw_dir[0] == '/' ? QFile::decodeName(account->pw_dir) : QString();
}

} // namespace

std::optional<ReplacedBaseFolder> replaceForeignHome()
{
    const QString home = homeFolder();
    if (home.isEmpty()) return std::nullopt;
    const std::optional<std::string> problem = baseFolderProblem(native(home), false);
    // Unset or relative, libraries read the account's, or a folder named from where the program started.
    if (!problem) {
        qputenv("HOME", QFile::encodeName(home));
        return std::nullopt;
    }
    ReplacedBaseFolder entry{QStringLiteral("HOME"), home, QFile::decodeName(problem->c_str()), {}};
    try {
        const QString own = PrivateWorkFolder::standard().path() + QStringLiteral("/home");
        if (makeFolder(own)) entry.replacement = own;
    } catch (const PrivateFolderError&) {}
    qputenv("HOME",
            entry.replacement.isEmpty() ? QByteArray("/dev/null/ravlen") : QFile::encodeName(entry.replacement));
    return entry;
}

std::vector<ReplacedBaseFolder> replaceForeignBaseFolders()
{
    static constexpr struct {
        const char* variable;
        const char* underHome;
        const char* kind;
    } bases[] = {{"XDG_CONFIG_HOME", "/.config", "config"},
                 {"XDG_DATA_HOME", "/.local/share", "data"},
                 {"XDG_STATE_HOME", "/.local/state", "state"},
                 {"XDG_CACHE_HOME", "/.cache", "cache"}};
    std::vector<ReplacedBaseFolder> replaced;
    const QString home = homeFolder();
    for (const auto& base : bases) {
        QString folder = QFile::decodeName(qgetenv(base.variable));
        // A relative one counts for nothing, as the desktop's rules say: the default holds.
        if (!folder.isEmpty() && !folder.startsWith(u'/')) {
            qunsetenv(base.variable);
            folder.clear();
        }
        if (folder.isEmpty()) folder = home.isEmpty() ? QString() : home + QLatin1String(base.underHome);
        if (folder.isEmpty()) continue;
        const std::optional<std::string> problem = baseFolderProblem(native(folder));
        if (!problem) continue;
        ReplacedBaseFolder entry{QLatin1String(base.variable), folder, QFile::decodeName(problem->c_str()), {}};
        try {
            const QString own = PrivateWorkFolder::standard().path() + u'/' + QLatin1String(base.kind);
            if (makeFolder(own)) entry.replacement = own;
        } catch (const PrivateFolderError&) {}
        // With no folder of its own, nothing is made: no folder can be made in a file.
        qputenv(base.variable,
                entry.replacement.isEmpty() ? QByteArray("/dev/null/ravlen") : QFile::encodeName(entry.replacement));
        replaced.push_back(std::move(entry));
    }
    return replaced;
}

QString judgedBaseFolder(const QString& base)
{
    if (base.isEmpty() || baseFolderProblem(native(base), false)) return base;
    const WalkedPath walked = walkOwnPath(native(base + QStringLiteral("/.")));
    if (walked.end != WalkedPath::End::reached) return base;
    return QFile::decodeName(walked.folderPath.c_str());
}

bool makeDialogStatePrivate()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (folder.isEmpty() || baseFolderProblem(native(folder))) return false;
    const WalkedPath walked = walkOwnPath(native(folder + QStringLiteral("/QtProject.conf")));
    if (walked.end != WalkedPath::End::reached || walked.name.empty()) return false;
    const FileDescriptor fd(::openat(walked.folder.fd, walked.name.c_str(),
                                     O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat st {};
    return fd.fd >= 0 && ::fstat(fd.fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()
           && ::fchmod(fd.fd, 0600) == 0;
}

} // namespace platform::PrivateFiles
