// The second half of the updater: from an offered release to the installer
// script. Download, verification, closing the documents and the hand-over.
#include "Quarn/Update/UpdateController.h"

#include "Quarn/Update/UpdateNetwork.h"
#include "QuarnKit/Update/CodeSignature.h"
#include "QuarnKit/Update/UpdateStaging.h"

#include <QDir>
#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent>

#include <unistd.h>

namespace quarn {

using quarnkit::StagingFolder;
using quarnkit::UpdateError;
using quarnkit::UpdateFailure;
using quarnkit::UpdateFeed;
using Kind = UpdateState::Kind;

namespace {

using Verification = std::variant<QString, UpdateError>;

// Removed off the UI thread, once nothing writes into it any more.
void removeStaging(const QString& path, QFuture<Verification> writer = {})
{
    QThreadPool::globalInstance()->start([path, writer]() mutable {
        writer.waitForFinished();
        StagingFolder::remove(path);
    });
}

} // namespace

void UpdateController::install()
{
    const auto build = chipBuild();
    if (!build) return;
    // Whether this copy may replace itself rests on its seal, still being read.
    if (!team_) {
        installWhenTeamKnown_ = true;
        return;
    }
    if (blocker()) {
        // The release's page, where the user downloads it by hand.
        if (host_.openURL) host_.openURL(build->dmg.url);
        return;
    }
    if (state_.kind == Kind::readyToInstall && prepared_) {
        installPrepared();
        return;
    }
    download(*build);
}

void UpdateController::download(const UpdateFeed::ChipBuild& build)
{
    discardDownload();
    try {
        staging_ = StagingFolder::make(environment_.workFolder, environment_.source.identifier);
    } catch (const UpdateFailure& failure) {
        discardDownload();
        fail(failure.error);
        return;
    }
    note_.reset();
    failedDuringCheck_ = false;
    setState({Kind::downloading, std::nullopt, 0, {}});

    download_ = std::make_unique<ArchiveDownload>(
        updateRequest(build.update.url, userAgent(), environment_.downloadTimeout), environment_.source.hosts(),
        environment_.downloadTimeLimit, staging_->archive(), build.update.size);
    download_->progress = [this](double fraction) { downloadProgressed(fraction); };
    download_->completion = [this, build](std::optional<UpdateError> error) { downloadFinished(error, build); };
    download_->start();
}

void UpdateController::downloadProgressed(double fraction)
{
    if (state_.kind != Kind::downloading) return;
    // Steps under half a percent are not worth a redraw; the bar never goes back.
    if (fraction >= 1.0 ? state_.fraction < 1.0 : fraction - state_.fraction >= 0.005)
        setState({Kind::downloading, std::nullopt, std::min(fraction, 1.0), {}});
}

void UpdateController::downloadFinished(std::optional<UpdateError> error, const UpdateFeed::ChipBuild& build)
{
    // Ended from inside the download: it goes once it has returned.
    download_.release()->deleteLater();
    if (error) {
        discardDownload();
        fail(*error);
        return;
    }
    const std::optional<QString> team = runningTeamID();
    if (!team || !staging_) {
        discardDownload();
        fail(UpdateError::untrustedCode);
        return;
    }
    setState(UpdateState::of(Kind::verifying));

    quarnkit::DownloadCheck check;
    check.archive = staging_->archive();
    check.unzipped = staging_->unzipped();
    check.expected = build.update;
    check.publicKey = environment_.source.publicKey;
    check.identifier = environment_.source.identifier;
    check.current = environment_.current;
    check.offered = offered_ ? offered_->release() : quarnkit::AppRelease{};
    check.chip = environment_.chip;
    check.team = team;
    const QString staging = staging_->path();
    auto* watcher = new QFutureWatcher<Verification>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, staging] {
        watcher->deleteLater();
        verified(staging, watcher->result());
    });
    verification_ = QtConcurrent::run([check]() -> Verification {
        try {
            return quarnkit::UpdateVerification::verifyDownload(check);
        } catch (const UpdateFailure& failure) {
            return failure.error;
        }
    });
    watcher->setFuture(verification_);
}

