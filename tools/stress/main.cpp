// ravlen-stress [--keep FOLDER] FOLDER…: runs every PDF under the folders
// through the PDF layer (open, render each page at 72 dpi, extract text, add a
// text box, write to memory, open again, and round-trip one mark of each kind
// on the first page), each file in a child process so that a crash or a hang is
// counted against that file and the run goes on. A copy of each file is then
// saved through the window's own save (its checks included): with no edit (the
// page count stays), then exported as the window's Export writes "PDF" and
// "Flattened PDF", then saved with a new mark (it is there when reopened) and,
// for a signed file, with the signature still valid. After each save a second
// reader (poppler: pdfinfo, pdftotext) must read the copy as it read the
// original: the same pages, sizes and rotations, and words. Poppler also draws
// the first pages of the original, of the copy saved with no edit and of each
// export (pdftoppm at 30 dpi, each page's crop box as readers show it): pixels
// that differ, and other words or pages in an export, are listed apart for a
// person to judge, not failed, as a form that asks readers to draw its fields
// is drawn anew on a save by design; --keep keeps those files. Saves the
// window's checks refuse (the file is left byte for byte) and files that open
// but cannot be written are counted apart from failures; so are signed files
// whose signed revision keeps the round trip's deleted marks, as an incremental
// save must. A refused save takes the road the window offers, Save As: that
// copy must be written and read by poppler, its drawing is compared too, and
// qpdf's check of the file says whether it is damaged. A file ravlen does not
// open is counted apart from failures when poppler cannot read it either, and a
// PDF without pages passes when its save is declined as such. Every outside
// program runs in a process group of its own under a time limit, and is killed
// with its group.
#include "Platform/PdfAnnotations.h"
#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Export/ExportJob.h"
#include "tools/stress/MarksRoundTrip.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Every step (opening, one page, writing and reopening) must report progress
// within this time; a file as a whole gets at most the cap.
constexpr std::chrono::seconds stepBudget{10};
constexpr std::chrono::seconds fileCap{600};

// ---------------------------------------------------------------- child

void send(int fd, const std::string& line)
{
    const std::string data = line + "\n";
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += size_t(n);
    }
}

std::string oneLine(std::string s)
{
    std::replace(s.begin(), s.end(), '\n', ' ');
    return s;
}

// A text box in several scripts on the first page; it must come back with its words.
constexpr const char* textBoxWords = "café α Ωμέγα Кириллица 日本語";

void addTextBox(platform::PdfDocument& doc)
{
    platform::PdfAnnotation box;
    box.subtype = "FreeText";
    box.rect = {36, 36, 300, 40};
    box.contents = textBoxWords;
    box.fontName = "Helv";
    box.fontSize = 12;
    box.fontColor = platform::PdfColor{};
    platform::PdfAnnotations::add(doc, 0, box);
}

// The box's words, and the words its appearance draws, must be the ones written.
void checkTextBox(const platform::PdfDocument& doc)
{
    for (const auto& a : platform::PdfAnnotations::list(doc, 0)) {
        if (a.subtype != "FreeText" || a.contents != textBoxWords) continue;
        std::string drawn = platform::PdfAnnotations::drawnText(doc, 0, a.objectNumber);
        while (!drawn.empty() && std::isspace((unsigned char)drawn.back())) drawn.pop_back();
        if (drawn == textBoxWords) return;
        throw std::runtime_error("the text box draws \"" + oneLine(drawn) + "\"");
    }
    throw std::runtime_error("the text box's words did not come back");
}

// ---------------------------------------------------------------- saving a copy

// Thrown when a file that opened cannot be written: counted on its own.
struct Unsaveable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Thrown when the window's save check declines a save and the file is left
// as it was, or a damaged page takes no mark: counted on its own.
struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Thrown when a PDF without pages is not saved, as none is written.
struct NoPages : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Adds a mark; a page whose dictionary is damaged takes none, which the
// window reports without recording a change: a refusal, not a failure.
template <typename Add>
void addingMark(const char* what, Add&& add)
{
    try {
        add();
    } catch (const platform::PdfError& e) {
        if (e.code() == platform::PdfErrorCode::damagedPage) throw Refused(std::string(what) + ": " + e.what());
        throw;
    }
}

std::string readBytes(const std::string& path)
{
    FILE* in = std::fopen(path.c_str(), "rb");
    std::string data;
    if (!in) return data;
    char chunk[1 << 16];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) data.append(chunk, n);
    std::fclose(in);
    return data;
}

// ---------------------------------------------------------------- outside programs

