#include "UpdateRig.h"

#include "Quarn/App/DocumentWindow.h"
#include "QuarnKit/Update/UpdateError.h"
#include "support/OtherUsers.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <QUndoStack>

#include <sys/stat.h>
#include <unistd.h>

using namespace quarn;
using quarnkit::UpdateError;
using updatetest::UpdateRig;
using Kind = UpdateState::Kind;

namespace {

const bool privateConfig = testsupport::usePrivateConfigDir();

QString sentence(UpdateError error) { return quarnkit::message(error, "ravlen"); }

std::vector<Kind> kindsOf(const std::vector<UpdateState>& states)
{
    std::vector<Kind> kinds;
    for (const UpdateState& state : states)
        if (kinds.empty() || kinds.back() != state.kind) kinds.push_back(state.kind);
    return kinds;
}

} // namespace

TEST(UpdateController, AnOfferedReleaseIsDownloadedVerifiedAndHandedToTheInstaller)
{
    UpdateRig rig;
    const QString open = rig.pdf("open.pdf");
    ASSERT_NE(rig.documents.openDocument(open), nullptr);
    UpdateController& updates = rig.make();

    updates.check(UpdateTrigger::menu);
    ASSERT_TRUE(rig.reaches(Kind::available));
    EXPECT_EQ(rig.shown, std::vector<bool>{true}); // shown when the menu check began
    EXPECT_EQ(updates.statusText(), "ravlen 2.0 is available.");
    EXPECT_TRUE(rig.server.lastUserAgent().startsWith("ravlen/1.0 (Linux; glibc 2.36)"));
    EXPECT_TRUE(updates.lastCheck().has_value());

    updates.install();
    ASSERT_TRUE(rig.reaches(Kind::installing));
    EXPECT_EQ(kindsOf(rig.states), (std::vector<Kind>{Kind::checking, Kind::available, Kind::downloading,
                                                      Kind::verifying, Kind::readyToInstall, Kind::installing}));
    // The bar only ever grows, and ends full.
    double last = -1;
    for (const UpdateState& state : rig.states)
        if (state.kind == Kind::downloading) {
            EXPECT_GE(state.fraction, last);
            last = state.fraction;
        }
    EXPECT_DOUBLE_EQ(last, 1.0);

    // The documents closed before the installer started, and will reopen.
    EXPECT_TRUE(rig.documents.windows().empty());
    ASSERT_EQ(rig.plans.size(), 1u);
    const quarnkit::UpdateInstallPlan& plan = rig.plans[0];
    EXPECT_EQ(plan.pid, ::getpid());
    EXPECT_EQ(plan.target, rig.installFolder);
    EXPECT_TRUE(plan.relaunch.contains(open));
    EXPECT_EQ(plan.timeout, 300);
    EXPECT_EQ(plan.requirement, QString("identifier \"com.ombri.ravlen\" and team \"%1\"").arg(*rig.team));
    EXPECT_EQ(plan.log, rig.dir.filePath("cache/Updates/update.log"));
    EXPECT_EQ(rig.scripts, std::vector<QString>{rig.dir.filePath("cache/Updates/install.sh")});
    EXPECT_EQ(plan.verifier, rig.installFolder + "/bin/ravlen-seal");
    // The verified copy waits in a private staging folder, which is the script's now.
    EXPECT_EQ(plan.newApp, plan.staging + "/Unzipped/ravlen");
    EXPECT_EQ(QFileInfo(plan.staging).path(), quarnkit::StagingFolder::privateRoot(rig.workFolder));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(plan.staging).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_TRUE(quarnkit::Seal::verify(plan.newApp, rig.keys.publicKey).holds);
    EXPECT_EQ(rig.quits, 1);
    EXPECT_EQ(updates.statusText(), "Installing…");
}

