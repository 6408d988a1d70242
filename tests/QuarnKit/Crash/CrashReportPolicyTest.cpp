// The rules that decide, at each launch, which crash reports are asked
// about, sent or dropped, and the ledger that carries them across launches.
// Every case runs at one fixed time.
#include "Platform/UserDefaults.h"
#include "QuarnKit/Crash/CrashReportPolicy.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <tuple>

using namespace quarnkit;
using nlohmann::json;

namespace {

const QDateTime now = QDateTime::fromString(QStringLiteral("2024-03-10T12:00:00Z"), Qt::ISODate);
constexpr qint64 day = 86400;

QDateTime ago(qint64 seconds) { return now.addSecs(-seconds); }

CrashReportFile report(const char* id, const QDateTime& date)
{
    return {QStringLiteral("/reports/ravlen-%1.ips").arg(QLatin1String(id)), QString::fromLatin1(id), date};
}

QStringList idsOf(const std::vector<CrashReportFile>& reports)
{
    QStringList ids;
    for (const CrashReportFile& r : reports) ids << r.incidentID;
    return ids;
}

} // namespace

TEST(CrashReportPlan, SortsEachReportByTheFirstRuleThatApplies)
{
    CrashReportLedger seen;
    seen.newestHandled = ago(3 * day);
    seen.handled[QStringLiteral("H")] = ago(1 * day); // later than the mark, still handled
    seen.pending[QStringLiteral("P2")] = ago(1 * day);
    seen.pending[QStringLiteral("P8")] = ago(1 * day);
    seen.pending[QStringLiteral("PM")] = ago(8 * day); // the pending mark itself is stale

    struct Case {
        const char* name;
        CrashReportLedger ledger;
        std::vector<std::pair<const char*, qint64>> reports; // id, seconds ago
        CrashReportMode mode;
        QStringList ask, send, drop;
    };
    const std::vector<Case> cases{
        {"nothing found", {}, {}, CrashReportMode::ask, {}, {}, {}},
        {"five fresh: the three newest asked, the rest dropped",
         {},
         {{"A", 5 * day}, {"B", day}, {"C", 4 * day}, {"D", 2 * day}, {"E", 3 * day}},
         CrashReportMode::ask,
         {"B", "D", "E"},
         {},
         {"C", "A"}},
        {"exactly seven days old is fresh, a second more is not",
         {},
         {{"OLD", 7 * day + 1}, {"EDGE", 7 * day}},
         CrashReportMode::ask,
         {"EDGE"},
         {},
         {}},
        {"the high-water mark passes over its own date, not a second later",
         seen,
         {{"AT", 3 * day}, {"AFTER", 3 * day - 1}},
         CrashReportMode::ask,
         {"AFTER"},
         {},
         {}},
        {"handled reports are in no list", seen, {{"H", day}}, CrashReportMode::always, {}, {}, {}},
        {"pending: retried without asking unless stale",
         seen,
         {{"P8", 8 * day}, {"P2", 2 * day}, {"PM", 2 * day}, {"F", day}},
         CrashReportMode::ask,
         {"F"},
         {"P2"},
         {"PM", "P8"}},
        {"always: retries first, then the fresh reports",
         seen,
         {{"F", day}, {"P2", 2 * day}},
         CrashReportMode::always,
         {},
         {"P2", "F"},
         {}},
        {"never: pending and fresh reports are all dropped",
         seen,
         {{"F", day}, {"P2", 2 * day}},
         CrashReportMode::never,
         {},
         {},
         {"P2", "F"}},
        {"equal dates keep their order", {}, {{"X", day}, {"Y", day}}, CrashReportMode::always, {}, {"X", "Y"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<CrashReportFile> reports;
        for (const auto& [id, seconds] : c.reports) reports.push_back(report(id, ago(seconds)));
        const CrashReportPlan plan = c.ledger.plan(reports, c.mode, now);
        EXPECT_EQ(idsOf(plan.ask), c.ask);
        EXPECT_EQ(idsOf(plan.send), c.send);
        EXPECT_EQ(idsOf(plan.drop), c.drop);
    }
}

TEST(CrashReportLedger, AReportIsTriedOnAtMostTwoLaunches)
{
    struct Case {
        const char* name;
        CrashUploadOutcome outcome;
        bool retry;
        bool handled;
    };
    const std::vector<Case> cases{
        {"passing trouble on the first try", CrashUploadOutcome::retryLater, false, false},
        {"passing trouble on the retry", CrashUploadOutcome::retryLater, true, true},
        {"sent", CrashUploadOutcome::sent, false, true},
        {"rejected", CrashUploadOutcome::rejected, false, true},
    };
    const CrashReportFile r = report("R", ago(2 * day));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CrashReportLedger ledger;
        ledger.newestHandled = ago(3 * day);
        const QDateTime firstTry = ago(day);
        ASSERT_FALSE(ledger.beginSending(r, firstTry));
        if (c.retry) {
            EXPECT_TRUE(ledger.beginSending(r, now)); // the next launch's attempt
        }
        EXPECT_EQ(ledger.pending.at(r.incidentID), firstTry);
        ledger.record(c.outcome, r, c.retry, now);
        // Handled under the crash time, not the time of handling.
        const CrashReportLedger expected = c.handled ? CrashReportLedger{r.date, {{r.incidentID, r.date}}, {}}
                                                     : CrashReportLedger{ago(3 * day), {}, {{r.incidentID, firstTry}}};
        EXPECT_EQ(ledger, expected);
    }
}

TEST(CrashReportLedger, AReportDatedInTheFutureDoesNotSilenceLaterOnes)
{
    CrashReportLedger ledger;
    ledger.markHandled(report("FUTURE", now.addYears(1)), now);
    EXPECT_EQ(ledger.newestHandled, now);
    ledger.markHandled(report("OLDER", ago(day)), now); // never lowers the mark
    EXPECT_EQ(ledger.newestHandled, now);
    const CrashReportPlan plan = ledger.plan({report("NEXT", now.addSecs(60))}, CrashReportMode::ask, now.addSecs(120));
    EXPECT_EQ(idsOf(plan.ask), QStringList{QStringLiteral("NEXT")});
}

TEST(CrashReportLedger, PruningForgetsOldEntriesButKeepsTheMark)
{
    CrashReportLedger ledger;
    ledger.newestHandled = ago(30 * day);
    ledger.handled = {{QStringLiteral("H13"), ago(13 * day)},
                      {QStringLiteral("H15"), ago(15 * day)},
                      {QStringLiteral("HF"), now.addSecs(day)}};
    ledger.pending = {{QStringLiteral("P6"), ago(6 * day)}, {QStringLiteral("P8"), ago(8 * day)}};
    ledger.prune(now);
    EXPECT_EQ(ledger.handled.size(), 2u);
    EXPECT_TRUE(ledger.handled.count(QStringLiteral("H13")) && ledger.handled.count(QStringLiteral("HF")));
    EXPECT_EQ(ledger.pending.size(), 1u);
    EXPECT_TRUE(ledger.pending.count(QStringLiteral("P6")));
    EXPECT_EQ(ledger.newestHandled, ago(30 * day));
}

TEST(CrashReportLedger, StoredFormReadsBackAndDamageReadsAsEmpty)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("defaults.json"));
    CrashReportLedger ledger;
    ledger.newestHandled = QDateTime::fromString(QStringLiteral("2001-01-01T00:00:10.250Z"), Qt::ISODateWithMs);
    ledger.handled[QStringLiteral("A")] = ago(day).addMSecs(120);
    ledger.pending[QStringLiteral("B")] = ago(2 * day);
    {
        platform::UserDefaults defaults(file);
        ledger.save(defaults);
        ASSERT_TRUE(defaults.synchronize());
    }
    platform::UserDefaults defaults(file);
    const json stored = *defaults.value(CrashReportPreferences::ledgerKey);
    EXPECT_DOUBLE_EQ(stored["newestHandled"].get<double>(), 10.25); // seconds since 2001
    EXPECT_EQ(CrashReportLedger::load(defaults), ledger);

    CrashReportLedger unmarked = ledger;
    unmarked.newestHandled.reset();
    // Each case patches the stored object (a null member is removed).
    const std::vector<std::tuple<const char*, json, CrashReportLedger>> cases{
        {"no mark", {{"newestHandled", nullptr}}, unmarked},
        {"another key", {{"later", "ignored"}}, ledger},
        {"no pending", {{"pending", nullptr}}, {}},
        {"a date that is not a number", {{"handled", {{"A", "yesterday"}}}}, {}},
        {"not an object", json::array({1, 2}), {}},
    };
    for (const auto& [name, patch, expected] : cases) {
        SCOPED_TRACE(name);
        json value = stored;
        if (patch.is_object()) value.merge_patch(patch);
        else value = patch;
        defaults.set(CrashReportPreferences::ledgerKey, value);
        EXPECT_EQ(CrashReportLedger::load(defaults), expected);
    }
}

