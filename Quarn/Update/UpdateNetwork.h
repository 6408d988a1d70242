#pragma once
// The updater's two kinds of request over Qt Network: the feed, tried at each
// feed URL in turn, and the archive download. Both run without cookies, cache
// or credentials, follow redirects only to https URLs on the hosts of the
// feed URLs, cap the body they accept, and end when the server goes quiet or
// when their whole time is up.
#include "QuarnKit/Update/UpdateError.h"
#include "QuarnKit/Update/UpdateFeed.h"

#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <variant>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;

namespace quarn {

// A GET request as the updater sends it: `userAgent`, no cache or cookies,
// redirects checked by the caller (watchRedirects), and `inactivity` as the
// longest silence.
QNetworkRequest updateRequest(const QUrl& url, const QString& userAgent, std::chrono::milliseconds inactivity);
// Lets `reply` follow a redirect only to an https URL whose host is one of
// `hosts` (compared in lower case); any other ends the reply with an error.
void watchRedirects(QNetworkReply* reply, const std::set<QString>& hosts);
// Ends `reply` with an error once `limit` has passed, however steadily bytes
// arrive.
void limitTime(QNetworkReply* reply, std::chrono::milliseconds limit);

// One feed check: each URL in order until one answers with a feed that
// decodes. Deleting it stops the request; the completion is then never called.
class FeedFetch : public QObject {
    Q_OBJECT
public:
    using Result = std::variant<quarnkit::UpdateFeed, quarnkit::UpdateError>;
    // A feed is a small document; a longer body is refused as damaged.
    static constexpr qint64 bodyLimit = 1 << 20;

    // Each request ends after `inactivity` of silence or `timeLimit` in all.
    FeedFetch(QNetworkAccessManager& network, std::vector<QUrl> urls, std::set<QString> hosts, QString userAgent,
              std::chrono::milliseconds inactivity, std::chrono::milliseconds timeLimit,
              std::function<void(Result)> completion, QObject* parent = nullptr);
    ~FeedFetch() override;
    // Sends the first request; there must be at least one URL.
    void start();

private:
    void next();
    void answered();

    QNetworkAccessManager& network_;
    std::vector<QUrl> urls_;
    std::set<QString> hosts_;
    QString userAgent_;
    std::chrono::milliseconds inactivity_;
    std::chrono::milliseconds timeLimit_;
    std::function<void(Result)> completion_;
    size_t index_ = 0;
    quarnkit::UpdateError lastError_ = quarnkit::UpdateError::offline;
    QPointer<QNetworkReply> reply_;
    QByteArray body_;
    bool tooLong_ = false;
};

// One archive download, on a thread of its own so that the bytes go to disk
// away from the UI thread, as they come: the reply holds at most
// bufferLimit bytes in memory. Progress and the end come back on the thread
// that made it. More than the expected size plus 1,000,000 bytes stops it as
// damaged, before the excess is written; redirects go only to `hosts`, and
// `timeLimit` ends it as unfinished.
class ArchiveDownload : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 slack = 1000000;
    static constexpr qint64 bufferLimit = 1 << 20;

    ArchiveDownload(QNetworkRequest request, std::set<QString> hosts, std::chrono::milliseconds timeLimit,
                    QString destination, qint64 expectedSize, QObject* parent = nullptr);
    ~ArchiveDownload() override; // cancels and waits for its thread

    // The fraction done, 0 to 1, as bytes arrive.
    std::function<void(double)> progress;
    // Called once: none when the whole archive is at the destination.
    std::function<void(std::optional<quarnkit::UpdateError>)> completion;

    void start();
    // Stops the download; the completion is never called after this.
    void cancel();

private:
    class Worker;
    QThread thread_;
    Worker* worker_ = nullptr;
    bool started_ = false;
    bool done_ = false;
};

} // namespace quarn
