#include "Quarn/App/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>

#include <unistd.h>

namespace quarn {

namespace {

constexpr int kHandOverTimeoutMs = 3000;
constexpr qint64 kMaxMessage = 1 << 20;

QString privateFolder(const QString& folder)
{
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return folder;
}

} // namespace

QString SingleInstance::defaultFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    // Never a shared name in /tmp: without a runtime folder, one of our own per user.
    if (base.isEmpty()) base = QDir::tempPath() + QStringLiteral("/ravlen-%1").arg(::getuid());
    return base + QStringLiteral("/ravlen");
}

SingleInstance::SingleInstance(const QString& folder, const QString& name, QObject* parent)
    : QObject(parent),
      socketPath_(privateFolder(folder.isEmpty() ? defaultFolder() : folder) + "/" + name + ".socket"),
      lock_(privateFolder(folder.isEmpty() ? defaultFolder() : folder) + "/" + name + ".lock")
{
    lock_.setStaleLockTime(0); // a lock is stale only when its process is gone
}

SingleInstance::~SingleInstance()
{
    if (server_) server_->close();
    if (lock_.isLocked()) lock_.unlock();
}

bool SingleInstance::claim()
{
    if (!lock_.tryLock(100)) return false;
    // A socket left by a process that crashed would block listening.
    QLocalServer::removeServer(socketPath_);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath_)) return true; // still the one instance; launches just cannot reach it
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readConnection(socket); });
        }
    });
    return true;
}

void SingleInstance::readConnection(QLocalSocket* socket)
{
    // One message: a JSON object on one line.
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxMessage) socket->abort();
        return;
    }
    const QJsonDocument message = QJsonDocument::fromJson(socket->readLine(kMaxMessage));
    QStringList files;
    for (const QJsonValue& value : message.object().value(QStringLiteral("files")).toArray())
        if (value.isString()) files << value.toString();
    socket->write("ok\n");
    socket->flush();
    socket->disconnectFromServer();
    emit filesReceived(files);
}

bool SingleInstance::handOver(const QStringList& files)
{
    QJsonArray list;
    for (const QString& file : files) list.append(QFileInfo(file).absoluteFilePath());
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(kHandOverTimeoutMs)) return false;
    socket.write(QJsonDocument(QJsonObject{{QStringLiteral("files"), list}}).toJson(QJsonDocument::Compact) + "\n");
    if (!socket.waitForBytesWritten(kHandOverTimeoutMs)) return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(kHandOverTimeoutMs)) return false;
    return socket.readLine().trimmed() == "ok";
}

} // namespace quarn
