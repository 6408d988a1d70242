#pragma once
// Zip archives over libarchive: unpacking a downloaded update safely, and
// writing the archives that releases and tests publish.
#include <QByteArray>
#include <QString>

#include <stdexcept>
#include <vector>

namespace platform {
namespace Archive {

struct ArchiveError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Unpacks the zip archive held in `archive` into the folder `destination`,
// which must exist. The archive is taken whole from memory, so that the bytes
// a caller has checked are the bytes unpacked. What it may hold and how it
// comes out:
// - files, folders and symbolic links, nothing else (a named pipe, a device,
//   a socket or a hard link is refused);
// - each under a relative name that is UTF-8 and has no ".." component, and
//   each written new: a name given twice (however spelt), or an entry in the
//   place of another, is refused and never replaces what came first;
// - with the archive's permission bits under the process's umask, never
//   set-user-ID, set-group-ID or sticky;
// - links whose targets, followed through every link in the archive, stay
//   inside `destination`; nothing is ever written through a link;
// - at most `sizeLimit` bytes of file contents in all.
// Every refusal throws ArchiveError, as do a damaged archive and a failed
// write. What was written before a failure stays; the caller removes it.
void unzip(const QByteArray& archive, const QString& destination, qint64 sizeLimit);

// One entry of an archive to write. `path` is written as given, so that
// tests can make archives that unzip() must refuse.
struct Entry {
    enum class Kind { file, folder, link };
    Kind kind = Kind::file;
    QString path;
    QByteArray data;    // a file's contents
    QString linkTarget; // a link's target
    int mode = 0644;    // permission bits
};
// Writes a zip file of the entries, in their order. Throws ArchiveError.
void writeZip(const QString& archive, const std::vector<Entry>& entries);
// The entries of a folder and everything in it, the folder's own name first
// in every path ("ravlen/bin/ravlen"), sorted by path; links are kept as links.
// Throws ArchiveError when something in it cannot be read, is neither a file,
// a folder nor a link, or has a name or link target that is not UTF-8.
std::vector<Entry> folderEntries(const QString& folder);

} // namespace Archive
} // namespace platform
