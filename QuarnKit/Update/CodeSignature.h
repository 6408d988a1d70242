#pragma once
// Which team sealed the running install folder, and the requirement a
// downloaded copy must meet to count as this application from that team:
// a seal that holds under the build's update key, for the same identifier
// and team. ravlen-seal checks the same requirement for the installer script.
// Code is signed here by the seal (Seal.h): a team is the name its signed
// manifest carries, and the team ID of the running copy is its seal's team.
#include <QByteArray>
#include <QString>

#include <optional>

namespace quarnkit {
namespace CodeSignature {

// The team of an install folder's seal when it holds under `publicKey`
// (base64 text, as Info.json's "RVUpdatePublicKey"); none for a development
// build, an unsealed or altered folder, or a missing key.
std::optional<QString> sealTeam(const QString& installFolder, const QString& publicKey);
// sealTeam() of the running program's install folder and build key.
std::optional<QString> runningTeamID();

// `identifier "ID" and team "TEAM"`; none when either is empty or holds a
// character other than ASCII letters, digits, "." and "-".
std::optional<QString> requirement(const QString& identifier, const QString& teamID);

// True when the folder's seal holds under `publicKey` (base64) and names the
// identifier and team of `requirement`.
bool satisfies(const QString& folder, const QString& requirement, const QString& publicKey);

// A public key given as base64 text: none unless it decodes to 32 bytes.
std::optional<QByteArray> publicKeyFromText(const QString& text);

} // namespace CodeSignature
} // namespace quarnkit
