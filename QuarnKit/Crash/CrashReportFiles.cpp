#include "QuarnKit/Crash/CrashReportFiles.h"

#include "Platform/OwnFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace quarnkit {

using nlohmann::json;

namespace {

// An optional sign, then ASCII digits and nothing else: the digits' value,
// with `negative` set for "-"; none for anything else or above 2^64 - 1.
std::optional<std::uint64_t> decimalDigits(const QString& text, bool allowMinus, bool& negative)
{
    negative = false;
    qsizetype at = 0;
    if (at < text.size() && (text[at] == u'+' || (allowMinus && text[at] == u'-'))) negative = text[at++] == u'-';
    if (at == text.size()) return std::nullopt;
    std::uint64_t value = 0;
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    for (; at < text.size(); ++at) {
        const QChar c = text[at];
        if (c < u'0' || c > u'9') return std::nullopt;
        const unsigned digit = c.unicode() - u'0';
        if (value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<json> parseObject(const char* begin, const char* end)
{
    json value = json::parse(begin, end, nullptr, false);
    if (value.is_discarded() || !value.is_object()) return std::nullopt;
    return value;
}

} // namespace

const json* ipsMember(const json& value, const char* key)
{
    if (!value.is_object()) return nullptr;
    const auto it = value.find(key);
    return it == value.end() ? nullptr : &*it;
}

std::optional<QString> ipsString(const json* value)
{
    if (!value) return std::nullopt;
    switch (value->type()) {
    case json::value_t::string: return QString::fromStdString(value->get_ref<const std::string&>());
    case json::value_t::boolean: return QString::fromLatin1(value->get<bool>() ? "1" : "0");
    case json::value_t::number_integer: return QString::number(value->get<std::int64_t>());
    case json::value_t::number_unsigned: return QString::number(value->get<std::uint64_t>());
    case json::value_t::number_float: {
        char text[32];
        const auto result = std::to_chars(text, text + sizeof text, value->get<double>());
        return QString::fromLatin1(text, result.ptr - text);
    }
    default: return std::nullopt;
    }
}

std::optional<bool> ipsBool(const json* value)
{
    if (!value) return std::nullopt;
    switch (value->type()) {
    case json::value_t::boolean: return value->get<bool>();
    case json::value_t::number_integer: return value->get<std::int64_t>() != 0;
    case json::value_t::number_unsigned: return value->get<std::uint64_t>() != 0;
    case json::value_t::number_float: return value->get<double>() != 0.0;
    default: return std::nullopt;
    }
}

std::optional<std::int64_t> ipsInt(const json* value)
{
    if (!value) return std::nullopt;
    constexpr auto max = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    switch (value->type()) {
    case json::value_t::boolean: return value->get<bool>() ? 1 : 0;
    case json::value_t::number_integer: return value->get<std::int64_t>();
    case json::value_t::number_unsigned: {
        const auto n = value->get<std::uint64_t>();
        if (n > max) return std::nullopt;
        return std::int64_t(n);
    }
    case json::value_t::number_float: {
        // -2^63 <= cut < 2^63, tested in doubles, where both bounds are exact.
        const double cut = std::trunc(value->get<double>());
        if (!(cut >= -9223372036854775808.0 && cut < 9223372036854775808.0)) return std::nullopt;
        return std::int64_t(cut);
    }
    case json::value_t::string: {
        bool negative = false;
        const auto digits = decimalDigits(QString::fromStdString(value->get_ref<const std::string&>()), true, negative);
        if (!digits) return std::nullopt;
        if (negative) {
            if (*digits > max + 1) return std::nullopt;
            return *digits == max + 1 ? std::numeric_limits<std::int64_t>::min() : -std::int64_t(*digits);
        }
        if (*digits > max) return std::nullopt;
        return std::int64_t(*digits);
    }
    default: return std::nullopt;
    }
}

std::optional<std::uint64_t> ipsUInt64(const json* value)
{
    if (!value) return std::nullopt;
    switch (value->type()) {
    case json::value_t::boolean: return value->get<bool>() ? 1u : 0u;
    case json::value_t::number_integer: {
        const auto n = value->get<std::int64_t>();
        if (n < 0) return std::nullopt;
        return std::uint64_t(n);
    }
    case json::value_t::number_unsigned: return value->get<std::uint64_t>();
    case json::value_t::number_float: {
        const double cut = std::trunc(value->get<double>());
        if (!(cut >= 0.0 && cut < 18446744073709551616.0)) return std::nullopt;
        return std::uint64_t(cut);
    }
    case json::value_t::string: {
        bool negative = false;
        const auto digits = decimalDigits(QString::fromStdString(value->get_ref<const std::string&>()), true, negative);
        if (!digits || (negative && *digits != 0)) return std::nullopt;
        return *digits;
    }
    default: return std::nullopt;
    }
}

std::optional<QDateTime> CrashDate::parse(const QString& text)
{
    const QStringList pieces = text.split(u' ', Qt::SkipEmptyParts);
    if (pieces.size() != 3) return std::nullopt;
    const qsizetype dot = pieces[1].indexOf(u'.');
    QStringList time = dot < 0 ? QStringList{pieces[1]} : QStringList{pieces[1].left(dot), pieces[1].mid(dot + 1)};
    time.removeAll(QString());
    if (time.isEmpty()) return std::nullopt;

    static const QRegularExpression datePattern(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
    static const QRegularExpression timePattern(QStringLiteral("^(\\d{2}):(\\d{2}):(\\d{2})$"));
    static const QRegularExpression zonePattern(QStringLiteral("^([+-])(\\d{2}):?(\\d{2})$"));
    const auto d = datePattern.match(pieces[0]);
    const auto t = timePattern.match(time[0]);
    const auto z = zonePattern.match(pieces[2]);
    if (!d.hasMatch() || !t.hasMatch() || !z.hasMatch()) return std::nullopt;
    const QDate date(d.captured(1).toInt(), d.captured(2).toInt(), d.captured(3).toInt());
    const QTime clock(t.captured(1).toInt(), t.captured(2).toInt(), t.captured(3).toInt());
    const int zoneHours = z.captured(2).toInt(), zoneMinutes = z.captured(3).toInt();
    if (!date.isValid() || !clock.isValid() || zoneHours > 23 || zoneMinutes > 59) return std::nullopt;
    const int offset = (z.captured(1) == u"-" ? -1 : 1) * (zoneHours * 3600 + zoneMinutes * 60);
    QDateTime result = QDateTime(date, clock, Qt::UTC).addSecs(-offset);

    if (time.size() == 2) {
        const QString& fraction = time[1];
        const bool digits =
            std::all_of(fraction.begin(), fraction.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        if (digits) {
            const std::string number = "0." + fraction.toStdString();
            double seconds = 0;
            std::from_chars(number.data(), number.data() + number.size(), seconds);
            result = result.addMSecs(std::llround(seconds * 1000));
        }
    }
    return result;
}

QString CrashDate::iso(const QDateTime& date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")) + u'Z';
}

std::optional<IPSHeader> IPSHeader::fromLine(const QByteArray& line)
{
    auto fields = parseObject(line.constData(), line.constData() + line.size());
    if (!fields) return std::nullopt;
    return IPSHeader{std::move(*fields)};
}

std::optional<IPSHeader> IPSHeader::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray start = file.read(16384);
    const qsizetype feed = start.indexOf('\n');
    if (feed < 0) return std::nullopt;
    return fromLine(start.left(feed));
}

std::optional<QString> IPSHeader::incidentID() const { return ipsString(ipsMember(fields, "incident_id")); }
std::optional<QString> IPSHeader::bugType() const { return ipsString(ipsMember(fields, "bug_type")); }
std::optional<QString> IPSHeader::bundleID() const { return ipsString(ipsMember(fields, "bundleID")); }

std::optional<QString> IPSHeader::processName() const
{
    if (auto name = ipsString(ipsMember(fields, "app_name"))) return name;
    return ipsString(ipsMember(fields, "name"));
}

std::optional<QDateTime> IPSHeader::date() const
{
    const auto text = ipsString(ipsMember(fields, "timestamp"));
    return text ? CrashDate::parse(*text) : std::nullopt;
}

bool IPSHeader::isCrash() const { return bugType() == QStringLiteral("309"); }

bool IPSHeader::isFrom(const QString& ownBundleID, const QString& ownProcessName) const
{
    if (const auto bundle = bundleID(); bundle && !bundle->isEmpty()) return *bundle == ownBundleID;
    const auto name = processName();
    return name && *name == ownProcessName;
}

IPSReport IPSReport::fromData(const QByteArray& data)
{
    const auto unreadable = [] { return CrashReportFailure(CrashReportError::unreadable); };
    if (data.size() > sizeLimit) throw unreadable();
    const qsizetype feed = data.indexOf('\n');
    if (feed < 0) throw unreadable();
    auto header = parseObject(data.constData(), data.constData() + feed);
    if (!header) throw unreadable();
    auto body = parseObject(data.constData() + feed + 1, data.constData() + data.size());
    if (!body) throw unreadable();
    return IPSReport{IPSHeader{std::move(*header)}, std::move(*body)};
}

IPSReport IPSReport::read(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.size() > sizeLimit) throw CrashReportFailure(CrashReportError::unreadable);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw CrashReportFailure(CrashReportError::unreadable);
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) throw CrashReportFailure(CrashReportError::unreadable);
    return fromData(data);
}

QStringList CrashReportScanner::standardFolders(const QString& reportsFolder)
{
    return {reportsFolder, QDir(reportsFolder).filePath(QStringLiteral("Retired"))};
}

std::vector<CrashReportFile> CrashReportScanner::find(const QStringList& folders, const QString& bundleID,
                                                      const QString& processName)
{
    if (processName.isEmpty()) return {};
    std::map<QString, CrashReportFile> byIncident;
    for (const QString& folder : folders) {
        const QDir dir(folder);
        const QStringList names =
            dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
        for (const QString& name : names) {
            // By name first: only candidates are opened.
            if (!name.startsWith(processName) || !name.toLower().endsWith(QLatin1String(".ips"))) continue;
            const QString path = dir.filePath(name);
            const QFileInfo info(path);
            if (info.isSymLink() || !info.isFile()) continue;
            const auto header = IPSHeader::read(path);
            if (!header || !header->isCrash() || !header->isFrom(bundleID, processName)) continue;
            const auto incident = header->incidentID();
            const auto date = header->date();
            if (!incident || incident->isEmpty() || !date || byIncident.count(*incident)) continue;
            byIncident.emplace(*incident, CrashReportFile{path, *incident, *date});
        }
    }
    std::vector<CrashReportFile> files;
    for (auto& [incident, file] : byIncident) files.push_back(std::move(file));
    std::stable_sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.date > b.date; });
    return files;
}

