#pragma once
// First pages of PDF files as small images, and the desktop's shared cache
// of file thumbnails (~/.cache/thumbnails), so that ravlen and the file
// manager draw each file once. The files are ones the user has not opened
// here (search results; the library's, which may have changed since): their
// pages are drawn in the confined reader (Platform/ConfinedDrawing.h), never
// in the program, which receives only pixels.
#include <QByteArray>
#include <QImage>
#include <QSizeF>
#include <QString>

#include <optional>

namespace platform {
class ConfinedDrawing;
}

namespace quarnkit {

namespace PageThumbnail {

struct Result {
    enum class Kind { image, locked, unreadable };
    Kind kind = Kind::unreadable;
    QImage image; // with Kind::image

    static Result unreadable() { return {}; }
};

// The first page drawn as the exporter draws it, scaled to fit `fitting`
// (pixels, whole ones, up to platform::maxDrawingSide a side) with its
// aspect kept, on white; a page whose drawing fails part way shows what was
// drawn before. Locked: the PDF needs a password. Unreadable: a size below
// 1, not a readable PDF, no first page, a page without area, a failed
// drawing, or one that cost the reader too much time or memory, or no reader
// to draw it. Opens the file on every call; waits for the reader.
Result firstPage(const QString& path, QSizeF fitting);
Result firstPage(const QString& path, QSizeF fitting, const platform::ConfinedDrawing& drawing);
// The program's drawings: the reader found with it (ExploreIndex), made on
// first use, never released.
platform::ConfinedDrawing& drawing();
// Calls off the first pages being drawn now (they come out unreadable), at
// once: for quitting, which then waits for none of them.
void abandonAll();

// As firstPage(), fitting a square of `pixels`, taken from the thumbnail
// cache under `cacheRoot` while the file is unchanged, else drawn and stored
// there. Locked and unreadable files are not stored.
Result cachedFirstPage(const QString& path, int pixels, const QString& cacheRoot);
Result cachedFirstPage(const QString& path, int pixels, const QString& cacheRoot,
                       const platform::ConfinedDrawing& drawing);

} // namespace PageThumbnail

// The freedesktop thumbnail cache: PNGs named by the MD5 of the file's URI,
// in folders per size, each carrying the URI and modification time of the
// file it shows, written privately and atomically.
namespace ThumbnailCache {

enum class Size { normal = 128, large = 256, xLarge = 512, xxLarge = 1024 };

// $XDG_CACHE_HOME/thumbnails.
QString defaultRoot();
// The smallest size holding `pixels`, else the largest.
Size sizeFor(int pixels);
// file:///… with the bytes of the path escaped as GLib escapes them.
QByteArray fileUri(const QString& path);
QString thumbnailPath(const QString& root, const QString& path, Size size);

// The stored thumbnail of the file, when it was made from the file as it is now.
std::optional<QImage> cached(const QString& root, const QString& path, Size size);
bool store(const QString& root, const QString& path, const QImage& image, Size size);

} // namespace ThumbnailCache

} // namespace quarnkit
