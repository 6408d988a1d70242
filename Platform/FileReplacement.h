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
// when `path` is a symbolic link), syncs it, gives it the
// owner, group and mode of the file it replaces, renames it over `path` and
// syncs the folder; a failure at any step removes the new file. A file the
// caller may not write is refused. When the
// folder takes no new file (or the owner cannot be kept) but the file itself
// is writable, the file is written in place: its old contents are first
// copied to a private unnamed file, `beforeInPlace` is called with a path
// that reads that copy, and the copy is written back if the write fails.
// Throws PdfError(io) carrying the errno of the step that failed, or what
// `write` threw.
void replaceFileContents(const std::string& path, const ContentsWriter& write,
                         const std::function<void(const std::string& copyOfOriginal)>& beforeInPlace = {});

// Writes all `size` bytes at `offset`: 0 or the errno. A write that makes no
// progress is a full disk.
int writeAllAt(int fd, const void* data, std::size_t size, off_t offset);

// A file only this process can reach (unnamed where the file system allows
// it), open for reading and writing; -1 with errno set when none can be made.
int openPrivateScratchFile();

} // namespace platform
