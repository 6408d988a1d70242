// ravlen-stress [--keep FOLDER] FOLDER…: runs every PDF under the folders
// through the PDF layer (open, render each page at 72 dpi, extract text, add a
// text box, write to memory, open again, and round-trip one mark of each kind
// on the first page), each file in a child process so that a crash or a hang is
// counted against that file and the run goes on. Then the roads a user takes,
// each on a copy of the file opened afresh, every write on it in turn as the
// window makes it: saved with no edit (a save the window's checks refuse, the
// file left byte for byte, takes the first road the refusal offers, Save As);
// exported as "PDF", "Flattened PDF" and PNG, then saved, then saved with a
// new mark (for a signed file, with the signature still valid); its title
// edited, Share's working copy made, then saved; and where the save was
// refused, refused again, then exported as PDF, the other road it offers. A
// copy that may show less is asked about once a document, as the window asks,
// and the user goes on; an export or Share's copy the window refuses is made
// again once, as a user tries again.
//
// Every copy written (to memory, each save, Save As, each export, Share's
// copy) is judged against the original (Judgement.h): ravlen must reopen it
// with the pages and marks that were saved; `qpdf --check` must find no errors
// in it where it found none in the original; poppler (pdfinfo, pdftotext) must
// read as many pages and no fewer words of it (fewer once the window warned
// that it may show less: counted apart), and a save exactly as
// the original (sizes, rotations, words); a copy that drops the original's
// layers must not draw differently. No write may change the open document: a
// write made after others must read, draw and be refused as the same write
// made first on a document as it opened. Each failure is counted under its own
// kind, a file with any failure fails whatever came after (a later refusal, a
// signed revision that keeps the round trip's deleted marks), and the summary
// counts each kind. Poppler also draws the first pages of the original and of
// every copy but those with a mark (pdftoppm at 30 dpi, each page's crop box as
// readers show it): pixels that differ from the original's, and other words
// none lost in an export, are listed apart for a person to judge, not failed,
// as a form that asks readers to draw its fields is drawn anew on a save by
// design; --keep keeps those files. Refused saves and files that ravlen does
// not open when poppler cannot read them either are counted apart from
// failures, the former sorted by what qpdf's check says of the file, and so
// are refused exports; a PDF without pages passes when its save is declined as
// such. Every outside program runs in a process group of its own under a time
// limit, and is killed with its group.
#include "Platform/PdfAnnotations.h"
#include "Platform/FileReplacement.h"
#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Export/ExportJob.h"
#include "tools/stress/Judgement.h"
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
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

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

// Whether pdfsig lists signatures in the file and finds each of them valid
// (a broken one reads "Digest Mismatch", or "Signature is Invalid").
bool signatureValid(const std::string& path)
{
    const std::string out = outputOf({"pdfsig", path});
    const auto count = [&](const std::string& what) {
        int n = 0;
        for (size_t at = out.find(what); at != std::string::npos; at = out.find(what, at + what.size())) ++n;
        return n;
    };
    const int signatures = count("Signature Validation:");
    return signatures > 0 && count("Signature Validation: Signature is Valid") == signatures;
}

// ---------------------------------------------------------------- a second reader

// What poppler reads of a file: its pages, each page's size and rotation as
// pdfinfo gives them, and each page's words. ravlen's own read-back cannot
// see what only other readers lose (a mark drawn from an appearance MuPDF
// made, a font written as null, a name cut on one side).
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

stress::PopplerReading popplerRead(const std::string& path)
{
    stress::PopplerReading r;
    const ProgramRun info = runProgram({"pdfinfo", path}, false);
    r.answered = info.answered;
    int claimed = 0;
    for (const std::string& line : lines(info.output))
        if (line.rfind("Pages:", 0) == 0) {
            claimed = std::atoi(line.c_str() + 6);
            r.read = true;
        }
    if (!r.read || claimed <= 0) return r;
    // "Page    3 size: 595.28 x 841.89 pts (A4)", then "Page    3 rot:  90".
    // A page the tree claims but poppler cannot find is "0 x 0": no page.
    std::vector<std::string> geometry(static_cast<size_t>(claimed));
    const ProgramRun pages = runProgram({"pdfinfo", "-f", "1", "-l", std::to_string(claimed), path}, false);
    r.answered = r.answered && pages.answered;
    for (const std::string& line : lines(pages.output)) {
        if (line.rfind("Page ", 0) != 0) continue;
        const int page = std::atoi(line.c_str() + 5);
        const size_t colon = line.find(':');
        if (page < 1 || page > claimed || colon == std::string::npos) continue;
        geometry[size_t(page - 1)] += words(line.substr(line.find_last_of(' ', colon) + 1)) + " ";
    }
    for (const std::string& page : geometry)
        if (page.rfind("size: 0 x 0 ", 0) != 0) r.geometry.push_back(page);
    r.pages = int(r.geometry.size());
    const ProgramRun text = runProgram({"pdftotext", "-q", path, "-"}, false);
    r.answered = r.answered && text.answered;
    size_t start = 0;
    while (start < text.output.size()) {
        const size_t end = std::min(text.output.find('\f', start), text.output.size());
        r.text.push_back(words(text.output.substr(start, end - start)));
        start = end + 1;
    }
    return r;
}

// ---------------------------------------------------------------- what qpdf says

struct QpdfRun {
    stress::QpdfCheck check = stress::QpdfCheck::noAnswer;
    std::vector<std::string> complaints;
};

