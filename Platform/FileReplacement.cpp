#include "Platform/FileReplacement.h"

#include "Platform/FileDescriptor.h"
#include "Platform/PathNames.h"
#include "Platform/PdfDocument.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <deque>
#include <random>
#include <utility>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

[[noreturn]] void fail(const std::string& what, int error)
{
    throw PdfError(PdfErrorCode::io, what + ": " + std::strerror(error), error);
}

using Fd = FileDescriptor;

// While it lives, a write of this thread past the file-size limit fails with
// EFBIG, as one on a full disk fails, instead of ending the process (the
// default of SIGXFSZ) with the user's file cut short: the signal is held for
// the thread, and the one a failed write raised is taken before it is let go.
class FileSizeSignalHeld {
public:
    FileSizeSignalHeld()
    {
        ::sigemptyset(&signal_);
        ::sigaddset(&signal_, SIGXFSZ);
        ::pthread_sigmask(SIG_BLOCK, &signal_, &previous_);
    }
    ~FileSizeSignalHeld()
    {
        // One held by the caller already is the caller's to take.
        if (!::sigismember(&previous_, SIGXFSZ)) {
            const timespec none{0, 0};
            while (::sigtimedwait(&signal_, nullptr, &none) == SIGXFSZ) {}
        }
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    FileSizeSignalHeld(const FileSizeSignalHeld&) = delete;
    FileSizeSignalHeld& operator=(const FileSizeSignalHeld&) = delete;

private:
    sigset_t signal_{};
    sigset_t previous_{};
};

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

std::string readLink(const std::string& path)
{
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) fail("cannot read the link " + path, errno);
        if (std::size_t(n) < target.size()) return target.substr(0, std::size_t(n));
        target.resize(target.size() * 2);
    }
}

} // namespace

bool mayTrustEntry(uid_t user, uid_t entryOwner, uid_t folderOwner, mode_t folderMode)
{
    const bool shared = (folderMode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    return entryOwner == user || !shared || entryOwner == folderOwner;
}

std::string followChosenPath(const std::string& path)
{
    std::string resolved; // absolute, without links, `.` or `..`; empty for the root
    if (path.empty() || path.front() != '/') {
        char* here = ::getcwd(nullptr, 0);
        if (!here) fail("cannot read the current folder", errno);
        resolved = here;
        std::free(here);
        if (resolved == "/") resolved.clear();
    }
    std::deque<std::string> rest = pathNames(path);
    constexpr int maxLinks = 40; // the kernel's own limit
    int links = 0;
    while (!rest.empty()) {
        const std::string name = std::move(rest.front());
        rest.pop_front();
        if (name == ".") continue;
        if (name == "..") {
            resolved.erase(resolved.empty() ? 0 : resolved.rfind('/'));
            continue;
        }
        const std::string next = resolved + '/' + name;
        struct stat entry = {};
        if (::lstat(next.c_str(), &entry) != 0) {
            // What is missing (or unreachable) is kept as named: the write meets it.
            resolved = next;
            for (const std::string& later : rest) resolved += '/' + later;
            break;
        }
        if (!S_ISLNK(entry.st_mode)) {
            resolved = next;
            continue;
        }
        if (++links > maxLinks) fail("too many links in " + path, ELOOP);
        struct stat folder = {};
        if (::stat(resolved.empty() ? "/" : resolved.c_str(), &folder) != 0) fail("cannot reach " + resolved, errno);
        if (!mayTrustEntry(::geteuid(), entry.st_uid, folder.st_uid, folder.st_mode))
            throw PdfError(PdfErrorCode::foreignLink,
                           next + " is a link another user made in a folder others can write to", EACCES);
        const std::string target = readLink(next);
        const std::deque<std::string> names = pathNames(target);
        rest.insert(rest.begin(), names.begin(), names.end());
        if (!target.empty() && target.front() == '/') resolved.clear();
    }
    return resolved.empty() ? "/" : resolved;
}

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
    // The path has no link left: one put in its place since is not followed.
    Fd target(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (target.fd < 0) fail("cannot write the file", errno);
    // A file with more than one name, in a folder another user owns, may be
    // one of the user's own files that that user linked there: refused, as
    // the kernel's rule for making hard links (fs.protected_hardlinks) would
    // have refused the link, whatever the system's setting.
    struct stat file = {};
    if (::fstat(target.fd, &file) != 0) fail("cannot reach the file", errno);
    if (file.st_nlink > 1) {
        struct stat folder = {};
        if (::stat(folderOf(path).c_str(), &folder) != 0) fail("cannot reach the folder", errno);
        if (folder.st_uid != ::geteuid()) fail("the file has other names, in a folder another user owns", EACCES);
    }
    off_t originalSize = 0;
    // The copy is complete before the file is touched: a full disk stops here.
    if (const int error = copyContents(target.fd, copy.fd, &originalSize))
        fail("cannot make a copy of the file", error);
    if (beforeInPlace) beforeInPlace("/proc/self/fd/" + std::to_string(copy.fd));

    // The old bytes go back over the new ones, into room the new ones took.
    const auto restore = [&]() -> int {
        off_t restored = 0;
        if (const int error = copyContents(copy.fd, target.fd, &restored)) return error;
        if (::ftruncate(target.fd, originalSize) != 0 || ::fsync(target.fd) != 0) return errno;
        return 0;
    };
    const auto failAndRestore = [&](int error) {
        if (const int restoreError = restore())
            fail(std::string("cannot write the file (") + std::strerror(error) + "), nor put its old contents back",
                 restoreError);
        fail("cannot write the file", error);
    };
    if (::ftruncate(target.fd, 0) != 0) fail("cannot write the file", errno);
    try {
        write(target.fd);
    } catch (const PdfError& error) {
        if (const int restoreError = restore())
            fail(std::string(error.what()) + ", nor put its old contents back", restoreError);
        throw;
    } catch (...) {
        restore();
        throw;
    }
    if (::fsync(target.fd) != 0) failAndRestore(errno);
    if (const int closeError = target.close()) fail("cannot write the file", closeError);
}

} // namespace

void replaceFileContents(const std::string& requested, const ContentsWriter& write,
                         const std::function<void(const std::string&)>& beforeInPlace)
{
    // A link stays a link: the file it leads to is the one replaced, unless
    // another user's link would aim the write at a file of the user's.
    const std::string path = followChosenPath(requested);
    const FileSizeSignalHeld fileSizeSignal;
    struct stat old = {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) fail("cannot reach the file", errno);
    if (exists && S_ISDIR(old.st_mode)) fail("the path is a folder", EISDIR);
    if (exists && !S_ISREG(old.st_mode)) fail("not a regular file", EINVAL);
    // Another user's file in a shared folder cannot be renamed over, so it
    // would be written in place and stay theirs to read: the kernel's rule
    // for such files (fs.protected_regular), kept whatever the setting.
    if (exists && old.st_uid != ::geteuid()) {
        struct stat folder = {};
        if (::stat(folderOf(path).c_str(), &folder) != 0) fail("cannot reach the folder", errno);
        if (!mayTrustEntry(::geteuid(), old.st_uid, folder.st_uid, folder.st_mode))
            throw PdfError(PdfErrorCode::foreignFile,
                           path + " is a file another user made in a folder others can write to", EACCES);
    }
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
