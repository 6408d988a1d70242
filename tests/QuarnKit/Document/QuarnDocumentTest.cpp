#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Document/DocumentMetadata.h"
#include "QuarnKit/Export/ExportJob.h"
#include "QuarnKit/Export/PagePipeline.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkEdits.h"
#include "QuarnKit/Pages/PageEdits.h"
#include "QuarnKit/Viewer/PrintLayout.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

using quarnkit::DocumentError;
using quarnkit::QuarnDocument;
using testsupport::writeFile;

namespace {

DocumentError::Code openError(const QString& path)
{
    try {
        QuarnDocument::open(path);
    } catch (const DocumentError& error) {
        return error.code();
    }
    ADD_FAILURE() << "opened " << path.toStdString();
    return DocumentError::Code::fileWriteUnknown;
}

} // namespace

TEST(QuarnDocument, NewDocumentIsOneWhiteLetterPage)
{
    QuarnDocument document;
    ASSERT_EQ(document.pageCount(), 1);
    const auto geometry = pdfOf(document)->pageGeometry(0);
    EXPECT_DOUBLE_EQ(geometry.mediaBox.width, 612);
    EXPECT_DOUBLE_EQ(geometry.mediaBox.height, 792);
    EXPECT_EQ(document.generation(), 0);
    EXPECT_FALSE(document.editedPage().has_value());

    const QImage image = pdfOf(document)->render(0, 0.25);
    ASSERT_FALSE(image.isNull());
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            ASSERT_EQ(image.pixelColor(x, y).rgb() & 0xffffff, 0xffffffu) << x << "," << y;
}

TEST(QuarnDocument, NoteEditRecordsPageBeforeRaisingGeneration)
{
    QuarnDocument document(platform::PdfDocument::openBytes(testsupport::makeTextPdf(4)));
    std::optional<int> seenPage = -1;
    QObject::connect(&document, &QuarnDocument::generationChanged, [&] { seenPage = document.editedPageIndex(); });
    int emitted = 0;
    qint64 lastSignalled = -1;
    QObject::connect(&document, &QuarnDocument::generationChanged, [&](qint64 g) {
        ++emitted;
        lastSignalled = g;
    });

    document.noteEditOfPage(3);
    EXPECT_EQ(seenPage, std::optional<int>(3));
    EXPECT_EQ(document.editedPage(), document.pageId(3));
    document.noteEdit(std::nullopt);
    EXPECT_EQ(document.generation(), 2);
    EXPECT_FALSE(document.editedPage().has_value());
    EXPECT_FALSE(seenPage.has_value());
    document.noteEditOfPage(1);
    document.noteEditOfPage(1);
    EXPECT_EQ(document.generation(), 4);
    EXPECT_EQ(emitted, 4);
    EXPECT_EQ(lastSignalled, 4);
}

TEST(QuarnDocument, BadInputGivesTheReadError)
{
    QTemporaryDir dir;
    const QString empty = dir.filePath("empty.pdf");
    const QString text = dir.filePath("text.pdf");
    const QString garbage = dir.filePath("garbage.pdf");
    const QString truncated = dir.filePath("truncated.pdf");
    writeFile(empty, {});
    writeFile(text, "Dear reader,\nthis is not a PDF at all.\n");
    QByteArray noise(4096, '\0');
    for (char& c : noise) c = char(QRandomGenerator::global()->bounded(256));
    writeFile(garbage, "%PDF-1.7\n" + noise);
    writeFile(truncated, testsupport::makeTextPdf(3).left(40));

    EXPECT_EQ(openError(empty), DocumentError::Code::fileReadCorruptFile);
    EXPECT_EQ(openError(text), DocumentError::Code::fileReadCorruptFile);
    EXPECT_EQ(openError(garbage), DocumentError::Code::fileReadCorruptFile);
    EXPECT_EQ(openError(truncated), DocumentError::Code::fileReadCorruptFile);
    // Each cause has its own sentence: a folder, a missing file and a file
    // that may not be read are not "in the wrong format".
    EXPECT_EQ(openError(dir.path()), DocumentError::Code::fileReadIsFolder);
    EXPECT_EQ(openError(dir.filePath("missing.pdf")), DocumentError::Code::fileReadNoSuchFile);
    const QString locked = dir.filePath("locked.pdf");
    writeFile(locked, testsupport::makeTextPdf(1));
    QFile::setPermissions(locked, QFileDevice::WriteOwner);
    if (::geteuid() != 0) {
        EXPECT_EQ(openError(locked), DocumentError::Code::fileReadNoPermission);
    }
    EXPECT_THROW(QuarnDocument::fromData({}), DocumentError);
}