void CrashReportScanner::retire(const QStringList& folders, const QString& bundleID, const QString& processName,
                                const std::function<bool(const CrashReportFile&)>& done, int keep)
{
    if (folders.size() < 2) return;
    const QString& retired = folders[1];
    // Both folders held as folders of ravlen's own (never ones another user
    // can change); the reports are moved and removed through them, by the
    // names found there.
    const auto hold = [](const QString& folder) {
        return platform::holdOwnFolder(QFile::encodeName(folder).toStdString());
    };
    std::optional<platform::OwnFolder> reports, held;
    for (const CrashReportFile& report : find({folders[0]}, bundleID, processName)) {
        if (!done(report)) continue;
        if (!reports) {
            reports = hold(folders[0]);
            held = hold(retired);
        }
        if (!reports->held() || !held->held()) return;
        const QByteArray name = QFile::encodeName(QFileInfo(report.path).fileName());
        // renameat() replaces an older copy of the same report in one step.
        ::renameat(reports->folder.fd, name.constData(), held->folder.fd, name.constData());
    }
    const std::vector<CrashReportFile> kept = find({retired}, bundleID, processName);
    if (kept.size() <= size_t(std::max(keep, 0))) return;
    if (!held) held = hold(retired);
    if (!held->held()) return;
    for (size_t i = size_t(std::max(keep, 0)); i < kept.size(); ++i)
        ::unlinkat(held->folder.fd, QFile::encodeName(QFileInfo(kept[i].path).fileName()).constData(), 0);
}

} // namespace quarnkit
