#include "QuarnKit/Shell/RGBA.h"

#include "QuarnKit/Markup/MarkupTool.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace quarnkit {

namespace {

struct NamedColor {
    RGBA color;
    const char* name;
};

// First exact match wins, so shared values take the name of their first row.
constexpr NamedColor kColorNames[] = {
    {RGBA::graphite, "Graphite"},
    {RGBA::ink, "Ink"},
    {RGBA::crimson, "Crimson"},
    {RGBA::moss, "Moss"},
    {RGBA::amber, "Amber"},
    {RGBA::violet, "Violet"},
    {RGBA::white, "Cream"},
    {RGBA::slate, "Slate"},
    {RGBA::red, "Red"},
    {RGBA::yellow, "Yellow"},
    {RGBA::redaction, "Black"},
    {RGBA::highlighter, "Yellow"},
    {RGBA::highlighterGreen, "Green"},
    {RGBA::highlighterBlue, "Blue"},
    {RGBA::highlighterPink, "Pink"},
    {RGBA::highlighterOrange, "Orange"},
    {RGBA::highlighterPurple, "Purple"},
    {RGBA::highlighterRed, "Red"},
    {RGBA::highlighterGray, "Gray"},
};

double component(const nlohmann::json& j, const char* key)
{
    const auto& v = j.at(key);
    if (!v.is_number())
        throw nlohmann::json::type_error::create(302, std::string("RGBA component \"") + key + "\" is not a number",
                                                 &v);
    return v.get<double>();
}

} // namespace

std::vector<RGBA> RGBA::palette(MarkupTool tool)
{
    switch (tool) {
    case MarkupTool::select:
    case MarkupTool::redact:
    case MarkupTool::eraser: return {};
    case MarkupTool::highlight:
    case MarkupTool::note: return {highlighters.begin(), highlighters.end()};
    default: return {swatches.begin(), swatches.end()};
    }
}

QString RGBA::name() const
{
    for (const auto& row : kColorNames)
        if (row.color == *this) return QString::fromLatin1(row.name);
    return QStringLiteral("Color");
}

bool RGBA::matchesRGB(const RGBA& o) const
{
    return std::fabs(r - o.r) < 0.04 && std::fabs(g - o.g) < 0.04 && std::fabs(b - o.b) < 0.04;
}

QColor RGBA::toQColor() const { return QColor::fromRgbF(float(r), float(g), float(b), float(a)); }

std::optional<RGBA> RGBA::from(const QColor& color)
{
    if (!color.isValid()) return std::nullopt;
    const QColor c = color.toRgb();
    return RGBA{c.redF(), c.greenF(), c.blueF(), c.alphaF()};
}

void to_json(nlohmann::json& j, const RGBA& c) { j = nlohmann::json{{"r", c.r}, {"g", c.g}, {"b", c.b}, {"a", c.a}}; }

void from_json(const nlohmann::json& j, RGBA& c)
{
    if (!j.is_object()) throw nlohmann::json::type_error::create(302, "RGBA is not an object", &j);
    c = RGBA{component(j, "r"), component(j, "g"), component(j, "b"), component(j, "a")};
}

} // namespace quarnkit
