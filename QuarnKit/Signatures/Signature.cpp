#include "QuarnKit/Signatures/Signature.h"

#include <nlohmann/json.hpp>

#include <QDateTime>

#include <algorithm>

namespace quarnkit {

namespace {

using nlohmann::json;

// 2001-01-01 00:00:00 UTC in seconds since 1970.
constexpr double referenceEpoch = 978307200;

[[noreturn]] void undecodable(const json& j, const std::string& what)
{
    throw json::type_error::create(302, "signature: " + what, &j);
}

const json& required(const json& j, const char* key)
{
    const auto it = j.find(key);
    if (it == j.end()) undecodable(j, std::string("missing ") + key);
    return *it;
}

double number(const json& j, const char* key)
{
    const json& v = required(j, key);
    if (!v.is_number()) undecodable(v, std::string(key) + " is not a number");
    return v.get<double>();
}

std::string string(const json& j, const char* key)
{
    const json& v = required(j, key);
    if (!v.is_string()) undecodable(v, std::string(key) + " is not a string");
    return v.get<std::string>();
}

// Each stroke is its points flattened as x0, y0, x1, y1, …; a final unpaired
// number is ignored.
InkStrokes strokesFrom(const json& j)
{
    if (!j.is_array()) undecodable(j, "strokes is not an array");
    InkStrokes out;
    out.reserve(j.size());
    for (const json& stroke : j) {
        if (!stroke.is_array()) undecodable(stroke, "a stroke is not an array");
        for (const json& n : stroke)
            if (!n.is_number()) undecodable(n, "a stroke holds a non-number");
        std::vector<PdfPoint> points;
        points.reserve(stroke.size() / 2);
        for (size_t i = 0; i + 1 < stroke.size(); i += 2)
            points.push_back({stroke[i].get<double>(), stroke[i + 1].get<double>()});
        out.push_back(std::move(points));
    }
    return out;
}

} // namespace

PdfSize Signature::placedSize() const
{
    // Not above 0 (nor a number at all) counts as 0.05; a number no pad or
    // font writes (a damaged or hand-edited file) as a mark a hundred times
    // wider than high, which still shows.
    const double a = aspect > 0 ? std::clamp(aspect, 0.05, 100.0) : 0.05;
    const bool initials = kind == Kind::initials;
    const double cap = initials ? 44 : 72;
    double w = initials ? 60 : 180;
    double h = w / a;
    if (h > cap) {
        h = cap;
        w = cap * a;
    }
    return {w, h};
}

double Signature::penWidth(double width) const
{
    // No pen is wider than the mark: a damaged file's 1e300 would paint the
    // page over, or give no mark at all.
    const double relative = lineWidth > 0 ? std::min(lineWidth, 1.0) : 0.0;
    const double pen = width * relative;
    return source == Source::drawn ? std::clamp(pen, 0.9, 3.2) : pen;
}

double Signature::now() { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 - referenceEpoch; }

std::string_view rawValue(Signature::Kind kind) { return kind == Signature::Kind::initials ? "initials" : "signature"; }

std::string_view rawValue(Signature::Source source) { return source == Signature::Source::typed ? "typed" : "drawn"; }

QString title(Signature::Kind kind)
{
    return kind == Signature::Kind::initials ? QStringLiteral("Initials") : QStringLiteral("Signature");
}

void to_json(json& j, const Signature& s)
{
    json strokes = json::array();
    for (const auto& stroke : s.strokes) {
        json flat = json::array();
        for (const auto& p : stroke) {
            flat.push_back(p.x);
            flat.push_back(p.y);
        }
        strokes.push_back(std::move(flat));
    }
    j = json::object();
    j["aspect"] = s.aspect;
    j["created"] = s.created;
    j["id"] = s.id.toString(QUuid::WithoutBraces).toUpper().toStdString();
    j["kind"] = rawValue(s.kind);
    j["lineWidth"] = s.lineWidth;
    j["source"] = rawValue(s.source);
    j["strokes"] = std::move(strokes);
    if (s.text) j["text"] = *s.text;
}

void from_json(const json& j, Signature& s)
{
    if (!j.is_object()) undecodable(j, "not an object");
    Signature out;
    out.aspect = number(j, "aspect");
    out.created = number(j, "created");

    const std::string id = string(j, "id");
    out.id = QUuid::fromString(QString::fromStdString(id));
    // QUuid also takes braces and nonsense (as the nil id); only the canonical text is an id.
    if (id.size() != 36
        || out.id.toString(QUuid::WithoutBraces).compare(QString::fromStdString(id), Qt::CaseInsensitive) != 0)
        undecodable(j, "id is not a UUID");

    const std::string kind = string(j, "kind");
    if (kind == "signature") out.kind = Signature::Kind::signature;
    else if (kind == "initials") out.kind = Signature::Kind::initials;
    else undecodable(j, "unknown kind");

    out.lineWidth = number(j, "lineWidth");

    const std::string source = string(j, "source");
    if (source == "drawn") out.source = Signature::Source::drawn;
    else if (source == "typed") out.source = Signature::Source::typed;
    else undecodable(j, "unknown source");

    out.strokes = strokesFrom(required(j, "strokes"));
    if (const auto it = j.find("text"); it != j.end()) {
        if (!it->is_string()) undecodable(*it, "text is not a string");
        out.text = it->get<std::string>();
    }
    s = std::move(out);
}

} // namespace quarnkit
