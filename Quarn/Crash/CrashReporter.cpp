#include "Quarn/Crash/CrashReporter.h"
#include "QuarnKit/Shell/DroppableWork.h"

#include "Platform/CrashHandler.h"
#include "Platform/UserDefaults.h"
#include "Quarn/Crash/CrashReportWindow.h"
#include "Quarn/Crash/CrashUploader.h"
#include "QuarnKit/Crash/CrashIdentity.h"
#include "QuarnKit/Crash/CrashRedactor.h"
#include "QuarnKit/Crash/CrashReportPolicy.h"
#include "QuarnKit/Crash/CrashSubmission.h"
#include "QuarnKit/Shell/VersionTexts.h"
#include "QuarnKit/Update/CodeSignature.h"
#include "QuarnKit/Update/UpdateFeed.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent>

#include <deque>
#include <optional>
#include <set>

namespace quarn {

using quarnkit::CrashReportFile;
using quarnkit::CrashReportLedger;
using quarnkit::CrashUploadOutcome;
namespace CrashReportPreferences = quarnkit::CrashReportPreferences;

namespace {

QDateTime now() { return QDateTime::currentDateTimeUtc(); }

// The redacted, size-fitted payload of a report; none when the report cannot
// be read, redacted or encoded. Runs on a worker thread.
std::optional<QByteArray> uploadBody(const QString& path)
{
    try {
        const quarnkit::IPSReport report = quarnkit::IPSReport::read(path);
        const quarnkit::CrashSubmission submission(report, quarnkit::CrashRedactor::forCurrentUser());
        return submission.encoded(CrashReportPreferences::byteLimit);
    } catch (...) {
        return std::nullopt;
    }
}

struct ScanResult {
    CrashReportSetup setup;
    std::vector<CrashReportFile> found;
};

} // namespace

CrashReportSetup CrashReportSetup::running()
{
    CrashReportSetup setup;
    const QString info = quarnkit::installInfoPath();
    setup.endpoints = quarnkit::CrashUpload::endpoints(quarnkit::readInstallInfo(info));
    // The seal is checked only when there is somewhere to send to: it reads every installed file.
    setup.signedBuild = !setup.endpoints.empty() && quarnkit::CodeSignature::runningTeamID().has_value();
    const platform::CrashIdentity identity = quarnkit::crashIdentity();
    setup.bundleID = QString::fromStdString(identity.bundleID);
    setup.processName = QString::fromStdString(identity.processName);
    setup.folders =
        quarnkit::CrashReportScanner::standardFolders(QString::fromStdString(platform::CrashHandler::reportsFolder()));
    setup.displayName = quarnkit::appDisplayName(info);
    setup.userAgent = quarnkit::UpdateFeed::userAgent(setup.displayName, quarnkit::appShortVersion(info),
                                                      quarnkit::SystemVersion::running());
    return setup;
}

// One list of reports, uploaded one after another: the body is built on a
// worker thread, the attempt is written to the ledger before the first
// request, and the outcome as soon as it is known.
class CrashReporter::UploadQueue : public QObject {
public:
    UploadQueue(CrashReporter& reporter, std::vector<CrashReportFile> reports)
        : QObject(&reporter), reporter_(reporter), reports_(reports.begin(), reports.end())
    {}

    void next()
    {
        if (reports_.empty()) {
            deleteLater();
            return;
        }
        auto* watcher = new QFutureWatcher<std::optional<QByteArray>>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
            watcher->deleteLater();
            bodyReady(watcher->result());
        });
        watcher->setFuture(
            QtConcurrent::run(quarnkit::DroppableWork::shared().pool(), uploadBody, reports_.front().path));
    }

private:
    void bodyReady(const std::optional<QByteArray>& body)
    {
        const CrashReportFile report = reports_.front();
        CrashReportLedger ledger = CrashReportLedger::load(reporter_.defaults_);
        const bool wasRetry = ledger.beginSending(report, now());
        ledger.save(reporter_.defaults_);
        if (!body) {
            finished(report, wasRetry, CrashUploadOutcome::rejected);
            return;
        }
        reporter_.uploader_->send(
            *body, this, [this, report, wasRetry](CrashUploadOutcome outcome) { finished(report, wasRetry, outcome); });
    }

    void finished(const CrashReportFile& report, bool wasRetry, CrashUploadOutcome outcome)
    {
        CrashReportLedger ledger = CrashReportLedger::load(reporter_.defaults_);
        ledger.record(outcome, report, wasRetry, now());
        ledger.save(reporter_.defaults_);
        reports_.pop_front();
        emit reporter_.uploadFinished(report.incidentID, outcome);
        next();
    }

    CrashReporter& reporter_;
    std::deque<CrashReportFile> reports_;
};

