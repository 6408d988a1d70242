#include "QuarnKit/Viewer/ReadingPositions.h"

#include "Platform/UserDefaults.h"

#include <QDir>
#include <QFileInfo>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace quarnkit {

using nlohmann::json;

namespace {

// 2001-01-01 00:00:00 UTC in Unix seconds.
constexpr double referenceEpoch = 978307200.0;

// Any member that is missing or of the wrong type makes the whole blob unreadable.
struct DecodeError {};

const json& member(const json& object, const char* name)
{
    const auto it = object.find(name);
    if (it == object.end()) throw DecodeError{};
    return *it;
}

std::int64_t integer(const json& value)
{
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
    if (value.is_number_unsigned()
        && value.get<std::uint64_t>() <= std::uint64_t(std::numeric_limits<std::int64_t>::max()))
        return std::int64_t(value.get<std::uint64_t>());
    throw DecodeError{};
}

double number(const json& value)
{
    if (!value.is_number()) throw DecodeError{};
    return value.get<double>();
}

ReadingZoom decodeZoom(const json& value)
{
    // One member naming the case: {"scale": {"_0": 1.5}}, {"fitPage": {}}, {"fitWidth": {}}.
    if (!value.is_object() || value.size() != 1) throw DecodeError{};
    const auto first = value.begin();
    const std::string& name = first.key();
    const json& body = first.value();
    if (!body.is_object()) throw DecodeError{};
    if (name == "scale") return ReadingZoom::fixed(number(member(body, "_0")));
    if (name == "fitPage") return ReadingZoom::fitPage();
    if (name == "fitWidth") return ReadingZoom::fitWidth();
    throw DecodeError{};
}

ReadingPosition decodePosition(const json& value)
{
    if (!value.is_object()) throw DecodeError{};
    ReadingPosition p;
    const std::int64_t page = integer(member(value, "page"));
    if (page < std::numeric_limits<int>::min() || page > std::numeric_limits<int>::max()) throw DecodeError{};
    p.page = int(page);
    if (const auto it = value.find("point"); it != value.end()) {
        if (!it->is_array() || it->size() != 2) throw DecodeError{};
        p.point = platform::PdfPoint{number((*it)[0]), number((*it)[1])};
    }
    p.zoom = decodeZoom(member(value, "zoom"));
    const json& mode = member(value, "mode");
    if (!mode.is_string()) throw DecodeError{};
    const auto parsed = displayModeFromRawValue(mode.get<std::string>());
    if (!parsed) throw DecodeError{};
    p.mode = *parsed;
    const json& cover = member(value, "coverSeparately");
    if (!cover.is_boolean()) throw DecodeError{};
    p.coverSeparately = cover.get<bool>();
    return p;
}

// JSON has no room for infinities or not-a-number; such a value fails the
// encoding instead of being written as null and spoiling the whole blob.
json finite(double value)
{
    if (!std::isfinite(value)) throw DecodeError{};
    return value;
}

json encodePosition(const ReadingPosition& p)
{
    json zoom;
    switch (p.zoom.kind) {
    case ReadingZoom::Kind::scale: zoom["scale"] = json{{"_0", finite(p.zoom.scale)}}; break;
    case ReadingZoom::Kind::fitPage: zoom["fitPage"] = json::object(); break;
    case ReadingZoom::Kind::fitWidth: zoom["fitWidth"] = json::object(); break;
    }
    json out{{"page", p.page}, {"zoom", zoom}, {"mode", rawValue(p.mode)}, {"coverSeparately", p.coverSeparately}};
    if (p.point) out["point"] = json::array({finite(p.point->x), finite(p.point->y)});
    return out;
}

} // namespace

