#include "LocalHttpsServer.h"

#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <stdexcept>

namespace updatetest {

namespace {

struct Identity {
    QSslCertificate certificate;
    QSslKey key;
};

// Made once per test program; trusted by it from then on.
const Identity& identity()
{
    static const Identity made = [] {
        QTemporaryDir dir;
        const QString key = dir.filePath("key.pem"), certificate = dir.filePath("certificate.pem");
        const int status = QProcess::execute(
            "openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                        key, "-out", certificate, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                        "subjectAltName=IP:127.0.0.1"});
        QFile keyFile(key), certificateFile(certificate);
        if (status != 0 || !keyFile.open(QIODevice::ReadOnly) || !certificateFile.open(QIODevice::ReadOnly))
            throw std::runtime_error("openssl could not make the test certificate");
        Identity identity{QSslCertificate(certificateFile.readAll()), QSslKey(keyFile.readAll(), QSsl::Ec)};
        QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
        trusted.addCaCertificate(identity.certificate);
        QSslConfiguration::setDefaultConfiguration(trusted);
        return identity;
    }();
    return made;
}

} // namespace

LocalHttpsServer::LocalHttpsServer() : server_(std::make_unique<QSslServer>())
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(identity().certificate);
    configuration.setPrivateKey(identity().key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    server_->setSslConfiguration(configuration);
    connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this, &LocalHttpsServer::accept);
    server_->listen(QHostAddress::LocalHost, 0);
}

LocalHttpsServer::~LocalHttpsServer() = default;

bool LocalHttpsServer::isListening() const { return server_->isListening(); }

QUrl LocalHttpsServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(server_->serverPort()).arg(path));
}

void LocalHttpsServer::serve(const QString& path, Response response) { responses_[path] = std::move(response); }

void LocalHttpsServer::accept()
{
    while (QTcpSocket* next = server_->nextPendingConnection()) {
        auto* socket = static_cast<QSslSocket*>(next);
        socket->setParent(this);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QSslSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            if (!buffer->contains("\r\n\r\n")) return;
            const QByteArray request = *buffer;
            buffer->clear();
            answer(socket, request);
        });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void LocalHttpsServer::answer(QSslSocket* socket, const QByteArray& request)
{
    const QList<QByteArray> lines = request.split('\n');
    const QList<QByteArray> words = lines.value(0).trimmed().split(' ');
    const QString path = QString::fromUtf8(words.value(1));
    for (const QByteArray& line : lines)
        if (line.toLower().startsWith("user-agent:")) lastUserAgent_ = line.mid(11).trimmed();
    ++requests_[path];
    const Response response = responses_.value(path, Response{404, "Not found", 1, -1});
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Answer\r\nContent-Type: application/octet-stream\r\n" +
                      "Content-Length: " + QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(head);
    const QByteArray body = response.stallAfter >= 0 ? response.body.left(response.stallAfter) : response.body;
    const int pieces = std::max(1, response.pieces);
    const qsizetype size = (body.size() + pieces - 1) / pieces;
    QPointer<QSslSocket> guard(socket);
    for (int i = 0; i < pieces; ++i)
        QTimer::singleShot(3 * i, socket, [guard, piece = body.mid(i * size, size), last = i == pieces - 1,
                                           stall = response.stallAfter >= 0] {
            if (!guard) return;
            guard->write(piece);
            if (last && !stall) guard->disconnectFromHost();
        });
}

} // namespace updatetest
