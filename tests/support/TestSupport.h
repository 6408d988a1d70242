#pragma once
#include "Platform/FileReplacement.h"

#include <QDateTime>
#include <QFileDevice>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The file index's reader confines itself with a system-call filter that
// AddressSanitizer's runtime does not fit in, so tests that need it to read a
// PDF or draw a thumbnail skip themselves (or those checks) in the sanitizer
// build (the normal build runs them).
#if defined(__SANITIZE_ADDRESS__)
#define RAVLEN_SKIP_WITHOUT_CONFINED_READER() GTEST_SKIP() << "the confined reader does not run under the sanitizer"
#else
#define RAVLEN_SKIP_WITHOUT_CONFINED_READER() (void)0
#endif

namespace testsupport {

// The file at `path` as the question about it makes it, the user having
// agreed to write over what is there.
platform::ChosenFile chosen(const std::string& path);
platform::ChosenFile chosen(const QString& path);

#if defined(__SANITIZE_ADDRESS__)
constexpr bool confinedReaderRuns = false;
#else
constexpr bool confinedReaderRuns = true;
#endif

// Points the windows' settings (RAVLEN_CONFIG_DIR) at a private folder that
// lives as long as the test program, unless the caller's environment names one;
// settings never reach the user's own. Returns true, for use as a static initializer.
bool usePrivateConfigDir();

// The folder of sample PDFs made by other programs, beside the project.
std::string corpusDir();
std::string corpusPath(const std::string& name);
// A file of the tests' own (tests/data, see its README).
std::string testDataPath(const std::string& name);
// A file of the PDF library's test suite kept beside the corpus (corpus-qpdf).
std::string qpdfCorpusPath(const std::string& name);
// Every PDF in the corpus, sorted by name.
std::vector<std::string> corpusPdfs();
// The whole of a file; empty when it cannot be read.
QByteArray readFile(const QString& path);
// Makes `bytes` the whole of the file at `path`, making its folder first and
// giving it `permissions` when some are named; true when it all went well. A file
// that cannot be written fails the running test as well.
bool writeFile(const QString& path, const QByteArray& bytes, QFileDevice::Permissions permissions = {});
// The same for the file `name` in `dir`; returns the file's path.
QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);

// A file written at the bottom of folders (the user's, 0755) whose names make
// its own path longer than the system's limit for one path, under `top`, and
// reached from there by links of short paths. The folders, which QDir cannot
// reach, go with it.
struct LongWay {
    LongWay(const QString& top, const QByteArray& bytes);
    ~LongWay();
    LongWay(const LongWay&) = delete;
    LongWay& operator=(const LongWay&) = delete;
    QString path;  // by the links: top/down/down/file; empty when it could not be made
    QString whole; // its own path

private:
    QString top_;
};

