// The crash reporter end to end: reports written by hand into a reports
// folder, a reporter started over its own settings file, and report
// endpoints played by a local HTTPS server.
#include "Quarn/Crash/CrashReporter.h"

#include "Platform/UserDefaults.h"
#include "Quarn/Crash/CrashReportWindow.h"
#include "QuarnKit/Crash/CrashReportPolicy.h"

#include "support/HttpsTestServer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <atomic>
#include <memory>

using namespace quarn;
using namespace quarnkit;
using nlohmann::json;
using testsupport::HttpsTestServer;
using testsupport::waitFor;

namespace {

constexpr int requestTimeoutMs = 300;
const QString userAgent = QStringLiteral("ravlen/1.4 (Linux; glibc 2.36)");

// One launch after another over the same settings file and reports folder.
struct Launches {
    QTemporaryDir dir;
    HttpsTestServer server;
    std::unique_ptr<platform::UserDefaults> defaults;
    std::unique_ptr<CrashReporter> reporter;
    std::vector<std::pair<QString, CrashUploadOutcome>> outcomes;
    std::atomic<int> setups{0};
    bool signedBuild = true;

    Launches() { defaults = std::make_unique<platform::UserDefaults>(settingsFile()); }
    ~Launches() { reporter.reset(); }

    QString settingsFile() const { return dir.filePath(QStringLiteral("config/defaults.json")); }
    QString reportsFolder() const { return dir.filePath(QStringLiteral("state/ravlen/DiagnosticReports")); }

    CrashReportSetup setup()
    {
        CrashReportSetup s;
        s.signedBuild = signedBuild;
        s.endpoints = {server.url(QStringLiteral("/one")), server.url(QStringLiteral("/two"))};
        s.bundleID = QStringLiteral("com.ombri.ravlen");
        s.processName = QStringLiteral("ravlen");
        s.folders = CrashReportScanner::standardFolders(reportsFolder());
        s.displayName = QStringLiteral("ravlen");
        s.userAgent = userAgent;
        return s;
    }

    // A report of a crash `hoursAgo` hours ago; `body` replaces the JSON body.
    void writeReport(const QString& incident, int hoursAgo, const QByteArray& body = {})
    {
        const QDateTime when = QDateTime::currentDateTimeUtc().addSecs(-3600 * hoursAgo);
        const json header{{"bug_type", "309"},
                          {"incident_id", incident.toStdString()},
                          {"timestamp", when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.00 +0000")).toStdString()},
                          {"bundleID", "com.ombri.ravlen"},
                          {"app_name", "ravlen"},
                          {"app_version", "1.4"},
                          {"build_version", "57"}};
        const std::string home = QDir::homePath().toStdString();
        const json sample{{"procPath", home + "/.local/opt/ravlen/bin/ravlen"},
                          {"exception", {{"type", "EXC_BAD_ACCESS"}, {"signal", "SIGSEGV"}}},
                          {"faultingThread", 0},
                          {"threads", {{{"frames", {{{"imageIndex", 0}, {"imageOffset", 4096}}}}}}},
                          {"usedImages",
                           {{{"name", "ravlen"},
                             {"path", home + "/.local/opt/ravlen/bin/ravlen"},
                             {"base", 4194304},
                             {"size", 65536}}}}};
        QDir().mkpath(reportsFolder());
        QFile file(QDir(reportsFolder()).filePath(QStringLiteral("ravlen-%1.ips").arg(incident)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(header.dump()) + '\n'
                   + (body.isNull() ? QByteArray::fromStdString(sample.dump(2)) : body));
    }

    // Starts this launch's reporter: the settings written by the last one are
    // read from the file, as by a program started again.
    void launch(int delayMs = 10)
    {
        if (reporter) {
            reporter.reset();
            ASSERT_TRUE(defaults->synchronize());
            defaults = std::make_unique<platform::UserDefaults>(settingsFile());
        }
        outcomes.clear();
        reporter = std::make_unique<CrashReporter>(
            *defaults,
            [this, s = setup()] {
                ++setups;
                return s;
            },
            CrashReporter::Timing{delayMs, requestTimeoutMs});
        QObject::connect(reporter.get(), &CrashReporter::uploadFinished,
                         [this](const QString& id, CrashUploadOutcome outcome) { outcomes.emplace_back(id, outcome); });
        reporter->start();
    }

    void setMode(CrashReportMode mode) { defaults->set(CrashReportPreferences::modeKey, rawValue(mode)); }
    CrashReportLedger ledger() const { return CrashReportLedger::load(*defaults); }
    bool handled(const QString& id) const { return ledger().handled.count(id) && !ledger().pending.count(id); }
    bool pending(const QString& id) const { return ledger().pending.count(id) && !ledger().handled.count(id); }
    bool promptShowing() const { return reporter->prompt() && reporter->prompt()->isVisible(); }
    QStringList retiredIDs() const
    {
        QStringList ids;
        for (const CrashReportFile& r :
             CrashReportScanner::find({CrashReportScanner::standardFolders(reportsFolder())[1]},
                                      QStringLiteral("com.ombri.ravlen"), QStringLiteral("ravlen")))
            ids << r.incidentID;
        ids.sort();
        return ids;
    }
    bool waitForOutcomes(size_t count)
    {
        return waitFor([&] { return outcomes.size() >= count; });
    }
};

QStringList idsOf(const std::vector<CrashReportFile>& reports)
{
    QStringList ids;
    for (const CrashReportFile& r : reports) ids << r.incidentID;
    return ids;
}

HttpsTestServer::Answer status(int code) { return {code}; }
HttpsTestServer::Answer stall()
{
    HttpsTestServer::Answer answer;
    answer.stall = true;
    return answer;
}

void pressOn(QWidget* window, Qt::Key key)
{
    window->activateWindow();
    ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == window; }));
    QTest::keyClick(window->windowHandle(), key);
}

} // namespace

