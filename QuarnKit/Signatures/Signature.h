#pragma once
// One saved signature or set of initials: pen strokes normalised into a unit
// box (x right, y up, 0 to 1), the aspect of the box they came from and the
// pen width relative to its width. Drawn and typed signatures are stored and
// placed alike.
#include "Platform/PdfGeometry.h"

#include <nlohmann/json_fwd.hpp>

#include <QString>
#include <QUuid>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarnkit {

using platform::PdfPoint;
using platform::PdfSize;

using InkStrokes = std::vector<std::vector<PdfPoint>>;

struct Signature {
    enum class Kind { signature, initials };
    enum class Source { drawn, typed };
    static constexpr std::array<Kind, 2> allKinds{Kind::signature, Kind::initials};

    QUuid id;
    Kind kind = Kind::signature;
    Source source = Source::drawn;
    InkStrokes strokes;
    double aspect = 1;               // width / height of the box the strokes came from
    double lineWidth = 0;            // pen width as a fraction of that box's width
    std::optional<std::string> text; // the typed words; none for drawn ones
    // Seconds since 2001-01-01 00:00:00 UTC, the file's own date coding, kept
    // as a number so that a file reads and writes back byte for byte.
    double created = 0;

    friend bool operator==(const Signature&, const Signature&) = default;

    // The default size of a placed mark: 180 wide for a signature and 60 for
    // initials, at most 72 or 44 high (a very wide mark keeps its width).
    // Aspects outside 0.05 to 100 count as the nearer end.
    PdfSize placedSize() const;
    // The pen width at a placed width; a drawn pen stays between 0.9 and 3.2,
    // and no pen is wider than the mark.
    double penWidth(double width) const;

    // The creation time of now, in the coding of `created`.
    static double now();
};

std::string_view rawValue(Signature::Kind kind);     // "signature", "initials"
std::string_view rawValue(Signature::Source source); // "drawn", "typed"
QString title(Signature::Kind kind);                 // "Signature", "Initials"

// The file's coding of one signature. Decoding throws nlohmann::json::exception
// for a missing required key, a value of the wrong type, an unknown kind or
// source, or an id that is not a hyphenated UUID.
void to_json(nlohmann::json& j, const Signature& s);
void from_json(const nlohmann::json& j, Signature& s);

} // namespace quarnkit
