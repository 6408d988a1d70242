#include "Quarn/Shell/FileManager.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace quarn {

void revealInFolder(const QString& path)
{
    const QString uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString();
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{uri} << QString();
    // Asked without waiting; a desktop without the service gets the folder opened instead.
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    // Without a session bus the call has failed before the watcher exists,
    // and a watcher made then never says it finished.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(folder);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000), qApp);
    if (watcher->isFinished()) {
        if (watcher->isError()) QDesktopServices::openUrl(folder);
        watcher->deleteLater();
        return;
    }
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [folder](QDBusPendingCallWatcher* w) {
        if (w->isError()) QDesktopServices::openUrl(folder);
        w->deleteLater();
    });
}

} // namespace quarn
