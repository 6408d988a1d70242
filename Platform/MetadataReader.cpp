#include "Platform/MetadataReader.h"

#include "Platform/PdfDocument.h"
#include "Platform/PdfPageDraw.h"
#include "Platform/Sandbox.h"
#include "Platform/TrustedProgram.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace platform {

namespace {

// A request is one byte with the file's descriptor attached: "F" to read
// the file for the index; "D" to draw its first page, followed by the size
// to fit (two 16-bit numbers). An answer is a frame: a 32-bit length (host
// order: both ends are this machine), then that many bytes. A reading: the
// state (1 byte), the page count (4 bytes, -1 for none), the title's length
// (4 bytes, 0xffffffff for none), the title and the text. A drawing: the
// state (1 byte), the width and the height (4 bytes each), and the pixels,
// three bytes (red, green, blue) each, row after row.
constexpr std::uint32_t noTitle = 0xffffffffu;
constexpr std::uint32_t maxFrame = std::uint32_t(MetadataIndex::maxTextBytes) + (1u << 20);
static_assert(9 + 3ull * maxDrawingSide * maxDrawingSide <= maxFrame);

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

std::string encodeDrawing(const PageDrawing& d)
{
    const auto state = std::uint8_t(d.state);
    const bool drawn = d.state == PageDrawing::State::drawn && !d.image.isNull();
    const QImage rgb = drawn ? d.image.convertToFormat(QImage::Format_RGB888) : QImage();
    const auto width = std::uint32_t(rgb.width()), height = std::uint32_t(rgb.height());
    const auto size = std::uint32_t(9 + std::size_t(width) * height * 3);
    std::string frame;
    frame.reserve(4 + size);
    append(frame, &size, 4);
    append(frame, &state, 1);
    append(frame, &width, 4);
    append(frame, &height, 4);
    for (int y = 0; y < rgb.height(); ++y) append(frame, rgb.constScanLine(y), std::size_t(width) * 3);
    return frame;
}

// A drawing that fits what was asked, every pixel there; else none.
std::optional<PageDrawing> decodeDrawing(const std::string& payload, int maxWidth, int maxHeight)
{
    if (payload.size() < 9) return std::nullopt;
    std::uint8_t state;
    std::uint32_t width, height;
    std::memcpy(&state, payload.data(), 1);
    std::memcpy(&width, payload.data() + 1, 4);
    std::memcpy(&height, payload.data() + 5, 4);
    if (state > std::uint8_t(PageDrawing::State::failed)) return std::nullopt;
    PageDrawing d;
    d.state = PageDrawing::State(state);
    if (d.state != PageDrawing::State::drawn) return payload.size() == 9 ? std::optional(d) : std::nullopt;
    if (width < 1 || height < 1 || width > std::uint32_t(maxWidth) || height > std::uint32_t(maxHeight)
        || payload.size() != 9 + std::size_t(width) * height * 3)
        return std::nullopt;
    QImage image(int(width), int(height), QImage::Format_RGB888);
    if (image.isNull()) return std::nullopt;
    for (int y = 0; y < int(height); ++y)
        std::memcpy(image.scanLine(y), payload.data() + 9 + std::size_t(y) * width * 3, std::size_t(width) * 3);
    d.image = image.convertToFormat(QImage::Format_RGB32);
    return d;
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

void limitSelf(std::uint64_t memoryLimit, bool idle)
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
    if (idle) lowerPriority(true);
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

PageDrawing drawFirstPage(int fd, int width, int height)
{
    PageDrawing d;
    d.state = PageDrawing::State::unreadable;
    if (width < 1 || height < 1 || width > maxDrawingSide || height > maxDrawingSide) {
        ::close(fd);
        return d;
    }
    try {
        const auto doc = PdfDocument::openDescriptor(fd);
        if (doc->isLocked()) {
            d.state = PageDrawing::State::locked;
            return d;
        }
        if (doc->pageCount() < 1) return d;
        // The exporter's display box: the crop box, unless it has no area.
        const PdfPageGeometry page = doc->pageGeometry(0);
        const PdfRect box = page.cropBox.width > 1 && page.cropBox.height > 1 ? page.cropBox : page.mediaBox;
        const int rotation = normalizedRotation(page.rotation);
        const bool turned = rotation == 90 || rotation == 270;
        const double w = turned ? box.height : box.width, h = turned ? box.width : box.height;
        if (!(w > 1) || !(h > 1)) return d;
        const double scale = std::min(width / w, height / h);
        const auto side = [scale](double points) {
            return std::clamp(int(std::lround(points * scale)), 1, maxDrawingSide);
        };
        QImage image(side(w), side(h), QImage::Format_RGB888);
        if (image.isNull()) return d;
        image.fill(Qt::white);
        // Display space, its origin moved to the box's corner, then scaled.
        const PdfRect shown = page.userToDisplay.mapRect(box);
        if (!(shown.width > 0) || !(shown.height > 0)) return d;
        const PdfMatrix toPixels = page.userToDisplay.then(PdfMatrix::translate(-shown.x, -shown.y))
                                       .then(PdfMatrix::scale(scale * w / shown.width, scale * h / shown.height));
        // Recorded first, so that a page that fails part way keeps what it drew.
        drawRecording(*recordPage(*doc, 0), toPixels, image);
        d.state = PageDrawing::State::drawn;
        d.image = std::move(image);
    } catch (const PdfError&) {
        d = {};
        d.state = PageDrawing::State::unreadable;
    } catch (const std::exception&) {
        d = {};
        d.state = PageDrawing::State::failed;
    }
    return d;
}

int runMetadataReader(int in, int out, std::uint64_t memoryLimit, bool idle)
{
    limitSelf(memoryLimit, idle);
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
        const ReaderRequest request = receiveRequest(in);
        if (request.fd < 0) return 0;
        const bool sent = request.draw ? sendDrawing(out, drawFirstPage(request.fd, request.width, request.height))
                                       : sendReading(out, readForIndex(request.fd, textBudget));
        if (!sent) return 0;
    }
}

ReaderRequest receiveRequest(int in)
{
    ReaderRequest request;
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
    if (n <= 0) return request;
    int fd = -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS || c->cmsg_len != CMSG_LEN(sizeof(int))) continue;
        std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
        break;
    }
    if (fd < 0) return request;
    if (byte == 'D') {
        std::uint16_t size[2];
        while ((n = ::recv(in, size, sizeof size, MSG_WAITALL)) < 0 && errno == EINTR) {}
        if (n != ssize_t(sizeof size)) {
            ::close(fd);
            return request;
        }
        request.draw = true;
        request.width = size[0];
        request.height = size[1];
    }
    request.fd = fd;
    return request;
}

