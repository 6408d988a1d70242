// ravlen-seal as a maintainer and the installer script use it.
#include "Platform/Crypto.h"
#include "QuarnKit/Update/CodeSignature.h"
#include "QuarnKit/Update/Seal.h"
#include "QuarnKit/Update/UpdateFixtures.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

ToolRun sealTool(const QStringList& arguments, const QString& workingDirectory = {})
{
    QProcess process;
    if (!workingDirectory.isEmpty()) process.setWorkingDirectory(workingDirectory);
    process.start(QStringLiteral(RAVLEN_SEAL_TOOL), arguments);
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
            QString::fromUtf8(process.readAllStandardError()).trimmed()};
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
    const ToolRun verified = sealTool({"verify", "--key-file", key + ".pub", folder});
    EXPECT_EQ(verified.exitCode, 0) << verified.err.toStdString();
    EXPECT_EQ(sealTool({"verify", folder, Crypto::toBase64(*publicKey)}).exitCode, 0) << "the key's text serves too";
    const QString requirement = *CodeSignature::requirement("com.ombri.ravlen", Seal::teamOf(*publicKey));
    EXPECT_EQ(sealTool({"verify", "--key-file", key + ".pub", folder, requirement}).exitCode, 0);
    EXPECT_NE(sealTool({"verify", "--key-file", key + ".pub", folder,
                        *CodeSignature::requirement("com.example.other", "ABCDE12345")})
                  .exitCode,
              0);

    // The signature printed for the feed verifies over the archive's bytes.
    ASSERT_TRUE(writeFile(dir.filePath("update.zip"), "archive bytes"));
    const ToolRun signature = sealTool({"sign", dir.filePath("update.zip"), key});
    ASSERT_EQ(signature.exitCode, 0);
    EXPECT_TRUE(Crypto::verify("archive bytes", *Crypto::fromBase64Strict(signature.out), *publicKey));

    EXPECT_EQ(sealTool({"unknown"}).exitCode, 2);
    EXPECT_NE(sealTool({"seal", folder, key + ".pub"}).exitCode, 0) << "a public key cannot seal";
}

TEST(SealTool, VerifyNamesTheFirstChange)
{
    using Change = std::function<void(const QString&)>;
    const std::vector<std::tuple<const char*, Change, QString>> cases = {
        {"a changed file", [](const QString& f) { writeFile(f + "/lib/libravlen-kit.so", "patched"); },
         "changed: lib/libravlen-kit.so"},
        {"an added file", [](const QString& f) { writeFile(f + "/bin/helper", "new"); }, "added: bin/helper"},
        {"a removed file", [](const QString& f) { QFile::remove(f + "/share/ravlen/notes.txt"); },
         "removed: share/ravlen/notes.txt"},
        {"a changed mode",
         [](const QString& f) { QFile::setPermissions(f + "/Info.json", updatefixtures::executableMode); },
         "mode changed: Info.json"},
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
        const ToolRun run = sealTool({"verify", "--key-file", dir.filePath("key.pub"), folder});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.endsWith(named)) << run.err.toStdString();
    }
}

TEST(SealTool, ASealHoldsOnlyUnderItsKeyGivenAsText)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("ravlen");
    ASSERT_TRUE(makeInstallFolder(folder, "2.0", "20", "program"));
    ASSERT_EQ(sealTool({"keygen", dir.filePath("ours")}).exitCode, 0);
    ASSERT_EQ(sealTool({"keygen", dir.filePath("theirs")}).exitCode, 0);
    ASSERT_EQ(sealTool({"seal", folder, dir.filePath("theirs")}).exitCode, 0);
    const ToolRun ours = sealTool({"verify", "--key-file", "ours.pub", folder}, dir.path());
    EXPECT_EQ(ours.exitCode, 1);
    EXPECT_TRUE(ours.err.contains("not signed by this key")) << ours.err.toStdString();
    EXPECT_EQ(sealTool({"verify", "--key-file", "theirs.pub", folder}, dir.path()).exitCode, 0);
    // A key argument that names a file is not a key, even where that file holds one.
    const ToolRun named = sealTool({"verify", folder, "theirs.pub"}, dir.path());
    EXPECT_EQ(named.exitCode, 1);
    EXPECT_TRUE(named.err.contains("not a public key")) << named.err.toStdString();
}

TEST(SealTool, SealsAFolderNamedByAnyPath)
{
    for (const QString& named : {QStringLiteral("ravlen"), QStringLiteral("./ravlen"), QString()}) {
        QTemporaryDir dir;
        const QString folder = dir.filePath("ravlen");
        const QString argument = named.isEmpty() ? folder : named;
        SCOPED_TRACE(argument.toStdString());
        ASSERT_TRUE(makeInstallFolder(folder, "2.0", "20", "program"));
        ASSERT_EQ(sealTool({"keygen", dir.filePath("key")}).exitCode, 0);
        const QString keyText = QString::fromLatin1(readFile(dir.filePath("key.pub")).trimmed());

        const ToolRun sealed = sealTool({"seal", argument, dir.filePath("key")}, dir.path());
        ASSERT_EQ(sealed.exitCode, 0) << sealed.err.toStdString();
        const ToolRun verified = sealTool({"verify", argument, keyText}, dir.path());
        EXPECT_EQ(verified.exitCode, 0) << verified.err.toStdString();
        EXPECT_TRUE(Seal::verify(folder, *CodeSignature::publicKeyFromText(keyText)).holds);
        // The seal lists what it guards, never itself.
        const auto seal = nlohmann::json::parse(readFile(folder + "/Seal.json").toStdString());
        const auto manifest = nlohmann::json::parse(seal["manifest"].get<std::string>());
        for (const auto& entry : manifest["files"]) {
            EXPECT_NE(entry["path"], "Seal.json");
            EXPECT_FALSE(QString::fromStdString(entry["path"]).startsWith("ravlen/")) << entry["path"];
        }
    }
}

