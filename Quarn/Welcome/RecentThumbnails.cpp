#include "Quarn/Welcome/RecentThumbnails.h"
#include "QuarnKit/Shell/DroppableWork.h"

#include "Quarn/History/LibraryThumbnails.h"
#include "Quarn/History/LibraryViews.h"
#include "QuarnKit/Document/NativePaths.h"
#include "QuarnKit/Explore/ExploreItem.h"
#include "QuarnKit/History/LibraryCalendar.h"
#include "QuarnKit/History/LibraryTexts.h"
#include "QuarnKit/History/RecentFiles.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QCoreApplication>
#include <QLocale>
#include <QPointer>

#include <sys/stat.h>

namespace quarn {

using quarnkit::PageThumbnail::Result;

namespace {

// The file's modification time, none when it cannot be read.
std::optional<QDateTime> modifiedAt(const QString& path)
{
    struct stat info = {};
    if (::stat(quarnkit::nativePath(path).constData(), &info) != 0) return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000, Qt::UTC);
}

} // namespace

RecentItem RecentItem::fromEntry(const quarnkit::HistoryEntry& entry, const QString& path, const QDateTime& now)
{
    // Report.final.pdf is “Report.final”.
    const QString name = entry.title ? *entry.title : entry.fileName();
    const QString subtitle =
        quarnkit::RelativeDay::label(entry.lastOpened, now, quarnkit::LibraryCalendar::current(), QLocale());
    return {entry.id, path, name, subtitle,
            LibraryThumbnails::cacheKey(quarnkit::standardizedPath(path), modifiedAt(path))};
}

RecentItem RecentItem::fromResult(const quarnkit::ExploreItem& item)
{
    return {std::nullopt, item.path, item.displayTitle(),
            quarnkit::FolderLabel::display(item.folderPath(), libraryHomePath()),
            LibraryThumbnails::cacheKey(item.path, item.modified)};
}

RecentThumbnails::RecentThumbnails(Render render, QObject* parent) : QObject(parent), render_(std::move(render))
{
    if (!render_)
        render_ = [](const QString& path) { return quarnkit::PageThumbnail::firstPage(path, QSizeF(pixels)); };
}

RecentThumbnails& RecentThumbnails::shared()
{
    static RecentThumbnails* thumbnails = new RecentThumbnails();
    return *thumbnails;
}

std::optional<Result> RecentThumbnails::thumbnail(const QString& key) const
{
    const auto found = rendered_.find(key);
    if (found == rendered_.end()) return std::nullopt;
    return *found;
}

void RecentThumbnails::request(const RecentItem& item)
{
    if (rendered_.contains(item.key)) return touch(item.key);
    if (!pending_.insert(item.key).second) return;
    // Several at once on the shared workers; the answer comes back only
    // while this cache still exists.
    quarnkit::DroppableWork::shared().start(
        [guard = QPointer<RecentThumbnails>(this), render = render_, path = item.path, key = item.key] {
            Result result = render(path);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, result = std::move(result), key] {
                    if (guard) guard->store(result, key);
                },
                Qt::QueuedConnection);
        });
}

void RecentThumbnails::store(const Result& result, const QString& key)
{
    pending_.erase(key);
    Result kept = result;
    // Drawn at twice the size shown.
    if (kept.kind == Result::Kind::image) kept.image.setDevicePixelRatio(2.0);
    rendered_.insert(key, kept);
    touch(key);
    while (int(order_.size()) > keepLimit) {
        rendered_.remove(order_.front());
        order_.pop_front();
    }
    emit stored(key);
}

void RecentThumbnails::touch(const QString& key)
{
    std::erase(order_, key);
    order_.push_back(key);
}

} // namespace quarn
