#pragma once
// The crash payload: the JSON summary uploaded for one crash report, of a
// fixed shape (the application, the system, the incident, and the crash with
// the crashed thread's frames and the images they lie in), plus, when it
// fits, the redacted report as text ("raw"). Built from a redacted report's
// header and body; every text cut to its limit in user-perceived characters.
// Unsigned 64-bit values (image bases) are written exactly.
#include <nlohmann/json.hpp>

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace quarnkit {

struct CrashPayload {
    static constexpr std::int64_t schemaVersion = 1;

    struct App {
        QString name;    // up to 200 characters
        QString version; // 100
        std::int64_t build = 0;
        QString bundleID; // 200
        QString arch;     // "arm64", "arm64e", "x86_64", else the application image's own
        bool translated = false;
        bool operator==(const App&) const = default;
    };
    struct System {
        QString version; // 200
        QString model;   // 100
        bool operator==(const System&) const = default;
    };
    struct Incident {
        QString id;        // 100, never empty
        QString timestamp; // 100: "2024-01-15T09:23:45Z", else the report's own text
        QString bugType;   // 20
        bool operator==(const Incident&) const = default;
    };
    struct Frame {
        QString image;     // 200; "???" when the report names none
        QString imageUUID; // 60
        std::uint64_t imageBase = 0;
        std::uint64_t offset = 0;
        std::optional<QString> symbol; // 500
        bool operator==(const Frame&) const = default;
    };
    struct Image {
        QString name; // 200
        QString uuid; // 60
        std::uint64_t base = 0;
        std::uint64_t size = 0;
        std::optional<QString> arch;
        bool operator==(const Image&) const = default;
    };
    struct Crash {
        QString exceptionType;          // 1000
        QString signal;                 // 1000
        QString codes;                  // 1000
        QString terminationReason;      // 1000
        std::int64_t crashedThread = 0; // as the report gives it, maybe outside its thread list
        std::vector<Frame> frames;      // the crashed thread's, innermost first
        std::vector<Image> images;      // those the frames lie in, each once, in order of first use
        bool operator==(const Crash&) const = default;
    };

    std::int64_t schema = schemaVersion;
    App app;
    System os;
    Incident incident;
    Crash crash;
    std::optional<QString> raw;

    // From a redacted report's header and body objects. Throws
    // CrashReportFailure(incomplete) without an incident id or with an empty one.
    static CrashPayload fromReport(const nlohmann::json& header, const nlohmann::json& body);
    // The processor type's name ("ARM-64" is "arm64", "X86-64" "x86_64", in
    // any case), else the application image's "arch", else empty.
    static QString archName(const std::optional<QString>& cpuType, const nlohmann::json* mainImage);
    // "Namespace SIGNAL, Code 11 Segmentation fault: 11" from the report's
    // termination object; empty without its keys.
    static QString terminationText(const nlohmann::json& termination);

    // UTF-8 JSON: keys sorted, slashes not escaped, no spaces or line breaks;
    // optional fields left out when empty.
    QByteArray encoded() const;
    // None unless every required key is there with its type.
    static std::optional<CrashPayload> decoded(const QByteArray& bytes);

    bool operator==(const CrashPayload&) const = default;
};

} // namespace quarnkit
