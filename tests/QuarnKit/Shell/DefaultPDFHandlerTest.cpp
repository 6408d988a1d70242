#include "QuarnKit/Shell/DefaultPDFHandler.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <optional>
#include <utility>
#include <vector>

using platform::UserDefaults;
namespace DefaultPDFHandler = quarnkit::DefaultPDFHandler;

namespace {

// A desktop of our own: a stand-in xdg-mime first on PATH that records its
// arguments and remembers the default it is given, and XDG folders in a
// temporary directory. The environment is put back afterwards.
class DefaultPDFHandlerDesktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        for (const char* name : {"PATH", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) saved.emplace_back(name, qgetenv(name));
        bin = dir.filePath(QStringLiteral("bin"));
        ASSERT_TRUE(QDir().mkpath(bin));
        ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("data/applications"))));
        ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("system/applications"))));
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_DATA_DIRS", dir.filePath(QStringLiteral("system")).toUtf8());
        qputenv("PATH", (bin + QStringLiteral(":/usr/bin:/bin")).toUtf8());
        writeXdgMime(0);
    }

    void TearDown() override
    {
        for (const auto& [name, value] : saved) {
            if (value.isNull()) qunsetenv(name);
            else qputenv(name, value);
        }
    }

    void writeXdgMime(int status)
    {
        const QString log = dir.filePath(QStringLiteral("xdg-mime.log"));
        const QString handler = dir.filePath(QStringLiteral("handler"));
        QFile script(bin + QStringLiteral("/xdg-mime"));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
        script.write(QStringLiteral("#!/bin/sh\n"
                                    "echo \"$*\" >> '%1'\n"
                                    "case \"$1\" in\n"
                                    "  query) cat '%2' 2>/dev/null ;;\n"
                                    "  default) [ %3 -eq 0 ] && printf '%s\\n' \"$2\" > '%2' ;;\n"
                                    "esac\n"
                                    "[ %3 -eq 0 ] || echo 'xdg-mime: no writable mimeapps.list' >&2\n"
                                    "exit %3\n")
                         .arg(log, handler)
                         .arg(status)
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void setHandler(const QString& id)
    {
        QFile file(dir.filePath(QStringLiteral("handler")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(id.toUtf8() + "\n");
    }

    QString log() const
    {
        QFile file(dir.filePath(QStringLiteral("xdg-mime.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // Runs a claim to its end and returns what its completion received.
    std::optional<QString> runClaim(DefaultPDFHandler::Ask ask, UserDefaults& defaults)
    {
        std::optional<std::optional<QString>> result;
        int calls = 0;
        QEventLoop loop;
        DefaultPDFHandler::claim(
            [&](std::optional<QString> failure) {
                ++calls;
                result = failure;
                loop.quit();
            },
            std::move(ask), defaults);
        EXPECT_EQ(calls, 0) << "the completion ran before claim returned";
        QTimer::singleShot(30000, &loop, &QEventLoop::quit); // a guard against a hang, not a timing check
        if (!result) loop.exec();
        QCoreApplication::processEvents();
        EXPECT_EQ(calls, 1);
        return result.value_or(QStringLiteral("no completion"));
    }

    QTemporaryDir dir;
    QString bin;
    std::vector<std::pair<const char*, QByteArray>> saved;
};

DefaultPDFHandler::Ask answering(bool accepted, int* asked = nullptr)
{
    return [accepted, asked](std::function<void(bool)> answer) {
        if (asked) ++*asked;
        // Answer later, as a window-modal dialog would.
        QTimer::singleShot(0, [answer, accepted] { answer(accepted); });
    };
}

} // namespace

TEST_F(DefaultPDFHandlerDesktop, ClaimRecordsTheDefaultAndClearsARefusal)
{
    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    defaults.set(DefaultPDFHandler::declinedKey, true);
    setHandler(QStringLiteral("org.gnome.Evince.desktop"));
    EXPECT_FALSE(DefaultPDFHandler::isDefault());

    int asked = 0;
    EXPECT_EQ(runClaim(answering(true, &asked), defaults), std::nullopt);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(log().contains(QStringLiteral("default ravlen.desktop application/pdf\n"))) << log().toStdString();
    EXPECT_EQ(defaults.boolValue(DefaultPDFHandler::declinedKey), false);
    EXPECT_FALSE(DefaultPDFHandler::declined(defaults));
    EXPECT_TRUE(DefaultPDFHandler::isDefault());
    EXPECT_EQ(DefaultPDFHandler::currentHandler(), QStringLiteral("ravlen.desktop"));

    // The desktop entry was missing, so the claim wrote one for this program.
    QFile entry(dir.filePath(QStringLiteral("data/applications/ravlen.desktop")));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("MimeType=application/pdf;")));
    EXPECT_TRUE(text.contains(QStringLiteral("Exec=%1 %F\n").arg(QCoreApplication::applicationFilePath())));
    EXPECT_EQ(DefaultPDFHandler::handlerName(), QStringLiteral("ravlen"));

    // Without a question (the user asked from Settings) the request goes straight out.
    EXPECT_EQ(runClaim({}, defaults), std::nullopt);
    EXPECT_EQ(log().count(QStringLiteral("default ravlen.desktop application/pdf")), 2);
}

TEST_F(DefaultPDFHandlerDesktop, AnEntryAnEarlierCopyWroteIsWrittenAnewAnyOtherIsKept)
{
    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    const QString path = dir.filePath(QStringLiteral("data/applications/ravlen.desktop"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    const QString program = QCoreApplication::applicationFilePath();
    const QString current = DefaultPDFHandler::desktopEntry(program);
    ASSERT_TRUE(current.contains(QStringLiteral("Exec=%1 %F\n").arg(program)));
    // What an earlier copy wrote: the same entry with the program's path quoted.
    QString earlier = current;
    earlier.replace(QStringLiteral("Exec=%1 ").arg(program), QStringLiteral("Exec=\"%1\" ").arg(program));
    const QString users =
        QStringLiteral("[Desktop Entry]\nType=Application\nName=My ravlen\nExec=\"%1\" %F\n").arg(program);
    for (const auto& [before, after] : std::vector<std::pair<QString, QString>>{{earlier, current}, {users, users}}) {
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(before.toUtf8());
        }
        EXPECT_EQ(runClaim({}, defaults), std::nullopt);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(file.readAll()), after);
    }
}

TEST_F(DefaultPDFHandlerDesktop, ARefusalIsRememberedAndNothingIsChanged)
{
    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    EXPECT_FALSE(DefaultPDFHandler::declined(defaults)); // absent reads as false
    setHandler(QStringLiteral("org.gnome.Evince.desktop"));

    EXPECT_EQ(runClaim(answering(false), defaults), std::nullopt);
    EXPECT_TRUE(DefaultPDFHandler::declined(defaults));
    EXPECT_FALSE(log().contains(QStringLiteral("default "))) << log().toStdString();
    EXPECT_EQ(DefaultPDFHandler::currentHandler(), QStringLiteral("org.gnome.Evince.desktop"));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("data/applications/ravlen.desktop"))));

    // The refusal survives a restart.
    ASSERT_TRUE(defaults.synchronize());
    UserDefaults reread(dir.filePath(QStringLiteral("defaults.json")));
    EXPECT_TRUE(DefaultPDFHandler::declined(reread));

    // A value that is not a Boolean is no refusal.
    reread.set(DefaultPDFHandler::declinedKey, "yes");
    EXPECT_FALSE(DefaultPDFHandler::declined(reread));
}

TEST_F(DefaultPDFHandlerDesktop, FailuresAreReportedAndNotRemembered)
{
    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    writeXdgMime(2);
    const auto failure = runClaim(answering(true), defaults);
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->contains(QStringLiteral("no writable mimeapps.list"))) << failure->toStdString();
    EXPECT_FALSE(defaults.contains(DefaultPDFHandler::declinedKey));

    // No xdg-mime at all.
    qputenv("PATH", bin.toUtf8());
    QFile::remove(bin + QStringLiteral("/xdg-mime"));
    const auto missing = runClaim({}, defaults);
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing->contains(QStringLiteral("xdg-mime")));
    EXPECT_FALSE(defaults.contains(DefaultPDFHandler::declinedKey));
    EXPECT_EQ(DefaultPDFHandler::currentHandler(), QString());
    EXPECT_FALSE(DefaultPDFHandler::isDefault());
    EXPECT_EQ(DefaultPDFHandler::handlerName(), QStringLiteral("another app"));
}

