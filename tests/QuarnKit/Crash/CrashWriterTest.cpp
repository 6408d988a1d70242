// The crash writer end to end: child processes install it and crash; the
// parent finds their reports as the crash reporter will and reads them.
#include "Platform/CrashHandler.h"
#include "QuarnKit/Crash/CrashReportFiles.h"
#include "QuarnKit/Crash/CrashSubmission.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quarnkit;
using nlohmann::json;

namespace {

const QString childName = QStringLiteral("ravlen-crash-child");
const QString childBundle = QStringLiteral("com.ombri.ravlen.crashtest");
const char argumentMarker[] = "Quibble-Argument-Marker";
const char environmentMarker[] = "Zebulon-Environment-Marker";

// Runs the child with `how` and returns the signal it died of, 0 when it did not die of one.
int crashChild(const char* how, const QString& stateHome)
{
    const std::string state = "XDG_STATE_HOME=" + stateHome.toStdString();
    const std::string home = "HOME=" + stateHome.toStdString();
    const std::string marker = std::string("RAVLEN_MARKER=") + environmentMarker;
    // The sanitizers' own SIGSEGV handler would take the crash first.
    const char* environment[] = {state.c_str(), home.c_str(), marker.c_str(), "ASAN_OPTIONS=handle_segv=0", nullptr};
    const char* arguments[] = {RAVLEN_CRASH_CHILD, how, argumentMarker, nullptr};
    const pid_t child = fork();
    if (child == 0) {
        // Quiet: the standard terminate handler reports the exception on stderr.
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) dup2(quiet, 2);
        execve(RAVLEN_CRASH_CHILD, const_cast<char**>(arguments), const_cast<char**>(environment));
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return 0;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// The permission bits of a file.
unsigned modeOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The GNU build id of a file, as binutils reads it.
QString buildIdOf(const QString& path)
{
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"), {QStringLiteral("-n"), path});
    if (!readelf.waitForFinished()) return {};
    static const QRegularExpression line(QStringLiteral("Build ID: ([0-9a-f]+)"));
    return line.match(QString::fromLatin1(readelf.readAllStandardOutput())).captured(1);
}

} // namespace

TEST(CrashWriter, CrashedChildrenLeaveReportsThatAreFoundNewestFirst)
{
    QTemporaryDir state;
    ASSERT_TRUE(state.isValid());
    const QString folder = state.filePath(QStringLiteral("ravlen/DiagnosticReports"));
    const QStringList folders = CrashReportScanner::standardFolders(folder);

    EXPECT_EQ(crashChild("null", state.path()), SIGSEGV);
    const auto afterFirst = CrashReportScanner::find(folders, childBundle, childName);
    ASSERT_EQ(afterFirst.size(), 1u);
    // Reports are dated to the hundredth of a second: the second crash must come later.
    const QDateTime firstDate = afterFirst[0].date;
    ASSERT_TRUE(testsupport::waitFor([&] { return QDateTime::currentDateTimeUtc() >= firstDate.addMSecs(10); }));
    EXPECT_EQ(crashChild("throw", state.path()), SIGABRT);

    const auto found = CrashReportScanner::find(folders, childBundle, childName);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1], afterFirst[0]);
    EXPECT_GT(found[0].date, found[1].date);
    EXPECT_NE(found[0].incidentID, found[1].incidentID);

    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2)
        << "no temporary file is left";
    for (const CrashReportFile& file : found) {
        SCOPED_TRACE(file.path.toStdString());
        EXPECT_EQ(modeOf(file.path), 0600u);
        EXPECT_TRUE(QFileInfo(file.path).fileName().startsWith(childName + u'-'));
        const IPSReport report = IPSReport::read(file.path);
        EXPECT_EQ(report.header.bugType(), QStringLiteral("309"));
        EXPECT_EQ(report.header.incidentID(), file.incidentID);
        EXPECT_EQ(ipsString(ipsMember(report.body, "incident")), file.incidentID);
        EXPECT_EQ(report.header.date(), file.date);
        EXPECT_LT(file.date.secsTo(QDateTime::currentDateTimeUtc()), 60);
        EXPECT_TRUE(report.header.isFrom(childBundle, childName));

        QFile bytes(file.path);
        ASSERT_TRUE(bytes.open(QIODevice::ReadOnly));
        const QByteArray text = bytes.readAll();
        EXPECT_FALSE(text.contains(argumentMarker));
        EXPECT_FALSE(text.contains(environmentMarker));
    }

    const IPSReport thrown = IPSReport::read(found[0].path);
    EXPECT_EQ(thrown.body["exception"]["signal"], "SIGABRT");
    EXPECT_EQ(thrown.body["asi"]["libstdc++"][0],
              "terminate called after throwing an instance of 'std::runtime_error'");

    // The null read: its innermost frame lies in the child itself, whose
    // build id the payload carries as binutils reads it.
    const IPSReport faulted = IPSReport::read(found[1].path);
    EXPECT_EQ(faulted.body["exception"]["type"], "SEGV_MAPERR");
    EXPECT_EQ(faulted.body["exception"]["codes"], "0x0000000000000000");
    const CrashPayload payload = CrashSubmission(faulted, CrashRedactor::forCurrentUser()).payload();
    EXPECT_EQ(payload.app.version, QStringLiteral("1.2.3"));
    EXPECT_EQ(payload.app.build, 45);
    EXPECT_EQ(payload.crash.signal, QStringLiteral("SIGSEGV"));
    EXPECT_EQ(payload.crash.terminationReason, QStringLiteral("Namespace SIGNAL, Code 11 Segmentation fault: 11"));
    ASSERT_FALSE(payload.crash.frames.empty());
    EXPECT_EQ(payload.crash.frames[0].image, childName);
    EXPECT_EQ(payload.crash.frames[0].imageUUID, buildIdOf(QStringLiteral(RAVLEN_CRASH_CHILD)));
    EXPECT_FALSE(payload.crash.frames[0].imageUUID.isEmpty());
}
