// A save writes what the file held as the file held it: marks nobody edited,
// inherited page attributes, objects MuPDF cannot parse, long names. Each
// case is a file written here, saved, and read back by poppler.
#include "Platform/PdfAnnotations.h"
#include "Platform/PdfDocument.h"
#include "Platform/PdfPageEditing.h"
#include "Platform/PdfReadBack.h"
#include "support/OtherUsers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstring>
#include <functional>
#include <future>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::PdfDocument;
using platform::PdfError;
using platform::PdfErrorCode;
namespace PdfAnnotations = platform::PdfAnnotations;

namespace {

using testsupport::objectStreamPdf;
using testsupport::pdfStream;
using testsupport::textPageObjects;

// Poppler's drawing of page 1 at 72 dpi, in gray.
QImage popplerPage(const QString& path)
{
    QTemporaryDir dir;
    const QString prefix = dir.filePath("page");
    testsupport::runProgram("pdftoppm", {"-r", "72", "-gray", "-png", "-singlefile", path, prefix});
    return QImage(prefix + ".png");
}

QString popplerText(const QString& path) { return testsupport::runProgram("pdftotext", {"-q", path, "-"}); }

QString popplerInfo(const QString& path) { return testsupport::runProgram("pdfinfo", {path}); }

void addMark(PdfDocument& doc)
{
    platform::PdfAnnotation square;
    square.subtype = "Square";
    square.rect = {200, 20, 60, 60};
    square.color = platform::PdfColor{1, 0, 0};
    square.borderWidth = 2;
    ASSERT_GT(PdfAnnotations::add(doc, 0, square), 0);
}

PdfErrorCode saveFailure(const PdfDocument& doc, const QString& path)
{
    try {
        doc.saveToFile(testsupport::chosen(path.toStdString()), platform::PdfSaveOptions{});
    } catch (const PdfError& error) {
        return error.code();
    }
    ADD_FAILURE() << "the save succeeded";
    return PdfErrorCode::general;
}

// `bytes` written as a file in `dir` that shows `words`, and marked: the
// save over it fails with `refused` and leaves the file as it was.
std::shared_ptr<PdfDocument> refusedOver(const QTemporaryDir& dir, const QByteArray& bytes, const QString& words,
                                         PdfErrorCode refused)
{
    const QString original = testsupport::writeFile(dir, "original.pdf", bytes);
    EXPECT_TRUE(popplerText(original).contains(words));
    auto doc = PdfDocument::openFile(original.toStdString());
    addMark(*doc);
    EXPECT_EQ(saveFailure(*doc, original), refused);
    EXPECT_EQ(testsupport::readFile(original), bytes);
    return doc;
}

platform::PdfSaveOptions fileSave()
{
    platform::PdfSaveOptions options;
    options.garbageCollect = true; // as the window saves
    return options;
}

// ---------------------------------------------------------------- marks nobody edited

struct Mark {
    const char* keys;
    int x0, y0, x1, y1; // its rectangle on a 300 × 300 page
};

// A square, a circle, an ink stroke, a line and a note, each in its own
// corner of the page.
const Mark marks[] = {
    {"/Subtype /Square /C [1 0 0] /BS << /W 3 >>", 20, 200, 80, 260},
    {"/Subtype /Circle /C [0 0 1] /BS << /W 3 >>", 120, 200, 180, 260},
    {"/Subtype /Ink /C [0 0.6 0] /BS << /W 3 >> /InkList [[25 105 75 155 25 155]]", 20, 100, 80, 160},
    {"/Subtype /Line /C [0 0 0] /BS << /W 3 >> /L [125 105 175 155]", 120, 100, 180, 160},
    {"/Subtype /Text /Contents (A note)", 220, 220, 240, 240},
};

struct MarksCase {
    bool inlined;     // written straight into /Annots, or objects of their own
    bool appearances; // with an appearance stream each, or none
    bool newMark;     // a mark is added before the save
};

QByteArray marksPdf(const MarksCase& c)
{
    // 1 catalog, 2 pages, 3 page, 4 content, then the marks and their appearances.
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                                        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", "", pdfStream("", "0 g")};
    std::string annots;
    for (const Mark& m : marks) {
        char rect[64];
        std::snprintf(rect, sizeof rect, "[%d %d %d %d]", m.x0, m.y0, m.x1, m.y1);
        std::string dict = std::string("<< /Type /Annot ") + m.keys + " /Rect " + rect + " /F 4";
        if (c.appearances) {
            const int w = m.x1 - m.x0, h = m.y1 - m.y0;
            objects.push_back(pdfStream("/Type /XObject /Subtype /Form /BBox [0 0 " + std::to_string(w) + " "
                                            + std::to_string(h) + "]",
                                        "0.5 g 4 4 " + std::to_string(w - 8) + " " + std::to_string(h - 8) + " re f"));
            dict += " /AP << /N " + std::to_string(objects.size()) + " 0 R >>";
        }
        dict += " >>";
        if (c.inlined) {
            annots += dict + " ";
        } else {
            objects.push_back(dict);
            annots += std::to_string(objects.size()) + " 0 R ";
        }
    }
    objects[2] = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 4 0 R /Annots [" + annots + "] >>";
    return testsupport::writePdf(objects);
}

std::string describe(const MarksCase& c)
{
    return std::string(c.inlined ? "inline" : "objects") + (c.appearances ? ", with appearances" : ", none")
           + (c.newMark ? ", a new mark" : ", no edit");
}

TEST(PdfSaveFidelity, MarksNobodyEditedAreSavedAsTheFileHeldThem)
{
    QTemporaryDir dir;
    for (bool inlined : {true, false})
        for (bool appearances : {true, false})
            for (bool newMark : {true, false}) {
                const MarksCase c{inlined, appearances, newMark};
                SCOPED_TRACE(describe(c));
                const QString original = testsupport::writeFile(dir, "original.pdf", marksPdf(c));
                const QString saved = dir.filePath("saved.pdf");
                const QImage before = popplerPage(original);
                ASSERT_FALSE(before.isNull());

                auto doc = PdfDocument::openFile(original.toStdString());
                // Drawn as the window draws it, before and after the edit.
                ASSERT_FALSE(doc->render(0, 1.0).isNull());
                ASSERT_NE(doc->displayList(0), nullptr);
                if (newMark) {
                    addMark(*doc);
                    ASSERT_FALSE(doc->render(0, 1.0).isNull());
                }
                doc->saveToFile(testsupport::chosen(saved.toStdString()), fileSave());

                // Each earlier mark has no appearance, or one that is a stream.
                for (int k = 1; k <= int(std::size(marks)); ++k) {
                    const QString at = "trailer/Root/Pages/Kids/1/Annots/" + QString::number(k);
                    const QString ap = testsupport::runProgram("mutool", {"show", "-g", saved, at + "/AP"}).trimmed();
                    if (ap == "null") {
                        EXPECT_FALSE(appearances) << "mark " << k << " lost its appearance";
                        continue;
                    }
                    const QString normal = testsupport::runProgram("mutool", {"show", "-g", saved, at + "/AP/N"});
                    EXPECT_TRUE(normal.contains(" stream")) << "mark " << k << ": " << ap.toStdString();
                }
                // Poppler draws every earlier mark where it drew it.
                const QImage after = popplerPage(saved);
                ASSERT_EQ(after.size(), before.size());
                for (const Mark& m : marks) {
                    const QRect area(m.x0 - 4, 300 - m.y1 - 4, m.x1 - m.x0 + 8, m.y1 - m.y0 + 8);
                    EXPECT_EQ(after.copy(area), before.copy(area)) << m.keys;
                }
                EXPECT_EQ(PdfAnnotations::list(*PdfDocument::openFile(saved.toStdString()), 0).size(),
                          std::size(marks) + (newMark ? 1 : 0));
            }
}

// ---------------------------------------------------------------- a read-back that cannot decide

TEST(PdfSaveFidelity, AReadBackThatCannotDecideRefusesAndANewFileMayTakeTheWork)
{
    // The check could not read the written file (its reader failed): nothing
    // replaces the file. Once the user chose so, a new file, which replaces
    // none, takes the document; an existing one is still not replaced.
    QTemporaryDir dir;
    const QByteArray bytes = testsupport::writePdf(textPageObjects("Undecided"));
    const QString original = testsupport::writeFile(dir, "original.pdf", bytes);
    auto doc = PdfDocument::openFile(original.toStdString());
    addMark(*doc);
    platform::PdfSaveOptions undecided = fileSave();
    undecided.beforeReadBack = [](int) {
        throw PdfError(PdfErrorCode::unverifiedCopy, "the reader that checks it cannot be loaded");
    };
    const QString other = dir.filePath("other.pdf");
    for (const QString& target : {original, other}) {
        try {
            doc->saveToFile(testsupport::chosen(target.toStdString()), undecided);
            ADD_FAILURE() << "written unchecked: " << target.toStdString();
        } catch (const PdfError& error) {
            EXPECT_EQ(error.code(), PdfErrorCode::unverifiedCopy);
        }
    }
    EXPECT_EQ(testsupport::readFile(original), bytes);
    EXPECT_FALSE(QFile::exists(other));
    undecided.unverifiedAccepted = true;
    doc->saveToFile(testsupport::chosen(other.toStdString()), undecided);
    EXPECT_TRUE(popplerText(other).contains("Undecided"));
    EXPECT_EQ(PdfAnnotations::list(*PdfDocument::openFile(other.toStdString()), 0).size(), 1u);
    try {
        doc->saveToFile(testsupport::chosen(original.toStdString()), undecided);
        ADD_FAILURE() << "a file was replaced unchecked";
    } catch (const PdfError& error) {
        EXPECT_EQ(error.code(), PdfErrorCode::unverifiedCopy);
    }
    EXPECT_EQ(testsupport::readFile(original), bytes);
}

TEST(PdfSaveFidelity, AReadBackOnABusyMachineDecidesOrSaysItCannot)
{
    // A busy machine may refuse the read-back the threads it reads beside
    // (the user's processes at their limit): it reads on its own thread
    // then, and the sound file is saved. Short of memory, it reads again,
    // alone and after pauses: the file is saved, or refused as undecided and
    // left as it was, never judged unfaithful (a reader starved of memory
    // reads null where it failed), and nothing crashes. Run as a user of this
    // test alone, whose threads the limit counts; the file holds enough
    // objects to be shared among readers.
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "needs root to run as a user of its own";
    ASSERT_TRUE(platform::loadReadBack()); // as ravlen does when it starts
    constexpr uid_t user = 4319;
    const QByteArray bytes = testsupport::makeTextPdf(2100);
    const struct {
        const char* what;
        int resource;
        rlim_t limit; // threads, or memory past what the process holds (MB)
    } limits[] = {
        {"the saving thread alone", RLIMIT_NPROC, 1}, {"it and two readers", RLIMIT_NPROC, 3},
        {"memory, 16 MB more", RLIMIT_AS, 16},        {"memory, 24 MB more", RLIMIT_AS, 24},
        {"memory, 32 MB more", RLIMIT_AS, 32},        {"memory, 48 MB more", RLIMIT_AS, 48},
        {"memory, 64 MB more", RLIMIT_AS, 64},        {"memory, 96 MB more", RLIMIT_AS, 96},
    };
    for (const auto& row : limits) {
        SCOPED_TRACE(row.what);
#if defined(__SANITIZE_ADDRESS__)
        if (row.resource == RLIMIT_AS) continue; // the sanitizer's runtime reserves more than any such limit
#endif
        QTemporaryDir dir;
        ASSERT_EQ(::chown(QFile::encodeName(dir.path()).constData(), user, user), 0);
        const QString original = testsupport::writeFile(dir, "original.pdf", bytes);
        ASSERT_EQ(::chown(QFile::encodeName(original).constData(), user, user), 0);
        const QString saved = dir.filePath("saved.pdf");
        EXPECT_TRUE(testsupport::asUser(user, [&] {
            auto doc = PdfDocument::openFile(original.toStdString());
            addMark(*doc);
            rlim_t limit = row.limit;
            if (row.resource == RLIMIT_AS) {
                long pages = 0;
                std::FILE* statm = std::fopen("/proc/self/statm", "r");
                ASSERT_TRUE(statm && std::fscanf(statm, "%ld", &pages) == 1);
                std::fclose(statm);
                limit = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (row.limit << 20);
            }
            const rlimit set{limit, limit};
            ASSERT_EQ(::setrlimit(row.resource, &set), 0);
            try {
                doc->saveToFile(testsupport::chosen(saved.toStdString()), fileSave());
            } catch (const PdfError& error) {
                EXPECT_TRUE(row.resource == RLIMIT_AS
                            && (error.code() == PdfErrorCode::unverifiedCopy || error.systemError() == ENOMEM))
                    << "refused: " << error.what();
            } catch (const std::exception& error) {
                ADD_FAILURE() << "refused: " << error.what();
            }
        }));
        if (!QFile::exists(saved)) continue;
        const QString words = popplerText(saved);
        EXPECT_TRUE(words.contains("Page 1") && words.contains("Page 2100"));
        int exitCode = -1;
        const QString check = testsupport::runProgram("qpdf", {"--check", saved}, &exitCode);
        EXPECT_EQ(exitCode, 0) << check.toStdString();
        EXPECT_EQ(PdfAnnotations::list(*PdfDocument::openFile(saved.toStdString()), 0).size(), 1u);
    }
}

// ---------------------------------------------------------------- a page tree that loops

TEST(PdfSaveFidelity, APageTreeRebuiltFromALoopKeepsWhatItsPagesInherit)
{
    // The root lists itself among its kids; the page inherits its size,
    // resources and rotation from it.
    auto objects = textPageObjects("Testcase: Pages loop");
    objects[2] = "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>";
    objects[1] = "<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 2 /MediaBox [0 0 595 842] /Rotate 90 "
                 "/Resources << /Font << /F1 5 0 R >> >> >>";
    QTemporaryDir dir;
    const QString original = testsupport::writeFile(dir, "loop.pdf", testsupport::writePdf(objects));
    ASSERT_TRUE(popplerText(original).contains("Pages loop"));

    auto doc = PdfDocument::openFile(original.toStdString());
    ASSERT_EQ(doc->pageCount(), 1);
    const auto geometry = doc->pageGeometry(0);
    EXPECT_DOUBLE_EQ(geometry.mediaBox.width, 595);
    EXPECT_DOUBLE_EQ(geometry.mediaBox.height, 842);
    EXPECT_EQ(geometry.rotation, 90);
    EXPECT_NE(doc->textPage(0).text().find("Testcase: Pages loop"), std::string::npos);

    addMark(*doc);
    doc->saveToFile(testsupport::chosen(original.toStdString()), fileSave());
    const QString info = popplerInfo(original);
    EXPECT_TRUE(info.contains(QRegularExpression("Pages: +1\\n"))) << info.toStdString();
    EXPECT_TRUE(info.contains("595 x 842")) << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression("Page rot: +90"))) << info.toStdString();
    EXPECT_TRUE(popplerText(original).contains("Testcase: Pages loop"));
}

