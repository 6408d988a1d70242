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

// Unpacks the zip file `archive` into the folder `destination`, which must
// exist. Only files, folders and symbolic links are written, with their
// permission bits (never set-user-ID, set-group-ID or sticky). An entry named
// with an absolute path or a ".." component, a link whose target is absolute
// or leads outside `destination`, and a write through a link are refused:
// each throws ArchiveError, as do a damaged archive and a failed write. What
// was written before the failure stays; the caller removes the folder.
void unzip(const QString& archive, const QString& destination);

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
// Throws ArchiveError when something in it cannot be read.
std::vector<Entry> folderEntries(const QString& folder);

} // namespace Archive
} // namespace platform