// A PDF of `pages` pages, each with a line of text "Page N" in 24-point Helvetica,
// written by hand so that tests do not depend on the code they check.
// With a `title`, the document info holds it as the title.
QByteArray makeTextPdf(int pages, const std::string& extraText = {}, const std::string& title = {});
// Pages of the given sizes (points) painted black to their edges, each with a
// white 100-point square in its top-left corner and "Page N" in white.
QByteArray makeDarkPagesPdf(const std::vector<std::pair<int, int>>& sizes);
// Two pages drawn in layers, as drawing and mapping programs make them: the
// layer "Shown" is on, "Hidden" off (`hiddenOn` turns it on instead, and
// "Shown" off). Page 1 shows words of each layer over a square of each (the
// hidden grey one over the shown blue one), a red square only "Hidden" shows
// (through a membership dictionary), a form object and a mark in "Hidden",
// and a mark in "Shown"; page 2 words of each.
QByteArray layeredPdf(bool hiddenOn = false);
// Page `page` (from 0) of the PDF file at `path` as poppler draws it
// (pdftoppm) at `dpi` dots an inch; null when it draws none.
QImage popplerPage(const QString& path, int page, int dpi = 36);
// How far two drawings of a page differ: the mean difference of their
// channels, 0 to 255; -1 when they are not of one size.
double meanDifference(const QImage& a, const QImage& b);
// The entry `key` ("/OCProperties") of the catalog of the PDF file at `path`
// as qpdf reads it, written out with every object it refers to in place
// ("5 0 R=<< … >>"): equal for two files that hold the same there, under the
// same numbers. Empty without the entry.
QString catalogEntry(const QString& path, const QString& key);
// What another program prints (standard output and error together) when run
// with `arguments`, waiting up to a minute; its exit code in `exitCode`
// (-1 when it did not end normally).
QString runProgram(const QString& program, const QStringList& arguments, int* exitCode = nullptr);
// Whether pdfsig finds the file's signatures valid, none invalid (a file
// without one: false). `password` opens an encrypted file.
bool signaturesValid(const QString& path, const QString& password = {});
// The bytes of a saved PDF but for what differs between two saves of the
// same document whatever came before them: the second half of /ID, new at
// every save, and where the last table starts, which moves when that half
// is written out longer (as a literal string).
QByteArray withoutSaveIdentity(const QByteArray& bytes);
// The objects of the PDF at `path` decrypted (with `password`, if any), in
// qpdf's canonical form (its streams decoded): what an AES-encrypted file
// holds, whose bytes differ at every save, each string and stream
// encrypted from a random start. Empty when qpdf cannot read it.
QByteArray decryptedObjects(const QString& path, const QString& password = {});
// The same pages, each one's content carrying a comment of noise, so that the
// file takes at least `bytes`: a file too long to be held whole when opened.
QByteArray makeLongTextPdf(int pages, std::size_t bytes);
// A flat page tree of `pages` blank letter pages, the one at index
// `landscape` turned on its side. The root claims `claimed` pages (all of
// them when negative), and unused objects pad the file to `objects`, so that
// a false claim can still look plausible.
QByteArray makeBlankPagesPdf(int pages, int landscape, int claimed = -1, int objects = 0);
// Two pages; the content of the first never finishes: form objects nested
// twelve deep, each drawing the next ten times (10^12 squares). Page 2 reads "Page 2".
QByteArray makeEndlessPagePdf();
// Two pages; the content of the first inflates (one Flate stream) to `bytes`
// bytes of spaces, without a single operator. Page 2 reads "Page 2".
QByteArray makeSilentPagePdf(std::size_t bytes);
// One page whose content paints its upper half red, then fails (`how`), and
// would paint its lower half blue after the failure.
enum class PageFailure { zeroWidthImage, selfDrawingType3Font };
QByteArray makeHalfDrawnPagePdf(PageFailure how);
// One page showing a JBIG2 image that claims `side` by `side` pixels in a few
// bytes of data (a decompression bomb: decoding it asks for side² / 8 bytes).
QByteArray makeJbig2BombPdf(int side);
// One page reading "Signed page" with a signature field whose /Contents is a
// detached CMS signature over every byte but that string, made by openssl
// with a key it makes in `folder`. Empty when openssl fails or is missing.
// Unless `listedInForm`, the form's field list leaves the signature out and
// only the page's marks hold it, as some signing programs write it. With
// `wordyTable`, words follow each entry of the cross-reference table before
// it is signed: other readers read past them, and MuPDF rebuilds the table.
QByteArray makeSignedPdf(const QString& folder, bool listedInForm = true, bool wordyTable = false);
// A signed form encrypted with AES-128 (revision 4) and an empty open
// password, as some signing programs write one: one page reading "Signed
// page" whose one field is its own widget and its own signature dictionary
// (/FT /Sig, no /Type /Sig), its /Contents stored in the clear as the
// standard asks, every other string encrypted. qpdf encrypts it, openssl
// signs it with a key it makes in `folder`. Empty when either fails.
QByteArray makeSignedEncryptedForm(const QString& folder);
// Whether the first signature of the PDF at `path` holds over the bytes its
// /ByteRange names, checked by openssl with the signature's own certificate
// (the signer is not judged): its /Contents read byte for byte from the file.
bool signatureHolds(const QString& path);
// The value of a signature field, to be signed by signPdf: a detached CMS
// signature over every byte but its /Contents string, which holds zeros.
std::string unsignedSignature();
// The PDF with the signature unsignedSignature wrote into it signed by
// openssl, with a key it makes in `folder`. Empty when openssl fails or is
// missing, or the PDF holds no such signature.
QByteArray signPdf(QByteArray pdf, const QString& folder);
// The PDF at `path` signed by poppler (pdfsig -add-signature), in an update
// it appends, with a key openssl makes in `folder` and an NSS database made
// there for it (certutil, pk12util). Empty when any of them fails or is missing.
QByteArray signWithPoppler(const QString& path, const QString& folder);
// A PDF file of the given objects, numbered from 1 in order (object 1 is the
// catalog), with a correct cross-reference table; `trailerExtra` is added to the trailer.
QByteArray writePdf(const std::vector<std::string>& objects, const std::string& version = "1.4",
                    const std::string& trailerExtra = {});
