// Compaction through libqpdf: the same pages and text in no more bytes, the
// encryption kept, and what it cannot read faithfully left as it was.
#include "Platform/PdfCompaction.h"
#include "Platform/PdfDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using platform::PdfDocument;
namespace PdfCompaction = platform::PdfCompaction;
using testsupport::readFile;

namespace {

// What another program reads in a file: its text (pdftotext) or its check (qpdf).
QString run(const QString& program, const QStringList& arguments, const QByteArray& pdf)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("in.pdf"));
    file.open(QIODevice::WriteOnly);
    file.write(pdf);
    file.close();
    QStringList all = QStringList(arguments) << file.fileName();
    if (program == "pdftotext") all << "-";
    QProcess process;
    process.start(program, all);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

TEST(PdfCompaction, ACorpusFileKeepsItsPagesAndTextInFewerBytes)
{
    for (const char* name :
         {"pdflatex-4-pages.pdf", "multicolumn.pdf", "libreoffice-form.pdf", "imagemagick-images.pdf"}) {
        SCOPED_TRACE(name);
        const QByteArray original = readFile(QString::fromStdString(testsupport::corpusPath(name)));
        const int pages = PdfDocument::openBytes(original)->pageCount();
        const QByteArray compacted = PdfCompaction::compact(original, pages);
        EXPECT_LT(compacted.size(), original.size());
        EXPECT_EQ(PdfDocument::openBytes(compacted)->pageCount(), pages);
        EXPECT_EQ(run("pdftotext", {"-q"}, compacted), run("pdftotext", {"-q"}, original));
        EXPECT_TRUE(run("qpdf", {"--check"}, compacted).contains("No syntax or stream encoding errors"));
    }
}

TEST(PdfCompaction, AnEncryptedFileStaysEncryptedAndOpensWithItsPasswords)
{
    platform::PdfSaveOptions options;
    options.encryption = platform::PdfSaveOptions::Encryption::aes256;
    options.userPassword = "reader";
    options.ownerPassword = "owner";
    const QByteArray encrypted = PdfDocument::openBytes(testsupport::makeTextPdf(3))->save(options);
    const QByteArray compacted = PdfCompaction::compact(encrypted, 3, "owner");
    ASSERT_NE(compacted, encrypted);
    EXPECT_LE(compacted.size(), encrypted.size());
    for (const char* password : {"reader", "owner"}) {
        const auto reopened = PdfDocument::openBytes(compacted);
        ASSERT_TRUE(reopened->needsPassword());
        ASSERT_TRUE(reopened->unlock(password)) << password;
        EXPECT_EQ(reopened->pageCount(), 3);
        EXPECT_NE(reopened->textPage(2).text().find("Page 3"), std::string::npos);
    }
    // Without its password there is nothing to read, nor to write.
    EXPECT_EQ(PdfCompaction::compact(encrypted, 3), encrypted);
}

TEST(PdfCompaction, WhatItCannotReadWholeStaysAsItWas)
{
    const struct Case {
        const char* name;
        QByteArray bytes;
        int pages;
    } cases[] = {
        {"not a PDF", QByteArray("%PDF-1.7\nthis is no PDF at all"), 1},
        {"another page count", testsupport::makeTextPdf(2), 3},
        // A damaged file qpdf would "repair" into a file without pages.
        {"damaged", readFile(QString::fromStdString(testsupport::corpusPath("unreadablemetadata.pdf"))), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PdfCompaction::compact(c.bytes, c.pages), c.bytes);
    }
}
