#include "Platform/CrashHandler.h"

#include "Platform/OwnFolders.h"

#include <cxxabi.h>
#include <elf.h>
#include <execinfo.h>
#include <fcntl.h>
#include <link.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <string_view>
#include <typeinfo>
#include <utility>

namespace platform {

namespace {

// Everything below the install function runs inside the signal handler
// unless it says otherwise: no allocation, no locks, no stdio, only the
// system calls that POSIX lists as async-signal-safe (and gettid, tgkill and
// getrandom, plain system calls without locks).

constexpr int fatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};
constexpr int maxFrames = 128;
constexpr size_t maxKnownImages = 1024;
constexpr size_t maxBuildId = 32; // bytes; GNU build ids are 20 (SHA-1) or 16

#if defined(__aarch64__)
constexpr std::string_view cpuType = "ARM-64";
constexpr std::string_view architecture = "arm64";
#else
constexpr std::string_view cpuType = "X86-64";
constexpr std::string_view architecture = "x86_64";
#endif

// Text of a fixed capacity; what does not fit is cut.
template <size_t N>
struct FixedText {
    char data[N];
    size_t length = 0;
    void put(const char* text, size_t count)
    {
        const size_t room = N - 1 - length;
        const size_t taken = count < room ? count : room;
        std::memcpy(data + length, text, taken);
        length += taken;
        data[length] = '\0';
    }
    const char* c_str() const { return length ? data : ""; }
    std::string_view view() const { return {data, length}; }
};

// Install-time text.
struct StringSink {
    std::string& text;
    void put(const char* data, size_t count) { text.append(data, count); }
};

// The report file, written through a buffer of its own.
class FileSink {
public:
    explicit FileSink(int fd) : fd_(fd) {}
    void put(const char* data, size_t count)
    {
        while (count > 0) {
            if (used_ == sizeof buffer_) flush();
            const size_t taken = std::min(count, sizeof buffer_ - used_);
            std::memcpy(buffer_ + used_, data, taken);
            used_ += taken;
            data += taken;
            count -= taken;
        }
    }
    void flush()
    {
        size_t done = 0;
        while (done < used_ && !failed_) {
            const ssize_t n = ::write(fd_, buffer_ + done, used_ - done);
            if (n > 0) done += size_t(n);
            else if (n < 0 && errno == EINTR) continue;
            else failed_ = true;
        }
        used_ = 0;
    }
    bool failed() const { return failed_; }

private:
    int fd_;
    char buffer_[4096];
    size_t used_ = 0;
    bool failed_ = false;
};

template <class Sink>
void put(Sink& out, std::string_view text)
{
    out.put(text.data(), text.size());
}

template <class Sink>
void putUnsigned(Sink& out, uint64_t value, int width = 1)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0 || count < width);
    std::reverse(digits, digits + count);
    out.put(digits, size_t(count));
}

template <class Sink>
void putSigned(Sink& out, int64_t value)
{
    if (value < 0) put(out, "-");
    putUnsigned(out, value < 0 ? 0 - uint64_t(value) : uint64_t(value));
}

constexpr char hexDigits[] = "0123456789abcdef";

template <class Sink>
void putHex(Sink& out, const unsigned char* bytes, size_t count, bool upper = false)
{
    for (size_t i = 0; i < count; ++i) {
        char pair[2] = {hexDigits[bytes[i] >> 4], hexDigits[bytes[i] & 15]};
        if (upper)
            for (char& c : pair) c = char(c >= 'a' ? c - 'a' + 'A' : c);
        out.put(pair, 2);
    }
}

// "0x" and sixteen hexadecimal digits.
template <class Sink>
void putAddress(Sink& out, uint64_t value)
{
    char text[18] = {'0', 'x'};
    for (int i = 17; i >= 2; --i, value >>= 4) text[i] = hexDigits[value & 15];
    out.put(text, sizeof text);
}

