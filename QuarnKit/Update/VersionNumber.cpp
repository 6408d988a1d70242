#include "QuarnKit/Update/VersionNumber.h"

#include "QuarnKit/Shell/Blanks.h"
#include "QuarnKit/Update/UpdateFeed.h"

#include <nlohmann/json.hpp>

#include <gnu/libc-version.h>

#include <limits>
#include <vector>

namespace quarnkit {

namespace {

bool isAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// The value of a run of ASCII digits; none when it overflows 64 bits.
std::optional<std::int64_t> decimal(QStringView digits)
{
    std::int64_t value = 0;
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    for (const QChar c : digits) {
        const int digit = c.unicode() - u'0';
        if (value > (limit - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::vector<std::int64_t> components(const QString& version)
{
    std::vector<std::int64_t> parts;
    for (const QString& piece : trimmedBlanks(version).split(u'.', Qt::SkipEmptyParts)) {
        qsizetype run = 0;
        while (run < piece.size() && isAsciiDigit(piece[run])) ++run;
        parts.push_back(decimal(QStringView(piece).left(run)).value_or(0));
    }
    return parts;
}

} // namespace

int VersionNumber::compare(const QString& a, const QString& b)
{
    const auto left = components(a), right = components(b);
    for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const std::int64_t x = i < left.size() ? left[i] : 0, y = i < right.size() ? right[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

bool VersionNumber::isValid(const QString& version)
{
    for (const QString& piece : version.split(u'.')) {
        if (piece.isEmpty()) return false;
        for (const QChar c : piece)
            if (!isAsciiDigit(c)) return false;
    }
    return true;
}

QString SystemVersion::string(const OSVersion& v)
{
    QString text = QString::number(v.major) + u'.' + QString::number(v.minor);
    if (v.patch >= 1) text += u'.' + QString::number(v.patch);
    return text;
}

OSVersion SystemVersion::running()
{
    const QStringList parts = QString::fromLatin1(gnu_get_libc_version()).split(u'.');
    OSVersion version;
    version.major = parts.value(0).toInt();
    version.minor = parts.value(1).toInt();
    version.patch = parts.value(2).toInt();
    return version;
}

std::optional<AppRelease> AppRelease::fromInfo(const nlohmann::json& info)
{
    if (!info.is_object() || info.empty()) return std::nullopt;
    const auto version = info.find("CFBundleShortVersionString");
    const auto build = info.find("CFBundleVersion");
    if (version == info.end() || !version->is_string() || build == info.end() || !build->is_string())
        return std::nullopt;
    const QString text = QString::fromStdString(version->get<std::string>());
    if (!VersionNumber::isValid(text)) return std::nullopt;
    return AppRelease{text, AppRelease::buildNumber(QString::fromStdString(build->get<std::string>()))};
}

std::int64_t AppRelease::buildNumber(const QString& text)
{
    const QString trimmed = trimmedBlanks(text);
    qsizetype run = 0;
    while (run < trimmed.size() && trimmed[run].isDigit()) ++run;
    const QStringView digits = QStringView(trimmed).left(run);
    for (const QChar c : digits)
        if (!isAsciiDigit(c)) return 0; // numerals of other scripts
    return decimal(digits).value_or(0);
}

QString AppRelease::description() const { return version + QStringLiteral(" (") + QString::number(build) + u')'; }

std::strong_ordering operator<=>(const AppRelease& a, const AppRelease& b)
{
    if (a.build != b.build) return a.build <=> b.build;
    return VersionNumber::compare(a.version, b.version) <=> 0;
}

UpdateDecision decideUpdate(const AppRelease& current, const UpdateFeed& feed, Chip chip,
                            const std::optional<QString>& skippedVersion, const OSVersion& system)
{
    if (!(current < feed.release())) return UpdateDecision::upToDate;
    if (!feed.downloads(chip)) return UpdateDecision::noBuildForThisComputer;
    if (!feed.supports(system)) return UpdateDecision::requiresNewerSystem;
    if (skippedVersion && VersionNumber::isValid(*skippedVersion)
        && VersionNumber::compare(*skippedVersion, feed.version) == 0)
        return UpdateDecision::skipped;
    return UpdateDecision::available;
}

} // namespace quarnkit
