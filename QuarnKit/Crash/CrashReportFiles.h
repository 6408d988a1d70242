#pragma once
// Finding and reading crash reports in the two-part .ips layout: a one-line
// JSON header object, a line feed, then a JSON body object. The crash writer
// (Platform/CrashHandler) writes them; the scanner finds this program's
// crashes among them and the reader loads one for the submission builder.
// No state between calls; any thread.
#include <nlohmann/json.hpp>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

namespace quarnkit {

enum class CrashReportError {
    unreadable, // the file or its bytes are not a readable report
    incomplete, // a readable report lacks what a payload needs
};

struct CrashReportFailure : std::runtime_error {
    explicit CrashReportFailure(CrashReportError e) : std::runtime_error("crash report failure"), error(e) {}
    CrashReportError error;
};

// The member `key` of an object; null when `value` is no object or lacks it.
const nlohmann::json* ipsMember(const nlohmann::json& value, const char* key);

// Values of a report, read leniently. Each takes a JSON value or null (a
// missing key). Booleans count as the numbers 1 and 0.
// Text unchanged; a number as its own text ("309", "1.5", true is "1").
std::optional<QString> ipsString(const nlohmann::json* value);
// A number's truth (not zero); none for anything else, text included.
std::optional<bool> ipsBool(const nlohmann::json* value);
// A number, fraction cut off, or a text of an optional sign and ASCII digits
// only; none outside the signed 64-bit range.
std::optional<std::int64_t> ipsInt(const nlohmann::json* value);
// The same for the unsigned 64-bit range: a text may have "+"; "-" only
// before digits that are all 0. Negative numbers are none.
std::optional<std::uint64_t> ipsUInt64(const nlohmann::json* value);

namespace CrashDate {
// "2024-01-15 10:23:45.12 +0100": date, time with an optional fraction of a
// second, zone. The fraction counts only when it is ASCII digits; another
// one is ignored. Runs of spaces count as one; anything else is none.
std::optional<QDateTime> parse(const QString& text);
// "2024-01-15T09:23:45Z": UTC, whole seconds.
QString iso(const QDateTime& date);
} // namespace CrashDate

// A report's header line: a JSON object, its properties computed on each access.
struct IPSHeader {
    nlohmann::json fields = nlohmann::json::object();

    // None unless the bytes are one JSON object.
    static std::optional<IPSHeader> fromLine(const QByteArray& line);
    // The header of a file: the bytes before the first line feed within its
    // first 16384 bytes, read at once; none on any failure.
    static std::optional<IPSHeader> read(const QString& path);

    std::optional<QString> incidentID() const; // "incident_id"
    std::optional<QString> bugType() const;    // "bug_type"
    std::optional<QString> bundleID() const;   // "bundleID"
    // "app_name", else "name" when "app_name" gives no text.
    std::optional<QString> processName() const;
    // "timestamp" through CrashDate::parse.
    std::optional<QDateTime> date() const;
    // "bug_type" reads as "309".
    bool isCrash() const;
    // A non-empty "bundleID" must equal `bundleID`; without one, the process
    // name must equal `processName`. Exact comparisons.
    bool isFrom(const QString& bundleID, const QString& processName) const;
};

// A whole report.
struct IPSReport {
    static constexpr qint64 sizeLimit = 8388608; // bytes

    IPSHeader header;
    nlohmann::json body = nlohmann::json::object();

    // Throws CrashReportFailure(unreadable) for more than sizeLimit bytes, no
    // line feed, or a header or body that is not a JSON object.
    static IPSReport fromData(const QByteArray& data);
    // The same for a file; one larger than sizeLimit is not read.
    static IPSReport read(const QString& path);
};

// One found report of this program.
struct CrashReportFile {
    QString path;
    QString incidentID; // never empty
    QDateTime date;     // the header's timestamp

    bool operator==(const CrashReportFile&) const = default;
};

namespace CrashReportScanner {
// Where to look: the reports folder the crash writer uses
// (platform::CrashHandler::reportsFolder()) and its "Retired" folder.
QStringList standardFolders(const QString& reportsFolder);
// This program's crash reports in `folders`, newest first: regular files
// (not links) named "<processName>…" with the extension ".ips" in any case,
// whose header is a crash ("bug_type" 309) of this program with an incident
// id and a readable timestamp. The first file seen of an incident id wins.
// Never fails; an empty process name finds nothing without reading the disk.
std::vector<CrashReportFile> find(const QStringList& folders, const QString& bundleID, const QString& processName);

// How many reports "Retired" keeps: about 23 KB each, so a few hundred KB.
inline constexpr int retiredLimit = 20;
// What the system does with reports it no longer needs: this program's
// reports in `folders[0]` for which `done` holds move into `folders[1]`
// ("Retired", made private when missing), and only the newest `keep` stay
// there; older ones, and files that are not this program's crash reports,
// are never touched outside that. Never fails: what cannot be moved stays.
void retire(const QStringList& folders, const QString& bundleID, const QString& processName,
            const std::function<bool(const CrashReportFile&)>& done, int keep = retiredLimit);
} // namespace CrashReportScanner

} // namespace quarnkit