// The private work folder's rules are its own tests'; here, that an update goes through them.
TEST(UpdateController, APrivateRootPlantedAsALinkIsPassedOverAndTheUpdateProceeds)
{
    UpdateRig rig;
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir().mkpath(rig.dir.filePath("run")));
    ASSERT_TRUE(QFile::link(elsewhere.path(), rig.dir.filePath("run/ravlen")));
    // Run as root, it is another user's: root's own, where only root writes, is followed.
    if (testsupport::canBecomeOtherUsers()) {
        ASSERT_EQ(::lchown(QFile::encodeName(rig.dir.filePath("run/ravlen")).constData(), testsupport::kOtherUser,
                           testsupport::kOtherUser),
                  0);
    }
    UpdateController& updates = rig.make();
    updates.check(UpdateTrigger::menu);
    ASSERT_TRUE(rig.reaches(Kind::available));
    updates.install();
    ASSERT_TRUE(rig.reaches(Kind::installing)) << updates.state().message.toStdString();
    ASSERT_EQ(rig.plans.size(), 1u);
    const QString root = QFileInfo(rig.plans[0].staging).path();
    EXPECT_TRUE(root.startsWith(rig.temporaryRoot + "/ravlen-")) << root.toStdString();
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
}

TEST(UpdateController, AQuitThatDoesNotHappenStopsTheInstallerAndFails)
{
    UpdateRig rig;
    auto environment = rig.environment();
    environment.quitTimeout = std::chrono::milliseconds(200);
    UpdateController& updates = rig.make(environment);
    updates.check(UpdateTrigger::menu);
    ASSERT_TRUE(rig.reaches(Kind::available));
    updates.install();
    ASSERT_TRUE(rig.reaches(Kind::installing));
    ASSERT_EQ(rig.quits, 1); // the stand-in does not quit

    ASSERT_TRUE(rig.reaches(Kind::failed));
    EXPECT_EQ(updates.state().message, sentence(UpdateError::installerFailed));
    EXPECT_EQ(rig.stopped, std::vector<pid_t>{424242});
    EXPECT_TRUE(testsupport::waitFor([&] { return rig.stagingFolders().isEmpty(); }));
    // Try Again installs again.
    updates.retry();
    EXPECT_TRUE(rig.reaches(Kind::installing));
}

