#include "Platform/MetadataReader.h"

#include "Platform/PdfDocument.h"
#include "Platform/Sandbox.h"
#include "Platform/TrustedProgram.h"

#include <QString>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

// A request is one byte with the file's descriptor attached. An answer is
// a frame: a 32-bit length (host order: both ends are this machine), then
// that many bytes: the state (1 byte), the page count (4 bytes, -1 for
// none), the title's length (4 bytes, 0xffffffff for none), the title and
// the text.
constexpr std::uint32_t noTitle = 0xffffffffu;
constexpr std::uint32_t maxFrame = std::uint32_t(MetadataIndex::maxTextBytes) + (1u << 20);

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

void append(std::string& out, const void* data, std::size_t size) { out.append(static_cast<const char*>(data), size); }

std::string encode(const MetadataReading& r)
{
    std::string payload;
    const auto state = std::uint8_t(r.state);
    const std::int32_t pages = r.pageCount.value_or(-1);
    const std::uint32_t titleSize = r.title ? std::uint32_t(r.title->size()) : noTitle;
    append(payload, &state, 1);
    append(payload, &pages, 4);
    append(payload, &titleSize, 4);
    if (r.title) payload += *r.title;
    payload += r.text;
    const auto size = std::uint32_t(payload.size());
    std::string frame;
    append(frame, &size, 4);
    return frame + payload;
}

std::optional<MetadataReading> decode(const std::string& payload)
{
    if (payload.size() < 9) return std::nullopt;
    MetadataReading r;
    std::uint8_t state;
    std::int32_t pages;
    std::uint32_t titleSize;
    std::memcpy(&state, payload.data(), 1);
    std::memcpy(&pages, payload.data() + 1, 4);
    std::memcpy(&titleSize, payload.data() + 5, 4);
    if (state > std::uint8_t(MetadataReadState::unread)) return std::nullopt;
    r.state = MetadataReadState(state);
    if (pages >= 0) r.pageCount = pages;
    std::size_t at = 9;
    if (titleSize != noTitle) {
        if (titleSize > payload.size() - at) return std::nullopt;
        r.title = payload.substr(at, titleSize);
        at += titleSize;
    }
    r.text = payload.substr(at);
    return r;
}

void limitSelf(std::uint64_t memoryLimit)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
#if !defined(__SANITIZE_ADDRESS__)
    // A sanitizer reserves terabytes of shadow address space: no limit there.
    if (memoryLimit > 0) {
        const rlimit memory{memoryLimit, memoryLimit};
        ::setrlimit(RLIMIT_AS, &memory);
    }
#else
    (void)memoryLimit;
#endif
    lowerPriority(true);
}

std::optional<std::string> nonEmpty(std::optional<std::string> text)
{
    if (text && text->find_first_not_of(" \t\r\n") == std::string::npos) return std::nullopt;
    return text;
}

} // namespace

void lowerPriority(bool idleClass)
{
    // Linux applies both to the calling thread alone (0 names it).
    const sched_param param{};
    if (!idleClass || ::sched_setscheduler(0, SCHED_IDLE, &param) != 0)
        ::setpriority(PRIO_PROCESS, pid_t(::syscall(SYS_gettid)), 19);
    // ioprio_set(IOPRIO_WHO_PROCESS, self, IOPRIO_CLASS_IDLE): the disk
    // serves this thread only when nobody else wants it.
    constexpr int whoProcess = 1, classIdle = 3, classShift = 13;
    ::syscall(SYS_ioprio_set, whoProcess, 0, classIdle << classShift);
}

MetadataReading readForIndex(int fd, std::chrono::milliseconds budget)
{
    const auto start = std::chrono::steady_clock::now();
    MetadataReading r;
    try {
        const auto doc = PdfDocument::openDescriptor(fd);
        if (doc->needsPassword() && !doc->unlock("")) {
            r.state = MetadataReadState::locked;
            return r;
        }
        r.pageCount = doc->pageCount();
        r.title = nonEmpty(doc->infoString("Title"));
        std::string text;
        for (int i = 0; i < *r.pageCount; ++i) {
            try {
                text += doc->textPage(i).text();
                text += '\n';
            } catch (const PdfError&) {
                // A page that cannot be read adds no text; the others still count.
            }
            if (text.size() >= MetadataIndex::maxTextBytes || std::chrono::steady_clock::now() - start > budget) break;
        }
        // One form of each accented letter, as the search words are given.
        r.text = QString::fromStdString(text).normalized(QString::NormalizationForm_C).toStdString();
        r.state = MetadataReadState::read;
    } catch (const PdfError&) {
        r = {};
        r.state = MetadataReadState::unreadable;
    } catch (const std::exception&) {
        r = {};
        r.state = MetadataReadState::failed;
    }
    return r;
}

