#include "Quarn/App/SingleInstance.h"

#include "Platform/PrivateFiles.h"

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

} // namespace

QString SingleInstance::defaultFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    // Never a shared name in /tmp: without a runtime folder, one of our own per user.
    if (base.isEmpty()) base = QDir::tempPath() + QStringLiteral("/ravlen-%1").arg(::getuid());
    return base + QStringLiteral("/ravlen");
}

SingleInstance::SingleInstance(const QString& folder, const QString& name, QObject* parent) : QObject(parent)
{
    const QString place = folder.isEmpty() ? defaultFolder() : folder;
    // Another user may have made the folder first, with a lock of a live
    // process and a socket in it: such a folder would silence every launch
    // and collect the paths of the files opened. It is never used.
    if (const auto problem = platform::PrivateFiles::privateFolderProblem(place)) {
        qWarning("ravlen: not using %s to reach a running ravlen: %s. This launch runs on its own.",
                 qUtf8Printable(place), qUtf8Printable(*problem));
        return;
    }
    socketPath_ = place + u'/' + name + QStringLiteral(".socket");
    lock_ = std::make_unique<QLockFile>(place + u'/' + name + QStringLiteral(".lock"));
    lock_->setStaleLockTime(0); // a lock is stale only when its process is gone
}

SingleInstance::~SingleInstance()
{
    if (server_) server_->close();
    if (lock_ && lock_->isLocked()) lock_->unlock();
}

bool SingleInstance::claim()
{
    if (!lock_) return true; // no folder to share: the one instance of its own
    if (!lock_->tryLock(100)) return false;
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
    if (!lock_) return false;
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