TEST(CrashReportPreferences, OnlyTheThreeRawValuesAreModes)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    EXPECT_EQ(CrashReportPreferences::mode(defaults), CrashReportMode::ask);
    const std::vector<std::pair<json, CrashReportMode>> cases{
        {"ask", CrashReportMode::ask},    {"always", CrashReportMode::always}, {"never", CrashReportMode::never},
        {"Always", CrashReportMode::ask}, {"", CrashReportMode::ask},          {true, CrashReportMode::ask},
        {2, CrashReportMode::ask},
    };
    for (const auto& [stored, mode] : cases) {
        SCOPED_TRACE(stored.dump());
        defaults.set(CrashReportPreferences::modeKey, stored);
        EXPECT_EQ(CrashReportPreferences::mode(defaults), mode);
    }
}

TEST(CrashUpload, EndpointsAreTheHttpsURLsWithAHostInOrder)
{
    struct Case {
        const char* name;
        json info;
        QStringList endpoints;
    };
    const std::vector<Case> cases{
        {"no key", json::object(), {}},
        {"a single text", {{"RVCrashReportURLs", "https://a.example/r"}}, {}},
        {"kept in order, duplicates too",
         {{"RVCrashReportURLs",
           {"https://b.example/r", "HTTPS://A.example/r", "http://c.example/r", "https:///nohost", 7, "not a url",
            "https://b.example/r"}}},
         {"https://b.example/r", "https://a.example/r", "https://b.example/r"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList found;
        for (const QUrl& url : CrashUpload::endpoints(c.info)) found << url.toString();
        EXPECT_EQ(found, c.endpoints);
    }
}

TEST(CrashUpload, AnAnswerIsSentPassingTroubleOrARefusal)
{
    const std::vector<std::pair<std::optional<int>, CrashUploadOutcome>> cases{
        {std::nullopt, CrashUploadOutcome::retryLater},
        {200, CrashUploadOutcome::sent},
        {201, CrashUploadOutcome::sent},
        {299, CrashUploadOutcome::sent},
        {408, CrashUploadOutcome::retryLater},
        {429, CrashUploadOutcome::retryLater},
        {500, CrashUploadOutcome::retryLater},
        {599, CrashUploadOutcome::retryLater},
        {100, CrashUploadOutcome::rejected},
        {302, CrashUploadOutcome::rejected},
        {400, CrashUploadOutcome::rejected},
        {404, CrashUploadOutcome::rejected},
        {600, CrashUploadOutcome::rejected},
    };
    for (const auto& [status, outcome] : cases) {
        SCOPED_TRACE(status.value_or(-1));
        EXPECT_EQ(CrashUpload::outcome(status), outcome);
    }
}
