// Opening and saving damaged, lying, signed and protected files: each case
// is a file written here, saved, and read back by ravlen and other programs.
#include "Platform/PdfAnnotations.h"
#include "Platform/PdfDocument.h"
#include "Platform/PdfPageAssembly.h"
#include "Platform/PdfPageEditing.h"
#include "Platform/PdfPageGeometries.h"
#include "Platform/PdfPageIdentity.h"
#include "Platform/PdfTextReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

using platform::PdfAnnotation;
using platform::PdfDocument;
using platform::PdfError;
using platform::PdfErrorCode;
namespace PdfAnnotations = platform::PdfAnnotations;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

std::string pageObject(int contents, const std::string& extra = {})
{
    return "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents " + std::to_string(contents)
           + " 0 R /Resources << /Font << /F1 3 0 R >> >>" + extra + " >>";
}

std::string textStream(const std::string& words)
{
    const std::string content = "BT /F1 24 Tf 30 150 Td (" + words + ") Tj ET";
    return "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream";
}

// Four pages: objects 4-7 are the pages, 8-11 their content streams.
std::vector<std::string> fourPageObjects()
{
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                                        "<< /Type /Pages /Kids [4 0 R 5 0 R 6 0 R 7 0 R] /Count 4 >>",
                                        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    for (int i = 0; i < 4; ++i) objects.push_back(pageObject(8 + i));
    for (int i = 0; i < 4; ++i) objects.push_back(textStream("Page " + std::to_string(i + 1)));
    return objects;
}

// Moves the cross-reference offset of object `num` by `shift` bytes.
QByteArray shiftXrefEntry(QByteArray pdf, int num, int shift)
{
    const qsizetype table = pdf.lastIndexOf("\nxref\n") + 1;
    const qsizetype firstEntry = pdf.indexOf('\n', pdf.indexOf('\n', table) + 1) + 1;
    const qsizetype at = firstEntry + 20 * num;
    const long long offset = pdf.mid(at, 10).toLongLong() + shift;
    pdf.replace(at, 10, QByteArray::number(offset).rightJustified(10, '0'));
    return pdf;
}

PdfAnnotation square(double x)
{
    PdfAnnotation mark;
    mark.subtype = "Square";
    mark.rect = {x, 20, 60, 40};
    mark.color = platform::PdfColor{1, 0, 0};
    mark.borderWidth = 2;
    return mark;
}

int countSquares(const PdfDocument& doc, int page)
{
    int n = 0;
    for (const auto& a : PdfAnnotations::list(doc, page)) n += a.subtype == "Square";
    return n;
}

platform::PdfSaveOptions collecting()
{
    platform::PdfSaveOptions options;
    options.garbageCollect = true;
    return options;
}

bool holdsObject(const QByteArray& pdf, int num)
{
    const QByteArray header = QByteArray::number(num) + " 0 obj";
    return pdf.startsWith(header) || pdf.contains("\n" + header) || pdf.contains("\r" + header);
}

} // namespace

TEST(PdfSaving, AFileMuPdfMustRepairIsKeptAndItsMarksGoToAnotherFile)
{
    // Page 4's content stream is 7 bytes from where the table says: MuPDF
    // rebuilds the table when it first reads that object.
    QTemporaryDir dir;
    const QString path = dir.filePath("damaged.pdf");
    const QByteArray damaged = shiftXrefEntry(testsupport::writePdf(fourPageObjects()), 11, 7);
    writeFile(path, damaged);

    auto doc = PdfDocument::openFile(path.toStdString());
    ASSERT_EQ(doc->pageCount(), 4);
    PdfAnnotations::add(*doc, 0, square(20));
    // Reading page 4 after the edit used to rebuild the table and drop the mark.
    EXPECT_FALSE(doc->render(3, 0.5).isNull());
    // The repaired file may hold more than MuPDF read: it is not written over.
    try {
        doc->saveToFile(testsupport::chosen(path.toStdString()));
        ADD_FAILURE() << "the repaired file was written over";
    } catch (const PdfError& error) {
        EXPECT_EQ(error.code(), PdfErrorCode::repairedFile);
    }
    EXPECT_EQ(readFile(path), damaged);

    const QString copy = dir.filePath("copy.pdf");
    doc->saveToFile(testsupport::chosen(copy.toStdString()));
    auto reopened = PdfDocument::openFile(copy.toStdString());
    EXPECT_EQ(reopened->pageCount(), 4);
    EXPECT_EQ(countSquares(*reopened, 0), 1);
    EXPECT_NE(reopened->textPage(3).text().find("Page 4"), std::string::npos);
}

