#include "Quarn/Update/UpdateController.h"
#include "QuarnKit/Shell/DroppableWork.h"

#include "Platform/UserDefaults.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/Update/UpdateNetwork.h"
#include "Quarn/Update/UpdateTexts.h"
#include "QuarnKit/History/LibraryCalendar.h"
#include "QuarnKit/History/RecentFiles.h"
#include "QuarnKit/Update/UpdateStaging.h"

#include <QFutureWatcher>
#include <QtConcurrent>

#include <cmath>

namespace quarn {

using quarnkit::UpdateDecision;
using quarnkit::UpdateError;
using quarnkit::UpdateFeed;
namespace Preferences = quarnkit::UpdatePreferences;
using Kind = UpdateState::Kind;

UpdateController::UpdateController(platform::UserDefaults& defaults, UpdateEnvironment environment, UpdateHost host,
                                   QObject* parent)
    : QObject(parent), defaults_(defaults), environment_(std::move(environment)), host_(std::move(host))
{
    if (const auto stored = defaults_.doubleValue(Preferences::lastCheckKey))
        lastCheck_ = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(*stored * 1000)), Qt::UTC);
    quitWatch_.setSingleShot(true);
    connect(&quitWatch_, &QTimer::timeout, this, &UpdateController::quitDidNotHappen);
    readTeam();
}

UpdateController::~UpdateController()
{
    checkTask_.reset();
    discardDownload();
}

UpdateController& UpdateController::shared()
{
    static UpdateController* controller =
        new UpdateController(platform::UserDefaults::standard(), UpdateEnvironment::running(),
                             UpdateHost::standard(DocumentController::shared()));
    return *controller;
}

void UpdateController::readTeam()
{
    if (!environment_.readTeam) {
        team_ = std::optional<QString>();
        return;
    }
    // Reading the seal hashes every file of the install folder.
    auto* watcher = new QFutureWatcher<std::optional<QString>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        team_ = watcher->result();
        watcher->deleteLater();
        emit changed();
        if (std::exchange(installWhenTeamKnown_, false)) install();
    });
    watcher->setFuture(QtConcurrent::run(quarnkit::DroppableWork::shared().pool(), environment_.readTeam));
}

// ---------------------------------------------------------------- schedule

void UpdateController::start()
{
    if (timer_) return;
    // Stale folders left by an earlier launch; one left now goes next time.
    quarnkit::DroppableWork::shared().start([place = environment_.workFolder, id = environment_.source.identifier] {
        quarnkit::StagingFolder::removeStale(place, id);
    });
    // Every launch checks once, however recent the last check.
    QTimer::singleShot(environment_.launchDelay, this, [this] {
        if (Preferences::automatic(defaults_)) check(UpdateTrigger::automatic);
    });
    timer_ = new QTimer(this);
    timer_->setTimerType(Qt::VeryCoarseTimer);
    timer_->setInterval(environment_.timerInterval);
    connect(timer_, &QTimer::timeout, this, [this] { checkIfDue(false); });
    timer_->start();
}

void UpdateController::checkIfDue(bool force)
{
    if (!Preferences::automatic(defaults_)) return;
    if (force || Preferences::isDue(lastCheck_, QDateTime::currentDateTimeUtc())) check(UpdateTrigger::automatic);
}

// ---------------------------------------------------------------- check

QString UpdateController::userAgent() const
{
    return UpdateFeed::userAgent(environment_.displayName, environment_.current.version, environment_.system);
}

void UpdateController::check(UpdateTrigger trigger)
{
    // The window shows what happens next, or why nothing does.
    if (trigger == UpdateTrigger::menu && host_.showWindow) host_.showWindow(true);
    switch (state_.kind) {
    case Kind::downloading:
    case Kind::verifying:
    case Kind::readyToInstall:
    case Kind::installing: return;
    case Kind::checking:
        // The running check now counts as the user's: its failure will show.
        if (trigger != UpdateTrigger::automatic) checkTrigger_ = trigger;
        return;
    default: break;
    }
    const UpdateState previous = state_;
    checkTrigger_ = trigger;
    failedDuringCheck_ = false;
    note_.reset();
    setState(UpdateState::of(Kind::checking));

    const quarnkit::UpdateSource& source = environment_.source;
    // Without a feed or a key no request is sent.
    if (source.feedURLs.empty() || source.publicKey.isEmpty()) {
        checkFailed(UpdateError::damagedFeed, previous);
        return;
    }
    checkTask_ =
        std::make_unique<FeedFetch>(network_, source.feedURLs, source.hosts(), userAgent(), environment_.feedTimeout,
                                    environment_.feedTimeLimit, [this, previous](FeedFetch::Result result) {
                                        // Ended from inside the fetch: it goes once it has returned.
                                        checkTask_.release()->deleteLater();
                                        if (const auto* feed = std::get_if<UpdateFeed>(&result)) checkFinished(*feed);
                                        else checkFailed(std::get<UpdateError>(result), previous);
                                    });
    checkTask_->start();
}

