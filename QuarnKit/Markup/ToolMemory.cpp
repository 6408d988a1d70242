#include "QuarnKit/Markup/ToolMemory.h"

#include "Platform/UserDefaults.h"

#include <algorithm>

namespace quarnkit {

namespace {

ToolStyle redactionStyle() { return {RGBA::redaction, 0, true, 16, TextFont::sans}; }

} // namespace

ToolStyle ToolMemory::defaultStyle(MarkupTool tool)
{
    switch (tool) {
    case MarkupTool::highlight:
    case MarkupTool::note: return {RGBA::highlighter, 3, false, 16, TextFont::sans};
    case MarkupTool::underline:
    case MarkupTool::strikethrough:
    case MarkupTool::rectangle:
    case MarkupTool::ellipse:
    case MarkupTool::line:
    case MarkupTool::arrow: return {RGBA::crimson, 3, false, 16, TextFont::sans};
    case MarkupTool::text: return {RGBA::graphite, 3, false, 16, TextFont::sans};
    case MarkupTool::redact: return redactionStyle();
    default: return {RGBA::ink, 3, false, 16, TextFont::sans};
    }
}

ToolStyle ToolMemory::style(MarkupTool tool) const
{
    if (tool == MarkupTool::redact) return redactionStyle();
    const auto it = styles.find(std::string(rawValue(tool)));
    return it != styles.end() ? it->second : defaultStyle(tool);
}

void ToolMemory::setStyle(const ToolStyle& style, MarkupTool tool)
{
    if (tool == MarkupTool::redact) return;
    styles[std::string(rawValue(tool))] = style;
}

MarkupTool ToolMemory::choice(ToolGroup group) const
{
    const auto list = members(group);
    const auto it = choices.find(std::string(rawValue(group)));
    if (it != choices.end())
        if (const auto tool = markupToolFromRaw(it->second);
            tool && std::find(list.begin(), list.end(), *tool) != list.end())
            return *tool;
    return list.front();
}

void ToolMemory::choose(MarkupTool tool)
{
    if (const auto g = group(tool)) choices[std::string(rawValue(*g))] = std::string(rawValue(tool));
}

nlohmann::json ToolMemory::toJson() const
{
    nlohmann::json s = nlohmann::json::object();
    for (const auto& [tool, style] : styles) s[tool] = style;
    nlohmann::json c = nlohmann::json::object();
    for (const auto& [g, tool] : choices) c[g] = tool;
    return {{"styles", s}, {"choices", c}};
}

ToolMemory ToolMemory::fromJson(const nlohmann::json& json)
{
    try {
        ToolMemory memory;
        const auto& s = json.at("styles");
        const auto& c = json.at("choices");
        if (!s.is_object() || !c.is_object()) return {};
        for (const auto& [tool, style] : s.items()) memory.styles[tool] = style.get<ToolStyle>();
        for (const auto& [g, tool] : c.items()) memory.choices[g] = tool.get<std::string>();
        return memory;
    } catch (const nlohmann::json::exception&) {
        return {};
    }
}

ToolMemory ToolMemory::load(const platform::UserDefaults& defaults)
{
    const auto value = defaults.value(key);
    return value ? fromJson(*value) : ToolMemory{};
}

void ToolMemory::save(platform::UserDefaults& defaults) const { defaults.set(key, toJson()); }

} // namespace quarnkit
