// ravlen-seal as a maintainer and the installer script use it.
#include "Platform/Crypto.h"
#include "QuarnKit/Update/CodeSignature.h"
#include "QuarnKit/Update/Seal.h"
#include "QuarnKit/Update/UpdateFixtures.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace quarnkit;
namespace Crypto = platform::Crypto;
using updatefixtures::makeInstallFolder;
using updatefixtures::readFile;
using updatefixtures::writeFile;

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun sealTool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(RAVLEN_SEAL_TOOL), arguments);
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()).trimmed(), QString::fromUtf8(process.readAllStandardError()).trimmed()};
}

} // namespace

TEST(SealTool, MakesKeysSealsSignsAndVerifies)
{
    QTemporaryDir dir;
    const QString key = dir.filePath("release key");
    const QString folder = dir.filePath("it's ravlen");
    ASSERT_TRUE(makeInstallFolder(folder, "2.0", "20", "program"));

    const ToolRun keygen = sealTool({"keygen", key});
    ASSERT_EQ(keygen.exitCode, 0) << keygen.err.toStdString();
    const auto publicKey = CodeSignature::publicKeyFromText(QString::fromLatin1(readFile(key + ".pub")));
    ASSERT_TRUE(publicKey);
    EXPECT_EQ(keygen.out, Crypto::toBase64(*publicKey)) << "the public key is printed for the build's settings";
    EXPECT_EQ(QFile::permissions(key) & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
    EXPECT_NE(sealTool({"keygen", key}).exitCode, 0) << "a key is never overwritten";

    ASSERT_EQ(sealTool({"seal", folder, key}).exitCode, 0);
    const ToolRun verified = sealTool({"verify", folder, key + ".pub"});
    EXPECT_EQ(verified.exitCode, 0) << verified.err.toStdString();
    EXPECT_EQ(sealTool({"verify", folder, Crypto::toBase64(*publicKey)}).exitCode, 0) << "the key's text serves too";
    const QString requirement = *CodeSignature::requirement("com.ombri.ravlen", Seal::teamOf(*publicKey));
    EXPECT_EQ(sealTool({"verify", folder, key + ".pub", requirement}).exitCode, 0);
    EXPECT_NE(sealTool({"verify", folder, key + ".pub", *CodeSignature::requirement("com.example.other", "ABCDE12345")}).exitCode, 0);

    // The signature printed for the feed verifies over the archive's bytes.
    ASSERT_TRUE(writeFile(dir.filePath("update.zip"), "archive bytes"));
    const ToolRun signature = sealTool({"sign", dir.filePath("update.zip"), key});
    ASSERT_EQ(signature.exitCode, 0);
    EXPECT_TRUE(Crypto::verify("archive bytes", *Crypto::fromBase64Strict(signature.out), *publicKey));

    EXPECT_EQ(sealTool({"unknown"}).exitCode, 2);
    EXPECT_NE(sealTool({"seal", folder, key + ".pub"}).exitCode, 0) << "a public key cannot seal";
}

TEST(SealTool, AFolderNamedFromTheWorkingFolderIsSealedByItsOwnPaths)
{
    QTemporaryDir dir;
    ASSERT_TRUE(makeInstallFolder(dir.filePath("opt/ravlen"), "2.0", "20", "program"));
    ASSERT_EQ(sealTool({"keygen", dir.filePath("key")}).exitCode, 0);
    QProcess seal;
    seal.setWorkingDirectory(dir.path());
    seal.start(QStringLiteral(RAVLEN_SEAL_TOOL), {"seal", "opt/ravlen", "key"});
    ASSERT_TRUE(seal.waitForFinished(60000));
    ASSERT_EQ(seal.exitCode(), 0);
    const ToolRun verified = sealTool({"verify", dir.filePath("opt/ravlen"), dir.filePath("key.pub")});
    EXPECT_EQ(verified.exitCode, 0) << verified.err.toStdString();
}

TEST(SealTool, VerifyNamesTheFirstChange)
{
    using Change = std::function<void(const QString&)>;
    const std::vector<std::tuple<const char*, Change, QString>> cases = {
        {"a changed file", [](const QString& f) { writeFile(f + "/lib/libravlen-kit.so", "patched"); }, "changed: lib/libravlen-kit.so"},
        {"an added file", [](const QString& f) { writeFile(f + "/bin/helper", "new"); }, "added: bin/helper"},
        {"a removed file", [](const QString& f) { QFile::remove(f + "/share/ravlen/notes.txt"); }, "removed: share/ravlen/notes.txt"},
        {"a changed mode",
         [](const QString& f) { QFile::setPermissions(f + "/Info.json", updatefixtures::executableMode); }, "mode changed: Info.json"},
        {"a file replaced by a link",
         [](const QString& f) {
             QFile::remove(f + "/bin/ravlen");
             QFile::link("/bin/true", f + "/bin/ravlen");
         },
         "changed: bin/ravlen"},
        {"no seal", [](const QString& f) { QFile::remove(f + "/Seal.json"); }, "no seal"},
    };
    for (const auto& [why, change, named] : cases) {
        SCOPED_TRACE(why);
        QTemporaryDir dir;
        const QString folder = dir.filePath("ravlen");
        ASSERT_TRUE(makeInstallFolder(folder, "2.0", "20", "program"));
        ASSERT_EQ(sealTool({"keygen", dir.filePath("key")}).exitCode, 0);
        ASSERT_EQ(sealTool({"seal", folder, dir.filePath("key")}).exitCode, 0);
        change(folder);
        const ToolRun run = sealTool({"verify", folder, dir.filePath("key.pub")});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.endsWith(named)) << run.err.toStdString();
    }
}

TEST(SealTool, ASealByAnotherKeyDoesNotHold)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("ravlen");
    ASSERT_TRUE(makeInstallFolder(folder, "2.0", "20", "program"));
    ASSERT_EQ(sealTool({"keygen", dir.filePath("ours")}).exitCode, 0);
    ASSERT_EQ(sealTool({"keygen", dir.filePath("theirs")}).exitCode, 0);
    ASSERT_EQ(sealTool({"seal", folder, dir.filePath("theirs")}).exitCode, 0);
    const ToolRun run = sealTool({"verify", folder, dir.filePath("ours.pub")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("not signed by this key")) << run.err.toStdString();
}
