#include "Quarn/Update/UpdateNetwork.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace quarn {

using quarnkit::UpdateError;
using quarnkit::UpdateFailure;
using quarnkit::UpdateFeed;

namespace {

bool isSuccess(const QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() && status.toInt() >= 200 && status.toInt() <= 299;
}

} // namespace

QNetworkRequest updateRequest(const QUrl& url, const QString& userAgent, std::chrono::milliseconds inactivity)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Cookies are neither sent nor kept.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(10);
    // Qt's transfer time-out restarts with every byte: a silence, not a total.
    request.setTransferTimeout(int(inactivity.count()));
    return request;
}

void watchRedirects(QNetworkReply* reply, const std::set<QString>& hosts)
{
    std::set<QString> allowed;
    for (const QString& host : hosts) allowed.insert(host.toLower());
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, allowed](const QUrl& target) {
        if (quarnkit::isSecureURL(target) && allowed.count(target.host().toLower())) emit reply->redirectAllowed();
        else reply->abort();
    });
}

void limitTime(QNetworkReply* reply, std::chrono::milliseconds limit)
{
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, reply, &QNetworkReply::abort);
    QObject::connect(reply, &QNetworkReply::finished, timer, &QTimer::stop);
    timer->start(limit);
}

// ---------------------------------------------------------------- feed

FeedFetch::FeedFetch(QNetworkAccessManager& network, std::vector<QUrl> urls, std::set<QString> hosts, QString userAgent,
                     std::chrono::milliseconds inactivity, std::chrono::milliseconds timeLimit,
                     std::function<void(Result)> completion, QObject* parent)
    : QObject(parent), network_(network), urls_(std::move(urls)), hosts_(std::move(hosts)),
      userAgent_(std::move(userAgent)), inactivity_(inactivity), timeLimit_(timeLimit),
      completion_(std::move(completion))
{}

FeedFetch::~FeedFetch()
{
    if (!reply_) return;
    reply_->disconnect(this);
    reply_->abort();
    reply_->deleteLater();
}

void FeedFetch::start()
{
    index_ = 0;
    next();
}

void FeedFetch::next()
{
    body_.clear();
    tooLong_ = false;
    QNetworkRequest request = updateRequest(urls_[index_], userAgent_, inactivity_);
    request.setRawHeader("Accept", "application/json");
    reply_ = network_.get(request);
    // Read as it comes, so the network thread holds little more than the limit.
    reply_->setReadBufferSize(bodyLimit + 1);
    watchRedirects(reply_, hosts_);
    limitTime(reply_, timeLimit_);
    connect(reply_, &QNetworkReply::readyRead, this, [this] {
        if (tooLong_) return;
        body_ += reply_->readAll();
        if (body_.size() > bodyLimit) {
            tooLong_ = true;
            reply_->abort();
        }
    });
    connect(reply_, &QNetworkReply::finished, this, &FeedFetch::answered);
}

void FeedFetch::answered()
{
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->deleteLater();
    if (tooLong_) {
        lastError_ = UpdateError::damagedFeed;
    } else if (reply->error() != QNetworkReply::NoError || !isSuccess(reply)) {
        lastError_ = UpdateError::offline;
    } else {
        body_ += reply->readAll();
        try {
            UpdateFeed feed = UpdateFeed::decode(body_, hosts_);
            completion_(std::move(feed));
            return;
        } catch (const UpdateFailure& failure) {
            lastError_ = failure.error;
        } catch (const std::exception&) {
            lastError_ = UpdateError::damagedFeed;
        }
    }
    // The failure reported is that of the last URL tried.
    if (++index_ < urls_.size()) {
        next();
        return;
    }
    completion_(lastError_);
}

// ---------------------------------------------------------------- archive

class ArchiveDownload::Worker : public QObject {
    Q_OBJECT
public:
    Worker(QNetworkRequest request, std::set<QString> hosts, std::chrono::milliseconds timeLimit, QString destination,
           qint64 expectedSize)
        : request_(std::move(request)), hosts_(std::move(hosts)), timeLimit_(timeLimit), file_(std::move(destination)),
          expected_(expectedSize)
    {}

