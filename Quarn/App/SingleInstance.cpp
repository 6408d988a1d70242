#include "Quarn/App/SingleInstance.h"

#include "Platform/PrivateFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace quarn {

namespace {

constexpr int kHandOverTimeoutMs = 3000;
constexpr qint64 kMaxMessage = 1 << 20;

} // namespace

QString SingleInstance::defaultFolder()
{
    // The session's runtime folder (one another user's was replaced at start);
    // without one, a folder of ravlen's own in the user's cache. Never a name
    // in the temporary folder: another user could make it first, and with it
    // turn off every hand-over.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/')) return QFile::decodeName(runtime) + QStringLiteral("/ravlen");
    // The user's own link for the cache (to another disk) is the user's, as at start.
    return platform::PrivateFiles::judgedBaseFolder(
               QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
           + QStringLiteral("/ravlen/instance");
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
    lockPath_ = place + u'/' + name + QStringLiteral(".lock");
}

SingleInstance::~SingleInstance()
{
    if (server_) server_->close();
    if (lock_ >= 0) ::close(lock_); // and the lock goes with it
}

bool SingleInstance::claim()
{
    if (lockPath_.isEmpty()) return true; // no folder to share: the one instance of its own
    // The kernel's lock on the file: it goes with its process however that
    // ends, and taking it writes nothing (a lock file's contents would be
    // synced to the disk at every start).
    if (lock_ < 0)
        lock_ = ::open(QFile::encodeName(lockPath_).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock_ < 0) return false;
    // Another instance may be just ending: a moment's grace.
    for (int tries = 0; ::flock(lock_, LOCK_EX | LOCK_NB) != 0; ++tries) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || tries == 10) {
            ::close(std::exchange(lock_, -1));
            return false;
        }
        ::usleep(10000);
    }
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
    if (lockPath_.isEmpty()) return false;
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
