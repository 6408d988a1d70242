#include "Quarn/Shell/FileManager.h"
#include "Quarn/Design/ErrorAlert.h"

#include "QuarnKit/History/OpenProblem.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace quarn {

namespace {

using Failed = std::function<void(const QString& reason)>;
using Shown = std::function<void()>;

// How long xdg-open may take to fail. One still running then has started a
// program that shows the folder (some wait for it to close), and what it
// says when it ends is no failure of showing.
constexpr int kOpenerVerdictMs = 10000;

// What the file manager did, as the failure's sentence begins: none
// answered, or one refused (it answered with an error of its own).
QString fileManagerAnswer(const QDBusError& error = QDBusError())
{
    const bool refused = error.isValid() && error.type() != QDBusError::ServiceUnknown
                         && error.type() != QDBusError::NoReply && error.type() != QDBusError::Timeout
                         && error.type() != QDBusError::Disconnected;
    return refused ? QObject::tr("The file manager couldn't show the file") : QObject::tr("No file manager answered");
}

// Opens the folder with xdg-open, run here rather than detached so that its
// exit status says whether something showed the folder. `answer` begins the
// failure's sentence.
void openFolder(const QString& folder, Failed failed, Shown shown, const QString& answer = fileManagerAnswer())
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (program.isEmpty()) {
        failed(QObject::tr("%1, and xdg-open, which opens folders, isn't installed.").arg(answer));
        return;
    }
    const QString reason = QObject::tr("%1, and xdg-open couldn't open the folder “%2”.").arg(answer, folder);
    auto* opener = new QProcess(qApp);
    opener->setProgram(program);
    opener->setArguments({QUrl::fromLocalFile(folder).toString()});
    // Its complaints go to the log, as the desktop's own tools' do.
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    const auto decided = std::make_shared<bool>(false);
    QTimer::singleShot(kOpenerVerdictMs, opener, [decided, shown] {
        if (!std::exchange(*decided, true) && shown) shown();
    });
    QObject::connect(opener, &QProcess::finished, opener,
                     [opener, decided, failed, shown, reason](int code, QProcess::ExitStatus status) {
                         if (!std::exchange(*decided, true)) {
                             if (status != QProcess::NormalExit || code != 0) failed(reason);
                             else if (shown) shown();
                         }
                         opener->deleteLater();
                     });
    QObject::connect(opener, &QProcess::errorOccurred, opener,
                     [opener, decided, failed, reason](QProcess::ProcessError e) {
                         if (e != QProcess::FailedToStart) return; // the others end in finished
                         if (!std::exchange(*decided, true)) failed(reason);
                         opener->deleteLater();
                     });
    opener->start();
}

} // namespace

void revealInFolder(const QString& path, Failed failed, Shown shown)
{
    const QFileInfo file(path);
    const QString folder = QDir::toNativeSeparators(file.absolutePath());
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(file.absoluteFilePath()).toString()} << QString();
    // Asked without waiting; a desktop without the service gets the folder opened instead.
    // Without a session bus the call has failed before the watcher exists,
    // and a watcher made then never says it finished.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return openFolder(folder, std::move(failed), std::move(shown));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000), qApp);
    if (watcher->isFinished()) {
        if (watcher->isError())
            openFolder(folder, std::move(failed), std::move(shown), fileManagerAnswer(watcher->error()));
        else if (shown) shown();
        watcher->deleteLater();
        return;
    }
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp,
                     [folder, failed = std::move(failed), shown = std::move(shown)](QDBusPendingCallWatcher* w) {
                         if (w->isError()) openFolder(folder, failed, shown, fileManagerAnswer(w->error()));
                         else if (shown) shown();
                         w->deleteLater();
                     });
}

void revealInFolder(const QString& path, QWidget* window)
{
    revealInFolder(path, [path, over = QPointer<QWidget>(window)](const QString& reason) {
        // Another window may be in front by now: the alert goes to the one asked from.
        auto* box = new QMessageBox(QMessageBox::Warning, QCoreApplication::applicationName(),
                                    quarnkit::OpenProblem::notShownInFolder(path, reason).title, QMessageBox::Ok, over);
        // Both lines name the file or its folder as they are called.
        setPlainTexts(*box, box->text(), reason);
        openAlert(box, over);
    });
}

} // namespace quarn
