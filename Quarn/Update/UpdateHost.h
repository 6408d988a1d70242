#pragma once
// What the updater reads of the running copy and the computer, and what it
// asks of the rest of the application. Both are values handed to the
// controller, so that tests can run it against a copy and a server of their
// own, with stand-ins for starting the installer and quitting.
#include "Platform/PrivateFiles.h"
#include "QuarnKit/Update/Chip.h"
#include "QuarnKit/Update/UpdateFeed.h"
#include "QuarnKit/Update/UpdateInstaller.h"
#include "QuarnKit/Update/VersionNumber.h"

#include <QString>
#include <QUrl>

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace quarn {

class DocumentController;

struct UpdateEnvironment {
    QString installFolder;         // the running install folder (where Info.json is); empty in none
    quarnkit::UpdateSource source; // feed URLs, update key and identifier of the build
    quarnkit::AppRelease current;  // the running version and build
    QString displayName;           // the application's name in every sentence
    quarnkit::Chip chip = quarnkit::Chip::x86_64;
    quarnkit::OSVersion system; // the running C library's version
    QString systemName;         // the distribution, for display ("Debian GNU/Linux 12 (bookworm)")
    uid_t userID = 0;           // the effective user
    // Where staging folders are made: the user's private work folder.
    platform::PrivateFiles::PrivateWorkFolder workFolder = platform::PrivateFiles::PrivateWorkFolder::standard();
    QString updatesFolder; // the installer script and its log
    // The team of the running copy's seal; slow (it reads every file), so the
    // controller calls it once, off the UI thread.
    std::function<std::optional<QString>()> readTeam;

    std::chrono::milliseconds launchDelay{8000};      // start to the first automatic check
    std::chrono::milliseconds timerInterval{3600000}; // between due tests
    std::chrono::milliseconds feedTimeout{20000};     // inactivity of one feed request
    std::chrono::milliseconds feedTimeLimit{60000};   // the whole of one feed request
    std::chrono::milliseconds downloadTimeout{60000}; // inactivity of the archive download
    // The whole of the archive download, however steadily bytes trickle in.
    std::chrono::milliseconds downloadTimeLimit{3600000};
    // From asking to quit to deciding that the quit did not happen.
    std::chrono::milliseconds quitTimeout{5000};

    // The running copy: Info.json beside bin/, the system, the standard folders.
    static UpdateEnvironment running();
};

struct UpdateHost {
    // The files of the open documents, oldest window first.
    std::function<std::vector<QUrl>()> documents;
    // Closes every document window, asking about unsaved changes; false when
    // one stays open.
    std::function<bool()> closeAllDocuments;
    std::function<void()> quit;
    // Writes and starts the installer script; returns its process, throws
    // UpdateFailure(installerFailed).
    std::function<pid_t(const quarnkit::UpdateInstallPlan&, const QString& scriptPath)> startInstaller;
    // Stops a started installer script before it touches anything.
    std::function<void(pid_t)> stopInstaller;
    // Opens a web page in the user's browser.
    std::function<void(const QUrl&)> openURL;
    // The Software Update window: shown (and the application activated when
    // asked), or hidden.
    std::function<void(bool activate)> showWindow;
    std::function<void()> hideWindow;

    // Over the application's document controller and the shared window.
    static UpdateHost standard(DocumentController& documents);
};

} // namespace quarn
