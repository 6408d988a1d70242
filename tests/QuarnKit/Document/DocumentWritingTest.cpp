// Writing a document where the disk or the file says no: each failure gets
// its own sentence, and the file on disk stays as it was.
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/DocumentSaver.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Document/SaveRefusal.h"
#include "QuarnKit/Pages/PageEdits.h"
#include "Platform/PdfPageLookups.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <tuple>

using quarnkit::DocumentError;
using quarnkit::DocumentSaver;
using quarnkit::QuarnDocument;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// A document whose bytes are far larger than the file it came from.
std::unique_ptr<QuarnDocument> swollen(const QString& path)
{
    auto document = QuarnDocument::open(path);
    QByteArray noise(200000, 'x');
    for (char& c : noise) c = char('a' + QRandomGenerator::global()->bounded(26));
    pdfOf(*document)->setInfoString("Subject", noise.toStdString());
    return document;
}

enum class Kind { plain, form, signedFile };

// `pages` blank pages in one flat /Kids array. A form asks readers to draw
// its text field on the first page, which a save draws; a signed file has
// its signature on the last page alone, as some signing programs write it.
QByteArray flatPages(int pages, Kind kind, const QString& folder)
{
    const std::string value = std::to_string(4 + pages);
    std::vector<std::string> objects = {
        kind == Kind::form ? "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [3 0 R] /NeedAppearances true >> >>"
        : kind == Kind::signedFile ? "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [] >> >>"
                                   : "<< /Type /Catalog /Pages 2 0 R >>",
        "",
        kind == Kind::form ? "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Alice) /Rect [72 600 300 630] >>"
                           : "<< /Type /Annot /Subtype /Widget /FT /Sig /T (Signature1) /Rect [0 0 0 0] /F 132 /V "
                                 + value + " 0 R >>"};
    const int marked = kind == Kind::form ? 0 : kind == Kind::signedFile ? pages - 1 : -1;
    std::string kids;
    for (int i = 0; i < pages; ++i) {
        kids += std::to_string(4 + i) + " 0 R ";
        objects.push_back(std::string("<< /Type /Page /Parent 2 0 R") + (i == marked ? " /Annots [3 0 R]" : "")
                          + " >>");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " /MediaBox [0 0 612 792] >>";
    objects.push_back(testsupport::unsignedSignature());
    const QByteArray pdf = testsupport::writePdf(objects);
    return kind == Kind::signedFile ? testsupport::signPdf(pdf, folder) : pdf;
}

} // namespace

// A save asks nothing of the document whose cost grows with its pages, of
// the window's thread or the saver's: a page deleted from a flat page list
// and saved as the window saves it (DocumentWindow::writeFile: its question,
// then the saver) looks as many pages up in 1,200 pages as in 2,400. Also
// for a form whose save draws its fields, and a signed file saved by update.
TEST(DocumentWriting, ASaveLooksNoPageUpForEachPage)
{
    QTemporaryDir dir;
    for (const Kind kind : {Kind::plain, Kind::form, Kind::signedFile}) {
        std::vector<std::uint64_t> lookups;
        for (const int pages : {1200, 2400}) {
            const QString path = writeFile(dir, "long.pdf", flatPages(pages, kind, dir.path()));
            auto document = QuarnDocument::open(path);
            ASSERT_TRUE(quarnkit::PageEdits::deletePages(*document, {pages / 2}));
            const std::uint64_t before = platform::pageLookups();
            EXPECT_EQ(document->saveKeepsRemovedPages(), kind == Kind::signedFile);
            DocumentSaver saver;
            ASSERT_TRUE(saver.start(*document, quarnkit::documentFile(*document, path)));
            const DocumentSaver::Outcome outcome = saver.waitForFinished();
            ASSERT_FALSE(outcome.error) << outcome.error->reason();
            lookups.push_back(platform::pageLookups() - before);
            EXPECT_EQ(QuarnDocument::open(path)->pageCount(), pages - 1);
            EXPECT_FALSE(readFile(path).contains("/NeedAppearances")) << pages; // a form's fields drawn
            EXPECT_EQ(kind == Kind::signedFile, testsupport::signatureHolds(path)) << pages;
        }
        EXPECT_EQ(lookups[0], lookups[1]) << int(kind);
        EXPECT_LT(lookups[1], 20u) << int(kind);
    }
}

