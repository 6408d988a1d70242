#pragma once
// The application-wide updater. It checks the release feed 8 s after start()
// and then, hourly, whenever a day has passed since the last check (or when
// asked), decides whether the release applies to this computer and offers it
// in the Software Update window; its main action downloads the archive into
// a staging folder, has it checked and unpacked off the UI thread, closes
// every document, starts the installer script and quits. The window and the
// Settings window redraw from its published fields when changed() is emitted.
// Used on the UI thread only.
#include "Quarn/Update/UpdateHost.h"
#include "QuarnKit/Update/UpdateError.h"
#include "QuarnKit/Update/UpdateFeed.h"
#include "QuarnKit/Update/UpdateInstaller.h"

#include <QDateTime>
#include <QFuture>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <variant>

namespace platform {
class UserDefaults;
}
namespace quarnkit {
class StagingFolder;
}

namespace quarn {

class ArchiveDownload;
class FeedFetch;

// What the updater is doing or found.
struct UpdateState {
    enum class Kind {
        idle,             // nothing to show
        checking,         // a check is running
        upToDate,         // the last check found nothing to install
        available,        // a release is offered (feed)
        needsNewerSystem, // the release needs a newer system (feed; after user-started checks only)
        downloading,      // the archive is being downloaded (fraction)
        verifying,        // the download is being checked and unpacked
        readyToInstall,   // a verified copy waits for the documents to close
        installing,       // the installer has started and the application is quitting
        failed,           // a sentence for the user (message)
    };
    Kind kind = Kind::idle;
    std::optional<quarnkit::UpdateFeed> feed;
    double fraction = 0;
    QString message;

    static UpdateState of(Kind kind) { return {kind, std::nullopt, 0, {}}; }
    friend bool operator==(const UpdateState&, const UpdateState&) = default;
};

// What started a check: the schedule, the menu command (and the update
// window's buttons), or the Settings window.
enum class UpdateTrigger { automatic, menu, settings };

class UpdateController : public QObject {
    Q_OBJECT
public:
    UpdateController(platform::UserDefaults& defaults, UpdateEnvironment environment, UpdateHost host,
                     QObject* parent = nullptr);
    ~UpdateController() override;
    // Over the standard settings, the running copy and the application's
    // document controller; made on first use, never released.
    static UpdateController& shared();

    // Begins automatic checking: stale staging folders are cleaned, the first
    // check runs launchDelay later, then the hourly due test. Once per run.
    void start();
    void check(UpdateTrigger trigger);
    // The hourly test: a check when automatic checking is on and a day has
    // passed since the last one (or `force`).
    void checkIfDue(bool force);
    void cancelCheck();
    // The window was closed or the user chose to wait.
    void later();
    // The user does not want the offered version.
    void skip();
    // The failed state's action: the install again, or the check again.
    void retry();
    // The main action of an offered release.
    void install();

    const UpdateState& state() const { return state_; }
    const std::optional<QDateTime>& lastCheck() const { return lastCheck_; }
    const std::optional<quarnkit::UpdateFeed>& offered() const { return offered_; }
    const std::optional<QString>& note() const { return note_; }
    const UpdateEnvironment& environment() const { return environment_; }
    // False for a copy built without a feed or an update key: no check can
    // ever succeed, so none is offered.
    bool updatesItself() const
    {
        return !environment_.source.feedURLs.empty() && !environment_.source.publicKey.isEmpty();
    }

    // The state told in one sentence (Settings shows it).
    QString statusText(const QDateTime& now = QDateTime::currentDateTime(), const QLocale& locale = QLocale()) const;
    // "Last checked today at 09:30."; none before the first check.
    std::optional<QString> lastCheckText(const QDateTime& now = QDateTime::currentDateTime(),
                                         const QLocale& locale = QLocale()) const;
    // The offered release's build for this computer's processor.
    std::optional<quarnkit::UpdateFeed::ChipBuild> chipBuild() const;
    // Why this copy cannot replace itself; none also while its seal is still
    // being read.
    std::optional<quarnkit::InstallBlocker> blocker() const;
    // The running copy's team, once read; none for a development build.
    std::optional<QString> runningTeamID() const { return team_.value_or(std::nullopt); }
    bool teamKnown() const { return team_.has_value(); }

    static constexpr const char* waitingNote = "A document is still open, so the update is waiting.";

signals:
    // Any published field changed.
    void changed();

private:
    // Check
    void checkFinished(const quarnkit::UpdateFeed& feed);
    void checkFailed(quarnkit::UpdateError error, const UpdateState& previous);
    void offer(const quarnkit::UpdateFeed& feed, UpdateTrigger trigger);
    QString userAgent() const;
    // Install
    void download(const quarnkit::UpdateFeed::ChipBuild& build);
    void downloadProgressed(double fraction);
    void downloadFinished(std::optional<quarnkit::UpdateError> error, const quarnkit::UpdateFeed::ChipBuild& build);
    void verified(const QString& staging, const std::variant<QString, quarnkit::UpdateError>& result);
    void installPrepared();
    void documentsClosed(bool allClosed, const std::vector<QUrl>& documents);
    void quitDidNotHappen();
    // Throws away a download, a prepared copy and the staging folder.
    void discardDownload();
    void fail(quarnkit::UpdateError error);
    void setState(UpdateState state);
    void setNote(std::optional<QString> note);
    // Whatever was offered, or idle.
    UpdateState offerOrIdle() const;
    void readTeam();

    platform::UserDefaults& defaults_;
    UpdateEnvironment environment_;
    UpdateHost host_;

    UpdateState state_;
    std::optional<QDateTime> lastCheck_;
    std::optional<quarnkit::UpdateFeed> offered_;
    std::optional<QString> note_;
    UpdateTrigger checkTrigger_ = UpdateTrigger::automatic;
    bool failedDuringCheck_ = false;

    QNetworkAccessManager network_; // the feed session, kept for the run
    std::unique_ptr<FeedFetch> checkTask_;
    std::unique_ptr<ArchiveDownload> download_;
    std::unique_ptr<quarnkit::StagingFolder> staging_;
    std::optional<QString> prepared_;
    // The running check of a download: the new copy's folder, or why not.
    QFuture<std::variant<QString, quarnkit::UpdateError>> verification_;
    QTimer* timer_ = nullptr;
    std::optional<std::optional<QString>> team_; // outer: read yet
    bool installWhenTeamKnown_ = false;
    // The installer started last, stopped when the quit does not happen.
    struct HandedOver {
        pid_t installer = 0;
        QString staging;
    };
    std::optional<HandedOver> handedOver_;
    QTimer quitWatch_;
};

} // namespace quarn
