#include "QuarnKit/Update/UpdateFeed.h"

#include "Platform/Crypto.h"
#include "QuarnKit/Update/UpdateError.h"

#include <QRegularExpression>

#include <limits>
#include <stdexcept>

namespace quarnkit {

namespace {

using nlohmann::json;

[[noreturn]] void invalid(const std::string& why) { throw std::invalid_argument(why); }

const json& required(const json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) invalid(std::string("missing ") + key);
    return *it;
}

// An optional key: absent or null is none; any other type than the one asked is an error.
const json* optionalKey(const json& object, const char* key)
{
    const auto it = object.find(key);
    return it == object.end() || it->is_null() ? nullptr : &*it;
}

QString text(const json& value, const char* key)
{
    if (!value.is_string()) invalid(std::string(key) + " is not text");
    return QString::fromStdString(value.get<std::string>());
}

std::int64_t integer(const json& value, const char* key)
{
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
    if (value.is_number_unsigned()
        && value.get<std::uint64_t>() <= std::uint64_t(std::numeric_limits<std::int64_t>::max()))
        return std::int64_t(value.get<std::uint64_t>());
    invalid(std::string(key) + " is not an integer");
}

QUrl absoluteURL(const json& value)
{
    const QUrl url(text(value, "url"), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) invalid("url is not a URL");
    return url;
}

// "build": an integer, or text holding an optionally signed decimal integer.
std::int64_t buildNumber(const json& document)
{
    const json* value = optionalKey(document, "build");
    if (value && value->is_number_integer()) {
        try {
            return integer(*value, "build");
        } catch (const std::invalid_argument&) {}
    }
    static const QRegularExpression pattern(QStringLiteral("^[+-]?[0-9]+$"));
    if (value && value->is_string()) {
        const QString digits = QString::fromStdString(value->get<std::string>());
        bool ok = false;
        const qlonglong number = digits.toLongLong(&ok);
        if (pattern.match(digits).hasMatch() && ok) return number;
    }
    invalid("build is not an integer");
}

UpdateFeed::Download download(const json& object)
{
    if (!object.is_object()) invalid("dmg is not an object");
    return {absoluteURL(required(object, "url")), integer(required(object, "size"), "size"),
            text(required(object, "sha256"), "sha256")};
}

UpdateFeed::Archive archive(const json& object)
{
    if (!object.is_object()) invalid("update is not an object");
    const UpdateFeed::Download file = download(object);
    return {file.url, file.size, file.sha256, text(required(object, "edSignature"), "edSignature")};
}

json downloadJson(const QUrl& url, std::int64_t size, const QString& sha256)
{
    return json{{"url", url.toString().toStdString()}, {"size", size}, {"sha256", sha256.toStdString()}};
}

bool isAcceptableFile(const QUrl& url, std::int64_t size, const QString& sha256)
{
    return isSecureURL(url) && size >= 1 && size <= UpdateFeed::sizeLimit && UpdateVerifier::isDigest(sha256);
}

std::set<QString> lowerCased(const std::set<QString>& hosts)
{
    std::set<QString> lower;
    for (const QString& host : hosts) lower.insert(host.toLower());
    return lower;
}

} // namespace

bool isSecureURL(const QUrl& url)
{
    // A user name or password in the URL is never ours to send.
    return url.isValid() && url.scheme().toLower() == QLatin1String("https") && !url.host().isEmpty()
           && url.userInfo().isEmpty();
}

bool UpdateVerifier::isDigest(const QString& text)
{
    if (text.size() != 64) return false;
    for (const QChar c : text)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'))) return false;
    return true;
}

UpdateFeed UpdateFeed::fromJson(const json& document)
{
    if (!document.is_object()) invalid("the feed is not an object");
    UpdateFeed feed;
    if (const json* name = optionalKey(document, "name")) feed.name = text(*name, "name");
    feed.version = text(required(document, "version"), "version");
    feed.build = buildNumber(document);
    if (const json* minimum = optionalKey(document, "minimumSystemVersion"))
        feed.minimumSystemVersion = text(*minimum, "minimumSystemVersion");
    if (const json* published = optionalKey(document, "publishedAt"))
        feed.publishedAt = text(*published, "publishedAt");
    if (const json* notes = optionalKey(document, "notes")) {
        if (!notes->is_array()) invalid("notes is not a list");
        for (const json& note : *notes) feed.notes << text(note, "notes");
    }
    const json& builds = required(document, "builds");
    if (!builds.is_object()) invalid("builds is not an object");
    // Every entry must be a complete build, even under a key that is dropped.
    for (const auto& [key, value] : builds.items()) {
        if (!value.is_object()) invalid("a build is not an object");
        ChipBuild build{download(required(value, "dmg")), archive(required(value, "update"))};
        if (const auto chip = chipFromRaw(QString::fromStdString(key))) feed.builds[*chip] = std::move(build);
    }
    return feed;
}

