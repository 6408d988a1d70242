#pragma once
// The crash writer. When the program dies of a fatal signal (SIGSEGV, SIGBUS,
// SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS), a handler on an alternate stack
// writes a report in the two-part .ips layout: a one-line JSON header
// ("bug_type" "309", "incident_id", "timestamp", the program's names and
// versions), then a JSON body with the signal, the crashed thread's frames
// and the executable images loaded at the time, each with its build id. The
// report goes to a temporary file in the reports folder and is then renamed
// to "<process>-<yyyy-MM-dd-HHmmss>.ips" (UTC; "-1", "-2"… added when the name
// is taken), 0600 in 0700 folders. Then the signal goes on to the handler that
// was installed before, or ends the process as it would have without us.
//
// The handler allocates nothing and calls only async-signal-safe functions:
// everything fixed is written out at install time. A report never holds the
// host name, the program's arguments or its environment.
#include <string>

namespace platform {

// What the reports say about the program, fixed at install time.
struct CrashIdentity {
    std::string processName; // "app_name" and "name"; the file names begin with it
    std::string version;     // "app_version"
    std::string build;       // "build_version"
    std::string bundleID;    // "bundleID"
};

namespace CrashHandler {

// $XDG_STATE_HOME/ravlen/DiagnosticReports, with ~/.local/state in place of an
// unset or relative XDG_STATE_HOME. Empty when no home folder is known.
std::string reportsFolder();

// Makes the reports folder, prepares the report's fixed parts (the header's
// fields, the program's path, the system's name, the build ids of the images
// loaded now) and installs the handlers, the alternate stack of the calling
// thread and a terminate handler that notes an uncaught exception's type.
// Call it first in main(). Only the first call of a process installs; false
// when the folder cannot be made, and then nothing is installed.
bool install(const CrashIdentity& identity);

} // namespace CrashHandler

} // namespace platform
