#include "QuarnKit/Crash/CrashPayload.h"

#include "QuarnKit/Crash/CrashReportFiles.h"
#include "QuarnKit/Update/VersionNumber.h"

#include <QTextBoundaryFinder>

#include <climits>
#include <set>
#include <stdexcept>

namespace quarnkit {

using nlohmann::json;

namespace {

// The first `limit` user-perceived characters.
QString cut(const QString& text, qsizetype limit)
{
    if (text.size() <= limit) return text; // never more characters than code units
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype n = 0; n < limit; ++n) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0) return text;
        end = next;
    }
    return text.left(end);
}

const json& emptyObject()
{
    static const json empty = json::object();
    return empty;
}

// The object under `key`, or an empty one.
const json& objectAt(const json& value, const char* key)
{
    const json* member = ipsMember(value, key);
    return member && member->is_object() ? *member : emptyObject();
}

// The array under `key` when every element is an object; else empty.
std::vector<const json*> objectsAt(const json& value, const char* key)
{
    const json* member = ipsMember(value, key);
    if (!member || !member->is_array()) return {};
    std::vector<const json*> objects;
    for (const json& element : *member) {
        if (!element.is_object()) return {};
        objects.push_back(&element);
    }
    return objects;
}

// The first source that gives a text; an empty text ends the chain too.
std::optional<QString> firstText(std::initializer_list<const json*> sources)
{
    for (const json* source : sources)
        if (auto text = ipsString(source)) return text;
    return std::nullopt;
}

QString textOf(const json& object, const char* key) { return ipsString(ipsMember(object, key)).value_or(QString()); }

// "Debian GNU/Linux 12 (bookworm) (6.1.0-18-amd64)" from "osVersion"'s
// "train" and "build".
QString releaseText(const json& osVersion)
{
    QStringList parts;
    if (const auto train = ipsString(ipsMember(osVersion, "train"))) parts << *train;
    if (const auto build = ipsString(ipsMember(osVersion, "build"))) parts << u'(' + *build + u')';
    return parts.join(u' ');
}

// The crashed thread: "faultingThread", else the first triggered thread, else 0.
std::int64_t crashedThreadOf(const json& body, const std::vector<const json*>& threads)
{
    if (const auto index = ipsInt(ipsMember(body, "faultingThread"))) return *index;
    for (size_t i = 0; i < threads.size(); ++i)
        if (ipsBool(ipsMember(*threads[i], "triggered")).value_or(false)) return std::int64_t(i);
    return 0;
}

void addFrames(CrashPayload::Crash& crash, const std::vector<const json*>& threads,
               const std::vector<const json*>& usedImages)
{
    if (crash.crashedThread < 0 || crash.crashedThread >= std::int64_t(threads.size())) return;
    std::set<std::int64_t> seen;
    for (const json* entry : objectsAt(*threads[size_t(crash.crashedThread)], "frames")) {
        const std::int64_t index = ipsInt(ipsMember(*entry, "imageIndex")).value_or(-1);
        const json& image =
            index >= 0 && index < std::int64_t(usedImages.size()) ? *usedImages[size_t(index)] : emptyObject();
        const json* nameValue = ipsMember(image, "name");
        const QString name = cut(nameValue ? ipsString(nameValue).value_or(QString()) : QStringLiteral("???"), 200);
        const QString uuid = cut(textOf(image, "uuid"), 60);
        const std::uint64_t base = ipsUInt64(ipsMember(image, "base")).value_or(0);
        std::optional<QString> symbol = ipsString(ipsMember(*entry, "symbol"));
        if (symbol) symbol = cut(*symbol, 500);
        crash.frames.push_back({name, uuid, base, ipsUInt64(ipsMember(*entry, "imageOffset")).value_or(0), symbol});
        if (seen.insert(index).second)
            crash.images.push_back({name, uuid, base, ipsUInt64(ipsMember(image, "size")).value_or(0),
                                    ipsString(ipsMember(image, "arch"))});
    }
}

// JSON form. Keys come out sorted, as nlohmann keeps objects.
json text(const QString& value) { return value.toStdString(); }