// ---------------------------------------------------------------- what MuPDF cannot read whole

TEST(PdfSaveFidelity, ANameLongerThanTheEngineKeepsIsNeverCutOnOneSide)
{
    // MuPDF cuts the font's 145-byte name where the resources define it and
    // keeps it whole in the page's content: written anew, the page would lose
    // its text in other readers. A change is saved, over the file or to
    // another, as an update appended to the file's own bytes, which keep the
    // name whole; where the change itself would write the name (a mark on a
    // page that holds it), nothing is written. A copy written anew (as an
    // export makes it) is refused alike.
    const struct {
        const char* what;
        bool inPage;                              // the page's own resources name the font
        std::function<void(PdfDocument&)> change; // what the user changed
        bool saved;                               // saved as an update; else refused, nothing written
    } cases[] = {
        {"a mark on a page whose resources it shares", false, [](PdfDocument& doc) { addMark(doc); }, true},
        {"the title, the page holding the name", true,
         [](PdfDocument& doc) { doc.setInfoString("Title", std::string("A title")); }, true},
        {"a mark on the page that holds the name", true, [](PdfDocument& doc) { addMark(doc); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QByteArray bytes = testsupport::longFontNamePdf("Long name", c.inPage);
        const QString original = testsupport::writeFile(dir, "original.pdf", bytes);
        ASSERT_TRUE(popplerText(original).contains("Long name"));
        auto doc = PdfDocument::openFile(original.toStdString());
        c.change(*doc);
        const QString elsewhere = dir.filePath("elsewhere.pdf");
        if (!c.saved) {
            EXPECT_EQ(saveFailure(*doc, original), PdfErrorCode::namesTooLong);
            EXPECT_EQ(testsupport::readFile(original), bytes);
            EXPECT_EQ(saveFailure(*doc, elsewhere), PdfErrorCode::namesTooLong);
            EXPECT_FALSE(QFile::exists(elsewhere));
        } else {
            doc->saveToFile(testsupport::chosen(original.toStdString()), fileSave());
            doc->saveToFile(testsupport::chosen(elsewhere.toStdString()), fileSave());
            for (const QString& saved : {original, elsewhere}) {
                EXPECT_TRUE(testsupport::readFile(saved).startsWith(bytes));
                EXPECT_TRUE(popplerText(saved).contains("Long name")) << saved.toStdString();
                int exitCode = -1;
                const QString check = testsupport::runProgram("qpdf", {"--check", saved}, &exitCode);
                EXPECT_EQ(exitCode, 0) << check.toStdString();
            }
        }
        // Written anew, without the file's encryption (an export's copy): refused.
        platform::PdfSaveOptions anew;
        anew.encryption = platform::PdfSaveOptions::Encryption::none;
        try {
            doc->save(anew);
            ADD_FAILURE() << "a copy that cuts the name was written";
        } catch (const PdfError& error) {
            EXPECT_EQ(error.code(), PdfErrorCode::namesTooLong);
        }
    }
}

// ---------------------------------------------------------------- what a write did not mean

// The written file with the first `from` after the last `after` replaced by `to`, of the same length.
void replaceIn(int fd, const char* after, const char* from, const char* to)
{
    struct stat info = {};
    ASSERT_EQ(::fstat(fd, &info), 0);
    QByteArray bytes(qsizetype(info.st_size), 0);
    ASSERT_EQ(::pread(fd, bytes.data(), size_t(bytes.size()), 0), ssize_t(bytes.size()));
    const qsizetype start = bytes.lastIndexOf(after);
    ASSERT_GE(start, 0) << after;
    const qsizetype at = bytes.indexOf(from, start);
    ASSERT_GE(at, 0) << from;
    ASSERT_EQ(std::strlen(from), std::strlen(to));
    ASSERT_EQ(::pwrite(fd, to, std::strlen(to), off_t(at)), ssize_t(std::strlen(to)));
}

// The byte right after the first `marker` that follows the last `after` set to `byte`, or,
// where it is that already, to another.
void overwriteAfter(int fd, const char* after, const char* marker, char byte)
{
    struct stat info = {};
    ASSERT_EQ(::fstat(fd, &info), 0);
    QByteArray bytes(qsizetype(info.st_size), 0);
    ASSERT_EQ(::pread(fd, bytes.data(), size_t(bytes.size()), 0), ssize_t(bytes.size()));
    const qsizetype at = bytes.indexOf(marker, bytes.lastIndexOf(after));
    ASSERT_GE(at, 0) << marker;
    const off_t to = off_t(at + qsizetype(std::strlen(marker)));
    // A byte that is `byte` already becomes another.
    const char written = bytes[qsizetype(to)] == byte ? char(byte ^ 1) : byte;
    ASSERT_EQ(::pwrite(fd, &written, 1, to), 1);
}

// The object the last trailer names at `key` marked free in the last
// cross-reference table, the trailer still naming it.
void freeInLastTable(int fd, const char* key)
{
    struct stat info = {};
    ASSERT_EQ(::fstat(fd, &info), 0);
    QByteArray bytes(qsizetype(info.st_size), 0);
    ASSERT_EQ(::pread(fd, bytes.data(), size_t(bytes.size()), 0), ssize_t(bytes.size()));
    const qsizetype trailer = bytes.lastIndexOf("trailer");
    ASSERT_GE(trailer, 0) << "the file ends in a table";
    const qsizetype named = bytes.indexOf(key, trailer);
    ASSERT_GE(named, 0) << key;
    const int num = bytes.mid(named + qsizetype(std::strlen(key))).trimmed().split(' ').value(0).toInt();
    const qsizetype entries = bytes.lastIndexOf("xref", trailer) + 4;
    qsizetype at = entries;
    while (at < trailer) {
        while (bytes[at] == '\r' || bytes[at] == '\n' || bytes[at] == ' ') ++at;
        const qsizetype lineEnd = bytes.indexOf('\n', at);
        const QList<QByteArray> head = bytes.mid(at, lineEnd - at).trimmed().split(' ');
        ASSERT_EQ(head.size(), 2) << "a subsection's first line";
        const int first = head[0].toInt(), count = head[1].toInt();
        at = lineEnd + 1;
        if (num >= first && num < first + count) {
            const qsizetype entry = at + qsizetype(num - first) * 20;
            ASSERT_EQ(bytes[entry + 17], 'n');
            ASSERT_EQ(::pwrite(fd, "f", 1, off_t(entry + 17)), 1);
            return;
        }
        at += qsizetype(count) * 20;
    }
    ADD_FAILURE() << "object " << num << " is in no subsection of the last table";
}

// The written file made `bytes` whole.
void writeWhole(int fd, const QByteArray& bytes)
{
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    ASSERT_EQ(::pwrite(fd, bytes.constData(), size_t(bytes.size()), 0), ssize_t(bytes.size()));
}

TEST(PdfSaveFidelity, AWriteThatDoesNotReadBackLeavesTheFileAsItWas)
{
    // Each fault stands for a writer that wrote what it did not mean, made in
    // the written file before it is read back: in a plain file, in one
    // encrypted with an open password (AES-256), which the copy keeps, and in
    // a signed one, which every save updates after its signed bytes. The
    // save is refused, the file it would have replaced stays byte for byte,
    // and another file is not made; with the read-back off, the faulty copy
    // would have been written. Where only the file written anew holds the
    // fault, the change is saved as an update of the file's own bytes: the
    // rewrite left the document as it was, and the update follows the file.
    enum Kind { plain = 1, encrypted = 2, signedFile = 4 };
    const struct {
        const char* what;
        std::function<void(int fd, const QByteArray& original)> fault;
        PdfErrorCode refused = PdfErrorCode::unfaithfulCopy;
        int kinds = plain | encrypted; // the files it is made in
        bool compress = true;          // the save compresses the streams it writes
    } cases[] = {
        {"a letter of a name", [](int fd, auto&) { replaceIn(fd, "/BaseFont", "/Helvetica", "/Helvetico"); }},
        {"a digit of a number", [](int fd, auto&) { replaceIn(fd, "/MediaBox", "300", "301"); }},
        {"a letter of a string", [](int fd, auto&) { replaceIn(fd, "/Title", "(A title)", "(A titlf)"); },
         PdfErrorCode::unfaithfulCopy, plain},
        {"a reference to another object", [](int fd, auto&) { replaceIn(fd, "/Contents", "4 0 R", "1 0 R"); }},
        {"the compressed data of a stream",
         [](int fd, auto&) { overwriteAfter(fd, "/FlateDecode", "stream\n", '\0'); }},
        {"the file cut short", [](int fd, auto&) { ASSERT_EQ(::ftruncate(fd, 200), 0); }},
        {"where the cross-reference table starts", [](int fd, auto&) { overwriteAfter(fd, "startxref", "\n", '9'); }},
        {"the encryption left out of the trailer",
         [](int fd, auto&) { replaceIn(fd, "trailer", "/Encrypt", "/Encrypx"); }, PdfErrorCode::unopenableCopy,
         encrypted},
        {"the file's own bytes in place of the copy: the change lost",
         [](int fd, const QByteArray& original) { writeWhole(fd, original); }, PdfErrorCode::unfaithfulCopy,
         plain | encrypted | signedFile},
        {"a letter of the words a page's content shows",
         [](int fd, auto&) { replaceIn(fd, "%PDF", "(Read back)", "(Read bank)"); }, PdfErrorCode::unfaithfulCopy,
         plain, false},
        {"the document information left out of the trailer",
         [](int fd, auto&) { replaceIn(fd, "trailer", "/Info", "/Infx"); }, PdfErrorCode::unfaithfulCopy,
         plain | encrypted | signedFile},
        {"a byte of the signed part", [](int fd, auto&) { replaceIn(fd, "%PDF", "%PDF-1.4", "%PDF-1.5"); },
         PdfErrorCode::unfaithfulCopy, signedFile},
        {"the new document information freed, the trailer still naming it",
         [](int fd, auto&) { freeInLastTable(fd, "/Info"); }, PdfErrorCode::unfaithfulCopy, plain | signedFile},
    };
    platform::PdfSaveOptions locking;
    locking.encryption = platform::PdfSaveOptions::Encryption::aes256;
    locking.userPassword = "reader";
    locking.ownerPassword = "owner";
    const QByteArray plainFile = testsupport::writePdf(textPageObjects("Read back"));
    const QByteArray lockedFile = PdfDocument::openBytes(plainFile)->save(locking);
    QTemporaryDir keys;
    const QByteArray signedBytes = testsupport::makeSignedPdf(keys.path());
    ASSERT_FALSE(signedBytes.isEmpty());
    for (const auto& c : cases) {
        for (const Kind kind : {plain, encrypted, signedFile}) {
            if (!(c.kinds & kind)) continue;
            const bool encrypted = kind == Kind::encrypted;
            for (const bool over : {true, false}) {
                SCOPED_TRACE(std::string(c.what)
                             + (encrypted            ? ", encrypted"
                                : kind == signedFile ? ", signed"
                                                     : ", plain")
                             + (over ? ", saved over the file" : ", saved as another file"));
                QTemporaryDir dir;
                const QByteArray bytes = encrypted ? lockedFile : kind == signedFile ? signedBytes : plainFile;
                const QString original = testsupport::writeFile(dir, "original.pdf", bytes);
                auto doc = PdfDocument::openFile(original.toStdString());
                if (encrypted) {
                    ASSERT_TRUE(doc->unlock("reader"));
                }
                doc->setInfoString("Title", std::string("A title"));
                addMark(*doc);
                const QString target = over ? original : dir.filePath("other.pdf");
                platform::PdfSaveOptions faulty = fileSave();
                faulty.compress = c.compress;
                faulty.beforeReadBack = [&](int fd) { c.fault(fd, bytes); };
                try {
                    doc->saveToFile(testsupport::chosen(target.toStdString()), faulty);
                    ADD_FAILURE() << "a file that does not read back was written";
                } catch (const PdfError& error) {
                    EXPECT_EQ(error.code(), c.refused) << error.what();
                }
                EXPECT_EQ(testsupport::readFile(original), bytes);
                EXPECT_EQ(QFile::exists(dir.filePath("other.pdf")), false);
                // A rewrite alone that reads otherwise: the change goes into
                // an update that reads back (a signed file's save is one already).
                if (c.refused == PdfErrorCode::unfaithfulCopy && kind != signedFile) {
                    int writes = 0;
                    platform::PdfSaveOptions faultyOnce = fileSave();
                    faultyOnce.compress = c.compress;
                    faultyOnce.beforeReadBack = [&](int fd) {
                        if (writes++ == 0) c.fault(fd, bytes);
                    };
                    try {
                        doc->saveToFile(testsupport::chosen(target.toStdString()), faultyOnce);
                    } catch (const PdfError& error) {
                        ADD_FAILURE() << "the update was refused: " << error.what();
                    }
                    EXPECT_EQ(writes, 2);
                    const QByteArray updated = testsupport::readFile(target);
                    EXPECT_TRUE(updated.startsWith(bytes));
                    EXPECT_GT(updated.size(), bytes.size());
                    {
                        auto reopened = PdfDocument::openFile(target.toStdString());
                        if (encrypted) {
                            EXPECT_TRUE(reopened->unlock("reader"));
                        }
                        EXPECT_EQ(PdfAnnotations::list(*reopened, 0).size(), 1u);
                    }
                    int exitCode = -1;
                    const QString check = testsupport::runProgram(
                        "qpdf", {encrypted ? "--password=reader" : "--password=", "--check", target}, &exitCode);
                    EXPECT_EQ(exitCode, 0) << check.toStdString();
                    const QStringList passwordArgs = encrypted ? QStringList{"-upw", "reader"} : QStringList{};
                    EXPECT_TRUE(testsupport::runProgram("pdftotext", passwordArgs + QStringList{"-q", target, "-"})
                                    .contains("Read back"));
                    EXPECT_TRUE(testsupport::runProgram("pdfinfo", passwordArgs + QStringList{target})
                                    .contains(QRegularExpression("Title: +A title\\n")));
                    if (over) {
                        // Saved over, the file now holds the update: the unchecked fault goes to the copy's bytes.
                        testsupport::writeFile(dir, "original.pdf", bytes);
                        doc = PdfDocument::openFile(original.toStdString());
                        if (encrypted) {
                            ASSERT_TRUE(doc->unlock("reader"));
                        }
                        addMark(*doc);
                    } else {
                        QFile::remove(target);
                    }
                }
                // Unchecked, the fault reaches the file.
                faulty.readBack = false;
                doc->saveToFile(testsupport::chosen(target.toStdString()), faulty);
                EXPECT_NE(testsupport::readFile(target), bytes);
            }
        }
    }
}

// textPageObjects with the content's stream keyword ending in `lineEnd`.
std::vector<std::string> crLfPageObjects(const std::string& words, const std::string& lineEnd = "\r\n")
{
    auto objects = textPageObjects(words);
    objects[3].replace(objects[3].find("stream\n"), 7, "stream" + lineEnd);
    return objects;
}

// textPageObjects with the content's data starting with a comment right
// after its stream keyword ("stream%"), no end of line between them.
std::vector<std::string> commentAfterStream(const std::string& words)
{
    auto objects = textPageObjects(words);
    const std::string data = "%note\nBT /F1 18 Tf 20 150 Td (" + words + ") Tj ET";
    objects[3] = "<< /Length " + std::to_string(data.size()) + " >>\nstream" + data + "\nendstream";
    return objects;
}

// The data of object `num` of `path` as qpdf reads it, decoded (its warnings left out).
QByteArray qpdfStreamData(const QString& path, int num)
{
    QProcess qpdf;
    qpdf.start("qpdf", {"--show-object=" + QString::number(num), "--filtered-stream-data", path});
    qpdf.waitForFinished(60000);
    return qpdf.readAllStandardOutput();
}

// `pdf` with its first "stream\r\n" become "stream\r ": the data as
// readers take it then starts a byte early.
QByteArray lineEndChanged(QByteArray pdf) { return pdf.replace(pdf.indexOf("stream\r\n") + 7, 1, " "); }

// `pdf` with the "endobj" of object `num` changed into another word (or into
// spaces, as if it were missing).
QByteArray endobjChanged(QByteArray pdf, int num = 5, const char* word = "endobX")
{
    return pdf.replace(pdf.indexOf("endobj", pdf.indexOf(QByteArray::number(num) + " 0 obj")), 6, word);
}

// `pdf` (of writePdf) with object `num` left out of its table, which
// keeps the numbers before and after it in two sections.
QByteArray unlisted(QByteArray pdf, int num)
{
    const qsizetype table = pdf.lastIndexOf("xref\n0 ");
    const qsizetype entries = pdf.indexOf('\n', table + 5) + 1;
    const int size = pdf.mid(table + 7, entries - table - 8).toInt();
    QByteArray sections = "xref\n0 " + QByteArray::number(num) + "\n" + pdf.mid(entries, 20 * num);
    sections += QByteArray::number(num + 1) + " " + QByteArray::number(size - num - 1) + "\n"
                + pdf.mid(entries + 20 * (num + 1), 20 * (size - num - 1));
    return pdf.left(table) + sections + pdf.mid(entries + 20 * size);
}

TEST(PdfSaveFidelity, DamageTheEngineReadsPastIsNotSavedOver)
{
    // MuPDF reads each file, but only by guessing at what the damage hid or
    // leaving it out, or by reading it as other readers do where it cannot
    // itself (a table that leads to no catalog, a catalog or page with a key
    // that is no name, a page tree that loops); written anew, the guess would
    // replace what the file holds, which poppler still reads. Where the
    // file's own table leads to its objects, the change is saved over it as
    // an update appended to its bytes, which keeps the damaged objects as
    // every reader read them. Else another file takes the document, and
    // poppler reads it with every page ravlen shows.
    // (A broken object that nothing uses is no loss: the saving tests' own.)
    // Widths every reader takes alike, the third one damaged.
    std::string widths;
    for (int c = 32; c <= 126; ++c) widths += " 600";
    const auto font = [&](const std::string& third) {
        return "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /FirstChar 32 /LastChar 126 /Widths [600 600 "
               + third + widths.substr(12) + "] >>";
    };
    QByteArray otherGeneration = testsupport::writePdf(textPageObjects("Damaged table", font("600")));
    // The cross-reference entry of object 5, the font: its generation.
    otherGeneration.replace(otherGeneration.indexOf("xref\n0 6\n") + 9 + 5 * 20 + 11, 5, "00001");
    const auto qpdfSuite = [](const char* name) {
        return testsupport::readFile(QString::fromStdString(testsupport::qpdfCorpusPath(name)));
    };
    const struct {
        const char* what;
        QByteArray bytes;
        QString words;
        PdfErrorCode refused = PdfErrorCode::unparsedObjects;
        bool copyKeepsWords = false; // else the copy may show less, as the user is told
        bool updated = true;         // saved over as an update of the file's own bytes
    } cases[] = {
        {"a name holding a space, the font read as null",
         testsupport::writePdf(
             textPageObjects("Flags and paving", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica Bold >>")),
         "Flags and paving"},
        {"a byte of the font changed inside an object stream",
         objectStreamPdf("Damaged stream", font("600"), font("6x0")), "Damaged stream"},
        {"a table naming another generation than the font's", otherGeneration, "Damaged table"},
        {"a byte of the font changed in the file itself",
         testsupport::writePdf(textPageObjects("Damaged font", font("6!0"))), "Damaged font"},
        {"a digit of the font changed in a stream of several objects",
         objectStreamPdf("Damaged digit", font("600"), font("601"), {"<< /Unused 0 >>", "<< /Unused 1 >>"}),
         "Damaged digit"},
        {"the line feed after a stream keyword changed",
         lineEndChanged(testsupport::writePdf(crLfPageObjects("Damaged line end"))), "Damaged line end"},
        // Poppler reads no data where no line ends after the keyword.
        {"a space and the data after a stream keyword",
         testsupport::writePdf(crLfPageObjects("Space after stream", " ")), ""},
        {"a comment right after a stream keyword", testsupport::writePdf(commentAfterStream("Comment after stream")),
         ""},
        {"the keyword endobj changed", endobjChanged(testsupport::writePdf(textPageObjects("Damaged endobj"))),
         "Damaged endobj"},
        {"a dictionary left open before the table",
         endobjChanged(testsupport::writePdf(
                           textPageObjects("Open dictionary", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica")),
                       5, "      "),
         "Open dictionary"},
        {"a byte of the font changed in an object stream written so",
         objectStreamPdf("Damaged member", font("6x0"), font("6x0"), {"<< /Sound true >>"}), "Damaged member"},
        // The PDF library's test suite: files poppler and qpdf open.
        {"a /Prev that is no number: the table leads to no catalog", qpdfSuite("bad11.pdf"), "Salad",
         PdfErrorCode::repairedFile, true, false},
        {"a /Prev that names its own table, which lists none of the pages", qpdfSuite("append-xref-loop.pdf"),
         "Potato 29", PdfErrorCode::repairedFile, true, false},
        {"a catalog with a key that is no name", qpdfSuite("indirect-r-arg.pdf"), "Potato",
         PdfErrorCode::unparsedObjects, true, false},
        {"a catalog and a page with keys that are no names, lost to the repaired table", qpdfSuite("fuzz-16214.pdf"),
         "", PdfErrorCode::repairedFile, true, false},
        {"a page tree that loops, its one page outside it", qpdfSuite("deep-pages.pdf"), "", PdfErrorCode::repairedFile,
         true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.bytes.isEmpty()) continue; // a file of the library's suite that is not here
        if (c.updated) {
            // The mark is saved over the file, after its own bytes; poppler
            // reads the words and draws the mark, and so does a Save As.
            QTemporaryDir dir;
            const QString original = testsupport::writeFile(dir, "original.pdf", c.bytes);
            const QImage before = popplerPage(original);
            auto doc = PdfDocument::openFile(original.toStdString());
            addMark(*doc);
            EXPECT_FALSE(doc->copyShowsLess());
            const QString elsewhere = dir.filePath("elsewhere.pdf");
            platform::PdfSaveOptions asking = fileSave();
            asking.lossAccepted = false;
            try {
                doc->saveToFile(testsupport::chosen(original.toStdString()), fileSave());
                doc->saveToFile(testsupport::chosen(elsewhere.toStdString()), asking);
            } catch (const PdfError& error) {
                ADD_FAILURE() << "refused: " << error.what();
                continue;
            }
            // A copy written anew (an export) takes the page's content as
            // qpdf reads it in the file, never a byte of a keyword in it.
            {
                platform::PdfSaveOptions exporting;
                exporting.encryption = platform::PdfSaveOptions::Encryption::none;
                exporting.garbageCollect = true;
                const QString exported = testsupport::writeFile(dir, "exported.pdf", doc->save(exporting));
                // (qpdf takes the end of line before a misplaced endstream as data.)
                EXPECT_EQ(qpdfStreamData(exported, 4).trimmed(), qpdfStreamData(original, 4).trimmed());
            }
            for (const QString& saved : {original, elsewhere}) {
                EXPECT_TRUE(testsupport::readFile(saved).startsWith(c.bytes));
                EXPECT_TRUE(popplerText(saved).contains(c.words));
                EXPECT_EQ(PdfAnnotations::list(*PdfDocument::openFile(saved.toStdString()), 0).size(), 1u);
                EXPECT_NE(popplerPage(saved).copy(200, 220, 60, 60), before.copy(200, 220, 60, 60));
            }
            continue;
        }
        QTemporaryDir dir;
        const auto doc = refusedOver(dir, c.bytes, c.words, c.refused);
        // Another file may show less than this one: the user is asked first.
        EXPECT_TRUE(doc->copyShowsLess());
        EXPECT_TRUE(PdfDocument::openBytes(c.bytes)->copyShowsLess()); // read from bytes alike
        const QString elsewhere = dir.filePath("elsewhere.pdf");
        platform::PdfSaveOptions asking = fileSave();
        asking.lossAccepted = false;
        try {
            doc->saveToFile(testsupport::chosen(elsewhere.toStdString()), asking);
            ADD_FAILURE() << "a copy that may show less was written without asking";
        } catch (const PdfError& error) {
            EXPECT_EQ(error.code(), PdfErrorCode::lossyCopy);
        }
        EXPECT_FALSE(QFile::exists(elsewhere));
        doc->saveToFile(testsupport::chosen(elsewhere.toStdString()), fileSave());
        EXPECT_EQ(PdfAnnotations::list(*PdfDocument::openFile(elsewhere.toStdString()), 0).size(), 1u);
        const QString pages = QString("Pages: +%1\n").arg(doc->pageCount());
        EXPECT_TRUE(popplerInfo(elsewhere).contains(QRegularExpression(pages))) << popplerInfo(elsewhere).toStdString();
        if (c.copyKeepsWords) {
            EXPECT_TRUE(popplerText(elsewhere).contains(c.words));
        }
    }
    // The same stream undamaged is saved over.
    QTemporaryDir dir;
    const QString sound =
        testsupport::writeFile(dir, "sound.pdf", objectStreamPdf("Sound stream", font("600"), font("600")));
    auto doc = PdfDocument::openFile(sound.toStdString());
    addMark(*doc);
    doc->saveToFile(testsupport::chosen(sound.toStdString()), fileSave());
    EXPECT_TRUE(popplerText(sound).contains("Sound stream"));
}

TEST(PdfSaveFidelity, AStreamNoReaderDecodesIsCopiedAsTheDocumentHoldsIt)
{
    // Real files through a text conversion (each byte from 0x80 up become EF
    // BF BD), or with their NUL bytes dropped: qpdf cannot read them, MuPDF
    // shows their pages. Each stream neither decodes (or MuPDF decodes only
    // with a warning of damage: zlib data that stops part way, or that ends
    // without its end marker), a copy stores as the document holds it: the
    // damage is the document's, and the copy is written. A stream the
    // document decodes that the write damaged (a stand-in) is refused.
    const struct {
        const char* file;
        bool damagedByWrite = false;
        bool nulsDropped = false;
    } cases[] = {{"good17-not-qdf.pdf"},
                 {"issue-202.pdf"},
                 {"enc-XI-base.pdf"},
                 {"good17-not-qdf.pdf", true},
                 {"good17-not-qdf.pdf", false, true},
                 {"qpdfjob-ctest2.pdf", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.damagedByWrite ? ", the mark's drawing damaged by the write" : "")
                     + (c.nulsDropped ? ", its NUL bytes dropped" : ""));
        QByteArray converted;
        for (const char byte : testsupport::readFile(QString::fromStdString(testsupport::qpdfCorpusPath(c.file))))
            if (c.nulsDropped) converted += byte ? QByteArray(1, byte) : QByteArray();
            else
                converted +=
                    static_cast<unsigned char>(byte) >= 0x80 ? QByteArray("\xEF\xBF\xBD") : QByteArray(1, byte);
        QTemporaryDir dir;
        auto doc = PdfDocument::openFile(testsupport::writeFile(dir, "converted.pdf", converted).toStdString());
        addMark(*doc);
        platform::PdfSaveOptions saveAs = fileSave();
        saveAs.lossAccepted = true; // as Save As asks first
        if (c.damagedByWrite) saveAs.beforeReadBack = [](int fd) { overwriteAfter(fd, "/BBox", "stream\n", '\0'); };
        const QString copy = dir.filePath("copy.pdf");
        try {
            doc->saveToFile(testsupport::chosen(copy.toStdString()), saveAs);
        } catch (const PdfError& error) {
            EXPECT_TRUE(c.damagedByWrite && error.code() == PdfErrorCode::unfaithfulCopy) << error.what();
        }
        EXPECT_EQ(QFile::exists(copy), !c.damagedByWrite);
        if (c.damagedByWrite) continue;
        EXPECT_TRUE(popplerInfo(copy).contains(QRegularExpression(QString("Pages: +%1\n").arg(doc->pageCount()))));
    }
}

// ---------------------------------------------------------------- unusual but sound

// Whether every entry of the file's cross-reference tables holds a
// generation a table may hold: 65535 at most.
bool tableEntriesFit(const QByteArray& bytes)
{
    static const QRegularExpression entry("(?:^|\\n)\\d{10} (\\d+) [fn]");
    for (auto match = entry.globalMatch(QString::fromLatin1(bytes)); match.hasNext();)
        if (match.next().captured(1).toLong() > 65535) return false;
    return true;
}

TEST(PdfSaveFidelity, WhatTheEngineOnlyWarnsAboutIsSavedOverWithTheMark)
{
    // MuPDF warns about each of these, cannot read a part nothing uses, or
    // rebuilds a table that lists what every reader finds, but reads the
    // file as poppler does (a stream whose /Length is wrong by its
    // `endstream`), and a save writes what the file holds, each name as
    // every reader reads it (one of no bytes too), each stream with its
    // true length, each table entry as a table holds one: the file is
    // saved over, the mark added, and poppler reads the same words and
    // draws the same page; another file takes it without a question, and
    // so does the saved file when it is saved again. Whether the page was
    // drawn before (as the window does) or not makes no difference.
    auto junk = textPageObjects("Junk before endobj");
    junk[4] += " junk";
    auto inArray = textPageObjects("");
    inArray[3] = pdfStream("", "BT /F1 18 Tf 20 150 Td [(Operator) -250 0 Tc ( inside TJ)] TJ ET");
    const std::string helvetica = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
    const std::string refersTo6 = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Extra 6 0 R >>";
    auto dangling = textPageObjects("Unlisted object", refersTo6);
    dangling.push_back("<< /Listed false >>");
    dangling.push_back("<< /Listed true >>");
    const auto withoutEndobj = [](const std::string& words, int num) {
        return endobjChanged(testsupport::writePdf(textPageObjects(words)), num, "      ");
    };
    // MuPDF rebuilds the table of these, and finds what it lists.
    QByteArray wordy = testsupport::writePdf(textPageObjects("Words in the table"));
    wordy.replace(" 00000 n \n", " 00000 n   see here\n");
    // A name of no bytes ("/" alone) is a name like any other.
    const auto withEmptyName = [](const std::string& words, const std::string& pageKeys) {
        auto objects = textPageObjects(words);
        objects[2].insert(objects[2].rfind(">>"), pageKeys + " ");
        return testsupport::writePdf(objects);
    };
    const std::string differences = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << /Type "
                                    "/Encoding /Differences [65 / 70 /X] >> >>";
    // A content stream whose data does not end where its /Length says.
    const auto lengthOff = [](const std::string& words, int off, const std::string& endKeyword) {
        auto objects = textPageObjects(words);
        const std::string data = "BT /F1 18 Tf 20 150 Td (" + words + ") Tj ET";
        objects[3] =
            "<< /Length " + std::to_string(int(data.size()) + off) + " >>\nstream\n" + data + "\n" + endKeyword;
        return testsupport::writePdf(objects);
    };
    // A free entry of the highest generation there is, besides the table's head.
    auto freed = textPageObjects("Free entry");
    freed.push_back("<< /Unused true >>");
    QByteArray highestGeneration = testsupport::writePdf(freed);
    const qsizetype sixth = highestGeneration.indexOf("xref\n0 7\n") + 9 + 6 * 20;
    highestGeneration.replace(sixth, 20, "0000000000 65535 f \n");
    // An object of the highest generation nothing refers to, which the save leaves out.
    auto unused = textPageObjects("Unused object");
    unused.push_back("<< /Unused true >>");
    QByteArray unusedHighest = testsupport::writePdf(unused);
    unusedHighest.replace(unusedHighest.indexOf("\n6 0 obj") + 1, 7, "6 65535 obj");
    unusedHighest.replace(unusedHighest.indexOf("xref\n0 7\n") + 9 + 6 * 20 + 11, 5, "65535");
    {
        const qsizetype start = unusedHighest.lastIndexOf("startxref\n") + 10;
        const qsizetype end = unusedHighest.indexOf('\n', start);
        unusedHighest.replace(start, end - start,
                              QByteArray::number(unusedHighest.mid(start, end - start).toLongLong() + 4));
    }
    const struct {
        const char* what;
        QByteArray bytes;
        QString words;
    } cases[] = {
        {"a stream keyword ending in a carriage return alone",
         testsupport::writePdf(crLfPageObjects("Lone carriage return", "\r")), "Lone carriage return"},
        {"a junk token before endobj", testsupport::writePdf(junk), "Junk before endobj"},
        {"an operator inside a TJ array", testsupport::writePdf(inArray), "Operator"},
        {"no endobj before the next object", withoutEndobj("Next object", 3), "Next object"},
        {"no endobj before the table", withoutEndobj("Before the table", 5), "Before the table"},
        {"a reference to an object no table lists", unlisted(testsupport::writePdf(dangling), 6), "Unlisted object"},
        {"an object stream holding null, which the font refers to",
         objectStreamPdf("Null member", refersTo6, refersTo6, {"null"}), "Null member"},
        {"an object stream holding a broken object nothing uses",
         objectStreamPdf("Unused member", helvetica, helvetica, {"<< /Broken [1 2 <<"}), "Unused member"},
        {"a line of junk before %PDF", "junk\n" + testsupport::writePdf(textPageObjects("Junk before")), "Junk before"},
        {"words after the table's entries", wordy, "Words in the table"},
        {"a key of no bytes before a number", withEmptyName("Empty key number", "/ 1"), "Empty key number"},
        {"a key of no bytes before a reference", withEmptyName("Empty key reference", "/ 5 0 R"),
         "Empty key reference"},
        {"a key of no bytes before null", withEmptyName("Empty key null", "/ null /Other /"), "Empty key null"},
        {"a glyph name of no bytes in a font's differences",
         testsupport::writePdf(textPageObjects("BXF AXF", differences)), "BXX AXX"},
        {"a stream's /Length reaching past endstream", lengthOff("Length too long", 30, "endstream"),
         "Length too long"},
        {"a stream's /Length past the end of the file", lengthOff("Length past the end", 100000, "endstream"),
         "Length past the end"},
        {"a stream's /Length short of endstream", lengthOff("Length too short", -10, "endstream"), "Length too short"},
        {"a stream's endstream misspelled", lengthOff("Misspelled endstream", 0, "endstreax"), "Misspelled endstream"},
        {"a free entry of the highest generation", highestGeneration, "Free entry"},
        {"an object of the highest generation nothing refers to", unusedHighest, "Unused object"},
        {"an empty name as a key, in the font the page uses",
         testsupport::writePdf(
             textPageObjects("Empty key", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica / 1 >>")),
         "Empty key"},
    };
    for (const auto& c : cases) {
        for (const bool drawnFirst : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (drawnFirst ? ", drawn first" : ", not drawn"));
            QTemporaryDir dir;
            const QString original = testsupport::writeFile(dir, "original.pdf", c.bytes);
            const QString wordsBefore = popplerText(original);
            const QImage before = popplerPage(original);
            ASSERT_TRUE(wordsBefore.contains(c.words)) << wordsBefore.toStdString();
            auto doc = PdfDocument::openFile(original.toStdString());
            if (drawnFirst) {
                ASSERT_FALSE(doc->render(0, 1.0).isNull());
            }
            addMark(*doc);
            EXPECT_FALSE(doc->copyShowsLess());
            platform::PdfSaveOptions asking = fileSave();
            asking.lossAccepted = false;
            const QString elsewhere = dir.filePath("elsewhere.pdf");
            try {
                doc->saveToFile(testsupport::chosen(original.toStdString()), fileSave());
                doc->saveToFile(testsupport::chosen(elsewhere.toStdString()), asking);
            } catch (const PdfError& error) {
                ADD_FAILURE() << "refused: " << error.what();
                continue;
            }
            for (const QString& saved : {original, elsewhere}) {
                EXPECT_EQ(PdfAnnotations::list(*PdfDocument::openFile(saved.toStdString()), 0).size(), 1u);
                EXPECT_EQ(popplerText(saved), wordsBefore);
                // Poppler draws the page as before, and the new square in its corner.
                const QImage after = popplerPage(saved);
                ASSERT_EQ(after.size(), before.size());
                EXPECT_EQ(after.copy(0, 0, 300, 200), before.copy(0, 0, 300, 200));
                EXPECT_NE(after.copy(200, 220, 60, 60), before.copy(200, 220, 60, 60));
                int exitCode = -1;
                const QString check = testsupport::runProgram("qpdf", {"--check", saved}, &exitCode);
                EXPECT_EQ(exitCode, 0) << check.toStdString();
                EXPECT_TRUE(tableEntriesFit(testsupport::readFile(saved)));
            }
            // The saved file, opened and saved again, as the user's next session does.
            const QString again = dir.filePath("again.pdf");
            try {
                PdfDocument::openFile(original.toStdString())
                    ->saveToFile(testsupport::chosen(again.toStdString()), fileSave());
            } catch (const PdfError& error) {
                ADD_FAILURE() << "not saved again: " << error.what();
                continue;
            }
            EXPECT_EQ(popplerText(again), wordsBefore);
            int exitCode = -1;
            const QString check = testsupport::runProgram("qpdf", {"--check", again}, &exitCode);
            EXPECT_EQ(exitCode, 0) << check.toStdString();
        }
    }
}

// ---------------------------------------------------------------- a write of the open document

// Files whose copies a write of the open document makes, each made when its test runs.
struct OpenDocumentFile {
    const char* what;
    std::function<QString(const QTemporaryDir& made)> path;
    QString password; // the open password, if any
    bool aes;         // encrypted with a random start for every string and stream
};

QString qpdfSuite(const char* name) { return QString::fromStdString(testsupport::qpdfCorpusPath(name)); }

// A signed file encrypted by another program, as users get it.
std::function<QString(const QTemporaryDir&)> signedEncryptedBy(const char* name, const QStringList& how)
{
    return [=](const QTemporaryDir& made) {
        const QString path = made.filePath(name);
        testsupport::runProgram("qpdf", QStringList{"--allow-weak-crypto"} + how
                                            + QStringList{qpdfSuite("digitally-signed.pdf"), path});
        return path;
    };
}

std::function<QString(const QTemporaryDir&)> hexCoded(const char* name, const char* filters)
{
    return [=](const QTemporaryDir& made) {
        return testsupport::writeFile(made, name, testsupport::hexCodedPdf("Hex coded", filters));
    };
}

const OpenDocumentFile openDocumentFiles[] = {
    {"plain, by pdfLaTeX",
     [](const QTemporaryDir&) { return QString::fromStdString(testsupport::corpusPath("pdflatex-4-pages.pdf")); },
     {},
     false},
    // A page that refers to an object holding null: a write into memory
    // leaves that object out, and the page's reference reaches nothing, as
    // it reached null before.
    {"plain, a reference to an object holding null",
     [](const QTemporaryDir& made) {
         auto referringToNull = textPageObjects("Refers to null");
         referringToNull[2].insert(referringToNull[2].size() - 2, "/PieceInfo 6 0 R ");
         referringToNull.push_back("null");
         return testsupport::writeFile(made, "null-reference.pdf", testsupport::writePdf(referringToNull));
     },
     {},
     false},
    // A page's thumbnail stored with a PNG predictor whose last row is cut
    // short: qpdf pads that row, MuPDF keeps it short. Its filter is an
    // array of one, which the writer spells as that one.
    {"plain, a thumbnail whose predictor's last row is cut short",
     [](const QTemporaryDir& made) {
         auto thumbnail = textPageObjects("Predictor cut short");
         thumbnail[2].insert(thumbnail[2].size() - 2, "/Thumb 6 0 R ");
         QByteArray rows;
         for (char row = 0; row < 8; ++row) rows += QByteArray(1, '\0') + QByteArray(3, row);
         rows += QByteArray("\0\x09", 2);
         const QByteArray flated = qCompress(rows).mid(4); // without the length Qt puts first
         thumbnail.push_back(pdfStream("/Width 1 /Height 8 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter "
                                       "[/FlateDecode] /DecodeParms [<< /Predictor 15 /Colors 3 /Columns 1 >>]",
                                       flated.toStdString()));
         return testsupport::writeFile(made, "predictor-cut-short.pdf", testsupport::writePdf(thumbnail));
     },
     {},
     false},
    {"RC4 with a password, by LibreOffice",
     [](const QTemporaryDir&) {
         return QString::fromStdString(testsupport::corpusPath("libreoffice-writer-password.pdf"));
     },
     "openpassword", false},
    {"RC4 (V4)", [](const QTemporaryDir&) { return qpdfSuite("V4.pdf"); }, {}, false},
    {"AES-128", [](const QTemporaryDir&) { return qpdfSuite("V4-aes.pdf"); }, {}, true},
    {"AES-256", [](const QTemporaryDir&) { return qpdfSuite("enc-XI-R6,V5,O=master.pdf"); }, {}, true},
    {"signed, ending in a cross-reference stream",
     [](const QTemporaryDir&) { return qpdfSuite("digitally-signed.pdf"); },
     {},
     false},
    // A signed file that ends in a cross-reference stream, with a classic
    // table appended after it, as another program (or an earlier ravlen) wrote it.
    {"signed, a table appended after a cross-reference stream",
     [](const QTemporaryDir& made) {
         return testsupport::writeFile(
             made, "mixed-signed.pdf",
             testsupport::withTableUpdate(testsupport::readFile(qpdfSuite("digitally-signed.pdf"))));
     },
     {},
     false},
    {"an object stream cut short in a token, ending in a cross-reference stream",
     [](const QTemporaryDir&) { return qpdfSuite("eof-reading-token.pdf"); },
     {},
     false},
    {"signed, AES-128 (a signed form)",
     [](const QTemporaryDir&) { return qpdfSuite("minimal-signed-restricted.pdf"); },
     {},
     true},
    {"signed, RC4 by qpdf",
     signedEncryptedBy("rc4.pdf", {"--encrypt", "", "owner", "128", "--use-aes=n", "--"}),
     {},
     false},
    {"signed, AES-128 by qpdf",
     signedEncryptedBy("aes128.pdf", {"--encrypt", "", "owner", "128", "--use-aes=y", "--"}),
     {},
     true},
    {"signed, AES-256 by qpdf", signedEncryptedBy("aes256.pdf", {"--encrypt", "", "owner", "256", "--"}), {}, true},
    // A signed form encrypted so, its signature dictionary its field too, not
    // typed /Sig, its /Contents stored in the clear.
    {"signed, AES-128, a field its own signature, its /Contents in the clear",
     [](const QTemporaryDir& made) {
         return testsupport::writeFile(made, "signed-form.pdf", testsupport::makeSignedEncryptedForm(made.path()));
     },
     {},
     true},
    {"signed, AES-256 by qpdf, objects in streams",
     signedEncryptedBy("aes256-streams.pdf", {"--object-streams=generate", "--encrypt", "", "owner", "256", "--"}),
     {},
     true},
    // MuPDF's writer strips the hex filter from the head of such lists in
    // the list it shares with the document.
    {"content and image stored [/ASCIIHexDecode]", hexCoded("hex.pdf", "[/ASCIIHexDecode]"), {}, false},
    {"content and image stored [/ASCIIHexDecode /FlateDecode]",
     hexCoded("hex-flate.pdf", "[/ASCIIHexDecode /FlateDecode]"),
     {},
     false},
    {"an image stored [/ASCIIHexDecode /DCTDecode]",
     hexCoded("hex-dct.pdf", "[/ASCIIHexDecode /DCTDecode]"),
     {},
     false},
};

void PrintTo(const OpenDocumentFile& c, std::ostream* out) { *out << c.what; }

class ACopyMadeFromTheOpenDocument : public ::testing::TestWithParam<OpenDocumentFile> {};

TEST_P(ACopyMadeFromTheOpenDocument, LeavesItsNextSaveAsTheFileWas)
{
    // Export, print, Share and Extract Pages write the open document into
    // memory, with or without its encryption, with a password of its own,
    // with or without what nothing refers to; MuPDF's writer changes the
    // document it writes. The user's next save must write the very bytes it
    // writes without that copy: the file encrypted with its password, its
    // signature valid, every page and word there for poppler and qpdf.
    QTemporaryDir made;
    const OpenDocumentFile& f = GetParam();
    const QString source = f.path(made);
    const auto withOptions = [](auto set) {
        return [set](PdfDocument& doc) {
            platform::PdfSaveOptions options;
            set(options);
            const QByteArray bytes = doc.save(options);
            EXPECT_FALSE(bytes.isEmpty());
            return bytes;
        };
    };
    // A shared copy is handed on: its user opens it in turn.
    const auto saveTo = [](const QString& path) {
        return [path](PdfDocument& doc) {
            doc.saveToFile(testsupport::chosen(path.toStdString()), fileSave());
            return QByteArray();
        };
    };
    const struct {
        const char* what;
        std::function<QByteArray(PdfDocument&)> write;
        bool handedOn = false;
        bool saved = false; // an update is read again, and the next save follows it
    } roads[] = {
        {"Save (written anew, or an update of a signed file)", saveTo(made.filePath("own.pdf")), false, true},
        {"Save As", saveTo(made.filePath("other.pdf")), false, true},
        {"a copy (print, Extract Pages, a page duplicated)",
         [](PdfDocument& doc) {
             EXPECT_TRUE(doc.copy());
             return QByteArray();
         }},
        {"an export's snapshot", withOptions([](platform::PdfSaveOptions& o) {
             o.encryption = platform::PdfSaveOptions::Encryption::none;
             o.garbageCollect = true;
         })},
        {"a shared copy", withOptions([](platform::PdfSaveOptions& o) { o = fileSave(); }), true},
        {"a copy with a password of its own", withOptions([](platform::PdfSaveOptions& o) {
             o.encryption = platform::PdfSaveOptions::Encryption::aes256;
             o.userPassword = "user";
             o.ownerPassword = "owner";
             o.garbageCollect = true;
         })},
        {"pages taken into another document",
         [](PdfDocument& doc) {
             const auto other = PdfDocument::createBlank();
             EXPECT_EQ(platform::graftPages(*other, doc, {0}).size(), 1u);
             return QByteArray();
         }},
    };
    ASSERT_TRUE(QFile::exists(source)) << source.toStdString();
    const auto open = [&](const QString& path) {
        auto doc = PdfDocument::openFile(path.toStdString());
        if (!f.password.isEmpty()) {
            EXPECT_TRUE(doc->unlock(f.password.toStdString()));
        }
        return doc;
    };
    const QStringList passwordArgs = f.password.isEmpty() ? QStringList{} : QStringList{"-upw", f.password};
    const QString wordsBefore = testsupport::runProgram("pdftotext", passwordArgs + QStringList{"-q", source, "-"});
    ASSERT_FALSE(wordsBefore.trimmed().isEmpty());
    const QString infoBefore = testsupport::runProgram("pdfinfo", passwordArgs + QStringList{source});
    const QString pagesBefore = QRegularExpression("Pages: +\\d+\\n").match(infoBefore).captured();
    ASSERT_FALSE(pagesBefore.isEmpty());
    const bool encrypted = infoBefore.contains(QRegularExpression("Encrypted:\\s+yes"));
    const bool signatureValid = testsupport::signaturesValid(source, f.password);
    const bool signatureHolds = testsupport::signatureHolds(source);
    int checkBefore = -1; // qpdf warns about some of these files as they come
    testsupport::runProgram("qpdf", {"--password=" + f.password, "--check", source}, &checkBefore);
    // Page 1 as poppler draws it, the corner addMark marks painted over.
    const auto drawn = [&](const QString& path) {
        QTemporaryDir out;
        testsupport::runProgram(
            "pdftoppm",
            passwordArgs + QStringList{"-r", "36", "-png", "-singlefile", "-l", "1", path, out.filePath("page")});
        QImage page(out.filePath("page.png"));
        QPainter(&page).fillRect(98, page.height() - 42, 34, 34, Qt::white);
        return page;
    };
    const QImage drawnBefore = drawn(source);
    ASSERT_FALSE(drawnBefore.isNull());
    // Every page and word there for poppler, encrypted as the file, no
    // more damage for qpdf, the signature as valid as it was.
    const auto readWholeAsTheFile = [&](const QString& path) {
        EXPECT_EQ(testsupport::runProgram("pdftotext", passwordArgs + QStringList{"-q", path, "-"}).toStdString(),
                  wordsBefore.toStdString());
        EXPECT_TRUE(drawn(path) == drawnBefore);
        const QString info = testsupport::runProgram("pdfinfo", passwordArgs + QStringList{path});
        EXPECT_TRUE(info.contains(pagesBefore)) << info.toStdString();
        EXPECT_EQ(info.contains(QRegularExpression("Encrypted:\\s+yes")), encrypted);
        int exitCode = -1;
        const QString check = testsupport::runProgram("qpdf", {"--password=" + f.password, "--check", path}, &exitCode);
        EXPECT_TRUE(exitCode == 0 || exitCode == checkBefore) << check.toStdString();
        EXPECT_EQ(testsupport::signaturesValid(path, f.password), signatureValid);
        EXPECT_EQ(testsupport::signatureHolds(path), signatureHolds);
    };
    QTemporaryDir dir;
    // The save with no copy before it.
    const QString plain = dir.filePath("plain.pdf");
    {
        auto doc = open(source);
        addMark(*doc);
        doc->saveToFile(testsupport::chosen(plain.toStdString()), fileSave());
    }
    const int marksBefore = int(PdfAnnotations::list(*open(source), 0).size());
    // Written before the user's change, or after it: then the copy holds
    // an update of the file's own (a signed file's, or one kept so).
    for (const auto& road : roads)
        for (const bool markedFirst : {false, true}) {
            SCOPED_TRACE(std::string(road.what) + (markedFirst ? ", after a mark" : ", before a mark"));
            // Opened from a file of its own, which Save writes over.
            auto doc = open(testsupport::writeFile(made, "own.pdf", testsupport::readFile(source)));
            if (markedFirst) addMark(*doc);
            // No write changes the document it writes.
            const std::uint64_t digest = platform::documentDigest(*doc);
            const QByteArray written = road.write(*doc);
            EXPECT_EQ(platform::documentDigest(*doc), digest);
            if (!markedFirst) addMark(*doc);
            const QString saved = dir.filePath("saved.pdf");
            const std::uint64_t marked = platform::documentDigest(*doc);
            doc->saveToFile(testsupport::chosen(saved.toStdString()), fileSave());
            EXPECT_EQ(platform::documentDigest(*doc), marked);
            if (f.aes && !road.saved) {
                // Encrypted from random starts, the bytes differ; where they lie does not.
                EXPECT_EQ(testsupport::withoutSaveIdentity(testsupport::readFile(saved)).size(),
                          testsupport::withoutSaveIdentity(testsupport::readFile(plain)).size());
                const QByteArray objects = testsupport::decryptedObjects(saved, f.password);
                EXPECT_FALSE(objects.isEmpty());
                EXPECT_TRUE(objects == testsupport::decryptedObjects(plain, f.password));
            } else if (!road.saved) {
                EXPECT_TRUE(testsupport::withoutSaveIdentity(testsupport::readFile(saved))
                            == testsupport::withoutSaveIdentity(testsupport::readFile(plain)));
            }
            readWholeAsTheFile(saved);
            if (!road.handedOn || !markedFirst) continue;
            // The copy handed on is a file of its own: its user opens it,
            // adds a mark and saves it, and every reader reads it whole, the
            // signature valid, as they read the copy.
            const QString copy = testsupport::writeFile(dir, "copy.pdf", written);
            // An update of the file's own bytes is followed, in turn, by an update of the copy's.
            const bool update = written.startsWith(testsupport::readFile(source));
            EXPECT_EQ(testsupport::signaturesValid(copy, f.password), signatureValid);
            {
                auto reopened = open(copy);
                addMark(*reopened);
                try {
                    reopened->saveToFile(testsupport::chosen(copy.toStdString()), fileSave());
                } catch (const PdfError& error) {
                    ADD_FAILURE() << "the copy was not saved: " << error.what();
                    continue;
                }
            }
            if (update) {
                EXPECT_TRUE(testsupport::readFile(copy).startsWith(written));
            }
            EXPECT_EQ(PdfAnnotations::list(*open(copy), 0).size(), size_t(marksBefore + 2));
            readWholeAsTheFile(copy);
        }
}

INSTANTIATE_TEST_SUITE_P(PdfSaveFidelity, ACopyMadeFromTheOpenDocument, ::testing::ValuesIn(openDocumentFiles),
                         [](const auto& info) { return testsupport::testName(info.param.what); });

} // namespace
