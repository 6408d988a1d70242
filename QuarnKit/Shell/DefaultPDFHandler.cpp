#include "QuarnKit/Shell/DefaultPDFHandler.h"
#include "QuarnKit/Shell/DroppableWork.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace quarnkit {
namespace DefaultPDFHandler {
namespace {

// xdg-mime answers at once; a hung one must not hang the caller.
constexpr int queryTimeoutMs = 5000;

QString xdgMime() { return QStandardPaths::findExecutable(QStringLiteral("xdg-mime")); }

// The file of a desktop file ID: "kde-okular.desktop" may live at
// applications/kde/okular.desktop.
QString locateDesktopFile(const QString& id)
{
    QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id);
    if (!path.isEmpty()) return path;
    QString nested = id;
    for (qsizetype dash = nested.indexOf(QLatin1Char('-')); dash > 0;
         dash = nested.indexOf(QLatin1Char('-'), dash + 1)) {
        nested[dash] = QLatin1Char('/');
        path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, nested);
        if (!path.isEmpty()) return path;
    }
    return {};
}

// An argument of a desktop entry's Exec key. It stands bare when it holds no
// character the format reserves: xdg-mime takes the key's first word as the
// program and passes over an entry whose program it cannot find, so a quoted
// path would keep ravlen from ever being the default it reports. Otherwise it
// is quoted: reserved characters inside double quotes take a backslash.
// Either way "%" is doubled.
QString quotedExecArgument(const QString& argument);

QString execArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\r\"'\\><~|&;$*?#()`");
    if (!argument.isEmpty()
        && std::none_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); }))
        return QString(argument).replace(QLatin1String("%"), QLatin1String("%%"));
    return quotedExecArgument(argument);
}

QString quotedExecArgument(const QString& argument)
{
    QString quoted;
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1String("%"), QLatin1String("%%"));
    // The desktop entry format escapes a backslash once more in string values.
    quoted.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    quoted.replace(QLatin1String("\n"), QLatin1String("\\n"));
    quoted.replace(QLatin1String("\r"), QLatin1String("\\r"));
    quoted.replace(QLatin1String("\t"), QLatin1String("\\t"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QString currentHandler()
{
    const QString program = xdgMime();
    if (program.isEmpty()) return {};
    QProcess process;
    process.start(program, {QStringLiteral("query"), QStringLiteral("default"), QString::fromLatin1(pdfMimeType)});
    if (!process.waitForFinished(queryTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return {};
    // One desktop file ID on the first line; some versions list several, separated by ";".
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    return out.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(';'), 0, 0).trimmed();
}

bool isDefault() { return currentHandler() == QLatin1String(desktopFileName); }

std::optional<QString> desktopEntryName(const QString& entryText, const QString& localeName)
{
    const QString language = localeName.section(QLatin1Char('_'), 0, 0);
    std::optional<QString> plain, forLanguage, forLocale;
    bool inEntry = false;
    for (const QString& raw : entryText.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inEntry || line.startsWith(QLatin1Char('#'))) continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (value.isEmpty()) continue;
        if (key == QLatin1String("Name")) plain = value;
        else if (!localeName.isEmpty() && key == QStringLiteral("Name[%1]").arg(localeName)) forLocale = value;
        else if (!language.isEmpty() && key == QStringLiteral("Name[%1]").arg(language)) forLanguage = value;
    }
    if (forLocale) return forLocale;
    if (forLanguage) return forLanguage;
    return plain;
}

namespace {

QString nameOf(const QString& id)
{
    if (id.isEmpty()) return QStringLiteral("another app");
    const QString path = locateDesktopFile(id);
    if (!path.isEmpty()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            // Desktop entries are small; a huge file is not one.
            const QString text = QString::fromUtf8(file.read(1 << 20));
            const QString locale = QLocale::system().name();
            if (auto name = desktopEntryName(text, locale)) return *name;
        }
    }
    QString name = id;
    if (name.endsWith(QLatin1String(".desktop"))) name.chop(int(qstrlen(".desktop")));
    return name;
}

} // namespace

QString handlerName() { return nameOf(currentHandler()); }

HandlerState state()
{
    const QString id = currentHandler();
    return {id == QLatin1String(desktopFileName), nameOf(id)};
}

void query(QObject* context, std::function<void(HandlerState)> done)
{
    // The answer is handed over on the application's thread and dropped there if
    // `context` has gone, so nothing reaches a window that is gone. (QFuture's
    // context continuation asserts that the context still lives.)
    DroppableWork::shared().start([guard = QPointer<QObject>(context), done = std::move(done)]() mutable {
        HandlerState found = state();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard = std::move(guard), done = std::move(done), found = std::move(found)] {
                if (guard) done(found);
            },
            Qt::QueuedConnection);
    });
}

