#pragma once
// A page made from an image file: PNG, JPEG, TIFF and the other formats
// MuPDF reads, a PNG it does not through libpng, and HEIC/HEIF through
// libheif. The picture is shown upright (the orientation a JPEG, TIFF or
// HEIF names is honoured) and fills the whole page.
#include "Platform/PdfDocument.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// The most pixels an image page may hold. The image's header is read first
// and a larger image is refused before anything is decoded, so a crafted or
// enormous file cannot exhaust the machine; so is a header that claims more
// pixels than the file's bytes could hold in its format (a 69-byte PNG that
// claims 10000 by 10000 pixels).
inline constexpr long long maxImagePagePixels = 100'000'000;
// The largest block decoding an image page may ask for: the pixels of the
// largest page, 100 million of them with four bytes each.
inline constexpr std::size_t imagePageBlockLimit = std::size_t(512) << 20;

// A new one-page document showing the image at `path`. `pageSize` turns the
// upright image's pixel size into the page's size in points. Returns none
// for a file that is no readable image, is empty, or has too many pixels.
// Decoding a large image takes seconds: call it on a worker.
std::shared_ptr<PdfDocument> imagePageDocument(const std::string& path,
                                               const std::function<PdfSize(int width, int height)>& pageSize);

} // namespace platform
