#pragma once
// Replacing a file's contents so that a failure or a crash at any point
// leaves either the old contents or the new ones, never a mix.
#include <cstddef>
#include <functional>
#include <string>

#include <sys/types.h>

namespace platform {

// Writes the new contents into `fd`, an empty file open for reading and
// writing, from its start, as they are made; it may empty the file and
// begin again. Throws PdfError (io with the errno for a failed write).
using ContentsWriter = std::function<void(int fd)>;

// Has `write` fill a new file beside `path` (beside the file it leads to,
// when `path` goes through links: see followChosenPath), syncs it, gives it
// the owner, group and mode of the file it replaces, renames it over `path`
// and syncs the folder; a failure at any step removes the new file. The new
// file is the caller's alone (0600) until it is complete; a file that
// replaces none gets the usual mode (0666 less the umask). A file the caller
// may not write is refused. When the folder takes no new file (or the owner
// cannot be kept) but the file itself is writable, the file is written in
// place: its old contents are first copied to a private unnamed file,
// `beforeInPlace` is called with a path that reads that copy, and the copy is
// written back if the write fails. A write past the process's file-size
// limit fails like one on a full disk, whatever the process does with
// SIGXFSZ. Another user's file in a shared folder is refused (mayTrustEntry).
// Throws PdfError(io) carrying the errno of the step that failed,
// PdfError(foreignLink), PdfError(foreignFile), or what `write` threw.
void replaceFileContents(const std::string& path, const ContentsWriter& write,
                         const std::function<void(const std::string& copyOfOriginal)>& beforeInPlace = {});

// Whether a write to a path the user chose may go through an entry of a
// folder that `entryOwner` made: follow a link, or write into a file. The
// kernel's rules for shared folders (fs.protected_symlinks and
// fs.protected_regular), kept whatever the system's settings: the entry is
// used when `user` made it, when its folder is not both sticky and writable by
// others, or when the folder's owner made it; otherwise another user could aim
// the write at any file of the user's, or read what is written.
bool mayTrustEntry(uid_t user, uid_t entryOwner, uid_t folderOwner, mode_t folderMode);

// `path` (made absolute) with every link on its way followed as the kernel
// would, each one only where mayTrustEntry allows it, and `.` and `..`
// taken; from the first name that does not exist the rest is kept as it is.
// Every writer of a path the user chose writes here. Throws
// PdfError(foreignLink) naming the link another user made, or PdfError(io).
std::string followChosenPath(const std::string& path);

// Writes all `size` bytes at `offset`: 0 or the errno. A write that makes no
// progress is a full disk.
int writeAllAt(int fd, const void* data, std::size_t size, off_t offset);

// A file only this process can reach (unnamed where the file system allows
// it), open for reading and writing; -1 with errno set when none can be made.
int openPrivateScratchFile();

} // namespace platform
