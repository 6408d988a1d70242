#include "QuarnKit/Update/UpdateInstaller.h"

#include "Platform/FileDescriptor.h"
#include "Platform/FileReplacement.h"
#include "Platform/PrivateFiles.h"
#include "Platform/TrustedProgram.h"

#include "QuarnKit/Update/UpdateError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

extern char** environ;

namespace quarnkit {

namespace {

// Where the shell finds the script it runs.
constexpr int scriptDescriptor = 3;

QString cleanTarget(const QString& target) { return QDir::cleanPath(target); }

QString besideTarget(const QString& target, const char* suffix)
{
    const QFileInfo info(cleanTarget(target));
    return QDir(info.path()).filePath(u'.' + info.fileName() + QLatin1String(suffix));
}

// Folders whose contents belong to the system and its package manager.
bool isSystemFolder(const QString& path)
{
    if (path == QLatin1String("/")) return true;
    for (const char* root : {"/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/etc", "/var", "/boot",
                             "/dev", "/proc", "/sys", "/run", "/snap"}) {
        const QString top = QLatin1String(root);
        if (path == top || path.startsWith(top + u'/')) return true;
    }
    return path == QDir::cleanPath(QDir::homePath());
}

// setsid -f returns before the program starts, so a missing program is
// caught by the test in front of it.
QString openCommand(const QString& arguments)
{
    return QStringLiteral("{ [ -x \"$TARGET/bin/ravlen\" ] && /usr/bin/setsid -f \"$TARGET/bin/ravlen\"") + arguments
           + QStringLiteral(" </dev/null >/dev/null 2>&1; }");
}

} // namespace

QString message(InstallBlocker blocker, const QString& app)
{
    switch (blocker) {
    case InstallBlocker::unsignedCopy:
        return QStringLiteral("This copy of ") + app
               + QStringLiteral(" is a development build, so it can't update itself.");
    case InstallBlocker::packageManaged:
        return app + QStringLiteral(" was installed by the system's package manager, so it can't update itself.");
    case InstallBlocker::translocated:
        return QStringLiteral("Move ") + app + QStringLiteral(" to a folder of your own so it can update itself.");
    case InstallBlocker::readOnlyVolume:
        return app + QStringLiteral(" is running from a read-only disk, so it can't update itself.");
    case InstallBlocker::runningAsRoot: return app + QStringLiteral(" is running as root, so it won't update itself.");
    case InstallBlocker::folderNotWritable: return app + QStringLiteral(" can't replace itself in the folder it's in.");
    }
    return {};
}

QString UpdateInstallPlan::backup() const { return besideTarget(target, ".update-backup"); }
QString UpdateInstallPlan::next() const { return besideTarget(target, ".update-new"); }
QString UpdateInstallPlan::nextApp() const { return QDir(next()).filePath(QFileInfo(cleanTarget(target)).fileName()); }

QString UpdateInstallPlan::reopen(const std::vector<QUrl>& documents)
{
    QStringList paths;
    for (const QUrl& url : documents)
        if (url.isLocalFile()) paths << UpdateInstaller::quote(url.toLocalFile());
    if (paths.isEmpty()) return openCommand({});
    return openCommand(u' ' + paths.join(u' ')) + QStringLiteral(" || ") + openCommand({});
}

QString UpdateInstallPlan::script() const
{
    using UpdateInstaller::quote;
    QString s;
    s += QStringLiteral("#!/bin/sh\n# Installs an update once the running app quits, then opens it again.\n\n");
    s += QStringLiteral("PID=%1\n").arg(pid);
    s += QStringLiteral("NEW_APP=") + quote(QDir::cleanPath(newApp)) + u'\n';
    s += QStringLiteral("TARGET=") + quote(cleanTarget(target)) + u'\n';
    s += QStringLiteral("BACKUP=") + quote(backup()) + u'\n';
    s += QStringLiteral("NEXT=") + quote(next()) + u'\n';
    s += QStringLiteral("NEXT_APP=") + quote(nextApp()) + u'\n';
    s += QStringLiteral("STAGING=") + quote(QDir::cleanPath(staging)) + u'\n';
    s += QStringLiteral("LOG=") + quote(log) + u'\n';
    s += QStringLiteral("VERIFIER=") + quote(verifier) + u'\n';
    s += QStringLiteral("PUBLIC_KEY=") + quote(publicKey) + u'\n';
    s += QStringLiteral("REQUIREMENT=") + quote(requirement.value_or(QString())) + u'\n';
    s += QStringLiteral("TIMEOUT=%1\n").arg(std::max(timeout, 1));
    // The shell reads the script through a descriptor of its own, opened
    // from the one it was handed: the programs it starts get neither.
    s += QStringLiteral("\n# The shell has this script open already.\nexec %1<&-\n").arg(scriptDescriptor);
    s += QStringLiteral("\n"
                        "log() {\n"
                        "  printf '%s %s\\n' \"$(/bin/date '+%Y-%m-%d %H:%M:%S')\" \"$1\" >> \"$LOG\" 2>/dev/null\n"
                        "}\n"
                        "\n"
                        "relaunch() {\n"
                        "  log \"Opening $TARGET\"\n"
                        "  ");
    s += relaunch
         + QStringLiteral(" || log \"Couldn't open the app.\"\n"
                          "}\n");
    s += QStringLiteral(R"SH(
# Stops without touching the installed copy, and opens it again.
stop() {
  log "Stopped: $1"
  /bin/rm -rf "$NEXT" "$STAGING"
  relaunch
  return 1
}

main() {
  log "Waiting for process $PID to quit."
  ticks=$((TIMEOUT * 5))
  while kill -0 "$PID" 2>/dev/null; do
    if [ "$ticks" -le 0 ]; then
      log "Stopped: the app is still running after $TIMEOUT seconds."
      /bin/rm -rf "$STAGING"
      return 1
    fi
    ticks=$((ticks - 1))
    /bin/sleep 0.2
  done

  if [ ! -d "$NEW_APP" ] || [ ! -d "$TARGET" ]; then
    stop "the new copy or the old one is missing."
    return 1
  fi

  /bin/rm -rf "$NEXT" "$BACKUP"
  if [ -e "$NEXT" ] || [ -e "$BACKUP" ]; then
    stop "couldn't clear $NEXT or $BACKUP."
    return 1
  fi

  if ! /bin/mkdir "$NEXT" || ! /bin/cp -a "$NEW_APP" "$NEXT_APP"; then
    stop "couldn't copy the new version."
    return 1
  fi

  # The installed copy's verifier checks the new copy's seal once more.
  if [ -n "$REQUIREMENT" ] && ! "$VERIFIER" verify "$NEXT_APP" "$PUBLIC_KEY" "$REQUIREMENT" >/dev/null 2>&1; then
    stop "the new copy failed its signature check."
    return 1
  fi

  # -T: each move renames onto the name itself, never into a folder found
  # there, and fails when one is in the way.
  if ! /bin/mv -T "$TARGET" "$BACKUP"; then
    stop "couldn't move the old copy aside."
    return 1
  fi
  placed=
  if [ ! -e "$TARGET" ] && /bin/mv -T "$NEXT_APP" "$TARGET"; then
    /bin/rm -rf "$BACKUP" "$NEXT"
    log "Installed the new copy at $TARGET"
    result=0
    placed=1
  else
    log "Couldn't move the new copy into place. Restoring the old copy."
    if [ ! -e "$TARGET" ] && /bin/mv -T "$BACKUP" "$TARGET"; then
      log "Restored the old copy."
      placed=1
    else
      log "Couldn't restore the old copy. It is at $BACKUP"
    fi
    /bin/rm -rf "$NEXT"
    result=1
  fi

  /bin/rm -rf "$STAGING"
  # Only a copy this script put at $TARGET is opened: whatever else is there now is not ours.
  if [ -n "$placed" ]; then
    relaunch
  else
    log "Not opening the app: neither the new copy nor the old one is at $TARGET."
  fi
  return $result
}

main
exit $?
)SH");
    return s;
}

std::optional<InstallBlocker> UpdateInstaller::blocker(const QString& installFolder, const std::optional<QString>& team,
                                                       uid_t userID)
{
    if (!team || team->isEmpty()) return InstallBlocker::unsignedCopy;
    const QString folder = cleanTarget(QDir(installFolder).absolutePath());
    // Only a folder of ravlen's own, with Info.json at its top, is swapped whole.
    if (isSystemFolder(folder) || !QFileInfo(QDir(folder).filePath(QStringLiteral("Info.json"))).isFile())
        return InstallBlocker::packageManaged;
    // The script moves the copy aside and the new one in: where another user
    // may change the folder it is in (a sticky one too, where they may take
    // the free name between the two moves) or one above, their program
    // would be started in its place. The helper check's own rule.
    if (platform::checkProgramFolder(QFile::encodeName(folder).toStdString()).verdict
        != platform::ProgramCheck::Verdict::trusted)
        return InstallBlocker::translocated;
    struct statvfs volume {};
    if (::statvfs(QFile::encodeName(folder).constData(), &volume) == 0 && (volume.f_flag & ST_RDONLY))
        return InstallBlocker::readOnlyVolume;
    if (userID == 0) return InstallBlocker::runningAsRoot;
    const QByteArray parent = QFile::encodeName(QFileInfo(folder).path());
    if (::access(parent.constData(), W_OK) != 0 || ::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        return InstallBlocker::folderNotWritable;
    return std::nullopt;
}

QString UpdateInstaller::quote(const QString& text)
{
    QString quoted = text;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

pid_t UpdateInstaller::start(const UpdateInstallPlan& plan, const QString& scriptPath,
                             const std::function<void()>& beforeShellStarts)
{
    const auto fail = [] { return UpdateFailure(UpdateError::installerFailed); };
    if (!QDir::isAbsolutePath(scriptPath) || !QDir::isAbsolutePath(plan.log)) throw fail();
    // The script and its log name the user's documents: private files in
    // folders of ravlen's own (never one another user can change), the
    // script kept as the record of what ran. The shell reads the same text
    // from a sealed copy in memory: nothing it runs is read again by name.
    const QByteArray text = plan.script().toUtf8();
    if (!platform::PrivateFiles::write(scriptPath, text)) throw fail();
    // The script only appends: the log is made here, 0600, or closed to
    // others when an earlier version left it open.
    const platform::FileDescriptor log(platform::PrivateFiles::openLog(plan.log, 262144));
    if (log.fd < 0) throw fail();
    const platform::FileDescriptor made(::memfd_create("install.sh", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    // Above the descriptor the shell finds it on, so that the move there is one.
    const platform::FileDescriptor script(made.fd < 0 ? -1 : ::fcntl(made.fd, F_DUPFD_CLOEXEC, scriptDescriptor + 1));
    if (script.fd < 0 || platform::writeAllAt(script.fd, text.constData(), std::size_t(text.size()), 0) != 0
        || ::fcntl(script.fd, F_ADD_SEALS, F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE) != 0)
        throw fail();
    if (beforeShellStarts) beforeShellStarts();

    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // The script on descriptor 3, which it closes first; no other descriptor
    // of the application reaches it.
    posix_spawn_file_actions_adddup2(&actions, script.fd, scriptDescriptor);
    posix_spawn_file_actions_addclosefrom_np(&actions, scriptDescriptor + 1);

    char shell[] = "/bin/sh";
    char path[] = "/proc/self/fd/3";
    char* arguments[] = {shell, path, nullptr};
    pid_t pid = 0;
    const int result = posix_spawn(&pid, "/bin/sh", &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) throw fail();
    return pid;
}

} // namespace quarnkit
