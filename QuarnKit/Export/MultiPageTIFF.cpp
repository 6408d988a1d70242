#include "QuarnKit/Export/MultiPageTIFF.h"

#include <algorithm>
#include <cerrno>
#include <set>
#include <vector>

#include <unistd.h>

namespace quarnkit {

namespace {

using u64 = std::uint64_t;

constexpr u64 maximumDirectories = 64;

bool isSubDirectoryTag(unsigned tag) { return tag == 330 || tag == 34665 || tag == 34853 || tag == 40965; }
bool isDataOffsetTag(unsigned tag) { return tag == 273 || tag == 288 || tag == 324 || tag == 513; }

// Element size of a field type; 0 for a type that is refused.
u64 elementSize(unsigned type)
{
    static constexpr u64 sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < std::size(sizes) ? sizes[type] : 0;
}

[[noreturn]] void malformed() { throw ExportError(ExportError::Kind::writeFailed); }

// One page file being relocated on a private copy of its bytes.
class Page {
public:
    Page(const QByteArray& bytes) : bytes_(bytes.begin(), bytes.end())
    {
        if (bytes_.size() < 9) malformed();
        if (bytes_[0] == 'I' && bytes_[1] == 'I') order = TIFFByteOrder::little;
        else if (bytes_[0] == 'M' && bytes_[1] == 'M') order = TIFFByteOrder::big;
        else malformed();
        if (read16(2) != 42) malformed();
    }

    TIFFByteOrder order = TIFFByteOrder::little;
    u64 length() const { return bytes_.size(); }
    const std::vector<unsigned char>& bytes() const { return bytes_; }

    unsigned read16(u64 at) const
    {
        if (at > length() || length() - at < 2) malformed();
        const unsigned a = bytes_[at], b = bytes_[at + 1];
        return order == TIFFByteOrder::little ? a | b << 8 : a << 8 | b;
    }
    u64 read32(u64 at) const
    {
        if (at > length() || length() - at < 4) malformed();
        u64 v = 0;
        for (int i = 0; i < 4; ++i) {
            const u64 byte = bytes_[at + (order == TIFFByteOrder::little ? 3 - i : i)];
            v = v << 8 | byte;
        }
        return v;
    }
    void write32(u64 at, u64 value)
    {
        if (at > length() || length() - at < 4) malformed();
        for (int i = 0; i < 4; ++i) {
            const unsigned char byte = (value >> (8 * i)) & 0xFF;
            bytes_[at + (order == TIFFByteOrder::little ? i : 3 - i)] = byte;
        }
    }

    // Moves every offset of the first directory and its sub-directories by
    // `delta`; returns the first directory's offset and its next-directory
    // field, which is cleared.
    std::pair<u64, u64> relocate(u64 delta)
    {
        delta_ = delta;
        const u64 first = read32(4);
        const u64 link = relocateDirectory(first);
        write32(link, 0);
        return {first, link};
    }

private:
    u64 relocateDirectory(u64 o)
    {
        if (o < 8 || visited_.size() >= maximumDirectories || visited_.count(o)) malformed();
        visited_.insert(o);
        if (o + 2 > length()) malformed();
        const u64 n = read16(o);
        if (o + 2 + 12 * n + 4 > length()) malformed();
        for (u64 i = 0; i < n; ++i) {
            const u64 e = o + 2 + 12 * i;
            const unsigned tag = read16(e), type = read16(e + 2);
            const u64 count = read32(e + 4);
            const u64 size = elementSize(type);
            if (size == 0) malformed();
            const u64 total = size * count; // at most 8 × (2^32 - 1): no overflow
            u64 values = e + 8;
            if (total > 4) {
                const u64 v = read32(e + 8);
                if (v < 8 || v > length()) malformed();
                write32(e + 8, v + delta_);
                if (v + total > length()) malformed();
                values = v;
            }
            bool follow = false;
            if (isSubDirectoryTag(tag)) {
                if (type != 4 && type != 13) malformed();
                follow = true;
            } else if (type == 13) {
                follow = true;
            } else if (isDataOffsetTag(tag)) {
                if (type != 4) malformed();
            } else {
                continue;
            }
            for (u64 j = 0; j < count; ++j) {
                const u64 at = values + 4 * j;
                const u64 x = read32(at);
                if (x < 8 || x > length()) malformed();
                write32(at, x + delta_);
                if (follow) followChain(x);
            }
        }
        return o + 2 + 12 * n;
    }

    void followChain(u64 x)
    {
        for (;;) {
            const u64 link = relocateDirectory(x);
            const u64 next = read32(link);
            if (next == 0) return;
            if (next < 8 || next > length()) malformed();
            write32(link, next + delta_);
            x = next;
        }
    }

    std::vector<unsigned char> bytes_;
    std::set<u64> visited_;
    u64 delta_ = 0;
};

bool seekAndWrite(int fd, u64 at, const void* data, u64 size)
{
    if (::lseek(fd, off_t(at), SEEK_SET) < 0) return false;
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size_t(std::min<u64>(size, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= u64(n);
    }
    return true;
}

void put32(unsigned char* out, u64 value, TIFFByteOrder order)
{
    for (int i = 0; i < 4; ++i) out[order == TIFFByteOrder::little ? i : 3 - i] = (value >> (8 * i)) & 0xFF;
}

} // namespace

QString MultiPageTIFF::tooLargeReason()
{
    return QStringLiteral("A TIFF file can't be larger than 4 GB. Export fewer pages or pick a lower resolution.");
}

MultiPageTIFF::MultiPageTIFF(int fd, const QString& name, std::uint64_t limit)
    : name_(name), fd_(fd), limit_(std::min(limit, maximumSize))
{}

void MultiPageTIFF::failWrite(int error) const
{
    throw ExportError::cannotWrite(name_, Exporter::saveFailureReason(FileSystemError(error, "write")));
}

void MultiPageTIFF::append(const QByteArray& bytes)
{
    if (fd_ < 0) failWrite(EBADF);
    Page page(bytes);
    if (order_ && *order_ != page.order) malformed();
    const u64 start = end_ + (end_ & 1);
    if (start + (page.length() - 8) > limit_) throw ExportError::cannotWrite(name_, tooLargeReason());
    const u64 delta = start - 8;
    const auto [first, link] = page.relocate(delta);

    if (!order_) {
        unsigned char header[8] = {};
        header[0] = header[1] = page.order == TIFFByteOrder::little ? 'I' : 'M';
        header[2] = page.order == TIFFByteOrder::little ? 42 : 0;
        header[3] = page.order == TIFFByteOrder::little ? 0 : 42;
        if (!seekAndWrite(fd_, 0, header, sizeof header)) failWrite(errno);
    }
    if (end_ < start) {
        const unsigned char pad = 0;
        if (!seekAndWrite(fd_, end_, &pad, 1)) failWrite(errno);
    }
    if (!seekAndWrite(fd_, start, page.bytes().data() + 8, page.length() - 8)) failWrite(errno);
    unsigned char firstOffset[4];
    put32(firstOffset, first + delta, page.order);
    if (!seekAndWrite(fd_, link_, firstOffset, 4)) failWrite(errno);

    order_ = page.order;
    link_ = link + delta;
    end_ = start + page.length() - 8;
    ++pages_;
}

void MultiPageTIFF::finish()
{
    fd_ = -1;
    if (pages_ < 1) throw ExportError(ExportError::Kind::empty);
}

} // namespace quarnkit
