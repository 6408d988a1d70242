#pragma once
// The desktop's wish for less motion, set for a test: KDE's setting in a
// scratch configuration folder, read as the application reads it, and the
// machine's own setting read again afterwards.
#include "Quarn/Design/Motion.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <utility>

namespace motiontest {

class DesktopMotion {
public:
    explicit DesktopMotion(bool reduced)
    {
        const QTemporaryDir dir; // read before it goes
        QFile kde(dir.filePath("kdeglobals"));
        if (kde.open(QIODevice::WriteOnly))
            kde.write(reduced ? "[KDE]\nAnimationDurationFactor=0\n" : "[KDE]\nAnimationDurationFactor=1\n");
        kde.close();
        const std::pair<const char*, QByteArray> kept[] = {{"XDG_CURRENT_DESKTOP", qgetenv("XDG_CURRENT_DESKTOP")},
                                                           {"XDG_CONFIG_HOME", qgetenv("XDG_CONFIG_HOME")}};
        qputenv("XDG_CURRENT_DESKTOP", "KDE");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
        quarn::motion::readNow();
        // The setting is read; the rest of the test sees the environment as it was.
        for (const auto& [name, value] : kept)
            if (value.isNull()) qunsetenv(name);
            else qputenv(name, value);
    }
    ~DesktopMotion() { quarn::motion::readNow(); }
};

} // namespace motiontest
