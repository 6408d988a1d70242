#include "Platform/FaxDecoding.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <vector>

#include <tiffio.h>

namespace platform {
namespace {

// The most rows and pixels decoded: a page scanned at 1200 dpi and more;
// what claims more is not decoded, and judged as stored.
constexpr std::uint64_t maxPixels = std::uint64_t(1) << 31;

// A classic little-endian TIFF in memory: one strip of Group 4 data after a
// directory that says how to read it.
std::vector<unsigned char> tiffAround(const unsigned char* data, std::size_t size, const FaxParameters& p)
{
    std::vector<unsigned char> file;
    const auto put = [&file](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) file.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    enum : std::uint16_t { shortType = 3, longType = 4 };
    const struct {
        std::uint16_t tag, type;
        std::uint32_t value;
    } entries[] = {
        {TIFFTAG_IMAGEWIDTH, longType, p.columns},
        {TIFFTAG_IMAGELENGTH, longType, p.rows},
        {TIFFTAG_BITSPERSAMPLE, shortType, 1},
        {TIFFTAG_COMPRESSION, shortType, COMPRESSION_CCITTFAX4},
        // libtiff decodes black runs as 1 bits whatever this says.
        {TIFFTAG_PHOTOMETRIC, shortType, PHOTOMETRIC_MINISWHITE},
        {TIFFTAG_FILLORDER, shortType, FILLORDER_MSB2LSB},
        {TIFFTAG_STRIPOFFSETS, longType, 0}, // set below
        {TIFFTAG_SAMPLESPERPIXEL, shortType, 1},
        {TIFFTAG_ROWSPERSTRIP, longType, p.rows},
        {TIFFTAG_STRIPBYTECOUNTS, longType, std::uint32_t(size)},
        {TIFFTAG_GROUP4OPTIONS, longType, 0},
    };
    constexpr std::uint32_t count = sizeof entries / sizeof entries[0];
    constexpr std::uint32_t dataAt = 8 + 2 + count * 12 + 4;
    file.reserve(dataAt + size);
    file.insert(file.end(), {'I', 'I', 42, 0});
    put(8, 4);
    put(count, 2);
    for (const auto& e : entries) {
        put(e.tag, 2);
        put(e.type, 2);
        put(1, 4);
        put(e.tag == TIFFTAG_STRIPOFFSETS ? dataAt : e.value, 4);
    }
    put(0, 4);
    file.insert(file.end(), data, data + size);
    return file;
}

struct Source {
    const std::vector<unsigned char>* file;
    toff_t at = 0;
    bool complained = false;
};

tmsize_t readSource(thandle_t h, void* buffer, tmsize_t n)
{
    auto* s = static_cast<Source*>(h);
    if (n < 0 || s->at >= s->file->size()) return 0;
    const std::size_t count = std::min<std::size_t>(std::size_t(n), s->file->size() - s->at);
    std::memcpy(buffer, s->file->data() + s->at, count);
    s->at += count;
    return tmsize_t(count);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) { return -1; }

toff_t seekSource(thandle_t h, toff_t offset, int whence)
{
    auto* s = static_cast<Source*>(h);
    const toff_t base = whence == SEEK_CUR ? s->at : whence == SEEK_END ? toff_t(s->file->size()) : 0;
    s->at = base + offset;
    return s->at;
}

int closeSource(thandle_t) { return 0; }
toff_t sizeOfSource(thandle_t h) { return static_cast<Source*>(h)->file->size(); }
int mapNothing(thandle_t, void**, toff_t*) { return 0; }
void unmapNothing(thandle_t, void*, toff_t) {}

// A warning too (a row cut short, a code out of place): the data is not
// what its writer meant, whatever libtiff makes of it.
int complain(TIFF*, void* user, const char*, const char*, va_list)
{
    static_cast<Source*>(user)->complained = true;
    return 1;
}

} // namespace

bool decodeFaxGroup4(const unsigned char* data, std::size_t size, const FaxParameters& parameters,
                     const std::function<void(const unsigned char* row, std::size_t length)>& row)
{
    if (parameters.columns == 0 || parameters.rows == 0 || size > 0x7fffffff
        || std::uint64_t(parameters.columns) * parameters.rows > maxPixels)
        return false;
    const std::vector<unsigned char> file = tiffAround(data, size, parameters);
    Source source{&file};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return false;
    TIFFOpenOptionsSetErrorHandlerExtR(options, complain, &source);
    TIFFOpenOptionsSetWarningHandlerExtR(options, complain, &source);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(64) << 20);
    TIFF* tif = TIFFClientOpenExt("fax data", "rm", &source, readSource, writeNothing, seekSource, closeSource,
                                  sizeOfSource, mapNothing, unmapNothing, options);
    TIFFOpenOptionsFree(options);
    if (!tif) return false;
    const std::size_t length = (std::size_t(parameters.columns) + 7) / 8;
    std::vector<unsigned char> line(std::max<std::size_t>(length, std::size_t(TIFFScanlineSize(tif))));
    bool ok = !source.complained;
    for (std::uint32_t y = 0; ok && y < parameters.rows; ++y) {
        ok = TIFFReadScanline(tif, line.data(), y, 0) == 1 && !source.complained;
        if (!ok) break;
        if (!parameters.blackIs1)
            for (std::size_t i = 0; i < length; ++i) line[i] = static_cast<unsigned char>(~line[i]);
        row(line.data(), length);
    }
    TIFFClose(tif);
    return ok;
}

} // namespace platform