CrashReporter::Timing CrashReporter::standardTiming()
{
    return {CrashReportPreferences::launchDelayMs, CrashReportPreferences::timeoutMs};
}

CrashReporter& CrashReporter::shared()
{
    static CrashReporter* reporter = new CrashReporter(platform::UserDefaults::standard(), &CrashReportSetup::running);
    return *reporter;
}

CrashReporter::CrashReporter(platform::UserDefaults& defaults, std::function<CrashReportSetup()> setup, Timing timing,
                             QObject* parent)
    : QObject(parent), defaults_(defaults), resolveSetup_(std::move(setup)), timing_(timing)
{}

CrashReporter::~CrashReporter() { delete prompt_; }

void CrashReporter::start()
{
    if (started_) return;
    started_ = true;
    QTimer::singleShot(timing_.launchDelayMs, this, &CrashReporter::scan);
}

void CrashReporter::scan()
{
    auto* watcher = new QFutureWatcher<ScanResult>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        ScanResult result = watcher->result();
        setup_ = std::move(result.setup);
        if (setup_.enabled()) handleFound(result.found);
    });
    watcher->setFuture(QtConcurrent::run(quarnkit::DroppableWork::shared().pool(), [resolve = resolveSetup_] {
        ScanResult result{resolve ? resolve() : CrashReportSetup{}, {}};
        const CrashReportSetup& s = result.setup;
        if (s.enabled()) result.found = quarnkit::CrashReportScanner::find(s.folders, s.bundleID, s.processName);
        else // nothing will ever send them: they go where handled reports go
            quarnkit::CrashReportScanner::retire(s.folders, s.bundleID, s.processName,
                                                 [](const CrashReportFile&) { return true; });
        return result;
    }));
}

void CrashReporter::handleFound(const std::vector<CrashReportFile>& found)
{
    const QDateTime at = now();
    CrashReportLedger ledger = CrashReportLedger::load(defaults_);
    ledger.prune(at);
    const quarnkit::CrashReportPlan plan = ledger.plan(found, CrashReportPreferences::mode(defaults_), at);
    for (const CrashReportFile& report : plan.drop) ledger.markHandled(report, at);
    ledger.save(defaults_);
    retireSettled(plan, ledger);
    upload(plan.send);
    if (plan.ask.empty()) return;
    waiting_ = plan.ask;
    setSendAutomatically(false);
    showPrompt();
}

void CrashReporter::retireSettled(const quarnkit::CrashReportPlan& plan, const CrashReportLedger& ledger)
{
    // Reports this launch neither asks about nor sends, and that no upload
    // waits for, need no more work: the reports folder keeps only the rest.
    std::set<QString> open;
    for (const auto* list : {&plan.ask, &plan.send})
        for (const CrashReportFile& report : *list) open.insert(report.incidentID);
    for (const auto& pending : ledger.pending) open.insert(pending.first);
    (void)QtConcurrent::run(quarnkit::DroppableWork::shared().pool(), [setup = setup_, open = std::move(open)] {
        quarnkit::CrashReportScanner::retire(setup.folders, setup.bundleID, setup.processName,
                                             [&open](const CrashReportFile& r) { return !open.count(r.incidentID); });
    });
}

void CrashReporter::send()
{
    if (sendAutomatically_)
        defaults_.set(CrashReportPreferences::modeKey, quarnkit::rawValue(quarnkit::CrashReportMode::always));
    std::vector<CrashReportFile> reports = std::exchange(waiting_, {});
    hidePrompt();
    upload(std::move(reports));
}

void CrashReporter::dontSend()
{
    if (waiting_.empty()) return;
    const QDateTime at = now();
    CrashReportLedger ledger = CrashReportLedger::load(defaults_);
    for (const CrashReportFile& report : waiting_) ledger.markHandled(report, at);
    ledger.save(defaults_);
    waiting_.clear();
    hidePrompt();
}

void CrashReporter::setSendAutomatically(bool on)
{
    if (on == sendAutomatically_) return;
    sendAutomatically_ = on;
    emit sendAutomaticallyChanged(on);
}

void CrashReporter::upload(std::vector<CrashReportFile> reports)
{
    if (reports.empty()) return;
    if (!uploader_) uploader_ = new CrashUploader(setup_.endpoints, setup_.userAgent, timing_.requestTimeoutMs, this);
    (new UploadQueue(*this, std::move(reports)))->next();
}

void CrashReporter::showPrompt()
{
    if (!prompt_) prompt_ = new CrashReportWindow(*this, setup_.displayName);
    prompt_->present();
}

void CrashReporter::hidePrompt()
{
    if (prompt_) prompt_->hide();
}

} // namespace quarn
