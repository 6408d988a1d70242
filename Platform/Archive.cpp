#include "Platform/Archive.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace platform {
namespace Archive {

namespace {

struct ReadCloser {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriteCloser {
    void operator()(archive* a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<archive, ReadCloser>;
using Writer = std::unique_ptr<archive, WriteCloser>;
struct EntryFree {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};

[[noreturn]] void fail(archive* a, const QString& what)
{
    const char* detail = a ? archive_error_string(a) : nullptr;
    throw ArchiveError((what + (detail ? QStringLiteral(": ") + QString::fromUtf8(detail) : QString())).toStdString());
}

// A relative path made only of ordinary components; "." components are
// dropped. Empty when the name is absolute, empty or climbs with "..".
QString safeRelativePath(const QString& name)
{
    if (name.isEmpty() || name.startsWith(u'/')) return {};
    QStringList kept;
    for (const QString& part : name.split(u'/', Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..")) return {};
        if (part != QLatin1String(".")) kept << part;
    }
    return kept.join(u'/');
}

// True when a link at `linkPath` (relative to the destination) pointing at
// `target` stays inside the destination, judged on the names alone.
bool linkStaysInside(const QString& linkPath, const QString& target)
{
    if (target.isEmpty() || target.startsWith(u'/')) return false;
    QStringList parts = linkPath.split(u'/', Qt::SkipEmptyParts);
    parts.removeLast(); // the link's own folder is where the target starts
    for (const QString& part : target.split(u'/', Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".")) continue;
        if (part == QLatin1String("..")) {
            if (parts.isEmpty()) return false;
            parts.removeLast();
        } else {
            parts << part;
        }
    }
    return true;
}

} // namespace

void unzip(const QString& archivePath, const QString& destination)
{
    if (!QFileInfo(destination).isDir()) throw ArchiveError("the destination folder is missing");
    // Resolved, as no link may lie on the way to what is written.
    const QString root = QFileInfo(destination).canonicalFilePath();

    Reader reader(archive_read_new());
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(archivePath).constData(), 1 << 16) != ARCHIVE_OK)
        fail(reader.get(), QStringLiteral("cannot open the archive"));

    Writer writer(archive_write_disk_new());
    // The names are checked here before they are joined to the destination;
    // libarchive still refuses to write through any link on the way.
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                     ARCHIVE_EXTRACT_SECURE_NODOTDOT);

    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF) break;
        if (status < ARCHIVE_WARN) fail(reader.get(), QStringLiteral("damaged archive"));

        const char* rawName = archive_entry_pathname(entry);
        const QString name = rawName ? QString::fromUtf8(rawName) : QString();
        const QString relative = safeRelativePath(name);
        if (relative.isEmpty()) throw ArchiveError(("unsafe entry name: " + name).toStdString());

        const mode_t type = archive_entry_filetype(entry);
        if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK)
            throw ArchiveError(("unsupported entry kind: " + name).toStdString());
        if (archive_entry_hardlink(entry)) throw ArchiveError(("hard link entry: " + name).toStdString());
        if (type == AE_IFLNK) {
            const char* rawTarget = archive_entry_symlink(entry);
            const QString target = rawTarget ? QString::fromUtf8(rawTarget) : QString();
            if (!linkStaysInside(relative, target))
                throw ArchiveError(("link points outside the folder: " + name + " -> " + target).toStdString());
        }

        archive_entry_set_pathname(entry, QFile::encodeName(root + u'/' + relative).constData());
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
        if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN) fail(writer.get(), QStringLiteral("cannot write ") + name);
        if (type == AE_IFREG && archive_entry_size(entry) > 0) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            for (;;) {
                const int read = archive_read_data_block(reader.get(), &block, &size, &offset);
                if (read == ARCHIVE_EOF) break;
                if (read < ARCHIVE_WARN) fail(reader.get(), QStringLiteral("damaged entry ") + name);
                if (archive_write_data_block(writer.get(), block, size, offset) < ARCHIVE_WARN)
                    fail(writer.get(), QStringLiteral("cannot write ") + name);
            }
        }
        if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN) fail(writer.get(), QStringLiteral("cannot finish ") + name);
    }
    // Folder modes and times are set here, after their contents.
    if (archive_write_close(writer.get()) != ARCHIVE_OK) fail(writer.get(), QStringLiteral("cannot finish unpacking"));
}

void writeZip(const QString& archivePath, const std::vector<Entry>& entries)
{
    Writer writer(archive_write_new());
    archive_write_set_format_zip(writer.get());
    if (archive_write_open_filename(writer.get(), QFile::encodeName(archivePath).constData()) != ARCHIVE_OK)
        fail(writer.get(), QStringLiteral("cannot create the archive"));
    for (const Entry& item : entries) {
        std::unique_ptr<archive_entry, EntryFree> entry(archive_entry_new());
        archive_entry_set_pathname_utf8(entry.get(), item.path.toUtf8().constData());
        archive_entry_set_perm(entry.get(), static_cast<mode_t>(item.mode & 07777));
        archive_entry_set_mtime(entry.get(), 0, 0);
        switch (item.kind) {
        case Entry::Kind::file:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_size(entry.get(), item.data.size());
            break;
        case Entry::Kind::folder:
            archive_entry_set_filetype(entry.get(), AE_IFDIR);
            break;
        case Entry::Kind::link:
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_symlink_utf8(entry.get(), item.linkTarget.toUtf8().constData());
            break;
        }
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK) fail(writer.get(), QStringLiteral("cannot add ") + item.path);
        if (item.kind == Entry::Kind::file && !item.data.isEmpty() &&
            archive_write_data(writer.get(), item.data.constData(), static_cast<size_t>(item.data.size())) != item.data.size())
            fail(writer.get(), QStringLiteral("cannot add ") + item.path);
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK) fail(writer.get(), QStringLiteral("cannot finish the archive"));
}

std::vector<Entry> folderEntries(const QString& folder)
{
    const QFileInfo top(folder);
    if (!top.isDir() || top.isSymLink()) throw ArchiveError(("not a folder: " + folder).toStdString());
    const QDir base = top.absoluteDir();
    auto entryOf = [&](const QFileInfo& info) {
        Entry entry;
        entry.path = base.relativeFilePath(info.absoluteFilePath());
        struct stat st {};
        if (::lstat(QFile::encodeName(info.absoluteFilePath()).constData(), &st) != 0)
            throw ArchiveError(("cannot read " + entry.path).toStdString());
        entry.mode = static_cast<int>(st.st_mode & 07777);
        if (info.isSymLink()) {
            entry.kind = Entry::Kind::link;
            QByteArray target(4096, Qt::Uninitialized);
            const ssize_t length = ::readlink(QFile::encodeName(info.absoluteFilePath()).constData(), target.data(),
                                              static_cast<size_t>(target.size()));
            if (length < 0) throw ArchiveError(("cannot read " + entry.path).toStdString());
            entry.linkTarget = QFile::decodeName(target.left(length));
        } else if (info.isDir()) {
            entry.kind = Entry::Kind::folder;
        } else {
            QFile file(info.absoluteFilePath());
            if (!file.open(QIODevice::ReadOnly)) throw ArchiveError(("cannot read " + entry.path).toStdString());
            entry.data = file.readAll();
        }
        return entry;
    };
    std::vector<Entry> entries{entryOf(top)};
    QDirIterator it(top.absoluteFilePath(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) entries.push_back(entryOf(QFileInfo(it.next())));
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.path < b.path; });
    return entries;
}

} // namespace Archive
} // namespace platform