// Each outside program (poppler's, qpdf) runs in a process group of its own
// and gets this long; at it the whole group is killed, and the run counts as
// unanswered: a program that never ends (pdfsig loops on some forms) is no
// hang of ravlen's, and is never left behind. The child names each program's
// group to the parent before it runs, which kills that group too when it
// gives up on the child.
constexpr std::chrono::seconds programLimit{8};

// The child's end of the pipe to the parent (-1 in the parent).
int reportFd = -1;

struct ProgramRun {
    std::string output;
    bool answered = false; // it ran and ended within its time
    int status = 0;        // as waitpid gives it, when answered
};

// Runs `command` for `limit` at most and gives what it printed (its errors
// too, unless `errors` is false).
ProgramRun runProgram(const std::vector<std::string>& command, bool errors = true,
                      std::chrono::seconds limit = programLimit)
{
    ProgramRun run;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    if (errors) posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    else posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // A group of its own, with the signals a program expects: the tool
    // ignores SIGPIPE.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t mask;
    sigemptyset(&mask);
    posix_spawnattr_setsigmask(&attributes, &mask);
    sigaddset(&mask, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &mask);
    std::vector<char*> argv;
    for (const auto& part : command) argv.push_back(const_cast<char*>(part.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return run;
    }
    if (reportFd >= 0) send(reportFd, "program " + std::to_string(pid) + " " + std::to_string(limit.count()));
    const auto deadline = Clock::now() + limit;
    const auto left = [&] {
        return std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    };
    char chunk[4096];
    for (bool open = true; open && left() > 0;) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, int(std::min<long long>(left(), 1000))) <= 0) continue;
        const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) open = false;
        else run.output.append(chunk, size_t(n));
    }
    ::close(fds[0]);
    // Its end, seen without reaping it: until it is reaped, the group's
    // number stays its own, and whatever it left in the group is killed.
    siginfo_t info = {};
    while (left() > 0) {
        info.si_pid = 0;
        if (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) break;
        ::usleep(10'000);
    }
    run.answered = info.si_pid == pid;
    ::kill(-pid, SIGKILL);
    while (::waitpid(pid, &run.status, 0) < 0 && errno == EINTR) {}
    if (reportFd >= 0) send(reportFd, "step " + command[0] + (run.answered ? " ran" : " killed at its time limit"));
    return run;
}

std::string outputOf(const std::vector<std::string>& command, bool errors = true)
{
    return runProgram(command, errors).output;
}

bool signatureValid(const std::string& path)
{
    return outputOf({"pdfsig", path}).find("Signature is Valid") != std::string::npos;
}

// ---------------------------------------------------------------- a second reader

// What poppler reads of a file: its pages, each page's size and rotation as
// pdfinfo gives them, and each page's words. ravlen's own read-back cannot
// see what only other readers lose (a mark drawn from an appearance MuPDF
// made, a font written as null, a name cut on one side).
struct PopplerReading {
    bool read = false; // poppler could read the file at all
    int pages = 0;
    std::vector<std::string> geometry; // "size: … rot: …" of each page
    std::vector<std::string> text;     // each page's words, spaces collapsed
};

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string words(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

PopplerReading popplerRead(const std::string& path)
{
    PopplerReading r;
    int claimed = 0;
    for (const std::string& line : lines(outputOf({"pdfinfo", path}, false)))
        if (line.rfind("Pages:", 0) == 0) {
            claimed = std::atoi(line.c_str() + 6);
            r.read = true;
        }
    if (!r.read || claimed <= 0) return r;
    // "Page    3 size: 595.28 x 841.89 pts (A4)", then "Page    3 rot:  90".
    // A page the tree claims but poppler cannot find is "0 x 0": no page.
    std::vector<std::string> geometry(static_cast<size_t>(claimed));
    for (const std::string& line :
         lines(outputOf({"pdfinfo", "-f", "1", "-l", std::to_string(claimed), path}, false))) {
        if (line.rfind("Page ", 0) != 0) continue;
        const int page = std::atoi(line.c_str() + 5);
        const size_t colon = line.find(':');
        if (page < 1 || page > claimed || colon == std::string::npos) continue;
        geometry[size_t(page - 1)] += words(line.substr(line.find_last_of(' ', colon) + 1)) + " ";
    }
    for (const std::string& page : geometry)
        if (page.rfind("size: 0 x 0 ", 0) != 0) r.geometry.push_back(page);
    r.pages = int(r.geometry.size());
    const std::string text = outputOf({"pdftotext", "-q", path, "-"}, false);
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\f', start), text.size());
        r.text.push_back(words(text.substr(start, end - start)));
        start = end + 1;
    }
    return r;
}