TEST(CrashReporter, EachReportsOutcomeFollowsTheEndpointsAnswers)
{
    HttpsTestServer::Answer moved = status(302);
    moved.headers["Location"] = "/two";
    HttpsTestServer::Answer busy = status(503);
    busy.headers["Set-Cookie"] = "session=abc; Path=/"; // never sent back
    struct Case {
        const char* name;
        HttpsTestServer::Answer one, two;
        QByteArray body; // a damaged report when set
        CrashUploadOutcome outcome;
        int toOne, toTwo;
    };
    const std::vector<Case> cases{
        {"busy, then taken", busy, status(200), {}, CrashUploadOutcome::sent, 1, 1},
        {"refused for good", status(400), status(200), {}, CrashUploadOutcome::rejected, 1, 0},
        {"a redirect is a refusal, never followed", moved, status(200), {}, CrashUploadOutcome::rejected, 1, 0},
        {"no answer anywhere", stall(), stall(), {}, CrashUploadOutcome::retryLater, 1, 1},
        {"a report that cannot be read", status(200), status(200), "{ not json", CrashUploadOutcome::rejected, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Launches app;
        ASSERT_TRUE(app.server.isListening());
        app.server.answer(QStringLiteral("/one"), c.one);
        app.server.answer(QStringLiteral("/two"), c.two);
        app.setMode(CrashReportMode::always);
        app.writeReport(QStringLiteral("R"), 2, c.body);
        app.launch();
        ASSERT_TRUE(app.waitForOutcomes(1));
        EXPECT_EQ(app.outcomes[0].second, c.outcome);
        EXPECT_EQ(app.server.requestsTo(QStringLiteral("/one")), c.toOne);
        EXPECT_EQ(app.server.requestsTo(QStringLiteral("/two")), c.toTwo);
        EXPECT_FALSE(app.reporter->prompt());
        if (c.outcome == CrashUploadOutcome::retryLater) EXPECT_TRUE(app.pending(QStringLiteral("R")));
        else EXPECT_TRUE(app.handled(QStringLiteral("R")));
        // Every request: the redacted payload as JSON, with our user agent and no cookie.
        for (const HttpsTestServer::Request& request : app.server.requests()) {
            EXPECT_EQ(request.method, "POST");
            EXPECT_EQ(request.headers.value("content-type"), "application/json");
            EXPECT_EQ(request.headers.value("user-agent"), userAgent.toUtf8());
            EXPECT_FALSE(request.headers.contains("cookie"));
            const json payload = json::parse(request.body.toStdString(), nullptr, false);
            EXPECT_EQ(payload.value("/incident/id"_json_pointer, ""), "R");
            EXPECT_EQ(payload.value("/crash/signal"_json_pointer, ""), "SIGSEGV");
            EXPECT_FALSE(request.body.contains(QDir::homePath().toUtf8())); // the home folder never leaves
        }
    }
}

TEST(CrashReporter, AnUnfinishedUploadIsRetriedOnceByTheNextLaunchThenHandled)
{
    Launches app;
    app.server.answer(QStringLiteral("/one"), stall());
    app.server.answer(QStringLiteral("/two"), stall());
    app.setMode(CrashReportMode::always);
    app.writeReport(QStringLiteral("R"), 3);
    app.launch();
    // The program ends while the first endpoint has not answered.
    ASSERT_TRUE(waitFor([&] { return app.server.requestsTo(QStringLiteral("/one")) == 1; }));
    EXPECT_TRUE(app.pending(QStringLiteral("R")));

    // The retry goes without asking, whatever the mode but never (the mode
    // is set before the scan, which waits for the event loop).
    app.launch();
    app.setMode(CrashReportMode::ask);
    ASSERT_TRUE(app.waitForOutcomes(1));
    EXPECT_EQ(app.outcomes[0].second, CrashUploadOutcome::retryLater);
    EXPECT_FALSE(app.reporter->prompt());
    EXPECT_EQ(app.server.requests().size(), 3u);
    EXPECT_TRUE(app.handled(QStringLiteral("R")));

    // Handled: never offered or sent again.
    app.writeReport(QStringLiteral("LATER"), 0);
    app.launch();
    ASSERT_TRUE(waitFor([&] { return app.promptShowing(); }));
    EXPECT_EQ(idsOf(app.reporter->waiting()), QStringList{QStringLiteral("LATER")});
    EXPECT_EQ(app.server.requests().size(), 3u);
}

TEST(CrashReporter, TheScanWaitsForTheLaunchDelayAndRunsOnce)
{
    Launches app;
    app.writeReport(QStringLiteral("R"), 1);
    QElapsedTimer clock;
    clock.start();
    app.launch(400);
    app.reporter->start();
    ASSERT_TRUE(waitFor([&] { return app.promptShowing(); }));
    EXPECT_GE(clock.elapsed(), 400);
    EXPECT_EQ(app.setups, 1);
}

TEST(CrashReporter, DontSendHandlesTheWaitingReportsAndKeepsTheMode)
{
    Launches app;
    for (int i = 1; i <= 4; ++i) app.writeReport(QStringLiteral("R%1").arg(i), i);
    app.launch();
    ASSERT_TRUE(waitFor([&] { return app.promptShowing(); }));
    CrashReportWindow* window = app.reporter->prompt();
    EXPECT_EQ(window->prompt()->title()->text(), QStringLiteral("ravlen quit unexpectedly last time."));
    // The three newest are asked about; the oldest is let go of at once.
    EXPECT_EQ(app.reporter->waiting().size(), 3u);
    EXPECT_TRUE(app.handled(QStringLiteral("R4")));

    QTest::mouseClick(window->prompt()->sendAutomatically(), Qt::LeftButton, {}, QPoint(6, 6));
    EXPECT_TRUE(app.reporter->sendAutomatically());
    pressOn(window, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    for (const char* id : {"R1", "R2", "R3"}) EXPECT_TRUE(app.handled(QString::fromLatin1(id))) << id;
    EXPECT_FALSE(app.defaults->contains(CrashReportPreferences::modeKey));
    EXPECT_TRUE(app.server.requests().empty());

    // R4, let go of, has moved into "Retired" already.
    EXPECT_TRUE(waitFor([&] { return app.retiredIDs() == QStringList{QStringLiteral("R4")}; }));

    // Not offered at the next launch, and retired then.
    app.writeReport(QStringLiteral("R0"), 0);
    app.launch();
    ASSERT_TRUE(waitFor([&] { return app.promptShowing(); }));
    EXPECT_EQ(idsOf(app.reporter->waiting()), QStringList{QStringLiteral("R0")});
    EXPECT_TRUE(waitFor([&] { return app.retiredIDs().size() == 4; }));
    EXPECT_EQ(idsOf(CrashReportScanner::find({app.reportsFolder()}, QStringLiteral("com.ombri.ravlen"),
                                             QStringLiteral("ravlen"))),
              QStringList{QStringLiteral("R0")});
}

// A build that can send nothing treats every report as handled: they never
// pile up in the reports folder.
TEST(CrashReporter, ABuildThatCannotSendRetiresItsReports)
{
    Launches app;
    app.signedBuild = false;
    app.writeReport(QStringLiteral("R1"), 1);
    app.launch();
    EXPECT_TRUE(waitFor([&] { return app.retiredIDs() == QStringList{QStringLiteral("R1")}; }));
    EXPECT_EQ(app.reporter->prompt(), nullptr);
}

// The prompt's text column starts beside a 42-point page glyph and reaches
// the right margin, so the title wraps only where it must.
TEST(CrashReporter, ThePromptSaysWhatAReportHoldsBesideThePageGlyph)
{
    Launches app;
    app.writeReport(QStringLiteral("R1"), 1);
    app.launch();
    ASSERT_TRUE(waitFor([&] { return app.promptShowing(); }));
    CrashReportPrompt* prompt = app.reporter->prompt()->prompt();
    EXPECT_EQ(prompt->explanation()->text(), QStringLiteral("A report holds the ravlen and Linux versions and where it "
                                                            "crashed, never your documents or file names."));
    const QRect title(prompt->title()->mapTo(prompt, QPoint(0, 0)), prompt->title()->size());
    EXPECT_EQ(title.left(), 24 + 42 + 16);
    EXPECT_EQ(title.width(), CrashReportPrompt::width - 24 - 42 - 16 - 24);
    EXPECT_EQ(title.top(), 28);
    EXPECT_EQ(prompt->title()->heightForWidth(title.width()), QFontMetrics(prompt->title()->font()).height());
}

TEST(CrashReporter, SendWithTheCheckBoxTickedSendsFromNowOn)
{
    Launches app;
    app.server.answer(QStringLiteral("/one"), status(200));
    app.writeReport(QStringLiteral("R"), 1);
    app.launch();
    ASSERT_TRUE(waitFor([&] { return app.promptShowing(); }));
    CrashReportWindow* window = app.reporter->prompt();
    EXPECT_FALSE(window->prompt()->sendAutomatically()->isChecked());
    QTest::mouseClick(window->prompt()->sendAutomatically(), Qt::LeftButton, {}, QPoint(6, 6));
    pressOn(window, Qt::Key_Return);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(app.defaults->stringValue(CrashReportPreferences::modeKey), "always");
    ASSERT_TRUE(app.waitForOutcomes(1));
    EXPECT_EQ(app.outcomes[0].second, CrashUploadOutcome::sent);
    EXPECT_TRUE(app.handled(QStringLiteral("R")));
}

TEST(CrashReporter, TheCloseButtonDeclinesButQuittingIsNoAnswer)
{
    struct Case {
        const char* name;
        bool quit;
    };
    for (const Case c : {Case{"the window's close button", false}, Case{"the application quits", true}}) {
        SCOPED_TRACE(c.name);
        Launches app;
        app.writeReport(QStringLiteral("R"), 1);
        app.launch();
        ASSERT_TRUE(waitFor([&] { return app.promptShowing(); }));
        CrashReportWindow* window = app.reporter->prompt();
        if (c.quit) {
            // What the application does with its windows when it is asked to quit.
            QApplication::closeAllWindows();
        } else {
            QCloseEvent close; // as the window system sends it
            QCoreApplication::sendEvent(window->windowHandle(), &close);
        }
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(app.handled(QStringLiteral("R")), !c.quit);
        // The next launch asks again only when there was no answer.
        app.writeReport(QStringLiteral("NEW"), 0);
        app.launch();
        ASSERT_TRUE(waitFor([&] { return app.promptShowing(); }));
        const QStringList asked =
            c.quit ? QStringList{QStringLiteral("NEW"), QStringLiteral("R")} : QStringList{QStringLiteral("NEW")};
        EXPECT_EQ(idsOf(app.reporter->waiting()), asked);
    }
}
