#pragma once
// A page made from an image file: PNG, JPEG, TIFF and the other formats
// MuPDF reads, and HEIC/HEIF through libheif. The picture is shown upright
// (a JPEG's or HEIF's orientation is honoured) and fills the whole page.
#include "Platform/PdfDocument.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {

// The most pixels an image page may hold. The image's header is read first
// and a larger image is refused before anything is decoded, so a crafted or
// enormous file cannot exhaust the machine.
inline constexpr long long maxImagePagePixels = 100'000'000;

// A new one-page document showing the image at `path`. `pageSize` turns the
// upright image's pixel size into the page's size in points. Returns none
// for a file that is no readable image, is empty, or has too many pixels.
std::shared_ptr<PdfDocument> imagePageDocument(const std::string& path,
                                               const std::function<PdfSize(int width, int height)>& pageSize);

} // namespace platform
