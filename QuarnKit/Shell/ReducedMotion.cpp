#include "QuarnKit/Shell/ReducedMotion.h"

#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

namespace quarnkit::ReducedMotion {

std::optional<bool> fromGnome(const QString& gsettingsOutput)
{
    const QString value = gsettingsOutput.trimmed();
    if (value == QLatin1String("false")) return true;
    if (value == QLatin1String("true")) return false;
    return std::nullopt;
}

std::optional<bool> fromKde(const QString& kdeglobalsPath)
{
    if (kdeglobalsPath.isEmpty()) return std::nullopt;
    const QSettings file(kdeglobalsPath, QSettings::IniFormat);
    const QVariant factor = file.value(QStringLiteral("KDE/AnimationDurationFactor"));
    bool ok = false;
    const double value = factor.toDouble(&ok);
    if (!factor.isValid() || !ok) return std::nullopt;
    return value <= 0;
}

bool readFromDesktop(int timeoutMs)
{
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    if (desktop.contains(QLatin1String("KDE"), Qt::CaseInsensitive)) {
        const QString path =
            QStandardPaths::locate(QStandardPaths::GenericConfigLocation, QStringLiteral("kdeglobals"));
        if (const auto reduced = fromKde(path)) return *reduced;
    }
    const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (gsettings.isEmpty()) return false;
    QProcess process;
    process.start(gsettings, {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
                              QStringLiteral("enable-animations")});
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return fromGnome(QString::fromUtf8(process.readAllStandardOutput())).value_or(false);
}

} // namespace quarnkit::ReducedMotion
