#pragma once
// The seal of an install folder: ravlen's own code signature. "Seal.json" at
// the top of the folder holds a manifest (the application identifier, the
// team, and every folder, file and link below the top with its mode, its
// SHA-256 or its link target) and the manifest's Ed25519 signature. The team
// is named after the signing key, so a valid seal under a key names its team.
#include <QByteArray>
#include <QString>

#include <optional>

namespace quarnkit {
namespace Seal {

inline constexpr char fileName[] = "Seal.json";

// The team of a 32-byte public key: the first five bytes of its SHA-256 in
// upper-case hexadecimal (ten characters).
QString teamOf(const QByteArray& publicKey);

// Writes the seal of `folder` (relative to the working folder, or absolute)
// with a 64-byte secret key; the identifier is the folder's Info.json
// "CFBundleIdentifier". Returns the failure's description, or none when the
// seal was written. A name below the folder that is not UTF-8 is a failure.
std::optional<QString> seal(const QString& folder, const QByteArray& secretKey);

struct Check {
    bool holds = false;
    QString identifier; // the seal's, when it holds
    QString team;
    // Why it does not hold: "<folder> is not a folder", "no seal", "the seal
    // is not signed by this key", "the seal names a team other than its
    // key's", a name that is not UTF-8, or the first path (in path order)
    // that was "changed", "added", "removed" or whose "mode changed", as
    // "changed: bin/ravlen".
    QString problem;
};
// Checks the seal of `folder` against a 32-byte public key and the folder's
// present contents. A mode may have lost rights of group and others (a
// umask did that when the folder was unpacked); any other change of mode
// breaks the seal.
Check verify(const QString& folder, const QByteArray& publicKey);

} // namespace Seal
} // namespace quarnkit
