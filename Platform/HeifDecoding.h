#pragma once
// What the HEIF library (libravlen-heif, with libheif and its codecs) offers
// the platform layer, which loads it on first use. Never included outside
// Platform/.
#include <cstddef>
#include <vector>

namespace platform {

// Interleaved 8-bit RGB rows.
struct HeifPicture {
    std::vector<unsigned char> rgb;
    int width = 0;
    int height = 0;
    int stride = 0;
};

struct HeifDecoding {
    // Whether the bytes are a HEIF file libheif can read.
    bool (*isHeif)(const unsigned char* data, std::size_t size);
    // The primary image decoded upright (its rotation and mirror applied);
    // false when it is unreadable or holds more than `maxPixels` (read from
    // the header, before anything is decoded).
    bool (*decode)(const unsigned char* data, std::size_t size, long long maxPixels, HeifPicture& picture);
};

} // namespace platform

// Returns the library's HeifDecoding.
extern "C" const void* ravlenHeifDecoding();
