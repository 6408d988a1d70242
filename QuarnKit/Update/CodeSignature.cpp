#include "QuarnKit/Update/CodeSignature.h"

#include "Platform/Crypto.h"
#include "QuarnKit/Shell/VersionTexts.h"
#include "QuarnKit/Update/Seal.h"
#include "QuarnKit/Update/UpdateFeed.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace quarnkit {
namespace CodeSignature {

namespace {

bool isRequirementWord(const QString& text)
{
    if (text.isEmpty()) return false;
    for (const QChar c : text)
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'.'
              || c == u'-'))
            return false;
    return true;
}

} // namespace

std::optional<QByteArray> publicKeyFromText(const QString& text)
{
    const auto key = platform::Crypto::fromBase64Strict(text.trimmed());
    if (!key || key->size() != platform::Crypto::publicKeySize) return std::nullopt;
    return key;
}

std::optional<QString> sealTeam(const QString& installFolder, const QString& publicKey)
{
    const auto key = publicKeyFromText(publicKey);
    if (!key || installFolder.isEmpty()) return std::nullopt;
    const Seal::Check check = Seal::verify(installFolder, *key);
    if (!check.holds || check.team.isEmpty()) return std::nullopt;
    return check.team;
}

std::optional<QString> runningTeamID()
{
    const QString info = installInfoPath();
    if (info.isEmpty()) return std::nullopt;
    return sealTeam(QFileInfo(info).absolutePath(), UpdateSource::fromInfo(readInstallInfo(info)).publicKey);
}

std::optional<QString> requirement(const QString& identifier, const QString& team)
{
    if (!isRequirementWord(identifier) || !isRequirementWord(team)) return std::nullopt;
    return QStringLiteral("identifier \"") + identifier + QStringLiteral("\" and team \"") + team + u'"';
}

bool satisfies(const QString& folder, const QString& requirementText, const QString& publicKey)
{
    static const QRegularExpression pattern(
        QStringLiteral("^identifier \"([A-Za-z0-9.-]+)\" and team \"([A-Za-z0-9.-]+)\"$"));
    const QRegularExpressionMatch match = pattern.match(requirementText);
    const auto key = publicKeyFromText(publicKey);
    if (!match.hasMatch() || !key) return false;
    const Seal::Check check = Seal::verify(folder, *key);
    return check.holds && check.identifier == match.captured(1) && check.team == match.captured(2);
}

} // namespace CodeSignature
} // namespace quarnkit
