#pragma once
// A small HTTPS/1.1 server on 127.0.0.1 for tests of network code. Its
// certificate, for 127.0.0.1 and "localhost", is made once per test program with openssl
// (a fresh key pair in a temporary folder, nothing kept under tests/), and
// this process's default TLS configuration trusts it from then on. Each path
// answers as the test says; requests are recorded. Runs on the thread's event
// loop, so the test waits for what it expects (testsupport::waitFor).
#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>

#include <map>
#include <utility>
#include <vector>

class QSslServer;
class QSslSocket;

namespace testsupport {

class HttpsTestServer : public QObject {
public:
    struct Answer {
        // As the fields below, in their order; the rest keep their defaults.
        Answer(int status = 200, QByteArray body = {}, int pieces = 1, qint64 stallAfter = -1)
            : status(status), body(std::move(body)), pieces(pieces), stallAfter(stallAfter)
        {}
        int status = 200;
        QByteArray body;
        // The body goes out in this many pieces, a few milliseconds apart.
        int pieces = 1;
        // Only the first `stallAfter` bytes of the body are sent, then nothing
        // (negative: all of it).
        qint64 stallAfter = -1;
        QMap<QByteArray, QByteArray> headers;
        bool stall = false; // read the request, then never answer
    };
    struct Request {
        QByteArray method;
        QString path;
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };

    HttpsTestServer();
    ~HttpsTestServer() override;

    // False when no certificate could be made or no port taken.
    bool isListening() const;
    // https://127.0.0.1:<port><path>
    QUrl url(const QString& path) const;
    // What `path` answers from now on; a path without one answers 404.
    void answer(const QString& path, Answer answer);
    const std::vector<Request>& requests() const { return requests_; }
    int requestsTo(const QString& path) const;
    // The User-Agent of the last request.
    QByteArray lastUserAgent() const;

private:
    void accept();
    void readFrom(QSslSocket* socket);

    QSslServer* server_;
    std::map<QString, Answer> answers_;
    std::vector<Request> requests_;
    std::map<QSslSocket*, QByteArray> buffers_;
};

} // namespace testsupport