bool isInstalledCopy(const QString& installFolder)
{
    if (installFolder.isEmpty()) return false;
    const QString path = QDir::cleanPath(
        QDir::isAbsolutePath(installFolder) ? installFolder : QDir::current().absoluteFilePath(installFolder));
    const QString home = QDir::cleanPath(QDir::homePath() + QStringLiteral("/.local/opt/ravlen"));
    return path == QLatin1String("/opt/ravlen") || path == home || path == QLatin1String("/usr")
           || path == QLatin1String("/usr/local");
}

bool declined(const platform::UserDefaults& defaults) { return defaults.boolValue(declinedKey).value_or(false); }

namespace {

// The entry with `exec` as its Exec key's program.
QString entryWithExec(const QString& exec)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=ravlen\n"
                          "Comment=Read, mark up, sign, and export PDFs.\n"
                          "Exec=%1 %F\n"
                          "Icon=ravlen\n"
                          "Terminal=false\n"
                          "Categories=Office;Viewer;\n"
                          "MimeType=application/pdf;\n"
                          "StartupWMClass=ravlen\n")
        .arg(exec);
}

} // namespace

QString desktopEntry(const QString& executable) { return entryWithExec(execArgument(executable)); }

bool ensureDesktopFile(const QString& executable)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    const QString own = folder.isEmpty() ? QString() : folder + QLatin1Char('/') + QLatin1String(desktopFileName);
    // Earlier copies quoted the program's path, which xdg-mime cannot run, so
    // it never reported ravlen as the default: their entry for this program
    // is written anew. Any other entry found is left as it is.
    QFile found(own);
    const bool earlier = execArgument(executable) != quotedExecArgument(executable) && found.open(QIODevice::ReadOnly)
                         && found.size() < 4096
                         && found.readAll() == entryWithExec(quotedExecArgument(executable)).toUtf8();
    if (!earlier
        && !QStandardPaths::locate(QStandardPaths::ApplicationsLocation, QLatin1String(desktopFileName)).isEmpty())
        return true;
    if (folder.isEmpty() || !QDir().mkpath(folder)) return false;
    QSaveFile file(own);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(desktopEntry(executable).toUtf8());
    return file.commit();
}

void claim(Completion completion, Ask ask, platform::UserDefaults& defaults)
{
    // Shared so that whichever road finishes first reports, and only once.
    auto done = std::make_shared<Completion>(std::move(completion));
    auto finish = [done](std::optional<QString> failure) {
        if (!*done) return;
        Completion c = std::move(*done);
        *done = nullptr;
        c(std::move(failure));
    };
    // The outcome always arrives from the event loop, never inside claim().
    auto later = [finish](std::optional<QString> failure) {
        QTimer::singleShot(0, QCoreApplication::instance(), [finish, failure] { finish(failure); });
    };

    auto request = [finish, later, &defaults] {
        const QString program = xdgMime();
        if (program.isEmpty()) {
            later(QStringLiteral(
                "xdg-mime was not found. Install the xdg-utils package to choose the default PDF application."));
            return;
        }
        if (!ensureDesktopFile(QCoreApplication::applicationFilePath())) {
            later(QStringLiteral("The application entry ravlen.desktop could not be written."));
            return;
        }
        auto* process = new QProcess(QCoreApplication::instance());
        QObject::connect(process, &QProcess::finished, process,
                         [process, finish, &defaults](int code, QProcess::ExitStatus status) {
                             if (status == QProcess::NormalExit && code == 0) {
                                 defaults.set(declinedKey, false);
                                 finish(std::nullopt);
                             } else {
                                 QString detail = QString::fromUtf8(process->readAllStandardError()).trimmed();
                                 if (detail.isEmpty())
                                     detail = QStringLiteral("xdg-mime stopped with status %1.").arg(code);
                                 finish(detail);
                             }
                             process->deleteLater();
                         });
        QObject::connect(process, &QProcess::errorOccurred, process, [process, finish](QProcess::ProcessError error) {
            // A crash or time-out is followed by finished(); a failed start is not.
            if (error != QProcess::FailedToStart) return;
            finish(process->errorString());
            process->deleteLater();
        });
        process->start(program,
                       {QStringLiteral("default"), QLatin1String(desktopFileName), QLatin1String(pdfMimeType)});
    };

    if (!ask) {
        request();
        return;
    }
    ask([request, later, &defaults](bool accepted) {
        if (accepted) {
            request();
        } else {
            defaults.set(declinedKey, true);
            later(std::nullopt);
        }
    });
}

} // namespace DefaultPDFHandler
} // namespace quarnkit
