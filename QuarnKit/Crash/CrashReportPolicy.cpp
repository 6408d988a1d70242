#include "QuarnKit/Crash/CrashReportPolicy.h"

#include "Platform/UserDefaults.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <algorithm>

namespace quarnkit {

using nlohmann::json;

namespace {

// The age of a date is `now` minus it (negative in the future), counted in
// milliseconds: whole seconds would call a report 604800.9 s old fresh.
bool olderThan(const QDateTime& date, const QDateTime& now, qint64 seconds)
{
    return date.msecsTo(now) > seconds * 1000;
}

struct DamagedLedger {};

QDateTime dateOf(const json& value)
{
    if (!value.is_number()) throw DamagedLedger{};
    const double seconds = value.get<double>();
    const QDateTime date = fromReferenceSeconds(seconds);
    if (!date.isValid()) throw DamagedLedger{};
    return date;
}

std::map<QString, QDateTime> datesOf(const json& value, const char* key)
{
    const auto it = value.find(key);
    if (it == value.end() || !it->is_object()) throw DamagedLedger{};
    std::map<QString, QDateTime> dates;
    for (const auto& [id, date] : it->items()) dates[QString::fromStdString(id)] = dateOf(date);
    return dates;
}

json datesJson(const std::map<QString, QDateTime>& dates)
{
    json object = json::object();
    for (const auto& [id, date] : dates) object[id.toStdString()] = referenceSeconds(date);
    return object;
}

} // namespace

const char* rawValue(CrashReportMode mode)
{
    switch (mode) {
    case CrashReportMode::ask: return "ask";
    case CrashReportMode::always: return "always";
    case CrashReportMode::never: return "never";
    }
    return "ask";
}

std::optional<CrashReportMode> crashReportMode(const std::string& raw)
{
    for (CrashReportMode mode : allCrashReportModes)
        if (raw == rawValue(mode)) return mode;
    return std::nullopt;
}

QString title(CrashReportMode mode)
{
    switch (mode) {
    case CrashReportMode::ask: return QStringLiteral("Ask");
    case CrashReportMode::always: return QStringLiteral("Always send");
    case CrashReportMode::never: return QStringLiteral("Never");
    }
    return {};
}

CrashReportMode CrashReportPreferences::mode(const platform::UserDefaults& defaults)
{
    const std::optional<std::string> stored = defaults.stringValue(modeKey);
    return stored ? crashReportMode(*stored).value_or(CrashReportMode::ask) : CrashReportMode::ask;
}

CrashReportPlan CrashReportLedger::plan(const std::vector<CrashReportFile>& reports, CrashReportMode mode,
                                        const QDateTime& now) const
{
    using namespace CrashReportPreferences;
    std::vector<CrashReportFile> sorted = reports;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const CrashReportFile& a, const CrashReportFile& b) { return a.date > b.date; });
    CrashReportPlan plan;
    std::vector<CrashReportFile> fresh;
    for (const CrashReportFile& report : sorted) {
        if (const auto it = pending.find(report.incidentID); it != pending.end()) {
            const bool stale = olderThan(report.date, now, maxAge) || olderThan(it->second, now, maxAge);
            (stale || mode == CrashReportMode::never ? plan.drop : plan.send).push_back(report);
        } else if (handled.count(report.incidentID) || (newestHandled && report.date <= *newestHandled)) {
            continue;
        } else if (!olderThan(report.date, now, maxAge)) {
            fresh.push_back(report);
        }
    }
    const size_t chosen = std::min(fresh.size(), size_t(perLaunch));
    std::vector<CrashReportFile>& target = mode == CrashReportMode::ask      ? plan.ask
                                           : mode == CrashReportMode::always ? plan.send
                                                                             : plan.drop;
    // The fresh reports beyond the newest few come before the chosen ones in `drop`.
    plan.drop.insert(plan.drop.end(), fresh.begin() + qsizetype(chosen), fresh.end());
    target.insert(target.end(), fresh.begin(), fresh.begin() + qsizetype(chosen));
    return plan;
}

void CrashReportLedger::markHandled(const CrashReportFile& report, const QDateTime& now)
{
    handled[report.incidentID] = report.date;
    pending.erase(report.incidentID);
    // A report dated in the future (a clock set wrong at the crash) must not
    // pass over every report of the days until then.
    const QDateTime mark = std::min(report.date, now);
    if (!newestHandled || mark > *newestHandled) newestHandled = mark;
}

bool CrashReportLedger::beginSending(const CrashReportFile& report, const QDateTime& now)
{
    return !pending.try_emplace(report.incidentID, now).second;
}

void CrashReportLedger::record(CrashUploadOutcome outcome, const CrashReportFile& report, bool wasRetry,
                               const QDateTime& now)
{
    if (outcome == CrashUploadOutcome::retryLater && !wasRetry) pending.try_emplace(report.incidentID, now);
    else markHandled(report, now);
}

void CrashReportLedger::prune(const QDateTime& now)
{
    using CrashReportPreferences::maxAge;
    std::erase_if(handled, [&](const auto& entry) { return olderThan(entry.second, now, 2 * maxAge); });
    std::erase_if(pending, [&](const auto& entry) { return olderThan(entry.second, now, maxAge); });
}

json CrashReportLedger::toJson() const
{
    json value{{"handled", datesJson(handled)}, {"pending", datesJson(pending)}};
    if (newestHandled) value["newestHandled"] = referenceSeconds(*newestHandled);
    return value;
}

CrashReportLedger CrashReportLedger::fromJson(const json& value)
{
    if (!value.is_object()) return {};
    try {
        CrashReportLedger ledger;
        ledger.handled = datesOf(value, "handled");
        ledger.pending = datesOf(value, "pending");
        const auto newest = value.find("newestHandled");
        if (newest != value.end() && !newest->is_null()) ledger.newestHandled = dateOf(*newest);
        return ledger;
    } catch (const DamagedLedger&) {
        return {};
    }
}

CrashReportLedger CrashReportLedger::load(const platform::UserDefaults& defaults)
{
    const std::optional<json> stored = defaults.value(CrashReportPreferences::ledgerKey);
    return stored ? fromJson(*stored) : CrashReportLedger{};
}

void CrashReportLedger::save(platform::UserDefaults& defaults) const
{
    defaults.set(CrashReportPreferences::ledgerKey, toJson());
}

} // namespace quarnkit
