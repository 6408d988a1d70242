#pragma once
// Shared by the export tests: files in a scratch folder, other programs'
// view of what the exporter wrote, and a file with a damaged page.
#include "support/TestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <string>

namespace exporttest {

inline void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
}

inline QByteArray readBytes(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// Standard output of a program; empty when it cannot be run.
inline QString output(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000)) return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Three pages of text; the second hangs from a page-tree node that names
// itself as its parent. MuPDF shows and reads that page, but cannot copy it:
// copying looks up the page's inherited keys, and the loop stops it.
// `unreadable` leaves the page's own resources out too, so that it cannot be
// shown or read either.
inline QByteArray loopedPagePdf(bool unreadable)
{
    const auto content = [](int n) {
        const std::string text = "BT /F1 24 Tf 20 200 Td (Page " + std::to_string(n) + ") Tj ET";
        return "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream";
    };
    const std::string page = "<< /Type /Page /MediaBox [0 0 300 300] /CropBox [0 0 300 300] /Rotate 0 ";
    const std::string resources = "/Resources << /Font << /F1 9 0 R >> >> ";
    return testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 10 0 R 5 0 R] /Count 3 >>",
        page + "/Parent 2 0 R " + resources + "/Contents 6 0 R >>",
        page + "/Parent 10 0 R " + (unreadable ? "" : resources) + "/Contents 7 0 R >>",
        page + "/Parent 2 0 R " + resources + "/Contents 8 0 R >>",
        content(1),
        content(2),
        content(3),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Type /Pages /Kids [4 0 R] /Count 1 /Parent 10 0 R >>",
    });
}

} // namespace exporttest