QpdfRun qpdfCheckOf(const std::string& path)
{
    // qpdf takes long over some damaged files, and its word is worth the wait.
    const ProgramRun run = runProgram({"qpdf", "--check", path}, true, std::chrono::seconds(60));
    return {stress::qpdfCheck(run.answered, WIFEXITED(run.status), WEXITSTATUS(run.status)),
            stress::qpdfComplaints(run.output, path)};
}

// What qpdf's check says of a file ravlen refused to save over or does not
// open, a second opinion on whether it is damaged.
std::string verdictWords(stress::QpdfCheck check)
{
    using stress::QpdfCheck;
    return check == QpdfCheck::clean                                    ? "qpdf finds none"
           : check == QpdfCheck::errors || check == QpdfCheck::warnings ? "qpdf finds damage"
                                                                        : "qpdf gave no answer";
}

// ---------------------------------------------------------------- layers

bool isReference(const QJsonValue& value)
{
    static const QRegularExpression reference("^\\d+ \\d+ R$");
    return value.isString() && reference.match(value.toString()).hasMatch();
}

// The values of objects ("trailer", "12 0 R") as qpdf's JSON gives them, read in one run.
std::map<QString, QJsonValue> qpdfObjects(const std::string& path, const std::vector<QString>& names, bool& answered)
{
    std::vector<std::string> command{"qpdf", "--json=2", "--json-key=qpdf"};
    for (const QString& name : names) {
        const QStringList parts = name.split(' ');
        command.push_back("--json-object=" + (parts.size() == 3 ? (parts[0] + "," + parts[1]) : name).toStdString());
    }
    command.push_back(path);
    const ProgramRun run = runProgram(command, false);
    answered = answered && run.answered;
    std::map<QString, QJsonValue> out;
    const QJsonArray parts =
        QJsonDocument::fromJson(QByteArray::fromStdString(run.output)).object().value("qpdf").toArray();
    const QJsonObject objects = parts.size() > 1 ? parts[1].toObject() : QJsonObject();
    for (auto it = objects.begin(); it != objects.end(); ++it) {
        const QJsonObject entry = it.value().toObject();
        const QString key = it.key().startsWith("obj:") ? it.key().mid(4) : it.key();
        out[key] = entry.contains("value") ? entry.value("value") : entry.value("stream").toObject().value("dict");
    }
    return out;
}

