#include "QuarnKit/Update/UpdateVerifier.h"

#include "Platform/Archive.h"
#include "Platform/Crypto.h"
#include "QuarnKit/Update/CodeSignature.h"
#include "QuarnKit/Update/ExecutableFamilies.h"
#include "QuarnKit/Update/UpdateError.h"

#include <nlohmann/json.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace quarnkit {

namespace {

namespace Crypto = platform::Crypto;

[[noreturn]] void fail(UpdateError error) { throw UpdateFailure(error); }

// Info.json read strictly: none unless the file is a JSON object.
std::optional<nlohmann::json> infoOf(const QString& folder)
{
    QFile file(QDir(folder).filePath(QStringLiteral("Info.json")));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.readAll();
    nlohmann::json info = nlohmann::json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (info.is_discarded() || !info.is_object()) return std::nullopt;
    return info;
}

// The file's bytes, read through one descriptor: exactly `size` of them, or
// damagedDownload.
QByteArray readArchive(const QString& file, qint64 size)
{
    if (size < 0 || size > UpdateFeed::sizeLimit) fail(UpdateError::damagedDownload);
    // O_NONBLOCK: a pipe put in the file's place does not hold the open up.
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    QFile archive;
    if (fd < 0 || !archive.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0) ::close(fd);
        fail(UpdateError::damagedDownload);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != size) fail(UpdateError::damagedDownload);
    // One byte more than expected shows a file that grew meanwhile.
    QByteArray contents = archive.read(size + 1);
    if (contents.size() != size) fail(UpdateError::damagedDownload);
    return contents;
}

// The one install folder directly inside `folder`: a real folder (not a
// link) with an Info.json file at its top. None or several: damagedArchive.
QString appBundle(const QString& folder)
{
    QStringList found;
    const QDir dir(folder);
    for (const QFileInfo& entry : dir.entryInfoList(QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.isSymLink()) continue;
        const QFileInfo info(QDir(entry.absoluteFilePath()).filePath(QStringLiteral("Info.json")));
        if (info.isFile() && !info.isSymLink()) found << entry.absoluteFilePath();
    }
    if (found.size() != 1) fail(UpdateError::damagedArchive);
    return found.first();
}

std::optional<QString> textOf(const nlohmann::json& info, const char* key)
{
    const auto it = info.find(key);
    if (it == info.end() || !it->is_string()) return std::nullopt;
    return QString::fromStdString(it->get<std::string>());
}

} // namespace

QString UpdateVerifier::sha256(const QString& file)
{
    const auto digest = Crypto::sha256OfFile(file);
    if (!digest) throw std::runtime_error("cannot read " + file.toStdString());
    return Crypto::hex(*digest);
}

qint64 UpdateVerifier::unpackBudget(qint64 size)
{
    return std::min(unpackCap, std::max(unpackFloor, unpackFactor * std::clamp<qint64>(size, 0, unpackCap)));
}

QString UpdateVerifier::checkAndUnpack(const QString& file, const UpdateFeed::Archive& expected,
                                       const QString& publicKey, const QString& destination)
{
    const QByteArray contents = readArchive(file, expected.size);
    const auto digest = Crypto::sha256(contents);
    if (Crypto::hex(digest) != expected.sha256.toLower()) fail(UpdateError::damagedDownload);
    const auto key = Crypto::fromBase64Strict(publicKey);
    const auto signature = Crypto::fromBase64Strict(expected.edSignature);
    if (!key || !signature || key->size() != Crypto::publicKeySize) fail(UpdateError::badSignature);
    if (!Crypto::verify(contents, *signature, *key)) fail(UpdateError::badSignature);

    if (!QDir().mkpath(destination)) throw std::runtime_error("cannot create " + destination.toStdString());
    try {
        platform::Archive::unzip(contents, destination, unpackBudget(expected.size));
    } catch (const platform::Archive::ArchiveError&) {
        fail(UpdateError::damagedArchive);
    }
    return appBundle(destination);
}

AppRelease UpdateVerifier::checkApp(const QString& folder, const QString& bundleID, const AppRelease& newerThan,
                                    Chip chip, const std::optional<QString>& team, const QString& publicKey)
{
    const auto info = infoOf(folder);
    if (!info) fail(UpdateError::damagedArchive);
    if (textOf(*info, "CFBundleIdentifier") != bundleID) fail(UpdateError::wrongApp);

    const auto version = textOf(*info, "CFBundleShortVersionString");
    if (!version || !VersionNumber::isValid(*version)) fail(UpdateError::notNewer);
    const auto buildText = textOf(*info, "CFBundleVersion");
    if (!buildText) fail(UpdateError::notNewer);
    const AppRelease release{*version, AppRelease::buildNumber(*buildText)};
    if (!(newerThan < release)) fail(UpdateError::notNewer);

    const auto executable = textOf(*info, "CFBundleExecutable");
    if (!executable || executable->isEmpty() || executable->contains(u'/') || *executable == QLatin1String(".")
        || *executable == QLatin1String(".."))
        fail(UpdateError::damagedArchive);
    const QString program = QDir(folder).filePath(QStringLiteral("bin/") + *executable);
    struct stat st {};
    // A link, a folder or a file nobody may run is no program.
    if (::lstat(QFile::encodeName(program).constData(), &st) != 0 || !S_ISREG(st.st_mode) || !(st.st_mode & S_IXUSR))
        fail(UpdateError::damagedArchive);

    if (!ExecutableFamilies::chips(program).count(chip)) fail(UpdateError::wrongChip);

    const auto requirement = team ? CodeSignature::requirement(bundleID, *team) : std::nullopt;
    if (!requirement || !CodeSignature::satisfies(folder, *requirement, publicKey)) fail(UpdateError::untrustedCode);
    return release;
}

} // namespace quarnkit
