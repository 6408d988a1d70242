#pragma once
// The style the user last gave each tool, and the tool each group button
// stands for, kept across launches as one JSON value in the user defaults.
#include "QuarnKit/Markup/MarkupTool.h"

#include <nlohmann/json.hpp>

#include <map>
#include <string>

namespace platform {
class UserDefaults;
}

namespace quarnkit {

struct ToolMemory {
    std::map<std::string, ToolStyle> styles;    // tool raw value -> last style
    std::map<std::string, std::string> choices; // group raw value -> tool raw value

    friend bool operator==(const ToolMemory&, const ToolMemory&) = default;

    static constexpr const char* key = "ravlenToolMemory";

    static ToolStyle defaultStyle(MarkupTool tool);
    // The stored style, exactly as stored, else the default; redact always
    // draws its fixed black fill.
    ToolStyle style(MarkupTool tool) const;
    void setStyle(const ToolStyle& style, MarkupTool tool); // nothing for redact
    // The remembered member of the group, else its first member.
    MarkupTool choice(ToolGroup group) const;
    void choose(MarkupTool tool); // tools without a group change nothing

    // {"styles": {...}, "choices": {...}}; both keys required. Anything that
    // does not decode reads as the empty memory.
    nlohmann::json toJson() const;
    static ToolMemory fromJson(const nlohmann::json& json);

    static ToolMemory load(const platform::UserDefaults& defaults);
    void save(platform::UserDefaults& defaults) const;
};

} // namespace quarnkit
