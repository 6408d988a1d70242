#pragma once
// The vocabulary of markup: the thirteen tools, their groups and palette
// slots, the kinds of mark, the text faces and the style a tool draws with.
// Enumerations are coded by their raw values (the lower-camel-case names).
#include "QuarnKit/Shell/RGBA.h"

#include <nlohmann/json.hpp>

#include <QFont>
#include <QString>

#include <array>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

namespace quarnkit {

// Declaration order is the order of the Tools menu and of allTools().
enum class MarkupTool : int {
    select,
    pen,
    highlight,
    underline,
    strikethrough,
    rectangle,
    ellipse,
    line,
    arrow,
    text,
    note,
    redact,
    eraser,
};

// Tools that share one palette button.
enum class ToolGroup : int { textMarkup, shapes };

// What an existing mark is, decided from its annotation (MarkCatalog::kind).
enum class MarkKind : int {
    drawing,
    highlight,
    underline,
    strikethrough,
    rectangle,
    ellipse,
    line,
    arrow,
    text,
    note,
    redaction,
};

// The faces of text marks; in a PDF they are the base-14 Helvetica, Times and Courier.
enum class TextFont : int { sans, serif, mono };

inline constexpr std::array<MarkupTool, 13> allTools{
    MarkupTool::select,    MarkupTool::pen,     MarkupTool::highlight, MarkupTool::underline, MarkupTool::strikethrough,
    MarkupTool::rectangle, MarkupTool::ellipse, MarkupTool::line,      MarkupTool::arrow,     MarkupTool::text,
    MarkupTool::note,      MarkupTool::redact,  MarkupTool::eraser};
inline constexpr std::array<ToolGroup, 2> allToolGroups{ToolGroup::textMarkup, ToolGroup::shapes};
inline constexpr std::array<MarkKind, 11> allMarkKinds{
    MarkKind::drawing,   MarkKind::highlight, MarkKind::underline, MarkKind::strikethrough,
    MarkKind::rectangle, MarkKind::ellipse,   MarkKind::line,      MarkKind::arrow,
    MarkKind::text,      MarkKind::note,      MarkKind::redaction};
inline constexpr std::array<TextFont, 3> allTextFonts{TextFont::sans, TextFont::serif, TextFont::mono};

// Raw values: the case names. Parsing is exact and case-sensitive.
std::string_view rawValue(MarkupTool tool);
std::string_view rawValue(ToolGroup group);
std::string_view rawValue(MarkKind kind);
std::string_view rawValue(TextFont font);
std::optional<MarkupTool> markupToolFromRaw(std::string_view raw);
std::optional<ToolGroup> toolGroupFromRaw(std::string_view raw);
std::optional<MarkKind> markKindFromRaw(std::string_view raw);
std::optional<TextFont> textFontFromRaw(std::string_view raw);

// MarkupTool
QString title(MarkupTool tool);  // "Select", "Pen", …
QString letter(MarkupTool tool); // the single key that chooses the tool: "V", "P", …
QString symbol(MarkupTool tool); // icon name in the shared icon table
QString hint(MarkupTool tool);   // one line of guidance while the tool is active
std::optional<ToolGroup> group(MarkupTool tool);
std::optional<MarkKind> kind(MarkupTool tool); // none for select and eraser
bool usesColor(MarkupTool tool);               // its palette is not empty
bool usesStroke(MarkupTool tool);              // pen, rectangle, ellipse, line, arrow
bool usesFill(MarkupTool tool);                // rectangle, ellipse
bool usesTextSize(MarkupTool tool);            // text

// ToolGroup
QString title(ToolGroup group);
std::vector<MarkupTool> members(ToolGroup group);

// One position of the tool palette: a tool, or a group that stands for the
// member last chosen in it.
using ToolSlot = std::variant<MarkupTool, ToolGroup>;
// The palette top to bottom: select, pen, text markup, shapes, text, note, redact, eraser.
const std::array<ToolSlot, 8>& toolBar();

// MarkKind
QString title(MarkKind kind);
QString symbol(MarkKind kind);
QString hint(MarkKind kind); // guidance for a selected mark of this kind
MarkupTool tool(MarkKind kind);
bool usesColor(MarkKind kind);
bool usesStroke(MarkKind kind);
bool usesText(MarkKind kind);
bool usesHead(MarkKind kind);

// TextFont
QString title(TextFont font);
// The base-14 resource name that draws the face in a PDF: "Helv", "TiRo", "Cour".
std::string_view pdfFontName(TextFont font);
// The screen font that looks like the face as a PDF draws it (fontconfig maps
// these families to the same URW clones of the base-14 fonts MuPDF uses), for
// editing text in place. Its size is in pixels: a mark's points times the
// view's pixels per point, never Qt's points (which are 96/72 pixels).
QFont screenFont(TextFont font, double pixelSize);
// The face a font name belongs to (a PDF resource name, a base font name or a
// family name): mono for Courier-like names, serif for Times-like, else sans.
TextFont textFontOf(std::string_view fontName);

// The style a tool draws with; remembered per tool by ToolMemory.
struct ToolStyle {
    RGBA color;
    double stroke = 3;
    bool filled = false;
    double textSize = 16;
    TextFont font = TextFont::sans;

    friend bool operator==(const ToolStyle&, const ToolStyle&) = default;

    // Offered ranges; neither ToolStyle nor ToolMemory clamps to them.
    static constexpr double minTextSize = 8, maxTextSize = 72;
    static constexpr double minStroke = 1, maxStroke = 16;
};

// The style read from, or applied to, one existing mark.
struct MarkStyle {
    MarkKind kind = MarkKind::drawing;
    RGBA color;
    double stroke = 1;
    bool filled = false;
    double textSize = 12;
    TextFont font = TextFont::sans;
    bool head = false; // the line ends in an arrow head

    friend bool operator==(const MarkStyle&, const MarkStyle&) = default;
};

// JSON: enumerations as their raw value strings (an unknown string throws
// nlohmann::json::exception); ToolStyle as {"color","stroke","filled","textSize","font"},
// all five required.
void to_json(nlohmann::json& j, MarkupTool tool);
void from_json(const nlohmann::json& j, MarkupTool& tool);
void to_json(nlohmann::json& j, ToolGroup group);
void from_json(const nlohmann::json& j, ToolGroup& group);
void to_json(nlohmann::json& j, TextFont font);
void from_json(const nlohmann::json& j, TextFont& font);
void to_json(nlohmann::json& j, const ToolStyle& style);
void from_json(const nlohmann::json& j, ToolStyle& style);

} // namespace quarnkit