QString textFrom(const json& object, const char* key)
{
    return QString::fromStdString(object.at(key).get<std::string>());
}

std::optional<QString> optionalTextFrom(const json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    return QString::fromStdString(it->get<std::string>());
}

std::int64_t signedFrom(const json& object, const char* key)
{
    const json& value = object.at(key);
    if (!value.is_number_integer() || (value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX))
        throw std::runtime_error("not a signed integer");
    return value.get<std::int64_t>();
}

std::uint64_t unsignedFrom(const json& object, const char* key)
{
    const json& value = object.at(key);
    if (!value.is_number_unsigned()) throw std::runtime_error("not an unsigned integer");
    return value.get<std::uint64_t>();
}

bool boolFrom(const json& object, const char* key) { return object.at(key).get<bool>(); }

} // namespace

void to_json(json& j, const CrashPayload::Frame& f)
{
    j = {{"image", text(f.image)}, {"imageUUID", text(f.imageUUID)}, {"imageBase", f.imageBase}, {"offset", f.offset}};
    if (f.symbol) j["symbol"] = text(*f.symbol);
}

void to_json(json& j, const CrashPayload::Image& i)
{
    j = {{"name", text(i.name)}, {"uuid", text(i.uuid)}, {"base", i.base}, {"size", i.size}};
    if (i.arch) j["arch"] = text(*i.arch);
}

void to_json(json& j, const CrashPayload& p)
{
    j = {{"schema", p.schema},
         {"app",
          {{"name", text(p.app.name)},
           {"version", text(p.app.version)},
           {"build", p.app.build},
           {"bundleID", text(p.app.bundleID)},
           {"arch", text(p.app.arch)},
           {"translated", p.app.translated}}},
         {"os", {{"version", text(p.os.version)}, {"model", text(p.os.model)}}},
         {"incident",
          {{"id", text(p.incident.id)},
           {"timestamp", text(p.incident.timestamp)},
           {"bugType", text(p.incident.bugType)}}},
         {"crash",
          {{"exceptionType", text(p.crash.exceptionType)},
           {"signal", text(p.crash.signal)},
           {"codes", text(p.crash.codes)},
           {"terminationReason", text(p.crash.terminationReason)},
           {"crashedThread", p.crash.crashedThread},
           {"frames", p.crash.frames},
           {"images", p.crash.images}}}};
    if (p.raw) j["raw"] = text(*p.raw);
}

void from_json(const json& j, CrashPayload::Frame& f)
{
    f = {textFrom(j, "image"), textFrom(j, "imageUUID"), unsignedFrom(j, "imageBase"), unsignedFrom(j, "offset"),
         optionalTextFrom(j, "symbol")};
}

void from_json(const json& j, CrashPayload::Image& i)
{
    i = {textFrom(j, "name"), textFrom(j, "uuid"), unsignedFrom(j, "base"), unsignedFrom(j, "size"),
         optionalTextFrom(j, "arch")};
}

void from_json(const json& j, CrashPayload& p)
{
    p.schema = signedFrom(j, "schema");
    const json& app = j.at("app");
    p.app = {textFrom(app, "name"),     textFrom(app, "version"), signedFrom(app, "build"),
             textFrom(app, "bundleID"), textFrom(app, "arch"),    boolFrom(app, "translated")};
    const json& os = j.at("os");
    p.os = {textFrom(os, "version"), textFrom(os, "model")};
    const json& incident = j.at("incident");
    p.incident = {textFrom(incident, "id"), textFrom(incident, "timestamp"), textFrom(incident, "bugType")};
    const json& crash = j.at("crash");
    p.crash = {textFrom(crash, "exceptionType"),
               textFrom(crash, "signal"),
               textFrom(crash, "codes"),
               textFrom(crash, "terminationReason"),
               signedFrom(crash, "crashedThread"),
               crash.at("frames").get<std::vector<CrashPayload::Frame>>(),
               crash.at("images").get<std::vector<CrashPayload::Image>>()};
    p.raw = optionalTextFrom(j, "raw");
}

