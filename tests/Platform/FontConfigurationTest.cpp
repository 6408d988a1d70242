// fontconfig reads the user's font settings and fonts, and writes its cache,
// only in folders no other user can change: with a home folder another user
// holds or can write, it reads nothing named from it (~/.fonts.conf and the
// folders that names) and writes nothing there. The user is nobody, in a
// child, as the program starts: the base folders judged, then fontconfig.
#include "Platform/FontConfiguration.h"
#include "Platform/PrivateFiles.h"
#include "support/OtherUsers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fontconfig/fontconfig.h>

#include <sys/stat.h>

namespace {

// Each string of a fontconfig list, as a path.
QStringList pathsOf(FcStrList* list)
{
    QStringList paths;
    if (!list) return paths;
    while (FcChar8* path = FcStrListNext(list)) paths << QFile::decodeName(reinterpret_cast<const char*>(path));
    FcStrListDone(list);
    return paths;
}

} // namespace

TEST(FontConfiguration, AHomeFolderAnotherUserCanChangeIsNotRead)
{
    using testsupport::kOtherUser;
    using testsupport::kUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "another user's folders need root to make";
    struct Case {
        const char* what;
        const char* home; // under the test's folder
        uid_t owner;
        mode_t mode;
        bool read;
        bool groupShared = false; // the user's group names another user too
    };
    const Case cases[] = {
        {"the user's own", "mine", kUser, 0700, true},
        {"the user's own, its private group may write", "grouped", kUser, 0775, true},
        {"another user's", "bobs", kOtherUser, 0755, false},
        {"the user's own, others may write", "open", kUser, 0777, false},
        {"the user's own, a group with another user may write", "shared", kUser, 0775, false, true},
    };
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const auto own = [](const QString& path, uid_t owner, mode_t mode) {
        const QByteArray native = QFile::encodeName(path);
        EXPECT_EQ(::chown(native.constData(), owner, owner), 0);
        EXPECT_EQ(::chmod(native.constData(), mode), 0);
    };
    // The user's own base folders, so that only the home folder is in question.
    const QString bases = dir.filePath("bases");
    for (const char* kind : {"", "/config", "/data", "/state", "/cache", "/run"}) {
        ASSERT_TRUE(QDir().mkpath(bases + kind));
        own(bases + kind, kUser, 0700);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The settings name a font folder and a cache folder the user may write.
        const QString home = dir.filePath(c.home), fonts = home + "/their fonts", cache = home + "/their cache";
        ASSERT_TRUE(QDir().mkpath(fonts) && QDir().mkpath(cache));
        ASSERT_TRUE(testsupport::writeFile(
            home + "/.fonts.conf", "<?xml version=\"1.0\"?>\n<fontconfig>\n  <dir>" + fonts.toUtf8()
                                       + "</dir>\n  <cachedir>" + cache.toUtf8() + "</cachedir>\n</fontconfig>\n"));
        own(fonts, c.owner, 0777);
        own(cache, c.owner, 0777);
        own(home + "/.fonts.conf", c.owner, 0644);
        own(home, c.owner, c.mode);
        EXPECT_TRUE(testsupport::asUser(kUser, [&] {
            const testsupport::Accounts accounts(c.groupShared ? testsupport::Accounts::sharedWithBob()
                                                               : testsupport::Accounts::usersOwnGroup());
            qputenv("HOME", QFile::encodeName(home));
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(bases + "/config"));
            qputenv("XDG_DATA_HOME", QFile::encodeName(bases + "/data"));
            qputenv("XDG_STATE_HOME", QFile::encodeName(bases + "/state"));
            qputenv("XDG_CACHE_HOME", QFile::encodeName(bases + "/cache"));
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(bases + "/run"));
            qunsetenv("FONTCONFIG_FILE");
            qunsetenv("FONTCONFIG_PATH");
            EXPECT_TRUE(platform::PrivateFiles::replaceForeignBaseFolders().empty());
            platform::FontConfiguration::loadInBackground();
            // Read again here, whatever the test's own process read before.
            ASSERT_TRUE(FcInitReinitialize());
            FcConfig* config = FcConfigGetCurrent();
            const QStringList files = pathsOf(FcConfigGetConfigFiles(config));
            const QStringList dirs = pathsOf(FcConfigGetFontDirs(config));
            const QStringList caches = pathsOf(FcConfigGetCacheDirs(config));
            EXPECT_EQ(files.contains(home + "/.fonts.conf"), c.read) << files.join(u' ').toStdString();
            EXPECT_EQ(dirs.contains(fonts), c.read) << dirs.join(u' ').toStdString();
            EXPECT_EQ(caches.contains(cache), c.read) << caches.join(u' ').toStdString();
        }));
        // No cache of the user's was written there.
        if (!c.read) {
            EXPECT_TRUE(QDir(cache).isEmpty()) << QDir(cache).entryList(QDir::AllEntries).join(u' ').toStdString();
        }
    }
}