TEST(UpdateController, AFailedDownloadShowsItsSentenceAndLeavesNoStaging)
{
    struct Case {
        const char* name;
        std::function<void(UpdateRig&)> serve;
        UpdateError error;
        bool checked; // whether the download got as far as its checks
        std::function<void(UpdateEnvironment&)> adjust = {};
        bool retryChecks = false; // Try Again reads the feed rather than downloading
    };
    const std::vector<Case> cases{
        // The bytes match the feed's size and digest, but not its signature.
        {"tampered",
         [](UpdateRig& rig) {
             QByteArray bytes = updatefixtures::readFile(rig.dir.filePath("ravlen-2.0.zip"));
             bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x40);
             rig.server.answer("/ravlen-2.0.zip", {200, bytes, 4});
             nlohmann::json feed = rig.feed();
             feed["builds"].begin().value()["update"]["sha256"] =
                 platform::Crypto::hex(platform::Crypto::sha256(bytes)).toStdString();
             rig.serveFeed("/feed.json", feed);
         },
         UpdateError::badSignature, true},
        {"oversized",
         [](UpdateRig& rig) {
             rig.server.answer("/ravlen-2.0.zip", {200, QByteArray(rig.archive.size + 1000001, 'x'), 50});
         },
         UpdateError::damagedDownload, false}, // stopped while it arrives
        {"missing",
         [](UpdateRig& rig) {
             rig.server.answer("/ravlen-2.0.zip", {404, "gone"});
         },
         UpdateError::downloadFailed, false},
        // The same bytes one redirect away, on a host the feed URLs do not name.
        {"redirected to another host",
         [](UpdateRig& rig) {
             QUrl elsewhere = rig.server.url("/elsewhere.zip");
             elsewhere.setHost("localhost");
             rig.server.answer("/elsewhere.zip", {200, updatefixtures::readFile(rig.dir.filePath("ravlen-2.0.zip"))});
             testsupport::HttpsTestServer::Answer moved(302);
             moved.headers["Location"] = elsewhere.toEncoded();
             rig.server.answer("/ravlen-2.0.zip", moved);
         },
         UpdateError::downloadFailed, false},
        // Bytes trickle in, each well within the silence allowed, past the whole time.
        {"too slow",
         [](UpdateRig& rig) {
             rig.server.answer("/ravlen-2.0.zip",
                               {200, updatefixtures::readFile(rig.dir.filePath("ravlen-2.0.zip")), 1, 100});
         },
         UpdateError::downloadFailed, false,
         [](UpdateEnvironment& e) { e.downloadTimeLimit = std::chrono::milliseconds(300); }},
        // A feed that offers 9.0 (90) with the archive of 2.0 (20): installed, it
        // would be offered again at every check.
        {"another version than the feed's",
         [](UpdateRig& rig) {
             nlohmann::json feed = rig.feed();
             feed["version"] = "9.0";
             feed["build"] = 90;
             rig.serveFeed("/feed.json", feed);
         },
         UpdateError::damagedFeed,
         true,
         {},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateRig rig;
        c.serve(rig);
        UpdateEnvironment environment = rig.environment();
        if (c.adjust) c.adjust(environment);
        UpdateController& updates = rig.make(environment);
        updates.check(UpdateTrigger::menu);
        ASSERT_TRUE(rig.reaches(Kind::available));
        updates.install();
        ASSERT_TRUE(rig.reaches(Kind::failed));
        EXPECT_EQ(updates.state().message, sentence(c.error));
        const std::vector<Kind> kinds = kindsOf(rig.states);
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), Kind::verifying), c.checked ? 1 : 0);
        EXPECT_TRUE(rig.plans.empty());
        EXPECT_TRUE(testsupport::waitFor([&] { return rig.stagingFolders().isEmpty(); }))
            << rig.stagingFolders().join(", ").toStdString();
        if (c.retryChecks) {
            // The offer was refused: Try Again reads the feed again.
            EXPECT_FALSE(updates.offered().has_value());
            const int checks = rig.server.requestsTo("/feed.json");
            updates.retry();
            EXPECT_TRUE(rig.reaches(Kind::available));
            EXPECT_EQ(rig.server.requestsTo("/feed.json"), checks + 1);
            continue;
        }
        // The failure came from the download: Try Again downloads once more.
        const int before = rig.server.requestsTo("/ravlen-2.0.zip");
        updates.retry();
        EXPECT_TRUE(testsupport::waitFor([&] { return rig.server.requestsTo("/ravlen-2.0.zip") == before + 1; }));
        EXPECT_TRUE(rig.reaches(Kind::failed));
    }
}

