#include "Platform/FileReplacement.h"

#include "Platform/FileDescriptor.h"
#include "Platform/PdfDocument.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <random>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

[[noreturn]] void fail(const std::string& what, int error)
{
    throw PdfError(PdfErrorCode::io, what + ": " + std::strerror(error), error);
}

using Fd = FileDescriptor;

// Copies the whole of `from` to `to` (from offset 0); 0 or the errno.
int copyContents(int from, int to, off_t* copied)
{
    char buffer[1 << 16];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(from, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        if (const int error = writeAllAt(to, buffer, std::size_t(n), offset)) return error;
        offset += n;
    }
    *copied = offset;
    return 0;
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A new file beside `path` with a name nobody else uses; -1 with errno set.
int createSibling(const std::string& path, mode_t mode, std::string* made)
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", unsigned(random()));
        const std::string candidate = folderOf(path) + "/." + nameOf(path) + "." + suffix;
        const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            *made = candidate;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

int writeAllAt(int fd, const void* data, std::size_t size, off_t offset)
{
    const char* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, bytes + done, size - done, offset + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return ENOSPC;
        done += std::size_t(n);
    }
    return 0;
}

int openPrivateScratchFile()
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = tmp && *tmp ? tmp : "/tmp";
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string name = folder + "/ravlen-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
}

namespace {

void writeInPlace(const std::string& path, const ContentsWriter& write,
                  const std::function<void(const std::string&)>& beforeInPlace)
{
    Fd copy(openPrivateScratchFile());
    if (copy.fd < 0) fail("cannot make a copy of the file", errno);
    Fd target(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (target.fd < 0) fail("cannot write the file", errno);
    off_t originalSize = 0;
    // The copy is complete before the file is touched: a full disk stops here.
    if (const int error = copyContents(target.fd, copy.fd, &originalSize))
        fail("cannot make a copy of the file", error);
    if (beforeInPlace) beforeInPlace("/proc/self/fd/" + std::to_string(copy.fd));

    auto restore = [&] {
        off_t restored = 0;
        copyContents(copy.fd, target.fd, &restored);
        if (::ftruncate(target.fd, originalSize) == 0) ::fsync(target.fd);
    };
    if (::ftruncate(target.fd, 0) != 0) fail("cannot write the file", errno);
    try {
        write(target.fd);
    } catch (...) {
        restore();
        throw;
    }
    if (::fsync(target.fd) != 0) {
        const int error = errno;
        restore();
        fail("cannot write the file", error);
    }
    if (const int closeError = target.close()) fail("cannot write the file", closeError);
}

} // namespace

void replaceFileContents(const std::string& requested, const ContentsWriter& write,
                         const std::function<void(const std::string&)>& beforeInPlace)
{
    // A link stays a link: the file it leads to is the one replaced.
    std::string path = requested;
    struct stat link = {};
    if (::lstat(requested.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* target = ::realpath(requested.c_str(), nullptr)) {
            path = target;
            std::free(target);
        }
    }
    struct stat old = {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) fail("cannot reach the file", errno);
    if (exists && S_ISDIR(old.st_mode)) fail("the path is a folder", EISDIR);
    if (exists && !S_ISREG(old.st_mode)) fail("not a regular file", EINVAL);
    // A read-only file stays read-only: it is refused, not made writable
    // (also for root, who could write it: a mode without write bits is intent).
    if (exists && (old.st_mode & 0222) == 0) fail("the file is read-only", EACCES);
    if (exists && ::access(path.c_str(), W_OK) != 0) fail("cannot write the file", errno);

    std::string temp;
    // A new file gets the usual mode (the umask applies); a replacement its predecessor's.
    Fd fd(createSibling(path, exists ? 0600 : 0666, &temp));
    if (fd.fd < 0) {
        const int error = errno;
        if (exists && (error == EACCES || error == EPERM || error == EROFS)) {
            writeInPlace(path, write, beforeInPlace);
            return;
        }
        fail("cannot create a file in the folder", error);
    }
    auto abandon = [&](const std::string& what, int error) {
        fd.close();
        ::unlink(temp.c_str());
        fail(what, error);
    };
    // Renaming would hand the file to us: keep its owner by writing in place.
    if (exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
        && ::fchown(fd.fd, old.st_uid, old.st_gid) != 0) {
        fd.close();
        ::unlink(temp.c_str());
        writeInPlace(path, write, beforeInPlace);
        return;
    }
    try {
        write(fd.fd);
    } catch (...) {
        fd.close();
        ::unlink(temp.c_str());
        throw;
    }
    // The mode comes last: until the file is complete, only we may read it.
    if (exists && ::fchmod(fd.fd, old.st_mode & 07777) != 0) abandon("cannot set the file's mode", errno);
    if (::fsync(fd.fd) != 0) abandon("cannot write the file", errno);
    if (const int error = fd.close()) {
        ::unlink(temp.c_str());
        fail("cannot write the file", error);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        fail("cannot replace the file", error);
    }
    // The rename itself is durable only once the folder is synced.
    Fd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd >= 0 && ::fsync(folder.fd) != 0 && errno != EINVAL) fail("cannot sync the folder", errno);
}

} // namespace platform
