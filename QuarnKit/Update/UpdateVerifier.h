#pragma once
// The checks a downloaded update goes through before it may be installed,
// in order: the archive against the feed (size, SHA-256, Ed25519 signature),
// unpacking it, then the install folder inside (identity, newer, executable,
// processor, seal). The first failure throws UpdateFailure with its case.
#include "QuarnKit/Update/Chip.h"
#include "QuarnKit/Update/UpdateFeed.h"
#include "QuarnKit/Update/VersionNumber.h"

#include <QString>

namespace quarnkit {

namespace UpdateVerifier {

// The SHA-256 of a file as 64 lower-case hexadecimal digits, read in 1 MiB
// pieces. Throws std::runtime_error when the file cannot be opened or read.
QString sha256(const QString& file);

// Size (damagedDownload), digest, either case (damagedDownload), then the
// Ed25519 signature of the whole file under `publicKey`, base64 of 32 bytes
// (badSignature).
void checkArchive(const QString& file, const UpdateFeed::Archive& expected, const QString& publicKey);

// Checks an unpacked install folder against the running copy and returns
// its release. Info.json unreadable: damagedArchive; another
// "CFBundleIdentifier": wrongApp; a malformed version or one not newer than
// `newerThan`: notNewer; "CFBundleExecutable" missing, not a plain name, or
// bin/<it> not an executable regular file: damagedArchive; no code for
// `chip`: wrongChip; a seal that does not hold under `publicKey` for
// `bundleID` and `team`: untrustedCode.
AppRelease checkApp(const QString& installFolder, const QString& bundleID, const AppRelease& newerThan, Chip chip,
                    const std::optional<QString>& team, const QString& publicKey);

} // namespace UpdateVerifier

namespace UpdateArchive {

// Creates `destination` (with its parents; a failure throws
// std::runtime_error), unpacks the archive into it safely (a failure throws
// damagedArchive) and returns appBundle() of it.
QString unzip(const QString& archive, const QString& destination);
// The one install folder directly inside `folder`: a real folder (not a
// link) with an Info.json file at its top. None or several throw damagedArchive.
QString appBundle(const QString& folder);

} // namespace UpdateArchive

} // namespace quarnkit
