#pragma once
// Shared by the export tests: files in a scratch folder and other programs'
// view of what the exporter wrote.
#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace exporttest {

// Standard output of a program; empty when it cannot be run.
inline QString output(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000)) return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace exporttest
