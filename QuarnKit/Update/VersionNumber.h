#pragma once
// Version arithmetic of the updater and the decision that follows a feed
// check. Pure functions of their arguments.
#include "QuarnKit/Update/Chip.h"

#include <nlohmann/json_fwd.hpp>

#include <QString>

#include <compare>
#include <cstdint>
#include <optional>

namespace quarnkit {

namespace VersionNumber {
// -1, 0 or 1: dotted versions compared part by part, a missing part counting
// as 0 and each part read as its leading ASCII digits (so "1.2-beta" is
// "1.2", and "1.10" is higher than "1.9"). Spaces and tabs at either end are
// ignored. Any text compares.
int compare(const QString& a, const QString& b);
// One or more parts separated by ".", each a non-empty run of ASCII digits
// and nothing else; no white space.
bool isValid(const QString& version);
} // namespace VersionNumber

// The version of the system a release must run on. On Linux it is the C
// library's (glibc 2.36 is 2.36.0), which is what a build depends on.
struct OSVersion {
    int major = 0;
    int minor = 0;
    int patch = 0;
};

namespace SystemVersion {
// "2.36", or "2.36.1" when the patch number is 1 or more.
QString string(const OSVersion& version);
// The running C library's version.
OSVersion running();
} // namespace SystemVersion

// A version text with its build number, ordered by build first and version second.
struct AppRelease {
    QString version;
    std::int64_t build = 0;

    // From an Info.json object: none unless "CFBundleShortVersionString" is a
    // valid version and "CFBundleVersion" is text.
    static std::optional<AppRelease> fromInfo(const nlohmann::json& info);
    // The leading decimal digits of a build text ("57b" is 57), spaces and
    // tabs at the ends ignored; 0 when there are none or they overflow.
    static std::int64_t buildNumber(const QString& text);
    // "1.2 (5)".
    QString description() const;

    friend std::strong_ordering operator<=>(const AppRelease& a, const AppRelease& b);
    friend bool operator==(const AppRelease& a, const AppRelease& b) { return (a <=> b) == 0; }
};

// What a successful feed check means for this copy.
enum class UpdateDecision {
    upToDate,
    available,
    skipped,
    requiresNewerSystem,
    noBuildForThisComputer,
};

struct UpdateFeed;
// The first that applies: not newer, no build for `chip`, the system too old,
// the version the user skipped, else available.
UpdateDecision decideUpdate(const AppRelease& current, const UpdateFeed& feed, Chip chip,
                            const std::optional<QString>& skippedVersion, const OSVersion& system);

} // namespace quarnkit