// The document's layers, as its catalog's /OCProperties lists them: every
// group's name, and those its default configuration hides.
stress::Layers readLayers(const std::string& path)
{
    stress::Layers layers;
    bool answered = true;
    const auto resolve = [&](const QJsonValue& value) {
        return isReference(value) ? qpdfObjects(path, {value.toString()}, answered)[value.toString()] : value;
    };
    const QJsonValue trailer = qpdfObjects(path, {"trailer"}, answered)["trailer"];
    const QJsonObject root = resolve(trailer.toObject().value("/Root")).toObject();
    const QJsonObject properties = resolve(root.value("/OCProperties")).toObject();
    const QJsonArray groups = properties.value("/OCGs").toArray();
    const QJsonValue defaults = properties.value("/D");
    std::vector<QString> wanted;
    for (const QJsonValue group : groups)
        if (isReference(group)) wanted.push_back(group.toString());
    if (isReference(defaults)) wanted.push_back(defaults.toString());
    std::map<QString, QJsonValue> objects;
    if (!wanted.empty()) objects = qpdfObjects(path, wanted, answered);
    const auto value = [&](const QJsonValue& v) { return isReference(v) ? objects[v.toString()] : v; };
    std::map<QString, std::string> names; // of each group's reference
    for (const QJsonValue group : groups) {
        QString name = value(group).toObject().value("/Name").toString();
        if (name.startsWith("u:")) name = name.mid(2);
        layers.names.push_back(name.toStdString());
        if (isReference(group)) names[group.toString()] = name.toStdString();
    }
    for (const QJsonValue off : value(defaults).toObject().value("/OFF").toArray())
        if (isReference(off) && names.count(off.toString())) layers.hidden.push_back(names[off.toString()]);
    std::sort(layers.names.begin(), layers.names.end());
    std::sort(layers.hidden.begin(), layers.hidden.end());
    layers.read = answered && trailer.isObject();
    return layers;
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
    // A write made again (an export after a refused save) is drawn afresh.
    std::filesystem::remove_all(folder, error);
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

// With --keep, the original and the copies poppler draws differently, or
// that fail, are kept in this folder, one folder each, to be looked at.
std::string keepFolder;

void keepCopy(const std::string& source, const std::string& file, const std::string& name)
{
    if (keepFolder.empty()) return;
    namespace fs = std::filesystem;
    const fs::path from(source);
    const fs::path kept =
        fs::path(keepFolder) / (from.parent_path().filename().string() + "-" + from.filename().string());
    std::error_code error;
    fs::create_directories(kept, error);
    fs::copy_file(from, kept / "original.pdf", fs::copy_options::overwrite_existing, error);
    fs::copy_file(file, kept / (name + ".pdf"), fs::copy_options::overwrite_existing, error);
}

// Compares what poppler draws of a copy with the original, and reports a
// difference as a "differs …" line.
struct DrawnComparison {
    std::string source;     // the original's path
    int pages = 0;          // poppler's pages of the original
    PopplerDrawing drawing; // of the original
    std::string scratch;    // the file's scratch folder
    int fd = -1;

    // True when poppler draws `file` otherwise than the original; the
    // drawing goes to `kept` when given.
    bool compare(const std::string& what, const std::string& file, const std::string& name,
                 PopplerDrawing* kept = nullptr) const
    {
        if (!drawing.drawn || pages == 0) return false; // poppler cannot draw the original either
        const PopplerDrawing copy = popplerDraw(file, scratch + "/" + name);
        if (kept) *kept = copy;
        const std::string difference = drawnDifference(drawing, copy);
        if (difference.empty()) return false;
        send(fd, "differs " + what + ": " + oneLine(difference));
        keepCopy(source, file, name);
        return true;
    }
};

std::shared_ptr<platform::PdfDocument> openUnlocked(const std::string& path)
{
    auto doc = platform::PdfDocument::openFile(path);
    if (doc->isLocked()) doc->unlock("");
    return doc;
}

// The marks of every page; none when a page's cannot be listed.
std::optional<int> markCount(const platform::PdfDocument& doc)
{
    int marks = 0;
    try {
        for (int page = 0; page < doc.pageCount(); ++page)
            marks += int(platform::PdfAnnotations::list(doc, page).size());
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return marks;
}

// What ravlen reads back of a written copy: its pages, and its marks when
// the document's were counted.
void reopen(stress::WrittenCopy& copy, const std::function<std::shared_ptr<platform::PdfDocument>()>& open)
{
    try {
        const auto doc = open();
        if (doc->isLocked()) doc->unlock("");
        if (doc->isLocked()) {
            copy.unopenedBecause = "it asks for a password";
            return;
        }
        copy.pagesReopened = doc->pageCount();
        if (copy.marks) copy.marksReopened = markCount(*doc);
    } catch (const std::exception& e) {
        copy.unopenedBecause = oneLine(e.what());
    }
}

bool writeBytes(const std::string& path, const QByteArray& bytes)
{
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(bytes.data(), 1, size_t(bytes.size()), out) == size_t(bytes.size());
    return std::fclose(out) == 0 && written;
}

// Saves the copy at `copy` as the window does, through its checks.
void saveCopy(platform::PdfDocument& doc, const std::string& copy)
{
    using Code = quarnkit::DocumentError::Code;
    const std::string before = readBytes(copy);
    try {
        quarnkit::writeDocumentFile(doc,
                                    *platform::ChosenFile::ask(copy, [](const platform::NameSeen&) { return true; }));
    } catch (const quarnkit::DocumentError& e) {
        if (readBytes(copy) != before)
            throw std::runtime_error(std::string("a failed save changed the file: ") + e.what());
        const Code code = e.code();
        if (code == Code::fileWriteNoPages) throw NoPages(e.what());
        if (code == Code::fileWriteRepairedFile || code == Code::fileWriteUnreadablePages
            || code == Code::fileWriteUnparsedObjects || code == Code::fileWriteNamesTooLong
            || code == Code::fileWriteDamagedSinceOpen || code == Code::fileWriteSignedRewrite)
            throw Refused(e.what());
        throw Unsaveable(e.what());
    }
}

// ---------------------------------------------------------------- one file

// One open document, as the window holds it from opening a file to closing
// it: the writes made on it so far, and whether the user has answered that a
// copy may show less (the window asks once a document).
struct OpenDocument {
    std::shared_ptr<platform::PdfDocument> pdf;
    std::string file; // the file it was opened from, which Save writes over
    bool lossAccepted = false;
    std::vector<std::string> writes; // "Export PDF (refused)", "Export PDF", …

    std::string after() const
    {
        std::string out;
        for (const std::string& w : writes) out += (out.empty() ? "" : ", ") + w;
        return out;
    }
};

// The checks of one file, in the child. Each copy written is judged as it
// is made, and what it shows is reported as "fault …" lines; the checks go
// on, so that a later refusal cannot hide an earlier save's damage.
class FileCheck {
public:
    FileCheck(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

    // Runs the checks and reports "step …" lines as it goes, then one "result …" line.
    void run();

private:
    const std::string& scratch();
    const stress::Original& original();
    std::shared_ptr<platform::PdfDocument> openOrReport();
    stress::PopplerReading judge(stress::WrittenCopy copy, const std::string& file, const std::string& keptAs);
    void judgeWritten(const std::string& what, const std::string& name, const QByteArray& bytes, int pages,
                      std::optional<int> marks);
    void checkMarks(platform::PdfDocument& doc, std::string& stage);
    void checkSavedCopy();
    OpenDocument openCopy(const std::string& name);
    bool judgeAfterOthers(const OpenDocument& doc, const std::string& write, stress::WrittenCopy& copy,
                          const std::string& file, const std::string& keptAs, bool draw);
    void wrote(OpenDocument& doc, const std::string& write, stress::WrittenCopy copy, const std::string& file,
               const std::string& keptAs, bool draw = true);
    void refused(OpenDocument& doc, const std::string& write, bool copy, const std::string& why);
    void save(OpenDocument& doc, const std::string& what, const std::string& keptAs, bool alike = true);
    std::string saveElsewhere(OpenDocument& doc);
    bool exportAsWindow(OpenDocument& doc, quarnkit::ExportFormat format);
    void share(OpenDocument& doc);

    std::string path_;
    int fd_;
    std::string scratch_;                      // made on first use; the parent removes it
    std::optional<stress::Original> original_; // read on first use
    std::optional<DrawnComparison> drawn_;     // poppler's drawing of the original, once a copy is saved
    bool signedValid_ = false;                 // pdfsig finds the original's signature valid
    // What each write made first on a document as it opened gave (Save,
    // Export PDF, Share's copy): none when the window refused it.
    struct Seen {
        std::optional<stress::PopplerReading> poppler;
        PopplerDrawing drawing;
    };
    std::map<std::string, Seen> madeFirst_;
};

const std::string& FileCheck::scratch()
{
    if (!scratch_.empty()) return scratch_;
    char folder[] = "/tmp/ravlen-stress-XXXXXX";
    if (!::mkdtemp(folder)) throw std::runtime_error("cannot make a scratch folder");
    scratch_ = folder;
    // The parent removes the folder with all it holds, however this child ends.
    send(fd_, "scratch " + scratch_);
    return scratch_;
}

const stress::Original& FileCheck::original()
{
    if (original_) return *original_;
    stress::Original o;
    o.poppler = popplerRead(path_);
    const QpdfRun check = qpdfCheckOf(path_);
    o.qpdf = check.check;
    o.qpdfComplaints = check.complaints;
    o.layers = readLayers(path_);
    o.signatureValid = signatureValid(path_);
    original_ = std::move(o);
    send(fd_, "step read the original");
    return *original_;
}

// Reads the copy at `file` with poppler and qpdf, and reports what it shows
// against the original as "fault KIND TEXT" lines; --keep keeps a copy that
// fails as `keptAs`.pdf.
stress::PopplerReading FileCheck::judge(stress::WrittenCopy copy, const std::string& file, const std::string& keptAs)
{
    const stress::Original& o = original();
    copy.poppler = popplerRead(file);
    const QpdfRun check = qpdfCheckOf(file);
    copy.qpdf = check.check;
    copy.qpdfComplaints = check.complaints;
    if (!o.layers.names.empty()) copy.layers = readLayers(file);
    const std::vector<stress::Finding> findings = stress::judgeCopy(o, copy);
    for (const stress::Finding& f : findings) send(fd_, "fault " + stress::token(f.fault) + " " + oneLine(f.text));
    if (std::any_of(findings.begin(), findings.end(), [](const auto& f) { return stress::isFailure(f.fault); }))
        keepCopy(path_, file, keptAs);
    send(fd_, "step judged " + copy.what);
    return copy.poppler;
}

// Judges bytes the PDF layer wrote to memory, from a document of `pages`
// pages and `marks` marks, as the file `name` in the scratch folder.
void FileCheck::judgeWritten(const std::string& what, const std::string& name, const QByteArray& bytes, int pages,
                             std::optional<int> marks)
{
    const std::string file = scratch() + "/" + name + ".pdf";
    if (!writeBytes(file, bytes)) throw std::runtime_error("cannot write " + file);
    stress::WrittenCopy copy;
    copy.what = what;
    copy.road = stress::Road::memory;
    copy.pages = pages;
    copy.marks = marks;
    // A signed file's copy keeps its signed bytes: the round trip's copies too.
    if (original().signatureValid) copy.signatureHolds = signatureValid(file);
    reopen(copy, [&] { return platform::PdfDocument::openBytes(bytes); });
    judge(std::move(copy), file, name);
}

// Opens the file; a file ravlen does not open is no failure when poppler
// cannot read it either, and then reports "result unopened …".
std::shared_ptr<platform::PdfDocument> FileCheck::openOrReport()
{
    try {
        return platform::PdfDocument::openFile(path_);
    } catch (const platform::PdfError& e) {
        if (e.code() != platform::PdfErrorCode::damaged) throw;
        const stress::PopplerReading poppler = popplerRead(path_);
        if (poppler.read)
            throw std::runtime_error(oneLine(e.what()) + "; poppler reads " + std::to_string(poppler.pages)
                                     + " pages of it");
        send(fd_, "result unopened: " + oneLine(e.what()) + "; poppler cannot read it either; "
                      + verdictWords(qpdfCheckOf(path_).check));
        return nullptr;
    }
}

// A copy of the original at `name`.pdf in the scratch folder, opened as a
// user opens the file.
OpenDocument FileCheck::openCopy(const std::string& name)
{
    OpenDocument doc;
    doc.file = scratch() + "/" + name + ".pdf";
    if (!writeBytes(doc.file, QByteArray::fromStdString(readBytes(path_))))
        throw std::runtime_error("cannot copy the file");
    doc.pdf = openUnlocked(doc.file);
    return doc;
}

// Before `copy` of `file` is judged (drawn, with `draw`, against the
// original): a write made after others on the document is held against the
// same write made first on a document as it opened, which it must read and
// draw as (no write may change the open document). True when this copy is
// that first one, kept for the writes to come.
bool FileCheck::judgeAfterOthers(const OpenDocument& doc, const std::string& write, stress::WrittenCopy& copy,
                                 const std::string& file, const std::string& keptAs, bool draw)
{
    PopplerDrawing drawing;
    if (drawn_ && draw) copy.drawnDifferently = drawn_->compare(copy.what, file, keptAs, &drawing);
    const auto first = madeFirst_.find(write);
    if (doc.writes.empty()) {
        if (first != madeFirst_.end()) return false;
        madeFirst_[write].drawing = drawing;
        return true;
    }
    if (first == madeFirst_.end()) return false;
    copy.first = stress::WrittenCopy::FirstWrite{doc.after(), first->second.poppler, false};
    copy.first->drawnOtherwise =
        first->second.drawing.drawn && drawing.drawn && !drawnDifference(first->second.drawing, drawing).empty();
    return false;
}

// Judges `copy` of the write `write` of `doc`, written to `file`, and notes the write.
void FileCheck::wrote(OpenDocument& doc, const std::string& write, stress::WrittenCopy copy, const std::string& file,
                      const std::string& keptAs, bool draw)
{
    const bool first = judgeAfterOthers(doc, write, copy, file, keptAs, draw);
    const stress::PopplerReading poppler = judge(std::move(copy), file, keptAs);
    if (first) madeFirst_[write].poppler = poppler;
    doc.writes.push_back(write);
}

// A write of `doc` the window refused, the user told: judged against the
// same write made first, and noted.
void FileCheck::refused(OpenDocument& doc, const std::string& write, bool copy, const std::string& why)
{
    const auto first = madeFirst_.find(write);
    const bool writtenFirst = first != madeFirst_.end() && first->second.poppler.has_value();
    if (doc.writes.empty()) madeFirst_.try_emplace(write);
    stress::Refusal refusal{write, copy, doc.after(), writtenFirst, oneLine(why)};
    for (const stress::Finding& f : stress::judgeRefusal(original(), refusal))
        send(fd_, "fault " + stress::token(f.fault) + " " + oneLine(f.text));
    doc.writes.push_back(write + " (refused)");
}

// The window's Save of `doc` over its file, judged as a save; `alike`: as
// the same save made first (no edit since the document opened that would
// show). Throws Refused when the window refuses it, the file left as it was.
void FileCheck::save(OpenDocument& doc, const std::string& what, const std::string& keptAs, bool alike)
{
    stress::WrittenCopy saved;
    saved.what = what;
    saved.road = stress::Road::save;
    saved.pages = doc.pdf->pageCount();
    saved.marks = markCount(*doc.pdf);
    const std::string write = alike ? "Save" : "Save with an edit";
    try {
        saveCopy(*doc.pdf, doc.file);
    } catch (const Refused& e) {
        refused(doc, write, false, e.what());
        throw;
    }
    if (signedValid_) saved.signatureHolds = signatureValid(doc.file);
    reopen(saved, [&] { return openUnlocked(doc.file); });
    // A mark shows: only the saves without one are drawn.
    wrote(doc, write, std::move(saved), doc.file, keptAs, alike);
}

// The road the window offers when a save over the file is refused: another
// file, asked about first when it may show less. It must be written, and it
// is judged as a Save As: its words may be fewer once the window warned so.
// Says how it went.
std::string FileCheck::saveElsewhere(OpenDocument& doc)
{
    using Code = quarnkit::DocumentError::Code;
    const std::string elsewhere = scratch() + "/elsewhere.pdf";
    for (;;) {
        try {
            quarnkit::writeDocumentFile(
                *doc.pdf, *platform::ChosenFile::ask(elsewhere, [](const platform::NameSeen&) { return true; }),
                doc.lossAccepted);
            break;
        } catch (const quarnkit::DocumentError& e) {
            const Code code = e.code();
            // The question, once a document: the user goes on.
            if (code == Code::fileWriteCopyShowsLess && !doc.lossAccepted) {
                doc.lossAccepted = true;
                continue;
            }
            // What no file can take (pages that cannot be read, names cut
            // short, damage found after an edit) is refused for every file
            // alike; anything else leaves the user nowhere to keep their work.
            if (code == Code::fileWriteUnreadablePages || code == Code::fileWriteNamesTooLong
                || code == Code::fileWriteDamagedSinceOpen)
                return "Save As refused likewise";
            throw std::runtime_error(std::string("refused over the file, and Save As failed: ") + e.what());
        }
    }
    stress::WrittenCopy copy;
    copy.what = "the copy Save As wrote";
    copy.road = stress::Road::saveAs;
    copy.pages = doc.pdf->pageCount();
    copy.marks = markCount(*doc.pdf);
    copy.warned = doc.lossAccepted;
    reopen(copy, [&] { return platform::PdfDocument::openFile(elsewhere); });
    wrote(doc, "Save As", std::move(copy), elsewhere, "save-as");
    return "Save As wrote a copy" + std::string(doc.lossAccepted ? ", the window having warned it may show less" : "");
}

// Exports `doc` as the window's Export does: a snapshot of the document as it
// stands, every page (PNG the first), asked about first when a PDF may show
// less (the user goes on). An export the window refuses is made again once,
// as a user presses Export again. True when it was written.
bool FileCheck::exportAsWindow(OpenDocument& doc, quarnkit::ExportFormat format)
{
    using quarnkit::ExportError;
    const std::string title = quarnkit::ExportFormats::title(format).toStdString();
    const std::string write = "Export " + title;
    const std::string name = "export-" + quarnkit::ExportFormats::rawValue(format).toStdString();
    const bool pdf = quarnkit::ExportFormats::isPDF(format);
    const std::string file = scratch() + "/" + name + (pdf ? ".pdf" : ".png");
    quarnkit::ExportSettings settings;
    settings.format = format;
    for (int i = 0; i < (pdf ? doc.pdf->pageCount() : 1); ++i) settings.pages.push_back(i);
    settings.baseName = "copy";
    for (int attempt = 0; attempt < 2;) {
        try {
            const QByteArray snapshot = quarnkit::ExportSnapshot::data(*doc.pdf, format, doc.lossAccepted);
            if (snapshot.isEmpty()) throw ExportError(ExportError::Kind::unreadable);
            const auto yes = [](const QString&, const QString&) { return true; };
            quarnkit::ExportJob::run(
                settings, snapshot, *quarnkit::ExportDestination::choose(settings, QString::fromStdString(file), yes),
                [&](const auto& step) { send(fd_, "step export " + title + " " + std::to_string(step.done)); });
            break;
        } catch (const ExportError& e) {
            if (e.kind() == ExportError::Kind::mayShowLess && !doc.lossAccepted) {
                doc.lossAccepted = true; // the question, once a document: the user goes on
                continue;
            }
            if (e.kind() != ExportError::Kind::notFaithful) throw std::runtime_error(write + " failed: " + e.what());
            refused(doc, write, true, e.what());
            if (++attempt == 2) return false;
        }
    }
    if (!pdf) {
        doc.writes.push_back(write);
        return true;
    }
    stress::WrittenCopy exported;
    exported.what = write;
    exported.road = format == quarnkit::ExportFormat::pdf ? stress::Road::exportPDF : stress::Road::exportFlattened;
    exported.pages = doc.pdf->pageCount();
    // A flattened copy's marks are drawn into its pages.
    if (format == quarnkit::ExportFormat::pdf) exported.marks = markCount(*doc.pdf);
    exported.warned = doc.lossAccepted;
    reopen(exported, [&] { return openUnlocked(file); });
    wrote(doc, write, std::move(exported), file, name);
    return true;
}

// Share's working copy of `doc` as it stands (the window writes one once the
// document is edited); refused, it is made again once.
void FileCheck::share(OpenDocument& doc)
{
    const std::string write = "Share's copy";
    QByteArray bytes;
    for (int attempt = 0; attempt < 2 && bytes.isEmpty(); ++attempt) {
        try {
            bytes = quarnkit::snapshotOf(*doc.pdf);
        } catch (const quarnkit::DocumentError& e) {
            refused(doc, write, true, e.what()); // "couldn't make a working copy"
        }
    }
    if (bytes.isEmpty()) return;
    const std::string file = scratch() + "/shared.pdf";
    if (!writeBytes(file, bytes)) throw std::runtime_error("cannot write " + file);
    stress::WrittenCopy copy;
    copy.what = write;
    copy.road = stress::Road::share;
    copy.pages = doc.pdf->pageCount();
    copy.marks = markCount(*doc.pdf);
    if (signedValid_) copy.signatureHolds = signatureValid(file);
    reopen(copy, [&] { return platform::PdfDocument::openBytes(bytes); });
    wrote(doc, write, std::move(copy), file, "shared");
}

// The roads a user takes, each on a document opened afresh from the file,
// each write on it in turn: saved with no edit (refused: then Save As, the
// first way the refusal offers); exported as PDF, Flattened PDF and PNG,
// then saved, then saved with a mark; its title edited, Share's copy made,
// then saved; and, where the save was refused, refused again, then exported
// as PDF, the other way the refusal offers. A write made after others must
// read and draw as the same write made first.
void FileCheck::checkSavedCopy()
{
    OpenDocument first = openCopy("copy");
    signedValid_ = signatureValid(first.file);
    const stress::Original& o = original();
    drawn_.emplace(
        DrawnComparison{path_, o.poppler.pages, popplerDraw(first.file, scratch() + "/original"), scratch(), fd_});
    send(fd_, "step poppler read the original");
    if (first.pdf->isLocked()) return; // a password we do not know: nothing to save
    const int pages = first.pdf->pageCount();
    std::string refusal; // why the first save was refused, and how its Save As went
    try {
        save(first, "the copy saved with no edit", "saved");
    } catch (const Refused& e) {
        refusal = std::string(e.what()) + "; " + saveElsewhere(first);
    }
    send(fd_, "step saved unchanged");
    if (pages < 1) {
        if (!refusal.empty()) throw Refused(refusal);
        return;
    }

    OpenDocument exports = openCopy("exports");
    for (const auto format :
         {quarnkit::ExportFormat::pdf, quarnkit::ExportFormat::flattenedPDF, quarnkit::ExportFormat::png})
        exportAsWindow(exports, format);
    try {
        save(exports, "the copy saved with no edit after the exports", "saved-after-exports");
        platform::PdfAnnotation mark;
        mark.subtype = "Square";
        const platform::PdfPageGeometry geometry = exports.pdf->pageGeometry(0);
        const platform::PdfRect box = geometry.cropBox.isEmpty() ? geometry.mediaBox : geometry.cropBox;
        mark.rect = {box.x + box.width / 4, box.y + box.height / 4, box.width / 4, box.height / 4};
        mark.color = platform::PdfColor{1, 0, 0};
        mark.borderWidth = 2;
        addingMark("the mark", [&] { platform::PdfAnnotations::add(*exports.pdf, 0, mark); });
        // Every page is read after the edit, as scrolling would: a late repair shows here.
        for (int i = 0; i < pages; ++i) {
            try {
                (void)exports.pdf->displayList(i);
            } catch (const platform::PdfError&) {}
        }
        save(exports, "the copy saved with a mark after the exports", "saved-with-a-mark", false);
        send(fd_, "step saved with a mark");
    } catch (const Refused& e) {
        if (refusal.empty()) throw; // refused where the first save was written, or a mark declined
    }

    OpenDocument shared = openCopy("shared-then-saved");
    // An edit that draws nothing: the window then shares a copy it writes.
    try {
        shared.pdf->setInfoString("Title", "Shared by ravlen-stress");
    } catch (const platform::PdfError&) {}
    share(shared);
    try {
        save(shared, "the copy saved after Share's copy", "saved-after-share");
    } catch (const Refused&) {
        if (refusal.empty()) throw;
    }

    if (refusal.empty()) return;
    OpenDocument offered = openCopy("offered");
    try {
        save(offered, "the copy saved with no edit, again", "saved-again");
    } catch (const Refused&) {
        exportAsWindow(offered, quarnkit::ExportFormat::pdf);
    }
    throw Refused(refusal);
}

// The marks round trip; reports "marks N" with the number of marks it took
// through, and "signed …" when the revision an update appends to (a signed
// file's, or one kept as the file holds it) keeps the deleted marks. The
// copies it writes are judged like any other.
void FileCheck::checkMarks(platform::PdfDocument& doc, std::string& stage)
{
    stage = "marks";
    const int pages = doc.pageCount();
    int written = 0;
    try {
        const int marks = stress::roundTripMarks(
            doc,
            [&](const std::string& done) {
                stage = done;
                send(fd_, "step " + done);
            },
            [&](const std::string& what, const QByteArray& bytes) {
                judgeWritten("the marks round trip's copy " + what, "round-trip-" + std::to_string(++written), bytes,
                             pages, std::nullopt);
            });
        send(fd_, "marks " + std::to_string(marks));
    } catch (const stress::KeptInEarlierRevision& e) {
        send(fd_, std::string("signed ") + oneLine(e.what()));
    }
}

void FileCheck::run()
{
    using platform::PdfDocument;
    std::string stage = "open";
    try {
        auto doc = openOrReport();
        if (!doc) return;
        if (doc->isLocked() && !doc->unlock("")) {
            send(fd_, "result locked");
            return;
        }
        const int pages = doc->pageCount();
        send(fd_, "step opened");
        for (int i = 0; i < pages; ++i) {
            stage = "page " + std::to_string(i + 1) + " render";
            const QImage image = doc->render(i, 1.0);
            if (image.isNull()) throw std::runtime_error("no image");
            stage = "page " + std::to_string(i + 1) + " text";
            (void)doc->textPage(i);
            send(fd_, "step page " + std::to_string(i + 1));
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
        send(fd_, "step written");
        stage = "reopen";
        judgeWritten("the copy written to memory with a text box", "memory", bytes, pages, markCount(*doc));
        auto again = PdfDocument::openBytes(bytes);
        if (again->isLocked()) throw std::runtime_error("the written copy asks for a password");
        if (pages > 0 && again->pageCount() == pages) checkTextBox(*again);
        checkMarks(*doc, stage);
        stage = "save a copy";
        checkSavedCopy();
        send(fd_, "result ok");
    } catch (const NoPages& e) {
        send(fd_, "result no pages: " + oneLine(e.what()));
    } catch (const Unsaveable& e) {
        send(fd_, "result unsaveable: " + oneLine(e.what()));
    } catch (const Refused& e) {
        send(fd_, "result refused: " + oneLine(e.what()) + "; " + verdictWords(original().qpdf));
    } catch (const std::exception& e) {
        send(fd_, "result error: " + stage + ": " + oneLine(e.what()));
    }
}

// ---------------------------------------------------------------- parent

struct Outcome {
    stress::FileVerdict verdict;
    std::vector<stress::Finding> findings; // as the child reported them
    std::string text;                      // the file's line
    std::string detail;                    // the result's own words
    int marks = 0;                         // marks round-tripped
    std::string differs = {};              // what poppler draws or reads differently of a copy, for a person to judge
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

// The child's "result …" line as the report's result and its words.
void readResult(const std::string& result, stress::FileReport& report)
{
    using Result = stress::FileReport::Result;
    const struct {
        const char* prefix;
        Result result;
    } kinds[] = {{"no pages: ", Result::noPages},
                 {"unopened: ", Result::unopened},
                 {"unsaveable: ", Result::unsaveable},
                 {"refused: ", Result::refused},
                 {"error: ", Result::error}};
    if (result == "ok" || result == "locked") {
        report.result = result == "ok" ? Result::ok : Result::locked;
        return;
    }
    for (const auto& kind : kinds) {
        if (result.rfind(kind.prefix, 0) != 0) continue;
        report.result = kind.result;
        report.detail = kind.result == Result::error ? result.substr(7) : result.substr(std::strlen(kind.prefix));
        return;
    }
    report.result = Result::error;
    report.detail = result;
}

Outcome runChild(const std::string& path)
{
    using Result = stress::FileReport::Result;
    const auto ended = [](const std::string& why) {
        stress::FileReport report;
        report.result = Result::ended;
        report.detail = why;
        const stress::FileVerdict verdict = stress::judgeFile(report);
        return Outcome{verdict, {}, verdict.text, why};
    };
    int fds[2];
    if (::pipe(fds) != 0) return ended(std::string("cannot make a pipe: ") + std::strerror(errno));
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return ended(std::string("cannot start a child process: ") + std::strerror(errno));
    }
    if (pid == 0) {
        ::close(fds[0]);
        // A group of its own, which the parent kills whole when it gives up.
        ::setpgid(0, 0);
        reportFd = fds[1];
        FileCheck(path, fds[1]).run();
        ::close(fds[1]);
        // Skip static destructors: the child shares nothing worth tearing down.
        ::_exit(0);
    }
    ::close(fds[1]);
    ::setpgid(pid, pid);

    const auto start = Clock::now();
    auto stepDeadline = start + stepBudget;
    const auto fileDeadline = start + fileCap;
    std::string buffer, result, lastStep = "opening";
    stress::FileReport report;
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
            } else if (line.rfind("fault ", 0) == 0) {
                // "fault KIND TEXT": what a written copy shows.
                const size_t space = line.find(' ', 6);
                const auto fault = stress::faultNamed(line.substr(6, space == std::string::npos ? space : space - 6));
                const std::string text = space == std::string::npos ? "" : line.substr(space + 1);
                report.findings.push_back({fault.value_or(stress::Fault::other), text});
            } else if (line.rfind("differs ", 0) == 0) {
                differs += (differs.empty() ? "" : "; ") + line.substr(8);
            } else if (line.rfind("scratch ", 0) == 0) {
                scratch = line.substr(8);
            } else if (line.rfind("marks ", 0) == 0) {
                report.marks = std::atoi(line.c_str() + 6);
            } else if (line.rfind("signed ", 0) == 0) {
                report.signedNote = line.substr(7);
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
        report.result = Result::ended;
        report.detail = whole ? "hung (over " + std::to_string(fileCap.count()) + " s for the file), killed"
                              : "hung (no progress for " + std::to_string(stepBudget.count()) + " s after " + lastStep
                                    + "), killed";
    } else if (WIFSIGNALED(status) || result.empty()) {
        report.result = Result::ended;
        report.detail = describeStatus(status);
    } else {
        readResult(result, report);
    }
    Outcome outcome{stress::judgeFile(report), report.findings, {}, report.detail};
    outcome.marks = report.marks;
    outcome.text = outcome.verdict.text + killed;
    if (!differs.empty()) outcome.text += "; poppler draws it differently: " + differs;
    // Other words in an export, none lost, are for a person to judge beside the pixels.
    for (const stress::Finding& f : report.findings)
        if (f.fault == stress::Fault::readOtherwise) differs += (differs.empty() ? "" : "; ") + f.text;
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
    using stress::Tally;
    int passed = 0, failed = 0, refused = 0, unopened = 0, marked = 0, marks = 0, keptBySignature = 0;
    int refusedDamaged = 0, refusedSound = 0;                 // as qpdf's check judges the file
    std::map<stress::Fault, std::vector<std::string>> byKind; // the files that show each kind, with what they show
    std::vector<std::string> drawnDifferently;
    for (const auto& path : files) {
        const auto start = Clock::now();
        const Outcome outcome = runChild(path);
        const auto elapsed = Clock::now() - start;
        const Tally tally = outcome.verdict.tally;
        (tally == Tally::unopened  ? unopened
         : tally == Tally::refused ? refused
         : tally == Tally::passed  ? passed
                                   : failed)++;
        refusedDamaged += tally == Tally::refused && outcome.text.find("qpdf finds damage") != std::string::npos;
        refusedSound += tally == Tally::refused && outcome.text.find("qpdf finds none") != std::string::npos;
        keptBySignature += outcome.verdict.keptBySignature;
        for (const stress::Fault fault : stress::allFaults) {
            std::string shown;
            for (const stress::Finding& f : outcome.findings)
                if (f.fault == fault) shown += (shown.empty() ? "" : "; ") + f.text;
            const bool failure = std::find(outcome.verdict.failures.begin(), outcome.verdict.failures.end(), fault)
                                 != outcome.verdict.failures.end();
            if (shown.empty() && failure) shown = outcome.detail; // the file's checks stopped
            if (!shown.empty()) byKind[fault].push_back(path + ": " + shown);
        }
        if (!outcome.differs.empty()) drawnDifferently.push_back(path + ": " + outcome.differs);
        if (outcome.marks > 0) {
            ++marked;
            marks += outcome.marks;
        }
        std::printf("%s: %s (%s)\n", path.c_str(), outcome.text.c_str(), seconds(elapsed).c_str());
        std::fflush(stdout);
    }
    std::printf("%d passed, %d refused (a save or a mark the window declines, the file left as it was: qpdf finds "
                "damage in %d, none in %d), %d not opened (poppler cannot read them either), %d failed; %d files and "
                "%d marks round-tripped; %d files keep the deleted marks in the revision their update appends to (a "
                "signed file's, or one kept as the file holds it), by design (every copy of them read whole)\n",
                passed, refused, refusedDamaged, refusedSound, unopened, failed, marked, marks, keptBySignature);
    std::printf("failures by kind (files; a failed file may show several):\n");
    for (const stress::Fault fault : stress::allFaults)
        if (stress::isFailure(fault))
            std::printf("  %5zu %s: %s\n", byKind[fault].size(), stress::token(fault).c_str(),
                        stress::summary(fault).c_str());
    std::printf("notes (files; no failure):\n");
    for (const stress::Fault fault : stress::allFaults)
        if (!stress::isFailure(fault))
            std::printf("  %5zu %s: %s\n", byKind[fault].size(), stress::token(fault).c_str(),
                        stress::summary(fault).c_str());
    // Other words in an export are listed with the drawings below.
    for (const stress::Fault fault : stress::allFaults) {
        if (fault == stress::Fault::readOtherwise || byKind[fault].empty()) continue;
        std::printf("%s, %zu files:\n", stress::token(fault).c_str(), byKind[fault].size());
        for (const auto& line : byKind[fault]) std::printf("  %s\n", line.c_str());
    }
    std::printf("poppler draws or reads %zu files differently after a save or an export (no failure; for a person to "
                "judge)%s\n",
                drawnDifferently.size(), drawnDifferently.empty() ? "" : ":");
    for (const auto& line : drawnDifferently) std::printf("  %s\n", line.c_str());
    return failed ? 1 : 0;
}
