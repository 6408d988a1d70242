#include "QuarnKit/Shell/VersionTexts.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

using namespace quarnkit;

namespace {

QString writeInfo(const QTemporaryDir& dir, const QByteArray& text)
{
    const QString path = dir.filePath("Info.json");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(text);
    return path;
}

} // namespace

TEST(VersionTexts, ReadsTextValuesFromInfoJson)
{
    QTemporaryDir dir;
    const QString path = writeInfo(dir, R"({"CFBundleShortVersionString": "2.4.1", "CFBundleVersion": "317"})");
    EXPECT_EQ(appShortVersion(path), "2.4.1");
    EXPECT_EQ(appBuildVersion(path), "317");
}

TEST(VersionTexts, MissingNonTextOrDamagedFallsBackToTheBuiltInVersion)
{
    QTemporaryDir dir;
    const QString builtVersion = appShortVersion(dir.filePath("none.json"));
    const QString builtBuild = appBuildVersion(dir.filePath("none.json"));
    EXPECT_FALSE(builtVersion.isEmpty());
    EXPECT_FALSE(builtBuild.isEmpty());

    for (const QByteArray& text :
         {QByteArray(R"({})"), QByteArray(R"({"CFBundleShortVersionString": 2, "CFBundleVersion": 5})"),
          QByteArray(R"({"CFBundleShortVersionString": null, "CFBundleVersion": ["5"]})"),
          QByteArray("{\"CFBundleVersion\": \"5\""), QByteArray("[\"2.0\"]")}) {
        SCOPED_TRACE(text.toStdString());
        const QString path = writeInfo(dir, text);
        EXPECT_EQ(appShortVersion(path), builtVersion);
        EXPECT_EQ(appBuildVersion(path), builtBuild);
    }
}

TEST(VersionTexts, TheDisplayNameIsTheBundleNameElseTheProcessName)
{
    QTemporaryDir dir;
    EXPECT_EQ(appDisplayName(writeInfo(dir, R"({"CFBundleName": "Sample App"})")), "Sample App");
    for (const QByteArray& text : {QByteArray(R"({"CFBundleName": 7})"), QByteArray("{}"), QByteArray("damaged")})
        EXPECT_EQ(appDisplayName(writeInfo(dir, text)), QCoreApplication::applicationName()) << text.toStdString();
    EXPECT_EQ(appDisplayName(), "ravlen") << "the build's Info.json names the app";
}

TEST(VersionTexts, TheBuildWritesACompleteInfoJson)
{
    const QString path = installInfoPath();
    ASSERT_FALSE(path.isEmpty()) << "the build folder holds Info.json above the test's folder";
    const nlohmann::json info = readInstallInfo(path);
    EXPECT_TRUE(info["CFBundleIdentifier"].is_string());
    EXPECT_TRUE(info["RVUpdatePublicKey"].is_string());
    EXPECT_TRUE(info["RVUpdateFeedURLs"].is_array());
    EXPECT_TRUE(info["RVCrashReportURLs"].is_array());
    // The file and the program were built from the same settings.
    QTemporaryDir dir;
    EXPECT_EQ(info["CFBundleShortVersionString"], appShortVersion(dir.filePath("none.json")).toStdString());
    EXPECT_EQ(info["CFBundleVersion"], appBuildVersion(dir.filePath("none.json")).toStdString());
    EXPECT_EQ(appShortVersion(), appShortVersion(path));
}
