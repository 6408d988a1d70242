#include "Platform/Crypto.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace platform;

TEST(Crypto, Sha256MatchesPublishedDigests)
{
    struct Case {
        QByteArray input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Crypto::hex(Crypto::sha256(c.input)), QLatin1String(c.digest)) << c.input.toStdString();
}

TEST(Crypto, AFileIsHashedInPiecesToTheSameDigest)
{
    QTemporaryDir dir;
    // Larger than one 1 MiB read, and not a multiple of it.
    QByteArray data;
    for (int i = 0; i < (3 << 19) + 7; ++i) data.append(char(i * 31));
    QFile file(dir.filePath("big.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();
    EXPECT_EQ(Crypto::sha256OfFile(file.fileName()), Crypto::sha256(data));
    EXPECT_FALSE(Crypto::sha256OfFile(dir.filePath("missing.bin")));
}

TEST(Crypto, ASignatureVerifiesOnlyForItsMessageAndKey)
{
    const Crypto::KeyPair pair = Crypto::generateKeyPair();
    const Crypto::KeyPair other = Crypto::generateKeyPair();
    const QByteArray message = "the archive's bytes";
    const auto signature = Crypto::sign(message, pair.secretKey);
    ASSERT_TRUE(signature);
    EXPECT_EQ(signature->size(), Crypto::signatureSize);
    EXPECT_EQ(Crypto::publicKeyOf(pair.secretKey), pair.publicKey);
    EXPECT_TRUE(Crypto::verify(message, *signature, pair.publicKey));

    QByteArray flipped = message;
    flipped[3] = char(flipped[3] ^ 1);
    QByteArray badSignature = *signature;
    badSignature[10] = char(badSignature[10] ^ 0x80);
    EXPECT_FALSE(Crypto::verify(flipped, *signature, pair.publicKey));
    EXPECT_FALSE(Crypto::verify(message, badSignature, pair.publicKey));
    EXPECT_FALSE(Crypto::verify(message, *signature, other.publicKey));
    EXPECT_FALSE(Crypto::verify(message, signature->left(63), pair.publicKey));
    EXPECT_FALSE(Crypto::verify(message, *signature, pair.publicKey.left(31)));
    EXPECT_FALSE(Crypto::sign(message, pair.publicKey));
}

TEST(Crypto, Base64IsDecodedStrictly)
{
    EXPECT_EQ(Crypto::fromBase64Strict("aGVsbG8="), QByteArray("hello"));
    EXPECT_EQ(Crypto::fromBase64Strict(""), QByteArray());
    EXPECT_EQ(Crypto::toBase64("hello"), "aGVsbG8=");
    for (const char* bad : {"aGVs\nbG8=", "aGVsbG8", " aGVsbG8=", "aGVsbG8=\n", "aGVs-G8=", "aGVsbG8=="})
        EXPECT_FALSE(Crypto::fromBase64Strict(QString::fromLatin1(bad))) << bad;
}