// The length of the UTF-8 sequence that `text` starts with, 0 when it is not one.
size_t utf8Length(const unsigned char* text, size_t available)
{
    const unsigned char lead = text[0];
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // overlong
        if (lead == 0xED) high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (available < length || text[1] < low || text[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (text[i] < 0x80 || text[i] > 0xBF) return 0;
    return length;
}

// A JSON string. Paths need not be UTF-8: a byte that is not part of a UTF-8
// sequence becomes U+FFFD, so the report always parses.
template <class Sink>
void putJson(Sink& out, std::string_view text)
{
    put(out, "\"");
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = bytes[i];
        if (c == '"' || c == '\\') {
            const char escaped[2] = {'\\', char(c)};
            out.put(escaped, 2);
            ++i;
        } else if (c < 0x20) {
            const char escaped[6] = {'\\', 'u', '0', '0', hexDigits[c >> 4], hexDigits[c & 15]};
            out.put(escaped, 6);
            ++i;
        } else if (const size_t length = utf8Length(bytes + i, text.size() - i)) {
            out.put(text.data() + i, length);
            i += length;
        } else {
            put(out, "\\ufffd");
            ++i;
        }
    }
    put(out, "\"");
}

// `"key":"value",` of the one-line header.
template <class Sink>
void putHeaderField(Sink& out, std::string_view key, std::string_view value)
{
    putJson(out, key);
    put(out, ":");
    putJson(out, value);
    put(out, ",");
}

// `  "key" : ` of a body member, on a line of its own.
template <class Sink>
void putBodyKey(Sink& out, std::string_view key)
{
    put(out, "  ");
    putJson(out, key);
    put(out, " : ");
}

struct KnownImage {
    uintptr_t base = 0; // where the file's offset 0 is mapped, as /proc/self/maps shows it
    size_t idLength = 0;
    unsigned char id[maxBuildId];
};

// What install() prepares; the handler only reads it.
struct Prepared {
    std::string folder;
    int folderFd = -1; // the folder, held (O_PATH): the report is written through it, never its name
    std::string processName;
    std::string headerFields; // the header's fixed members, each with its comma
    std::string bodyFields;   // the body's fixed member lines, each ending ",\n"
    KnownImage images[maxKnownImages];
    size_t imageCount = 0;
    struct sigaction previous[NSIG];
    std::terminate_handler previousTerminate = nullptr;
    uint64_t seed = 0; // for incident ids when getrandom fails
};

Prepared* prepared = nullptr; // made once by install() and kept until the process ends

// The handler's working storage, static so that the handler allocates nothing.
alignas(16) char alternateStack[128 * 1024];
std::atomic<pid_t> writingThread{0};
std::atomic<bool> reportWritten{false};
FixedText<512> terminateNote;
std::atomic<bool> hasTerminateNote{false};
void* frames[maxFrames];
int frameImage[maxFrames];
uint64_t frameOffset[maxFrames];

// ---- ELF build ids ----

const ElfW(Phdr) * firstLoad(const ElfW(Phdr) * headers, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (headers[i].p_type == PT_LOAD) return &headers[i];
    return nullptr;
}

// The GNU build id in the notes of an image whose program headers are
// `headers`, loaded with the bias `bias`; only notes inside [low, high) are
// read. Returns its length, 0 when there is none.
size_t buildIdOf(uintptr_t bias, const ElfW(Phdr) * headers, size_t count, uintptr_t low, uintptr_t high,
                 unsigned char* out)
{
    for (size_t i = 0; i < count; ++i) {
        if (headers[i].p_type != PT_NOTE) continue;
        const uintptr_t start = bias + headers[i].p_vaddr;
        const size_t size = headers[i].p_memsz;
        if (start < low || start >= high || size > high - start) continue;
        const size_t align = headers[i].p_align == 8 ? 8 : 4;
        const auto alignUp = [align](size_t n) { return (n + align - 1) & ~(align - 1); };
        size_t at = 0;
        while (size - at >= sizeof(ElfW(Nhdr))) {
            ElfW(Nhdr) note;
            std::memcpy(&note, reinterpret_cast<const void*>(start + at), sizeof note);
            const size_t descAt = alignUp(sizeof note + note.n_namesz);
            const size_t noteSize = alignUp(descAt + note.n_descsz);
            if (noteSize > size - at) break;
            const auto* name = reinterpret_cast<const char*>(start + at + sizeof note);
            if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0
                && note.n_descsz > 0) {
                const size_t length = std::min<size_t>(note.n_descsz, maxBuildId);
                std::memcpy(out, reinterpret_cast<const void*>(start + at + descAt), length);
                return length;
            }
            at += noteSize;
        }
    }
    return 0;
}

