#include "Quarn/Update/UpdateHost.h"

#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/Update/UpdateWindow.h"
#include "QuarnKit/Shell/VersionTexts.h"
#include "QuarnKit/Update/CodeSignature.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThreadPool>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quarn {

namespace {

// The distribution's own name for itself, from os-release: PRETTY_NAME, else
// NAME, else "Linux".
QString distributionName()
{
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        QFile file(QString::fromLatin1(path));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) continue;
        QString pretty, name;
        for (const QByteArray& raw : file.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw).trimmed();
            const qsizetype equals = line.indexOf(u'=');
            if (equals < 1) continue;
            QString value = line.mid(equals + 1).trimmed();
            if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
                value = value.mid(1, value.size() - 2);
            if (line.startsWith(QLatin1String("PRETTY_NAME="))) pretty = value;
            if (line.startsWith(QLatin1String("NAME="))) name = value;
        }
        if (!pretty.isEmpty()) return pretty;
        if (!name.isEmpty()) return name;
    }
    return QStringLiteral("Linux");
}

} // namespace

UpdateEnvironment UpdateEnvironment::running()
{
    UpdateEnvironment environment;
    const QString info = quarnkit::installInfoPath();
    const nlohmann::json values = quarnkit::readInstallInfo(info);
    environment.installFolder = info.isEmpty() ? QString() : QFileInfo(info).absolutePath();
    environment.source = quarnkit::UpdateSource::fromInfo(values);
    environment.current = quarnkit::AppRelease::fromInfo(values).value_or(quarnkit::AppRelease{
        quarnkit::appShortVersion(), quarnkit::AppRelease::buildNumber(quarnkit::appBuildVersion())});
    environment.displayName = quarnkit::appDisplayName();
    environment.chip = quarnkit::nativeChip();
    environment.system = quarnkit::SystemVersion::running();
    environment.systemName = distributionName();
    environment.userID = ::geteuid();
    // The application's own cache folder (~/.cache/ravlen), else the private
    // work folder: never a shared name in the temporary folder.
    QString caches = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (caches.isEmpty()) {
        try {
            caches = environment.workFolder.path();
        } catch (const platform::PrivateFiles::PrivateFolderError&) {
            // No folder for the script: starting it fails, and says so.
        }
    }
    environment.updatesFolder = caches.isEmpty() ? QString() : caches + QStringLiteral("/Updates");
    environment.readTeam = [] { return quarnkit::CodeSignature::runningTeamID(); };
    return environment;
}

UpdateHost UpdateHost::standard(DocumentController& documents)
{
    UpdateHost host;
    host.documents = [&documents] {
        std::vector<QUrl> files;
        for (const DocumentWindow* window : documents.windows())
            if (!window->filePath().isEmpty()) files.push_back(QUrl::fromLocalFile(window->filePath()));
        return files;
    };
    host.closeAllDocuments = [&documents] { return documents.closeAll(); };
    host.quit = [&documents] { documents.quit(); };
    host.startInstaller = [](const quarnkit::UpdateInstallPlan& plan, const QString& script) {
        return quarnkit::UpdateInstaller::start(plan, script);
    };
    // The script runs in a session of its own, so its group is its own too:
    // the shell and whatever it waits on stop together.
    host.stopInstaller = [](pid_t pid) {
        if (pid <= 0 || ::kill(-pid, SIGTERM) != 0) return;
        // Reaped off the UI thread: the shell ends as soon as it gets the signal.
        QThreadPool::globalInstance()->start([pid] { ::waitpid(pid, nullptr, 0); });
    };
    host.openURL = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    host.showWindow = [](bool activate) { UpdateWindow::shared().show(activate); };
    host.hideWindow = [] { UpdateWindow::shared().hide(); };
    return host;
}

} // namespace quarn
