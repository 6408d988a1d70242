#include "Quarn/Crash/CrashUploader.h"

#include "QuarnKit/Update/UpdateFeed.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

namespace quarn {

using quarnkit::CrashUploadOutcome;

std::optional<QNetworkRequest> crashUploadRequest(const QUrl& endpoint, const QString& userAgent, int timeoutMs)
{
    if (!quarnkit::isSecureURL(endpoint)) return std::nullopt;
    QNetworkRequest request(endpoint);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    request.setTransferTimeout(timeoutMs);
    return request;
}

namespace {

// The HTTP status of an answer; none when the connection, the proxy or the
// secure channel failed, or the transfer timed out.
std::optional<int> statusOf(QNetworkReply* reply)
{
    const QNetworkReply::NetworkError error = reply->error();
    if (error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied) return std::nullopt;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return std::nullopt;
    return status.toInt();
}

} // namespace

// One report's way through the endpoints.
class CrashUploader::Walk : public QObject {
public:
    Walk(CrashUploader& uploader, QByteArray body, std::function<void(CrashUploadOutcome)> done)
        : QObject(&uploader), uploader_(uploader), body_(std::move(body)), done_(std::move(done))
    {
        deadline_.setSingleShot(true);
        connect(&deadline_, &QTimer::timeout, this, [this] { answered(std::nullopt); });
    }
    ~Walk() override { dropReply(); }

    void tryNext()
    {
        while (next_ < uploader_.endpoints_.size()) {
            const auto request =
                crashUploadRequest(uploader_.endpoints_[next_++], uploader_.userAgent_, uploader_.timeoutMs_);
            if (!request) continue;
            reply_ = uploader_.network_->post(*request, body_);
            const int attempt = ++attempt_;
            // The status line is the answer: the body that may follow is not
            // waited for. The reply is let go of after its signal has returned.
            connect(reply_, &QNetworkReply::metaDataChanged, this, [this, attempt] {
                if (!statusOf(reply_)) return;
                QMetaObject::invokeMethod(
                    this,
                    [this, attempt] {
                        if (attempt == attempt_ && reply_) answered(statusOf(reply_));
                    },
                    Qt::QueuedConnection);
            });
            connect(reply_, &QNetworkReply::finished, this, [this] { answered(statusOf(reply_)); });
            deadline_.start(2 * uploader_.timeoutMs_);
            return;
        }
        finish(CrashUploadOutcome::retryLater);
    }

private:
    void answered(std::optional<int> status)
    {
        dropReply();
        const CrashUploadOutcome outcome = quarnkit::CrashUpload::outcome(status);
        if (outcome == CrashUploadOutcome::retryLater) tryNext();
        else finish(outcome);
    }

    void finish(CrashUploadOutcome outcome)
    {
        const auto done = std::move(done_);
        deleteLater();
        if (done) done(outcome);
    }

    void dropReply()
    {
        deadline_.stop();
        if (!reply_) return;
        QNetworkReply* reply = reply_;
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }

    CrashUploader& uploader_;
    QByteArray body_;
    std::function<void(CrashUploadOutcome)> done_;
    size_t next_ = 0;
    int attempt_ = 0; // raised with every request
    QPointer<QNetworkReply> reply_;
    QTimer deadline_;
};

CrashUploader::CrashUploader(std::vector<QUrl> endpoints, QString userAgent, int timeoutMs, QObject* parent)
    : QObject(parent), endpoints_(std::move(endpoints)), userAgent_(std::move(userAgent)), timeoutMs_(timeoutMs),
      network_(new QNetworkAccessManager(this))
{
    network_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

CrashUploader::~CrashUploader()
{
    // The walks let go of their requests while the manager still exists.
    const QObjectList children = this->children();
    for (QObject* child : children)
        if (auto* walk = dynamic_cast<Walk*>(child)) delete walk;
}

void CrashUploader::send(const QByteArray& body, QObject* context, std::function<void(CrashUploadOutcome)> done)
{
    QPointer<QObject> guard(context);
    auto* walk = new Walk(*this, body, [guard, done = std::move(done)](CrashUploadOutcome outcome) {
        if (guard && done) done(outcome);
    });
    // Never at once: the outcome always comes after send() has returned.
    QMetaObject::invokeMethod(
        walk, [walk] { walk->tryNext(); }, Qt::QueuedConnection);
}

} // namespace quarn