// The build id of an image loaded after install(), read from its ELF header,
// mapped readable at [start, end).
size_t buildIdInMemory(uintptr_t start, uintptr_t end, unsigned char* out)
{
    ElfW(Ehdr) header;
    if (end - start < sizeof header) return 0;
    std::memcpy(&header, reinterpret_cast<const void*>(start), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0
        || header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32)
        || header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phoff > end - start
        || size_t(header.e_phnum) * sizeof(ElfW(Phdr)) > end - start - header.e_phoff)
        return 0;
    const auto* headers = reinterpret_cast<const ElfW(Phdr)*>(start + header.e_phoff);
    const ElfW(Phdr)* load = firstLoad(headers, header.e_phnum);
    if (!load) return 0;
    return buildIdOf(start - (load->p_vaddr - load->p_offset), headers, header.e_phnum, start, end, out);
}

// Install time: the build id of every image loaded now.
int noteLoadedImage(dl_phdr_info* info, size_t, void* data)
{
    auto* state = static_cast<Prepared*>(data);
    if (state->imageCount == maxKnownImages) return 1;
    const ElfW(Phdr)* load = firstLoad(info->dlpi_phdr, info->dlpi_phnum);
    if (!load) return 0;
    KnownImage& image = state->images[state->imageCount];
    image.base = info->dlpi_addr + load->p_vaddr - load->p_offset;
    image.idLength = buildIdOf(info->dlpi_addr, info->dlpi_phdr, info->dlpi_phnum, 0, UINTPTR_MAX, image.id);
    if (image.idLength > 0) ++state->imageCount;
    return 0;
}

// ---- /proc/self/maps ----

// A file's lines, one at a time, through fixed buffers; a line longer than
// the line buffer is cut.
class LineReader {
public:
    void reset(int fd)
    {
        fd_ = fd;
        at_ = end_ = 0;
        finished_ = false;
    }
    bool next(std::string_view& line)
    {
        size_t length = 0;
        for (;;) {
            if (at_ == end_) {
                if (finished_) {
                    if (length == 0) return false;
                    break;
                }
                const ssize_t n = ::read(fd_, chunk_, sizeof chunk_);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    finished_ = true;
                    continue;
                }
                at_ = 0;
                end_ = size_t(n);
            }
            const char c = chunk_[at_++];
            if (c == '\n') break;
            if (length < sizeof line_) line_[length++] = c;
        }
        line = std::string_view(line_, length);
        return true;
    }

private:
    int fd_ = -1;
    char chunk_[4096];
    char line_[PATH_MAX + 128];
    size_t at_ = 0, end_ = 0;
    bool finished_ = false;
};

bool readHex(std::string_view& text, uint64_t& value)
{
    value = 0;
    size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) break;
        value = value << 4 | uint64_t(digit);
    }
    text.remove_prefix(i);
    return i > 0;
}

std::string_view nextField(std::string_view& text)
{
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    const size_t end = std::min(text.find(' '), text.size());
    const std::string_view field = text.substr(0, end);
    text.remove_prefix(end);
    return field;
}

// One line of /proc/self/maps: "start-end perms offset dev inode path".
struct Mapping {
    uint64_t start = 0, end = 0, offset = 0;
    bool readable = false, executable = false;
    std::string_view device, inode, path;
};

bool parseMapping(std::string_view line, Mapping& m)
{
    uint64_t value = 0;
    if (!readHex(line, m.start) || line.empty() || line.front() != '-') return false;
    line.remove_prefix(1);
    if (!readHex(line, m.end)) return false;
    const std::string_view perms = nextField(line);
    if (perms.size() < 3) return false;
    m.readable = perms[0] == 'r';
    m.executable = perms[2] == 'x';
    std::string_view offset = nextField(line);
    if (!readHex(offset, value)) return false;
    m.offset = value;
    m.device = nextField(line);
    m.inode = nextField(line);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    m.path = line;
    return true;
}