// `pdf` with an update appended as another program may write it: one new
// object nothing refers to, listed by a classic cross-reference table whose
// trailer carries the last trailer's /Root, /Info, /ID and /Encrypt and
// points back (/Prev) to the section the file ended with. Appended to a file
// that ends in a cross-reference stream, it makes a file of both kinds. The
// object takes the number after the highest, or `number` where given: the
// file's numbers then run that high.
QByteArray withTableUpdate(const QByteArray& pdf, int number = 0);
// A stream object holding `data`, its dictionary holding `dict` too.
std::string pdfStream(const std::string& dict, const std::string& data);
// The objects of a one-page PDF for writePdf: a 300-point square page
// showing `words` in font /F1, which is object 5 (`font`); the content is
// object 4.
std::vector<std::string> textPageObjects(const std::string& words,
                                         const std::string& font = "<< /Type /Font /Subtype /Type1 /BaseFont "
                                                                   "/Helvetica >>");

// A one-page PDF as older producers write it, whose content stream and
// image (rainbow bars) are stored through `filters`, a list that starts with
// /ASCIIHexDecode: "[/ASCIIHexDecode]", "[/ASCIIHexDecode /FlateDecode]"
// (with a predictor's decode parameters for the image) or
// "[/ASCIIHexDecode /DCTDecode]" (the image a JPEG, the content hex alone).
// The page shows `words` above the bars, both above the corner addMark uses.
QByteArray hexCodedPdf(const std::string& words, const std::string& filters);

// A one-page PDF as textPageObjects makes it whose font is named with 145
// bytes, longer than MuPDF keeps (poppler and qpdf read it): in a resources
// dictionary of its own (object 6), which the page shares, or, when
// `inPage`, in the page's own.
QByteArray longFontNamePdf(const std::string& words, bool inPage = false);

// The objects of textPageObjects, its font moved into an object stream
// (object 5) whose compressed bytes decode to `font` but end in the check
// sum of `written` (a stream a program wrote, then damaged, unless the two
// are the same). The stream holds `members` (objects 6, 7, …) before the
// font, which comes last. The table is a cross-reference stream, as such
// files have.
QByteArray objectStreamPdf(const std::string& words, const std::string& written, const std::string& font,
                           const std::vector<std::string>& members = {});
// A one-page PDF 1.3 showing `words` whose cross-reference stream (rows of
// /W [1 2 2], uncompressed) went through a text conversion that turned
// every byte from 0x80 up into EF BF BD, its /Length left as it was: the
// page's row reads as generation 49085 and the rows after it (the catalog
// and the document information) as free. The page object comes first.
QByteArray textConvertedTablePdf(const std::string& words);
// One entry of a zip archive written byte by byte, so that tests can make
// archives that libarchive's own writer refuses to: names that are not UTF-8,
// named pipes, devices. Stored uncompressed; `mode` holds the file type bits
// too (as a Unix zip tool records them), and `utf8Flag` the zip's UTF-8 flag.
struct RawZipEntry {
    QByteArray name;
    QByteArray data;
    unsigned mode = 0100644;
    bool utf8Flag = false;
};
QByteArray makeRawZip(const std::vector<RawZipEntry>& entries);
// While it lives, files of this process cannot grow beyond `bytes`: a write
// past that fails as on a full disk (the signal the kernel would send is ignored).
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long long saved_ = 0;
    void (*handler_)(int) = nullptr;
};

// Holds the workers that run its hook (a worker hook of the code under test)
// until released, and releases them at the latest when it goes, so that a
// failed assertion never leaves a worker waiting.
class WorkerGate {
public:
    WorkerGate() = default;
    ~WorkerGate() { release(); }
    WorkerGate(const WorkerGate&) = delete;
    WorkerGate& operator=(const WorkerGate&) = delete;

    // Each call of the hook notes a worker arrived and waits for release().
    std::function<void()> hook() const;
    // Runs the event loop until a worker has arrived; true when one did.
    bool waitUntilReached() const;
    void release();

private:
    struct State;
    std::shared_ptr<State> state_ = makeState();
    static std::shared_ptr<State> makeState();
};

// A parameterized test's name made of a case's words: "a text, drawn" is
// "ATextDrawn" (gtest takes letters, digits and underscores).
std::string testName(std::string_view words);

// Runs the event loop until `condition` holds or `timeoutMs` passes; true when it held.
// Generous time-outs cost nothing when the condition comes true early.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 30000);

// A moment about `seconds` before now that is still today in local time, even just after
// midnight: the offset is scaled by the part of the day that has passed, which keeps the
// order of several such moments. For tests that expect an entry under "Today".
QDateTime earlierToday(qint64 seconds);

} // namespace testsupport
