#include "Platform/SignedBytes.h"

#include "Platform/PdfError.h"

#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

namespace {

constexpr std::size_t piece = std::size_t(1) << 20;
// Room after a piece for the array that follows a word found near its end
// (some signers pad it with spaces for the numbers they write last).
constexpr std::size_t lookahead = 1024;
constexpr std::string_view rangeWord = "/ByteRange";

[[noreturn]] void failRead(int error)
{
    throw PdfError(PdfErrorCode::io, std::string("cannot read the file being replaced: ") + std::strerror(error),
                   error);
}

// Reads up to `size` bytes at `offset`: how many, fewer only at the file's end.
std::size_t readAt(int fd, char* into, std::size_t size, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count = ::pread(fd, into + done, size - done, off_t(offset + done));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) failRead(errno);
        if (count == 0) break;
        done += std::size_t(count);
    }
    return done;
}

bool isSpace(char c) { return c == 0 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }

// The four numbers of the array that `text` starts with, past white space;
// none when it holds other than four whole numbers.
std::optional<std::array<std::uint64_t, 4>> rangeIn(std::string_view text)
{
    std::size_t at = 0;
    const auto skipSpace = [&] {
        while (at < text.size() && isSpace(text[at])) ++at;
    };
    skipSpace();
    if (at == text.size() || text[at++] != '[') return std::nullopt;
    std::array<std::uint64_t, 4> range = {};
    for (std::uint64_t& number : range) {
        skipSpace();
        const std::size_t first = at;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
            if (at - first == 18) return std::nullopt;
            number = number * 10 + std::uint64_t(text[at] - '0');
        }
        if (at == first) return std::nullopt;
    }
    skipSpace();
    if (at == text.size() || text[at] != ']') return std::nullopt;
    return range;
}

bool byteIs(int fd, std::uint64_t offset, char expected)
{
    char byte = 0;
    return readAt(fd, &byte, 1, offset) == 1 && byte == expected;
}

// Whether `range` signs the file's bytes from its start: all but the
// hexadecimal string that holds the signature, up to a place within the file.
bool signsFile(int fd, const std::array<std::uint64_t, 4>& range, std::uint64_t size)
{
    const auto [start, gap, after, length] = range;
    if (start != 0 || gap == 0 || after < gap + 2 || after > size || length > size - after) return false;
    return byteIs(fd, gap, '<') && byteIs(fd, after - 1, '>');
}

std::array<unsigned char, 32> digestOf(int fd, std::uint64_t size)
{
    [[maybe_unused]] static const int ready = sodium_init();
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    std::vector<char> buffer(piece);
    for (std::uint64_t at = 0; at < size;) {
        const std::size_t count = readAt(fd, buffer.data(), std::size_t(std::min<std::uint64_t>(piece, size - at)), at);
        // Shorter than it was a moment ago: another program is writing it.
        if (count == 0) failRead(EAGAIN);
        crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(buffer.data()), count);
        at += count;
    }
    std::array<unsigned char, 32> digest = {};
    crypto_hash_sha256_final(&state, digest.data());
    return digest;
}

std::uint64_t sizeOf(int fd)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0) failRead(errno);
    return std::uint64_t(info.st_size);
}

} // namespace

std::optional<SignedBytes> signedBytesOf(int fd)
{
    const std::uint64_t size = sizeOf(fd);
    std::vector<char> buffer(piece + lookahead);
    bool found = false;
    for (std::uint64_t at = 0; at < size && !found; at += piece) {
        const std::string_view text(buffer.data(), readAt(fd, buffer.data(), buffer.size(), at));
        // A word starting in the room after the piece is the next piece's.
        for (std::size_t word = text.find(rangeWord); word < std::min(text.size(), piece) && !found;
             word = text.find(rangeWord, word + 1)) {
            const std::optional<std::array<std::uint64_t, 4>> range = rangeIn(text.substr(word + rangeWord.size()));
            found = range && signsFile(fd, *range, size);
        }
    }
    if (!found) return std::nullopt;
    return SignedBytes{size, digestOf(fd, size)};
}

bool startsWith(int fd, const SignedBytes& kept)
{
    return sizeOf(fd) >= kept.size && digestOf(fd, kept.size) == kept.digest;
}

} // namespace platform
