#pragma once
// Whether the desktop asks for less motion: GNOME's enable-animations key
// turned off, or KDE's animation speed set to instant.
#include <QString>

#include <optional>

namespace quarnkit::ReducedMotion {

// From the output of `gsettings get org.gnome.desktop.interface
// enable-animations`: "false" asks for less motion; none for anything else.
std::optional<bool> fromGnome(const QString& gsettingsOutput);
// From a kdeglobals file: an AnimationDurationFactor of 0 in [KDE] asks for
// less motion; none without the file or the key.
std::optional<bool> fromKde(const QString& kdeglobalsPath);

// Asks the running desktop: KDE's file on a KDE desktop, else GNOME's key
// (through gsettings, given at most `timeoutMs`). False when neither says.
// Blocks: run it off the UI thread.
bool readFromDesktop(int timeoutMs = 2000);

} // namespace quarnkit::ReducedMotion