TEST(QuarnDocument, PasswordProtectedFileOpensLockedAndUnlocks)
{
    const QString path = QString::fromStdString(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    // Tried at once, and on a worker as the window tries it.
    for (const bool later : {false, true}) {
        SCOPED_TRACE(later ? "later" : "now");
        auto document = QuarnDocument::open(path);
        const auto tryPassword = [&](const char* password) {
            if (!later) return document->unlock(password);
            std::optional<bool> answer;
            document->unlockLater(password, [&](bool opened) { answer = opened; });
            // The right one opens the PDF on the worker before the answer
            // comes: the document stays locked until then.
            const QDeadlineTimer deadline(30000);
            if (std::string(password) == "openpassword")
                while (pdfOf(*document)->isLocked() && !deadline.hasExpired()) QThread::msleep(1);
            EXPECT_TRUE(document->isLocked());
            EXPECT_TRUE(testsupport::waitFor([&] { return answer.has_value(); }));
            return answer.value_or(false);
        };
        EXPECT_TRUE(document->isLocked());
        EXPECT_FALSE(document->firstPageReadable());
        EXPECT_FALSE(tryPassword("wrong"));
        EXPECT_TRUE(document->isLocked());
        EXPECT_EQ(document->generation(), 0);
        EXPECT_FALSE(document->unlockPassword().has_value());
        EXPECT_TRUE(tryPassword("openpassword"));
        EXPECT_FALSE(document->isLocked());
        EXPECT_TRUE(document->firstPageReadable());
        EXPECT_EQ(document->unlockPassword(), QStringLiteral("openpassword"));
        // Views learn that the pages are there, as after an edit of the whole document.
        EXPECT_EQ(document->generation(), 1);
        EXPECT_FALSE(document->editedPage().has_value());
    }

    // A document gone before its answer: the answer is dropped, the PDF freed.
    auto closed = QuarnDocument::open(path);
    const std::weak_ptr<platform::PdfDocument> gone = pdfOf(*closed);
    testsupport::WorkerGate worker;
    bool answered = false;
    closed->unlockLater(
        "openpassword", [&](bool) { answered = true; }, worker.hook());
    ASSERT_TRUE(worker.waitUntilReached());
    closed.reset();
    EXPECT_FALSE(gone.expired()); // the worker still holds it
    worker.release();
    EXPECT_TRUE(testsupport::waitFor([&] { return gone.expired(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(answered);
}

TEST(QuarnDocument, SnapshotKeepsEncryption)
{
    auto document =
        QuarnDocument::open(QString::fromStdString(testsupport::corpusPath("libreoffice-writer-password.pdf")));
    ASSERT_TRUE(document->unlock("openpassword"));
    const int pages = document->pageCount();
    auto reopened = QuarnDocument::fromData(document->snapshot());
    EXPECT_TRUE(reopened->isLocked());
    ASSERT_TRUE(reopened->unlock("openpassword"));
    EXPECT_EQ(reopened->pageCount(), pages);
}

TEST(QuarnDocument, SnapshotsOfASignedFileAreWholeAndKeepTheSignatureValid)
{
    if (QStandardPaths::findExecutable("openssl").isEmpty() || QStandardPaths::findExecutable("pdfsig").isEmpty())
        GTEST_SKIP() << "needs openssl and pdfsig";
    QTemporaryDir dir;
    const QByteArray signedPdf = testsupport::makeSignedPdf(dir.path());
    ASSERT_FALSE(signedPdf.isEmpty());
    auto document = QuarnDocument::open(writeFile(dir, "signed.pdf", signedPdf));
    // What Share, Export and Print hand on: before a change, after a mark, after another.
    for (int marks = 0; marks < 3; ++marks) {
        SCOPED_TRACE(marks);
        if (marks > 0) {
            const auto mark = quarnkit::AnnotationFactory::rectangle({40.0 * marks, 40}, {40.0 * marks + 30, 70},
                                                                     quarnkit::RGBA{1, 0, 0, 1}, 2, false);
            ASSERT_TRUE(quarnkit::MarkEdits::add(*document, *document->pageId(0), *mark, "Rectangle"));
        }
        const QByteArray snapshot = document->snapshot();
        const QString path = writeFile(dir, "snapshot.pdf", snapshot);
        EXPECT_TRUE(snapshot.startsWith(signedPdf)) << "the signed bytes stay as they were";
        EXPECT_TRUE(testsupport::signaturesValid(path));
        int exitCode = -1;
        testsupport::runProgram("qpdf", {"--check", path}, &exitCode);
        EXPECT_EQ(exitCode, 0);
        EXPECT_EQ(quarnkit::MarkEdits::marks(*QuarnDocument::open(path), 0).size(), size_t(marks));
    }
}

namespace {

// Files whose next save a copy of the open document must leave as it would
// be, each made when its test runs.
struct CopiedFile {
    const char* what;
    std::function<QByteArray()> bytes;
    bool aes;
};

QByteArray qpdfSuite(const char* name)
{
    return testsupport::readFile(QString::fromStdString(testsupport::qpdfCorpusPath(name)));
}

// The signed file encrypted by another program, as users get it.
QByteArray signedEncrypted(const QStringList& how)
{
    QTemporaryDir dir;
    const QString from = writeFile(dir, "signed.pdf", qpdfSuite("digitally-signed.pdf")), to = dir.filePath("to.pdf");
    testsupport::runProgram("qpdf", QStringList{"--allow-weak-crypto"} + how + QStringList{from, to});
    return testsupport::readFile(to);
}

const CopiedFile copiedFiles[] = {
    {"signed, ending in a cross-reference stream", [] { return qpdfSuite("digitally-signed.pdf"); }, false},
    {"signed, a table appended after a cross-reference stream",
     [] { return testsupport::withTableUpdate(qpdfSuite("digitally-signed.pdf")); }, false},
    {"signed, AES-256 by qpdf, objects in streams",
     [] {
         return signedEncrypted({"--object-streams=generate", "--encrypt", "", "owner", "256", "--"});
     },
     true},
    {"signed, RC4 by qpdf",
     [] {
         return signedEncrypted({"--encrypt", "", "owner", "128", "--use-aes=n", "--"});
     },
     false},
    {"a signed form, AES-128", [] { return qpdfSuite("minimal-signed-restricted.pdf"); }, true},
    // Stored as older producers store them, which MuPDF's writer edits in place.
    {"content and image stored [/ASCIIHexDecode /FlateDecode]",
     [] { return testsupport::hexCodedPdf("Hex coded", "[/ASCIIHexDecode /FlateDecode]"); }, false},
    {"an image stored [/ASCIIHexDecode /DCTDecode]",
     [] { return testsupport::hexCodedPdf("Hex coded", "[/ASCIIHexDecode /DCTDecode]"); }, false},
    // Written with a cross-reference stream in place of the table.
    {"numbers running to 156,343, objects in streams",
     [] {
         return testsupport::withTableUpdate(
             testsupport::readFile(QString::fromStdString(testsupport::corpusPath("multicolumn.pdf"))), 156343);
     },
     false},
    // Each save draws the fields it can, once.
    {"a form asking readers to draw its fields", [] { return qpdfSuite("field-types.pdf"); }, false},
};

class EveryCopyOfTheOpenDocument : public ::testing::TestWithParam<CopiedFile> {};

} // namespace

TEST_P(EveryCopyOfTheOpenDocument, LeavesItsNextSaveAsItWouldBe)
{
    // Share, an export, Print to a file, Extract Pages and an image export's
    // workers each write the open document into memory first, and leave it
    // as it was. Signed files encrypted by another program, a signed form,
    // and files stored with hex filters: the save after any of them writes
    // what it writes without it, which poppler reads whole.
    QTemporaryDir dir;
    const QString written = dir.filePath("written.pdf");
    const struct {
        const char* what;
        std::function<void(const QuarnDocument&)> write;
    } roads[] = {
        {"Share", [](const QuarnDocument& document) { EXPECT_FALSE(document.snapshot().isEmpty()); }},
        {"Export, each kind",
         [](const QuarnDocument& document) {
             for (const quarnkit::ExportFormat format : quarnkit::allExportFormats)
                 EXPECT_FALSE(quarnkit::ExportSnapshot::data(*pdfOf(document), format).isEmpty());
         }},
        {"Print to a file",
         [&](const QuarnDocument& document) {
             EXPECT_TRUE(
                 quarnkit::printingJob(document, {0}, QSizeF(612, 792), testsupport::chosen(written))().written);
         }},
        {"Extract Pages",
         [&](const QuarnDocument& document) {
             EXPECT_TRUE(quarnkit::PageEdits::extractInto(document, {0}, testsupport::chosen(written))());
         }},
        {"an image export's workers",
         [](const QuarnDocument& document) {
             int made = 0;
             quarnkit::PagePipeline::run(
                 pdfOf(document), {0, 0}, [](const platform::PdfDocument&, int) { return QByteArray("page"); }, nullptr,
                 [&](int, const QByteArray&) { ++made; }, 2);
             EXPECT_EQ(made, 2);
         }},
    };
    platform::PdfSaveOptions save;
    save.garbageCollect = true; // as the window saves
    const auto mark = [](QuarnDocument& document) {
        const auto square =
            quarnkit::AnnotationFactory::rectangle({40, 40}, {70, 70}, quarnkit::RGBA{1, 0, 0, 1}, 2, false);
        ASSERT_TRUE(quarnkit::MarkEdits::add(document, *document.pageId(0), *square, "Rectangle"));
    };
    const auto markAndSave = [&](QuarnDocument& document, const QString& to) {
        mark(document);
        pdfOf(document)->saveToFile(testsupport::chosen(to.toStdString()), save);
    };
    const CopiedFile& file = GetParam();
    const QString path = writeFile(dir, "file.pdf", file.bytes());
    const QString words = testsupport::runProgram("pdftotext", {"-q", path, "-"});
    ASSERT_FALSE(words.trimmed().isEmpty());
    const bool signedValid = testsupport::signaturesValid(path);
    const size_t marks = quarnkit::MarkEdits::marks(*QuarnDocument::open(path), 0).size();
    // Every word for poppler, clean for qpdf, the signature as valid as it was, the marks there.
    const auto readWhole = [&](const QString& pdf, size_t marksNow) {
        EXPECT_EQ(testsupport::runProgram("pdftotext", {"-q", pdf, "-"}), words);
        EXPECT_EQ(quarnkit::MarkEdits::marks(*QuarnDocument::open(pdf), 0).size(), marksNow);
        int exitCode = -1;
        const QString check = testsupport::runProgram("qpdf", {"--check", pdf}, &exitCode);
        EXPECT_EQ(exitCode, 0) << check.toStdString();
        EXPECT_EQ(testsupport::signaturesValid(pdf), signedValid);
    };
    const QString plain = dir.filePath("plain.pdf");
    markAndSave(*QuarnDocument::open(path), plain);
    // Written before the user's mark, or after it, when a signed file's
    // copy holds an update of its own.
    for (const auto& road : roads)
        for (const bool markedFirst : {false, true}) {
            SCOPED_TRACE(std::string(road.what) + (markedFirst ? ", after a mark" : ", before a mark"));
            auto document = QuarnDocument::open(path);
            if (markedFirst) mark(*document);
            const std::uint64_t digest = platform::documentDigest(*pdfOf(*document));
            road.write(*document);
            EXPECT_EQ(platform::documentDigest(*pdfOf(*document)), digest);
            const QString saved = dir.filePath("saved.pdf");
            if (markedFirst) pdfOf(*document)->saveToFile(testsupport::chosen(saved.toStdString()), save);
            else markAndSave(*document, saved);
            if (file.aes) {
                // Encrypted from random starts, the bytes differ; where they lie does not.
                EXPECT_EQ(testsupport::withoutSaveIdentity(testsupport::readFile(saved)).size(),
                          testsupport::withoutSaveIdentity(testsupport::readFile(plain)).size());
                const QByteArray objects = testsupport::decryptedObjects(saved);
                EXPECT_FALSE(objects.isEmpty());
                EXPECT_TRUE(objects == testsupport::decryptedObjects(plain));
            } else {
                EXPECT_TRUE(testsupport::withoutSaveIdentity(testsupport::readFile(saved))
                            == testsupport::withoutSaveIdentity(testsupport::readFile(plain)));
            }
            readWhole(saved, marks + 1);
        }
    // The copy Share hands on after a mark, opened by its reader, who
    // adds a mark and saves: a signed copy's save is an update of its own
    // bytes, which every reader reads whole, the signature valid.
    auto document = QuarnDocument::open(path);
    mark(*document);
    const QByteArray shared = document->snapshot();
    const QString copy = writeFile(dir, "shared.pdf", shared);
    EXPECT_EQ(testsupport::signaturesValid(copy), signedValid);
    auto reader = QuarnDocument::open(copy);
    markAndSave(*reader, copy);
    EXPECT_EQ(testsupport::readFile(copy).startsWith(shared), pdfOf(*reader)->isSigned());
    readWhole(copy, marks + 2);
}

INSTANTIATE_TEST_SUITE_P(QuarnDocument, EveryCopyOfTheOpenDocument, ::testing::ValuesIn(copiedFiles),
                         [](const auto& info) { return testsupport::testName(info.param.what); });

TEST(QuarnDocument, SnapshotOfALockedDocumentIsTheWriteError)
{
    auto document =
        QuarnDocument::open(QString::fromStdString(testsupport::corpusPath("libreoffice-writer-password.pdf")));
    try {
        document->snapshot();
        FAIL() << "a locked document gave bytes";
    } catch (const DocumentError& error) {
        EXPECT_EQ(error.code(), DocumentError::Code::fileWriteUnknown);
    }
}

TEST(QuarnDocument, WriteToReplacesTheFileWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("doc.pdf");
    ASSERT_TRUE(QFile::copy(QString::fromStdString(testsupport::corpusPath("pdflatex-4-pages.pdf")), path));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    auto document = QuarnDocument::open(path);
    pdfOf(*document)->setInfoString("Title", "Saved title");
    document->noteEdit(std::nullopt);
    document->writeTo(testsupport::chosen(path));

    auto reopened = QuarnDocument::open(path);
    EXPECT_EQ(reopened->pageCount(), 4);
    EXPECT_EQ(pdfOf(*reopened)->infoString("Title"), std::optional<std::string>("Saved title"));
    // Nothing is left beside the file.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(QuarnDocument, ASaveDatesTheFileAndKeepsItsXmpInStep)
{
    const struct {
        const char* file;
        const char* xmpKey; // the packet's modification date, when the file keeps one
    } cases[] = {
        {"pdflatex-4-pages.pdf", nullptr},
        {"crazyones-pdfa.pdf", "xmp:ModifyDate"},
        {"mistitled_outlines_example.pdf", "xap:ModifyDate"}, // XMP's older prefix
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        QTemporaryDir dir;
        const QString path = dir.filePath("doc.pdf");
        ASSERT_TRUE(QFile::copy(QString::fromStdString(testsupport::corpusPath(c.file)), path));
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        auto document = QuarnDocument::open(path);
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        document->writeTo(testsupport::chosen(path));
        // Document Info shows the save at once, and after reopening.
        const std::optional<QDateTime> shown = quarnkit::DocumentInfo(*pdfOf(*document)).modified;
        ASSERT_TRUE(shown);
        EXPECT_GE(*shown, before);
        EXPECT_LE(*shown, QDateTime::currentDateTime().addSecs(1));
        EXPECT_EQ(quarnkit::DocumentInfo(*pdfOf(*QuarnDocument::open(path))).modified, shown);
        EXPECT_TRUE(QProcess::execute("qpdf", {"--check", path}) == 0);

        QProcess pdfinfo;
        pdfinfo.start("pdfinfo", {"-meta", path});
        pdfinfo.waitForFinished();
        const QString xmp = QString::fromUtf8(pdfinfo.readAllStandardOutput());
        if (!c.xmpKey) {
            EXPECT_FALSE(xmp.contains("ModifyDate"));
            continue;
        }
        const QRegularExpression value(QStringLiteral("<%1>([^<]*)</%1>").arg(c.xmpKey));
        const QRegularExpressionMatch match = value.match(xmp);
        ASSERT_TRUE(match.hasMatch()) << xmp.toStdString();
        EXPECT_EQ(QDateTime::fromString(match.captured(1), Qt::ISODate), *shown) << match.captured(1).toStdString();
    }

    // A packet that keeps the date as an attribute, and one without XMP's namespace.
    const QDateTime date(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
    EXPECT_EQ(
        quarnkit::ModificationStamp::xmpWithDate(
            R"(<rdf:Description xmlns:xmp="http://ns.adobe.com/xap/1.0/" xmp:MetadataDate='2001-01-01' xmp:ModifyDate="2001-01-01"/>)",
            date),
        R"(<rdf:Description xmlns:xmp="http://ns.adobe.com/xap/1.0/" xmp:MetadataDate="2026-03-04T05:06:07Z" xmp:ModifyDate="2026-03-04T05:06:07Z"/>)");
    const QByteArray other = R"(<x xmlns:q="urn:other"><q:ModifyDate>2001</q:ModifyDate></x>)";
    EXPECT_EQ(quarnkit::ModificationStamp::xmpWithDate(other, date), other);
}

TEST(QuarnDocument, FailedWriteLeavesTheFileAlone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("doc.pdf");
    const QByteArray original = testsupport::makeTextPdf(2);
    writeFile(path, original);

    // A locked document has no bytes to give: the write fails before the file is touched.
    auto locked =
        QuarnDocument::open(QString::fromStdString(testsupport::corpusPath("libreoffice-writer-password.pdf")));
    EXPECT_THROW(locked->writeTo(testsupport::chosen(path)), DocumentError);
    // A target in a folder that does not exist cannot be written either.
    QuarnDocument blank;
    pdfOf(blank)->setInfoString("ModDate", "D:20010101000000Z");
    EXPECT_THROW(quarnkit::chooseFile(dir.filePath("no/such/folder/doc.pdf"), {}), DocumentError);
    EXPECT_EQ(pdfOf(blank)->infoString("ModDate"), "D:20010101000000Z"); // the failed save is not dated

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), original);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// The child half of the kill test below: saves a large document over the
// target again and again until it is killed. Skipped in a normal run.
TEST(QuarnDocumentSaveChild, SavesUntilKilled)
{
    const QByteArray target = qgetenv("RAVLEN_SAVE_LOOP_TARGET");
    if (target.isEmpty()) GTEST_SKIP() << "run by QuarnDocument.KilledSaveLeavesTheOriginalIntact";
    auto document =
        QuarnDocument::fromData(testsupport::makeTextPdf(6000, "a longer line so that every page weighs more"));
    QFile ready(QString::fromLocal8Bit(target) + ".ready");
    for (int round = 0;; ++round) {
        document->writeTo(testsupport::chosen(QString::fromLocal8Bit(target)));
        if (round == 0) {
            ready.open(QIODevice::WriteOnly);
            ready.close();
        }
    }
}

TEST(QuarnDocument, KilledSaveLeavesTheOriginalIntact)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("original.pdf");
    writeFile(path, testsupport::makeTextPdf(4));

    for (int run = 0; run < 6; ++run) {
        QFile::remove(path + ".ready");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("RAVLEN_SAVE_LOOP_TARGET", path);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=QuarnDocumentSaveChild.*"});
        ASSERT_TRUE(child.waitForStarted());
        // Kill at a different moment of a save each time: first before any
        // save finished, then at random points after the first.
        // The times are the point: where in a save the kill lands.
        if (run > 0) {
            testsupport::waitFor(
                [&] { return QFileInfo::exists(path + ".ready") || child.state() != QProcess::Running; });
            QThread::msleep(QRandomGenerator::global()->bounded(120));
        } else {
            QThread::msleep(30);
        }
        ASSERT_EQ(child.state(), QProcess::Running) << "the saving child ended by itself";
        child.kill(); // SIGKILL: no clean-up runs
        child.waitForFinished();

        auto reopened = QuarnDocument::open(path);
        const int pages = reopened->pageCount();
        EXPECT_TRUE(pages == 4 || pages == 6000) << "run " << run << ": " << pages << " pages";
        EXPECT_TRUE(reopened->firstPageReadable());
    }
}

TEST(QuarnDocument, TheRestOfAnOpenedFileIsReadOnAWorkerWhileItIsOpen)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("long.pdf");
    writeFile(path, testsupport::makeTextPdf(40));

    // Read in full a moment after it shows, while the window keeps it.
    const auto kept = QuarnDocument::open(path);
    ASSERT_FALSE(pdfOf(*kept)->settle(0));
    quarnkit::settleInBackground(pdfOf(*kept));
    EXPECT_TRUE(testsupport::waitFor([&] { return pdfOf(*kept)->settle(0); }));

    // A window closed at once: the worker lets the document go.
    auto closed = QuarnDocument::open(path);
    const std::weak_ptr<platform::PdfDocument> gone = pdfOf(*closed);
    quarnkit::settleInBackground(pdfOf(*closed));
    closed.reset();
    EXPECT_TRUE(gone.expired());
    EXPECT_TRUE(testsupport::waitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; }));
}