TEST(UpdateController, FeedURLsAreTriedInOrderAndOnlyTheUsersChecksReportFailure)
{
    struct Case {
        const char* name;
        std::vector<QString> feeds;
        UpdateTrigger trigger;
        Kind result;
        std::optional<UpdateError> error;
    };
    const std::vector<Case> cases{
        {"500 then a feed", {"/broken", "/feed.json"}, UpdateTrigger::menu, Kind::available, std::nullopt},
        {"two missing", {"/missing", "/gone"}, UpdateTrigger::settings, Kind::failed, UpdateError::offline},
        {"damaged then missing", {"/damaged", "/missing"}, UpdateTrigger::menu, Kind::failed, UpdateError::offline},
        {"missing then damaged", {"/missing", "/damaged"}, UpdateTrigger::menu, Kind::failed, UpdateError::damagedFeed},
        {"automatic failure", {"/missing"}, UpdateTrigger::automatic, Kind::idle, std::nullopt},
        {"moved on its host", {"/moved"}, UpdateTrigger::menu, Kind::available, std::nullopt},
        {"moved to another host", {"/moved-away"}, UpdateTrigger::menu, Kind::failed, UpdateError::offline},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateRig rig;
        rig.server.answer("/broken", {500, "oops"});
        rig.server.answer("/damaged", {200, "{\"version\": 2"});
        testsupport::HttpsTestServer::Answer moved(301), movedAway(301);
        moved.headers["Location"] = rig.server.url("/feed.json").toEncoded();
        QUrl away = rig.server.url("/feed.json");
        away.setHost("localhost");
        movedAway.headers["Location"] = away.toEncoded();
        rig.server.answer("/moved", moved);
        rig.server.answer("/moved-away", movedAway);
        UpdateController& updates = rig.make(rig.environment(c.feeds));
        updates.check(c.trigger);
        ASSERT_TRUE(testsupport::waitFor([&] { return updates.state().kind != Kind::checking; }));
        EXPECT_EQ(updates.state().kind, c.result);
        if (c.error) {
            EXPECT_EQ(updates.state().message, sentence(*c.error));
        }
        for (const QString& feed : c.feeds) EXPECT_EQ(rig.server.requestsTo(feed), 1) << feed.toStdString();
        if (c.feeds.front() == "/moved-away") {
            EXPECT_EQ(rig.server.requestsTo("/feed.json"), 0);
        }
        if (c.trigger == UpdateTrigger::automatic) {
            // Nothing shown, nothing remembered: the next hourly test tries again.
            EXPECT_TRUE(rig.shown.empty());
            EXPECT_FALSE(updates.lastCheck().has_value());
            EXPECT_EQ(updates.statusText(), "Not checked yet.");
        }
    }
}