TEST_F(DefaultPDFHandlerDesktop, NamesTheCurrentHandler)
{
    EXPECT_EQ(DefaultPDFHandler::handlerName(), QStringLiteral("another app")); // nothing set

    // Not ours, though it differs only in case.
    setHandler(QStringLiteral("Ravlen.desktop"));
    EXPECT_FALSE(DefaultPDFHandler::isDefault());
    EXPECT_EQ(DefaultPDFHandler::handlerName(), QStringLiteral("Ravlen")); // no entry: the file name

    // An entry under a vendor folder, found from its dashed ID.
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("system/applications/kde"))));
    QFile entry(dir.filePath(QStringLiteral("system/applications/kde/okular.desktop")));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Okular\nExec=okular %U\n[Desktop Action New]\nName=Other\n");
    entry.close();
    setHandler(QStringLiteral("kde-okular.desktop"));
    EXPECT_EQ(DefaultPDFHandler::handlerName(), QStringLiteral("Okular"));
}

TEST_F(DefaultPDFHandlerDesktop, TheQueryAnswersLaterOnTheCallersThreadAndNotAfterItsEnd)
{
    setHandler(QStringLiteral("ravlen.desktop"));
    QObject context;
    std::optional<DefaultPDFHandler::HandlerState> answer;
    Qt::HANDLE answeredOn = nullptr;
    DefaultPDFHandler::query(&context, [&](const DefaultPDFHandler::HandlerState& state) {
        answer = state;
        answeredOn = QThread::currentThreadId();
    });
    EXPECT_FALSE(answer) << "answered before query returned";
    ASSERT_TRUE(testsupport::waitFor([&] { return answer.has_value(); }));
    EXPECT_TRUE(answer->isDefault);
    EXPECT_EQ(answeredOn, QThread::currentThreadId());

    // A window gone before the answer hears nothing.
    bool heard = false;
    {
        QObject gone;
        DefaultPDFHandler::query(&gone, [&](const DefaultPDFHandler::HandlerState&) { heard = true; });
    }
    std::optional<DefaultPDFHandler::HandlerState> later;
    DefaultPDFHandler::query(&context, [&](const DefaultPDFHandler::HandlerState& state) { later = state; });
    ASSERT_TRUE(testsupport::waitFor([&] { return later.has_value(); }));
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_FALSE(heard);
}