TEST(PdfSaving, AFirstEditOfAFileNotYetReadInFullSurvivesARepairDueLater)
{
    // Opening leaves page 4's content stream (object 11, 7 bytes from where
    // the table says) unread: the rebuild of the table comes later, when
    // every object is read, and must come before the edit.
    struct Edit {
        const char* name;
        std::function<void(PdfDocument&)> make;
        std::function<void(const PdfDocument&)> check;
    };
    const std::vector<Edit> edits = {
        {"a mark", [](PdfDocument& doc) { PdfAnnotations::add(doc, 0, square(20)); },
         [](const PdfDocument& doc) { EXPECT_EQ(countSquares(doc, 0), 1); }},
        {"a turned page", [](PdfDocument& doc) { platform::setPageRotation(doc, platform::pageId(doc, 1), 90); },
         [](const PdfDocument& doc) { EXPECT_EQ(platform::pageRotation(doc, platform::pageId(doc, 1)), 90); }},
        {"a title", [](PdfDocument& doc) { doc.setInfoString("Title", "Kept"); },
         [](const PdfDocument& doc) { EXPECT_EQ(doc.infoString("Title").value_or(""), "Kept"); }},
        {"a moved page", [](PdfDocument& doc) { platform::movePage(doc, 0, 2); },
         [](const PdfDocument& doc) { EXPECT_NE(doc.textPage(2).text().find("Page 1"), std::string::npos); }},
    };
    // Read in part on a worker before the edit, or not at all, or in full.
    for (const int readBefore : {0, 3, 1000}) {
        for (const Edit& edit : edits) {
            SCOPED_TRACE(std::string(edit.name) + ", " + std::to_string(readBefore) + " objects read before");
            QTemporaryDir dir;
            const QString path = dir.filePath("damaged.pdf");
            writeFile(path, shiftXrefEntry(testsupport::writePdf(fourPageObjects()), 11, 7));

            auto doc = PdfDocument::openFile(path.toStdString());
            ASSERT_EQ(doc->pageCount(), 4);
            ASSERT_FALSE(doc->settle(0)) << "the whole file was read at opening: nothing here comes late";
            doc->settle(readBefore);
            edit.make(*doc);
            EXPECT_TRUE(doc->settle(0));
            // Reading page 4 would rebuild the table now had the edit not read it first.
            EXPECT_FALSE(doc->render(3, 0.5).isNull());
            const QString copy = dir.filePath("copy.pdf");
            ASSERT_NO_THROW(doc->saveToFile(testsupport::chosen(copy.toStdString())));

            auto reopened = PdfDocument::openFile(copy.toStdString());
            EXPECT_EQ(reopened->pageCount(), 4);
            edit.check(*reopened);
            EXPECT_NE(reopened->textPage(3).text().find("Page 4"), std::string::npos);
        }
    }
}

TEST(PdfSaving, AnUnreferencedObjectThatCannotBeParsedDoesNotStopASave)
{
    // Object 12 is referred to by nothing and its dictionary is never closed.
    std::vector<std::string> objects = fourPageObjects();
    objects.push_back("<< /Type /Junk /Broken [1 2 3 /Open <<");
    QTemporaryDir dir;
    const QString path = dir.filePath("junk.pdf");
    writeFile(path, testsupport::writePdf(objects));

    auto doc = PdfDocument::openFile(path.toStdString());
    PdfAnnotations::add(*doc, 1, square(30));
    // Nor the copy that printing and the export's workers read.
    EXPECT_EQ(countSquares(*doc->copy(), 1), 1);
    doc->saveToFile(testsupport::chosen(path.toStdString()), collecting());

    const QByteArray saved = readFile(path);
    EXPECT_FALSE(saved.contains("/Junk"));
    auto reopened = PdfDocument::openFile(path.toStdString());
    EXPECT_EQ(reopened->pageCount(), 4);
    EXPECT_EQ(countSquares(*reopened, 1), 1);
    int exitCode = -1;
    const QString check = testsupport::runProgram("qpdf", {"--check", path}, &exitCode);
    EXPECT_EQ(exitCode, 0) << check.toStdString();
}

TEST(PdfSaving, ADeletedMarkLeavesTheFileAndComesBackWithUndo)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("marks.pdf");
    writeFile(path, testsupport::writePdf(fourPageObjects()));
    auto doc = PdfDocument::openFile(path.toStdString());
    const int num = PdfAnnotations::add(*doc, 0, square(20));
    doc->saveToFile(testsupport::chosen(path.toStdString()), collecting());
    EXPECT_TRUE(holdsObject(readFile(path), num));

    const std::optional<int> index = PdfAnnotations::remove(*doc, 0, num);
    ASSERT_TRUE(index);
    doc->saveToFile(testsupport::chosen(path.toStdString()), collecting());
    EXPECT_FALSE(holdsObject(readFile(path), num));
    EXPECT_EQ(countSquares(*PdfDocument::openFile(path.toStdString()), 0), 0);

    // Undo puts the same object back: it is still in the open document.
    ASSERT_TRUE(PdfAnnotations::insert(*doc, 0, num, *index));
    doc->saveToFile(testsupport::chosen(path.toStdString()), collecting());
    EXPECT_TRUE(holdsObject(readFile(path), num));
    EXPECT_EQ(countSquares(*PdfDocument::openFile(path.toStdString()), 0), 1);
}

