#pragma once
// Where a downloaded update waits until it is installed, and its checks.
// A staging folder is "<identifier>-update-<UUID>" inside the user's private
// work folder (platform::PrivateFiles::PrivateWorkFolder: 0700, the user's
// own, never a link), so no other user of the machine can read, replace or
// plant what gets installed. The process that made a folder holds a lock on it while it uses
// it; cleaning leaves locked and recent folders alone.
#include "Platform/PrivateFiles.h"
#include "QuarnKit/Update/Chip.h"
#include "QuarnKit/Update/UpdateFeed.h"
#include "QuarnKit/Update/VersionNumber.h"

#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>

namespace quarnkit {

class StagingFolder {
public:
    using WorkFolder = platform::PrivateFiles::PrivateWorkFolder;
    // A folder not touched for this long, and held by no process, is stale:
    // the installer script is done with it well within that time.
    static constexpr qint64 staleAfterSeconds = 3600;

    // Makes a new folder (mode 0700) in the private work folder and locks it.
    // Throws UpdateFailure(noPrivateFolder) when either folder cannot be made
    // safely.
    static std::unique_ptr<StagingFolder> make(const WorkFolder& place, const QString& identifier);
    ~StagingFolder(); // lets go of the lock; the files stay
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    const QString& path() const { return path_; }
    QString archive() const;  // "update.zip"
    QString unzipped() const; // "Unzipped", where the archive is unpacked

    // The installer script takes the folder over: its time becomes now, so
    // that it is not stale while the script runs, and the lock is let go.
    void handOver();

    // "<identifier>-update-", or "-update-" for an identifier that is empty or
    // not a plain name (letters, digits, "." and "-").
    static QString prefix(const QString& identifier);
    // The private work folder where staging folders are made; throws
    // platform::PrivateFiles::PrivateFolderError.
    static QString privateRoot(const WorkFolder& place);
    // Removes a folder and everything in it; links are removed, never
    // followed. Blocking: call it off the UI thread.
    static void remove(const QString& path);
    // Removes the staging folders of `identifier` in the private work folder
    // that no process holds and that were last changed staleAfterSeconds or
    // more before `now`. Nothing happens when that folder is not the user's
    // own. Blocking: call it off the UI thread.
    static void removeStale(const WorkFolder& place, const QString& identifier,
                            const QDateTime& now = QDateTime::currentDateTimeUtc());

private:
    StagingFolder(QString path, int lock) : path_(std::move(path)), lock_(lock) {}
    QString path_;
    int lock_ = -1;
};

// What a finished download is checked against.
struct DownloadCheck {
    QString archive;  // the downloaded file
    QString unzipped; // the folder it is unpacked into
    UpdateFeed::Archive expected;
    QString publicKey;
    QString identifier; // the running copy's
    AppRelease current;
    AppRelease offered; // the feed's release, which the archive must hold
    Chip chip = Chip::x86_64;
    std::optional<QString> team;
};

namespace UpdateVerification {
// The archive checked against the feed and unpacked from the checked bytes
// into `unzipped` (UpdateVerifier::checkAndUnpack), then the new copy checked
// against the running one. A new copy of another release than the feed
// offers is damagedFeed: installed, it would be offered the same release
// again at every check.
// Returns the new install folder; throws UpdateFailure, any other failure
// as damagedArchive. Blocking: runs off the UI thread.
QString verifyDownload(const DownloadCheck& check);
} // namespace UpdateVerification

} // namespace quarnkit
