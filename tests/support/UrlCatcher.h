#pragma once
// "Show in Folder" asks the file manager on the session bus, and when none
// answers (as under the tests) runs the program named xdg-open found on the
// PATH. While they live, these put a stand-in for it there, so that no test
// opens a folder on the desktop: XdgOpenStandIn's runs the test's own
// commands, or there is no xdg-open at all; UrlCatcher's writes down each URL.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QUrl>

#include <optional>

namespace testsupport {

class XdgOpenStandIn {
public:
    // `script`: the shell commands of the stand-in ("$1" is the URL); none:
    // no xdg-open on the PATH at all. No session bus is reached meanwhile:
    // a file manager on it would answer first.
    explicit XdgOpenStandIn(const std::optional<QByteArray>& script)
    {
        QByteArray path = QFile::encodeName(dir_.path());
        if (script) {
            QFile program(QDir(dir_.path()).filePath(QStringLiteral("xdg-open")));
            program.open(QIODevice::WriteOnly);
            program.write("#!/bin/sh\n" + *script + "\n");
            program.close();
            program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            path += ':' + path_;
        }
        qputenv("PATH", path);
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

protected:
    QTemporaryDir dir_;

private:
    QByteArray path_ = qgetenv("PATH");
    QByteArray bus_ = qgetenv("DBUS_SESSION_BUS_ADDRESS");
};

class UrlCatcher : public XdgOpenStandIn {
public:
    UrlCatcher() : XdgOpenStandIn(QByteArray("printf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/opened\"")) {}

    // The URLs opened so far, each once its line is whole.
    QList<QUrl> opened() const
    {
        QFile log(dir_.filePath(QStringLiteral("opened")));
        QList<QUrl> urls;
        const QList<QByteArray> lines = log.open(QIODevice::ReadOnly) ? log.readAll().split('\n') : QList<QByteArray>();
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) urls << QUrl(QString::fromUtf8(lines[i]));
        return urls;
    }
};

} // namespace testsupport
