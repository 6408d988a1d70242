#pragma once
// Installing a verified update: why this copy cannot replace itself, and the
// installer script that swaps the install folder once ravlen has quit, then
// starts it again. The script outlives the application in its own session.
#include <QString>
#include <QStringList>
#include <QUrl>

#include <sys/types.h>

#include <functional>
#include <optional>
#include <vector>

namespace quarnkit {

enum class InstallBlocker {
    unsignedCopy,   // a development build: no seal that holds
    packageManaged, // under /usr or another system folder, or not an install folder of its own
    translocated,   // in a folder another user may change, or below one (platform::checkProgramFolder)
    readOnlyVolume,
    runningAsRoot, // an update never installs as root
    folderNotWritable,
};

QString message(InstallBlocker blocker, const QString& app);

struct UpdateInstallPlan {
    pid_t pid = 0;                      // the running application, which the script waits for
    QString newApp;                     // the verified new install folder, inside `staging`
    QString target;                     // the install folder to replace
    QString staging;                    // the download's folder, removed at the end
    QString log;                        // the script's log file
    QString relaunch;                   // shell command that starts ravlen again: reopen()
    std::optional<QString> requirement; // what the new copy's seal must meet; none skips the script's check
    int timeout = 300;                  // seconds to wait for the application to quit
    QString verifier;                   // the installed ravlen-seal that checks the requirement
    QString publicKey;                  // base64 key the seal must hold under

    // Beside the target: ".<name>.update-backup", ".<name>.update-new" and the
    // new copy's place inside the latter. A trailing "/" on the target is ignored.
    QString backup() const;
    QString next() const;
    QString nextApp() const;
    // The script's text.
    QString script() const;

    // Starts "$TARGET/bin/ravlen" detached, with the local files among
    // `documents` when there are any (and alone if that fails).
    static QString reopen(const std::vector<QUrl>& documents);

    friend bool operator==(const UpdateInstallPlan&, const UpdateInstallPlan&) = default;
};

namespace UpdateInstaller {

// The first reason why the install folder cannot be replaced, or none.
// `team` is the running copy's (CodeSignature::runningTeamID); `userID` the
// effective user.
std::optional<InstallBlocker> blocker(const QString& installFolder, const std::optional<QString>& team, uid_t userID);

// One POSIX shell word: 'it'\''s'.
QString quote(const QString& text);

// Writes the script at `scriptPath` (a private file in a folder of ravlen's
// own, as platform::PrivateFiles::write writes one; the log is dropped first
// when it passed 256 KiB) and starts it with /bin/sh in a new session, its
// standard streams on /dev/null and no other descriptor inherited; the shell
// reads the script from a sealed copy in memory handed to it, never from its
// name. `beforeShellStarts` runs once the script is written, before the
// shell starts (tests change the name there). Returns the shell's process
// ID; throws UpdateFailure(installerFailed).
pid_t start(const UpdateInstallPlan& plan, const QString& scriptPath,
            const std::function<void()>& beforeShellStarts = {});

} // namespace UpdateInstaller

} // namespace quarnkit
