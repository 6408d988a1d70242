#pragma once
// The desktop's wish for less motion, set for a test: KDE's setting in a
// scratch configuration folder, read as the application reads it, and the
// machine's own setting read again afterwards.
#include "Quarn/Design/Motion.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

namespace motiontest {

class DesktopMotion {
public:
    explicit DesktopMotion(bool reduced)
    {
        QFile kde(dir_.filePath("kdeglobals"));
        if (kde.open(QIODevice::WriteOnly))
            kde.write(reduced ? "[KDE]\nAnimationDurationFactor=0\n" : "[KDE]\nAnimationDurationFactor=1\n");
        kde.close();
        qputenv("XDG_CURRENT_DESKTOP", "KDE");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
        quarn::motion::readNow();
        restore(); // the setting is read; the rest of the test sees the environment as it was
    }
    ~DesktopMotion() { quarn::motion::readNow(); }
    DesktopMotion(const DesktopMotion&) = delete;
    DesktopMotion& operator=(const DesktopMotion&) = delete;

private:
    void restore()
    {
        for (const auto& [name, value] :
             {std::pair{"XDG_CURRENT_DESKTOP", desktop_}, std::pair{"XDG_CONFIG_HOME", config_}})
            if (value.isNull()) qunsetenv(name);
            else qputenv(name, value);
    }

    QTemporaryDir dir_;
    QByteArray desktop_ = qgetenv("XDG_CURRENT_DESKTOP");
    QByteArray config_ = qgetenv("XDG_CONFIG_HOME");
};

} // namespace motiontest