QString standardizedPath(const QString& path)
{
    if (path.isEmpty()) return {};
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

double referenceSeconds(const QDateTime& time) { return double(time.toMSecsSinceEpoch()) / 1000.0 - referenceEpoch; }

QDateTime fromReferenceSeconds(double seconds)
{
    // A stored date can be any number; beyond what a date can hold it is no date.
    const double ms = (seconds + referenceEpoch) * 1000.0;
    if (!std::isfinite(ms) || std::fabs(ms) > 8.64e15) return {};
    return QDateTime::fromMSecsSinceEpoch(std::llround(ms), Qt::UTC);
}

FileFingerprint::FileFingerprint(QString path, std::int64_t size, double modified)
    : path(std::move(path)), size(size), modified(std::round(modified * 1000.0) / 1000.0)
{}

std::optional<FileFingerprint> FileFingerprint::of(const QString& path)
{
    const QString standard = standardizedPath(path);
    if (standard.isEmpty()) return std::nullopt;
    const QFileInfo info(standard);
    if (!info.exists() || !info.isFile()) return std::nullopt;
    const QDateTime modified = info.fileTime(QFileDevice::FileModificationTime);
    if (!modified.isValid()) return std::nullopt;
    return FileFingerprint(standard, std::int64_t(info.size()), referenceSeconds(modified));
}

// ---------------------------------------------------------------- store

ReadingPositionStore::ReadingPositionStore(platform::UserDefaults& defaults, std::string key, int limit)
    : defaults_(defaults), key_(std::move(key)), limit_(std::max(limit, 1))
{}

ReadingPositionStore& ReadingPositionStore::shared()
{
    static ReadingPositionStore store(platform::UserDefaults::standard());
    return store;
}

ReadingPositionStore::Entries& ReadingPositionStore::load()
{
    if (cache_) return *cache_;
    Entries entries;
    if (const auto stored = defaults_.value(key_)) {
        try {
            if (!stored->is_object()) throw DecodeError{};
            for (const auto& [path, value] : stored->items()) {
                if (!value.is_object()) throw DecodeError{};
                Entry e;
                e.size = integer(member(value, "size"));
                e.modified = number(member(value, "modified"));
                e.date = number(member(value, "date"));
                e.position = decodePosition(member(value, "position"));
                entries[QString::fromStdString(path)] = e;
            }
        } catch (const DecodeError&) {
            // Unreadable data reads as an empty store; the next write replaces it.
            entries.clear();
        }
    }
    cache_ = std::move(entries);
    return *cache_;
}

void ReadingPositionStore::write(Entries entries)
{
    json blob = json::object();
    bool encoded = true;
    try {
        for (const auto& [path, e] : entries)
            blob[path.toStdString()] = json{{"size", e.size},
                                            {"modified", finite(e.modified)},
                                            {"date", finite(e.date)},
                                            {"position", encodePosition(e.position)}};
    } catch (const DecodeError&) {
        encoded = false;
    }
    cache_ = std::move(entries);
    if (encoded) defaults_.set(key_, blob);
}

std::optional<ReadingPosition> ReadingPositionStore::position(const FileFingerprint& file)
{
    std::lock_guard lock(mutex_);
    const Entries& entries = load();
    const auto it = entries.find(file.path);
    if (it == entries.end()) return std::nullopt;
    const Entry& e = it->second;
    if (e.size != file.size || !(std::fabs(file.modified - e.modified) < 0.002)) return std::nullopt;
    return e.position;
}

void ReadingPositionStore::save(const ReadingPosition& position, const FileFingerprint& file, const QDateTime& at)
{
    std::lock_guard lock(mutex_);
    Entries entries = load();
    entries[file.path] = Entry{file.size, file.modified, referenceSeconds(at), position};
    if (entries.size() > size_t(limit_)) {
        std::vector<std::pair<double, QString>> byDate;
        byDate.reserve(entries.size());
        for (const auto& [path, e] : entries) byDate.emplace_back(e.date, path);
        std::sort(byDate.begin(), byDate.end());
        const size_t excess = entries.size() - size_t(limit_);
        for (size_t i = 0; i < excess; ++i) entries.erase(byDate[i].second);
    }
    write(std::move(entries));
}

std::optional<QDateTime> ReadingPositionStore::lastRead(const QString& path)
{
    std::lock_guard lock(mutex_);
    const Entries& entries = load();
    const auto it = entries.find(standardizedPath(path));
    if (it == entries.end()) return std::nullopt;
    const QDateTime date = fromReferenceSeconds(it->second.date);
    if (!date.isValid()) return std::nullopt;
    return date;
}

void ReadingPositionStore::forget(const QString& path)
{
    std::lock_guard lock(mutex_);
    Entries entries = load();
    if (entries.erase(standardizedPath(path)) == 0) return;
    write(std::move(entries));
}

void ReadingPositionStore::removeAll()
{
    std::lock_guard lock(mutex_);
    write({});
}

int ReadingPositionStore::count()
{
    std::lock_guard lock(mutex_);
    return int(load().size());
}

// ---------------------------------------------------------------- preferences

namespace ReaderPreferences {

bool restorePosition(const platform::UserDefaults& defaults)
{
    return defaults.boolValue(restorePositionKey).value_or(true);
}

bool showWelcome(const platform::UserDefaults& defaults) { return defaults.boolValue(showWelcomeKey).value_or(true); }

ZoomPreset defaultZoom(const platform::UserDefaults& defaults)
{
    const auto text = defaults.stringValue(defaultZoomKey);
    return text ? zoomPresetFromRawValue(*text).value_or(ZoomPreset::fitPage) : ZoomPreset::fitPage;
}

DisplayMode defaultMode(const platform::UserDefaults& defaults)
{
    const auto text = defaults.stringValue(defaultModeKey);
    return text ? displayModeFromRawValue(*text).value_or(DisplayMode::continuous) : DisplayMode::continuous;
}

} // namespace ReaderPreferences

} // namespace quarnkit
