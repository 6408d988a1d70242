#pragma once
// The two processor families ravlen is built for: which one this computer
// has, which one the running build is, and the build's label in Settings. A
// `Chip` is a family of processors (x86-64 or ARM64, as uname's machine name
// tells them apart), never one processor model.
#include <QString>

#include <array>
#include <optional>

namespace quarnkit {

// Raw values "arm64" and "x86_64": the keys of the per-processor builds of the
// update feed.
enum class Chip { arm64, x86_64 };

inline constexpr std::array<Chip, 2> allChips{Chip::arm64, Chip::x86_64};

// Exact, case-sensitive: "arm64" or "x86_64"; anything else is none.
std::optional<Chip> chipFromRaw(const QString& raw);
QString rawValue(Chip chip);
// "ARM64" or "x86-64".
QString title(Chip chip);

// The family of this computer, from the machine name that uname reports
// ("aarch64" and "arm64" are arm64; anything else is x86_64).
Chip nativeChip();
// The family of a machine name as uname writes it.
Chip chipOfMachine(const QString& machine);
// The family the running code was built for.
constexpr Chip builtChip()
{
#if defined(__aarch64__)
    return Chip::arm64;
#else
    return Chip::x86_64;
#endif
}
// The label of a build in Settings: its family's title. Linux runs no build
// translated, so the label never mentions translation.
QString buildLabel(Chip running);

} // namespace quarnkit
