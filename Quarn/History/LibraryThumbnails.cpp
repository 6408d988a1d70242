#include "Quarn/History/LibraryThumbnails.h"

#include "QuarnKit/History/PageThumbnail.h"
#include "QuarnKit/Shell/DroppableWork.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QCoreApplication>
#include <QPointer>

#include <charconv>

namespace quarn {

namespace {

// Drawings at once, on the work quitting drops (and does not wait long for:
// a file on a mount that stopped answering, a reader at its time limit).
constexpr int drawingsAtOnce = 2;

} // namespace

LibraryThumbnails::LibraryThumbnails(QString cacheRoot, QObject* parent) : QObject(parent), root_(std::move(cacheRoot))
{}

LibraryThumbnails& LibraryThumbnails::shared()
{
    static LibraryThumbnails* thumbnails = new LibraryThumbnails(quarnkit::ThumbnailCache::defaultRoot());
    return *thumbnails;
}

QString LibraryThumbnails::cacheKey(const QString& path, const std::optional<QDateTime>& version)
{
    const double seconds = version ? quarnkit::referenceSeconds(*version) : 0.0;
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed);
    QString number = QString::fromLatin1(text, int(written.ptr - text));
    if (!number.contains(QLatin1Char('.'))) number += QStringLiteral(".0");
    return path + QLatin1Char('|') + number;
}

QImage LibraryThumbnails::image(const QString& key)
{
    const auto found = byKey_.find(key);
    if (found == byKey_.end()) return {};
    order_.splice(order_.end(), order_, *found); // used now
    return (*found)->second;
}

void LibraryThumbnails::request(const QString& path, const QString& key, int pixels, std::function<bool()> wanted)
{
    if (path.isEmpty() || pixels < 1 || byKey_.contains(key) || asked_.count(key) > 0 || failed_.count(key) > 0) return;
    asked_.insert(key);
    pending_.push_front({path, key, pixels, std::move(wanted)});
    startNext();
}

void LibraryThumbnails::retryFailed() { failed_.clear(); }

void LibraryThumbnails::startNext()
{
    while (running_ < drawingsAtOnce && !pending_.empty()) {
        Job job = std::move(pending_.front());
        pending_.pop_front();
        if (job.wanted && !job.wanted()) {
            asked_.erase(job.key); // asked again when the row comes back
            continue;
        }
        ++running_;
        quarnkit::DroppableWork::shared().start([guard = QPointer<LibraryThumbnails>(this), root = root_, job] {
            const auto result = quarnkit::PageThumbnail::cachedFirstPage(job.path, job.pixels, root);
            const QImage image = result.kind == quarnkit::PageThumbnail::Result::Kind::image ? result.image : QImage();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, key = job.key, image] {
                    if (guard) guard->finished(key, image);
                },
                Qt::QueuedConnection);
        });
    }
}

void LibraryThumbnails::finished(const QString& key, const QImage& image)
{
    --running_;
    asked_.erase(key);
    if (image.isNull()) failed_.insert(key);
    else insert(key, image);
    startNext();
    if (!image.isNull()) emit ready(key);
}

void LibraryThumbnails::insert(const QString& key, const QImage& image)
{
    if (const auto found = byKey_.find(key); found != byKey_.end()) {
        cost_ -= (*found)->second.sizeInBytes();
        order_.erase(*found);
        byKey_.erase(found);
    }
    order_.emplace_back(key, image);
    byKey_.insert(key, std::prev(order_.end()));
    cost_ += image.sizeInBytes();
    while (!order_.empty() && (int(order_.size()) > countLimit || cost_ > costLimit)) {
        cost_ -= order_.front().second.sizeInBytes();
        byKey_.remove(order_.front().first);
        order_.pop_front();
    }
}

} // namespace quarn
