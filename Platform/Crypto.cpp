#include "Platform/Crypto.h"

#include <QFile>

#include <sodium.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace Crypto {

namespace {

// sodium_init is safe to call from several threads and more than once.
void ensureInitialised() { [[maybe_unused]] static const int once = sodium_init(); }

const unsigned char* bytes(const QByteArray& data) { return reinterpret_cast<const unsigned char*>(data.constData()); }
unsigned char* bytes(QByteArray& data) { return reinterpret_cast<unsigned char*>(data.data()); }

} // namespace

QByteArray sha256(const QByteArray& data)
{
    ensureInitialised();
    QByteArray digest(crypto_hash_sha256_BYTES, Qt::Uninitialized);
    crypto_hash_sha256(bytes(digest), bytes(data), static_cast<unsigned long long>(data.size()));
    return digest;
}

std::optional<QByteArray> sha256OfFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return sha256OfFile(file.handle());
}

std::optional<QByteArray> sha256OfFile(int descriptor)
{
    ensureInitialised();
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer.data(), size_t(buffer.size()));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return std::nullopt;
        if (count == 0) break;
        crypto_hash_sha256_update(&state, bytes(buffer), static_cast<unsigned long long>(count));
    }
    QByteArray digest(crypto_hash_sha256_BYTES, Qt::Uninitialized);
    crypto_hash_sha256_final(&state, bytes(digest));
    return digest;
}

QString hex(const QByteArray& data) { return QString::fromLatin1(data.toHex()); }

KeyPair generateKeyPair()
{
    ensureInitialised();
    KeyPair pair{QByteArray(publicKeySize, Qt::Uninitialized), QByteArray(secretKeySize, Qt::Uninitialized)};
    crypto_sign_keypair(bytes(pair.publicKey), bytes(pair.secretKey));
    return pair;
}

std::optional<QByteArray> publicKeyOf(const QByteArray& secretKey)
{
    if (secretKey.size() != secretKeySize) return std::nullopt;
    ensureInitialised();
    QByteArray publicKey(publicKeySize, Qt::Uninitialized);
    crypto_sign_ed25519_sk_to_pk(bytes(publicKey), bytes(secretKey));
    return publicKey;
}

std::optional<QByteArray> sign(const QByteArray& message, const QByteArray& secretKey)
{
    if (secretKey.size() != secretKeySize) return std::nullopt;
    ensureInitialised();
    QByteArray signature(signatureSize, Qt::Uninitialized);
    crypto_sign_detached(bytes(signature), nullptr, bytes(message), static_cast<unsigned long long>(message.size()),
                         bytes(secretKey));
    return signature;
}

bool verify(const QByteArray& message, const QByteArray& signature, const QByteArray& publicKey)
{
    if (signature.size() != signatureSize || publicKey.size() != publicKeySize) return false;
    ensureInitialised();
    return crypto_sign_verify_detached(bytes(signature), bytes(message),
                                       static_cast<unsigned long long>(message.size()), bytes(publicKey))
           == 0;
}

std::optional<QByteArray> fromBase64Strict(const QString& text)
{
    const QByteArray ascii = text.toUtf8();
    if (ascii.isEmpty()) return QByteArray();
    ensureInitialised();
    QByteArray decoded(ascii.size(), Qt::Uninitialized);
    size_t length = 0;
    const char* end = nullptr;
    // No characters to ignore: a space or a line break makes the text invalid.
    if (sodium_base642bin(bytes(decoded), static_cast<size_t>(decoded.size()), ascii.constData(),
                          static_cast<size_t>(ascii.size()), nullptr, &length, &end, sodium_base64_VARIANT_ORIGINAL)
        != 0)
        return std::nullopt;
    if (end != ascii.constData() + ascii.size()) return std::nullopt;
    decoded.truncate(static_cast<qsizetype>(length));
    return decoded;
}

QString toBase64(const QByteArray& data) { return QString::fromLatin1(data.toBase64()); }

} // namespace Crypto
} // namespace platform
