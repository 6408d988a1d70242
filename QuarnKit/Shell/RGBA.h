#pragma once
// One sRGB colour as four doubles. Marks, tool styles, signature ink and the
// inspector all hold colours this way; nothing here clamps or rounds.
#include <nlohmann/json_fwd.hpp>

#include <QColor>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace quarnkit {

enum class MarkupTool : int;

struct RGBA {
    double r = 0, g = 0, b = 0, a = 1;

    friend bool operator==(const RGBA&, const RGBA&) = default;

    // Named colours (all opaque). Several names share one value.
    static const RGBA white, black, red, orange, yellow, green, blue, pink;
    static const RGBA ink, graphite, crimson, moss, amber, violet, slate, redaction;
    static const RGBA highlighter, highlighterGreen, highlighterBlue, highlighterPink, highlighterOrange,
        highlighterPurple, highlighterRed, highlighterGray;

    // The eight ink colours and the eight highlighter colours, in palette order.
    static const std::array<RGBA, 8> swatches;
    static const std::array<RGBA, 8> highlighters;

    // The palette the inspector offers for a tool: none for select, redact and
    // eraser; the highlighters for highlight and note; the swatches otherwise.
    static std::vector<RGBA> palette(MarkupTool tool);

    RGBA opaque() const { return {r, g, b, 1.0}; }
    // The name of the exactly equal entry of the colour-name table, else "Color".
    QString name() const;
    bool isNearWhite() const { return (r + g + b) / 3.0 > 0.82; }
    bool isDark() const { return 0.2126 * r + 0.7152 * g + 0.0722 * b < 0.22; }
    // Red, green and blue each within 0.04 (strictly); alpha is ignored.
    bool matchesRGB(const RGBA& other) const;

    QColor toQColor() const;
    // The colour's sRGB components; none for an invalid colour.
    static std::optional<RGBA> from(const QColor& color);
};

inline constexpr RGBA RGBA::white{0.96, 0.94, 0.90, 1};
inline constexpr RGBA RGBA::black{0.16, 0.15, 0.14, 1};
inline constexpr RGBA RGBA::red{0.886, 0.231, 0.184, 1};
inline constexpr RGBA RGBA::orange{0.78, 0.58, 0.28, 1};
inline constexpr RGBA RGBA::yellow{0.86, 0.72, 0.34, 1};
inline constexpr RGBA RGBA::green{0.35, 0.55, 0.40, 1};
inline constexpr RGBA RGBA::blue{0.345, 0.478, 0.902, 1};
inline constexpr RGBA RGBA::pink{0.52, 0.40, 0.72, 1};
inline constexpr RGBA RGBA::ink{0.345, 0.478, 0.902, 1};
inline constexpr RGBA RGBA::graphite{0.16, 0.15, 0.14, 1};
inline constexpr RGBA RGBA::crimson{0.75, 0.28, 0.27, 1};
inline constexpr RGBA RGBA::moss{0.35, 0.55, 0.40, 1};
inline constexpr RGBA RGBA::amber{0.78, 0.58, 0.28, 1};
inline constexpr RGBA RGBA::violet{0.52, 0.40, 0.72, 1};
inline constexpr RGBA RGBA::slate{0.45, 0.47, 0.50, 1};
inline constexpr RGBA RGBA::redaction{0, 0, 0, 1};
inline constexpr RGBA RGBA::highlighter{1.0, 0.85, 0.22, 1};
inline constexpr RGBA RGBA::highlighterGreen{0.49, 0.86, 0.40, 1};
inline constexpr RGBA RGBA::highlighterBlue{0.40, 0.72, 1.0, 1};
inline constexpr RGBA RGBA::highlighterPink{1.0, 0.50, 0.72, 1};
inline constexpr RGBA RGBA::highlighterOrange{1.0, 0.62, 0.24, 1};
inline constexpr RGBA RGBA::highlighterPurple{0.72, 0.56, 1.0, 1};
inline constexpr RGBA RGBA::highlighterRed{1.0, 0.40, 0.36, 1};
inline constexpr RGBA RGBA::highlighterGray{0.74, 0.74, 0.72, 1};

inline constexpr std::array<RGBA, 8> RGBA::swatches{RGBA::graphite, RGBA::ink,    RGBA::crimson, RGBA::moss,
                                                    RGBA::amber,    RGBA::violet, RGBA::white,   RGBA::slate};
inline constexpr std::array<RGBA, 8> RGBA::highlighters{
    RGBA::highlighter,       RGBA::highlighterGreen,  RGBA::highlighterBlue, RGBA::highlighterPink,
    RGBA::highlighterOrange, RGBA::highlighterPurple, RGBA::highlighterRed,  RGBA::highlighterGray};

// JSON form {"r":…, "g":…, "b":…, "a":…}; decoding needs all four keys as
// numbers (nlohmann::json::exception otherwise) and ignores other keys.
void to_json(nlohmann::json& j, const RGBA& c);
void from_json(const nlohmann::json& j, RGBA& c);

} // namespace quarnkit
