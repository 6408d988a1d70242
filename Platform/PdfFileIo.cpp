#include "Platform/PdfFileIo.h"

#include "Platform/FileReplacement.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

bool operator==(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// Bytes read, or -1 with errno set.
ssize_t readAt(int fd, unsigned char* buffer, std::size_t size, std::int64_t offset)
{
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, size, off_t(offset));
        if (n >= 0 || errno != EINTR) return n;
    }
}

// The last bytes of a file: what MuPDF reads first (where the
// cross-reference table starts, the trailer) and what every writer of a PDF
// rewrites.
constexpr std::int64_t tailBytes = 64 << 10;

} // namespace

std::shared_ptr<WatchedFile> WatchedFile::open(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return adopt(fd);
}

std::shared_ptr<WatchedFile> WatchedFile::adopt(int fd)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    std::shared_ptr<WatchedFile> file(new WatchedFile(fd, info));
    file->tail_ = file->tailHash();
    return file;
}

WatchedFile::WatchedFile(int fd, const struct stat& info)
    : fd_(fd), size_(info.st_size), modified_(info.st_mtim), changedAt_(info.st_ctim)
{}

WatchedFile::~WatchedFile() { ::close(fd_); }

std::uint64_t WatchedFile::tailHash() const
{
    // FNV-1a: a change of these bytes is told apart, nobody forges one here.
    unsigned char buffer[tailBytes];
    const std::int64_t start = std::max<std::int64_t>(0, size_ - tailBytes);
    const ssize_t n = readAt(fd_, buffer, std::size_t(size_ - start), start);
    std::uint64_t hash = 14695981039346656037ull;
    for (ssize_t i = 0; i < n; ++i) hash = (hash ^ buffer[i]) * 1099511628211ull;
    return n == size_ - start ? hash : ~hash;
}

bool WatchedFile::unchanged(bool thorough) noexcept
{
    std::lock_guard lock(mutex_);
    if (changed_) return false;
    struct stat now = {};
    if (::fstat(fd_, &now) != 0 || now.st_size != size_ || !(now.st_mtim == modified_)) changed_ = true;
    else if (thorough || !(now.st_ctim == changedAt_)) {
        // Writing sets the modification time, which a program may set back
        // afterwards; renaming, linking or a new mode move the change time alone.
        if (tailHash() == tail_) changedAt_ = now.st_ctim;
        else changed_ = true;
    }
    return !changed_;
}

bool WatchedFile::copyTo(unsigned char* buffer) noexcept
{
    std::int64_t done = 0;
    while (done < size_) {
        const ssize_t n = readAt(fd_, buffer + done, std::size_t(std::min<std::int64_t>(size_ - done, 1 << 24)), done);
        if (n <= 0) return false;
        done += n;
    }
    return unchanged();
}

namespace {

struct StreamState {
    std::shared_ptr<WatchedFile> file; // none: a plain reading of `fd`
    int fd;
    unsigned char buffer[8192];
};

int nextBytes(fz_context* ctx, fz_stream* stm, size_t)
{
    auto* state = static_cast<StreamState*>(stm->state);
    const ssize_t n = readAt(state->fd, state->buffer, sizeof state->buffer, stm->pos);
    if (n < 0) fz_throw(ctx, FZ_ERROR_GENERIC, "cannot read the file: %s", std::strerror(errno));
    // Checked after the read: a write sets the file's times before it changes its bytes.
    if (state->file && !state->file->unchanged())
        fz_throw(ctx, FZ_ERROR_GENERIC, "the file was changed by another program while it was open");
    stm->rp = state->buffer;
    stm->wp = state->buffer + n;
    stm->pos += n;
    return n == 0 ? EOF : *stm->rp++;
}

void seekBytes(fz_context* ctx, fz_stream* stm, int64_t offset, int whence)
{
    auto* state = static_cast<StreamState*>(stm->state);
    if (whence == SEEK_END) {
        struct stat info = {};
        if (::fstat(state->fd, &info) != 0) fz_throw(ctx, FZ_ERROR_GENERIC, "cannot seek: %s", std::strerror(errno));
        offset += info.st_size;
    } else if (whence == SEEK_CUR) {
        offset += stm->pos - (stm->wp - stm->rp);
    }
    if (offset < 0) fz_throw(ctx, FZ_ERROR_GENERIC, "cannot seek before the start of the file");
    stm->pos = offset;
    stm->rp = stm->wp = state->buffer;
}

void dropStream(fz_context*, void* state) { delete static_cast<StreamState*>(state); }

fz_stream* openStream(fz_context* ctx, StreamState* state)
{
    if (!state) fz_throw(ctx, FZ_ERROR_MEMORY, "out of memory for a stream");
    fz_stream* stm = fz_new_stream(ctx, state, nextBytes, dropStream); // drops the state when it fails
    stm->seek = seekBytes;
    return stm;
}

void writeBytes(fz_context* ctx, void* opaque, const void* data, size_t n)
{
    auto* sink = static_cast<FileSink*>(opaque);
    if (const int error = writeAllAt(sink->fd, data, n, off_t(sink->position))) {
        sink->systemError = error;
        fz_throw(ctx, FZ_ERROR_GENERIC, "cannot write the file: %s", std::strerror(error));
    }
    sink->position += std::int64_t(n);
}

void seekOutput(fz_context* ctx, void* opaque, int64_t offset, int whence)
{
    auto* sink = static_cast<FileSink*>(opaque);
    if (whence == SEEK_END) {
        struct stat info = {};
        if (::fstat(sink->fd, &info) != 0) fz_throw(ctx, FZ_ERROR_GENERIC, "cannot seek: %s", std::strerror(errno));
        offset += info.st_size;
    } else if (whence == SEEK_CUR) {
        offset += sink->position;
    }
    if (offset < 0) fz_throw(ctx, FZ_ERROR_GENERIC, "cannot seek before the start of the file");
    sink->position = offset;
}

int64_t tellOutput(fz_context*, void* opaque) { return static_cast<FileSink*>(opaque)->position; }

void truncateOutput(fz_context* ctx, void* opaque)
{
    auto* sink = static_cast<FileSink*>(opaque);
    if (::ftruncate(sink->fd, off_t(sink->position)) != 0) {
        sink->systemError = errno;
        fz_throw(ctx, FZ_ERROR_GENERIC, "cannot truncate the file: %s", std::strerror(errno));
    }
}

fz_stream* outputAsStream(fz_context* ctx, void* opaque)
{
    return openStream(ctx, new (std::nothrow) StreamState{nullptr, static_cast<FileSink*>(opaque)->fd, {}});
}

} // namespace

fz_stream* openWatchedStream(fz_context* ctx, const std::shared_ptr<WatchedFile>& file)
{
    return openStream(ctx, new (std::nothrow) StreamState{file, file->fd(), {}});
}

fz_output* newFileOutput(fz_context* ctx, FileSink* sink)
{
    fz_output* out = fz_new_output(ctx, 1 << 16, sink, writeBytes, nullptr, nullptr);
    out->seek = seekOutput;
    out->tell = tellOutput;
    out->truncate = truncateOutput;
    out->as_stream = outputAsStream;
    return out;
}

} // namespace platform
