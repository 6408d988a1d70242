#pragma once
// A small HTTPS server on 127.0.0.1 for the updater's tests. Its certificate
// is made by openssl when the first server starts (a fresh key, valid two
// days, for the address 127.0.0.1) and is added to this process's trusted
// certificates, so the updater's requests verify it as they would a real one.
#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QSslServer;
class QSslSocket;

namespace updatetest {

class LocalHttpsServer : public QObject {
public:
    struct Response {
        int status = 200;
        QByteArray body;
        // The body goes out in this many pieces, a few milliseconds apart.
        int pieces = 1;
        // Only the first `stallAfter` bytes are sent, then nothing (negative: all).
        qint64 stallAfter = -1;
    };

    LocalHttpsServer();
    ~LocalHttpsServer() override;
    bool isListening() const;
    QUrl url(const QString& path) const;

    void serve(const QString& path, Response response);
    // Requests for `path` so far, and the User-Agent of the last one.
    int requests(const QString& path) const { return requests_.value(path); }
    QByteArray lastUserAgent() const { return lastUserAgent_; }

private:
    void accept();
    void answer(QSslSocket* socket, const QByteArray& request);

    std::unique_ptr<QSslServer> server_;
    QHash<QString, Response> responses_;
    QHash<QString, int> requests_;
    QByteArray lastUserAgent_;
};

} // namespace updatetest