QString CrashPayload::archName(const std::optional<QString>& cpuType, const json* mainImage)
{
    if (cpuType) {
        const QString upper = cpuType->toUpper();
        if (upper == u"ARM-64") return QStringLiteral("arm64");
        if (upper == u"ARM-64E") return QStringLiteral("arm64e");
        if (upper == u"X86-64" || upper == u"X86-64H") return QStringLiteral("x86_64");
    }
    return mainImage ? textOf(*mainImage, "arch") : QString();
}

QString CrashPayload::terminationText(const json& termination)
{
    QStringList parts;
    if (const auto space = ipsString(ipsMember(termination, "namespace")))
        parts << QStringLiteral("Namespace ") + *space;
    if (const auto code = ipsString(ipsMember(termination, "code"))) parts << QStringLiteral("Code ") + *code;
    QString result = parts.join(QStringLiteral(", "));
    if (const auto indicator = ipsString(ipsMember(termination, "indicator")))
        result = result.isEmpty() ? *indicator : result + u' ' + *indicator;
    return cut(result, 1000);
}

CrashPayload CrashPayload::fromReport(const json& header, const json& body)
{
    const json& bundleInfo = objectAt(body, "bundleInfo");
    const std::vector<const json*> usedImages = objectsAt(body, "usedImages");
    const std::vector<const json*> threads = objectsAt(body, "threads");
    const auto member = [](const json& object, const char* key) { return ipsMember(object, key); };

    CrashPayload p;
    const auto id = firstText({member(header, "incident_id"), member(body, "incident")});
    if (!id || id->isEmpty()) throw CrashReportFailure(CrashReportError::incomplete);
    p.incident.id = cut(*id, 100);

    const QString appName =
        firstText({member(header, "app_name"), member(header, "name"), member(body, "procName")}).value_or(QString());
    p.app.name = cut(appName, 200);
    p.app.version = cut(firstText({member(header, "app_version"), member(bundleInfo, "CFBundleShortVersionString")})
                            .value_or(QString()),
                        100);
    p.app.build = AppRelease::buildNumber(
        firstText({member(header, "build_version"), member(bundleInfo, "CFBundleVersion")}).value_or(QString()));
    p.app.bundleID =
        cut(firstText({member(header, "bundleID"), member(bundleInfo, "CFBundleIdentifier")}).value_or(QString()), 200);
    const json* mainImage = nullptr;
    for (const json* image : usedImages)
        if (ipsString(member(*image, "name")) == appName) {
            mainImage = image;
            break;
        }
    p.app.arch = archName(ipsString(member(body, "cpuType")), mainImage);
    p.app.translated = ipsBool(member(body, "translated")).value_or(false);

    p.os.version = cut(ipsString(member(header, "os_version")).value_or(releaseText(objectAt(body, "osVersion"))), 200);
    p.os.model = cut(textOf(body, "modelCode"), 100);

    const QString time = firstText({member(body, "captureTime"), member(header, "timestamp")}).value_or(QString());
    const auto date = CrashDate::parse(time);
    p.incident.timestamp = date ? CrashDate::iso(*date) : cut(time, 100);
    p.incident.bugType = cut(firstText({member(header, "bug_type"), member(body, "bug_type")}).value_or(QString()), 20);

    const json& exception = objectAt(body, "exception");
    p.crash.exceptionType = cut(textOf(exception, "type"), 1000);
    p.crash.signal = cut(textOf(exception, "signal"), 1000);
    p.crash.codes = cut(textOf(exception, "codes"), 1000);
    p.crash.terminationReason = terminationText(objectAt(body, "termination"));
    p.crash.crashedThread = crashedThreadOf(body, threads);
    addFrames(p.crash, threads, usedImages);
    return p;
}

QByteArray CrashPayload::encoded() const
{
    const json j = *this;
    return QByteArray::fromStdString(j.dump(-1, ' ', false, json::error_handler_t::replace));
}

std::optional<CrashPayload> CrashPayload::decoded(const QByteArray& bytes)
{
    const json j = json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (j.is_discarded()) return std::nullopt;
    try {
        return j.get<CrashPayload>();
    } catch (const std::exception&) { // a missing key or a value of another type
        return std::nullopt;
    }
}

} // namespace quarnkit