    void run()
    {
        if (!file_.open(QIODevice::WriteOnly)) {
            finish(UpdateError::downloadFailed);
            return;
        }
        network_ = new QNetworkAccessManager(this);
        reply_ = network_->get(request_);
        // The network thread waits while this much is unread: memory stays
        // bounded however fast the server sends.
        reply_->setReadBufferSize(bufferLimit);
        watchRedirects(reply_, hosts_);
        limitTime(reply_, timeLimit_);
        connect(reply_, &QNetworkReply::readyRead, this, &Worker::received);
        connect(reply_, &QNetworkReply::finished, this, &Worker::ended);
    }

    void abort()
    {
        finished_ = true;
        if (reply_) reply_->abort();
    }

signals:
    void progressed(double fraction);
    void finished(int error); // -1: none; else an UpdateError

private:
    void received()
    {
        if (failure_ || finished_) return;
        // An error page is not the archive.
        if (!isSuccess(reply_)) {
            stop(UpdateError::downloadFailed);
            return;
        }
        const QByteArray chunk = reply_->readAll();
        // The length the server announces is not trusted: the bytes are counted.
        if (written_ + chunk.size() > expected_ + slack) {
            stop(UpdateError::damagedDownload);
            return;
        }
        if (file_.write(chunk) != chunk.size()) {
            stop(UpdateError::downloadFailed);
            return;
        }
        written_ += chunk.size();
        const double fraction = std::min(1.0, double(written_) / double(std::max<qint64>(expected_, 1)));
        // The receiver keeps steps of 0.005; smaller ones need not cross threads.
        if (fraction >= 1.0 || fraction - reported_ >= 0.001) {
            reported_ = fraction;
            emit progressed(fraction);
        }
    }

    void ended()
    {
        if (finished_) return;
        if (!failure_ && reply_->error() == QNetworkReply::NoError) received(); // the last bytes
        if (!failure_ && (reply_->error() != QNetworkReply::NoError || !isSuccess(reply_)))
            failure_ = UpdateError::downloadFailed;
        if (!failure_ && (!file_.flush() || file_.error() != QFileDevice::NoError))
            failure_ = UpdateError::downloadFailed;
        file_.close();
        finish(failure_);
    }

    void stop(UpdateError error)
    {
        failure_ = error;
        reply_->abort(); // finished() follows, and ended() reports the failure
    }

    void finish(std::optional<UpdateError> error)
    {
        finished_ = true;
        emit finished(error ? int(*error) : -1);
    }

    QNetworkRequest request_;
    std::set<QString> hosts_;
    std::chrono::milliseconds timeLimit_;
    QFile file_;
    qint64 expected_;
    QNetworkAccessManager* network_ = nullptr;
    QNetworkReply* reply_ = nullptr;
    qint64 written_ = 0;
    double reported_ = 0;
    std::optional<UpdateError> failure_;
    bool finished_ = false;
};

ArchiveDownload::ArchiveDownload(QNetworkRequest request, std::set<QString> hosts, std::chrono::milliseconds timeLimit,
                                 QString destination, qint64 expectedSize, QObject* parent)
    : QObject(parent),
      worker_(new Worker(std::move(request), std::move(hosts), timeLimit, std::move(destination), expectedSize))
{
    thread_.setObjectName(QStringLiteral("ravlen update download"));
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    connect(&thread_, &QThread::started, worker_, &Worker::run);
    connect(worker_, &Worker::progressed, this, [this](double fraction) {
        if (!done_ && progress) progress(fraction);
    });
    connect(worker_, &Worker::finished, this, [this](int error) {
        if (done_) return;
        done_ = true;
        thread_.quit();
        if (completion) completion(error < 0 ? std::nullopt : std::optional(UpdateError(error)));
    });
}

ArchiveDownload::~ArchiveDownload()
{
    cancel();
    thread_.wait();
    if (!started_) delete worker_; // never reached its thread
}

void ArchiveDownload::start()
{
    started_ = true;
    thread_.start();
}

void ArchiveDownload::cancel()
{
    done_ = true;
    if (!thread_.isRunning()) return;
    QMetaObject::invokeMethod(worker_, &Worker::abort, Qt::QueuedConnection);
    thread_.quit();
}

} // namespace quarn

#include "UpdateNetwork.moc"
