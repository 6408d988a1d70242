#include "QuarnKit/Update/Chip.h"

#include <sys/utsname.h>

namespace quarnkit {

std::optional<Chip> chipFromRaw(const QString& raw)
{
    for (const Chip chip : allChips)
        if (raw == rawValue(chip)) return chip;
    return std::nullopt;
}

QString rawValue(Chip chip) { return chip == Chip::arm64 ? QStringLiteral("arm64") : QStringLiteral("x86_64"); }

QString title(Chip chip) { return chip == Chip::arm64 ? QStringLiteral("ARM64") : QStringLiteral("x86-64"); }

Chip chipOfMachine(const QString& machine)
{
    return machine == QLatin1String("aarch64") || machine == QLatin1String("arm64") ? Chip::arm64 : Chip::x86_64;
}

Chip nativeChip()
{
    struct utsname name {};
    if (::uname(&name) != 0) return Chip::x86_64;
    return chipOfMachine(QString::fromLatin1(name.machine));
}

QString buildLabel(Chip running) { return title(running); }

} // namespace quarnkit
