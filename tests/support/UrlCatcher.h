#pragma once
// "Show in Folder" asks the file manager on the session bus, and when none
// answers (as under the tests) runs the program named xdg-open found on the
// PATH. While they live, these put a stand-in for it there, so that no test
// opens a folder on the desktop: UrlCatcher's writes each URL down and hands
// those of one scheme to a function of the test's; XdgOpenStandIn's runs the
// test's own commands, or there is no xdg-open at all.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>

namespace testsupport {

class XdgOpenStandIn {
public:
    // `script`: the shell commands of the stand-in ("$1" is the URL); none:
    // no xdg-open on the PATH at all. No session bus is reached meanwhile:
    // a file manager on it would answer first.
    explicit XdgOpenStandIn(const std::optional<QByteArray>& script)
        : path_(qgetenv("PATH")), bus_(qgetenv("DBUS_SESSION_BUS_ADDRESS"))
    {
        if (script) {
            QFile program(QDir(dir_.path()).filePath(QStringLiteral("xdg-open")));
            program.open(QIODevice::WriteOnly);
            program.write("#!/bin/sh\n" + *script + "\n");
            program.close();
            program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            qputenv("PATH", QFile::encodeName(dir_.path()) + ':' + path_);
        } else {
            qputenv("PATH", QFile::encodeName(dir_.path()));
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(dir_.filePath("no-bus")));
    }
    ~XdgOpenStandIn()
    {
        qputenv("PATH", path_);
        if (bus_.isEmpty()) qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        else qputenv("DBUS_SESSION_BUS_ADDRESS", bus_);
    }
    XdgOpenStandIn(const XdgOpenStandIn&) = delete;
    XdgOpenStandIn& operator=(const XdgOpenStandIn&) = delete;

    // A folder of the stand-in's own, for what it writes.
    QString folder() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray path_;
    QByteArray bus_;
};

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher(const QString& scheme, std::function<void(const QUrl&)> seen)
        : scheme_(scheme), seen_(std::move(seen)), log_(QDir(folder_.path()).filePath(QStringLiteral("opened"))),
          opener_("printf '%s\\n' \"$1\" >> '" + QFile::encodeName(log_) + "'")
    {
        // Read as the test waits (testsupport::waitFor runs the event loop).
        connect(&poll_, &QTimer::timeout, this, &UrlCatcher::readLog);
        poll_.start(10);
    }

private:
    void readLog()
    {
        QFile log(log_);
        if (!log.open(QIODevice::ReadOnly)) return;
        const QList<QByteArray> lines = log.readAll().split('\n');
        for (; read_ < lines.size() - 1; ++read_) {
            const QUrl url(QString::fromUtf8(lines[read_]));
            if (url.scheme() == scheme_) seen_(url);
        }
    }

    QString scheme_;
    std::function<void(const QUrl&)> seen_;
    QTemporaryDir folder_;
    QString log_;
    XdgOpenStandIn opener_;
    QTimer poll_;
    qsizetype read_ = 0;
};

} // namespace testsupport
