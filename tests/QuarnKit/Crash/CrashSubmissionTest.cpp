#include "QuarnKit/Crash/CrashSubmission.h"

#include "Platform/UserAccount.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>

using namespace quarnkit;
using nlohmann::json;

namespace {

const CrashRedactor nobody(QStringLiteral("/home/nobody"), QStringLiteral("nobody"), QString());

json reportHeader()
{
    return {{"incident_id", "INC-1"},
            {"app_name", "ravlen"},
            {"app_version", "1.2"},
            {"build_version", " 57 (beta)"},
            {"bundleID", "com.ombri.ravlen"},
            {"bug_type", "309"},
            {"os_version", "Debian GNU/Linux 12 (6.1.0)"},
            {"timestamp", "2024-01-15 10:23:45.12 +0100"}};
}

json reportBody()
{
    return json::parse(R"({
        "incident": "INC-1", "procName": "ravlen", "cpuType": "X86-64", "modelCode": "Model 9",
        "exception": {"type": "SEGV_MAPERR", "signal": "SIGSEGV", "codes": "0x0000000000000000"},
        "termination": {"namespace": "SIGNAL", "code": 11, "indicator": "Segmentation fault: 11"},
        "faultingThread": 0,
        "usedImages": [{"name": "ravlen", "uuid": "aa", "base": 4096, "size": 8192, "arch": "x86_64"},
                       {"name": "libc.so.6", "uuid": "bb", "base": 65536, "size": 100}],
        "threads": [{"frames": [{"imageIndex": 1, "imageOffset": 10, "symbol": "raise"},
                                {"imageIndex": 0, "imageOffset": 20},
                                {"imageIndex": 1, "imageOffset": 30},
                                {"imageIndex": 9, "imageOffset": 40},
                                {"imageOffset": 50}]},
                    {"triggered": true, "frames": [{"imageIndex": 0, "imageOffset": 1}]}]})");
}

CrashPayload payloadOf(const json& header, const json& body)
{
    return CrashSubmission(IPSReport{IPSHeader{header}, body}, nobody).payload();
}

// The body keys of a text copy, in their order.
QStringList rawKeys(const QString& raw)
{
    static const QRegularExpression member(QStringLiteral("^  \"([^\"]+)\" : "), QRegularExpression::MultilineOption);
    QStringList keys;
    for (auto it = member.globalMatch(raw); it.hasNext();) keys << it.next().captured(1);
    return keys;
}

} // namespace

// A login name that is also a word of the report format scrubs the values
// that spell it, never the keys: the payload reads as for any other user.
TEST(CrashPayload, ALoginNameEqualToAReportKeyLosesNothing)
{
    const CrashPayload expected = payloadOf(reportHeader(), reportBody());
    for (const char* login : {"name", "code", "build", "frames", "threads", "symbol", "imageIndex", "exception",
                              "termination", "usedImages", "incident", "timestamp"}) {
        const CrashRedactor redactor(QStringLiteral("/home/") + QString::fromLatin1(login), QString::fromLatin1(login),
                                     QString());
        const CrashSubmission submission(IPSReport{IPSHeader{reportHeader()}, reportBody()}, redactor);
        const CrashPayload& p = submission.payload();
        EXPECT_EQ(p.crash.frames, expected.crash.frames) << login;
        EXPECT_EQ(p.crash.terminationReason, expected.crash.terminationReason) << login;
        EXPECT_EQ(p.incident, expected.incident) << login;
        EXPECT_EQ(p.app, expected.app) << login;
        EXPECT_TRUE(submission.body().contains(login) || !reportBody().contains(login)) << login;
    }
}

TEST(CrashPayload, SummarisesTheReport)
{
    const CrashPayload p = payloadOf(reportHeader(), reportBody());
    EXPECT_EQ(p.schema, 1);
    EXPECT_EQ(p.app, (CrashPayload::App{"ravlen", "1.2", 57, "com.ombri.ravlen", "x86_64", false}));
    EXPECT_EQ(p.os, (CrashPayload::System{"Debian GNU/Linux 12 (6.1.0)", "Model 9"}));
    EXPECT_EQ(p.incident, (CrashPayload::Incident{"INC-1", "2024-01-15T09:23:45Z", "309"}));
    EXPECT_EQ(p.crash.terminationReason, QStringLiteral("Namespace SIGNAL, Code 11 Segmentation fault: 11"));
    const QString unknown = QStringLiteral("???");
    const std::vector<CrashPayload::Frame> frames{{"libc.so.6", "bb", 65536, 10, QStringLiteral("raise")},
                                                  {"ravlen", "aa", 4096, 20, std::nullopt},
                                                  {"libc.so.6", "bb", 65536, 30, std::nullopt},
                                                  {unknown, "", 0, 40, std::nullopt},
                                                  {unknown, "", 0, 50, std::nullopt}};
    EXPECT_EQ(p.crash.frames, frames);
    // One image per distinct index, the two outside the list included.
    const std::vector<CrashPayload::Image> images{{"libc.so.6", "bb", 65536, 100, std::nullopt},
                                                  {"ravlen", "aa", 4096, 8192, QStringLiteral("x86_64")},
                                                  {unknown, "", 0, 0, std::nullopt},
                                                  {unknown, "", 0, 0, std::nullopt}};
    EXPECT_EQ(p.crash.images, images);
    EXPECT_FALSE(p.raw);
}