void UpdateController::verified(const QString& staging, const Verification& result)
{
    // Later, a skip or a newer download meanwhile: the result is not wanted.
    if (state_.kind != Kind::verifying || !staging_ || staging_->path() != staging) return;
    verification_ = {};
    if (const auto* error = std::get_if<UpdateError>(&result)) {
        discardDownload();
        if (*error == UpdateError::damagedFeed) {
            // The feed named another release than its archive holds: the
            // offer goes, and Try Again reads the feed anew.
            offered_.reset();
            failedDuringCheck_ = true;
        }
        fail(*error);
        return;
    }
    prepared_ = std::get<QString>(result);
    setState(UpdateState::of(Kind::readyToInstall));
    installPrepared();
}

void UpdateController::installPrepared()
{
    if (!prepared_ || !staging_) return;
    setNote(std::nullopt);
    const std::vector<QUrl> documents = host_.documents ? host_.documents() : std::vector<QUrl>();
    const bool closed = host_.closeAllDocuments ? host_.closeAllDocuments() : true;
    documentsClosed(closed, documents);
}

void UpdateController::documentsClosed(bool allClosed, const std::vector<QUrl>& documents)
{
    // The questions about unsaved changes ran the event loop: the user may
    // have chosen Later or Skip in the meantime.
    if (state_.kind != Kind::readyToInstall || !prepared_ || !staging_) return;
    if (!allClosed) {
        setNote(QString::fromUtf8(waitingNote));
        return;
    }
    const std::optional<QString> team = runningTeamID();
    const auto requirement =
        team ? quarnkit::CodeSignature::requirement(environment_.source.identifier, *team) : std::nullopt;
    if (!requirement) {
        discardDownload();
        fail(UpdateError::untrustedCode);
        return;
    }
    setState(UpdateState::of(Kind::installing));

    const QDir updates(environment_.updatesFolder);
    quarnkit::UpdateInstallPlan plan;
    plan.pid = ::getpid();
    plan.newApp = *prepared_;
    plan.target = environment_.installFolder;
    plan.staging = staging_->path();
    plan.log = updates.filePath(QStringLiteral("update.log"));
    plan.relaunch = quarnkit::UpdateInstallPlan::reopen(documents);
    plan.requirement = requirement;
    plan.timeout = 300;
    plan.verifier = QDir(environment_.installFolder).filePath(QStringLiteral("bin/ravlen-seal"));
    plan.publicKey = environment_.source.publicKey;
    pid_t installer = 0;
    try {
        installer = host_.startInstaller(plan, updates.filePath(QStringLiteral("install.sh")));
    } catch (const std::exception&) {
        discardDownload();
        fail(UpdateError::installerFailed);
        return;
    }
    // The folder is the script's now: it removes it when it is done.
    handedOver_ = HandedOver{installer, staging_->path()};
    staging_->handOver();
    staging_.reset();
    prepared_.reset();
    quitWatch_.start(environment_.quitTimeout);
    host_.quit();
}

void UpdateController::quitDidNotHappen()
{
    if (state_.kind != Kind::installing || !handedOver_) return;
    // Something kept the application open: the script must not swap the
    // copy under it later, so it stops, and the user can try again.
    if (host_.stopInstaller) host_.stopInstaller(handedOver_->installer);
    removeStaging(handedOver_->staging);
    handedOver_.reset();
    fail(UpdateError::installerFailed);
}

void UpdateController::discardDownload()
{
    download_.reset(); // stops it and waits for its thread
    prepared_.reset();
    if (staging_) {
        removeStaging(staging_->path(), verification_);
        staging_.reset();
    }
    verification_ = {};
}

} // namespace quarn
