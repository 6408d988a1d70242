#include "QuarnKit/Update/UpdateVerifier.h"

#include "Platform/Archive.h"
#include "Platform/Crypto.h"
#include "QuarnKit/Update/CodeSignature.h"
#include "QuarnKit/Update/Seal.h"
#include "QuarnKit/Update/UpdateError.h"
#include "QuarnKit/Update/UpdateFixtures.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

using namespace quarnkit;
namespace Crypto = platform::Crypto;
using updatefixtures::makeInstallFolder;
using updatefixtures::nativeProgram;
using updatefixtures::readFile;
using updatefixtures::writeFile;

namespace {

const QString identifier = QStringLiteral("com.ombri.ravlen");
const AppRelease running{"1.0", 10};

// A signed update as a release makes it: a sealed install folder, zipped,
// with the feed's entry for the archive.
struct SignedUpdate {
    QTemporaryDir dir;
    Crypto::KeyPair keys = Crypto::generateKeyPair();
    QString publicKey = Crypto::toBase64(keys.publicKey);
    QString team = Seal::teamOf(keys.publicKey);
    QString archive = dir.filePath("update.zip");
    UpdateFeed::Archive entry;

    // `prepare` may change the folder before it is sealed, `tamper` after.
    explicit SignedUpdate(const QString& version = "2.0", const QString& build = "20",
                          const std::function<void(const QString&)>& prepare = {},
                          const std::function<void(const QString&)>& tamper = {}, int bundles = 1)
    {
        for (int i = 0; i < bundles; ++i) {
            const QString folder =
                dir.filePath(QStringLiteral("release/ravlen%1").arg(i ? QString::number(i) : QString()));
            makeInstallFolder(folder, version, build, nativeProgram());
            if (prepare) prepare(folder);
            EXPECT_EQ(Seal::seal(folder, keys.secretKey), std::nullopt);
            if (tamper) tamper(folder);
        }
        std::vector<platform::Archive::Entry> entries;
        for (int i = 0; i < bundles; ++i) {
            const auto more = platform::Archive::folderEntries(
                dir.filePath(QStringLiteral("release/ravlen%1").arg(i ? QString::number(i) : QString())));
            entries.insert(entries.end(), more.begin(), more.end());
        }
        platform::Archive::writeZip(archive, entries);
        const QByteArray bytes = readFile(archive);
        entry = {QUrl("https://updates.example.com/update.zip"), bytes.size(), Crypto::hex(Crypto::sha256(bytes)),
                 Crypto::toBase64(*Crypto::sign(bytes, keys.secretKey))};
    }

    // The archive checked and unpacked into a new staging folder: the new copy.
    QString unpack(const UpdateFeed::Archive& expected, const QString& key)
    {
        return UpdateVerifier::checkAndUnpack(archive, expected, key,
                                              dir.filePath(QStringLiteral("staging%1/Unzipped").arg(++downloads)));
    }
    int downloads = 0;
    QString unpack() { return unpack(entry, publicKey); }

    // The whole road of a download: the archive, unpacking, the new copy.
    std::optional<UpdateError> install(const UpdateFeed::Archive& expected, Chip chip = nativeChip())
    {
        try {
            const QString app = unpack(expected, publicKey);
            UpdateVerifier::checkApp(app, identifier, running, chip, team, publicKey);
            return std::nullopt;
        } catch (const UpdateFailure& failure) {
            return failure.error;
        }
    }
    std::optional<UpdateError> install() { return install(entry); }
};

} // namespace

TEST(UpdateVerifier, ASignedSealedUpdatePassesEveryCheck)
{
    SignedUpdate update;
    const QString app = update.unpack();
    EXPECT_EQ(QFileInfo(app).fileName(), "ravlen");
    EXPECT_EQ(UpdateVerifier::checkApp(app, identifier, running, nativeChip(), update.team, update.publicKey),
              (AppRelease{"2.0", 20}));
    // A digest written in upper case is the same digest.
    UpdateFeed::Archive upper = update.entry;
    upper.sha256 = upper.sha256.toUpper();
    EXPECT_EQ(update.install(upper), std::nullopt);
    EXPECT_EQ(UpdateVerifier::sha256(update.archive), update.entry.sha256);
    // A user whose umask keeps group and others out still gets the update.
    const mode_t saved = ::umask(077);
    EXPECT_EQ(update.install(), std::nullopt);
    ::umask(saved);
}