// Throws when poppler reads less of the saved copy than of the original:
// fewer or more pages, a page of another size or rotation, other words.
// `after` ends each message ("" or " after …"). Without `geometry`, pages
// may be of another size or rotation (a flattened page is drawn upright).
void checkSecondReader(const PopplerReading& original, const std::string& copy, const std::string& after,
                       bool geometry = true)
{
    if (!original.read) return; // poppler cannot read the original either
    const PopplerReading saved = popplerRead(copy);
    if (!saved.read) throw std::runtime_error("poppler cannot read the copy" + after);
    if (saved.pages != original.pages)
        throw std::runtime_error("poppler reads " + std::to_string(saved.pages) + " pages instead of "
                                 + std::to_string(original.pages) + after);
    for (size_t i = 0; geometry && i < original.geometry.size(); ++i)
        if (saved.geometry[i] != original.geometry[i])
            throw std::runtime_error("poppler reads page " + std::to_string(i + 1) + " as " + saved.geometry[i]
                                     + "instead of " + original.geometry[i] + after);
    for (size_t i = 0; i < original.text.size(); ++i)
        if (i >= saved.text.size() || saved.text[i] != original.text[i])
            throw std::runtime_error("poppler reads other words on page " + std::to_string(i + 1) + after);
}

// ---------------------------------------------------------------- what poppler draws

// Poppler draws the first pages of the original and of each copy at a low
// resolution, and the pixels are compared. A difference is listed for a
// person to judge, not failed: a form that asks readers to draw its fields
// is drawn anew on a save, by design.
constexpr int drawnPages = 10;
constexpr const char* drawnResolution = "30";

struct PopplerDrawing {
    bool drawn = false; // pdftoppm ended in its time, with a page at least
    std::vector<QImage> pages;
};

// Draws the file's first pages into the new folder `folder`.
PopplerDrawing popplerDraw(const std::string& path, const std::string& folder)
{
    PopplerDrawing drawing;
    std::error_code error;
    if (!std::filesystem::create_directory(folder, error)) return drawing;
    // The crop box, as readers show a page: a flattened page is drawn to it.
    const ProgramRun run = runProgram({"pdftoppm", "-cropbox", "-r", drawnResolution, "-l", std::to_string(drawnPages),
                                       "-png", path, folder + "/page"},
                                      false);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) names.push_back(entry.path());
    // pdftoppm pads the page numbers of one file to one width.
    std::sort(names.begin(), names.end());
    for (const auto& name : names) drawing.pages.emplace_back(QString::fromStdString(name));
    drawing.drawn = run.answered && !drawing.pages.empty();
    return drawing;
}

// Pixels alike but for rounding: each channel within 8 of 255.
bool alike(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 8 && std::abs(qGreen(a) - qGreen(b)) <= 8
           && std::abs(qBlue(a) - qBlue(b)) <= 8;
}

// Empty when poppler draws the copy as it draws the original; else how many
// pixels differ, and on which pages.
std::string drawnDifference(const PopplerDrawing& original, const PopplerDrawing& copy)
{
    if (!copy.drawn) return "poppler draws no page of it";
    long long differing = 0, all = 0;
    std::string where;
    for (size_t i = 0; i < original.pages.size(); ++i) {
        const QImage a = original.pages[i].convertToFormat(QImage::Format_RGB32);
        const long long area = (long long)a.width() * a.height();
        all += area;
        long long n = area; // a page missing, or of another size, differs whole
        if (i < copy.pages.size() && copy.pages[i].size() == a.size()) {
            const QImage b = copy.pages[i].convertToFormat(QImage::Format_RGB32);
            n = 0;
            for (int y = 0; y < a.height(); ++y) {
                const auto* lineA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
                const auto* lineB = reinterpret_cast<const QRgb*>(b.constScanLine(y));
                for (int x = 0; x < a.width(); ++x) n += !alike(lineA[x], lineB[x]);
            }
        }
        if (n == 0) continue;
        differing += n;
        where += (where.empty() ? "" : ", ") + std::to_string(i + 1);
    }
    std::string extra;
    if (copy.pages.size() != original.pages.size())
        extra = std::to_string(copy.pages.size()) + " pages drawn of " + std::to_string(original.pages.size()) + "; ";
    if (differing == 0) return extra.empty() ? extra : extra.substr(0, extra.size() - 2);
    return extra + std::to_string(differing) + " of " + std::to_string(all) + " pixels differ (page " + where + ")";
}

// With --keep, the original and the copies poppler draws or reads
// differently are kept in this folder, one folder each, to be looked at.
std::string keepFolder;

