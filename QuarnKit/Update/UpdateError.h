#pragma once
// The updater's failures, each with one fixed sentence, and its settings.
#include "Platform/UserDefaults.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <stdexcept>

namespace quarnkit {

enum class UpdateError {
    offline,
    damagedFeed,
    downloadFailed,
    damagedDownload,
    badSignature,
    damagedArchive,
    wrongApp,
    wrongChip,
    notNewer,
    untrustedCode,
    installerFailed,
    noPrivateFolder, // the download's private staging folder could not be made
};

// The sentence shown to the user; `app` is the display name, put in unchanged.
QString message(UpdateError error, const QString& app);

// What the updater's operations throw.
struct UpdateFailure : std::runtime_error {
    explicit UpdateFailure(UpdateError e) : std::runtime_error("update failure"), error(e) {}
    UpdateError error;
};

namespace UpdatePreferences {
inline constexpr char automaticKey[] = "ravlenUpdateCheckAutomatically";
inline constexpr char lastCheckKey[] = "ravlenUpdateLastCheck";
inline constexpr char skippedVersionKey[] = "ravlenUpdateSkippedVersion";
inline constexpr double launchDelay = 8.0;  // seconds from start to the first automatic check
inline constexpr double interval = 86400.0; // least seconds between two automatic checks

// On unless a Boolean false is stored: a fresh install checks by itself.
bool automatic(const platform::UserDefaults& defaults);
// Due with no last check, a day or more after it, or when it lies in the
// future (the clock was set back).
bool isDue(const std::optional<QDateTime>& lastCheck, const QDateTime& now);
} // namespace UpdatePreferences

} // namespace quarnkit
