#pragma once
// Fake install folders and feeds for the updater's tests.
#include "Platform/Archive.h"
#include "Platform/Crypto.h"
#include "QuarnKit/Update/Seal.h"
#include "QuarnKit/Update/UpdateFeed.h"
#include "support/TestSupport.h"

#include <nlohmann/json.hpp>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace updatefixtures {

using testsupport::readFile;
using testsupport::writeFile;

inline constexpr auto executableMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                       | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                       | QFileDevice::ExeOther;

// An install folder as the build installs it: Info.json, bin/ravlen (the
// given program), bin/ravlen-seal, a library and a shared file.
inline bool makeInstallFolder(const QString& folder, const QString& version, const QString& build,
                              const QByteArray& program, const QString& identifier = QStringLiteral("com.ombri.ravlen"))
{
    const nlohmann::json info{{"CFBundleIdentifier", identifier.toStdString()},
                              {"CFBundleName", "ravlen"},
                              {"CFBundleExecutable", "ravlen"},
                              {"CFBundleShortVersionString", version.toStdString()},
                              {"CFBundleVersion", build.toStdString()},
                              {"RVUpdateFeedURLs", {"https://updates.example.com/feed.json"}}};
    return writeFile(folder + "/Info.json", QByteArray::fromStdString(info.dump(2)))
           && writeFile(folder + "/bin/ravlen", program, executableMode)
           && writeFile(folder + "/lib/libravlen-kit.so", "library")
           && writeFile(folder + "/share/ravlen/notes.txt", "notes");
}

// The bytes of a real program of this computer's processor.
inline QByteArray nativeProgram() { return readFile(QStringLiteral("/bin/true")); }

// A well-formed feed; tests change one thing in it.
inline nlohmann::json validFeed()
{
    const std::string digest(64, 'a');
    const std::string signature = std::string(86, 'A') + "==";
    const nlohmann::json download{
        {"url", "https://updates.example.com/ravlen-2.0.tar"}, {"size", 1000}, {"sha256", digest}};
    nlohmann::json update{{"url", "https://updates.example.com/ravlen-2.0.zip"},
                          {"size", 2000},
                          {"sha256", digest},
                          {"edSignature", signature}};
    return nlohmann::json{{"name", "ravlen 2"},
                          {"version", "2.0"},
                          {"build", 57},
                          {"minimumSystemVersion", "2.31"},
                          {"publishedAt", "2026-03-01T09:30:00Z"},
                          {"notes", {"Faster pages.", "Fewer surprises."}},
                          {"builds", {{"x86_64", {{"dmg", download}, {"update", update}}}}}};
}

// A release as the maker publishes it: `folder` sealed with `secretKey` and
// zipped at `archive`. Returns the feed's entry for it, served at `url`.
inline quarnkit::UpdateFeed::Archive publishRelease(const QString& folder, const QString& archive,
                                                    const QByteArray& secretKey, const QUrl& url)
{
    namespace Crypto = platform::Crypto;
    if (quarnkit::Seal::seal(folder, secretKey)) return {};
    platform::Archive::writeZip(archive, platform::Archive::folderEntries(folder));
    const QByteArray bytes = readFile(archive);
    return {url, bytes.size(), Crypto::hex(Crypto::sha256(bytes)), Crypto::toBase64(*Crypto::sign(bytes, secretKey))};
}

} // namespace updatefixtures
