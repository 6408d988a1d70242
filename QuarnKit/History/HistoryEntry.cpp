#include "QuarnKit/History/HistoryEntry.h"

#include "QuarnKit/Viewer/ReadingPositions.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>

namespace quarnkit {

using nlohmann::json;

namespace {

QString lastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

// Any member missing or of the wrong type drops the entry that holds it.
struct Unreadable {};

const json* find(const json& object, const char* name)
{
    const auto it = object.find(name);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

const json& required(const json& object, const char* name)
{
    const json* value = find(object, name);
    if (!value) throw Unreadable{};
    return *value;
}

QString string(const json& value)
{
    if (!value.is_string()) throw Unreadable{};
    return QString::fromStdString(value.get<std::string>());
}

// A whole number; 3.0 counts, 3.5 does not.
std::int64_t integer(const json& value)
{
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > std::uint64_t(std::numeric_limits<std::int64_t>::max())) throw Unreadable{};
        return std::int64_t(u);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::trunc(d) != d || !(std::fabs(d) < 9.2e18)) throw Unreadable{};
        return std::int64_t(d);
    }
    throw Unreadable{};
}

// Seconds since 1970; beyond the range of dates the entry is unreadable.
QDateTime date(const json& value)
{
    if (!value.is_number()) throw Unreadable{};
    const double ms = value.get<double>() * 1000.0;
    if (!std::isfinite(ms) || std::fabs(ms) > 8.64e15) throw Unreadable{};
    return QDateTime::fromMSecsSinceEpoch(std::llround(ms), Qt::UTC);
}

json seconds(const QDateTime& time)
{
    if (!time.isValid()) throw Unreadable{};
    return double(time.toMSecsSinceEpoch()) / 1000.0;
}

HistoryEntry decodeEntry(const json& value)
{
    if (!value.is_object()) throw Unreadable{};
    HistoryEntry e;
    const QString id = string(required(value, "id"));
    e.id = QUuid::fromString(id);
    if (id.size() != 36 || e.id.isNull()) throw Unreadable{};
    e.path = string(required(value, "path"));
    e.firstOpened = date(required(value, "firstOpened"));
    e.lastOpened = date(required(value, "lastOpened"));
    e.openCount = integer(required(value, "openCount"));
    if (const json* title = find(value, "title")) e.title = string(*title);
    if (const json* pages = find(value, "pageCount")) e.pageCount = integer(*pages);
    if (const json* bookmark = find(value, "bookmark")) {
        const auto bytes =
            QByteArray::fromBase64Encoding(string(*bookmark).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!bytes) throw Unreadable{};
        e.bookmark = *bytes;
    }
    return e;
}

json encodeEntry(const HistoryEntry& e)
{
    if (e.id.isNull() || e.path.isEmpty()) throw Unreadable{};
    json out{{"id", e.id.toString(QUuid::WithoutBraces).toUpper().toStdString()},
             {"path", e.path.toStdString()},
             {"firstOpened", seconds(e.firstOpened)},
             {"lastOpened", seconds(e.lastOpened)},
             {"openCount", e.openCount}};
    if (e.title) out["title"] = e.title->toStdString();
    if (e.pageCount) out["pageCount"] = *e.pageCount;
    if (e.bookmark) out["bookmark"] = e.bookmark->toBase64().toStdString();
    return out;
}

} // namespace

QUrl HistoryEntry::url() const { return QUrl::fromLocalFile(path); }

QString HistoryEntry::fileName() const
{
    const QString name = lastComponent(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QString HistoryEntry::folderPath() const
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return {};
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString HistoryEntry::displayTitle() const { return title ? *title : fileName(); }

QString historyPath(const QString& path)
{
    // Qt decodes a name that is not valid UTF-8 with replacement characters;
    // such a path would name another file when encoded again.
    if (path.isEmpty() || path.contains(QChar::ReplacementCharacter) || !path.isValidUtf16()) return {};
    return standardizedPath(path);
}

namespace HistoryFile {

Decoded decode(const QByteArray& bytes)
{
    Decoded out;
    const json file = json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    const json* list = file.is_object() ? find(file, "entries") : nullptr;
    if (!list || !list->is_array()) {
        out.damaged = true;
        return out;
    }
    for (const json& element : *list) {
        try {
            out.entries.push_back(decodeEntry(element));
        } catch (const Unreadable&) {
            ++out.dropped;
        } catch (const json::exception&) {
            ++out.dropped;
        }
    }
    return out;
}

std::vector<HistoryEntry> cleaned(std::vector<HistoryEntry> entries, int limit)
{
    std::stable_sort(entries.begin(), entries.end(),
                     [](const HistoryEntry& a, const HistoryEntry& b) { return a.lastOpened > b.lastOpened; });
    std::vector<HistoryEntry> kept;
    std::unordered_set<QString> seen;
    for (HistoryEntry& e : entries) {
        e.path = historyPath(e.path);
        if (e.path.isEmpty() || !seen.insert(e.path).second) continue;
        kept.push_back(std::move(e));
    }
    if (kept.size() > size_t(std::max(limit, 1))) kept.resize(size_t(std::max(limit, 1)));
    return kept;
}

QByteArray encode(const std::vector<HistoryEntry>& entries)
{
    json list = json::array();
    for (const HistoryEntry& e : entries) {
        try {
            list.push_back(encodeEntry(e));
        } catch (const Unreadable&) {}
    }
    // nlohmann's objects are sorted maps, so the keys come out sorted.
    const json file{{"entries", std::move(list)}, {"version", 1}};
    const std::string text = file.dump(-1, ' ', false, json::error_handler_t::replace);
    return QByteArray(text.data(), qsizetype(text.size()));
}

} // namespace HistoryFile

} // namespace quarnkit
