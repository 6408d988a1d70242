// Which helper programs may run: the program and every folder on its path
// the user's or root's, written by nobody else; sticky folders (/tmp) are
// passed over above the program's own folder. Another user's files need
// root to make (chown to nobody); those cases are left out otherwise.
#include "Platform/TrustedProgram.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using platform::ProgramCheck;

namespace {

constexpr uid_t kNobody = 65534;

bool setMode(const QString& path, mode_t mode) { return ::chmod(QFile::encodeName(path).constData(), mode) == 0; }
bool giveAway(const QString& path) { return ::lchown(QFile::encodeName(path).constData(), kNobody, kNobody) == 0; }

} // namespace

TEST(TrustedProgram, OnlyAProgramNoOtherUserCanChangeRuns)
{
    // top/mid/bin/reader, all the user's and 0755 but for one step; top
    // stands for /tmp, mid for a folder made in it.
    struct Case {
        const char* what;
        const char* step; // the step changed, below the test's folder
        mode_t mode;      // its mode; 0: given to another user instead
        bool trusted;     // else refused at that step
    };
    const std::vector<Case> cases = {
        {"the user's own, in folders others cannot write", "top/mid/bin/reader", 0700, true},
        {"a sticky folder open to all above", "top", 01777, true},
        {"the program writable by others", "top/mid/bin/reader", 0757, false},
        {"the program writable by its group", "top/mid/bin/reader", 0775, false},
        {"its folder writable by others", "top/mid/bin", 0777, false},
        {"its folder sticky and open to all", "top/mid/bin", 01777, false},
        {"a folder above open to all, not sticky", "top/mid", 0777, false},
        {"a folder above writable by its group", "top", 0775, false},
        {"the program another user's", "top/mid/bin/reader", 0, false},
        {"its folder another user's", "top/mid/bin", 0, false},
        {"a folder above another user's", "top/mid", 0, false},
    };
    for (const Case& c : cases) {
        if (c.mode == 0 && ::geteuid() != 0) continue; // only root gives files away
        QTemporaryDir dir;
        const QString top = dir.filePath("top"), mid = top + "/mid", bin = mid + "/bin", reader = bin + "/reader";
        ASSERT_TRUE(testsupport::writeFile(reader, "#!/bin/sh\n")); // and its folders
        for (const QString& step : {top, mid, bin, reader}) ASSERT_TRUE(setMode(step, 0755));
        const QString changed = dir.filePath(c.step);
        ASSERT_TRUE(c.mode ? setMode(changed, c.mode) : giveAway(changed)) << c.what;

        const ProgramCheck check = platform::checkProgram(reader.toStdString());
        EXPECT_EQ(check.verdict, c.trusted ? ProgramCheck::Verdict::trusted : ProgramCheck::Verdict::untrusted)
            << c.what << ": " << check.path;
        EXPECT_EQ(check.path, QFileInfo(c.trusted ? reader : changed).canonicalFilePath().toStdString()) << c.what;
    }
}

TEST(TrustedProgram, ALinkIsJudgedByWhatItLeadsTo)
{
    QTemporaryDir dir;
    const QString reader = dir.filePath("private/reader"), open = dir.filePath("open");
    ASSERT_TRUE(testsupport::writeFile(reader, "#!/bin/sh\n"));
    ASSERT_TRUE(setMode(reader, 0755) && setMode(dir.filePath("private"), 0700));
    ASSERT_TRUE(QDir().mkpath(open) && setMode(open, 0777));
    // A link in a folder anyone can change leads to the user's own program:
    // that program, by its own path, is what runs.
    ASSERT_TRUE(QFile::link(reader, open + "/link"));
    const ProgramCheck viaLink = platform::checkProgram((open + "/link").toStdString());
    EXPECT_EQ(viaLink.verdict, ProgramCheck::Verdict::trusted);
    EXPECT_EQ(viaLink.path, QFileInfo(reader).canonicalFilePath().toStdString());
    // Leading into the open folder, it is refused there.
    ASSERT_TRUE(QFile::copy(reader, open + "/reader") && setMode(open + "/reader", 0755));
    ASSERT_TRUE(QFile::link(open + "/reader", dir.filePath("private/back")));
    EXPECT_EQ(platform::checkProgram(dir.filePath("private/back").toStdString()).verdict,
              ProgramCheck::Verdict::untrusted);
    EXPECT_EQ(platform::checkProgram(dir.filePath("missing").toStdString()).verdict, ProgramCheck::Verdict::missing);
}
