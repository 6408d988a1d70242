#include "Platform/HeifDecoding.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace platform {
namespace {

struct HeifDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
    void operator()(heif_image* i) const { heif_image_release(i); }
};

bool fits(long long width, long long height, long long maxPixels)
{
    return width >= 1 && height >= 1 && width * height <= maxPixels;
}

bool isHeif(const unsigned char* data, std::size_t size)
{
    return heif_check_filetype(data, int(std::min<std::size_t>(size, 64))) == heif_filetype_yes_supported;
}

bool decode(const unsigned char* data, std::size_t size, long long maxPixels, HeifPicture& picture)
{
    std::unique_ptr<heif_context, HeifDeleter> context(heif_context_alloc());
    if (!context) return false;
    if (heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr).code != heif_error_Ok)
        return false;
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok) return false;
    std::unique_ptr<heif_image_handle, HeifDeleter> handle(rawHandle);
    // The size from the header, before anything is decoded; a coded image
    // spends at least a bit on every row (twice that as slack), so a header
    // claiming more rows than the file could hold is a lie.
    const long long claimedHeight = heif_image_handle_get_height(handle.get());
    if (!fits(heif_image_handle_get_width(handle.get()), claimedHeight, maxPixels)
        || claimedHeight > static_cast<long long>(size) * 8 * 2)
        return false;
    heif_image* rawImage = nullptr;
    if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code
        != heif_error_Ok)
        return false;
    std::unique_ptr<heif_image, HeifDeleter> image(rawImage);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* rgb = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!rgb || stride < width * 3 || !fits(width, height, maxPixels)) return false;
    picture.width = width;
    picture.height = height;
    picture.stride = stride;
    picture.rgb.assign(rgb, rgb + std::size_t(stride) * std::size_t(height));
    return true;
}

const HeifDecoding decoding{isHeif, decode};

} // namespace
} // namespace platform

extern "C" const void* ravlenHeifDecoding() { return &platform::decoding; }
