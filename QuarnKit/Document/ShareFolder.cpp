#include "QuarnKit/Document/ShareFolder.h"

#include "Platform/FileMoves.h"

#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace quarnkit {

namespace {

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Makes `path` a folder of this user's with mode 0700, or throws. The check
// reads the entry itself (lstat), so a link planted in its place is refused
// rather than followed; the mode is fixed through a descriptor opened without
// following links.
void ensurePrivateFolder(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) {
        if (errno != ENOENT)
            throw ShareError(QObject::tr("The folder “%1” cannot be read: %2.").arg(path, systemError(errno)));
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            throw ShareError(QObject::tr("The folder “%1” could not be made: %2.").arg(path, systemError(errno)));
        if (::lstat(native.constData(), &st) != 0)
            throw ShareError(QObject::tr("The folder “%1” cannot be read: %2.").arg(path, systemError(errno)));
    }
    if (S_ISLNK(st.st_mode)) throw ShareError(QObject::tr("“%1” is a link, not a private folder.").arg(path));
    if (!S_ISDIR(st.st_mode)) throw ShareError(QObject::tr("“%1” is not a folder.").arg(path));
    if (st.st_uid != ::getuid()) throw ShareError(QObject::tr("The folder “%1” belongs to another user.").arg(path));
    if ((st.st_mode & 07777) == 0700) return;

    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw ShareError(QObject::tr("The folder “%1” cannot be opened: %2.").arg(path, systemError(errno)));
    struct stat opened {};
    const bool same = ::fstat(fd, &opened) == 0 && opened.st_dev == st.st_dev && opened.st_ino == st.st_ino;
    const bool fixed = same && ::fchmod(fd, 0700) == 0;
    const int error = errno;
    ::close(fd);
    if (!same) throw ShareError(QObject::tr("The folder “%1” changed while it was checked.").arg(path));
    if (!fixed)
        throw ShareError(QObject::tr("The folder “%1” cannot be made private: %2.").arg(path, systemError(error)));
}

} // namespace

// ---------------------------------------------------------------- ShareFolder

ShareFolder::ShareFolder(WorkFolder place) : place_(std::move(place)) {}

QString ShareFolder::privateRoot() const
{
    try {
        return place_.path();
    } catch (const platform::PrivateFiles::PrivateFolderError& error) {
        throw ShareError(QObject::tr("There is no private folder for the copy: %1.").arg(error.message()));
    }
}

QString ShareFolder::path() const { return privateRoot() + QStringLiteral("/ravlen Share"); }

void ShareFolder::prepare() const { ensurePrivateFolder(path()); }

void ShareFolder::preparePrivateRoot() const { privateRoot(); }

void ShareFolder::clean(const QDateTime& now) const
{
    QString share;
    try {
        share = path();
    } catch (const ShareError&) {
        return;
    }
    const QByteArray folder = QFile::encodeName(share);
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    const qint64 cutoff = now.toSecsSinceEpoch() - maxAgeSeconds;
    std::vector<std::string> old;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        struct stat st {};
        // An entry whose time cannot be read counts as made long ago.
        const bool known = ::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!known || qint64(st.st_mtim.tv_sec) < cutoff) old.push_back(name);
    }
    // Through the folder held, which only the user may change: never by a
    // path another user could have led elsewhere.
    for (const std::string& entry : old) platform::FileMoves::removeTreeAt(::dirfd(dir), entry);
    ::closedir(dir);
}

QString ShareFolder::writeCopy(const QByteArray& bytes, const QString& baseName) const
{
    const QString folder = path();
    ensurePrivateFolder(folder);
    clean();
    const QString own = folder + '/' + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    // The copy holds the user's document: theirs alone, like its folder,
    // written as every private file is (through the walk, never through a
    // name someone else could have made).
    if (const auto problem = platform::PrivateFiles::ownFolderProblem(own))
        throw ShareError(QObject::tr("The folder “%1” could not be made: %2.").arg(own, *problem));
    const QString file = own + '/' + baseName + QStringLiteral(".pdf");
    if (!platform::PrivateFiles::write(file, bytes)) throw ShareError(QObject::tr("The copy could not be written."));
    return file;
}

QString ShareFolder::writeMailCopy(const QByteArray& bytes, const QString& baseName) const
{
    const QString copy = writeCopy(bytes, plainName(baseName));
    // The share folder is named from $XDG_RUNTIME_DIR or $TMPDIR, and
    // xdg-email hands on the path with its links resolved.
    for (const QString& handed : {copy, QFileInfo(copy).canonicalFilePath()}) {
        if (std::any_of(handed.begin(), handed.end(), [](QChar c) {
                return c == u'\'' || c == u',' || c == u'\\' || c == u'%' || c.category() == QChar::Other_Control;
            }))
            throw ShareError(QObject::tr("The mail program can't be handed a file in “%1”: its path holds a quote, a "
                                         "comma, a backslash or a percent sign. Copy still hands the PDF on.")
                                 .arg(QFileInfo(handed).path()));
    }
    return copy;
}

QString ShareFolder::plainName(const QString& name)
{
    // Nicer look-alikes for the two the mail road splits at; ASCII's other
    // punctuation has its full-width forms.
    const auto lookAlike = [](char32_t c) -> char32_t {
        if (c == U'\'') return U'\u2019';
        if (c == U',') return U'\u201A';
        if (c > 0x20 && c < 0x7F) return c - 0x21 + 0xFF01;
        return 0;
    };
    const auto kept = [](char32_t c) {
        return QChar::isLetterOrNumber(c) || QChar::isMark(c) || c == U'.' || c == U'-' || c == U'_' || c == U'\u2019'
               || c == U'\u201A' || (c >= 0xFF01 && c <= 0xFF5E);
    };
    QString plain;
    for (const char32_t c : name.normalized(QString::NormalizationForm_C).toUcs4()) {
        const char32_t made = kept(c) ? c : QChar::isSpace(c) ? U' ' : lookAlike(c) ? lookAlike(c) : U'_';
        if (made == U' ' && (plain.isEmpty() || plain.endsWith(u' '))) continue;
        // Within a file name's 255 bytes, ".pdf" beside it.
        const QString next = QString::fromUcs4(&made, 1);
        if ((plain + next).toUtf8().size() > 240) break;
        plain += next;
    }
    plain = plain.trimmed();
    return plain.isEmpty() ? QStringLiteral("Untitled") : plain;
}

QString ShareFolder::baseName(const QString& path)
{
    const QString name = path.isEmpty() ? QString() : QFileInfo(path).completeBaseName().trimmed();
    return name.isEmpty() ? QStringLiteral("Untitled") : name;
}

} // namespace quarnkit
