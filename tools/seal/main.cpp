// ravlen-seal: the maintainer's tool for signed updates, installed with
// ravlen because the installer script checks a new copy with it.
//   ravlen-seal keygen KEY                        a key pair: KEY (secret) and KEY.pub
//   ravlen-seal seal FOLDER KEY                   seals an install folder
//   ravlen-seal sign ARCHIVE KEY                  prints the archive's signature for the feed
//   ravlen-seal verify FOLDER PUBLICKEY [REQUIREMENT]
//   ravlen-seal verify --key-file KEYFILE FOLDER [REQUIREMENT]
//                                                 exits 0 only when the seal holds
// Keys are files of base64 text. verify takes the public key as its base64
// text, and never as the name of a file: the installer script passes the
// build's key, and no file lying around may stand in for it. People name a
// key file with --key-file.
#include "Platform/Crypto.h"
#include "QuarnKit/Update/CodeSignature.h"
#include "QuarnKit/Update/Seal.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>
#include <optional>

namespace Crypto = platform::Crypto;
using namespace quarnkit;

namespace {

int complain(const QString& text)
{
    std::fprintf(stderr, "ravlen-seal: %s\n", text.toLocal8Bit().constData());
    return 1;
}

int usage()
{
    std::fputs("usage: ravlen-seal keygen KEY\n"
               "       ravlen-seal seal FOLDER KEY\n"
               "       ravlen-seal sign ARCHIVE KEY\n"
               "       ravlen-seal verify FOLDER PUBLICKEY [REQUIREMENT]\n"
               "       ravlen-seal verify --key-file KEYFILE FOLDER [REQUIREMENT]\n",
               stderr);
    return 2;
}

std::optional<QByteArray> readKeyFile(const QString& path, int size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const auto key = Crypto::fromBase64Strict(QString::fromLatin1(file.readAll().trimmed()));
    if (!key || key->size() != size) return std::nullopt;
    return key;
}

bool writeKeyFile(const QString& path, const QByteArray& key, QFileDevice::Permissions permissions)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.setPermissions(permissions);
    file.write(Crypto::toBase64(key).toLatin1() + '\n');
    return file.commit();
}

int keygen(const QString& path)
{
    if (QFileInfo::exists(path) || QFileInfo::exists(path + QStringLiteral(".pub")))
        return complain(path + QStringLiteral(" exists; a key is never overwritten"));
    const Crypto::KeyPair pair = Crypto::generateKeyPair();
    if (!writeKeyFile(path, pair.secretKey, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return complain(QStringLiteral("cannot write ") + path);
    const auto everyoneReads =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (!writeKeyFile(path + QStringLiteral(".pub"), pair.publicKey, everyoneReads))
        return complain(QStringLiteral("cannot write ") + path + QStringLiteral(".pub"));
    std::printf("%s\n", Crypto::toBase64(pair.publicKey).toLatin1().constData());
    return 0;
}

int sealFolder(const QString& folder, const QString& keyPath)
{
    const auto key = readKeyFile(keyPath, Crypto::secretKeySize);
    if (!key) return complain(keyPath + QStringLiteral(" is not a secret key"));
    if (const auto failure = Seal::seal(folder, *key)) return complain(*failure);
    std::printf("sealed %s for team %s\n", folder.toLocal8Bit().constData(),
                Seal::teamOf(*Crypto::publicKeyOf(*key)).toLatin1().constData());
    return 0;
}

int signArchive(const QString& archive, const QString& keyPath)
{
    const auto key = readKeyFile(keyPath, Crypto::secretKeySize);
    if (!key) return complain(keyPath + QStringLiteral(" is not a secret key"));
    QFile file(archive);
    if (!file.open(QIODevice::ReadOnly)) return complain(QStringLiteral("cannot read ") + archive);
    const auto signature = Crypto::sign(file.readAll(), *key);
    std::printf("%s\n", Crypto::toBase64(*signature).toLatin1().constData());
    return 0;
}

int verifyFolder(const QString& folder, const std::optional<QByteArray>& key, const QString& keyName,
                 const std::optional<QString>& requirement)
{
    if (!key) return complain(keyName + QStringLiteral(" is not a public key"));
    const Seal::Check check = Seal::verify(folder, *key);
    if (!check.holds) return complain(check.problem);
    if (requirement && !CodeSignature::satisfies(folder, *requirement, Crypto::toBase64(*key)))
        return complain(QStringLiteral("the seal does not meet the requirement ") + *requirement);
    std::printf("the seal holds: %s, team %s\n", check.identifier.toLocal8Bit().constData(),
                check.team.toLatin1().constData());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        args << QFile::decodeName(argv[i]);
        // Such a name would come back as other bytes, and the file it names
        // would seem missing: say so rather than "no seal".
        if (QFile::encodeName(args.back()) != QByteArray(argv[i]))
            return complain(QStringLiteral("“%1” is not UTF-8; ravlen-seal takes only UTF-8 names").arg(args.back()));
    }
    const QString command = args.value(0);
    if (command == QLatin1String("keygen") && args.size() == 2) return keygen(args[1]);
    if (command == QLatin1String("seal") && args.size() == 3) return sealFolder(args[1], args[2]);
    if (command == QLatin1String("sign") && args.size() == 3) return signArchive(args[1], args[2]);
    if (command == QLatin1String("verify") && args.value(1) == QLatin1String("--key-file")
        && (args.size() == 4 || args.size() == 5))
        return verifyFolder(args[3], readKeyFile(args[2], Crypto::publicKeySize), args[2],
                            args.size() == 5 ? std::optional<QString>(args[4]) : std::nullopt);
    if (command == QLatin1String("verify") && (args.size() == 3 || args.size() == 4))
        return verifyFolder(args[1], CodeSignature::publicKeyFromText(args[2]), args[2],
                            args.size() == 4 ? std::optional<QString>(args[3]) : std::nullopt);
    return usage();
}
