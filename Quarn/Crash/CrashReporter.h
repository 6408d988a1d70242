#pragma once
// The application-wide crash reporter. A few seconds after launch it looks
// for the reports the crash writer left about earlier runs, lets the ledger
// and the user's mode decide which to send at once, which to forget and
// which to ask about, shows the prompt for the last group, and uploads the
// chosen reports one after another, writing every step to the ledger at once
// (so that a quit in the middle of an upload leaves the report pending, to be
// tried once more at the next launch). It never shows an error, and does
// nothing at all in a development build (one whose seal does not hold) or
// one that names no https endpoint. Used on the UI thread; the scan, the
// seal check and the building of each upload body run on worker threads.
#include "QuarnKit/Crash/CrashReportFiles.h"
#include "QuarnKit/Crash/CrashReportPolicy.h"
#include "QuarnKit/Crash/CrashUpload.h"

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <vector>

namespace platform {
class UserDefaults;
}

namespace quarn {

class CrashReportWindow;
class CrashUploader;

// What this copy reports, where from and where to.
struct CrashReportSetup {
    bool signedBuild = false;
    std::vector<QUrl> endpoints;
    QString bundleID;
    QString processName;
    QStringList folders; // where the crash writer leaves its reports
    QString displayName; // in the prompt's texts
    QString userAgent;

    bool enabled() const { return signedBuild && !endpoints.empty() && !bundleID.isEmpty(); }
    // The running copy's, from its Info.json, its seal and the crash writer's
    // identity. Reads the disk and checks the seal: call it off the UI thread.
    static CrashReportSetup running();
};

class CrashReporter : public QObject {
    Q_OBJECT
public:
    struct Timing {
        int launchDelayMs;    // from start() to the scan
        int requestTimeoutMs; // an upload request without progress
    };
    static Timing standardTiming();

    // Over the standard user defaults and the running copy's setup; never released.
    static CrashReporter& shared();

    // `setup` is called once, on a worker thread, when the scan runs.
    CrashReporter(platform::UserDefaults& defaults, std::function<CrashReportSetup()> setup,
                  Timing timing = standardTiming(), QObject* parent = nullptr);
    ~CrashReporter() override;

    // Schedules the scan launchDelayMs from now; later calls do nothing.
    void start();
    // The prompt's answers. Send stores "always" first when the check box is
    // ticked; Don't Send marks the waiting reports handled and leaves the mode alone.
    void send();
    void dontSend();

    // The reports the prompt is asking about.
    const std::vector<quarnkit::CrashReportFile>& waiting() const { return waiting_; }
    // The prompt's check box "Send automatically from now on".
    bool sendAutomatically() const { return sendAutomatically_; }
    void setSendAutomatically(bool on);
    // None until the reporter first asks.
    CrashReportWindow* prompt() const { return prompt_; }

signals:
    void sendAutomaticallyChanged(bool on);
    // One report's upload is over and its outcome is in the ledger.
    void uploadFinished(const QString& incidentID, quarnkit::CrashUploadOutcome outcome);

private:
    class UploadQueue;
    void scan();
    // The scan's result: plans, records, uploads and asks.
    void handleFound(const std::vector<quarnkit::CrashReportFile>& found);
    // Moves the reports that need no more work into "Retired", on a worker.
    void retireSettled(const quarnkit::CrashReportPlan& plan, const quarnkit::CrashReportLedger& ledger);
    // Starts working through `reports`, one after another, beside any other list.
    void upload(std::vector<quarnkit::CrashReportFile> reports);
    void showPrompt();
    void hidePrompt();

    platform::UserDefaults& defaults_;
    std::function<CrashReportSetup()> resolveSetup_;
    CrashReportSetup setup_;
    Timing timing_;
    bool started_ = false;
    std::vector<quarnkit::CrashReportFile> waiting_;
    bool sendAutomatically_ = false;
    CrashUploader* uploader_ = nullptr; // made on the first upload
    CrashReportWindow* prompt_ = nullptr;
};

} // namespace quarn