TEST(UpdateVerifier, TheArchiveIsReadOnceSoTheBytesCheckedAreTheBytesUnpacked)
{
    SignedUpdate update;
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    // Closes are watched too, or repeated opens would merge into one event.
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(update.archive).constData(), IN_OPEN | IN_CLOSE), 0);
    const QString app = update.unpack();
    int opens = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t length; (length = ::read(watch, buffer, sizeof buffer)) > 0;)
        for (char* at = buffer; at < buffer + length;
             at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len)
            opens += (reinterpret_cast<inotify_event*>(at)->mask & IN_OPEN) ? 1 : 0;
    ::close(watch);
    // Opened once: whatever the file holds afterwards, the unpacked copy is the signed one.
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(UpdateVerifier::checkApp(app, identifier, running, nativeChip(), update.team, update.publicKey),
              (AppRelease{"2.0", 20}));
}

TEST(UpdateVerifier, TheArchiveMustBeTheOneTheFeedDescribes)
{
    SignedUpdate update;
    const Crypto::KeyPair stranger = Crypto::generateKeyPair();
    using Change = std::function<void(UpdateFeed::Archive&, QString & key)>;
    const std::vector<std::tuple<const char*, Change, UpdateError>> cases = {
        {"a size one byte longer", [](auto& a, auto&) { a.size += 1; }, UpdateError::damagedDownload},
        {"a size one byte shorter", [](auto& a, auto&) { a.size -= 1; }, UpdateError::damagedDownload},
        {"another digest", [](auto& a, auto&) { a.sha256 = QString(64, u'0'); }, UpdateError::damagedDownload},
        {"a signature by another key",
         [&](auto& a, auto&) {
             a.edSignature = Crypto::toBase64(*Crypto::sign(readFile(update.archive), stranger.secretKey));
         },
         UpdateError::badSignature},
        {"a signature of another file",
         [&](auto& a, auto&) { a.edSignature = Crypto::toBase64(*Crypto::sign("other", update.keys.secretKey)); },
         UpdateError::badSignature},
        {"a signature that is not base64", [](auto& a, auto&) { a.edSignature = "not base64!"; },
         UpdateError::badSignature},
        {"a key of 31 bytes", [](auto&, auto& key) { key = Crypto::toBase64(QByteArray(31, 'k')); },
         UpdateError::badSignature},
        {"a key of 33 bytes", [](auto&, auto& key) { key = Crypto::toBase64(QByteArray(33, 'k')); },
         UpdateError::badSignature},
        {"no key", [](auto&, auto& key) { key.clear(); }, UpdateError::badSignature},
    };
    for (const auto& [why, change, expected] : cases) {
        UpdateFeed::Archive entry = update.entry;
        QString key = update.publicKey;
        change(entry, key);
        try {
            update.unpack(entry, key);
            ADD_FAILURE() << why << ": passed";
        } catch (const UpdateFailure& failure) {
            EXPECT_EQ(failure.error, expected) << why;
        }
    }
}

TEST(UpdateVerifier, UnpackingStopsAtABudgetTiedToTheAnnouncedSize)
{
    const qint64 MiB = qint64(1) << 20;
    const std::vector<std::pair<qint64, qint64>> budgets{
        {0, UpdateVerifier::unpackFloor},
        {100 * 1024, UpdateVerifier::unpackFloor},
        {10 * MiB, 40 * MiB},
        {UpdateFeed::sizeLimit, UpdateVerifier::unpackCap},
        {-1, UpdateVerifier::unpackFloor},
    };
    for (const auto& [size, budget] : budgets) EXPECT_EQ(UpdateVerifier::unpackBudget(size), budget) << size;

    // A signed archive of a few kilobytes that unpacks past its budget.
    SignedUpdate bomb("2.0", "20", [](const QString& folder) {
        writeFile(folder + "/share/zeros", QByteArray(UpdateVerifier::unpackFloor + 1, '\0'));
    });
    ASSERT_LT(bomb.entry.size, 1 << 20);
    EXPECT_EQ(bomb.install(), UpdateError::damagedArchive);
    // What fits is unpacked whole.
    SignedUpdate fits("2.0", "20", [](const QString& folder) {
        writeFile(folder + "/share/zeros", QByteArray(UpdateVerifier::unpackFloor / 2, '\0'));
    });
    EXPECT_EQ(fits.install(), std::nullopt);
}

