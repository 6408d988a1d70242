#include "QuarnKit/Markup/MarkupTool.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

namespace quarnkit {

namespace {

struct ToolRow {
    std::string_view raw;
    const char* title;
    const char* letter;
    const char* symbol;
    const char* hint;
};

// Indexed by MarkupTool.
constexpr ToolRow kTools[] = {
    {"select", "Select", "V", "cursorarrow",
     "Click a mark to select it. Drag to move it, or drag a handle to resize. Drag empty page to select text."},
    {"pen", "Pen", "P", "pencil.tip", "Draw. A short click leaves a dot. Hold Shift for a straight line."},
    {"highlight", "Highlight", "H", "highlighter",
     "Drag across words, or click one. Over a picture or blank space, drag a box to highlight it."},
    {"underline", "Underline", "U", "underline", "Drag across words, or click one, to underline it."},
    {"strikethrough", "Strikethrough", "S", "strikethrough", "Drag across words, or click one, to strike it through."},
    {"rectangle", "Rectangle", "R", "rectangle", "Drag a box. Hold Shift for a square."},
    {"ellipse", "Ellipse", "O", "circle", "Drag an oval. Hold Shift for a circle."},
    {"line", "Line", "L", "line.diagonal", "Drag a line. Hold Shift to snap."},
    {"arrow", "Arrow", "A", "arrow.up.right", "Drag in the direction the arrow points. Hold Shift to snap."},
    // The hyphen in "Shift‑Return" is U+2011, so the hint never breaks there.
    {"text", "Text", "T", "textformat",
     "Click the page and type. Return finishes, and Shift\u2011Return starts a new line."},
    {"note", "Note", "N", "note.text", "Click to pin a note. Hover a note to read it. Double-click to edit it."},
    {"redact", "Redact", "X", "eye.slash", "Drag a box over text or images to black them out."},
    {"eraser", "Eraser", "E", "eraser", "Click or drag across marks to remove them."},
};

struct KindRow {
    std::string_view raw;
    const char* title;
    const char* symbol;
};

// Indexed by MarkKind.
constexpr KindRow kKinds[] = {
    {"drawing", "Drawing", "pencil.tip"},
    {"highlight", "Highlight", "highlighter"},
    {"underline", "Underline", "underline"},
    {"strikethrough", "Strikethrough", "strikethrough"},
    {"rectangle", "Rectangle", "rectangle"},
    {"ellipse", "Ellipse", "circle"},
    {"line", "Line", "line.diagonal"},
    {"arrow", "Arrow", "arrow.up.right"},
    {"text", "Text", "textformat"},
    {"note", "Note", "note.text"},
    {"redaction", "Redaction", "rectangle.fill"},
};

constexpr std::string_view kFontRaw[] = {"sans", "serif", "mono"};
constexpr std::string_view kGroupRaw[] = {"textMarkup", "shapes"};

template <typename E, std::size_t N>
std::optional<E> parse(std::string_view raw, const std::string_view (&names)[N])
{
    for (std::size_t i = 0; i < N; ++i)
        if (names[i] == raw) return E(i);
    return std::nullopt;
}

bool containsAny(const std::string& hay, std::initializer_list<std::string_view> needles)
{
    return std::any_of(needles.begin(), needles.end(),
                       [&](std::string_view n) { return hay.find(n) != std::string::npos; });
}

template <typename E>
void fromRaw(const nlohmann::json& j, E& out, std::optional<E> (*parser)(std::string_view), const char* what)
{
    if (!j.is_string()) throw nlohmann::json::type_error::create(302, std::string(what) + " is not a string", &j);
    const auto parsed = parser(j.get_ref<const std::string&>());
    if (!parsed)
        throw nlohmann::json::other_error::create(
            501, std::string("unknown ") + what + " \"" + j.get<std::string>() + "\"", &j);
    out = *parsed;
}

} // namespace

std::string_view rawValue(MarkupTool tool) { return kTools[int(tool)].raw; }
std::string_view rawValue(ToolGroup group) { return kGroupRaw[int(group)]; }
std::string_view rawValue(MarkKind kind) { return kKinds[int(kind)].raw; }
std::string_view rawValue(TextFont font) { return kFontRaw[int(font)]; }

std::optional<MarkupTool> markupToolFromRaw(std::string_view raw)
{
    for (std::size_t i = 0; i < std::size(kTools); ++i)
        if (kTools[i].raw == raw) return MarkupTool(i);
    return std::nullopt;
}

std::optional<ToolGroup> toolGroupFromRaw(std::string_view raw) { return parse<ToolGroup>(raw, kGroupRaw); }

std::optional<MarkKind> markKindFromRaw(std::string_view raw)
{
    for (std::size_t i = 0; i < std::size(kKinds); ++i)
        if (kKinds[i].raw == raw) return MarkKind(i);
    return std::nullopt;
}

std::optional<TextFont> textFontFromRaw(std::string_view raw) { return parse<TextFont>(raw, kFontRaw); }

QString title(MarkupTool tool) { return QString::fromUtf8(kTools[int(tool)].title); }
QString letter(MarkupTool tool) { return QString::fromUtf8(kTools[int(tool)].letter); }
QString symbol(MarkupTool tool) { return QString::fromUtf8(kTools[int(tool)].symbol); }
QString hint(MarkupTool tool) { return QString::fromUtf8(kTools[int(tool)].hint); }

std::optional<ToolGroup> group(MarkupTool tool)
{
    switch (tool) {
    case MarkupTool::highlight:
    case MarkupTool::underline:
    case MarkupTool::strikethrough: return ToolGroup::textMarkup;
    case MarkupTool::rectangle:
    case MarkupTool::ellipse:
    case MarkupTool::line:
    case MarkupTool::arrow: return ToolGroup::shapes;
    default: return std::nullopt;
    }
}

std::optional<MarkKind> kind(MarkupTool tool)
{
    // The kinds follow the tools from pen to redact, one for one.
    if (tool == MarkupTool::select || tool == MarkupTool::eraser) return std::nullopt;
    return MarkKind(int(tool) - 1);
}

bool usesColor(MarkupTool tool) { return !RGBA::palette(tool).empty(); }

bool usesStroke(MarkupTool tool)
{
    return tool == MarkupTool::pen || tool == MarkupTool::rectangle || tool == MarkupTool::ellipse
           || tool == MarkupTool::line || tool == MarkupTool::arrow;
}

bool usesFill(MarkupTool tool) { return tool == MarkupTool::rectangle || tool == MarkupTool::ellipse; }
bool usesTextSize(MarkupTool tool) { return tool == MarkupTool::text; }

QString title(ToolGroup group)
{
    return group == ToolGroup::textMarkup ? QStringLiteral("Text markup") : QStringLiteral("Shapes");
}

std::vector<MarkupTool> members(ToolGroup group)
{
    if (group == ToolGroup::textMarkup)
        return {MarkupTool::highlight, MarkupTool::underline, MarkupTool::strikethrough};
    return {MarkupTool::rectangle, MarkupTool::ellipse, MarkupTool::line, MarkupTool::arrow};
}

const std::array<ToolSlot, 8>& toolBar()
{
    static const std::array<ToolSlot, 8> bar{ToolSlot{MarkupTool::select},    ToolSlot{MarkupTool::pen},
                                             ToolSlot{ToolGroup::textMarkup}, ToolSlot{ToolGroup::shapes},
                                             ToolSlot{MarkupTool::text},      ToolSlot{MarkupTool::note},
                                             ToolSlot{MarkupTool::redact},    ToolSlot{MarkupTool::eraser}};
    return bar;
}

QString title(MarkKind kind) { return QString::fromUtf8(kKinds[int(kind)].title); }
QString symbol(MarkKind kind) { return QString::fromUtf8(kKinds[int(kind)].symbol); }

QString hint(MarkKind kind)
{
    switch (kind) {
    case MarkKind::highlight:
    case MarkKind::underline:
    case MarkKind::strikethrough: return QStringLiteral("Drag to move. Arrow keys nudge it.");
    case MarkKind::line:
    case MarkKind::arrow: return QStringLiteral("Drag an end to reshape it. Hold Shift to snap. Arrow keys nudge it.");
    case MarkKind::text:
        return QStringLiteral("Double-click or press Return to edit the words. Drag a handle to resize.");
    case MarkKind::note: return QStringLiteral("Double-click or press Return to edit the note. Drag to move it.");
    default:
        return QStringLiteral(
            "Drag to move, or drag a handle to resize. Hold Shift to keep the shape. Arrow keys nudge it.");
    }
}

MarkupTool tool(MarkKind kind) { return MarkupTool(int(kind) + 1); }
bool usesColor(MarkKind kind) { return kind != MarkKind::redaction; }

bool usesStroke(MarkKind kind)
{
    return kind == MarkKind::drawing || kind == MarkKind::rectangle || kind == MarkKind::ellipse
           || kind == MarkKind::line || kind == MarkKind::arrow;
}

bool usesText(MarkKind kind) { return kind == MarkKind::text; }
bool usesHead(MarkKind kind) { return kind == MarkKind::line || kind == MarkKind::arrow; }

QString title(TextFont font)
{
    switch (font) {
    case TextFont::serif: return QStringLiteral("Serif");
    case TextFont::mono: return QStringLiteral("Mono");
    default: return QStringLiteral("Sans");
    }
}

std::string_view pdfFontName(TextFont font)
{
    switch (font) {
    case TextFont::serif: return "TiRo";
    case TextFont::mono: return "Cour";
    default: return "Helv";
    }
}

QFont screenFont(TextFont font, double pixelSize)
{
    QFont f;
    switch (font) {
    case TextFont::serif:
        f.setFamilies({QStringLiteral("Times"), QStringLiteral("Nimbus Roman"), QStringLiteral("serif")});
        f.setStyleHint(QFont::Serif);
        break;
    case TextFont::mono:
        f.setFamilies({QStringLiteral("Courier"), QStringLiteral("Nimbus Mono PS"), QStringLiteral("monospace")});
        f.setStyleHint(QFont::TypeWriter);
        break;
    default:
        f.setFamilies({QStringLiteral("Helvetica"), QStringLiteral("Nimbus Sans"), QStringLiteral("sans-serif")});
        f.setStyleHint(QFont::SansSerif);
        break;
    }
    f.setPixelSize(std::max(1, int(std::lround(pixelSize > 0 ? pixelSize : 12))));
    return f;
}

TextFont textFontOf(std::string_view fontName)
{
    std::string name(fontName);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    // The base-14 resource names MuPDF and other writers use in /DA.
    if (name == "cour" || name == "cou") return TextFont::mono;
    if (name == "tiro" || name == "tiro-bold" || name == "tiit") return TextFont::serif;
    if (containsAny(name, {"menlo", "mono", "courier", "consolas", "monaco"})) return TextFont::mono;
    if (containsAny(name, {"sans"})) return TextFont::sans;
    if (containsAny(name, {"georgia", "times", "serif", "newyork", "new york", "garamond", "palatino", "baskerville",
                           "charter"}))
        return TextFont::serif;
    return TextFont::sans;
}

void to_json(nlohmann::json& j, MarkupTool tool) { j = std::string(rawValue(tool)); }
void from_json(const nlohmann::json& j, MarkupTool& tool) { fromRaw<MarkupTool>(j, tool, &markupToolFromRaw, "tool"); }
void to_json(nlohmann::json& j, ToolGroup group) { j = std::string(rawValue(group)); }
void from_json(const nlohmann::json& j, ToolGroup& group)
{
    fromRaw<ToolGroup>(j, group, &toolGroupFromRaw, "tool group");
}
void to_json(nlohmann::json& j, TextFont font) { j = std::string(rawValue(font)); }
void from_json(const nlohmann::json& j, TextFont& font) { fromRaw<TextFont>(j, font, &textFontFromRaw, "text font"); }

void to_json(nlohmann::json& j, const ToolStyle& s)
{
    j = nlohmann::json{
        {"color", s.color}, {"stroke", s.stroke}, {"filled", s.filled}, {"textSize", s.textSize}, {"font", s.font}};
}

void from_json(const nlohmann::json& j, ToolStyle& s)
{
    ToolStyle out;
    out.color = j.at("color").get<RGBA>();
    const auto& stroke = j.at("stroke");
    const auto& filled = j.at("filled");
    const auto& textSize = j.at("textSize");
    if (!stroke.is_number() || !textSize.is_number() || !filled.is_boolean())
        throw nlohmann::json::type_error::create(302, "tool style has a value of the wrong type", &j);
    out.stroke = stroke.get<double>();
    out.filled = filled.get<bool>();
    out.textSize = textSize.get<double>();
    out.font = j.at("font").get<TextFont>();
    s = out;
}

} // namespace quarnkit