json UpdateFeed::toJson() const
{
    json document{{"name", name.toStdString()},
                  {"version", version.toStdString()},
                  {"build", build},
                  {"minimumSystemVersion", minimumSystemVersion.toStdString()},
                  {"notes", json::array()},
                  {"builds", json::object()}};
    if (publishedAt) document["publishedAt"] = publishedAt->toStdString();
    for (const QString& note : notes) document["notes"].push_back(note.toStdString());
    for (const auto& [chip, entry] : builds) {
        json update = downloadJson(entry.update.url, entry.update.size, entry.update.sha256);
        update["edSignature"] = entry.update.edSignature.toStdString();
        document["builds"][rawValue(chip).toStdString()] =
            json{{"dmg", downloadJson(entry.dmg.url, entry.dmg.size, entry.dmg.sha256)}, {"update", update}};
    }
    return document;
}

UpdateFeed UpdateFeed::decode(const QByteArray& body, const std::optional<std::set<QString>>& hosts)
{
    UpdateFeed feed;
    try {
        feed = fromJson(json::parse(body.constBegin(), body.constEnd()));
    } catch (const std::exception&) {
        throw UpdateFailure(UpdateError::damagedFeed);
    }
    if (!feed.isWellFormed()) throw UpdateFailure(UpdateError::damagedFeed);
    if (hosts && !feed.isServed(*hosts)) throw UpdateFailure(UpdateError::damagedFeed);
    return feed;
}

bool UpdateFeed::isWellFormed() const
{
    if (!VersionNumber::isValid(version) || build < 1) return false;
    if (!minimumSystemVersion.isEmpty() && !VersionNumber::isValid(minimumSystemVersion)) return false;
    if (builds.empty()) return false;
    for (const auto& [chip, entry] : builds) {
        if (!isAcceptableFile(entry.dmg.url, entry.dmg.size, entry.dmg.sha256)) return false;
        if (!isAcceptableFile(entry.update.url, entry.update.size, entry.update.sha256)) return false;
        const auto signature = platform::Crypto::fromBase64Strict(entry.update.edSignature);
        if (!signature || signature->size() != platform::Crypto::signatureSize) return false;
    }
    return true;
}

bool UpdateFeed::isServed(const std::set<QString>& hosts) const
{
    const std::set<QString> allowed = lowerCased(hosts);
    for (const auto& [chip, entry] : builds)
        for (const QUrl& url : {entry.dmg.url, entry.update.url})
            if (url.host().isEmpty() || !allowed.count(url.host().toLower())) return false;
    return true;
}

std::optional<UpdateFeed::ChipBuild> UpdateFeed::downloads(Chip chip) const
{
    const auto it = builds.find(chip);
    if (it == builds.end()) return std::nullopt;
    return it->second;
}

std::optional<QDateTime> UpdateFeed::publishedDate() const
{
    if (!publishedAt) return std::nullopt;
    // Date, "T", time with seconds and a zone: QDateTime alone also takes
    // a bare date or a time without a zone.
    static const QRegularExpression internetTime(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}(\\.\\d+)?(Z|[+-]\\d{2}:\\d{2})$"));
    if (!internetTime.match(*publishedAt).hasMatch()) return std::nullopt;
    const QDateTime date = QDateTime::fromString(*publishedAt, Qt::ISODateWithMs);
    if (!date.isValid()) return std::nullopt;
    return date;
}

bool UpdateFeed::supports(const OSVersion& system) const
{
    return minimumSystemVersion.isEmpty()
           || VersionNumber::compare(SystemVersion::string(system), minimumSystemVersion) != -1;
}

QString UpdateFeed::userAgent(const QString& app, const QString& version, const OSVersion& system)
{
    QString name = app;
    name.replace(u' ', u'-');
    return name + u'/' + version + QStringLiteral(" (Linux; glibc ") + SystemVersion::string(system) + u')';
}

UpdateSource UpdateSource::fromInfo(const nlohmann::json& info)
{
    UpdateSource source;
    if (!info.is_object()) return source;
    const auto textOf = [&](const char* key) {
        const auto it = info.find(key);
        return it != info.end() && it->is_string() ? QString::fromStdString(it->get<std::string>()) : QString();
    };
    source.publicKey = textOf("RVUpdatePublicKey");
    source.identifier = textOf("CFBundleIdentifier");
    const auto urls = info.find("RVUpdateFeedURLs");
    if (urls != info.end() && urls->is_array())
        for (const json& item : *urls) {
            if (!item.is_string()) continue;
            const QUrl url(QString::fromStdString(item.get<std::string>()), QUrl::StrictMode);
            if (isSecureURL(url)) source.feedURLs.push_back(url);
        }
    return source;
}

std::set<QString> UpdateSource::hosts() const
{
    std::set<QString> hosts;
    for (const QUrl& url : feedURLs) hosts.insert(url.host().toLower());
    return hosts;
}

} // namespace quarnkit