// The consecutive mappings of one file (or of "[vdso]"): one image when one
// of them is executable.
struct ImageGroup {
    bool open = false;
    bool executable = false;
    uint64_t base = 0, firstStart = 0, firstEnd = 0, end = 0;
    bool firstReadable = false, firstAtZero = false;
    FixedText<64> key; // device and inode
    FixedText<PATH_MAX> path;
};

// Kept off the alternate stack: they are large.
LineReader mapsReader;
ImageGroup currentImage;

std::string_view baseName(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

template <class Sink>
void finishImage(Sink& out, const ImageGroup& group, int& index, int frameCount)
{
    if (!group.open || !group.executable) return;
    unsigned char id[maxBuildId];
    size_t idLength = 0;
    for (size_t i = 0; i < prepared->imageCount && !idLength; ++i)
        if (prepared->images[i].base == group.base) {
            idLength = prepared->images[i].idLength;
            std::memcpy(id, prepared->images[i].id, idLength);
        }
    if (!idLength && group.firstReadable && group.firstAtZero)
        idLength = buildIdInMemory(group.firstStart, group.firstEnd, id);

    put(out, index == 0 ? "\n    {" : ",\n    {");
    put(out, "\"arch\":");
    putJson(out, architecture);
    put(out, ",\"base\":");
    putUnsigned(out, group.base);
    put(out, ",\"name\":");
    putJson(out, baseName(group.path.view()));
    if (group.path.view().front() == '/') {
        put(out, ",\"path\":");
        putJson(out, group.path.view());
    }
    put(out, ",\"size\":");
    putUnsigned(out, group.end - group.base);
    if (idLength) {
        put(out, ",\"uuid\":\"");
        putHex(out, id, idLength);
        put(out, "\"");
    }
    put(out, "}");
    for (int i = 0; i < frameCount; ++i) {
        const auto address = uintptr_t(frames[i]);
        if (frameImage[i] < 0 && address >= group.firstStart && address < group.end) {
            frameImage[i] = index;
            frameOffset[i] = address - group.base;
        }
    }
    ++index;
}

// "usedImages": every executable image mapped now, in address order; the
// frames learn their image's index on the way.
template <class Sink>
void putImages(Sink& out, int frameCount)
{
    put(out, "[");
    int index = 0;
    const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        mapsReader.reset(fd);
        currentImage.open = false;
        std::string_view line;
        Mapping m;
        while (mapsReader.next(line)) {
            if (!parseMapping(line, m)) continue;
            FixedText<64> key;
            put(key, m.device);
            put(key, " ");
            put(key, m.inode);
            const bool sameFile = currentImage.open && !m.path.empty() && key.view() == currentImage.key.view()
                                  && m.path == currentImage.path.view();
            if (sameFile) {
                currentImage.end = m.end;
                currentImage.executable = currentImage.executable || m.executable;
                continue;
            }
            finishImage(out, currentImage, index, frameCount);
            currentImage.open = !m.path.empty() && (m.path.front() == '/' || m.path == "[vdso]");
            if (!currentImage.open) continue;
            currentImage.executable = m.executable;
            currentImage.base = m.start - m.offset;
            currentImage.firstStart = m.start;
            currentImage.firstEnd = currentImage.end = m.end;
            currentImage.firstReadable = m.readable;
            currentImage.firstAtZero = m.offset == 0;
            currentImage.key = key;
            currentImage.path.length = 0;
            put(currentImage.path, m.path);
        }
        finishImage(out, currentImage, index, frameCount);
        ::close(fd);
    }
    put(out, index ? "\n  ]" : "]");
}

// ---- time, ids and names ----

struct UtcTime {
    int64_t year;
    int month, day, hour, minute, second, centisecond;
};

UtcTime utcNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t seconds = now.tv_sec;
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) rest += 86400, --days;
    // Days since 1970 to a civil date (proleptic Gregorian).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    UtcTime t{};
    t.day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
    t.month = int(mp < 10 ? mp + 3 : mp - 9);
    t.year = yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0);
    t.hour = int(rest / 3600);
    t.minute = int(rest / 60 % 60);
    t.second = int(rest % 60);
    t.centisecond = int(now.tv_nsec / 10000000);
    return t;
}

