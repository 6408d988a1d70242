#pragma once
// The checks a downloaded update goes through before it may be installed,
// in order: the archive against the feed (size, SHA-256, Ed25519 signature)
// and unpacking those same bytes, then the install folder inside (identity,
// newer, executable, processor, seal). The first failure throws
// UpdateFailure with its case.
#include "QuarnKit/Update/Chip.h"
#include "QuarnKit/Update/UpdateFeed.h"
#include "QuarnKit/Update/VersionNumber.h"

#include <QString>

namespace quarnkit {

namespace UpdateVerifier {

// The SHA-256 of a file as 64 lower-case hexadecimal digits, read in 1 MiB
// pieces. Throws std::runtime_error when the file cannot be opened or read.
QString sha256(const QString& file);

// What an archive the feed announces at `size` bytes may unpack to: a few
// times its size, at least enough for a small release, and never more than
// the hard cap, so that a signed archive cannot fill the disk.
inline constexpr qint64 unpackFactor = 4;
inline constexpr qint64 unpackFloor = qint64(4) << 20; // 4 MiB
inline constexpr qint64 unpackCap = qint64(512) << 20; // 512 MiB
qint64 unpackBudget(qint64 size);

// Checks the downloaded archive and unpacks it into a staging folder, in one
// call, so that the bytes checked are the bytes unpacked: `archive` is opened
// once (not through a link) and read whole into memory, and nothing after
// that reads the file again.
// - The file must be a regular file of exactly `expected.size` bytes, at most
//   UpdateFeed::sizeLimit, with the SHA-256 `expected.sha256` in either case:
//   else damagedDownload. Those bytes must carry the Ed25519 signature
//   `expected.edSignature` under `publicKey` (base64 of 32 bytes): else
//   badSignature.
// - `destination` is then created with its parents (a failure throws
//   std::runtime_error); it should be new, as nothing in it is ever replaced.
//   The bytes are unpacked into it under platform::Archive::unzip's rules,
//   the total capped at unpackBudget(expected.size): any refusal is
//   damagedArchive.
// - Returns the one install folder at the top of `destination`: a real
//   folder (not a link) with an Info.json file at its top. None or several:
//   damagedArchive.
// Nothing is cleaned up on failure: the caller removes its staging folder.
// Blocks while it reads, hashes and writes; call it off the UI thread.
QString checkAndUnpack(const QString& archive, const UpdateFeed::Archive& expected, const QString& publicKey,
                       const QString& destination);

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

} // namespace quarnkit
