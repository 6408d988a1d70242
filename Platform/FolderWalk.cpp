#include "Platform/FolderWalk.h"

#include "Platform/FileDescriptor.h"
#include "Platform/Utf8.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

namespace platform {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The path for a message: bytes that are not UTF-8 written as \xNN.
std::string printable(const std::string& path)
{
    if (isUtf8(path)) return path;
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 15];
        }
    }
    return out;
}

[[noreturn]] void fail(const char* what, const std::string& path)
{
    throw FolderWalkError(std::string(what) + ": " + printable(path));
}

// The names in an open folder, in byte order; `folder` stays open.
std::vector<std::string> namesIn(int folder, const std::string& path)
{
    const int copy = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    std::unique_ptr<DIR, DirCloser> dir(copy >= 0 ? ::fdopendir(copy) : nullptr);
    if (!dir) {
        if (copy >= 0) ::close(copy);
        fail("cannot read", path);
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    if (errno != 0) fail("cannot read", path);
    std::sort(names.begin(), names.end());
    return names;
}

void walkInside(int folder, const std::string& prefix, const std::function<void(const WalkedEntry&)>& visit)
{
    for (const std::string& name : namesIn(folder, prefix.empty() ? "." : prefix)) {
        WalkedEntry entry;
        entry.path = prefix.empty() ? name : prefix + '/' + name;
        if (!isUtf8(name)) fail("a name that is not UTF-8", entry.path);
        struct stat st {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) fail("cannot read", entry.path);
        entry.mode = int(st.st_mode & 07777);
        if (S_ISLNK(st.st_mode)) {
            entry.kind = WalkedEntry::Kind::link;
            std::string target(4096, '\0');
            const ssize_t length = ::readlinkat(folder, name.c_str(), target.data(), target.size());
            if (length < 0 || size_t(length) == target.size()) fail("cannot read", entry.path);
            target.resize(size_t(length));
            if (!isUtf8(target)) fail("a link target that is not UTF-8", entry.path);
            entry.linkTarget = target;
            visit(entry);
        } else if (S_ISREG(st.st_mode)) {
            // O_NONBLOCK: should a pipe take the file's place meanwhile, opening it does not wait.
            const FileDescriptor file(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            struct stat opened {};
            if (file.fd < 0 || ::fstat(file.fd, &opened) != 0) fail("cannot read", entry.path);
            if (!S_ISREG(opened.st_mode) || opened.st_ino != st.st_ino || opened.st_dev != st.st_dev)
                fail("changed while it was read", entry.path);
            entry.kind = WalkedEntry::Kind::file;
            entry.mode = int(opened.st_mode & 07777);
            entry.descriptor = file.fd;
            visit(entry);
        } else if (S_ISDIR(st.st_mode)) {
            const FileDescriptor inner(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (inner.fd < 0) fail("cannot read", entry.path);
            entry.kind = WalkedEntry::Kind::folder;
            visit(entry);
            walkInside(inner.fd, entry.path, visit);
        } else {
            visit(entry);
        }
    }
}

} // namespace

void walkFolder(const QByteArray& folder, const std::function<void(const WalkedEntry&)>& visit)
{
    const FileDescriptor top(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (top.fd < 0) fail("cannot read", folder.toStdString());
    walkInside(top.fd, {}, visit);
}

} // namespace platform
