#pragma once
// This copy's identity in its crash reports: what the crash writer puts in
// them and what the scanner looks for.
#include "Platform/CrashHandler.h"

#include <QString>

namespace quarnkit {

// From the Info.json of the running executable's install folder (found as
// installInfoPath() finds it, and so before the application object exists):
// the process name ("CFBundleExecutable", else the executable's file name),
// the version and build (as appShortVersion() and appBuildVersion()), and
// the bundle identifier ("CFBundleIdentifier", else "com.ombri.ravlen").
platform::CrashIdentity crashIdentity();
// The same for the executable at `executable`, or the file a link there names.
platform::CrashIdentity crashIdentity(const QString& executable);

} // namespace quarnkit