// Other readers find a signature through the form's fields or, when a
// signing program left it out of them, through the page's marks. Each save
// is an update after the signed bytes, in the form of the section the file
// ends with, a file that holds both kinds of section too. Where MuPDF cannot
// write an update (a file it had to rebuild), the signed file is not written
// anew over itself, which would break its signature: another file takes it.
// An encrypted file's signature keeps its /Contents byte for byte as the
// signer stored it, in the clear: the signature holds over the signed bytes
// (openssl), and pdfsig judges it as it did before the save.
TEST(PdfSaving, ASignedFileIsUpdatedIncrementallyAndStillVerifies)
{
    if (QStandardPaths::findExecutable("openssl").isEmpty() || QStandardPaths::findExecutable("pdfsig").isEmpty())
        GTEST_SKIP() << "needs openssl and pdfsig";
    QTemporaryDir made;
    const QByteArray ending = readFile(QString::fromStdString(testsupport::qpdfCorpusPath("digitally-signed.pdf")));
    const struct {
        const char* what;
        QByteArray pdf;
        bool updated; // else the save over it is refused, and Save As writes it anew
    } cases[] = {
        {"listed in the form", testsupport::makeSignedPdf(made.path(), true), true},
        {"on the page only", testsupport::makeSignedPdf(made.path(), false), true},
        {"ending in a cross-reference stream, by another program", ending, true},
        {"a table appended after a cross-reference stream", testsupport::withTableUpdate(ending), true},
        {"words after its table's entries, which MuPDF rebuilds", testsupport::makeSignedPdf(made.path(), true, true),
         false},
        {"AES-128, the field its own signature, /Contents in the clear",
         testsupport::makeSignedEncryptedForm(made.path()), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.pdf.isEmpty());
        QTemporaryDir dir;
        const QString path = dir.filePath("signed.pdf");
        writeFile(path, c.pdf);
        // Poppler decrypts the /Contents of a signature dictionary not typed
        // /Sig, whatever the file stores: its verdict is kept as it was.
        const bool validForPoppler = testsupport::signaturesValid(path);
        ASSERT_TRUE(testsupport::signatureHolds(path));
        const QString wordsBefore = testsupport::runProgram("pdftotext", {"-q", path, "-"});
        const QString mutoolWordsBefore = testsupport::runProgram("mutool", {"draw", "-F", "txt", path});
        const int squares = countSquares(*PdfDocument::openFile(path.toStdString()), 0);

        auto doc = PdfDocument::openFile(path.toStdString());
        EXPECT_TRUE(doc->isSigned());
        if (!c.updated) {
            PdfAnnotations::add(*doc, 0, square(40));
            try {
                doc->saveToFile(testsupport::chosen(path.toStdString()), collecting());
                ADD_FAILURE() << "the signed file was written anew";
            } catch (const platform::PdfError& error) {
                EXPECT_EQ(error.code(), platform::PdfErrorCode::signedRewrite) << error.what();
            }
            EXPECT_EQ(readFile(path), c.pdf);
            // Another file takes the document, the mark with it.
            const QString elsewhere = dir.filePath("elsewhere.pdf");
            doc->saveToFile(testsupport::chosen(elsewhere.toStdString()), collecting());
            EXPECT_EQ(countSquares(*PdfDocument::openFile(elsewhere.toStdString()), 0), squares + 1);
            EXPECT_EQ(testsupport::signaturesValid(path), validForPoppler);
            EXPECT_TRUE(testsupport::signatureHolds(path));
            continue;
        }
        // A save with no change and a save with a new mark both keep the
        // signed bytes; so does Save As, after an export or not.
        try {
            doc->saveToFile(testsupport::chosen(path.toStdString()), collecting());
            EXPECT_TRUE(readFile(path).startsWith(c.pdf));
            PdfAnnotations::add(*doc, 0, square(40));
            platform::PdfSaveOptions exporting;
            exporting.encryption = platform::PdfSaveOptions::Encryption::none;
            exporting.garbageCollect = true;
            EXPECT_FALSE(doc->save(exporting).isEmpty());
            doc->saveToFile(testsupport::chosen(dir.filePath("elsewhere.pdf").toStdString()), collecting());
            doc->saveToFile(testsupport::chosen(path.toStdString()), collecting());
            // A second update chains onto the first.
            PdfAnnotations::add(*doc, 0, square(120));
            doc->saveToFile(testsupport::chosen(path.toStdString()), collecting());
        } catch (const platform::PdfError& error) {
            ADD_FAILURE() << "refused: " << error.what();
            continue;
        }

        for (const QString& saved : {path, dir.filePath("elsewhere.pdf")}) {
            SCOPED_TRACE(saved.toStdString());
            EXPECT_TRUE(readFile(saved).startsWith(c.pdf));
            EXPECT_EQ(testsupport::signaturesValid(saved), validForPoppler)
                << testsupport::runProgram("pdfsig", {saved}).toStdString();
            EXPECT_TRUE(testsupport::signatureHolds(saved));
            int exitCode = -1;
            testsupport::runProgram("qpdf", {"--check", saved}, &exitCode);
            EXPECT_EQ(exitCode, 0);
            EXPECT_EQ(testsupport::runProgram("pdftotext", {"-q", saved, "-"}), wordsBefore);
            EXPECT_EQ(testsupport::runProgram("mutool", {"draw", "-F", "txt", saved}), mutoolWordsBefore);
        }
        EXPECT_EQ(countSquares(*PdfDocument::openFile(path.toStdString()), 0), squares + 2);
        EXPECT_EQ(countSquares(*PdfDocument::openFile(dir.filePath("elsewhere.pdf").toStdString()), 0), squares + 1);
    }
}

// An encryption that leaves the metadata in the clear (/EncryptMetadata
// false) is kept, and other readers take the metadata as clear text: it must
// be written so, while the rest stays encrypted.
TEST(PdfSaving, MetadataTheEncryptionLeavesInTheClearStaysReadable)
{
    const struct {
        const char* name;
        QStringList encryption;
        QString password;
        int requiresPassword; // qpdf --requires-password: 0 yes, 3 encrypted without one
    } cases[] = {
        {"AES-256, no open password", {"", "owner", "256"}, "", 3},
        {"AES-128, an open password", {"user", "owner", "128", "--use-aes=y"}, "user", 0},
    };
    const std::string xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><!-- clear metadata --></x:xmpmeta>";
    std::vector<std::string> objects = fourPageObjects();
    objects[0] = "<< /Type /Catalog /Pages 2 0 R /Metadata 12 0 R >>";
    objects.push_back("<< /Type /Metadata /Subtype /XML /Length " + std::to_string(xmp.size()) + " >>\nstream\n" + xmp
                      + "\nendstream");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString plain = dir.filePath("plain.pdf"), path = dir.filePath("clear.pdf");
        writeFile(plain, testsupport::writePdf(objects));
        int exitCode = -1;
        testsupport::runProgram(
            "qpdf", QStringList{"--encrypt"} + c.encryption + QStringList{"--cleartext-metadata", "--", plain, path},
            &exitCode);
        ASSERT_EQ(exitCode, 0);
        const auto metadataReads = [&] {
            const QString check = dir.filePath("check.pdf");
            testsupport::runProgram(
                "qpdf", {"--password=" + c.password, "--decrypt", "--stream-data=uncompress", path, check}, &exitCode);
            return exitCode != 2 && readFile(check).contains("clear metadata");
        };
        ASSERT_TRUE(metadataReads());

        const auto open = [&] {
            auto doc = PdfDocument::openFile(path.toStdString());
            if (doc->isLocked()) {
                EXPECT_TRUE(doc->unlock(c.password.toStdString()));
            }
            return doc;
        };
        auto doc = open();
        PdfAnnotations::add(*doc, 0, square(20));
        doc->saveToFile(testsupport::chosen(path.toStdString()), collecting());

        EXPECT_TRUE(metadataReads());
        testsupport::runProgram("qpdf", {"--requires-password", path}, &exitCode);
        EXPECT_EQ(exitCode, c.requiresPassword);
        testsupport::runProgram("qpdf", {"--check", "--password=" + c.password, path}, &exitCode);
        EXPECT_EQ(exitCode, 0);
        EXPECT_EQ(countSquares(*open(), 0), 1);
    }
}