TEST(Seal, NamesThatAreNotUtf8NeitherSealNorHide)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("ravlen");
    ASSERT_TRUE(makeInstallFolder(folder, "2.0", "20", "program"));
    const Crypto::KeyPair keys = Crypto::generateKeyPair();
    const QByteArray hidden = QFile::encodeName(folder) + "/bin/\xff";
    const auto addHidden = [&] {
        ASSERT_EQ(::mkdir(hidden.constData(), 0755), 0);
        const int fd = ::open((hidden + "/payload").constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "added later", 11), 11);
        ::close(fd);
    };

    // Added after sealing: neither the app's check nor the installer's passes.
    ASSERT_EQ(Seal::seal(folder, keys.secretKey), std::nullopt);
    addHidden();
    const Seal::Check check = Seal::verify(folder, keys.publicKey);
    EXPECT_FALSE(check.holds);
    EXPECT_TRUE(check.problem.contains("UTF-8")) << check.problem.toStdString();
    EXPECT_EQ(sealTool({"verify", folder, Crypto::toBase64(keys.publicKey)}).exitCode, 1);

    // There before sealing: nothing is sealed.
    EXPECT_NE(Seal::seal(folder, keys.secretKey), std::nullopt);
}

TEST(SealTool, AFolderWhosePathIsNotUtf8IsNamedAsTheCause)
{
    QTemporaryDir dir;
    ASSERT_TRUE(makeInstallFolder(dir.filePath("ravlen"), "2.0", "20", "program"));
    ASSERT_EQ(sealTool({"keygen", dir.filePath("key")}).exitCode, 0);
    const QByteArray folder = QFile::encodeName(dir.path()) + "/rav\xfflen";
    ASSERT_EQ(::rename(QFile::encodeName(dir.filePath("ravlen")).constData(), folder.constData()), 0);
    const QString keyText = QString::fromLatin1(readFile(dir.filePath("key.pub")).trimmed());
    // The folder's name goes to the tool as its own bytes, through the shell.
    for (const QStringList& command : {QStringList{"seal", "%s/rav\\377len", dir.filePath("key")},
                                       QStringList{"verify", "%s/rav\\377len", keyText}}) {
        SCOPED_TRACE(command.front().toStdString());
        QProcess shell;
        shell.start(
            "/bin/sh",
            {"-c",
             QStringLiteral("exec \"$0\" %1 \"$(printf '%2' \"$1\")\" '%3'").arg(command[0], command[1], command[2]),
             QStringLiteral(RAVLEN_SEAL_TOOL), dir.path()});
        ASSERT_TRUE(shell.waitForFinished(60000));
        const QString err = QString::fromUtf8(shell.readAllStandardError());
        EXPECT_EQ(shell.exitCode(), 1);
        EXPECT_TRUE(err.contains("not UTF-8")) << err.toStdString();
        EXPECT_FALSE(err.contains("identifier") || err.contains("no seal")) << err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(folder + "/Seal.json")));
}

TEST(Seal, TheManifestMustNameTheTeamOfItsKey)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("ravlen");
    ASSERT_TRUE(makeInstallFolder(folder, "2.0", "20", "program"));
    const Crypto::KeyPair keys = Crypto::generateKeyPair();
    ASSERT_EQ(Seal::seal(folder, keys.secretKey), std::nullopt);
    // The key's holder signs a manifest that claims another team.
    auto seal = nlohmann::json::parse(readFile(folder + "/Seal.json").toStdString());
    auto manifest = nlohmann::json::parse(seal["manifest"].get<std::string>());
    manifest["team"] = "ABCDE12345";
    const QByteArray text = QByteArray::fromStdString(manifest.dump(2));
    seal["manifest"] = text.toStdString();
    seal["signature"] = Crypto::toBase64(*Crypto::sign(text, keys.secretKey)).toStdString();
    ASSERT_TRUE(writeFile(folder + "/Seal.json", QByteArray::fromStdString(seal.dump(2))));

    const Seal::Check check = Seal::verify(folder, keys.publicKey);
    EXPECT_FALSE(check.holds);
    EXPECT_EQ(check.team, QString());
    const QString key = Crypto::toBase64(keys.publicKey);
    EXPECT_FALSE(CodeSignature::satisfies(folder, *CodeSignature::requirement("com.ombri.ravlen", "ABCDE12345"), key));
    EXPECT_EQ(sealTool({"verify", folder, key, *CodeSignature::requirement("com.ombri.ravlen", "ABCDE12345")}).exitCode,
              1);
}