// Compares what poppler draws and reads of `file` with the original, and
// reports each difference as a "differs …" line.
struct DrawnComparison {
    std::string source;     // the original's path
    PopplerReading reading; // of the original
    PopplerDrawing drawing; // of the original
    std::string scratch;    // the file's scratch folder
    int fd = -1;

    void compare(const std::string& what, const std::string& file, const std::string& name, bool words) const
    {
        if (!drawing.drawn || reading.pages == 0) return; // poppler cannot draw the original either
        std::string difference = drawnDifference(drawing, popplerDraw(file, scratch + "/" + name));
        if (words) {
            try {
                checkSecondReader(reading, file, "", false);
            } catch (const std::runtime_error& e) {
                difference += (difference.empty() ? "" : "; ") + std::string(e.what());
            }
        }
        if (difference.empty()) return;
        send(fd, "differs " + what + ": " + oneLine(difference));
        if (keepFolder.empty()) return;
        namespace fs = std::filesystem;
        const fs::path source(this->source);
        const fs::path kept =
            fs::path(keepFolder) / (source.parent_path().filename().string() + "-" + source.filename().string());
        std::error_code error;
        fs::create_directories(kept, error);
        fs::copy_file(source, kept / "original.pdf", fs::copy_options::overwrite_existing, error);
        fs::copy_file(file, kept / (name + ".pdf"), fs::copy_options::overwrite_existing, error);
    }
};

// Exports the document as the window's Export does (a snapshot of the
// document as it stands, all pages) to `destination`.
void exportAs(const platform::PdfDocument& doc, quarnkit::ExportFormat format, const std::string& destination, int fd)
{
    quarnkit::ExportSettings settings;
    settings.format = format;
    for (int i = 0; i < doc.pageCount(); ++i) settings.pages.push_back(i);
    settings.baseName = "copy";
    const QByteArray snapshot = quarnkit::ExportSnapshot::data(doc);
    if (snapshot.isEmpty()) throw quarnkit::ExportError(quarnkit::ExportError::Kind::unreadable);
    const std::string title = quarnkit::ExportFormats::title(format).toStdString();
    quarnkit::ExportJob::run(
        settings, snapshot, QString::fromStdString(destination),
        [&](const quarnkit::ExportStep& step) { send(fd, "step export " + title + " " + std::to_string(step.done)); });
}

std::shared_ptr<platform::PdfDocument> openUnlocked(const std::string& path)
{
    auto doc = platform::PdfDocument::openFile(path);
    if (doc->isLocked()) doc->unlock("");
    return doc;
}

int markCount(const platform::PdfDocument& doc) { return int(platform::PdfAnnotations::list(doc, 0).size()); }

// Saves the copy at `copy` as the window does, through its checks.
void saveCopy(platform::PdfDocument& doc, const std::string& copy)
{
    using Code = quarnkit::DocumentError::Code;
    const std::string before = readBytes(copy);
    try {
        quarnkit::writeDocumentFile(doc, QString::fromStdString(copy));
    } catch (const quarnkit::DocumentError& e) {
        if (readBytes(copy) != before)
            throw std::runtime_error(std::string("a failed save changed the file: ") + e.what());
        const Code code = e.code();
        if (code == Code::fileWriteNoPages) throw NoPages(e.what());
        if (code == Code::fileWriteRepairedFile || code == Code::fileWriteUnreadablePages
            || code == Code::fileWriteUnparsedObjects || code == Code::fileWriteNamesTooLong
            || code == Code::fileWriteDamagedSinceOpen)
            throw Refused(e.what());
        throw Unsaveable(e.what());
    }
}

// The road the window offers when a save over the file is refused: another
// file, once the user accepts that it may show less. It must be written, and
// open with the original's (empty) password in ravlen and in poppler, with
// every page; its words may be fewer, as the window warns. Says how it went.
std::string saveElsewhere(platform::PdfDocument& doc, const std::string& elsewhere, const PopplerReading& original)
{
    using Code = quarnkit::DocumentError::Code;
    try {
        quarnkit::writeDocumentFile(doc, QString::fromStdString(elsewhere), true);
    } catch (const quarnkit::DocumentError& e) {
        // What no file can take (pages that cannot be read, names cut
        // short, damage found after an edit) is refused for every file
        // alike; anything else leaves the user nowhere to keep their work.
        const Code code = e.code();
        if (code == Code::fileWriteUnreadablePages || code == Code::fileWriteNamesTooLong
            || code == Code::fileWriteDamagedSinceOpen)
            return "Save As refused likewise";
        throw std::runtime_error(std::string("refused over the file, and Save As failed: ") + e.what());
    }
    auto copy = openUnlocked(elsewhere);
    if (copy->isLocked()) throw std::runtime_error("the copy Save As wrote asks for a password");
    if (copy->pageCount() != doc.pageCount()) throw std::runtime_error("the copy Save As wrote lost pages");
    if (!original.read) return "Save As wrote a copy";
    const PopplerReading saved = popplerRead(elsewhere);
    if (!saved.read) throw std::runtime_error("poppler cannot read the copy Save As wrote");
    // More pages than poppler found in the original (which it could not read whole) is no loss.
    if (saved.pages < original.pages)
        throw std::runtime_error("poppler reads " + std::to_string(saved.pages) + " pages of the copy Save As wrote, "
                                 + std::to_string(original.pages) + " of the original");
    return saved.text == original.text ? "Save As wrote a copy poppler reads alike"
                                       : "Save As wrote a copy poppler reads other words of";
}

