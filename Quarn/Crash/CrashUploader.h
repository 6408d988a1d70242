#pragma once
// The crash reporter's upload session: one network manager kept for the
// reporter's life, sending a report's body by POST to the endpoints in order
// until one takes or refuses it. Redirects are never followed (a 3xx is the
// endpoint's answer, and a refusal); only https endpoints are contacted; no
// cookie, cache or credential is used; each request gives up after a time
// without progress, and after twice that in all. The body of an answer is
// never read: the status is all that counts. Used on the UI thread.
#include "QuarnKit/Crash/CrashUpload.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

class QNetworkAccessManager;

namespace quarn {

// The POST request of one report to one endpoint: JSON, the caller's user
// agent, `timeoutMs` without progress, nothing cached or stored. None unless
// the endpoint is an https URL with a host.
std::optional<QNetworkRequest> crashUploadRequest(const QUrl& endpoint, const QString& userAgent, int timeoutMs);

class CrashUploader : public QObject {
    Q_OBJECT
public:
    CrashUploader(std::vector<QUrl> endpoints, QString userAgent, int timeoutMs, QObject* parent = nullptr);
    ~CrashUploader() override;

    // Walks the endpoints with `body`; `done` runs once with the report's
    // outcome: the first endpoint's sent or rejected, else retryLater. It does
    // not run when `context` or the uploader goes first.
    void send(const QByteArray& body, QObject* context, std::function<void(quarnkit::CrashUploadOutcome)> done);

private:
    class Walk;
    std::vector<QUrl> endpoints_;
    QString userAgent_;
    int timeoutMs_;
    QNetworkAccessManager* network_;
};

} // namespace quarn
