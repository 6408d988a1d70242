#pragma once
// The welcome window's recent documents: what one card shows, and the
// application's cache of the cards' first pages. Pages are drawn by the
// confined reader (PageThumbnail), waited for on workers, never on the UI
// thread, once per file version (its path and modification time make the
// key), and the 120 most recently stored or asked for are kept, locked and
// unreadable files included, so that cards shown again draw at once.
#include "QuarnKit/History/HistoryEntry.h"
#include "QuarnKit/History/PageThumbnail.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QUuid>

#include <deque>
#include <functional>
#include <optional>
#include <set>

namespace quarnkit {
struct ExploreItem;
}

namespace quarn {

struct RecentItem {
    std::optional<QUuid> entryID; // the history entry; none for a search result
    QString path;                 // where the file is now
    QString name;                 // the card's title
    QString subtitle;             // when last opened, or the folder of a search result
    QString key;                  // the thumbnail's: the path and the file's modification time

    // A history entry whose file was found at `path`: the entry's title, else
    // the stored path's file name without its last extension; the day it was
    // last opened. The key reads the file's modification time at `path`.
    static RecentItem fromEntry(const quarnkit::HistoryEntry& entry, const QString& path,
                                const QDateTime& now = QDateTime::currentDateTime());
    // A search result: its title and folder, its key from what the index knows.
    static RecentItem fromResult(const quarnkit::ExploreItem& item);

    friend bool operator==(const RecentItem&, const RecentItem&) = default;
};

class RecentThumbnails : public QObject {
    Q_OBJECT
public:
    static constexpr int keepLimit = 120;
    // The pixel box a first page is drawn to fit: shown at half size on a
    // card, sharp on a two-to-one screen.
    static constexpr QSize pixels{240, 280};

    using Render = std::function<quarnkit::PageThumbnail::Result(const QString& path)>;
    // `render` runs on workers; none draws the first page with PageThumbnail.
    explicit RecentThumbnails(Render render = {}, QObject* parent = nullptr);
    // The application's; made on first use, never released.
    static RecentThumbnails& shared();

    // What is known for `key`: none while nothing is.
    std::optional<quarnkit::PageThumbnail::Result> thumbnail(const QString& key) const;
    // Starts drawing the item's first page unless it is known (then it is
    // only marked as used) or already being drawn.
    void request(const RecentItem& item);
    // Records a drawing and trims the cache to its limit, oldest first.
    void store(const quarnkit::PageThumbnail::Result& result, const QString& key);
    bool idle() const { return pending_.empty(); }
    int count() const { return int(rendered_.size()); }

signals:
    // A thumbnail for `key` is known now.
    void stored(const QString& key);

private:
    void touch(const QString& key);

    Render render_;
    QHash<QString, quarnkit::PageThumbnail::Result> rendered_;
    std::set<QString> pending_;
    std::deque<QString> order_; // least recently stored or asked for first
};

} // namespace quarn
