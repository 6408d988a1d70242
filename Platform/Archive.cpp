#include "Platform/Archive.h"

#include "Platform/FileDescriptor.h"
#include "Platform/FolderWalk.h"
#include "Platform/Utf8.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

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

[[noreturn]] void refuse(const std::string& what, const std::string& name = {})
{
    throw ArchiveError(name.empty() ? what : what + ": " + name);
}

// ---------------------------------------------------------------- the archive's own directory

// What libarchive takes on trust or rewrites is checked on the archive's bytes
// first: it reads the name from the local header (or from an extra field), a
// named pipe comes out of it as a plain file, and a name that is not UTF-8 as
// whatever the locale makes of it. So the directory must end the archive, each
// record must agree with its local header, carry only extra fields that hold
// times and owners, a Unix file kind libarchive keeps, and a UTF-8 name.
// Returns the number of entries.
int checkDirectory(const QByteArray& zip)
{
    const auto byte = [&](qsizetype at) { return std::uint32_t(static_cast<unsigned char>(zip[at])); };
    const auto u16 = [&](qsizetype at) { return byte(at) | byte(at + 1) << 8; };
    const auto u32 = [&](qsizetype at) { return u16(at) | u16(at + 2) << 16; };
    const auto damaged = [] { refuse("damaged archive"); };
    const auto checkExtras = [&](qsizetype at, qsizetype length) {
        for (const qsizetype end = at + length; at < end;) {
            if (end - at < 4 || end - at - 4 < qsizetype(u16(at + 2))) damaged();
            switch (u16(at)) {
            case 0x000a:
            case 0x000d:
            case 0x5455:
            case 0x5855:
            case 0x7855:
            case 0x7875: break;
            default: refuse("an entry with an extra field this program does not read");
            }
            at += 4 + u16(at + 2);
        }
    };

    constexpr qsizetype endRecord = 22, record = 46, localRecord = 30;
    const qsizetype end = zip.size() - endRecord;
    if (end < 0 || u32(end) != 0x06054b50 || u16(end + 20) != 0 || u16(end + 4) != 0 || u16(end + 6) != 0
        || u16(end + 8) != u16(end + 10) || qsizetype(u32(end + 16)) + qsizetype(u32(end + 12)) != end)
        damaged();
    const qsizetype directory = u32(end + 16);
    const int count = int(u16(end + 10));
    qsizetype at = directory;
    for (int i = 0; i < count; ++i) {
        if (end - at < record || u32(at) != 0x02014b50) damaged();
        const qsizetype nameLength = u16(at + 28), extraLength = u16(at + 30), commentLength = u16(at + 32);
        if (end - at - record < nameLength + extraLength + commentLength) damaged();
        const QByteArray name = zip.mid(at + record, nameLength);
        checkExtras(at + record + nameLength, extraLength);
        if (!isUtf8(std::string_view(name.constData(), size_t(name.size())))) refuse("a name that is not UTF-8");
        const std::uint32_t type = (u32(at + 38) >> 16) & S_IFMT;
        if ((u16(at + 4) >> 8) == 3 && type != 0 && type != S_IFREG && type != S_IFDIR && type != S_IFLNK)
            refuse("an entry that is neither a file, a folder nor a link", name.toStdString());

        const qsizetype local = u32(at + 42);
        if (directory - local < localRecord || u32(local) != 0x04034b50 || u16(local + 6) != u16(at + 8)) damaged();
        const qsizetype localName = u16(local + 26), localExtra = u16(local + 28);
        if (directory - local - localRecord < localName + localExtra || zip.mid(local + localRecord, localName) != name)
            damaged();
        checkExtras(local + localRecord + localName, localExtra);
        at += record + nameLength + extraLength + commentLength;
    }
    if (at != end) damaged();
    return count;
}

// ---------------------------------------------------------------- names and links

using Parts = std::vector<std::string>;

std::string joined(const Parts& parts, size_t count)
{
    std::string path;
    for (size_t i = 0; i < count; ++i) path += (i ? "/" : "") + parts[i];
    return path;
}
std::string joined(const Parts& parts) { return joined(parts, parts.size()); }

// The components of a relative name, "." and empty ones dropped; none when the
// name is absolute, empty or climbs with "..".
std::optional<Parts> relativeParts(std::string_view name)
{
    if (name.empty() || name.front() == '/') return std::nullopt;
    Parts parts;
    for (size_t start = 0; start <= name.size();) {
        const size_t slash = std::min(name.find('/', start), name.size());
        const std::string_view part = name.substr(start, slash - start);
        if (part == "..") return std::nullopt;
        if (!part.empty() && part != ".") parts.emplace_back(part);
        start = slash + 1;
    }
    if (parts.empty()) return std::nullopt;
    return parts;
}

using Links = std::map<std::string, std::string>; // a link's path and its target

