#pragma once
// Shared by the export tests: files in a scratch folder and other programs'
// view of what the exporter wrote.
#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace exporttest {

// A PDF's bytes without its file identifier's second half, which every save
// makes anew; written as a literal string when its random bytes allow, it can
// also change the file's length by a few bytes.
inline QByteArray withoutSavedId(QByteArray pdf)
{
    const qsizetype id = pdf.lastIndexOf("/ID[");
    if (id < 0) return pdf;
    // Skip the first half, then drop the second up to the array's end.
    qsizetype at = id + 4;
    int halves = 0;
    qsizetype secondStart = -1;
    while (at < pdf.size() && pdf[at] != ']') {
        if (halves == 1 && secondStart < 0 && pdf[at] != ' ') secondStart = at;
        if (pdf[at] == '<') {
            at = pdf.indexOf('>', at) + 1;
            ++halves;
        } else if (pdf[at] == '(') {
            int depth = 0;
            for (; at < pdf.size(); ++at) {
                if (pdf[at] == '\\') ++at;
                else if (pdf[at] == '(') ++depth;
                else if (pdf[at] == ')' && --depth == 0) break;
            }
            ++at, ++halves;
        } else {
            ++at;
        }
        if (at <= 0) return pdf;
    }
    if (secondStart >= 0) pdf.remove(secondStart, at - secondStart);
    return pdf;
}

// Standard output of a program; empty when it cannot be run.
inline QString output(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000)) return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace exporttest
