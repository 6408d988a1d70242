#pragma once
// The release feed: the small JSON document that names the newest release
// and, per processor family, its download page and its signed update archive.
// The feed carries no signature of its own; it is trusted through https, the
// hosts of the feed URLs and the checks of decode().
#include "QuarnKit/Update/Chip.h"
#include "QuarnKit/Update/VersionNumber.h"

#include <nlohmann/json.hpp>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <map>
#include <optional>
#include <set>

namespace quarnkit {

struct UpdateFeed {
    struct Download {
        QUrl url;
        std::int64_t size = 0;
        QString sha256;
        friend bool operator==(const Download&, const Download&) = default;
    };
    struct Archive {
        QUrl url;
        std::int64_t size = 0;
        QString sha256;
        QString edSignature; // base64 of the 64-byte Ed25519 signature of the whole file
        friend bool operator==(const Archive&, const Archive&) = default;
    };
    struct ChipBuild {
        // The feed's "dmg": here no disk image but the release's download
        // page, opened when this copy cannot replace itself.
        Download dmg;
        Archive update;
        friend bool operator==(const ChipBuild&, const ChipBuild&) = default;
    };

    QString name;
    QString version;
    std::int64_t build = 0;
    QString minimumSystemVersion; // empty: no minimum
    std::optional<QString> publishedAt;
    QStringList notes;
    std::map<Chip, ChipBuild> builds;

    friend bool operator==(const UpdateFeed&, const UpdateFeed&) = default;

    // The largest file a feed may announce: 256 MiB.
    static constexpr std::int64_t sizeLimit = std::int64_t(1) << 28;

    // Decodes and checks a feed; with `hosts`, every download must be served
    // from one of them (letter case aside). Throws UpdateFailure(damagedFeed).
    static UpdateFeed decode(const QByteArray& body, const std::optional<std::set<QString>>& hosts);
    // The document, without the checks; throws std::invalid_argument with the
    // reason ("build is not an integer") when a key is missing or of a wrong type.
    static UpdateFeed fromJson(const nlohmann::json& document);
    nlohmann::json toJson() const;

    // Version and URL rules, sizes from 1 to sizeLimit, ASCII hexadecimal
    // digests and 64-byte signatures.
    bool isWellFormed() const;
    bool isServed(const std::set<QString>& hosts) const;
    std::optional<ChipBuild> downloads(Chip chip) const;
    AppRelease release() const { return {version, build}; }
    // publishedAt as an internet date-time, with or without fractional seconds.
    std::optional<QDateTime> publishedDate() const;
    bool supports(const OSVersion& system) const;

    // "Sample-App/2.1 (Linux; glibc 2.36)": spaces in the name become "-".
    static QString userAgent(const QString& app, const QString& version, const OSVersion& system);
};

namespace UpdateVerifier {
// Exactly 64 ASCII hexadecimal digits, either case.
bool isDigest(const QString& text);
} // namespace UpdateVerifier

// An https URL with a host and no user name or password: the only kind a
// feed, a download or a redirect may use.
bool isSecureURL(const QUrl& url);

// The build's update settings, from its Info.json.
struct UpdateSource {
    std::vector<QUrl> feedURLs; // "RVUpdateFeedURLs", in order, only secure ones kept
    QString publicKey;          // "RVUpdatePublicKey", base64; empty when missing
    QString identifier;         // "CFBundleIdentifier"

    static UpdateSource fromInfo(const nlohmann::json& info);
    // The hosts of the feed URLs: the only hosts downloads may come from.
    std::set<QString> hosts() const;
};

} // namespace quarnkit
