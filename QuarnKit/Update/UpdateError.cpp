#include "QuarnKit/Update/UpdateError.h"

namespace quarnkit {

QString message(UpdateError error, const QString& app)
{
    switch (error) {
    case UpdateError::offline:
        return QStringLiteral("Couldn't reach the update server. Check your connection and try again.");
    case UpdateError::damagedFeed: return QStringLiteral("The update information couldn't be read. Try again later.");
    case UpdateError::downloadFailed:
        return QStringLiteral("The download didn't finish. Check your connection and try again.");
    case UpdateError::damagedDownload: return QStringLiteral("The download was damaged. Try again.");
    case UpdateError::badSignature:
        return QStringLiteral("The download isn't signed by ") + app + QStringLiteral(", so it wasn't installed.");
    case UpdateError::damagedArchive:
        return QStringLiteral("The download doesn't contain a copy of ") + app + QStringLiteral(".");
    case UpdateError::wrongApp: return QStringLiteral("The download contains a different app, so it wasn't installed.");
    case UpdateError::wrongChip:
        return QStringLiteral("The download is for a different kind of computer, so it wasn't installed.");
    case UpdateError::notNewer: return QStringLiteral("The download isn't newer than the copy you have.");
    case UpdateError::untrustedCode:
        return QStringLiteral("The new copy of ") + app
               + QStringLiteral(" failed its signature check, so it wasn't installed.");
    case UpdateError::installerFailed: return app + QStringLiteral(" couldn't start the installer. Try again.");
    case UpdateError::noPrivateFolder: return app + QStringLiteral(" couldn't make a private folder for the download.");
    }
    return {};
}

bool UpdatePreferences::automatic(const platform::UserDefaults& defaults)
{
    return defaults.boolValue(automaticKey).value_or(true);
}

bool UpdatePreferences::isDue(const std::optional<QDateTime>& lastCheck, const QDateTime& now)
{
    if (!lastCheck || !lastCheck->isValid()) return true;
    const qint64 elapsedMs = lastCheck->msecsTo(now);
    return elapsedMs >= qint64(interval * 1000) || elapsedMs < 0;
}

} // namespace quarnkit