// Saving a copy of the file: with no edit, then with a mark on page 1. A
// save refused over the file goes to another file instead.
void checkSavedCopy(const std::string& path, int fd)
{
    char folder[] = "/tmp/ravlen-stress-XXXXXX";
    if (!::mkdtemp(folder)) throw std::runtime_error("cannot make a scratch folder");
    // The parent removes the folder with all it holds, however this child ends.
    send(fd, std::string("scratch ") + folder);
    const std::string copy = std::string(folder) + "/copy.pdf", elsewhere = std::string(folder) + "/elsewhere.pdf";
    {
        const std::string bytes = readBytes(path);
        FILE* out = std::fopen(copy.c_str(), "wb");
        if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size())
            throw std::runtime_error("cannot copy the file");
        std::fclose(out);
    }
    const bool signedValid = signatureValid(copy);
    const PopplerReading original = popplerRead(copy);
    const DrawnComparison drawn{path, original, popplerDraw(copy, std::string(folder) + "/original"), folder, fd};
    send(fd, "step poppler read the original");

    auto doc = openUnlocked(copy);
    if (doc->isLocked()) return; // a password we do not know: nothing to save
    const int pages = doc->pageCount();
    const auto save = [&] {
        try {
            saveCopy(*doc, copy);
        } catch (const Refused& e) {
            throw Refused(std::string(e.what()) + "; " + saveElsewhere(*doc, elsewhere, original));
        }
    };
    try {
        save();
    } catch (const Refused&) {
        if (std::filesystem::exists(elsewhere)) drawn.compare("the copy Save As wrote", elsewhere, "save-as", false);
        throw;
    }
    if (const int now = openUnlocked(copy)->pageCount(); now != pages)
        throw std::runtime_error("a save with no edit left " + std::to_string(now) + " pages of "
                                 + std::to_string(pages));
    checkSecondReader(original, copy, " after a save with no edit");
    drawn.compare("the copy saved with no edit", copy, "saved", false);
    send(fd, "step saved unchanged");
    if (pages < 1) return;

    doc = openUnlocked(copy);
    // The copy exported as the window exports it: the save with a mark then
    // follows an export, as a user's may.
    for (const auto format : {quarnkit::ExportFormat::pdf, quarnkit::ExportFormat::flattenedPDF}) {
        const std::string name = "export-" + quarnkit::ExportFormats::rawValue(format).toStdString();
        const std::string file = std::string(folder) + "/" + name + ".pdf";
        const std::string what = "Export " + quarnkit::ExportFormats::title(format).toStdString();
        try {
            exportAs(*doc, format, file, fd);
        } catch (const std::exception& e) {
            throw std::runtime_error(what + " failed: " + e.what());
        }
        drawn.compare(what, file, name, true);
    }
    const int marks = markCount(*doc);
    platform::PdfAnnotation mark;
    mark.subtype = "Square";
    const platform::PdfPageGeometry geometry = doc->pageGeometry(0);
    const platform::PdfRect box = geometry.cropBox.isEmpty() ? geometry.mediaBox : geometry.cropBox;
    mark.rect = {box.x + box.width / 4, box.y + box.height / 4, box.width / 4, box.height / 4};
    mark.color = platform::PdfColor{1, 0, 0};
    mark.borderWidth = 2;
    addingMark("the mark", [&] { platform::PdfAnnotations::add(*doc, 0, mark); });
    // Every page is read after the edit, as scrolling would: a late repair shows here.
    for (int i = 0; i < pages; ++i) {
        try {
            (void)doc->displayList(i);
        } catch (const platform::PdfError&) {}
    }
    save();
    auto reopened = openUnlocked(copy);
    if (reopened->pageCount() != pages) throw std::runtime_error("the saved copy lost pages");
    if (markCount(*reopened) != marks + 1)
        throw std::runtime_error("the mark added before saving is not in the saved copy");
    if (signedValid && !signatureValid(copy))
        throw std::runtime_error("the signature no longer verifies after an export and a save");
    checkSecondReader(original, copy, " after an export and a save with a mark");
    send(fd, std::string("step saved with a mark") + (signedValid ? ", signature still valid" : ""));
}

