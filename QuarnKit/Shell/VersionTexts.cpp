#include "QuarnKit/Shell/VersionTexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef RAVLEN_VERSION
#define RAVLEN_VERSION "1.0"
#endif
#ifndef RAVLEN_BUILD_NUMBER
#define RAVLEN_BUILD_NUMBER 1
#endif
#define RAVLEN_TEXT_(x) #x
#define RAVLEN_TEXT(x) RAVLEN_TEXT_(x)

namespace quarnkit {

namespace {

QString builtIn(const char* value, const char* fallback)
{
    const QString text = QString::fromUtf8(value).trimmed();
    return text.isEmpty() ? QString::fromUtf8(fallback) : text;
}

// A key whose value is not text counts as missing.
QString textOf(const nlohmann::json& info, const char* key, const QString& fallback)
{
    const auto it = info.find(key);
    if (it == info.end() || !it->is_string()) return fallback;
    return QString::fromStdString(it->get<std::string>());
}

} // namespace

nlohmann::json readInstallInfo(const QString& infoFile)
{
    if (infoFile.isEmpty()) return nlohmann::json::object();
    QFile file(infoFile);
    if (!file.open(QIODevice::ReadOnly)) return nlohmann::json::object();
    const QByteArray bytes = file.readAll();
    nlohmann::json info = nlohmann::json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (info.is_discarded() || !info.is_object()) return nlohmann::json::object();
    return info;
}

QString installInfoPath()
{
    if (!QCoreApplication::instance()) return {};
    return installInfoPath(QCoreApplication::applicationDirPath());
}

QString installInfoPath(const QString& executableFolder)
{
    if (executableFolder.isEmpty()) return {};
    const QDir bin(executableFolder);
    for (const QString& candidate :
         {bin.filePath(QStringLiteral("../Info.json")), bin.filePath(QStringLiteral("Info.json")),
          bin.filePath(QStringLiteral("../share/ravlen/Info.json"))})
        if (QFileInfo(candidate).isFile()) return QDir::cleanPath(candidate);
    return {};
}

QString appShortVersion(const QString& infoFile)
{
    return textOf(readInstallInfo(infoFile), "CFBundleShortVersionString", builtIn(RAVLEN_VERSION, "1.0"));
}

QString appBuildVersion(const QString& infoFile)
{
    return textOf(readInstallInfo(infoFile), "CFBundleVersion", builtIn(RAVLEN_TEXT(RAVLEN_BUILD_NUMBER), "1"));
}

QString appDisplayName(const QString& infoFile)
{
    QString process = QCoreApplication::instance() ? QCoreApplication::applicationName() : QString();
    if (process.isEmpty()) process = QStringLiteral("ravlen");
    return textOf(readInstallInfo(infoFile), "CFBundleName", process);
}

QString appShortVersion() { return appShortVersion(installInfoPath()); }
QString appDisplayName() { return appDisplayName(installInfoPath()); }
QString appBuildVersion() { return appBuildVersion(installInfoPath()); }

} // namespace quarnkit