// A copy of an encrypted file opens with the passwords the file opens
// with, in ravlen and in other readers; one that would not is never
// written. Each file here has a line of junk before "%PDF", which MuPDF
// repairs its way past: it then read the encryption dictionary decrypted,
// and the copies it wrote asked for a password nobody had.
TEST(PdfSaving, ACopyOfAnEncryptedFileOpensWithItsPassword)
{
    if (QStandardPaths::findExecutable("qpdf").isEmpty() || QStandardPaths::findExecutable("pdftotext").isEmpty())
        GTEST_SKIP() << "needs qpdf and pdftotext";
    const struct {
        const char* name;
        QStringList encryption; // for qpdf --encrypt; none: the corpus file of that name
        QString password;       // the one that opens it; empty: it opens with none
        QString words;
    } cases[] = {
        {"leading-junk.pdf", {}, "", "Potato"},
        {"RC4 40-bit, an open password", {"user", "owner", "40"}, "user", "Page 1"},
        {"AES-128, an open password", {"user", "owner", "128", "--use-aes=y"}, "user", "Page 1"},
        {"AES-256, no open password", {"", "owner", "256"}, "", "Page 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("encrypted.pdf"), copy = dir.filePath("copy.pdf");
        int exitCode = -1;
        if (c.encryption.isEmpty()) {
            const QString corpus = QString::fromStdString(testsupport::qpdfCorpusPath(c.name));
            if (!QFile::exists(corpus)) continue;
            writeFile(path, readFile(corpus));
        } else {
            const QString plain = dir.filePath("plain.pdf"), encrypted = dir.filePath("made.pdf");
            writeFile(plain, testsupport::writePdf(fourPageObjects()));
            testsupport::runProgram("qpdf",
                                    QStringList{"--allow-weak-crypto", "--encrypt"} + c.encryption
                                        + QStringList{"--", plain, encrypted},
                                    &exitCode);
            ASSERT_EQ(exitCode, 0);
            writeFile(path, "leading junk\n" + readFile(encrypted));
        }
        testsupport::runProgram("qpdf", {"--requires-password", path}, &exitCode);
        const int requiresPassword = exitCode;
        ASSERT_EQ(requiresPassword, c.password.isEmpty() ? 3 : 0);

        auto doc = PdfDocument::openFile(path.toStdString());
        if (doc->isLocked()) {
            ASSERT_TRUE(doc->unlock(c.password.toStdString()));
        }
        PdfAnnotations::add(*doc, 0, square(20));
        doc->saveToFile(testsupport::chosen(copy.toStdString()), collecting());

        testsupport::runProgram("qpdf", {"--requires-password", copy}, &exitCode);
        EXPECT_EQ(exitCode, requiresPassword);
        const QString check = testsupport::runProgram("qpdf", {"--check", "--password=" + c.password, copy}, &exitCode);
        EXPECT_EQ(exitCode, 0) << check.toStdString();
        EXPECT_TRUE(testsupport::runProgram("pdftotext", {"-upw", c.password, "-l", "1", copy, "-"}).contains(c.words));
        if (!c.password.isEmpty()) {
            testsupport::runProgram("pdftotext", {"-l", "1", copy, "-"}, &exitCode);
            EXPECT_NE(exitCode, 0) << "the copy opens without its password";
        }
        auto reopened = PdfDocument::openFile(copy.toStdString());
        EXPECT_EQ(reopened->isLocked(), !c.password.isEmpty());
        if (reopened->isLocked()) {
            EXPECT_FALSE(reopened->unlock("not it"));
            ASSERT_TRUE(reopened->unlock(c.password.toStdString()));
        }
        EXPECT_EQ(countSquares(*reopened, 0), 1);
    }
}

TEST(PdfSaving, SavingKeepsModeOwnerAndGroupAndRefusesAReadOnlyFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("kept.pdf");
    writeFile(path, testsupport::writePdf(fourPageObjects()));
    const std::string native = path.toStdString();
    ASSERT_EQ(::chmod(native.c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(native.c_str(), 65534, 65534), 0);
    }
    struct stat before = {};
    ::stat(native.c_str(), &before);

    auto doc = PdfDocument::openFile(native);
    PdfAnnotations::add(*doc, 0, square(20));
    doc->saveToFile(testsupport::chosen(native));
    struct stat after = {};
    ::stat(native.c_str(), &after);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_NE(after.st_ino, before.st_ino); // replaced whole, not written in place

    // A file nobody may write stays as it is and keeps its mode.
    ASSERT_EQ(::chmod(native.c_str(), 0400), 0);
    const QByteArray kept = readFile(path);
    PdfAnnotations::add(*doc, 1, square(20));
    try {
        doc->saveToFile(testsupport::chosen(native));
        ADD_FAILURE() << "a 0400 file was written";
    } catch (const PdfError& e) {
        EXPECT_EQ(e.systemError(), EACCES);
    }
    EXPECT_EQ(readFile(path), kept);
    ::stat(native.c_str(), &after);
    EXPECT_EQ(after.st_mode & 07777, 0400u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// The child half of the next test: saves the file named in the environment,
// without the right to make files in its folder. Skipped in a normal run.
TEST(PdfSavingChild, SavesInAFolderItCannotWrite)
{
    const QByteArray target = qgetenv("RAVLEN_IN_PLACE_TARGET");
    if (target.isEmpty()) GTEST_SKIP() << "run by PdfSaving.AWritableFileInAReadOnlyFolderIsWrittenInPlace";
    if (::geteuid() == 0) {
        // Root may write anywhere: become nobody to meet the folder's rules.
        ASSERT_EQ(::setgid(65534), 0);
        ASSERT_EQ(::setuid(65534), 0);
    }
    auto doc = PdfDocument::openFile(target.toStdString());
    PdfAnnotations::add(*doc, 2, square(20));
    doc->saveToFile(testsupport::chosen(target.toStdString()));
    // The document reads on from the old bytes, now elsewhere: page 4 still renders.
    EXPECT_NE(doc->textPage(3).text().find("Page 4"), std::string::npos);
}

// A short file is held whole by the document; a long one is read as needed,
// and the document reads the copy of its old bytes while the file is written.
TEST(PdfSaving, AWritableFileInAReadOnlyFolderIsWrittenInPlace)
{
    const struct {
        const char* name;
        QByteArray original;
        int pages;
    } cases[] = {
        {"short", testsupport::writePdf(fourPageObjects()), 4},
        {"long", testsupport::makeLongTextPdf(1000, 33 << 20), 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString folder = dir.filePath("shelf");
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString path = folder + "/report.pdf";
        writeFile(path, c.original);
        const bool root = ::geteuid() == 0;
        ASSERT_EQ(::chmod(dir.path().toUtf8().constData(), 0755), 0);
        if (root) {
            ASSERT_EQ(::chown(path.toUtf8().constData(), 65534, 65534), 0);
            ASSERT_EQ(::chmod(folder.toUtf8().constData(), 0755), 0);
        } else {
            ASSERT_EQ(::chmod(folder.toUtf8().constData(), 0555), 0);
        }
        struct stat before = {};
        ::stat(path.toUtf8().constData(), &before);

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("RAVLEN_IN_PLACE_TARGET", path);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=PdfSavingChild.*"});
        ASSERT_TRUE(child.waitForFinished(60000));
        EXPECT_EQ(child.exitCode(), 0);
        ::chmod(folder.toUtf8().constData(), 0755);

        struct stat after = {};
        ::stat(path.toUtf8().constData(), &after);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
        auto saved = PdfDocument::openFile(path.toStdString());
        EXPECT_EQ(saved->pageCount(), c.pages);
        EXPECT_EQ(countSquares(*saved, 2), 1);
        EXPECT_NE(saved->textPage(c.pages - 1).text().find("Page " + std::to_string(c.pages)), std::string::npos);
    }
}

// Another program writes the open file between opening and saving. Written
// in place (same inode, new bytes), a short file read whole (by its first
// edit, or by settling on a worker) keeps the document's bytes, and the save
// writes the user's version; a long one is read as needed, and so is a short
// one before it is held whole, so every save, copy and reading of it is
// refused and the file stays as the other program left it. Replaced by a
// rename, a long file's old bytes stay where the document reads them, and it
// saves as usual.
TEST(PdfSaving, AFileRewrittenInPlaceWhileOpenIsNeverSavedFromTheNewBytes)
{
    if (QStandardPaths::findExecutable("qpdf").isEmpty() || QStandardPaths::findExecutable("pdftotext").isEmpty())
        GTEST_SKIP() << "needs qpdf and pdftotext";
    const QByteArray theirs = testsupport::makeTextPdf(2, "their words");
    const QByteArray longFile = testsupport::makeLongTextPdf(1000, 33 << 20);
    enum class First { edit, settle, nothing };
    const struct {
        const char* name;
        QByteArray original;
        First first; // what happens between opening and the other program's write
        bool inPlace;
        bool saves;
    } cases[] = {
        {"short, edited, rewritten in place", testsupport::makeTextPdf(6), First::edit, true, true},
        {"short, settled, rewritten in place", testsupport::makeTextPdf(6), First::settle, true, true},
        {"short, rewritten in place at once", testsupport::makeTextPdf(6), First::nothing, true, false},
        {"long, rewritten in place", longFile, First::edit, true, false},
        {"long, replaced by a rename", longFile, First::edit, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("doc.pdf");
        const std::string native = path.toStdString();
        writeFile(path, c.original);
        auto doc = PdfDocument::openFile(native);
        const int pages = doc->pageCount();
        if (c.first == First::edit) PdfAnnotations::add(*doc, 0, square(20));
        if (c.first == First::settle) doc->settle(0);
        struct stat before = {}, after = {};
        ::stat(native.c_str(), &before);
        if (c.inPlace) {
            writeFile(path, theirs);
        } else {
            writeFile(dir.filePath("theirs.pdf"), theirs);
            ASSERT_EQ(::rename(dir.filePath("theirs.pdf").toUtf8().constData(), native.c_str()), 0);
        }
        ::stat(native.c_str(), &after);
        ASSERT_EQ(after.st_ino == before.st_ino, c.inPlace);
        EXPECT_EQ(doc->sourceChanged(), !c.saves);
        if (c.first == First::settle) PdfAnnotations::add(*doc, 0, square(20));

        if (c.saves) {
            doc->saveToFile(testsupport::chosen(native));
            int exitCode = -1;
            const QString check = testsupport::runProgram("qpdf", {"--check", path}, &exitCode);
            EXPECT_EQ(exitCode, 0) << check.toStdString();
            const QString text = testsupport::runProgram("pdftotext", {path, "-"});
            EXPECT_TRUE(text.contains("Page 1") && text.contains(QString("Page %1").arg(pages)));
            EXPECT_FALSE(text.contains("their words"));
            EXPECT_EQ(countSquares(*PdfDocument::openFile(native), 0), 1);
            continue;
        }
        const auto refused = [&](const std::function<void()>& save) {
            try {
                save();
                ADD_FAILURE() << "saved from a file another program rewrote";
            } catch (const PdfError& e) {
                EXPECT_EQ(e.code(), PdfErrorCode::sourceChanged) << e.what();
            }
        };
        refused([&] { doc->saveToFile(testsupport::chosen(native)); });
        refused([&] { doc->saveToFile(testsupport::chosen(dir.filePath("elsewhere.pdf").toStdString())); });
        refused([&] { doc->save(); });
        refused([&] { doc->copy(); });
        EXPECT_EQ(readFile(path), theirs);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"doc.pdf"});
        // Nor does a reader of the document's pages open over their bytes.
        EXPECT_FALSE(platform::PdfTextReader::open(*doc));
    }
}

TEST(PdfSaving, OpeningTellsAMissingFileAFolderAndAnUnreadableFileApart)
{
    QTemporaryDir dir;
    auto codeOf = [](const QString& path) {
        try {
            PdfDocument::openFile(path.toStdString());
        } catch (const PdfError& e) {
            return e.code();
        }
        return PdfErrorCode::general;
    };
    EXPECT_EQ(codeOf(dir.filePath("missing.pdf")), PdfErrorCode::missingFile);
    EXPECT_EQ(codeOf(dir.filePath("missing/inside.pdf")), PdfErrorCode::missingFile);
    EXPECT_EQ(codeOf(dir.path()), PdfErrorCode::folder);
    writeFile(dir.filePath("text.pdf"), "Dear reader,\nthis is not a PDF.\n");
    EXPECT_EQ(codeOf(dir.filePath("text.pdf")), PdfErrorCode::damaged);
    // A name that is not UTF-8 is bytes like any other.
    const std::string latin1 = dir.filePath("caf").toStdString() + "\xe9.pdf";
    {
        const QByteArray bytes = testsupport::makeTextPdf(1);
        FILE* f = std::fopen(latin1.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
        std::fclose(f);
    }
    EXPECT_EQ(PdfDocument::openFile(latin1)->pageCount(), 1);
    ::unlink(latin1.c_str()); // QDir cannot name it to remove it
}

TEST(PdfSaving, APdfWithoutPagesOpensAndIsWrittenOnlyAsACopyForReading)
{
    // It opens, and its bytes copy (for reading elsewhere); but no file is
    // written without pages, which poppler does not open: a file that held
    // none says so, one whose pages are lost to damage says that.
    const auto qpdfSuite = [](const char* name) {
        return readFile(QString::fromStdString(testsupport::qpdfCorpusPath(name)));
    };
    const QByteArray emptyTree =
        testsupport::writePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"});
    const struct {
        const char* what;
        QByteArray bytes;
        PdfErrorCode refused;
    } cases[] = {
        {"an empty tree", emptyTree, PdfErrorCode::noPages},
        // Over the file too, no page is what is refused, not the repair:
        // Save As would be refused likewise.
        {"an empty tree in a file that lost its table", emptyTree.left(emptyTree.lastIndexOf("xref")),
         PdfErrorCode::noPages},
        {"the library's empty.pdf", qpdfSuite("empty.pdf"), PdfErrorCode::noPages},
        {"the library's c-empty.pdf", qpdfSuite("c-empty.pdf"), PdfErrorCode::noPages},
        {"the library's filter-on-write.pdf", qpdfSuite("filter-on-write.pdf"), PdfErrorCode::noPages},
        {"a tree that claims five pages and holds none",
         testsupport::writePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 5 >>"}),
         PdfErrorCode::unreadablePages},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.bytes.isEmpty()) continue; // a file of the library's suite that is not here
        QTemporaryDir dir;
        const QString path = writeFile(dir, "empty.pdf", c.bytes);
        auto empty = PdfDocument::openFile(path.toStdString());
        EXPECT_EQ(empty->pageCount(), 0);
        EXPECT_EQ(PdfDocument::openBytes(empty->save())->pageCount(), 0);
        for (const QString& target : {path, dir.filePath("copy.pdf")}) {
            try {
                empty->saveToFile(testsupport::chosen(target.toStdString()), collecting());
                ADD_FAILURE() << "a file without pages was written";
            } catch (const PdfError& error) {
                EXPECT_EQ(error.code(), c.refused) << error.what();
            }
        }
        EXPECT_EQ(readFile(path), c.bytes);
        EXPECT_FALSE(QFile::exists(dir.filePath("copy.pdf")));
    }
}

TEST(PdfSaving, SavingThroughALinkWritesTheFileItLeadsTo)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("real.pdf");
    writeFile(target, testsupport::writePdf(fourPageObjects()));
    const QString link = dir.filePath("link.pdf");
    ASSERT_TRUE(QFile::link(target, link));
    auto doc = PdfDocument::openFile(link.toStdString());
    PdfAnnotations::add(*doc, 0, square(20));
    doc->saveToFile(testsupport::chosen(link.toStdString()));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(countSquares(*PdfDocument::openFile(target.toStdString()), 0), 1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
}

TEST(PdfSaving, ANewObjectNeverTakesANumberTheFileRefersTo)
{
    // The font's /ToUnicode names object 12, which the file (cut short, say)
    // does not hold: the next number MuPDF would hand out.
    std::vector<std::string> objects = fourPageObjects();
    objects[2] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 12 0 R >>";
    QTemporaryDir dir;
    const QString path = dir.filePath("dangling.pdf");
    writeFile(path, testsupport::writePdf(objects));

    auto doc = PdfDocument::openFile(path.toStdString());
    PdfAnnotation note;
    note.subtype = "Text";
    note.rect = {20, 20, 24, 24};
    note.contents = "Meet at noon by the north gate";
    const int num = PdfAnnotations::add(*doc, 0, note);
    EXPECT_NE(num, 12);
    doc->saveToFile(testsupport::chosen(path.toStdString()), collecting());
    EXPECT_TRUE(readFile(path).contains("north gate"));

    // Deleted, the note leaves the file: nothing else refers to it.
    ASSERT_TRUE(PdfAnnotations::remove(*doc, 0, num));
    doc->saveToFile(testsupport::chosen(path.toStdString()), collecting());
    EXPECT_FALSE(readFile(path).contains("north gate"));
    EXPECT_NE(PdfDocument::openFile(path.toStdString())->textPage(0).text().find("Page 1"), std::string::npos);
}

namespace {

// Saves `pdf` with a mark over itself three times, the last opened again,
// exporting before each: every copy is at most 1.3 times the file and 16 KB
// (where `bounded`), clean for qpdf, reads and draws page `shown` for poppler
// as the file, holds its marks, and passes `form`.
void savesNearItsSize(const QTemporaryDir& dir, const QByteArray& pdf, int shown, bool bounded,
                      const std::function<void(const QByteArray&)>& form)
{
    const QString path = writeFile(dir, "file.pdf", pdf), exported = dir.filePath("exported.pdf");
    const QString words = testsupport::runProgram("pdftotext", {path, "-"});
    const QImage page = testsupport::popplerPage(path, shown);
    auto doc = PdfDocument::openFile(path.toStdString());
    for (int marks = 1; marks <= 3; ++marks) {
        if (marks == 3) doc = PdfDocument::openFile(path.toStdString());
        PdfAnnotations::add(*doc, 0, square(20.0 * marks));
        writeFile(exported, doc->save(collecting()));
        doc->saveToFile(testsupport::chosen(path.toStdString()), collecting());
        for (const QString& copy : {exported, path}) {
            const QByteArray bytes = readFile(copy);
            form(bytes);
            EXPECT_TRUE(!bounded || bytes.size() <= 1.3 * pdf.size() + 16 * 1024) << bytes.size();
            int exitCode = -1;
            const QString check = testsupport::runProgram("qpdf", {"--check", copy}, &exitCode);
            EXPECT_EQ(exitCode, 0) << check.toStdString();
            EXPECT_EQ(testsupport::runProgram("pdftotext", {copy, "-"}), words);
            EXPECT_EQ(testsupport::meanDifference(testsupport::popplerPage(copy, shown), page), 0);
            EXPECT_EQ(countSquares(*PdfDocument::openFile(copy.toStdString()), 0), marks);
        }
    }
}

} // namespace

TEST(PdfSaving, AFileWhoseNumbersRunHighIsSavedAtTheSizeOfWhatItHolds)
{
    // A few objects numbered up to 156,343, whose table of every number alone
    // would take 3 MB: each one-mark save over the file, twice on one open
    // document, and each export is at most 1.3 times the file and 16 KB,
    // clean for qpdf, and every word and unmarked page of it reads and draws
    // for poppler as the file's. A file whose numbers are in use keeps its table.
    std::vector<std::string> objects = fourPageObjects();
    const std::string xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><!-- clear metadata --></x:xmpmeta>";
    objects[0] = "<< /Type /Catalog /Pages 2 0 R /Metadata 12 0 R >>";
    objects.push_back("<< /Type /Metadata /Subtype /XML /Length " + std::to_string(xmp.size()) + " >>\nstream\n" + xmp
                      + "\nendstream");
    QTemporaryDir dir;
    const QString plain = writeFile(dir, "plain.pdf", testsupport::writePdf(objects));
    const auto byQpdf = [&](const QString& name, const QStringList& how) {
        testsupport::runProgram("qpdf", how + QStringList{plain, dir.filePath(name)});
        return readFile(dir.filePath(name));
    };
    const struct {
        const char* name;
        QByteArray pdf;
        bool numbersRunHigh;
    } cases[] = {
        {"numbers running high", testsupport::withTableUpdate(readFile(plain), 156343), true},
        {"objects in streams by qpdf",
         testsupport::withTableUpdate(byQpdf("streams.pdf", {"--object-streams=generate"}), 156343), true},
        {"AES-256, metadata in the clear",
         testsupport::withTableUpdate(
             byQpdf("aes.pdf", {"--encrypt", "", "owner", "256", "--cleartext-metadata", "--"}), 156343),
         true},
        {"numbers in use", readFile(plain), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.pdf.isEmpty());
        savesNearItsSize(dir, c.pdf, 1, true,
                         [&](const QByteArray& bytes) { EXPECT_EQ(bytes.contains("/XRef"), c.numbersRunHigh); });
    }
}

TEST(PdfSaving, AFileThatKeepsItsObjectsInObjectStreamsIsSavedSo)
{
    // Small objects packed into object streams (2,000 links by qpdf, a
    // pdfTeX file) stay packed: each one-mark save over the file, twice on
    // one open document and once more opened again, and each export is at
    // most 1.3 times the file and 16 KB, clean for qpdf, and reads and draws
    // for poppler as the file. An encrypted file (each object's strings are
    // encrypted under its number) and a file of none keep them out.
    std::vector<std::string> objects = fourPageObjects();
    std::string links;
    for (int i = 0; i < 2000; ++i) {
        links += std::to_string(12 + i) + " 0 R ";
        objects.push_back("<< /Type /Annot /Subtype /Link /Rect [" + std::to_string(i % 280) + " 10 "
                          + std::to_string(i % 280 + 10) + " 20] /Border [0 0 0] /Dest [4 0 R /XYZ 0 "
                          + std::to_string(i % 300) + " 0] >>");
    }
    objects[4] = pageObject(9, " /Annots [" + links + "]");
    QTemporaryDir dir;
    const QString plain = writeFile(dir, "plain.pdf", testsupport::writePdf(objects));
    const auto byQpdf = [&](const QString& name, const QStringList& how) {
        testsupport::runProgram("qpdf", how + QStringList{plain, dir.filePath(name)});
        return readFile(dir.filePath(name));
    };
    const struct {
        const char* name;
        QByteArray pdf;
        bool packed;
    } cases[] = {
        {"links by qpdf", byQpdf("streams.pdf", {"--object-streams=generate"}), true},
        {"pdfTeX", readFile(QString::fromStdString(testsupport::corpusPath("pdflatex-outline.pdf"))), true},
        {"AES-256", byQpdf("aes.pdf", {"--object-streams=generate", "--encrypt", "", "owner", "256", "--"}), false},
        {"links in a table", readFile(plain), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.pdf.contains("/ObjStm"), c.packed || c.pdf.contains("/Encrypt"));
        savesNearItsSize(dir, c.pdf, 2, c.packed,
                         [&](const QByteArray& bytes) { EXPECT_EQ(bytes.contains("/ObjStm"), c.packed); });
    }
}

// A write that changes the document past putting it back, or whose check
// of the document cannot run (memory), is refused for its cause, and the
// document is read again as it was (marks too, whose undo finds them); it
// may show less, goes over no file it came from, and another file takes it.
TEST(PdfSaving, AWriteThatChangesTheDocumentPastPuttingBackLeavesItAsItWas)
{
    struct Case {
        const char* name;
        bool repaired, fromBytes, stateUnread;
        PdfErrorCode refusal;
    };
    for (const Case& each : {Case{"sound", false, false, false, PdfErrorCode::changedByWrite},
                             Case{"repaired", true, false, false, PdfErrorCode::changedByWrite},
                             Case{"bytes", false, true, false, PdfErrorCode::changedByWrite},
                             Case{"unchecked", true, false, true, PdfErrorCode::unverifiedCopy}}) {
        SCOPED_TRACE(each.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("doc.pdf");
        QByteArray bytes = testsupport::writePdf(fourPageObjects());
        if (each.repaired) bytes = shiftXrefEntry(bytes, 11, 7);
        writeFile(path, bytes);
        auto doc = each.fromBytes ? PdfDocument::openBytes(bytes) : PdfDocument::openFile(path.toStdString());
        const int first = PdfAnnotations::add(*doc, 0, square(20));
        const std::uint64_t before = platform::documentDigest(*doc);

        (each.stateUnread ? platform::writeGuardSeams().failingStateReads
                          : platform::writeGuardSeams().unrestorableWrites) = 1;
        try {
            (void)doc->save(collecting());
            ADD_FAILURE() << "a write that changed the document was handed on";
        } catch (const PdfError& error) {
            EXPECT_EQ(error.code(), each.refusal) << error.what();
        }
        EXPECT_EQ(platform::writeGuardSeams().unrestorableWrites + platform::writeGuardSeams().failingStateReads, 0);
        EXPECT_EQ(platform::documentDigest(*doc), before);
        EXPECT_TRUE(doc->copyShowsLess() && doc->newCopyShowsLess());

        // Edits go on, and undo finds the mark made before the write.
        ASSERT_TRUE(PdfAnnotations::remove(*doc, 0, first));
        PdfAnnotations::add(*doc, 1, square(40));
        ASSERT_TRUE(PdfAnnotations::insert(*doc, 0, first, 0));
        if (!each.fromBytes) {
            try {
                doc->saveToFile(testsupport::chosen(path.toStdString()), collecting());
                ADD_FAILURE() << "the file was written over";
            } catch (const PdfError& error) {
                EXPECT_EQ(error.code(), PdfErrorCode::changedByWrite);
            }
            EXPECT_EQ(readFile(path), bytes);
        }
        const QString copy = dir.filePath("copy.pdf");
        doc->saveToFile(testsupport::chosen(copy.toStdString()), collecting());
        EXPECT_FALSE(doc->save(collecting()).isEmpty()); // an export
        EXPECT_FALSE(readFile(copy).contains("ChangedByWrite"));
        auto reopened = PdfDocument::openFile(copy.toStdString());
        ASSERT_EQ(reopened->pageCount(), 4);
        EXPECT_EQ(countSquares(*reopened, 0) + countSquares(*reopened, 1), 2);
        EXPECT_TRUE(testsupport::runProgram("pdftotext", {copy, "-"}).contains("Page 4"));
    }
}