bool sendReading(int out, const MetadataReading& reading)
{
    const std::string frame = encode(reading);
    return writeAll(out, frame.data(), frame.size());
}

bool sendDrawing(int out, const PageDrawing& drawing)
{
    const std::string frame = encodeDrawing(drawing);
    return writeAll(out, frame.data(), frame.size());
}

// ---------------------------------------------------------------- the indexer's end

MetadataReaderProcess::MetadataReaderProcess(std::string program, std::uint64_t memoryLimit, bool idle)
    : program_(std::move(program)), memoryLimit_(memoryLimit), idle_(idle)
{}

MetadataReaderProcess::~MetadataReaderProcess() { end(true); }

void MetadataReaderProcess::start()
{
    // Only a reader that no other user could have put in place runs, and
    // the file checked is the file started, whatever its name leads to now.
    const ProgramCheck check = checkProgram(program_);
    verdict_ = check.verdict;
    if (check.verdict != ProgramCheck::Verdict::trusted) return;
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) return;
    std::vector<std::string> arguments = {program_, std::to_string(memoryLimit_)};
    if (!idle_) arguments.emplace_back("normal");
    const pid_t pid = startCheckedProgram(check, arguments, sockets[1]);
    ::close(sockets[1]);
    if (pid < 0) {
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

bool sendFile(int socket, int fd, const std::string& request)
{
    iovec part{const_cast<char*>(request.data()), request.size()};
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
    return n == ssize_t(request.size());
}

} // namespace

bool MetadataReaderProcess::begin(int fd) { return send(fd, "F"); }

bool MetadataReaderProcess::beginDrawing(int fd, int width, int height)
{
    if (width < 1 || height < 1 || width > maxDrawingSide || height > maxDrawingSide) return false;
    drawingWidth_ = width;
    drawingHeight_ = height;
    const std::uint16_t size[2] = {std::uint16_t(width), std::uint16_t(height)};
    std::string request = "D";
    append(request, size, sizeof size);
    return send(fd, request);
}

bool MetadataReaderProcess::send(int fd, const std::string& request)
{
    if (pid_ > 0 && served_ >= filesPerProcess) end(false);
    if (pid_ <= 0) start();
    if (pid_ <= 0) return false;
    if (!sendFile(socket_, fd, request)) {
        // It ended since the last file: one more try with a new one.
        end(true);
        start();
        if (pid_ <= 0 || !sendFile(socket_, fd, request)) {
            end(true);
            return false;
        }
    }
    busy_ = true;
    ++served_;
    buffer_.clear();
    return true;
}

MetadataReaderProcess::Arrival MetadataReaderProcess::collect()
{
    char chunk[65536];
    bool ended = false; // a crash, its memory limit, or a reader that ends once it has answered
    for (;;) {
        const ssize_t n = ::recv(socket_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) {
            ended = true;
            break;
        }
        buffer_.append(chunk, std::size_t(n));
    }
    // What it sent before it ended is read first: a whole answer is kept
    // however soon after it the process went, which the program cannot
    // tell apart from one that went a moment later.
    if (!ready_ && !buffer_.empty()) {
        refused_ = buffer_[0] == 'U';
        if (buffer_[0] != 'R') return Arrival::broken;
        ready_ = true;
        buffer_.erase(0, 1);
    }
    const Arrival unfinished = ended ? Arrival::broken : Arrival::waiting;
    if (buffer_.size() < 4) return unfinished;
    std::uint32_t size = 0;
    std::memcpy(&size, buffer_.data(), 4);
    if (size > maxFrame) return Arrival::broken;
    if (buffer_.size() < 4 + std::size_t(size)) return unfinished;
    payload_ = buffer_.substr(4, size);
    busy_ = false;
    buffer_.clear();
    return Arrival::whole;
}

std::optional<MetadataReading> MetadataReaderProcess::receive()
{
    if (!busy_) return std::nullopt;
    switch (collect()) {
    case Arrival::waiting: return std::nullopt;
    case Arrival::broken: return abandon();
    case Arrival::whole: break;
    }
    std::optional<MetadataReading> reading = decode(payload_);
    if (!reading) return abandon();
    return reading;
}

std::optional<PageDrawing> MetadataReaderProcess::receiveDrawing()
{
    if (!busy_) return std::nullopt;
    const Arrival arrival = collect();
    if (arrival == Arrival::waiting) return std::nullopt;
    std::optional<PageDrawing> drawing;
    if (arrival == Arrival::whole) drawing = decodeDrawing(payload_, drawingWidth_, drawingHeight_);
    if (!drawing) {
        end(true);
        return PageDrawing{};
    }
    return drawing;
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