TEST(UpdateVerifier, OneFlippedByteBreaksTheSignature)
{
    SignedUpdate update;
    QByteArray bytes = readFile(update.archive);
    bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 1);
    ASSERT_TRUE(writeFile(update.archive, bytes));
    // The feed describes the flipped file's size and digest, but not its signature.
    UpdateFeed::Archive entry = update.entry;
    entry.sha256 = Crypto::hex(Crypto::sha256(bytes));
    EXPECT_EQ(update.install(entry), UpdateError::badSignature);
}

TEST(UpdateVerifier, TheNewCopyMustBeThisAppNewerRunnableAndSealed)
{
    const auto setInfo = [](const char* key, nlohmann::json value) {
        return [key, value](const QString& folder) {
            auto info = nlohmann::json::parse(readFile(folder + "/Info.json").toStdString());
            if (value.is_null()) info.erase(key);
            else info[key] = value;
            writeFile(folder + "/Info.json", QByteArray::fromStdString(info.dump()));
        };
    };
    using Step = std::function<void(const QString&)>;
    struct Case {
        const char* why;
        QString version;
        QString build;
        Step prepare;
        Step tamper;
        int bundles;
        std::optional<UpdateError> expected;
    };
    const Step none;
    const std::vector<Case> cases = {
        {"a lower build", "2.0", "9", none, none, 1, UpdateError::notNewer},
        {"the same release", "1.0", "10", none, none, 1, UpdateError::notNewer},
        {"the same build, a higher version", "1.0.1", "10", none, none, 1, std::nullopt},
        {"a higher build, a lower version", "0.9", "11", none, none, 1, std::nullopt},
        {"a version with a word", "2.0 beta", "20", none, none, 1, UpdateError::notNewer},
        {"a version with two points", "2..0", "20", none, none, 1, UpdateError::notNewer},
        {"no version", "2.0", "20", setInfo("CFBundleShortVersionString", nullptr), none, 1, UpdateError::notNewer},
        {"two bundles", "2.0", "20", none, none, 2, UpdateError::damagedArchive},
        {"another app", "2.0", "20", setInfo("CFBundleIdentifier", "com.example.other"), none, 1,
         UpdateError::wrongApp},
        {"an executable name with a slash", "2.0", "20", setInfo("CFBundleExecutable", "../bin/ravlen"), none, 1,
         UpdateError::damagedArchive},
        {"an executable that is a link", "2.0", "20",
         [](const QString& f) {
             QFile::remove(f + "/bin/ravlen");
             QFile::link("/bin/true", f + "/bin/ravlen");
         },
         none, 1, UpdateError::damagedArchive},
        {"an executable nobody may run", "2.0", "20",
         [](const QString& f) {
             QFile::setPermissions(f + "/bin/ravlen", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
         },
         none, 1, UpdateError::damagedArchive},
        {"a program for another processor", "2.0", "20",
         [](const QString& f) {
             writeFile(f + "/bin/ravlen", QByteArray("\xCF\xFA\xED\xFE\x0C\0\0\x01", 8) + QByteArray(24, 0),
                       updatefixtures::executableMode);
         },
         none, 1, nativeChip() == Chip::arm64 ? std::nullopt : std::optional(UpdateError::wrongChip)},
        {"a file changed after sealing", "2.0", "20", none,
         [](const QString& f) { writeFile(f + "/share/ravlen/notes.txt", "changed"); }, 1, UpdateError::untrustedCode},
        {"a file added after sealing", "2.0", "20", none,
         [](const QString& f) { writeFile(f + "/lib/extra.so", "more"); }, 1, UpdateError::untrustedCode},
        {"a mode changed after sealing", "2.0", "20", none,
         [](const QString& f) { QFile::setPermissions(f + "/lib/libravlen-kit.so", updatefixtures::executableMode); },
         1, UpdateError::untrustedCode},
        {"no seal", "2.0", "20", none, [](const QString& f) { QFile::remove(f + "/Seal.json"); }, 1,
         UpdateError::untrustedCode},
    };
    for (const Case& c : cases) {
        SignedUpdate update(c.version, c.build, c.prepare, c.tamper, c.bundles);
        EXPECT_EQ(update.install(), c.expected) << c.why;
    }
}

TEST(UpdateVerifier, TheSealMustBeByTheBuildsKeyForItsTeam)
{
    SignedUpdate update;
    const QString app = update.unpack();
    const QString otherKey = Crypto::toBase64(Crypto::generateKeyPair().publicKey);
    const std::vector<std::tuple<const char*, std::optional<QString>, QString>> cases = {
        {"another key", update.team, otherKey},
        {"another team", QStringLiteral("ABCDE12345"), update.publicKey},
        {"no team", std::nullopt, update.publicKey},
        {"an empty team", QString(), update.publicKey},
        {"a team outside the allowed letters", QStringLiteral("TEAM 1"), update.publicKey},
    };
    for (const auto& [why, team, key] : cases) {
        try {
            UpdateVerifier::checkApp(app, identifier, running, nativeChip(), team, key);
            ADD_FAILURE() << why << ": passed";
        } catch (const UpdateFailure& failure) {
            EXPECT_EQ(failure.error, UpdateError::untrustedCode) << why;
        }
    }
    EXPECT_EQ(CodeSignature::sealTeam(app, update.publicKey), update.team);
    EXPECT_EQ(CodeSignature::sealTeam(app, otherKey), std::nullopt);
}

TEST(UpdateVerifier, ABundleIsOneInstallFolderAtTheTopOfTheArchive)
{
    QTemporaryDir dir;
    const Crypto::KeyPair keys = Crypto::generateKeyPair();
    using E = platform::Archive::Entry;
    // Signed as a release is, so that only the unpacking can fail.
    const auto unpack = [&](const QString& name, const std::vector<E>& entries) {
        const QString path = dir.filePath(name);
        platform::Archive::writeZip(path, entries);
        const QByteArray bytes = readFile(path);
        const UpdateFeed::Archive expected{QUrl("https://updates.example.com/" + name), bytes.size(),
                                           Crypto::hex(Crypto::sha256(bytes)),
                                           Crypto::toBase64(*Crypto::sign(bytes, keys.secretKey))};
        return UpdateVerifier::checkAndUnpack(path, expected, Crypto::toBase64(keys.publicKey),
                                              dir.filePath(name + ".out"));
    };
    const E info{E::Kind::file, "ravlen/Info.json", "{}", {}, 0644};
    const E nested{E::Kind::file, "outer/ravlen/Info.json", "{}", {}, 0644};
    const E readme{E::Kind::file, "README", "hello", {}, 0644};
    const E otherFolder{E::Kind::file, "docs/guide.txt", "hello", {}, 0644};
    const E linked{E::Kind::link, "alias", {}, "ravlen", 0777};

    EXPECT_EQ(QFileInfo(unpack("one.zip", {info, readme, otherFolder, linked})).fileName(), "ravlen");
    for (const auto& [name, entries] : std::vector<std::pair<QString, std::vector<E>>>{
             {"nested.zip", {nested}},
             {"empty.zip", {readme}},
             {"unsafe.zip", {E{E::Kind::file, "../x/Info.json", "{}", {}, 0644}}}}) {
        try {
            unpack(name, entries);
            ADD_FAILURE() << name.toStdString() << " gave a bundle";
        } catch (const UpdateFailure& failure) {
            EXPECT_EQ(failure.error, UpdateError::damagedArchive) << name.toStdString();
        }
    }
}
