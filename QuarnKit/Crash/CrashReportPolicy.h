#pragma once
// What happens to the crash reports found at launch: the user's mode (ask,
// always send, never), the fixed limits of crash reporting, and the ledger
// kept in the user defaults that remembers, across launches, which reports
// need no more work and which uploads have begun without a final outcome.
// The plan sorts one launch's reports into those to ask about, to send and
// to drop. Values and pure functions; the caller serialises reading,
// changing and saving the ledger.
#include "QuarnKit/Crash/CrashReportFiles.h"
#include "QuarnKit/Crash/CrashUpload.h"

#include <nlohmann/json.hpp>

#include <QDateTime>
#include <QString>

#include <array>
#include <map>
#include <optional>
#include <vector>

namespace platform {
class UserDefaults;
}

namespace quarnkit {

enum class CrashReportMode { ask, always, never };

inline constexpr std::array<CrashReportMode, 3> allCrashReportModes{CrashReportMode::ask, CrashReportMode::always,
                                                                    CrashReportMode::never};
// "ask", "always", "never".
const char* rawValue(CrashReportMode mode);
// Exactly one of the three raw values, letter case included; else none.
std::optional<CrashReportMode> crashReportMode(const std::string& raw);
// "Ask", "Always send", "Never".
QString title(CrashReportMode mode);

namespace CrashReportPreferences {
inline constexpr char modeKey[] = "ravlenCrashReports";        // the mode's raw value
inline constexpr char ledgerKey[] = "ravlenCrashReportLedger"; // the ledger as a JSON object
inline constexpr char endpointsKey[] = "RVCrashReportURLs";    // in Info.json
inline constexpr int launchDelayMs = 4000;                     // from the reporter's start to the scan
inline constexpr qint64 maxAge = 604800;    // seconds: the age limit of a report and of a pending mark
inline constexpr int perLaunch = 3;         // the most fresh reports acted on in one launch
inline constexpr int timeoutMs = 20000;     // one upload request
inline constexpr qint64 byteLimit = 262144; // what an upload body is fitted under

// The stored mode; anything but one of the raw values reads as ask.
CrashReportMode mode(const platform::UserDefaults& defaults);
} // namespace CrashReportPreferences

// One launch's decision: each found report in at most one list.
struct CrashReportPlan {
    std::vector<CrashReportFile> ask;
    std::vector<CrashReportFile> send;
    std::vector<CrashReportFile> drop;

    bool operator==(const CrashReportPlan&) const = default;
};

struct CrashReportLedger {
    // The latest report date ever handled, never later than the time it was
    // handled at: a high-water mark that pruning leaves alone.
    std::optional<QDateTime> newestHandled;
    // Reports that need no more work, each with its own crash time.
    std::map<QString, QDateTime> handled;
    // Reports whose upload began without a final outcome, each with the time
    // the first attempt began.
    std::map<QString, QDateTime> pending;

    bool operator==(const CrashReportLedger&) const = default;

    // Reports newest first (a stable sort), each by the first rule that applies:
    // pending: dropped when it or its pending mark is older than maxAge or the
    // mode is never, else sent again without asking; handled, or not later
    // than newestHandled: left out; at most maxAge old: fresh; older: left
    // out. The newest perLaunch fresh ones go by the mode (ask, send or drop),
    // the rest are dropped. The ledger is not changed.
    CrashReportPlan plan(const std::vector<CrashReportFile>& reports, CrashReportMode mode, const QDateTime& now) const;
    // Handled from now on; newestHandled rises to the report's date, or to
    // `now` when the report is dated later than that.
    void markHandled(const CrashReportFile& report, const QDateTime& now);
    // Marks the report pending from `now` unless it already is; true when it
    // was (this attempt is the retry).
    bool beginSending(const CrashReportFile& report, const QDateTime& now);
    // A first attempt that must be tried later stays pending; every other
    // outcome, and any outcome of a retry, marks the report handled.
    void record(CrashUploadOutcome outcome, const CrashReportFile& report, bool wasRetry, const QDateTime& now);
    // Forgets handled entries older than twice maxAge and pending entries
    // older than maxAge; entries dated in the future stay.
    void prune(const QDateTime& now);

    // {"handled": {id: date}, "pending": {id: date}, "newestHandled": date},
    // dates as seconds since 2001-01-01 UTC. Any damage reads as a new,
    // empty ledger, never a partial one; other keys are ignored.
    nlohmann::json toJson() const;
    static CrashReportLedger fromJson(const nlohmann::json& value);

    // The ledger under ledgerKey, and storing it there.
    static CrashReportLedger load(const platform::UserDefaults& defaults);
    void save(platform::UserDefaults& defaults) const;
};

} // namespace quarnkit
