#include "QuarnKit/History/PageThumbnail.h"

#include "Platform/ConfinedDrawing.h"
#include "Platform/FileDescriptor.h"
#include "Platform/PrivateFiles.h"
#include "QuarnKit/Explore/ExploreIndex.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QStandardPaths>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>

namespace quarnkit {

namespace PageThumbnail {

Result firstPage(const QString& path, QSizeF fitting) { return firstPage(path, fitting, drawing()); }

Result firstPage(const QString& path, QSizeF fitting, const platform::ConfinedDrawing& drawing)
{
    if (!(fitting.width() >= 1) || !(fitting.height() >= 1)) return Result::unreadable();
    constexpr double largest = platform::maxDrawingSide;
    if (fitting.width() > largest || fitting.height() > largest)
        fitting = fitting.scaled(largest, largest, Qt::KeepAspectRatio);
    const int width = std::max(1, int(fitting.width())), height = std::max(1, int(fitting.height()));
    // Opened here, so that the reader needs no way to any file by path; a
    // pipe or a device is no PDF, and must not hold the opening.
    const platform::FileDescriptor file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return Result::unreadable();
    platform::PageDrawing drawn = drawing.draw(file.fd, width, height);
    switch (drawn.state) {
    case platform::PageDrawing::State::drawn: return {Result::Kind::image, std::move(drawn.image)};
    case platform::PageDrawing::State::locked: return {Result::Kind::locked, {}};
    case platform::PageDrawing::State::unreadable:
    case platform::PageDrawing::State::failed: break;
    }
    return Result::unreadable();
}

platform::ConfinedDrawing& drawing()
{
    static auto* shared =
        new platform::ConfinedDrawing({QFile::encodeName(ExploreIndex::readerProgram())
                                           .toStdString()}); // never destroyed: workers may outlive the statics
    return *shared;
}

void abandonAll() { drawing().abandonAll(); }

Result cachedFirstPage(const QString& path, int pixels, const QString& cacheRoot)
{
    return cachedFirstPage(path, pixels, cacheRoot, drawing());
}

Result cachedFirstPage(const QString& path, int pixels, const QString& cacheRoot,
                       const platform::ConfinedDrawing& drawing)
{
    if (pixels < 1) return Result::unreadable();
    const ThumbnailCache::Size size = ThumbnailCache::sizeFor(pixels);
    const auto fit = [pixels](QImage image) {
        if (image.width() <= pixels && image.height() <= pixels) return image;
        return image.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    };
    if (auto image = ThumbnailCache::cached(cacheRoot, path, size)) return {Result::Kind::image, fit(*image)};
    const int side = int(size);
    Result drawn = firstPage(path, QSizeF(side, side), drawing);
    if (drawn.kind != Result::Kind::image) return drawn;
    ThumbnailCache::store(cacheRoot, path, drawn.image, size);
    drawn.image = fit(drawn.image);
    return drawn;
}

} // namespace PageThumbnail

namespace ThumbnailCache {

namespace {

const char* folderName(Size size)
{
    switch (size) {
    case Size::normal: return "normal";
    case Size::large: return "large";
    case Size::xLarge: return "x-large";
    case Size::xxLarge: return "xx-large";
    }
    return "normal";
}

// The modification time and size of the file, as the cache records them.
struct Stamp {
    qint64 mtime = 0;
    qint64 bytes = 0;
};

std::optional<Stamp> stampOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return Stamp{qint64(info.st_mtime), qint64(info.st_size)};
}

} // namespace

QString defaultRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/thumbnails");
}

Size sizeFor(int pixels)
{
    for (const Size size : {Size::normal, Size::large, Size::xLarge})
        if (pixels <= int(size)) return size;
    return Size::xxLarge;
}

QByteArray fileUri(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(standardizedPath(path));
    QByteArray uri = "file://";
    static constexpr char hex[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) && u < 0x80) {
            uri += c;
        } else if (std::string_view("-_.!~*'()/:@&=+$,").find(c) != std::string_view::npos) {
            uri += c;
        } else {
            uri += '%';
            uri += hex[u >> 4];
            uri += hex[u & 15];
        }
    }
    return uri;
}

QString thumbnailPath(const QString& root, const QString& path, Size size)
{
    const QByteArray name = QCryptographicHash::hash(fileUri(path), QCryptographicHash::Md5).toHex();
    return QDir(root).filePath(QString::fromLatin1(folderName(size)) + QLatin1Char('/') + QString::fromLatin1(name)
                               + QStringLiteral(".png"));
}

std::optional<QImage> cached(const QString& root, const QString& path, Size size)
{
    const auto stamp = stampOf(path);
    if (!stamp) return std::nullopt;
    QImage image(thumbnailPath(root, path, size));
    if (image.isNull()) return std::nullopt;
    if (image.text(QStringLiteral("Thumb::URI")) != QString::fromLatin1(fileUri(path))) return std::nullopt;
    if (image.text(QStringLiteral("Thumb::MTime")) != QString::number(stamp->mtime)) return std::nullopt;
    const QString recordedSize = image.text(QStringLiteral("Thumb::Size"));
    if (!recordedSize.isEmpty() && recordedSize != QString::number(stamp->bytes)) return std::nullopt;
    return image;
}

bool store(const QString& root, const QString& path, const QImage& image, Size size)
{
    const auto stamp = stampOf(path);
    if (!stamp || image.isNull()) return false;
    QImage tagged = image;
    tagged.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(fileUri(path)));
    tagged.setText(QStringLiteral("Thumb::MTime"), QString::number(stamp->mtime));
    tagged.setText(QStringLiteral("Thumb::Size"), QString::number(stamp->bytes));
    tagged.setText(QStringLiteral("Thumb::Mimetype"), QStringLiteral("application/pdf"));
    tagged.setText(QStringLiteral("Software"), QStringLiteral("ravlen"));
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !QImageWriter(&buffer, "png").write(tagged)) return false;
    // Thumbnails show what is in the user's files: private files in folders
    // of the user's own (the root and the size's folder 0700), each a new
    // file put in place of its name.
    return platform::PrivateFiles::makeFolder(root)
           && platform::PrivateFiles::replace(thumbnailPath(root, path, size), png);
}

} // namespace ThumbnailCache

} // namespace quarnkit