// The marks round trip; reports "marks N" with the number of marks it took
// through, and "signed …" when a signed file keeps them in its signed revision.
void checkMarks(platform::PdfDocument& doc, int fd, std::string& stage)
{
    stage = "marks";
    try {
        const int marks = stress::roundTripMarks(doc, [&](const std::string& done) {
            stage = done;
            send(fd, "step " + done);
        });
        send(fd, "marks " + std::to_string(marks));
    } catch (const stress::KeptInSignedRevision& e) {
        send(fd, std::string("signed ") + oneLine(e.what()));
    }
}

// What qpdf's check says of a file ravlen refused to save over, a second
// opinion on whether it is damaged: "qpdf finds damage" (errors or
// warnings), "qpdf finds none", or that it gave no answer.
std::string qpdfVerdict(const std::string& path)
{
    // qpdf takes long over some damaged files, and its word is worth the wait.
    const ProgramRun check = runProgram({"qpdf", "--check", path}, false, std::chrono::seconds(60));
    if (!check.answered || !WIFEXITED(check.status)) return "qpdf gave no answer";
    const int code = WEXITSTATUS(check.status);
    return code == 0 ? "qpdf finds none" : code == 2 || code == 3 ? "qpdf finds damage" : "qpdf gave no answer";
}

// Opens the file; a file ravlen does not open is no failure when poppler
// cannot read it either, and then reports "result unopened …".
std::shared_ptr<platform::PdfDocument> openOrReport(const std::string& path, int fd)
{
    try {
        return platform::PdfDocument::openFile(path);
    } catch (const platform::PdfError& e) {
        if (e.code() != platform::PdfErrorCode::damaged) throw;
        const PopplerReading poppler = popplerRead(path);
        if (poppler.read)
            throw std::runtime_error(oneLine(e.what()) + "; poppler reads " + std::to_string(poppler.pages)
                                     + " pages of it");
        send(fd, "result unopened: " + oneLine(e.what()) + "; poppler cannot read it either; " + qpdfVerdict(path));
        return nullptr;
    }
}

// Runs the checks and reports "step …" lines as it goes, then one "result …" line.
void checkFile(const std::string& path, int fd)
{
    using platform::PdfDocument;
    std::string stage = "open";
    try {
        auto doc = openOrReport(path, fd);
        if (!doc) return;
        if (doc->isLocked() && !doc->unlock("")) {
            send(fd, "result locked");
            return;
        }
        const int pages = doc->pageCount();
        send(fd, "step opened");
        for (int i = 0; i < pages; ++i) {
            stage = "page " + std::to_string(i + 1) + " render";
            const QImage image = doc->render(i, 1.0);
            if (image.isNull()) throw std::runtime_error("no image");
            stage = "page " + std::to_string(i + 1) + " text";
            (void)doc->textPage(i);
            send(fd, "step page " + std::to_string(i + 1));
        }
        if (pages > 0) {
            stage = "text box";
            addingMark("the text box", [&] { addTextBox(*doc); });
        }
        stage = "write";
        // Written as Save and Export write (garbage collected); what the
        // save checks decline is declined here too.
        platform::PdfSaveOptions collect;
        collect.garbageCollect = true;
        QByteArray bytes;
        try {
            bytes = doc->save(collect);
        } catch (const platform::PdfError& e) {
            using Code = platform::PdfErrorCode;
            if (e.code() == Code::unreadablePages || e.code() == Code::changedSinceOpen) throw Refused(e.what());
            throw;
        }
        send(fd, "step written");
        stage = "reopen";
        auto again = PdfDocument::openBytes(bytes);
        if (again->isLocked()) throw std::runtime_error("the written copy asks for a password");
        if (again->pageCount() != pages)
            throw std::runtime_error("the written copy has " + std::to_string(again->pageCount()) + " pages instead of "
                                     + std::to_string(pages));
        if (pages > 0) checkTextBox(*again);
        checkMarks(*doc, fd, stage);
        stage = "save a copy";
        checkSavedCopy(path, fd);
        send(fd, "result ok");
    } catch (const NoPages& e) {
        send(fd, "result no pages: " + oneLine(e.what()));
    } catch (const Unsaveable& e) {
        send(fd, "result unsaveable: " + oneLine(e.what()));
    } catch (const Refused& e) {
        send(fd, "result refused: " + oneLine(e.what()) + "; " + qpdfVerdict(path));
    } catch (const std::exception& e) {
        send(fd, "result error: " + stage + ": " + oneLine(e.what()));
    }
}

