#pragma once
// SHA-256 and Ed25519 over libsodium: the digests and signatures of update
// archives and of the seal of an install folder.
#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {
namespace Crypto {

inline constexpr int publicKeySize = 32;
inline constexpr int secretKeySize = 64; // libsodium's form: the seed followed by the public key
inline constexpr int signatureSize = 64;

// The SHA-256 digest of `data`, 32 bytes.
QByteArray sha256(const QByteArray& data);
// The SHA-256 digest of a file's contents, read in 1 MiB pieces so that a
// large file needs little memory; none when the file cannot be opened or read.
std::optional<QByteArray> sha256OfFile(const QString& path);
// The same of what an open file holds from where it stands to its end.
std::optional<QByteArray> sha256OfFile(int descriptor);
// Lower-case hexadecimal text of bytes ("%02x" each, no separators).
QString hex(const QByteArray& bytes);

struct KeyPair {
    QByteArray publicKey; // 32 bytes
    QByteArray secretKey; // 64 bytes
};
// A new random key pair.
KeyPair generateKeyPair();
// The public half of a 64-byte secret key; none when it has another length.
std::optional<QByteArray> publicKeyOf(const QByteArray& secretKey);
// The detached 64-byte signature of `message`; none when the key is not 64 bytes.
std::optional<QByteArray> sign(const QByteArray& message, const QByteArray& secretKey);
// True only when `signature` (64 bytes) is a valid signature of `message`
// by `publicKey` (32 bytes); any other length is false.
bool verify(const QByteArray& message, const QByteArray& signature, const QByteArray& publicKey);

// Standard base64 with "=" padding, decoded strictly: any character outside
// the alphabet (a space or line break included) or a wrong padding gives none.
std::optional<QByteArray> fromBase64Strict(const QString& text);
QString toBase64(const QByteArray& bytes);

} // namespace Crypto
} // namespace platform
