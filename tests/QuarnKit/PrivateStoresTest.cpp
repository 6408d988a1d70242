// The files that hold the user's signatures or name their documents are
// theirs alone: 0600 files in 0700 folders, however they were left before,
// and never written through a link another user made.
#include "Platform/UserDefaults.h"
#include "QuarnKit/History/HistoryStore.h"
#include "QuarnKit/Signatures/SignatureStore.h"
#include "QuarnKit/Update/UpdateInstaller.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

using namespace quarnkit;

namespace {

int modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

TEST(PrivateStores, EveryStoreKeepsItsFileToItsUser)
{
    struct Case {
        const char* fileName;
        std::function<void(const QString& folder)> write;
    };
    const std::vector<Case> cases = {
        {"defaults.json",
         [](const QString& folder) {
             platform::UserDefaults defaults(folder + "/defaults.json");
             defaults.set("ravlenReadingPositions", QUuid::createUuid().toString().toStdString()); // a change each time
             defaults.synchronize();
         }},
        {"history.json",
         [](const QString& folder) {
             HistoryStore store(folder);
             store.record("/home/someone/Private/letter.pdf");
             store.flush();
         }},
        {"signatures.json",
         [](const QString& folder) {
             Signature signature;
             signature.id = QUuid::createUuid();
             signature.strokes = {{{0, 0}, {1, 1}}};
             try {
                 SignatureStore(folder).add(signature);
             } catch (const std::exception&) {} // told by the file that is not there
         }},
        {"install.sh",
         [](const QString& folder) {
             // The updater's script, for a copy that is not there: it stops at once.
             UpdateInstallPlan plan;
             const pid_t ended = ::fork();
             if (ended == 0) ::_exit(0);
             ::waitpid(ended, nullptr, 0);
             plan.pid = ended;
             plan.newApp = folder + "/new/ravlen";
             plan.target = plan.staging = folder + "/ravlen";
             plan.log = folder + "/update.log";
             plan.relaunch = UpdateInstallPlan::reopen({});
             try {
                 const pid_t script = UpdateInstaller::start(plan, folder + "/install.sh");
                 ::waitpid(script, nullptr, 0);
             } catch (const std::exception&) {} // not started
         }},
    };
    const mode_t saved = ::umask(022);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileName);
        QTemporaryDir dir;
        const QString folder = dir.filePath("share/ravlen");
        const QString file = folder + "/" + c.fileName;
        c.write(folder); // a first run makes the folder
        EXPECT_EQ(modeOf(folder), 0700);
        EXPECT_EQ(modeOf(file), 0600);
        // Left readable by an earlier version: tightened by the next write.
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
        c.write(folder);
        EXPECT_EQ(modeOf(folder), 0700);
        EXPECT_EQ(modeOf(file), 0600);
        EXPECT_EQ(modeOf(dir.filePath("share")), 0755) << "the folders above are not ours to change";
        // The user's own link at the file's name leads the write on to its file.
        const QString kept = dir.filePath("kept/") + c.fileName;
        ASSERT_TRUE(QDir().mkpath(dir.filePath("kept")) && QFile::rename(file, kept) && QFile::link(kept, file));
        ASSERT_EQ(::chmod(QFile::encodeName(kept).constData(), 0644), 0);
        c.write(folder);
        EXPECT_TRUE(QFileInfo(file).isSymLink());
        EXPECT_EQ(modeOf(kept), 0600);
        if (::geteuid() != 0) continue; // only root gives a link away
        // A link another user made on the way leads the write nowhere.
        const QString elsewhere = dir.filePath("elsewhere"), via = dir.filePath("via");
        ASSERT_TRUE(QDir().mkpath(elsewhere) && QFile::link(elsewhere, via));
        ASSERT_EQ(::lchown(QFile::encodeName(via).constData(), 4242, 4242), 0);
        c.write(via + "/ravlen");
        EXPECT_FALSE(QFileInfo::exists(elsewhere + "/ravlen")) << "written through another user's link";
        // Nor does one at the file's name itself.
        const QString planted = dir.filePath("planted"), bait = dir.filePath("bait");
        ASSERT_TRUE(testsupport::writeFile(bait, "bait") && QDir().mkpath(planted));
        ASSERT_TRUE(QFile::link(bait, planted + "/" + c.fileName));
        ASSERT_EQ(::lchown(QFile::encodeName(planted + "/" + c.fileName).constData(), 4242, 4242), 0);
        c.write(planted);
        EXPECT_EQ(testsupport::readFile(bait), "bait") << "written through another user's link";
    }
    ::umask(saved);
}