// A save over a signed file (the signature on one of two pages, listed in
// the form or not; a table MuPDF rebuilds) keeps its bytes as the new file's
// start, or is refused offering Save As, which works: after a page's
// deletion, and once it is undone; the signature still holds.
TEST(DocumentWriting, ASaveOverASignedFileKeepsItsSignedBytes)
{
    if (QStandardPaths::findExecutable("openssl").isEmpty() || QStandardPaths::findExecutable("pdfsig").isEmpty())
        GTEST_SKIP() << "needs openssl and pdfsig";
    QTemporaryDir dir;
    for (const auto& [page, listed, wordy] :
         {std::tuple(1, true, false), std::tuple(1, false, false), std::tuple(0, true, false),
          std::tuple(0, false, false), std::tuple(1, true, true)}) {
        QByteArray pdf = testsupport::writePdf(
            {std::string("<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [") + (listed ? "3 0 R" : "") + "] >> >>",
             "<< /Type /Pages /Kids [4 0 R 5 0 R] /Count 2 /MediaBox [0 0 300 300] >>",
             "<< /Type /Annot /Subtype /Widget /FT /Sig /T (Signature1) /Rect [0 0 0 0] /F 132 /V 6 0 R >>",
             std::string("<< /Type /Page /Parent 2 0 R") + (page == 0 ? " /Annots [3 0 R]" : "") + " >>",
             std::string("<< /Type /Page /Parent 2 0 R") + (page == 1 ? " /Annots [3 0 R]" : "") + " >>",
             testsupport::unsignedSignature()});
        if (wordy) pdf.replace(" 00000 n \n", " 00000 n   see here\n");
        const QByteArray signedPdf = testsupport::signPdf(pdf, dir.path());
        ASSERT_FALSE(signedPdf.isEmpty());
        for (const bool undone : {false, true}) {
            SCOPED_TRACE(testing::Message() << "page " << page + 1 << (listed ? ", listed" : "")
                                            << (wordy ? ", rebuilt" : "") << (undone ? ", undone" : ""));
            const QString path = writeFile(dir, "signed.pdf", signedPdf);
            auto document = QuarnDocument::open(path);
            ASSERT_TRUE(quarnkit::PageEdits::deletePages(*document, {page}));
            if (undone) document->undoStack().undo();
            DocumentSaver saver;
            ASSERT_TRUE(saver.start(*document, quarnkit::documentFile(*document, path)));
            const DocumentSaver::Outcome outcome = saver.waitForFinished();
            if (!outcome.error) {
                EXPECT_TRUE(readFile(path).startsWith(signedPdf));
                // Its page out, the signature is in the signed version alone, where pdfsig does not look.
                EXPECT_TRUE(undone ? testsupport::signaturesValid(path) : testsupport::signatureHolds(path));
                EXPECT_EQ(QuarnDocument::open(path)->pageCount(), undone ? 2 : 1);
                continue;
            }
            EXPECT_EQ(outcome.error->code(), DocumentError::Code::fileWriteSignedRewrite) << outcome.error->reason();
            EXPECT_TRUE(quarnkit::saveRemedies(outcome.error->code()).saveAs);
            EXPECT_EQ(readFile(path), signedPdf);
            const QString elsewhere = dir.filePath(QStringLiteral("elsewhere.pdf"));
            QFile::remove(elsewhere);
            ASSERT_TRUE(saver.start(*document, *quarnkit::chooseFile(elsewhere, {})));
            EXPECT_FALSE(saver.waitForFinished().error);
            EXPECT_EQ(QuarnDocument::open(elsewhere)->pageCount(), undone ? 2 : 1);
        }
    }
}