// "2024-01-15", `between`, then the time with `colon` between its parts.
template <class Sink>
void putDateTime(Sink& out, const UtcTime& t, std::string_view between, std::string_view colon)
{
    putUnsigned(out, uint64_t(t.year), 4);
    put(out, "-");
    putUnsigned(out, uint64_t(t.month), 2);
    put(out, "-");
    putUnsigned(out, uint64_t(t.day), 2);
    put(out, between);
    putUnsigned(out, uint64_t(t.hour), 2);
    put(out, colon);
    putUnsigned(out, uint64_t(t.minute), 2);
    put(out, colon);
    putUnsigned(out, uint64_t(t.second), 2);
}

// "2024-01-15 10:23:45.12 +0000", the report's timestamp.
template <class Sink>
void putTimestamp(Sink& out, const UtcTime& t)
{
    putDateTime(out, t, " ", ":");
    put(out, ".");
    putUnsigned(out, uint64_t(t.centisecond), 2);
    put(out, " +0000");
}

uint64_t mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A random (version 4) UUID in capitals, "8-4-4-4-12".
template <class Sink>
void putIncidentId(Sink& out)
{
    unsigned char bytes[16];
    if (syscall(SYS_getrandom, bytes, sizeof bytes, 0x1 /* GRND_NONBLOCK */) != long(sizeof bytes)) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const uint64_t a = mix(prepared->seed ^ uint64_t(now.tv_nsec) ^ uint64_t(now.tv_sec) << 30);
        const uint64_t b = mix(a ^ uint64_t(getpid()) << 32 ^ uint64_t(syscall(SYS_gettid)));
        std::memcpy(bytes, &a, 8);
        std::memcpy(bytes + 8, &b, 8);
    }
    bytes[6] = (bytes[6] & 0x0F) | 0x40;
    bytes[8] = (bytes[8] & 0x3F) | 0x80;
    const size_t groups[] = {4, 2, 2, 2, 6};
    size_t at = 0;
    for (size_t g = 0; g < 5; ++g) {
        if (g) put(out, "-");
        putHex(out, bytes + at, groups[g], true);
        at += groups[g];
    }
}

const char* signalName(int sig)
{
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    case SIGTRAP: return "SIGTRAP";
    case SIGSYS: return "SIGSYS";
    }
    return "SIGNAL";
}

const char* signalDescription(int sig)
{
    switch (sig) {
    case SIGSEGV: return "Segmentation fault";
    case SIGBUS: return "Bus error";
    case SIGILL: return "Illegal instruction";
    case SIGFPE: return "Floating point exception";
    case SIGABRT: return "Aborted";
    case SIGTRAP: return "Trace/breakpoint trap";
    case SIGSYS: return "Bad system call";
    }
    return "Signal";
}

// The kind of a signal as its si_code says it ("SEGV_MAPERR", "SI_USER"…).
const char* codeName(int sig, int code)
{
    switch (code) {
    case SI_USER: return "SI_USER";
    case SI_KERNEL: return "SI_KERNEL";
    case SI_QUEUE: return "SI_QUEUE";
    case SI_TIMER: return "SI_TIMER";
    case SI_MESGQ: return "SI_MESGQ";
    case SI_ASYNCIO: return "SI_ASYNCIO";
    case SI_SIGIO: return "SI_SIGIO";
    case SI_TKILL: return "SI_TKILL";
    }
    static constexpr const char* segv[] = {"SEGV_MAPERR", "SEGV_ACCERR", "SEGV_BNDERR", "SEGV_PKUERR"};
    static constexpr const char* bus[] = {"BUS_ADRALN", "BUS_ADRERR", "BUS_OBJERR", "BUS_MCEERR_AR", "BUS_MCEERR_AO"};
    static constexpr const char* ill[] = {"ILL_ILLOPC", "ILL_ILLOPN", "ILL_ILLADR", "ILL_ILLTRP",
                                          "ILL_PRVOPC", "ILL_PRVREG", "ILL_COPROC", "ILL_BADSTK"};
    static constexpr const char* fpe[] = {"FPE_INTDIV", "FPE_INTOVF", "FPE_FLTDIV", "FPE_FLTOVF",
                                          "FPE_FLTUND", "FPE_FLTRES", "FPE_FLTINV", "FPE_FLTSUB"};
    static constexpr const char* trap[] = {"TRAP_BRKPT", "TRAP_TRACE"};
    static constexpr const char* sys[] = {"SYS_SECCOMP"};
    const auto pick = [code](const auto& names) -> const char* {
        return code >= 1 && size_t(code) <= std::size(names) ? names[code - 1] : nullptr;
    };
    switch (sig) {
    case SIGSEGV: return pick(segv);
    case SIGBUS: return pick(bus);
    case SIGILL: return pick(ill);
    case SIGFPE: return pick(fpe);
    case SIGTRAP: return pick(trap);
    case SIGSYS: return pick(sys);
    }
    return nullptr;
}

