#include "QuarnKit/Crash/CrashIdentity.h"

#include "QuarnKit/Shell/VersionTexts.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using quarnkit::crashIdentity;

TEST(CrashIdentity, ReadsTheInstallFoldersInfoJsonElseFallsBack)
{
    QTemporaryDir none;
    const std::string version = quarnkit::appShortVersion(none.filePath("none.json")).toStdString();
    const std::string build = quarnkit::appBuildVersion(none.filePath("none.json")).toStdString();
    struct Case {
        const char* info; // the install folder's Info.json; none when null
        platform::CrashIdentity expected;
    };
    const std::vector<Case> cases = {
        {R"({"CFBundleExecutable": "quarn", "CFBundleShortVersionString": "2.4.1", "CFBundleVersion": "317",
             "CFBundleIdentifier": "org.example.quarn"})",
         {"quarn", "2.4.1", "317", "org.example.quarn"}},
        {"{}", {"ravlen-beta", version, build, "com.ombri.ravlen"}},
        {R"({"CFBundleExecutable": "", "CFBundleIdentifier": 7, "CFBundleVersion": "9"})",
         {"ravlen-beta", version, "9", "com.ombri.ravlen"}},
        {"damaged {", {"ravlen-beta", version, build, "com.ombri.ravlen"}},
        {nullptr, {"ravlen-beta", version, build, "com.ombri.ravlen"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.info ? c.info : "no Info.json");
        QTemporaryDir install;
        ASSERT_TRUE(QDir(install.path()).mkpath("bin"));
        const QString executable = install.filePath("bin/ravlen-beta");
        ASSERT_TRUE(testsupport::writeFile(executable, "#!/bin/sh\n"));
        if (c.info) {
            ASSERT_TRUE(testsupport::writeFile(install.filePath("Info.json"), c.info));
        }
        // Started through a link elsewhere, as /proc/self/exe is: the install folder is the target's.
        const QString link = none.filePath("link");
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(executable, link));
        for (const QString& path : {executable, link}) {
            const platform::CrashIdentity identity = crashIdentity(path);
            EXPECT_EQ(identity.processName, c.expected.processName);
            EXPECT_EQ(identity.version, c.expected.version);
            EXPECT_EQ(identity.build, c.expected.build);
            EXPECT_EQ(identity.bundleID, c.expected.bundleID);
        }
    }
}
