#include "QuarnKit/Crash/CrashIdentity.h"

#include "QuarnKit/Shell/DefaultPDFHandler.h"
#include "QuarnKit/Shell/VersionTexts.h"

#include <QFileInfo>

namespace quarnkit {

platform::CrashIdentity crashIdentity() { return crashIdentity(QStringLiteral("/proc/self/exe")); }

platform::CrashIdentity crashIdentity(const QString& path)
{
    // A link's target is named even when that file is gone (replaced by an update).
    const QFileInfo given(path);
    const QFileInfo executable(given.isSymLink() ? given.symLinkTarget() : given.absoluteFilePath());
    const QString infoFile = installInfoPath(executable.path());
    const nlohmann::json info = readInstallInfo(infoFile);
    const auto textOf = [&](const char* key, const QString& fallback) {
        const auto it = info.find(key);
        return it != info.end() && it->is_string() && !it->get_ref<const std::string&>().empty()
                   ? it->get<std::string>()
                   : fallback.toStdString();
    };
    const QString name = executable.fileName().isEmpty() ? QStringLiteral("ravlen") : executable.fileName();
    return {textOf("CFBundleExecutable", name), appShortVersion(infoFile).toStdString(),
            appBuildVersion(infoFile).toStdString(),
            textOf("CFBundleIdentifier", QString::fromLatin1(DefaultPDFHandler::bundleID))};
}

} // namespace quarnkit