bool isFault(int sig, const siginfo_t* info)
{
    return info && info->si_code > 0 && (sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE);
}

uintptr_t interruptedAddress(const void* context)
{
    if (!context) return 0;
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return uintptr_t(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return uintptr_t(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

// ---- the report ----

template <class Sink>
void putException(Sink& out, int sig, const siginfo_t* info)
{
    put(out, "{\"codes\":\"");
    if (isFault(sig, info)) putAddress(out, uintptr_t(info->si_addr));
    put(out, "\",\"signal\":");
    putJson(out, signalName(sig));
    put(out, ",\"type\":\"");
    const int code = info ? info->si_code : SI_USER;
    if (const char* name = codeName(sig, code)) {
        put(out, name);
    } else {
        put(out, "code ");
        putSigned(out, code);
    }
    put(out, "\"}");
}

template <class Sink>
void putThread(Sink& out, pid_t tid, int first, int count)
{
    FixedText<64> name;
    const int fd = ::open("/proc/thread-self/comm", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char text[32];
        const ssize_t n = ::read(fd, text, sizeof text);
        if (n > 0) name.put(text, size_t(n));
        ::close(fd);
        while (name.length && name.data[name.length - 1] == '\n') name.data[--name.length] = '\0';
    }
    put(out, "[{\"frames\":[");
    for (int i = first; i < count; ++i) {
        put(out, i > first ? ",\n    {" : "\n    {");
        if (frameImage[i] >= 0) {
            put(out, "\"imageIndex\":");
            putSigned(out, frameImage[i]);
            put(out, ",\"imageOffset\":");
            putUnsigned(out, frameOffset[i]);
        } else {
            put(out, "\"imageOffset\":");
            putUnsigned(out, uintptr_t(frames[i]));
        }
        put(out, "}");
    }
    put(out, "],\"id\":");
    putSigned(out, tid);
    put(out, ",\"name\":");
    putJson(out, name.view());
    put(out, ",\"triggered\":true}]");
}

template <class Sink>
void putReport(Sink& out, int sig, const siginfo_t* info, const void* context, pid_t tid, const UtcTime& now)
{
    FixedText<40> incident;
    putIncidentId(incident);
    FixedText<40> stamp;
    putTimestamp(stamp, now);

    // The header, on one line.
    put(out, "{");
    put(out, prepared->headerFields);
    putHeaderField(out, "incident_id", incident.view());
    put(out, "\"timestamp\":");
    putJson(out, stamp.view());
    put(out, "}\n{\n");

    putBodyKey(out, "incident");
    putJson(out, incident.view());
    put(out, ",\n");
    putBodyKey(out, "captureTime");
    putJson(out, stamp.view());
    put(out, ",\n");
    put(out, prepared->bodyFields);
    putBodyKey(out, "pid");
    putUnsigned(out, uint64_t(getpid()));
    put(out, ",\n");
    putBodyKey(out, "exception");
    putException(out, sig, info);
    put(out, ",\n");
    putBodyKey(out, "termination");
    put(out, "{\"code\":");
    putSigned(out, sig);
    put(out, ",\"indicator\":\"");
    put(out, signalDescription(sig));
    put(out, ": ");
    putSigned(out, sig);
    put(out, "\",\"namespace\":\"SIGNAL\"}");
    put(out, ",\n");
    if (hasTerminateNote.load()) {
        putBodyKey(out, "asi");
        put(out, "{\"libstdc++\":[");
        putJson(out, terminateNote.view());
        put(out, "]},\n");
    }

    // The frames from the interrupted instruction on, when the unwinder
    // found it; else all of them, this handler's own included.
    const int count = backtrace(frames, maxFrames);
    const uintptr_t interrupted = interruptedAddress(context);
    int first = 0;
    for (int i = 0; i < count; ++i)
        if (uintptr_t(frames[i]) == interrupted) {
            first = i;
            break;
        }
    for (int i = 0; i < count; ++i) frameImage[i] = -1;
    putBodyKey(out, "usedImages");
    putImages(out, count);
    put(out, ",\n");
    putBodyKey(out, "faultingThread");
    put(out, "0,\n");
    putBodyKey(out, "threads");
    putThread(out, tid, first, count);
    put(out, "\n}\n");
}

// The report's final name, "<process>-2024-01-15-102345.ips", taken without
// replacing a report that has it already.
bool publish(const char* temporary, const UtcTime& t)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        FixedText<PATH_MAX> name;
        put(name, prepared->processName);
        put(name, "-");
        putDateTime(name, t, "-", "");
        if (attempt > 0) {
            put(name, "-");
            putUnsigned(name, uint64_t(attempt));
        }
        put(name, ".ips");
        const int folder = prepared->folderFd;
        if (::linkat(folder, temporary, folder, name.c_str(), 0) == 0) {
            ::unlinkat(folder, temporary, 0);
            return true;
        }
        if (errno == EEXIST) continue;
        // A file system without hard links: a rename, once the name is free.
        struct stat taken {};
        if (::fstatat(folder, name.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0) continue;
        return ::renameat(folder, temporary, folder, name.c_str()) == 0;
    }
    ::unlinkat(prepared->folderFd, temporary, 0);
    return false;
}

void writeReport(int sig, const siginfo_t* info, const void* context, pid_t tid)
{
    const UtcTime now = utcNow();
    FixedText<PATH_MAX> temporary;
    put(temporary, ".");
    put(temporary, prepared->processName);
    put(temporary, "-");
    putUnsigned(temporary, uint64_t(getpid()));
    put(temporary, ".ips.tmp");
    const int fd =
        ::openat(prepared->folderFd, temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    FileSink out(fd);
    putReport(out, sig, info, context, tid, now);
    out.flush();
    const bool complete = !out.failed() && ::fsync(fd) == 0;
    ::close(fd);
    if (complete) publish(temporary.c_str(), now);
    else ::unlinkat(prepared->folderFd, temporary.c_str(), 0);
}

// Gives the signal to whoever had it before: the previous action comes back,
// and the signal is sent again unless it is a fault of the instruction
// itself, which happens again, with its own details, once this returns.
void passOn(int sig, const siginfo_t* info)
{
    ::sigaction(sig, &prepared->previous[sig], nullptr);
    if (!isFault(sig, info)) syscall(SYS_tgkill, getpid(), syscall(SYS_gettid), sig);
}

void onFatalSignal(int sig, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    const auto tid = pid_t(syscall(SYS_gettid));
    pid_t idle = 0;
    if (writingThread.compare_exchange_strong(idle, tid)) {
        writeReport(sig, info, context, tid);
        reportWritten.store(true);
    } else if (idle != tid) {
        // Another thread is writing its report: let it finish before this one ends the process.
        for (int i = 0; i < 300 && !reportWritten.load(); ++i) {
            const timespec pause{0, 10'000'000};
            nanosleep(&pause, nullptr);
        }
    }
    passOn(sig, info);
    errno = savedErrno;
}

// Not in a signal handler: std::terminate runs as ordinary code.
[[noreturn]] void onTerminate()
{
    static std::atomic<bool> noted{false};
    if (!noted.exchange(true)) {
        if (const std::type_info* type = abi::__cxa_current_exception_type()) {
            int status = 0;
            char* name = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
            put(terminateNote, "terminate called after throwing an instance of '");
            put(terminateNote, name ? name : type->name());
            put(terminateNote, "'");
            std::free(name);
        } else {
            put(terminateNote, "terminate called without an active exception");
        }
        hasTerminateNote.store(true);
    }
    if (prepared->previousTerminate) prepared->previousTerminate();
    std::abort();
}

// ---- install time ----

std::string firstLine(const char* path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

// The distribution's name, from os-release's PRETTY_NAME; "Linux" without one.
std::string distributionName()
{
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream file(path);
        std::string line;
        while (std::getline(file, line)) {
            if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
            std::string value = line.substr(12);
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            std::string plain;
            for (size_t i = 0; i < value.size(); ++i) {
                if (value[i] == '\\' && i + 1 < value.size()) ++i;
                plain += value[i];
            }
            if (!plain.empty()) return plain;
        }
    }
    return "Linux";
}

std::string executablePath()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, size_t(n)) : std::string();
}

} // namespace