// ---------------------------------------------------------------- parent

struct Outcome {
    bool passed = false;
    std::string text;
    int marks = 0;                // marks round-tripped
    bool unsaveable = false;      // opened, but no save succeeded
    bool refused = false;         // the window's save check declined, the file left as it was: no failure
    bool keptBySignature = false; // a signed revision keeps the deleted marks, by design
    bool unopened = false;        // not opened, and poppler cannot read it either: no failure
    std::string differs = {};     // what poppler draws or reads differently of a copy, for a person to judge
};

std::string describeStatus(int status)
{
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const char* name = ::strsignal(sig);
        return "crashed (signal " + std::to_string(sig) + (name ? std::string(", ") + name : std::string()) + ")";
    }
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status)) + " before finishing";
    return "ended abnormally";
}

Outcome runChild(const std::string& path)
{
    int fds[2];
    if (::pipe(fds) != 0) return {false, std::string("cannot make a pipe: ") + std::strerror(errno)};
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return {false, std::string("cannot start a child process: ") + std::strerror(errno)};
    }
    if (pid == 0) {
        ::close(fds[0]);
        // A group of its own, which the parent kills whole when it gives up.
        ::setpgid(0, 0);
        reportFd = fds[1];
        checkFile(path, fds[1]);
        ::close(fds[1]);
        // Skip static destructors: the child shares nothing worth tearing down.
        ::_exit(0);
    }
    ::close(fds[1]);
    ::setpgid(pid, pid);

    const auto start = Clock::now();
    auto stepDeadline = start + stepBudget;
    const auto fileDeadline = start + fileCap;
    std::string buffer, result, lastStep = "opening", signedNote;
    int marks = 0;
    pid_t program = 0;   // the group of the outside program the child runs now
    std::string killed;  // the outside programs that did not end in their time
    std::string scratch; // the child's scratch folder, which a killed child leaves behind
    std::string differs;
    bool timedOut = false, eof = false;
    while (!eof) {
        const auto now = Clock::now();
        const auto deadline = std::min(stepDeadline, fileDeadline);
        if (now >= deadline) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        const int ready = ::poll(&p, 1, int(std::min<long long>(wait, 60'000)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char chunk[4096];
        const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            eof = true;
            break;
        }
        buffer.append(chunk, size_t(n));
        size_t newline;
        while ((newline = buffer.find('\n')) != std::string::npos) {
            const std::string line = buffer.substr(0, newline);
            buffer.erase(0, newline + 1);
            if (line.rfind("step ", 0) == 0) {
                lastStep = line.substr(5);
                stepDeadline = Clock::now() + stepBudget;
                program = 0;
                if (lastStep.find(" killed at its time limit") != std::string::npos) killed += "; " + lastStep;
            } else if (line.rfind("program ", 0) == 0) {
                // "program PID SECONDS": the child waits for it that long.
                char* end = nullptr;
                program = pid_t(std::strtol(line.c_str() + 8, &end, 10));
                stepDeadline = Clock::now() + std::chrono::seconds(std::strtol(end, nullptr, 10)) + stepBudget;
            } else if (line.rfind("differs ", 0) == 0) {
                differs += (differs.empty() ? "" : "; ") + line.substr(8);
            } else if (line.rfind("scratch ", 0) == 0) {
                scratch = line.substr(8);
            } else if (line.rfind("marks ", 0) == 0) {
                marks = std::atoi(line.c_str() + 6);
            } else if (line.rfind("signed ", 0) == 0) {
                signedNote = line.substr(7);
            } else if (line.rfind("result ", 0) == 0) {
                result = line.substr(7);
            }
        }
    }
    ::close(fds[0]);
    if (timedOut) ::kill(-pid, SIGKILL);
    // A child given up on, or that crashed, leaves the program it ran behind.
    if (program > 0) ::kill(-program, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (!scratch.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    }

    if (timedOut) {
        const bool whole = Clock::now() >= fileDeadline;
        return {false, whole ? "hung (over " + std::to_string(fileCap.count()) + " s for the file), killed"
                             : "hung (no progress for " + std::to_string(stepBudget.count()) + " s after " + lastStep
                                   + "), killed"};
    }
    if (WIFSIGNALED(status)) return {false, describeStatus(status)};
    Outcome outcome;
    if (result == "ok") {
        outcome = {true,
                   marks > 0 || signedNote.empty() ? "ok, " + std::to_string(marks) + " marks round-tripped" : "ok",
                   marks};
    } else if (result == "locked") {
        outcome = {true, "locked"};
    } else if (result.rfind("no pages: ", 0) == 0) {
        outcome = {true, "no pages, and none saved: " + result.substr(10)};
    } else if (result.rfind("unopened: ", 0) == 0) {
        outcome = {false, "not opened: " + result.substr(10)};
        outcome.unopened = true;
    } else if (result.rfind("unsaveable: ", 0) == 0) {
        outcome = {false, "opened but could not be saved: " + result.substr(12), 0, true};
    } else if (result.rfind("refused: ", 0) == 0) {
        outcome = {false, "refused, the file left as it was: " + result.substr(9), marks, false, true};
    } else {
        outcome = {false, result.empty() ? describeStatus(status) : result};
    }
    if (!signedNote.empty()) {
        outcome.keptBySignature = true;
        outcome.text += "; by design, " + signedNote + " (incremental saves keep the signed revision)";
    }
    outcome.text += killed;
    if (!differs.empty()) outcome.text += "; poppler draws or reads it differently: " + differs;
    outcome.differs = differs;
    return outcome;
}

std::string seconds(Clock::duration d)
{
    const double s = std::chrono::duration<double>(d).count();
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, s, std::chars_format::fixed, 2);
    return std::string(buf, r.ptr) + " s";
}

bool isPdfName(const std::string& extension)
{
    return extension.size() == 4 && extension[0] == '.' && std::tolower(extension[1]) == 'p'
           && std::tolower(extension[2]) == 'd' && std::tolower(extension[3]) == 'f';
}

} // namespace

