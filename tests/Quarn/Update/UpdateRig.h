#pragma once
// An updater under test: an installed copy 1.0 (10) sealed by a key of the
// test's own, a signed release 2.0 (20) of it and its feed on a local HTTPS
// server, the application's document controller, and stand-ins that record
// the installer start, the quit, the browser and the window.
#include "support/HttpsTestServer.h"

#include "Platform/Crypto.h"
#include "Platform/UserDefaults.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/Update/UpdateController.h"
#include "QuarnKit/Update/UpdateFixtures.h"
#include "QuarnKit/Update/UpdateStaging.h"
#include "support/TestSupport.h"

#include <nlohmann/json.hpp>

#include <QDir>
#include <QTemporaryDir>

#include <vector>

namespace updatetest {

struct UpdateRig {
    QTemporaryDir dir;
    testsupport::HttpsTestServer server;
    platform::Crypto::KeyPair keys = platform::Crypto::generateKeyPair();
    QString installFolder = dir.filePath("opt/ravlen");
    QString temporaryRoot = dir.filePath("tmp");
    // The private work folder: "ravlen" in the rig's runtime folder.
    platform::PrivateFiles::PrivateWorkFolder workFolder{dir.filePath("run"), temporaryRoot};
    platform::UserDefaults defaults{dir.filePath("defaults.json")};
    quarn::DocumentController documents;
    quarnkit::UpdateFeed::Archive archive; // the release as published

    // What the stand-ins saw.
    std::vector<quarnkit::UpdateInstallPlan> plans;
    std::vector<QString> scripts;
    int quits = 0;
    std::vector<pid_t> stopped;
    std::vector<QUrl> opened;
    std::vector<bool> shown; // activate flags
    int hidden = 0;
    std::optional<QString> team = quarnkit::Seal::teamOf(keys.publicKey);
    std::vector<quarn::UpdateState> states;

    std::unique_ptr<quarn::UpdateController> controller;

    UpdateRig()
    {
        QDir().mkpath(temporaryRoot);
        updatefixtures::makeInstallFolder(installFolder, "1.0", "10", updatefixtures::nativeProgram());
        const QString release = dir.filePath("release/ravlen");
        updatefixtures::makeInstallFolder(release, "2.0", "20", updatefixtures::nativeProgram());
        archive = updatefixtures::publishRelease(release, dir.filePath("ravlen-2.0.zip"), keys.secretKey,
                                                 server.url("/ravlen-2.0.zip"));
        server.answer("/ravlen-2.0.zip", {200, updatefixtures::readFile(dir.filePath("ravlen-2.0.zip")), 40});
        serveFeed("/feed.json", feed());
        documents.askToSaveChanges = [](quarn::DocumentWindow&) {
            return quarn::DocumentController::CloseAnswer::discard;
        };
        documents.showFailure = [](const QString&, const QString&, QWidget*) {};
    }
    ~UpdateRig()
    {
        controller.reset();
        documents.askToSaveChanges = [](quarn::DocumentWindow&) {
            return quarn::DocumentController::CloseAnswer::discard;
        };
        documents.closeAll();
    }

    // The release's feed: one build, for this computer's processor.
    nlohmann::json feed() const
    {
        nlohmann::json document = updatefixtures::validFeed();
        nlohmann::json build = document["builds"]["x86_64"];
        build["dmg"]["url"] = server.url("/ravlen-2.0.tar").toString().toStdString();
        build["update"] = {{"url", archive.url.toString().toStdString()},
                           {"size", archive.size},
                           {"sha256", archive.sha256.toStdString()},
                           {"edSignature", archive.edSignature.toStdString()}};
        document["version"] = "2.0";
        document["build"] = 20;
        document["minimumSystemVersion"] = "2.0";
        document["builds"] = {{quarnkit::rawValue(quarnkit::nativeChip()).toStdString(), build}};
        return document;
    }
    void serveFeed(const QString& path, const nlohmann::json& document)
    {
        server.answer(path, {200, QByteArray::fromStdString(document.dump())});
    }

    quarn::UpdateEnvironment environment(const std::vector<QString>& feedPaths = {"/feed.json"}) const
    {
        quarn::UpdateEnvironment e;
        e.installFolder = installFolder;
        for (const QString& path : feedPaths) e.source.feedURLs.push_back(server.url(path));
        e.source.publicKey = platform::Crypto::toBase64(keys.publicKey);
        e.source.identifier = "com.ombri.ravlen";
        e.current = {"1.0", 10};
        e.displayName = "ravlen";
        e.chip = quarnkit::nativeChip();
        e.system = {2, 36, 0};
        e.systemName = "Debian GNU/Linux 12 (bookworm)";
        e.userID = 1000;
        e.workFolder = workFolder;
        e.updatesFolder = dir.filePath("cache/Updates");
        e.readTeam = [team = team] { return team; };
        e.launchDelay = std::chrono::milliseconds(50);
        e.quitTimeout = std::chrono::milliseconds(60000);
        return e;
    }

    quarn::UpdateHost host()
    {
        quarn::UpdateHost h = quarn::UpdateHost::standard(documents);
        h.startInstaller = [this](const quarnkit::UpdateInstallPlan& plan, const QString& script) {
            plans.push_back(plan);
            scripts.push_back(script);
            return pid_t(424242);
        };
        h.quit = [this] { ++quits; };
        h.stopInstaller = [this](pid_t pid) { stopped.push_back(pid); };
        h.openURL = [this](const QUrl& url) { opened.push_back(url); };
        h.showWindow = [this](bool activate) { shown.push_back(activate); };
        h.hideWindow = [this] { ++hidden; };
        return h;
    }

    quarn::UpdateController& make(quarn::UpdateEnvironment e)
    {
        controller = std::make_unique<quarn::UpdateController>(defaults, std::move(e), host());
        QObject::connect(controller.get(), &quarn::UpdateController::changed, controller.get(),
                         [this] { states.push_back(controller->state()); });
        testsupport::waitFor([this] { return controller->teamKnown(); });
        states.clear();
        return *controller;
    }
    quarn::UpdateController& make() { return make(environment()); }

    bool reaches(quarn::UpdateState::Kind kind, int timeoutMs = 30000) const
    {
        return testsupport::waitFor([&] { return controller->state().kind == kind; }, timeoutMs);
    }
    // The staging folders in the private work folder.
    QStringList stagingFolders() const
    {
        return QDir(quarnkit::StagingFolder::privateRoot(workFolder))
            .entryList({"*-update-*"}, QDir::AllEntries | QDir::Hidden);
    }
    QString pdf(const QString& name) const
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) file.write(testsupport::makeTextPdf(2));
        return path;
    }
};

} // namespace updatetest