// The child half of the full-disk test: runs on a 16 KB file system of its own.
TEST(DocumentWritingChild, SavesOntoAFullDisk)
{
    const QString target = qEnvironmentVariable("RAVLEN_FULL_DISK_TARGET");
    if (target.isEmpty()) GTEST_SKIP() << "run by DocumentWriting.AFullDiskSaysSoAndKeepsTheFile";
    const QByteArray before = readFile(target);
    auto document = swollen(target);
    try {
        document->writeTo(testsupport::chosen(target));
        ADD_FAILURE() << "a full disk took the file";
    } catch (const DocumentError& error) {
        EXPECT_EQ(error.code(), DocumentError::Code::fileWriteOutOfSpace) << error.reason();
        EXPECT_STREQ(DocumentError::message(error.code()), "The disk is full.");
    }
    EXPECT_EQ(readFile(target), before);
    EXPECT_EQ(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(DocumentWriting, AFullDiskSaysSoAndKeepsTheFile)
{
    if (QStandardPaths::findExecutable("unshare").isEmpty()) GTEST_SKIP() << "needs unshare";
    QTemporaryDir dir;
    const QString disk = dir.filePath("disk");
    QDir().mkpath(disk);
    const QString source = writeFile(dir, "source.pdf", testsupport::makeTextPdf(1));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("RAVLEN_FULL_DISK_TARGET", disk + "/doc.pdf");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    // A private mount namespace with a tiny file system: no root needed, nothing left mounted.
    child.start("unshare", {"-rm", "sh", "-c",
                            "mount -t tmpfs -o size=16k none \"$0\" || exit 77; cp \"$1\" \"$0/doc.pdf\" && "
                            "exec \"$2\" --gtest_filter=DocumentWritingChild.*",
                            disk, source, QCoreApplication::applicationFilePath()});
    ASSERT_TRUE(child.waitForFinished(60000));
    if (child.exitCode() == 77) GTEST_SKIP() << "no private mounts here";
    EXPECT_EQ(child.exitCode(), 0);
}

TEST(DocumentWriting, AReadOnlyFileIsRefusedWithItsOwnSentence)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "kept.pdf", testsupport::makeTextPdf(2));
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    auto document = swollen(path);
    try {
        document->writeTo(*quarnkit::chooseFile(path, {}));
        ADD_FAILURE() << "a read-only file was written";
    } catch (const DocumentError& error) {
        EXPECT_EQ(error.code(), DocumentError::Code::fileWriteNoPermission);
        EXPECT_STREQ(DocumentError::message(error.code()), "You don't have permission to save there.");
    }
    EXPECT_EQ(readFile(path), testsupport::makeTextPdf(2));
}

TEST(DocumentWriting, TheSaverWritesOnAWorkerAndReportsOnItsOwnThread)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "doc.pdf", testsupport::makeTextPdf(3));
    auto document = swollen(path);
    DocumentSaver saver;
    Qt::HANDLE reported = nullptr;
    QObject::connect(&saver, &DocumentSaver::finished, [&] { reported = QThread::currentThreadId(); });
    ASSERT_TRUE(saver.start(pdfOf(*document), testsupport::chosen(path)));
    EXPECT_FALSE(saver.start(pdfOf(*document), testsupport::chosen(path))); // one at a time
    const DocumentSaver::Outcome outcome = saver.waitForFinished();
    EXPECT_FALSE(outcome.error.has_value());
    EXPECT_EQ(reported, QThread::currentThreadId());
    EXPECT_EQ(pdfOf(*QuarnDocument::open(path))->infoString("Subject")->size(), 200000u);

    // A failure comes back as its error, and the next save may start.
    ASSERT_TRUE(QDir(dir.path()).mkdir("gone"));
    const platform::ChosenFile gone = testsupport::chosen(dir.filePath("gone/doc.pdf"));
    ASSERT_TRUE(QDir(dir.path()).rmdir("gone"));
    ASSERT_TRUE(saver.start(pdfOf(*document), gone));
    const DocumentSaver::Outcome failed = saver.waitForFinished();
    ASSERT_TRUE(failed.error.has_value());
    EXPECT_EQ(failed.error->code(), DocumentError::Code::fileWriteFileReplaced);
}
