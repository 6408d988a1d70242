#include "QuarnKit/Update/Seal.h"

#include "Platform/Crypto.h"
#include "Platform/FolderWalk.h"
#include "QuarnKit/Shell/VersionTexts.h"

#include <nlohmann/json.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <map>

namespace quarnkit {
namespace Seal {

namespace {

namespace Crypto = platform::Crypto;
using nlohmann::json;

// One entry of the manifest: a folder, a file with its digest, or a link
// with its target. Links are never followed.
struct Item {
    int mode = 0;
    std::string kind;    // "folder", "file", "link"
    std::string content; // the file's SHA-256, the link's target
    friend bool operator==(const Item&, const Item&) = default;
};
using Items = std::map<std::string, Item>;

// Everything below the top but the seal itself, walked by the bytes of its
// names: one that is not UTF-8 is a failure, never something skipped.
std::optional<Items> itemsOf(const QString& folder, QString* failure)
{
    Items items;
    try {
        platform::walkFolder(QFile::encodeName(folder), [&](const platform::WalkedEntry& entry) {
            if (entry.path == fileName) return;
            Item item;
            item.mode = entry.mode;
            switch (entry.kind) {
            case platform::WalkedEntry::Kind::link:
                item.kind = "link";
                item.content = entry.linkTarget;
                item.mode = 0777; // a link's own mode means nothing on Linux
                break;
            case platform::WalkedEntry::Kind::folder: item.kind = "folder"; break;
            case platform::WalkedEntry::Kind::file: {
                const auto digest = Crypto::sha256OfFile(entry.descriptor);
                if (!digest) throw platform::FolderWalkError("cannot read " + entry.path);
                item.kind = "file";
                item.content = Crypto::hex(*digest).toStdString();
                break;
            }
            case platform::WalkedEntry::Kind::other: item.kind = "other"; break;
            }
            items[entry.path] = item;
        });
    } catch (const platform::FolderWalkError& error) {
        *failure = QString::fromStdString(error.what());
        return std::nullopt;
    }
    return items;
}

json manifestOf(const QString& identifier, const QString& team, const Items& items)
{
    json files = json::array();
    for (const auto& [path, item] : items) {
        json entry{{"path", path}, {"mode", item.mode}, {"kind", item.kind}};
        if (item.kind == "file") entry["sha256"] = item.content;
        if (item.kind == "link") entry["link"] = item.content;
        files.push_back(entry);
    }
    return json{{"identifier", identifier.toStdString()}, {"team", team.toStdString()}, {"files", files}};
}

std::optional<Items> itemsOfManifest(const json& manifest)
{
    const auto files = manifest.find("files");
    if (files == manifest.end() || !files->is_array()) return std::nullopt;
    Items items;
    for (const json& entry : *files) {
        if (!entry.is_object() || !entry.value("path", json()).is_string()
            || !entry.value("mode", json()).is_number_integer() || !entry.value("kind", json()).is_string())
            return std::nullopt;
        Item item{entry["mode"].get<int>(), entry["kind"].get<std::string>(), {}};
        if (item.kind == "file") item.content = entry.value("sha256", std::string());
        if (item.kind == "link") item.content = entry.value("link", std::string());
        items[entry["path"].get<std::string>()] = item;
    }
    return items;
}

// A umask may have taken rights from group and others when the folder was
// unpacked; any other change of mode, and any right added, breaks the seal.
bool modeHolds(int sealed, int present) { return (present & ~sealed) == 0 && (present & 07700) == (sealed & 07700); }

QString firstDifference(const Items& sealed, const Items& present)
{
    auto s = sealed.begin();
    auto p = present.begin();
    while (s != sealed.end() || p != present.end()) {
        if (p == present.end() || (s != sealed.end() && s->first < p->first))
            return QStringLiteral("removed: ") + QString::fromStdString(s->first);
        if (s == sealed.end() || p->first < s->first)
            return QStringLiteral("added: ") + QString::fromStdString(p->first);
        if (s->second.kind != p->second.kind || s->second.content != p->second.content)
            return QStringLiteral("changed: ") + QString::fromStdString(s->first);
        if (!modeHolds(s->second.mode, p->second.mode))
            return QStringLiteral("mode changed: ") + QString::fromStdString(s->first);
        ++s;
        ++p;
    }
    return {};
}

} // namespace

QString teamOf(const QByteArray& publicKey) { return Crypto::hex(Crypto::sha256(publicKey).left(5)).toUpper(); }

std::optional<QString> seal(const QString& named, const QByteArray& secretKey)
{
    const QString folder = QFileInfo(named).absoluteFilePath();
    const auto publicKey = Crypto::publicKeyOf(secretKey);
    if (!publicKey) return QStringLiteral("the key is not an Ed25519 secret key");
    if (!QFileInfo(folder).isDir()) return folder + QStringLiteral(" is not a folder");
    const QString infoPath = QDir(folder).filePath(QStringLiteral("Info.json"));
    if (!QFileInfo(infoPath).isFile()) return folder + QStringLiteral(" holds no Info.json");
    const json info = readInstallInfo(infoPath);
    const auto identifier = info.find("CFBundleIdentifier");
    if (identifier == info.end() || !identifier->is_string() || identifier->get<std::string>().empty())
        return QStringLiteral("Info.json names no identifier");
    QString failure;
    const auto items = itemsOf(folder, &failure);
    if (!items) return failure;
    const std::string manifest =
        manifestOf(QString::fromStdString(identifier->get<std::string>()), teamOf(*publicKey), *items).dump(2);
    const auto signature = Crypto::sign(QByteArray::fromStdString(manifest), secretKey);
    const json sealed{{"manifest", manifest}, {"signature", Crypto::toBase64(*signature).toStdString()}};
    QSaveFile file(QDir(folder).filePath(QLatin1String(fileName)));
    if (!file.open(QIODevice::WriteOnly)) return QStringLiteral("cannot write ") + file.fileName();
    file.write(QByteArray::fromStdString(sealed.dump(2) + "\n"));
    if (!file.commit()) return QStringLiteral("cannot write ") + file.fileName();
    return std::nullopt;
}

Check verify(const QString& named, const QByteArray& publicKey)
{
    const QString folder = QFileInfo(named).absoluteFilePath();
    Check check;
    if (!QFileInfo(folder).isDir()) {
        check.problem = folder + QStringLiteral(" is not a folder");
        return check;
    }
    QFile file(QDir(folder).filePath(QLatin1String(fileName)));
    if (!file.open(QIODevice::ReadOnly)) {
        check.problem = QStringLiteral("no seal");
        return check;
    }
    const QByteArray bytes = file.readAll();
    const json sealed = json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (!sealed.is_object() || !sealed.value("manifest", json()).is_string()
        || !sealed.value("signature", json()).is_string()) {
        check.problem = QStringLiteral("the seal is damaged");
        return check;
    }
    const QByteArray manifestText = QByteArray::fromStdString(sealed["manifest"].get<std::string>());
    const auto signature = Crypto::fromBase64Strict(QString::fromStdString(sealed["signature"].get<std::string>()));
    if (!signature || !Crypto::verify(manifestText, *signature, publicKey)) {
        check.problem = QStringLiteral("the seal is not signed by this key");
        return check;
    }
    // Signed by the key, so the manifest is ours; a malformed one is still refused.
    const json manifest = json::parse(manifestText.constBegin(), manifestText.constEnd(), nullptr, false);
    const auto sealedItems = manifest.is_object() ? itemsOfManifest(manifest) : std::nullopt;
    if (!sealedItems || !manifest.value("identifier", json()).is_string()
        || !manifest.value("team", json()).is_string()) {
        check.problem = QStringLiteral("the seal is damaged");
        return check;
    }
    // The team is the key's: a manifest may not claim another.
    if (QString::fromStdString(manifest["team"].get<std::string>()) != teamOf(publicKey)) {
        check.problem = QStringLiteral("the seal names a team other than its key's");
        return check;
    }
    QString failure;
    const auto present = itemsOf(folder, &failure);
    if (!present) {
        check.problem = failure;
        return check;
    }
    check.problem = firstDifference(*sealedItems, *present);
    if (!check.problem.isEmpty()) return check;
    check.holds = true;
    check.identifier = QString::fromStdString(manifest["identifier"].get<std::string>());
    check.team = QString::fromStdString(manifest["team"].get<std::string>());
    return check;
}

} // namespace Seal
} // namespace quarnkit