TEST(DefaultPDFHandler, ReadsDesktopEntryNames)
{
    const QString entry =
        QStringLiteral("# comment\n[Desktop Entry]\nName=Document Viewer\nName[de]=Dokumentenbetrachter\n"
                       "Name[de_CH]=Dokumäntebetrachter\nName[fr]=\nExec=x\n[Desktop Action]\nName=Later\n");
    EXPECT_EQ(DefaultPDFHandler::desktopEntryName(entry, QStringLiteral("en_US")), QStringLiteral("Document Viewer"));
    EXPECT_EQ(DefaultPDFHandler::desktopEntryName(entry, QStringLiteral("de_DE")),
              QStringLiteral("Dokumentenbetrachter"));
    EXPECT_EQ(DefaultPDFHandler::desktopEntryName(entry, QStringLiteral("de_CH")),
              QStringLiteral("Dokumäntebetrachter"));
    EXPECT_EQ(DefaultPDFHandler::desktopEntryName(entry, QStringLiteral("fr_FR")), QStringLiteral("Document Viewer"));
    EXPECT_EQ(DefaultPDFHandler::desktopEntryName(QStringLiteral("[Other]\nName=x\n"), QStringLiteral("C")),
              std::nullopt);
    EXPECT_EQ(DefaultPDFHandler::desktopEntryName(QString(), QString()), std::nullopt);
}

TEST(DefaultPDFHandler, KnowsTheInstalledLocations)
{
    EXPECT_TRUE(DefaultPDFHandler::isInstalledCopy(QStringLiteral("/opt/ravlen")));
    EXPECT_TRUE(DefaultPDFHandler::isInstalledCopy(QStringLiteral("/opt/ravlen/")));
    EXPECT_TRUE(DefaultPDFHandler::isInstalledCopy(QStringLiteral("/opt/./other/../ravlen")));
    EXPECT_TRUE(DefaultPDFHandler::isInstalledCopy(QDir::homePath() + QStringLiteral("/.local/opt/ravlen")));
    EXPECT_TRUE(DefaultPDFHandler::isInstalledCopy(QDir::homePath() + QStringLiteral("/.local/opt/x/../ravlen")));
    EXPECT_TRUE(DefaultPDFHandler::isInstalledCopy(QStringLiteral("/usr")));
    EXPECT_FALSE(DefaultPDFHandler::isInstalledCopy(QDir::homePath() + QStringLiteral("/Downloads/ravlen")));
    EXPECT_FALSE(DefaultPDFHandler::isInstalledCopy(QStringLiteral("/work/main/build")));
    EXPECT_FALSE(DefaultPDFHandler::isInstalledCopy(QStringLiteral("/opt/Ravlen")));
    EXPECT_FALSE(DefaultPDFHandler::isInstalledCopy(QString()));
}

TEST(DefaultPDFHandler, QuotesTheProgramInItsDesktopEntry)
{
    const QString text = DefaultPDFHandler::desktopEntry(QStringLiteral("/opt/my apps/$HOME \"x\" 100%/bin/ravlen"));
    EXPECT_TRUE(text.contains(QStringLiteral("Exec=\"/opt/my apps/\\\\$HOME \\\\\"x\\\\\" 100%%/bin/ravlen\" %F\n")))
        << text.toStdString();
    const QString odd = DefaultPDFHandler::desktopEntry(QStringLiteral("/a\\b\nc"));
    EXPECT_TRUE(odd.contains(QStringLiteral("Exec=\"/a\\\\\\\\b\\nc\" %F\n"))) << odd.toStdString();
    // Exactly one Exec line, whatever the path holds.
    EXPECT_EQ(odd.count(QStringLiteral("\nExec=")), 1);
    EXPECT_EQ(odd.count(QLatin1Char('\n')), 10);
}
