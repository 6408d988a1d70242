#pragma once
// What a save over a file must keep of it when the file holds a digital
// signature: the file's own bytes, read from the file about to be replaced,
// as the start of the new one. Read from the bytes alone: the engine's
// reading of the document may have lost the signature's field with a page.
#include <array>
#include <cstdint>
#include <optional>

namespace platform {

struct SignedBytes {
    std::uint64_t size = 0;               // the whole file, which the new one starts with
    std::array<unsigned char, 32> digest; // SHA-256 of those bytes
};

// The file open at `fd`, when it holds a signature over its own bytes: a
// /ByteRange [0 b c d] whose gap from b to c is the hexadecimal string that
// holds the signature and whose end lies within the file. A signature
// dictionary never sits in a compressed stream (its /Contents are left out
// of the bytes signed, as they stand in the file), so its words are there to
// read. None for a file without one. Throws PdfError(io) when the file cannot
// be read.
std::optional<SignedBytes> signedBytesOf(int fd);

// Whether the file open at `fd` starts with `kept`. Throws PdfError(io) when
// it cannot be read.
bool startsWith(int fd, const SignedBytes& kept);

} // namespace platform