TEST(UpdateController, TheDecisionIsShownAsTheTriggerWants)
{
    struct Case {
        const char* name;
        std::function<void(nlohmann::json&, platform::UserDefaults&)> change;
        UpdateTrigger trigger;
        Kind result;
        std::vector<bool> shown;
    };
    const auto skipped = [](nlohmann::json&, platform::UserDefaults& d) { d.set("ravlenUpdateSkippedVersion", "2.0"); };
    const auto newerSystem = [](nlohmann::json& f, platform::UserDefaults&) { f["minimumSystemVersion"] = "99.0"; };
    const std::vector<Case> cases{
        {"automatic offer",
         [](nlohmann::json&, platform::UserDefaults&) {},
         UpdateTrigger::automatic,
         Kind::available,
         {false}},
        {"settings offer",
         [](nlohmann::json&, platform::UserDefaults&) {},
         UpdateTrigger::settings,
         Kind::available,
         {true}},
        {"automatic, skipped", skipped, UpdateTrigger::automatic, Kind::idle, {}},
        {"menu, skipped", skipped, UpdateTrigger::menu, Kind::available, {true}},
        {"automatic, newer system", newerSystem, UpdateTrigger::automatic, Kind::idle, {}},
        {"menu, newer system", newerSystem, UpdateTrigger::menu, Kind::needsNewerSystem, {true}},
        {"not newer",
         [](nlohmann::json& f, platform::UserDefaults&) {
             f["version"] = "1.0";
             f["build"] = 10;
         },
         UpdateTrigger::automatic,
         Kind::upToDate,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateRig rig;
        nlohmann::json feed = rig.feed();
        c.change(feed, rig.defaults);
        rig.serveFeed("/feed.json", feed);
        UpdateController& updates = rig.make();
        updates.check(c.trigger);
        ASSERT_TRUE(testsupport::waitFor([&] { return updates.state().kind != Kind::checking; }));
        EXPECT_EQ(updates.state().kind, c.result);
        EXPECT_EQ(rig.shown, c.shown);
    }
}

TEST(UpdateController, AnOpenDocumentKeepsTheUpdateWaitingWithoutDownloadingAgain)
{
    UpdateRig rig;
    quarn::DocumentWindow* window = rig.documents.openDocument(rig.pdf("changed.pdf"));
    ASSERT_NE(window, nullptr);
    window->undoStack()->push(new QUndoCommand("Edit"));
    rig.documents.askToSaveChanges = [](quarn::DocumentWindow&) { return DocumentController::CloseAnswer::cancel; };
    UpdateController& updates = rig.make();
    updates.check(UpdateTrigger::menu);
    ASSERT_TRUE(rig.reaches(Kind::available));
    updates.install();
    ASSERT_TRUE(testsupport::waitFor([&] { return updates.note().has_value(); }));
    EXPECT_EQ(updates.state().kind, Kind::readyToInstall);
    EXPECT_EQ(*updates.note(), "A document is still open, so the update is waiting.");
    EXPECT_EQ(rig.documents.windows().size(), 1u);
    EXPECT_TRUE(rig.plans.empty());

    // The user answers differently: the prepared copy is installed as it is.
    rig.documents.askToSaveChanges = [](quarn::DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    updates.install();
    EXPECT_EQ(updates.state().kind, Kind::installing);
    EXPECT_FALSE(updates.note().has_value());
    EXPECT_EQ(rig.server.requestsTo("/ravlen-2.0.zip"), 1);
    ASSERT_EQ(rig.plans.size(), 1u);
    EXPECT_TRUE(rig.plans[0].relaunch.contains("changed.pdf"));
}

TEST(UpdateController, ACopyThatCannotReplaceItselfOpensTheDownloadPage)
{
    UpdateRig rig;
    rig.team.reset(); // a development build: no seal
    UpdateController& updates = rig.make();
    updates.check(UpdateTrigger::menu);
    ASSERT_TRUE(rig.reaches(Kind::available));
    EXPECT_EQ(updates.blocker(), quarnkit::InstallBlocker::unsignedCopy);
    updates.install();
    EXPECT_EQ(rig.opened, std::vector<QUrl>{rig.server.url("/ravlen-2.0.tar")});
    EXPECT_EQ(updates.state().kind, Kind::available);
    EXPECT_EQ(rig.server.requestsTo("/ravlen-2.0.zip"), 0);
}

TEST(UpdateController, StartChecksOnceAfterLaunchWhenAutomaticCheckingIsOn)
{
    for (const bool automatic : {true, false}) {
        SCOPED_TRACE(automatic);
        UpdateRig rig;
        rig.defaults.set("ravlenUpdateCheckAutomatically", automatic);
        UpdateController& updates = rig.make();
        updates.start();
        updates.start();
        if (automatic) {
            ASSERT_TRUE(testsupport::waitFor([&] { return rig.server.requestsTo("/feed.json") > 0; }));
        }
        // That no second check comes is the point: one would have by now.
        testsupport::waitFor([&] { return rig.server.requestsTo("/feed.json") > 1; }, 500);
        EXPECT_EQ(rig.server.requestsTo("/feed.json"), automatic ? 1 : 0);
        // A check a moment ago is not due again; forced, it is.
        ASSERT_TRUE(testsupport::waitFor([&] { return updates.state().kind != Kind::checking; }));
        updates.checkIfDue(false);
        updates.checkIfDue(true);
        EXPECT_EQ(updates.state().kind, automatic ? Kind::checking : Kind::idle);
    }
}

TEST(UpdateController, StatusTextsTellTheLastCheckInRelativeDays)
{
    UpdateRig rig;
    const QDateTime now(QDate(2026, 3, 10), QTime(15, 0), Qt::UTC);
    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    struct Case {
        QDateTime lastCheck;
        QString text;
    };
    const std::vector<Case> cases{
        {QDateTime(QDate(2026, 3, 10), QTime(9, 30), Qt::UTC), "Last checked today at 9:30 AM."},
        {QDateTime(QDate(2026, 3, 9), QTime(21, 5), Qt::UTC), "Last checked yesterday at 9:05 PM."},
        {QDateTime(QDate(2025, 12, 24), QTime(8, 0), Qt::UTC), "Last checked Dec 24, 2025 at 8:00 AM."},
    };
    for (const Case& c : cases) {
        rig.defaults.set("ravlenUpdateLastCheck", double(c.lastCheck.toMSecsSinceEpoch()) / 1000);
        UpdateController& updates = rig.make();
        EXPECT_EQ(updates.statusText(now, locale).replace(QChar(0x202F), ' '), c.text);
    }
}
