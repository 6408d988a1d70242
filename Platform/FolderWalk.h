#pragma once
// Walking a folder by the bytes of its names. Qt's folder iterator skips a
// name it cannot decode, which would let a file hide from a seal or a package;
// this walk refuses such a name instead, and never follows a link.
#include <QByteArray>

#include <functional>
#include <stdexcept>
#include <string>

namespace platform {

struct FolderWalkError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct WalkedEntry {
    enum class Kind { folder, file, link, other };
    std::string path; // below the walked folder, names joined by "/", UTF-8
    Kind kind = Kind::other;
    int mode = 0;           // permission bits (07777)
    std::string linkTarget; // a link's target, as stored (UTF-8)
    int descriptor = -1;    // a file's contents, open for reading while it is visited
};

// Visits everything below `folder` (a native path; a link to a folder is
// followed there, and only there): a folder before what it holds, the names
// of one folder in byte order. Works on open descriptors (openat, fdopendir,
// fstatat), so nothing is reached through a link. Throws FolderWalkError for
// a name or a link target that is not UTF-8 and for anything that cannot be
// read, and passes on what `visit` throws.
void walkFolder(const QByteArray& folder, const std::function<void(const WalkedEntry&)>& visit);

} // namespace platform
