#pragma once
// One ravlen process per user: the first process holds a lock file and
// listens on a local socket in a private folder; a later launch hands its
// files to it and ends. A hand-over with no files is a "reopen".
#include <QLocalServer>
#include <QObject>
#include <QStringList>

#include <memory>

namespace quarn {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `folder` holds the lock and the socket: by default a private (0700)
    // folder of the user's runtime location. `name` tells instances apart.
    // A folder that is not this user's alone is never used (the log says
    // so): then claim() is true and handOver() false, each launch on its own.
    explicit SingleInstance(const QString& folder = {}, const QString& name = QStringLiteral("ravlen"),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one instance (and listens).
    bool claim();
    // Sends the files (made absolute) to the running instance; true once it
    // confirmed. Waits at most a few seconds.
    bool handOver(const QStringList& files);

    QString socketPath() const { return socketPath_; }
    static QString defaultFolder();

signals:
    // Files handed over by another launch; empty for a reopen.
    void filesReceived(const QStringList& files);

private:
    void readConnection(class QLocalSocket* socket);
    QString socketPath_;
    QString lockPath_; // none when the folder is unfit
    int lock_ = -1;    // the locked file, open while this process is the one instance
    std::unique_ptr<QLocalServer> server_;
};

} // namespace quarn