std::string CrashHandler::reportsFolder()
{
    std::string base;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        std::string homeFolder = home && home[0] == '/' ? home : "";
        if (homeFolder.empty())
            if (const passwd* account = ::getpwuid(::getuid()); account && account->pw_dir)
                homeFolder = account->pw_dir;
        if (homeFolder.empty() || homeFolder[0] != '/') return {};
        base = homeFolder + "/.local/state";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/ravlen/DiagnosticReports";
}

bool CrashHandler::install(const CrashIdentity& identity)
{
    if (prepared) return true;
    const std::string folder = reportsFolder();
    // A folder of ravlen's own (never one another user can change), held for
    // the process: the handler writes through it.
    OwnFolder own = folder.empty() ? OwnFolder() : holdOwnFolder(folder);
    if (!own.held()) return false;

    auto* state = new Prepared; // kept until the process ends: the handler reads it
    state->folder = folder;
    state->folderFd = std::exchange(own.folder.fd, -1);
    state->processName = identity.processName.empty() ? program_invocation_short_name : identity.processName;
    utsname system{};
    ::uname(&system); // its node name, the host name, stays out of the report
    const std::string distribution = distributionName();
    const std::string kernel = system.release;

    StringSink header{state->headerFields};
    putHeaderField(header, "app_name", state->processName);
    putHeaderField(header, "app_version", identity.version);
    putHeaderField(header, "build_version", identity.build);
    putHeaderField(header, "bug_type", "309");
    putHeaderField(header, "bundleID", identity.bundleID);
    putHeaderField(header, "name", state->processName);
    putHeaderField(header, "os_version", distribution + " (" + kernel + ")");

    StringSink body{state->bodyFields};
    const auto line = [&](std::string_view key, std::string_view value) {
        putBodyKey(body, key);
        putJson(body, value);
        put(body, ",\n");
    };
    line("procName", state->processName);
    line("procPath", executablePath());
    putBodyKey(body, "bundleInfo");
    put(body, "{\"CFBundleIdentifier\":");
    putJson(body, identity.bundleID);
    put(body, ",\"CFBundleShortVersionString\":");
    putJson(body, identity.version);
    put(body, ",\"CFBundleVersion\":");
    putJson(body, identity.build);
    put(body, "},\n");
    putBodyKey(body, "osVersion");
    put(body, "{\"build\":");
    putJson(body, kernel);
    put(body, ",\"train\":");
    putJson(body, distribution);
    put(body, "},\n");
    if (const std::string model = firstLine("/sys/devices/virtual/dmi/id/product_name"); !model.empty())
        line("modelCode", model);
    line("cpuType", cpuType);

    dl_iterate_phdr(noteLoadedImage, state);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    state->seed = mix(uint64_t(now.tv_nsec) ^ uint64_t(::getpid()) << 40);
    // backtrace() loads the unwinder on its first call, which must not happen in the handler.
    void* warm[2];
    backtrace(warm, 2);

    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0
        && ((current.ss_flags & SS_DISABLE) || current.ss_size < sizeof alternateStack)) {
        stack_t ours{};
        ours.ss_sp = alternateStack;
        ours.ss_size = sizeof alternateStack;
        ::sigaltstack(&ours, nullptr);
    }

    prepared = state;
    state->previousTerminate = std::set_terminate(onTerminate);
    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int sig : fatalSignals) ::sigaction(sig, &action, &state->previous[sig]);
    return true;
}

} // namespace platform