void UpdateController::checkFinished(const UpdateFeed& feed)
{
    const UpdateTrigger trigger = checkTrigger_;
    lastCheck_ = QDateTime::currentDateTimeUtc();
    defaults_.set(Preferences::lastCheckKey, double(lastCheck_->toMSecsSinceEpoch()) / 1000.0);
    const auto skipped = defaults_.stringValue(Preferences::skippedVersionKey);
    const UpdateDecision decision = quarnkit::decideUpdate(
        environment_.current, feed, environment_.chip,
        skipped ? std::optional(QString::fromStdString(*skipped)) : std::nullopt, environment_.system);
    const bool automatic = trigger == UpdateTrigger::automatic;
    switch (decision) {
    case UpdateDecision::upToDate:
    case UpdateDecision::noBuildForThisComputer:
        offered_.reset();
        setState(UpdateState::of(Kind::upToDate));
        break;
    case UpdateDecision::available: offer(feed, trigger); break;
    case UpdateDecision::skipped:
        // A skipped version is still offered when the user asks.
        if (automatic) setState(UpdateState::of(Kind::idle));
        else offer(feed, trigger);
        break;
    case UpdateDecision::requiresNewerSystem:
        if (automatic) setState(UpdateState::of(Kind::idle));
        else setState({Kind::needsNewerSystem, feed, 0, {}});
        break;
    }
}

void UpdateController::checkFailed(UpdateError error, const UpdateState& previous)
{
    if (checkTrigger_ == UpdateTrigger::automatic) {
        // Silent: back to what was shown before.
        setState(previous.kind == Kind::checking ? UpdateState::of(Kind::idle) : previous);
        return;
    }
    failedDuringCheck_ = true;
    setState({Kind::failed, std::nullopt, 0, quarnkit::message(error, environment_.displayName)});
}

void UpdateController::offer(const UpdateFeed& feed, UpdateTrigger trigger)
{
    // A download or prepared copy of another release goes; the same release keeps it.
    if (!offered_ || *offered_ != feed) discardDownload();
    offered_ = feed;
    setState({Kind::available, feed, 0, {}});
    if (!host_.showWindow) return;
    if (trigger == UpdateTrigger::automatic) host_.showWindow(false);
    else if (trigger == UpdateTrigger::settings) host_.showWindow(true);
}

void UpdateController::cancelCheck()
{
    if (state_.kind != Kind::checking) return;
    checkTask_.reset();
    setState(offerOrIdle());
}

// ---------------------------------------------------------------- choices

void UpdateController::later()
{
    switch (state_.kind) {
    case Kind::checking: cancelCheck(); break;
    case Kind::downloading:
    case Kind::verifying:
    case Kind::failed:
        discardDownload();
        setState(offerOrIdle());
        break;
    default: break;
    }
    setNote(std::nullopt);
}

void UpdateController::skip()
{
    if (offered_) defaults_.set(Preferences::skippedVersionKey, offered_->version.toStdString());
    discardDownload();
    offered_.reset();
    note_.reset();
    setState(UpdateState::of(Kind::idle));
    if (host_.hideWindow) host_.hideWindow();
}

void UpdateController::retry()
{
    if (offered_ && !failedDuringCheck_) install();
    else check(UpdateTrigger::menu);
}

UpdateState UpdateController::offerOrIdle() const
{
    return offered_ ? UpdateState{Kind::available, offered_, 0, {}} : UpdateState::of(Kind::idle);
}

void UpdateController::setState(UpdateState state)
{
    state_ = std::move(state);
    emit changed();
}

void UpdateController::setNote(std::optional<QString> note)
{
    if (note_ == note) return;
    note_ = std::move(note);
    emit changed();
}

void UpdateController::fail(UpdateError error)
{
    setState({Kind::failed, std::nullopt, 0, quarnkit::message(error, environment_.displayName)});
}

// ---------------------------------------------------------------- texts

std::optional<QString> UpdateController::lastCheckText(const QDateTime& now, const QLocale& locale) const
{
    if (!lastCheck_) return std::nullopt;
    const quarnkit::LibraryCalendar calendar = quarnkit::LibraryCalendar::of(locale, now.timeZone());
    QString day = quarnkit::RelativeDay::label(*lastCheck_, now, calendar, locale);
    if (day == QLatin1String("Today") || day == QLatin1String("Yesterday")) day = day.toLower();
    const QTime time = lastCheck_->toTimeZone(calendar.timeZone).time();
    return QStringLiteral("Last checked %1 at %2.").arg(day, locale.toString(time, QLocale::ShortFormat));
}

QString UpdateController::statusText(const QDateTime& now, const QLocale& locale) const
{
    const QString& app = environment_.displayName;
    const QString offeredVersion = offered_ ? offered_->version : QString();
    switch (state_.kind) {
    case Kind::idle: return lastCheckText(now, locale).value_or(QStringLiteral("Not checked yet."));
    case Kind::checking: return QStringLiteral("Checking for updates…");
    case Kind::upToDate: {
        const auto last = lastCheckText(now, locale);
        return QStringLiteral("You're up to date.") + (last ? u' ' + *last : QString());
    }
    case Kind::available:
        return app + u' ' + (state_.feed ? state_.feed->version : QString()) + QStringLiteral(" is available.");
    case Kind::needsNewerSystem: return state_.feed ? updatetexts::needsNewerSystem(app, *state_.feed) : QString();
    case Kind::downloading:
        return QStringLiteral("Downloading %1 %2… %3%")
            .arg(app, offeredVersion, QString::number(std::llround(state_.fraction * 100)));
    case Kind::verifying: return QStringLiteral("Checking the download…");
    case Kind::readyToInstall: return app + u' ' + offeredVersion + QStringLiteral(" is ready to install.");
    case Kind::installing: return QStringLiteral("Installing…");
    case Kind::failed: return state_.message;
    }
    return {};
}

std::optional<UpdateFeed::ChipBuild> UpdateController::chipBuild() const
{
    return offered_ ? offered_->downloads(environment_.chip) : std::nullopt;
}

std::optional<quarnkit::InstallBlocker> UpdateController::blocker() const
{
    if (!team_) return std::nullopt;
    return quarnkit::UpdateInstaller::blocker(environment_.installFolder, *team_, environment_.userID);
}

} // namespace quarn
