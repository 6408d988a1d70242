#pragma once
// CCITT Group 4 fax data, as a PDF stream's /CCITTFaxDecode with /K below 0
// stores it, decoded by libtiff: MuPDF's writer stores every uncompressed
// 1-bit grey image so (a scan, an opaque picture's soft mask), which libqpdf
// does not decode, and the read-back's second reader must read its pixels
// to judge them (QpdfReadBack.cpp). Inside the qpdf library only.
#include <cstddef>
#include <cstdint>
#include <functional>

namespace platform {

struct FaxParameters {
    std::uint32_t columns = 1728; // /Columns
    std::uint32_t rows = 0;       // /Rows, or the image's /Height
    bool blackIs1 = false;        // /BlackIs1
};

// Decodes `size` bytes of Group 4 data into `rows` rows, each handed to
// `row` as PDF's filter gives it: (columns + 7) / 8 bytes, a bit a pixel,
// 0 black unless `blackIs1`, the bits past the last column as they come.
// False, having handed some rows or none, where libtiff finds the data
// damaged, cut short, or larger than it decodes in memory.
bool decodeFaxGroup4(const unsigned char* data, std::size_t size, const FaxParameters& parameters,
                     const std::function<void(const unsigned char* row, std::size_t length)>& row);

} // namespace platform
