#pragma once
// Replacing a file's contents so that a failure or a crash at any point
// leaves either the old contents or the new ones, never a mix.
#include <cstddef>
#include <functional>
#include <string>

namespace platform {

// Writes `size` bytes to a new file beside `path` (beside the file it leads to,
// when `path` is a symbolic link), syncs it, gives it the
// owner, group and mode of the file it replaces, renames it over `path` and
// syncs the folder. A file the caller may not write is refused. When the
// folder takes no new file (or the owner cannot be kept) but the file itself
// is writable, the file is written in place: its old contents are first
// copied to a private unnamed file, `beforeInPlace` is called with a path
// that reads that copy, and the copy is written back if the write fails.
// Throws PdfError(io) carrying the errno of the step that failed.
void replaceFileContents(const std::string& path, const char* data, std::size_t size,
                         const std::function<void(const std::string& copyOfOriginal)>& beforeInPlace = {});

// A file only this process can reach (unnamed where the file system allows
// it), open for reading and writing; -1 with errno set when none can be made.
int openPrivateScratchFile();

} // namespace platform
