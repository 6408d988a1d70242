#pragma once
// The first-page pictures of the library's rows: drawn by the confined
// reader (PageThumbnail), waited for on workers (never on the UI thread),
// kept in the desktop's shared thumbnail cache
// (~/.cache/thumbnails) and, for this run, in memory, so that a row that
// scrolls back into view, the other panel and other windows find them at once.
#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <list>
#include <optional>
#include <set>

namespace quarn {

class LibraryThumbnails : public QObject {
    Q_OBJECT
public:
    static constexpr int countLimit = 800;
    static constexpr qint64 costLimit = 50331648; // bytes of pixels: 48 MiB

    // Thumbnails stored under `cacheRoot` (the freedesktop layout).
    explicit LibraryThumbnails(QString cacheRoot, QObject* parent = nullptr);
    // The application's: $XDG_CACHE_HOME/thumbnails. Made on first use, never released.
    static LibraryThumbnails& shared();

    // The path, "|", and the version in seconds since 2001 as the shortest
    // text that reads back the same ("0.0" without a version): a new version
    // of the file is a new picture.
    static QString cacheKey(const QString& path, const std::optional<QDateTime>& version);

    // The picture made for `key` this run; null when there is none yet.
    QImage image(const QString& key);
    // Draws the first page of `path` fitting a square of `pixels`, unless it
    // is in memory, waiting or being drawn. `wanted` is asked on the UI
    // thread when the request's turn comes: a row scrolled away drops it.
    // The newest request goes first. A file that gives no picture (locked,
    // damaged) is not asked about again until retryFailed().
    void request(const QString& path, const QString& key, int pixels, std::function<bool()> wanted);
    void retryFailed();
    // No request waiting or being drawn.
    bool idle() const { return pending_.empty() && running_ == 0; }
    int count() const { return int(order_.size()); }

signals:
    // A picture for `key` is in memory now.
    void ready(const QString& key);

private:
    struct Job {
        QString path;
        QString key;
        int pixels = 0;
        std::function<bool()> wanted;
    };
    void startNext();
    void finished(const QString& key, const QImage& image);
    void insert(const QString& key, const QImage& image);

    QString root_;
    std::deque<Job> pending_; // newest first
    std::set<QString> asked_; // waiting or being drawn
    std::set<QString> failed_;
    int running_ = 0;
    // Least recently used first.
    std::list<std::pair<QString, QImage>> order_;
    QHash<QString, std::list<std::pair<QString, QImage>>::iterator> byKey_;
    qint64 cost_ = 0;
};

} // namespace quarn
