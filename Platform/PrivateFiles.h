#pragma once
// Files and folders for one user's eyes: the files that hold the user's
// signatures or name their documents (0600 files in 0700 folders), and the
// folder where a second launch finds the running one, and the folder for the
// run's private temporary work.
#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <vector>

namespace platform::PrivateFiles {

// Makes `folder` a folder of ravlen's own (platform::holdOwnFolder): no
// folder on its way that another user can change but a sticky one, itself
// the user's and 0700, created when missing (its parents with the usual modes),
// tightened when an earlier version left it open to others. False when it
// cannot be made or may not be used; ownFolderProblem says why.
bool makeFolder(const QString& folder);
std::optional<QString> ownFolderProblem(const QString& folder);

// Writes `bytes` to `path` whole or not at all (a new file beside it, synced,
// then renamed over it) as a 0600 file in a folder made by makeFolder(),
// whatever mode the file had before; a link of the user's at that name leads
// on to its file, through folders judged as makeFolder judges those above.
// False when it could not be written.
bool write(const QString& path, const QByteArray& bytes);
// The same, but what is at the name is replaced, a link of the user's too,
// never followed: for files of a cache, which only ravlen makes.
bool replace(const QString& path, const QByteArray& bytes);

// Opens `path`, a log of ravlen's own, for appending: made 0600 in a folder
// made by makeFolder(), or closed to others when an earlier version left it
// open; a log longer than `limit` bytes is dropped first. -1 when it cannot be.
int openLog(const QString& path, qint64 limit);

// For a folder that another user could have made first, such as one under
// /tmp: makes the missing folders of `folder` (0700) and tells why it must
// not be used, or none when it may. It must be this user's, closed to group
// and others, and no link; each folder above it must be no link, belong to
// this user or to root, and be closed to writing by others unless sticky
// (as /tmp is), so that nobody can put another folder in its place. Checked
// on open descriptors, one folder at a time from the root.
std::optional<QString> privateFolderProblem(const QString& folder);

// Makes $XDG_RUNTIME_DIR a folder of this user's alone, for this process and
// every program it starts: one that privateFolderProblem refuses (another
// user's, open to others, reached through a link) is replaced by a private
// folder made as PrivateWorkFolder makes one, or unset when none can be made.
// Called first thing, before anything reads it or starts a program. Returns
// the problem of the folder replaced; none when it was kept or unset.
std::optional<QString> replaceForeignRuntimeFolder();

// Makes $TMPDIR, for this process and every program it starts, a folder
// platform::temporaryFolder takes: one another user can change (or relative)
// gives way to /tmp, or is unset when that is refused too. Called first
// thing, before anything reads it. The problem of the folder replaced.
std::optional<QString> replaceForeignTemporaryFolder();

// A base folder (configuration, data, state, cache) or the home folder
// replaced by replaceForeignBaseFolders or replaceForeignHome.
struct ReplacedBaseFolder {
    QString variable;    // "XDG_CACHE_HOME", …, "HOME"
    QString refused;     // the folder it named, or its default in the home folder
    QString problem;     // why it was refused
    QString replacement; // the folder used instead; empty when none could be made
};

// Makes $HOME, for this process and every program it starts, a folder no
// other user can change: one that platform::baseFolderProblem refuses
// (another user's, one others may write, as with a HOME passed on from
// another account) is replaced by "home" in the private work folder, or,
// when none can be made, by a path where nothing can be made; libraries
// (D-Bus's start of a session bus, the X resources, cursor themes, fonts)
// then neither read nor write anything there. Unset or relative, it is set
// to the account's own. Called first thing, after replaceForeignRuntimeFolder
// and before any library starts or any thread runs. The folder replaced, for
// the log and the notice.
std::optional<ReplacedBaseFolder> replaceForeignHome();

// Makes the base folders ravlen keeps files in ($XDG_CONFIG_HOME,
// $XDG_DATA_HOME, $XDG_STATE_HOME, $XDG_CACHE_HOME, or, unset or relative,
// their defaults in the home folder) folders no other user can change, for
// this process and every program it starts: one that
// platform::baseFolderProblem refuses is replaced by a folder of the same
// kind in the private work folder (PrivateWorkFolder::standard), or, when
// none can be made, by a path where nothing can be made. Called first
// thing, after replaceForeignRuntimeFolder. Returns the folders replaced,
// for the log.
std::vector<ReplacedBaseFolder> replaceForeignBaseFolders();

// The base folder `base` (cache, data, …) as replaceForeignBaseFolders
// judged it: the links that rule follows, as the user's own link for
// ~/.cache to another disk, resolved, so that a folder under it held by the
// stricter privateFolderProblem meets none. `base` itself when that rule
// refuses it or it is missing.
QString judgedBaseFolder(const QString& base);

// Qt's file dialog remembers the folders the user visited in QtProject.conf
// in the user's configuration folder. Qt makes that file with the usual mode
// (0644) and keeps a file's mode when it writes it again: it is made (empty)
// or tightened to 0600 here, before any dialog opens. False when it cannot be.
bool makeDialogStatePrivate();

// A private place that could not be made; the message says why.
struct PrivateFolderError : std::runtime_error {
    explicit PrivateFolderError(const QString& why) : std::runtime_error(why.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// The user's private folder for temporary work (update staging, shared
// copies): "ravlen" in the runtime folder ($XDG_RUNTIME_DIR) when that is
// private (privateFolderProblem), else a new folder made with mkdtemp in the
// temporary folder and remembered for the run. Never a name another user can
// guess and take first: a place someone else holds is passed over, not used.
class PrivateWorkFolder {
public:
    PrivateWorkFolder(QString runtimeFolder, QString temporaryFolder)
        : runtime_(std::move(runtimeFolder)), temporary_(std::move(temporaryFolder))
    {}
    // $XDG_RUNTIME_DIR (when absolute) and the system's temporary folder.
    static PrivateWorkFolder standard();

    // The folder (mode 0700, the user's own), made when needed; checked
    // again on every call. Throws PrivateFolderError when no place can be made.
    // A folder made in the temporary folder is held, for the run, by a lock
    // on a file inside it; an empty one is removed when the program ends.
    QString path() const;

    // Removes the folders that earlier runs made in the temporary folder
    // (named as path() names them, the user's own and private) that no
    // running copy holds and in which nothing changed since `unchangedSince`:
    // a copy shared with another program stays as long as in the share
    // folder. Links in them are removed, never followed. Returns how many went.
    int removeLeftovers(std::chrono::system_clock::time_point unchangedSince) const;

    friend bool operator==(const PrivateWorkFolder&, const PrivateWorkFolder&) = default;

private:
    QString runtime_;
    QString temporary_;
};

} // namespace platform::PrivateFiles