// Where `target`, read in the folder `from`, leads once each link of `links`
// on the way is followed; none when it leaves the top or goes round in a loop.
std::optional<Parts> resolve(Parts from, std::string_view target, const Links& links, int& budget)
{
    if (target.empty() || target.front() == '/') return std::nullopt;
    for (size_t start = 0; start <= target.size();) {
        const size_t slash = std::min(target.find('/', start), target.size());
        const std::string_view part = target.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (from.empty()) return std::nullopt;
            from.pop_back();
            continue;
        }
        from.emplace_back(part);
        const auto link = links.find(joined(from));
        if (link == links.end()) continue;
        if (--budget < 0) return std::nullopt;
        from.pop_back();
        const auto next = resolve(std::move(from), link->second, links, budget);
        if (!next) return std::nullopt;
        from = *next;
    }
    return from;
}

bool staysInside(const std::string& linkPath, const Links& links)
{
    Parts folder = *relativeParts(linkPath);
    folder.pop_back();
    int budget = 40; // as many links as the kernel follows in one path
    return resolve(std::move(folder), links.at(linkPath), links, budget).has_value();
}

// ---------------------------------------------------------------- writing

// Writes the entries below one folder, each through descriptors opened
// without following links, each created new (O_EXCL, mkdirat, symlinkat).
class Unpacker {
public:
    Unpacker(const QString& destination, qint64 sizeLimit)
        : top_(::open(QFile::encodeName(destination).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
          limit_(sizeLimit)
    {
        if (top_.fd < 0) refuse("the destination folder is missing");
    }

    void folder(const Parts& parts, int mode)
    {
        const std::string path = claim(parts);
        const FileDescriptor parent = parentOf(parts, path);
        // Writable while it fills; its own mode is set once it is full.
        if (::mkdirat(parent.fd, parts.back().c_str(), mode_t(mode & 0777) | 0700) != 0
            && !(errno == EEXIST && made_.count(path)))
            refuse("cannot write", path);
        folders_.emplace_back(path, mode & 0777);
    }

    void link(const Parts& parts, const std::string& target)
    {
        const std::string path = claim(parts);
        if (!isUtf8(target)) refuse("a link target that is not UTF-8", path);
        links_[path] = target;
        if (!staysInside(path, links_)) refuse("a link that leads outside the folder", path + " -> " + target);
        const FileDescriptor parent = parentOf(parts, path);
        if (::symlinkat(target.c_str(), parent.fd, parts.back().c_str()) != 0) refuse("cannot write", path);
    }

    // Creates a file for the blocks that follow; the kernel applies the umask.
    void file(const Parts& parts, int mode)
    {
        filePath_ = claim(parts);
        const FileDescriptor parent = parentOf(parts, filePath_);
        written_ += fileEnd_;
        fileEnd_ = 0;
        file_ = FileDescriptor(::openat(parent.fd, parts.back().c_str(),
                                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(mode & 0777)));
        if (file_.fd < 0) refuse("cannot write", filePath_);
    }

    // One block of the file last created, counted against the limit.
    void write(const void* data, size_t size, la_int64_t offset)
    {
        const qint64 reach = qint64(offset) + qint64(size);
        if (offset < 0 || written_ + std::max(fileEnd_, reach) > limit_)
            refuse("the archive unpacks to more than " + std::to_string(limit_) + " bytes");
        for (size_t done = 0; done < size;) {
            const ssize_t count =
                ::pwrite(file_.fd, static_cast<const char*>(data) + done, size - done, offset + la_int64_t(done));
            if (count <= 0) refuse("cannot write", filePath_);
            done += size_t(count);
        }
        fileEnd_ = std::max(fileEnd_, reach);
    }

    // Links are judged again with every link in place (a later one can change
    // where an earlier one leads); then folders take their modes, the
    // innermost first, so that none closes before what it holds is done.
    void finish()
    {
        for (const auto& [path, target] : links_)
            if (!staysInside(path, links_)) refuse("a link that leads outside the folder", path + " -> " + target);
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
            const Parts parts = *relativeParts(it->first);
            const FileDescriptor parent = parentOf(parts, it->first);
            const FileDescriptor folder(
                ::openat(parent.fd, parts.back().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            struct stat st {};
            // Made with the umask applied: what it and the archive both allow.
            if (folder.fd < 0 || ::fstat(folder.fd, &st) != 0
                || ::fchmod(folder.fd, st.st_mode & mode_t(it->second) & 0777) != 0)
                refuse("cannot write", it->first);
        }
    }

private:
    // Records the entry's path; refused when another entry had it.
    std::string claim(const Parts& parts)
    {
        std::string path = joined(parts);
        if (!entries_.insert(path).second) refuse("an entry given twice", path);
        return path;
    }

    // The folder that holds the entry, missing folders made on the way.
    FileDescriptor parentOf(const Parts& parts, const std::string& path)
    {
        FileDescriptor folder(::openat(top_.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        for (size_t i = 0; i + 1 < parts.size() && folder.fd >= 0; ++i) {
            const char* name = parts[i].c_str();
            if (::mkdirat(folder.fd, name, 0777) == 0) made_.insert(joined(parts, i + 1));
            folder = FileDescriptor(::openat(folder.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        }
        if (folder.fd < 0) refuse("a write through a link or into a file", path);
        return folder;
    }

    FileDescriptor top_;
    qint64 limit_;
    qint64 written_ = 0;
    std::set<std::string> entries_;
    std::set<std::string> made_; // folders made because an entry lies inside them
    Links links_;
    std::vector<std::pair<std::string, int>> folders_; // folder entries and their archive modes, in order
    FileDescriptor file_;                              // the file being written
    std::string filePath_;
    qint64 fileEnd_ = 0; // how far it reaches so far
};

} // namespace

void unzip(const QByteArray& zip, const QString& destination, qint64 sizeLimit)
{
    const int expected = checkDirectory(zip);
    Unpacker unpacker(destination, sizeLimit);

    Reader reader(archive_read_new());
    // The archive's directory is the one just checked, never a stream of local headers.
    archive_read_support_format_zip_seekable(reader.get());
    if (archive_read_open_memory(reader.get(), zip.constData(), size_t(zip.size())) != ARCHIVE_OK)
        fail(reader.get(), QStringLiteral("cannot open the archive"));

    int count = 0;
    for (;; ++count) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF) break;
        // Warnings too: a name the locale could not take, sizes or checksums that disagree.
        if (status != ARCHIVE_OK) fail(reader.get(), QStringLiteral("damaged archive"));

        const char* rawName = archive_entry_pathname(entry);
        const std::string name = rawName ? rawName : "";
        if (!isUtf8(name)) refuse("a name that is not UTF-8");
        const auto parts = relativeParts(name);
        if (!parts) refuse("unsafe entry name", name);
        if (archive_entry_hardlink(entry)) refuse("hard link entry", name);

        switch (archive_entry_filetype(entry)) {
        case AE_IFDIR: unpacker.folder(*parts, int(archive_entry_perm(entry))); break;
        case AE_IFLNK: {
            const char* target = archive_entry_symlink(entry);
            unpacker.link(*parts, target ? target : "");
            break;
        }
        case AE_IFREG:
            unpacker.file(*parts, int(archive_entry_perm(entry)));
            for (;;) {
                const void* block = nullptr;
                size_t size = 0;
                la_int64_t offset = 0;
                const int read = archive_read_data_block(reader.get(), &block, &size, &offset);
                if (read == ARCHIVE_EOF) break;
                if (read != ARCHIVE_OK)
                    fail(reader.get(), QStringLiteral("damaged entry ") + QString::fromStdString(name));
                unpacker.write(block, size, offset);
            }
            break;
        default: refuse("an entry that is neither a file, a folder nor a link", name);
        }
    }
    if (count != expected) refuse("damaged archive: its entries differ from its directory");
    unpacker.finish();
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
        case Entry::Kind::folder: archive_entry_set_filetype(entry.get(), AE_IFDIR); break;
        case Entry::Kind::link:
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_symlink_utf8(entry.get(), item.linkTarget.toUtf8().constData());
            break;
        }
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK)
            fail(writer.get(), QStringLiteral("cannot add ") + item.path);
        if (item.kind == Entry::Kind::file && !item.data.isEmpty()
            && archive_write_data(writer.get(), item.data.constData(), static_cast<size_t>(item.data.size()))
                   != item.data.size())
            fail(writer.get(), QStringLiteral("cannot add ") + item.path);
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        fail(writer.get(), QStringLiteral("cannot finish the archive"));
}

std::vector<Entry> folderEntries(const QString& folder)
{
    const QFileInfo top(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    struct stat st {};
    if (::lstat(QFile::encodeName(top.filePath()).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw ArchiveError(("not a folder: " + folder).toStdString());
    const QString name = top.fileName();
    std::vector<Entry> entries{{Entry::Kind::folder, name, {}, {}, int(st.st_mode & 07777)}};
    try {
        walkFolder(QFile::encodeName(top.filePath()), [&](const WalkedEntry& walked) {
            Entry entry;
            entry.path = name + u'/' + QString::fromStdString(walked.path);
            entry.mode = walked.mode;
            switch (walked.kind) {
            case WalkedEntry::Kind::folder: entry.kind = Entry::Kind::folder; break;
            case WalkedEntry::Kind::link:
                entry.kind = Entry::Kind::link;
                entry.linkTarget = QString::fromStdString(walked.linkTarget);
                break;
            case WalkedEntry::Kind::file: {
                QFile file;
                if (!file.open(walked.descriptor, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
                    throw FolderWalkError("cannot read " + walked.path);
                entry.data = file.readAll();
                if (file.error() != QFileDevice::NoError) throw FolderWalkError("cannot read " + walked.path);
                break;
            }
            case WalkedEntry::Kind::other: throw FolderWalkError("neither a file, a folder nor a link: " + walked.path);
            }
            entries.push_back(std::move(entry));
        });
    } catch (const FolderWalkError& error) {
        throw ArchiveError(error.what());
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.path < b.path; });
    return entries;
}

} // namespace Archive
} // namespace platform
