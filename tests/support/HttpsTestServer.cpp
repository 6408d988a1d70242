#include "support/HttpsTestServer.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace testsupport {

namespace {

struct Identity {
    QSslCertificate certificate;
    QSslKey key;
};

// A self-signed certificate for localhost and 127.0.0.1, valid for two days,
// made once; the default TLS configuration trusts it from then on.
std::optional<Identity> localIdentity()
{
    static const std::optional<Identity> identity = []() -> std::optional<Identity> {
        QTemporaryDir dir;
        if (!dir.isValid()) return std::nullopt;
        const QString keyFile = dir.filePath(QStringLiteral("key.pem"));
        const QString certificateFile = dir.filePath(QStringLiteral("certificate.pem"));
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                       QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                       QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                       QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
                       QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1"), QStringLiteral("-keyout"), keyFile,
                       QStringLiteral("-out"), certificateFile});
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) return std::nullopt;
        QFile keyPem(keyFile);
        QFile certificatePem(certificateFile);
        if (!keyPem.open(QIODevice::ReadOnly) || !certificatePem.open(QIODevice::ReadOnly)) return std::nullopt;
        Identity made{QSslCertificate(certificatePem.readAll(), QSsl::Pem), QSslKey(keyPem.readAll(), QSsl::Ec)};
        if (made.certificate.isNull() || made.key.isNull()) return std::nullopt;
        QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
        trusted.addCaCertificate(made.certificate);
        QSslConfiguration::setDefaultConfiguration(trusted);
        return made;
    }();
    return identity;
}

QByteArray reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

} // namespace

HttpsTestServer::HttpsTestServer() : server_(new QSslServer(this))
{
    const auto identity = localIdentity();
    if (!identity) return;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(identity->certificate);
    configuration.setPrivateKey(identity->key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    server_->setSslConfiguration(configuration);
    connect(server_, &QTcpServer::pendingConnectionAvailable, this, &HttpsTestServer::accept);
    server_->listen(QHostAddress::LocalHost, 0);
}

HttpsTestServer::~HttpsTestServer() = default;

bool HttpsTestServer::isListening() const { return server_->isListening(); }

QUrl HttpsTestServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(server_->serverPort()).arg(path));
}

void HttpsTestServer::answer(const QString& path, Answer answer) { answers_[path] = std::move(answer); }

QByteArray HttpsTestServer::lastUserAgent() const
{
    return requests_.empty() ? QByteArray() : requests_.back().headers.value("user-agent");
}

int HttpsTestServer::requestsTo(const QString& path) const
{
    return int(std::count_if(requests_.begin(), requests_.end(), [&](const Request& r) { return r.path == path; }));
}

void HttpsTestServer::accept()
{
    while (QTcpSocket* next = server_->nextPendingConnection()) {
        auto* socket = qobject_cast<QSslSocket*>(next);
        if (!socket) {
            next->deleteLater();
            continue;
        }
        socket->setParent(this);
        connect(socket, &QIODevice::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
            buffers_.erase(socket);
            socket->deleteLater();
        });
        readFrom(socket);
    }
}

void HttpsTestServer::readFrom(QSslSocket* socket)
{
    QByteArray& buffer = buffers_[socket];
    buffer += socket->readAll();
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) return;
    Request request;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = QString::fromLatin1(requestLine.value(1));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0) request.headers[lines[i].left(colon).trimmed().toLower()] = lines[i].mid(colon + 1).trimmed();
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (buffer.size() < headEnd + 4 + length) return;
    request.body = buffer.mid(headEnd + 4, length);
    buffer.clear();
    requests_.push_back(request);

    const auto it = answers_.find(request.path);
    const Answer answer = it != answers_.end() ? it->second : Answer{404};
    if (answer.stall) return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reason(answer.status) + "\r\n";
    for (auto header = answer.headers.begin(); header != answer.headers.end(); ++header)
        head += header.key() + ": " + header.value() + "\r\n";
    head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(head);
    const bool stalls = answer.stallAfter >= 0;
    const QByteArray body = stalls ? answer.body.left(answer.stallAfter) : answer.body;
    const int pieces = std::max(1, answer.pieces);
    const qsizetype size = (body.size() + pieces - 1) / pieces;
    const QPointer<QSslSocket> guard(socket);
    for (int i = 0; i < pieces; ++i)
        QTimer::singleShot(3 * i, socket, [guard, piece = body.mid(i * size, size), last = i == pieces - 1, stalls] {
            if (!guard) return;
            guard->write(piece);
            if (last && !stalls) guard->disconnectFromHost();
        });
}

} // namespace testsupport
