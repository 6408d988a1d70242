#pragma once
// An open file descriptor that is closed when its owner goes.
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {

struct FileDescriptor {
    int fd = -1;
    explicit FileDescriptor(int descriptor = -1) : fd(descriptor) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        std::swap(fd, other.fd);
        return *this;
    }
    ~FileDescriptor()
    {
        if (fd >= 0) ::close(fd);
    }
    // Closes now and reports close's own error (a write-back error shows there).
    int close()
    {
        const int result = ::close(std::exchange(fd, -1));
        return result == 0 ? 0 : errno;
    }
};

} // namespace platform