int main(int argc, char** argv)
{
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--keep") == 0) {
        keepFolder = std::filesystem::absolute(argv[2]).string();
        first = 3;
    }
    if (argc <= first) {
        std::fprintf(stderr, "usage: %s [--keep FOLDER] FOLDER...\n", argv[0]);
        return 2;
    }
    // Paths stay bytes throughout: a name that is not UTF-8 is a file like any other.
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    for (int i = first; i < argc; ++i) {
        const fs::path arg(argv[i]);
        std::error_code error;
        if (fs::is_regular_file(arg, error)) {
            files.push_back(arg.string());
        } else if (fs::is_directory(arg, error)) {
            // Symbolic links to folders are not followed, so a loop cannot trap the walk.
            for (fs::recursive_directory_iterator it(arg, fs::directory_options::skip_permission_denied, error), end;
                 !error && it != end; it.increment(error)) {
                if (it->is_regular_file(error) && isPdfName(it->path().extension().string()))
                    files.push_back(it->path().string());
            }
        } else {
            std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
            return 2;
        }
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());

    // A child killed while writing must not take the parent with it.
    std::signal(SIGPIPE, SIG_IGN);
    int passed = 0, failed = 0, marked = 0, marks = 0, unsaveable = 0, refused = 0, keptBySignature = 0;
    int refusedDamaged = 0, refusedSound = 0; // as qpdf's check judges the file
    int unopened = 0;
    std::vector<std::string> drawnDifferently;
    for (const auto& path : files) {
        const auto start = Clock::now();
        const Outcome outcome = runChild(path);
        const auto elapsed = Clock::now() - start;
        (outcome.unopened ? unopened : outcome.refused ? refused : outcome.passed ? passed : failed)++;
        unsaveable += outcome.unsaveable;
        refusedDamaged += outcome.refused && outcome.text.find("qpdf finds damage") != std::string::npos;
        refusedSound += outcome.refused && outcome.text.find("qpdf finds none") != std::string::npos;
        keptBySignature += outcome.keptBySignature;
        if (!outcome.differs.empty()) drawnDifferently.push_back(path + ": " + outcome.differs);
        if (outcome.marks > 0) {
            ++marked;
            marks += outcome.marks;
        }
        std::printf("%s: %s (%s)\n", path.c_str(), outcome.text.c_str(), seconds(elapsed).c_str());
        std::fflush(stdout);
    }
    std::printf("%d passed, %d refused (a save or a mark the window declines, the file left as it was: qpdf finds "
                "damage in %d, none in %d), %d not opened (poppler cannot read them either), %d failed (%d of them "
                "opened but could not be written); %d files and %d marks round-tripped; %d signed files keep the "
                "deleted marks in their signed revision, by design\n",
                passed, refused, refusedDamaged, refusedSound, unopened, failed, unsaveable, marked, marks,
                keptBySignature);
    std::printf("poppler draws or reads %zu files differently after a save or an export (no failure; for a person to "
                "judge)%s\n",
                drawnDifferently.size(), drawnDifferently.empty() ? "" : ":");
    for (const auto& line : drawnDifferently) std::printf("  %s\n", line.c_str());
    return failed ? 1 : 0;
}
