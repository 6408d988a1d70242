// Where the program finds its index reader: beside itself or in its install
// folder, never at a path of the build that made it.
#include "QuarnKit/Explore/ExploreIndex.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

using namespace quarnkit;

TEST(ExploreIndex, TheReaderIsFoundBesideTheProgramOrInItsInstallFolder)
{
    const QFileDevice::Permissions runnable = QFileDevice::ReadOwner | QFileDevice::ExeOwner;
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, QFileDevice::Permissions>> files; // below the install folder
        const char* found;                                                   // below it; "" for none
    };
    const std::vector<Case> cases = {
        {"beside",
         {{"bin/ravlen-index-reader", runnable}, {"libexec/ravlen-index-reader", runnable}},
         "bin/ravlen-index-reader"},
        {"in libexec", {{"libexec/ravlen-index-reader", runnable}}, "libexec/ravlen-index-reader"},
        {"a copy of the program alone", {}, ""},
        {"not runnable", {{"bin/ravlen-index-reader", QFileDevice::ReadOwner}}, ""},
        {"a folder by that name", {{"bin/ravlen-index-reader/x", runnable}}, ""},
    };
    for (const Case& c : cases) {
        QTemporaryDir install;
        ASSERT_TRUE(testsupport::writeFile(install.filePath("bin/ravlen"), "program", runnable));
        for (const auto& [file, permissions] : c.files)
            ASSERT_TRUE(testsupport::writeFile(install.filePath(file), "reader", permissions)) << c.what;
        const QString expected = *c.found ? QDir(install.path()).absoluteFilePath(c.found) : QString();
        EXPECT_EQ(ExploreIndex::readerProgram(install.filePath("bin")), expected) << c.what;
    }
}
