#pragma once
// The one way a PDF object is summed up when a written file is read back
// (PdfReadBack.h): the engine's object, as the writer meant it, and the
// object a second reader finds in the file are each reduced to a 64-bit
// digest of what readers take from it: keys, names and strings as bytes,
// numbers as values, references by number, arrays in order, dictionaries in
// any order. What the file's syntax leaves free (spacing, how a string or a
// name is spelled, an entry whose value is null) does not count. Never
// included outside Platform/: both sides of the read-back include it.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace platform::objectdigest {

using Digest = std::uint64_t;

// Deeper than this, an object counts as the same on both sides whatever it
// holds: neither reader walks a crafted nesting without end.
constexpr int depthLimit = 200;

namespace detail {

inline Digest mix(Digest x)
{
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return x;
}

inline Digest tagged(Digest tag, Digest value) { return mix(tag * 0x9e3779b97f4a7c15ULL ^ mix(value)); }

inline Digest bytes(Digest tag, std::string_view data)
{
    Digest h = 0xcbf29ce484222325ULL ^ data.size();
    for (const unsigned char c : data) h = (h ^ c) * 0x100000001b3ULL;
    return tagged(tag, h);
}

enum : Digest {
    nullTag = 1,
    falseTag,
    trueTag,
    integerTag,
    realTag,
    nameTag,
    stringTag,
    referenceTag,
    arrayTag,
    dictionaryTag,
    streamTag,
    deepTag,
    dataTag
};

} // namespace detail

inline Digest ofNull() { return detail::tagged(detail::nullTag, 0); }
inline Digest ofBoolean(bool value) { return detail::tagged(value ? detail::trueTag : detail::falseTag, 0); }
inline Digest ofInteger(std::int64_t value) { return detail::tagged(detail::integerTag, std::uint64_t(value)); }
// A real as the engine holds it (single precision): a whole one is the
// integer it equals, as writers may spell it either way.
inline Digest ofReal(double value)
{
    const float held = float(value);
    if (std::isfinite(held) && held == std::trunc(held) && std::fabs(held) < 9.0e18f)
        return ofInteger(std::int64_t(held));
    std::uint32_t bits = 0;
    std::memcpy(&bits, &held, sizeof bits);
    return detail::tagged(detail::realTag, bits);
}
inline Digest ofName(std::string_view name) { return detail::bytes(detail::nameTag, name); }
inline Digest ofString(std::string_view text) { return detail::bytes(detail::stringTag, text); }
inline Digest ofReference(int num, int gen)
{
    return detail::tagged(detail::referenceTag, (std::uint64_t(std::uint32_t(num)) << 32) | std::uint32_t(gen));
}
// What lies past depthLimit.
inline Digest ofDeep() { return detail::tagged(detail::deepTag, 0); }

// An array's items, in order.
class Items {
public:
    void add(Digest item) { h_ = detail::mix(h_ ^ item) + 0x9e3779b97f4a7c15ULL; }
    Digest done() const { return detail::tagged(detail::arrayTag, h_); }

private:
    Digest h_ = 0;
};

// A dictionary's entries, in any order; an entry whose value is null is
// left out by the caller, as readers take it for no entry.
class Entries {
public:
    void add(std::string_view key, Digest value) { sum_ += detail::mix(ofName(key) ^ detail::mix(value + 1)); }
    Digest done() const { return detail::tagged(detail::dictionaryTag, sum_); }

private:
    Digest sum_ = 0;
};

// A stream, by its dictionary; its data is summed up apart (Data).
inline Digest ofStream(Digest dictionary) { return detail::tagged(detail::streamTag, dictionary); }

// A stream's data, decoded or as stored, fed in pieces of any size: the
// digest is of the bytes alone, however they were cut.
class Data {
public:
    Data() = default;
    // Data in rows of `rowBits` bits, each padded to a whole byte (a 1-bit
    // image's pixels): the bits that pad a row are none of its pixels, which
    // writers and readers fill as they please, and count as 0.
    explicit Data(std::uint64_t rowBits)
        : rowBytes_((rowBits + 7) / 8), lastBits_(static_cast<unsigned char>(0xff00 >> ((rowBits + 7) % 8 + 1)))
    {}

    void add(const unsigned char* bytes, std::size_t length)
    {
        if (rowBytes_ == 0 || lastBits_ == 0xff) return addBytes(bytes, length);
        while (length > 0) {
            // Up to the row's last byte, then that byte without its padding.
            const std::size_t before = std::min<std::uint64_t>(length, rowBytes_ - 1 - inRow_);
            addBytes(bytes, before);
            bytes += before;
            length -= before;
            inRow_ += before;
            if (length == 0) break;
            const unsigned char last = *bytes & lastBits_;
            addBytes(&last, 1);
            ++bytes;
            --length;
            inRow_ = 0;
        }
    }
    Digest done() const
    {
        return detail::tagged(detail::dataTag, detail::mix(h_ ^ pending_ ^ (std::uint64_t(held_) << 59)) ^ length_);
    }

private:
    void addBytes(const unsigned char* bytes, std::size_t length)
    {
        length_ += length;
        std::size_t i = 0;
        for (; i < length && held_ > 0; ++i) take(bytes[i]);
        for (; i + 8 <= length; i += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes + i, 8);
            h_ = detail::mix(h_ ^ word) + 0x9e3779b97f4a7c15ULL;
        }
        for (; i < length; ++i) take(bytes[i]);
    }

    void take(unsigned char byte)
    {
        pending_ |= std::uint64_t(byte) << (8 * held_);
        if (++held_ < 8) return;
        h_ = detail::mix(h_ ^ pending_) + 0x9e3779b97f4a7c15ULL;
        pending_ = 0;
        held_ = 0;
    }

    Digest h_ = 0x6a09e667f3bcc909ULL;
    std::uint64_t pending_ = 0;
    int held_ = 0;
    std::uint64_t length_ = 0;
    std::uint64_t rowBytes_ = 0, inRow_ = 0;
    unsigned char lastBits_ = 0xff;
};

// The keys of a stream's dictionary that say how its data is stored, which
// a writer sets anew as it stores the data: not compared.
inline bool isStorageKey(std::string_view key)
{
    return key == "Length" || key == "Filter" || key == "DecodeParms" || key == "DL";
}

// How a stream's data is stored: its /Filter and /DecodeParms (the digests
// of their values, or 0 for none), summed up. An array of one item is
// summed up as that item (isLoneItem): readers take them alike, and a
// writer may spell either as the other.
inline Digest ofStorage(Digest filter, Digest decodeParms)
{
    Entries entries;
    if (filter) entries.add("Filter", filter);
    if (decodeParms) entries.add("DecodeParms", decodeParms);
    return entries.done();
}

// Whether a /Filter or /DecodeParms value of `items` items stands for its
// one item: ofStorage's rule, which both readers follow.
inline bool isLoneItem(int items) { return items == 1; }

// The key of the document's catalog that says which extensions of PDF its
// writer used (an encryption the base version lacks): set by the writer as
// it writes, not compared.
inline bool isWritersCatalogKey(std::string_view key) { return key == "Extensions"; }

} // namespace platform::objectdigest