TEST(CrashPayload, FallsBackWhereTheReportIsSilent)
{
    struct Case {
        const char* what;
        std::function<void(json& header, json& body)> change;
        std::function<void(const CrashPayload&)> check;
    };
    const std::vector<Case> cases{
        {"incident from the body", [](json& h, json&) { h.erase("incident_id"); },
         [](const CrashPayload& p) { EXPECT_EQ(p.incident.id, QStringLiteral("INC-1")); }},
        {"numeric incident", [](json& h, json&) { h["incident_id"] = 42; },
         [](const CrashPayload& p) { EXPECT_EQ(p.incident.id, QStringLiteral("42")); }},
        {"empty app name hides the others", [](json& h, json&) { h["app_name"] = ""; },
         [](const CrashPayload& p) { EXPECT_EQ(p.app.name, QString()); }},
        {"process name", [](json& h, json&) { h.erase("app_name"); },
         [](const CrashPayload& p) { EXPECT_EQ(p.app.name, QStringLiteral("ravlen")); }},
        {"release build only",
         [](json& h, json& b) {
             h.erase("os_version");
             b["osVersion"] = {{"build", "6.1.0"}};
         },
         [](const CrashPayload& p) { EXPECT_EQ(p.os.version, QStringLiteral("(6.1.0)")); }},
        {"lower-case processor", [](json&, json& b) { b["cpuType"] = "arm-64"; },
         [](const CrashPayload& p) { EXPECT_EQ(p.app.arch, QStringLiteral("arm64")); }},
        {"unknown processor", [](json&, json& b) { b["cpuType"] = "sparc"; },
         [](const CrashPayload& p) { EXPECT_EQ(p.app.arch, QStringLiteral("x86_64")); }},
        {"unreadable time", [](json&, json& b) { b["captureTime"] = "yesterday"; },
         [](const CrashPayload& p) { EXPECT_EQ(p.incident.timestamp, QStringLiteral("yesterday")); }},
        {"triggered thread", [](json&, json& b) { b.erase("faultingThread"); },
         [](const CrashPayload& p) {
             EXPECT_EQ(p.crash.crashedThread, 1);
             EXPECT_EQ(p.crash.frames.size(), 1u);
         }},
        {"no crashed thread named",
         [](json&, json& b) {
             b.erase("faultingThread");
             b["threads"][1].erase("triggered");
         },
         [](const CrashPayload& p) { EXPECT_EQ(p.crash.frames.size(), 5u); }},
        {"thread outside the list", [](json&, json& b) { b["faultingThread"] = 7; },
         [](const CrashPayload& p) {
             EXPECT_EQ(p.crash.crashedThread, 7);
             EXPECT_TRUE(p.crash.frames.empty() && p.crash.images.empty());
         }},
        {"one thread of another kind", [](json&, json& b) { b["threads"].push_back(3); },
         [](const CrashPayload& p) { EXPECT_TRUE(p.crash.frames.empty()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        json header = reportHeader(), body = reportBody();
        c.change(header, body);
        c.check(payloadOf(header, body));
    }

    const auto failure = [](json header, json body) {
        try {
            payloadOf(header, body);
        } catch (const CrashReportFailure& f) {
            return f.error;
        }
        return CrashReportError::unreadable;
    };
    json empty = reportHeader();
    empty["incident_id"] = "";
    EXPECT_EQ(failure(empty, reportBody()), CrashReportError::incomplete);
    json none = reportHeader();
    none.erase("incident_id");
    json bodyWithout = reportBody();
    bodyWithout.erase("incident");
    EXPECT_EQ(failure(none, bodyWithout), CrashReportError::incomplete);
}

TEST(CrashSubmission, SendsNeitherTheHomeFolderNorTheUsersNames)
{
    const QString home = QDir::homePath();
    const QStringList names{platform::loginName(), platform::fullUserName()};
    const std::string h = home.toStdString(), login = names[0].toStdString(), full = names[1].toStdString();
    json header = reportHeader();
    header["app_version"] = login + " build";
    json body = reportBody();
    body["procPath"] = h + "/.local/opt/ravlen/bin/ravlen";
    body["usedImages"][1]["path"] = h + "/lib/libc.so.6";
    body["usedImages"][1]["name"] = login + ".so";
    body["threads"][0]["name"] = full + "'s thread";
    body["threads"][0]["frames"][0]["symbol"] = "open " + h + "/Documents/" + full + " notes.pdf";
    body["exception"]["codes"] = "fault reading " + h + "/x";
    body["asi"] = {{"key", {h + "/key", "for " + full}}};
    body["vmSummary"] = "mapped " + h + "/.cache/ravlen/x";
    body["userID"] = 501;

    const CrashSubmission submission(IPSReport{IPSHeader{header}, body}, CrashRedactor::forCurrentUser());
    for (const qint64 limit : {qint64(1) << 30, qint64(0)}) {
        SCOPED_TRACE(limit);
        const QString sent = QString::fromUtf8(submission.encoded(limit));
        EXPECT_FALSE(sent.contains(home));
        EXPECT_FALSE(sent.contains(QLatin1String("userID")));
        for (const QString& name : names) {
            if (name.size() < 3) continue; // shorter names are not hidden
            const QRegularExpression word(QStringLiteral("(?<![\\p{L}\\p{N}_])") + QRegularExpression::escape(name)
                                              + QStringLiteral("(?![\\p{L}\\p{N}_])"),
                                          QRegularExpression::CaseInsensitiveOption);
            EXPECT_FALSE(word.match(sent).hasMatch()) << name.toStdString();
        }
    }
}

// What the size fitting gives up, in order: the body's sections from the
// last on (the trailing four first), all threads but the crashed one, the
// whole text copy, and the outer halves of the frames.
TEST(CrashSubmission, FitsTheLimitByGivingUpTheLeastImportantFirst)
{
    json body = reportBody();
    body["faultingThread"] = 1;
    body["threads"] = json::array();
    for (int t = 0; t < 3; ++t)
        body["threads"].push_back({{"id", t}, {"queue", std::string(3000, 'q')}, {"frames", json::array()}});
    for (int f = 0; f < 8; ++f) body["threads"][1]["frames"].push_back({{"imageIndex", f % 2}, {"imageOffset", f}});
    body["zeta"] = "z";
    body["alpha"] = "a";
    body["Beta"] = "b";
    body["vmregioninfo"] = "v";
    body["instructionByteStream"] = "i";
    body["extMods"] = "e";
    body["vmSummary"] = std::string(20000, 's');
    const CrashSubmission submission(IPSReport{IPSHeader{reportHeader()}, body}, nobody);
    const QStringList leading{"incident",    "procName",       "modelCode", "cpuType",   "exception",
                              "termination", "faultingThread", "threads",   "usedImages"};
    const QStringList trailing{"vmregioninfo", "instructionByteStream", "extMods", "vmSummary"};

    struct Case {
        qint64 limit;
        QStringList keys; // of the text copy; none when it is left out
        size_t threads, frames, images;
    };
    const std::vector<Case> cases{
        {qint64(1) << 30, leading + QStringList{"Beta", "alpha", "zeta"} + trailing, 3, 8, 2},
        {15000, leading + QStringList{"Beta", "alpha", "zeta", "vmregioninfo", "instructionByteStream", "extMods"}, 3,
         8, 2},
        {6000, leading, 1, 8, 2},
        {0, {}, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        const QByteArray bytes = submission.encoded(c.limit);
        if (c.limit > 0) {
            EXPECT_LE(bytes.size(), c.limit);
        }
        const auto sent = CrashPayload::decoded(bytes);
        ASSERT_TRUE(sent);
        EXPECT_EQ(sent->crash.frames.size(), c.frames);
        EXPECT_EQ(sent->crash.images.size(), c.images);
        EXPECT_EQ(sent->crash.frames[0], submission.payload().crash.frames[0]) << "the innermost frame stays";
        if (c.keys.isEmpty()) {
            EXPECT_FALSE(sent->raw);
            continue;
        }
        ASSERT_TRUE(sent->raw);
        EXPECT_EQ(rawKeys(*sent->raw).join(u',').toStdString(), c.keys.join(u',').toStdString());
        const IPSReport copy = IPSReport::fromData(sent->raw->toUtf8());
        EXPECT_EQ(copy.header.fields, submission.header());
        EXPECT_EQ(copy.body["threads"].size(), c.threads);
        if (c.threads == 1) {
            EXPECT_EQ(copy.body["threads"][0]["id"], 1);
        }
    }
}

TEST(CrashSubmission, EncodesExactlyAndAlwaysAlike)
{
    json body = reportBody();
    body["usedImages"][1]["base"] = 9223372036854775813u; // 2^63 + 5
    body["procPath"] = "/usr/bin/ravlen";
    const CrashSubmission submission(IPSReport{IPSHeader{reportHeader()}, body}, nobody);
    EXPECT_EQ(submission.payload().crash.images[0].base, 9223372036854775813u);

    const QByteArray first = submission.encoded(262144);
    EXPECT_EQ(submission.encoded(262144), first);
    EXPECT_FALSE(submission.payload().raw);
    EXPECT_TRUE(first.contains("\"base\":9223372036854775813,"));
    EXPECT_TRUE(first.contains("\"imageBase\":9223372036854775813,"));
    EXPECT_TRUE(first.contains("/usr/bin/ravlen")) << "slashes are not escaped";
    EXPECT_TRUE(first.startsWith("{\"app\":{\"arch\":\"x86_64\",\"build\":57,"));

    const auto decoded = CrashPayload::decoded(first);
    ASSERT_TRUE(decoded);
    CrashPayload withoutRaw = *decoded;
    withoutRaw.raw.reset();
    EXPECT_EQ(withoutRaw, submission.payload());
    EXPECT_FALSE(withoutRaw.encoded().contains("\"raw\""));
    EXPECT_FALSE(CrashPayload::decoded(R"({"schema":1})"));
}
