#pragma once
// MuPDF's reading and writing of files through descriptors we own: a
// document's file read while it is watched for another program's change,
// and a document written straight into a file. Shared by the Platform
// sources that talk to MuPDF; never included outside Platform/.
extern "C" {
#include <mupdf/fitz.h>
}

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <sys/stat.h>

namespace platform {

struct FzError;

// A file opened for reading, and what it looked like then. Another program
// may write it in place (same inode, new bytes) while a document reads it
// lazily; bytes read after that would be another file's bytes at this
// file's offsets. Every read through a watched stream is checked, and none
// is handed on once the file changed. Safe to use from several threads.
class WatchedFile {
public:
    // Opens `path` (O_RDONLY); none with errno set when it cannot be opened.
    static std::shared_ptr<WatchedFile> open(const std::string& path);
    // Takes the descriptor `fd`, open for reading; none with errno set (and
    // `fd` closed) when it cannot be looked at.
    static std::shared_ptr<WatchedFile> adopt(int fd);
    ~WatchedFile();
    WatchedFile(const WatchedFile&) = delete;
    WatchedFile& operator=(const WatchedFile&) = delete;

    int fd() const { return fd_; }
    std::int64_t size() const { return size_; }
    // Whether the file still holds the bytes it held when opened: same size
    // and modification time, and, when only its change time moved (its mode,
    // owner or links changed: it was renamed over or removed), the same last
    // bytes. Once changed, changed for good. File times move in ticks of a
    // few milliseconds: `thorough` compares the last bytes in any case, which
    // also tells apart a rewrite in the tick the file was opened in.
    bool unchanged(bool thorough = false) noexcept;
    // Reads the whole file, size() bytes, into `buffer`: false when it
    // cannot, or when the file changed meanwhile.
    bool copyTo(unsigned char* buffer) noexcept;

private:
    WatchedFile(int fd, const struct stat& info);
    std::uint64_t tailHash() const;

    const int fd_;
    const std::int64_t size_;
    const timespec modified_;
    std::uint64_t tail_ = 0;
    std::mutex mutex_;   // guards the two below
    timespec changedAt_; // the change time the bytes were last known good at
    bool changed_ = false;
};

// A stream over `file` that throws instead of handing on bytes read after
// the file changed. Throws (MuPDF) when it cannot be made.
fz_stream* openWatchedStream(fz_context* ctx, const std::shared_ptr<WatchedFile>& file);

// Where a document is written: a file descriptor, open for reading and
// writing, from its start. `systemError` holds the errno of a failed write
// (a write that makes no progress is a full disk).
struct FileSink {
    int fd = -1;
    std::int64_t position = 0;
    int systemError = 0;
};

// An output that writes at `sink`'s position; it can seek, tell, truncate
// and be read back, as MuPDF's incremental updates need. Throws (MuPDF).
fz_output* newFileOutput(fz_context* ctx, FileSink* sink);

} // namespace platform