int runMetadataReader(int in, int out, std::uint64_t memoryLimit)
{
    limitSelf(memoryLimit);
    // Unconfined, a reader reads nothing: the indexer says why.
    if (!confineProcess().confined) {
        writeAll(out, "U", 1);
        return 3;
    }
    // From here on, a reader that dies was killed by the file it read.
    if (!writeAll(out, "R", 1)) return 0;
    // A file's text gets this long; the indexer's own limit kills a reader
    // stuck inside one page.
    constexpr std::chrono::seconds textBudget{8};
    for (;;) {
        const int fd = receiveFile(in);
        if (fd < 0) return 0;
        if (!sendReading(out, readForIndex(fd, textBudget))) return 0;
    }
}

int receiveFile(int in)
{
    char byte = 0;
    iovec part{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n;
    while ((n = ::recvmsg(in, &message, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {}
    if (n <= 0) return -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS || c->cmsg_len != CMSG_LEN(sizeof(int))) continue;
        int fd = -1;
        std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
        return fd;
    }
    return -1;
}

bool sendReading(int out, const MetadataReading& reading)
{
    const std::string frame = encode(reading);
    return writeAll(out, frame.data(), frame.size());
}

// ---------------------------------------------------------------- the indexer's end

MetadataReaderProcess::MetadataReaderProcess(std::string program, std::uint64_t memoryLimit)
    : program_(std::move(program)), memoryLimit_(memoryLimit)
{}

MetadataReaderProcess::~MetadataReaderProcess() { end(true); }

void MetadataReaderProcess::start()
{
    // A reader that another user could have put in place never runs; one
    // that is missing fails to start below, as it always did.
    const ProgramCheck check = checkProgram(program_);
    untrusted_ = check.verdict == ProgramCheck::Verdict::untrusted;
    if (untrusted_) return;
    const std::string& file = check.verdict == ProgramCheck::Verdict::trusted ? check.path : program_;
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], 0);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], 1);
    // MuPDF's warnings about damaged files are of no use to anyone here.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // Nothing else of the program's (its documents, its sockets) goes along.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    const std::string memory = std::to_string(memoryLimit_);
    char* argv[] = {const_cast<char*>(program_.c_str()), const_cast<char*>(memory.c_str()), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, file.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(sockets[1]);
    if (spawned != 0) {
        ::close(sockets[0]);
        return;
    }
    pid_ = pid;
    socket_ = sockets[0];
    served_ = 0;
    ready_ = false;
}

void MetadataReaderProcess::end(bool kill)
{
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
    if (pid_ > 0) {
        // Closing the socket ends a reader that waits for its next file.
        if (kill) ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {}
    }
    pid_ = -1;
    busy_ = false;
    buffer_.clear();
}

namespace {

bool sendFile(int socket, int fd)
{
    char byte = 'F';
    iovec part{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    ssize_t n;
    while ((n = ::sendmsg(socket, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {}
    return n == 1;
}

} // namespace

bool MetadataReaderProcess::begin(int fd)
{
    if (pid_ > 0 && served_ >= filesPerProcess) end(false);
    if (pid_ <= 0) start();
    if (pid_ <= 0) return false;
    if (!sendFile(socket_, fd)) {
        // It ended since the last file: one more try with a new one.
        end(true);
        start();
        if (pid_ <= 0 || !sendFile(socket_, fd)) {
            end(true);
            return false;
        }
    }
    busy_ = true;
    ++served_;
    buffer_.clear();
    return true;
}

std::optional<MetadataReading> MetadataReaderProcess::receive()
{
    if (!busy_) return std::nullopt;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::recv(socket_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) return abandon(); // it died: a crash, or its memory limit
        buffer_.append(chunk, std::size_t(n));
        if (!ready_) {
            refused_ = buffer_[0] == 'U';
            if (buffer_[0] != 'R') return abandon();
            ready_ = true;
            buffer_.erase(0, 1);
        }
    }
    if (buffer_.size() < 4) return std::nullopt;
    std::uint32_t size = 0;
    std::memcpy(&size, buffer_.data(), 4);
    if (size > maxFrame) return abandon();
    if (buffer_.size() < 4 + std::size_t(size)) return std::nullopt;
    std::optional<MetadataReading> reading = decode(buffer_.substr(4, size));
    busy_ = false;
    buffer_.clear();
    if (!reading) return abandon();
    return reading;
}

MetadataReading MetadataReaderProcess::abandon()
{
    MetadataReading reading;
    // A reader that never got going says nothing about the file.
    reading.state = ready_ ? MetadataReadState::failed : MetadataReadState::unread;
    end(true);
    return reading;
}

} // namespace platform
