#pragma once
// How ravlen-stress judges what it wrote: each written copy against the
// original, as ravlen, poppler and qpdf read them, and each file from what
// its copies showed. Plain functions of what the tool gathered, so that
// every rule can be tried without a file.
#include <optional>
#include <string>
#include <vector>

namespace stress {

// What poppler reads of a file: its pages, each page's size and rotation as
// pdfinfo gives them, and each page's words.
struct PopplerReading {
    bool answered = true; // every program ended in its time
    bool read = false;    // poppler could read the file at all
    int pages = 0;
    std::vector<std::string> geometry; // "size: … rot: …" of each page
    std::vector<std::string> text;     // each page's words, spaces collapsed
};

// What `qpdf --check` says of a file, from how it ended: 0 clean, 3 only
// warnings, 2 errors; anything else (a crash, its time limit) no answer.
enum class QpdfCheck { clean, warnings, errors, noAnswer };
QpdfCheck qpdfCheck(bool answered, bool exited, int exitCode);
// What it complains of (its warnings and errors), from what it printed of
// the file at `path`: each once, sorted, without the file's name, where in it
// or numbers, so that the complaints of a copy compare with the original's.
std::vector<std::string> qpdfComplaints(const std::string& output, const std::string& path);

// The document's layers (optional content groups) as its catalog lists them.
struct Layers {
    bool read = false;               // qpdf answered
    std::vector<std::string> names;  // every group's name, sorted
    std::vector<std::string> hidden; // the names hidden by default, sorted
    friend bool operator==(const Layers&, const Layers&) = default;
};

// The road a copy was written by, which says what it may show otherwise.
enum class Road {
    memory,          // the PDF layer's own writes (text box, marks round trip): may read more words
    save,            // the window's save over the file: read exactly as the original, but for a mark
    share,           // Share's working copy of the document as it stands, written anew as an export is
    saveAs,          // Save As after a refused save: may show less once the window warned so
    exportPDF,       // the window's Export "PDF": marks kept, pages as they were
    exportFlattened, // Export "Flattened PDF": marks drawn into the page, pages drawn upright
};

struct Original {
    PopplerReading poppler;
    QpdfCheck qpdf = QpdfCheck::noAnswer;
    std::vector<std::string> qpdfComplaints;
    Layers layers;
    bool signatureValid = false; // signed, and pdfsig finds the signature valid
};

// What ravlen, poppler and qpdf read of one written copy.
struct WrittenCopy {
    std::string what; // "the copy saved with no edit"
    Road road = Road::save;
    int pages = 0;                    // the document's pages when it was written
    std::optional<int> pagesReopened; // as ravlen reopens it; none when it cannot
    std::string unopenedBecause;      // why not, then
    std::optional<int> marks;         // the document's marks, every page, when counted
    std::optional<int> marksReopened; // the copy's, when counted
    PopplerReading poppler;
    QpdfCheck qpdf = QpdfCheck::noAnswer;
    std::vector<std::string> qpdfComplaints; // as qpdfComplaints gives them
    std::optional<Layers> layers;            // when read
    bool drawnDifferently = false;           // poppler draws its first pages otherwise than the original's
    std::optional<bool> signatureHolds;      // whether pdfsig finds its signature valid, when checked
    // The window said before writing that it may show less than the
    // original (asked once a document), and the user went on.
    bool warned = false;
    // For a copy written after other writes on the same open document: the
    // same write made first on the document as it opened. No write may
    // change the open document, so the two must read and draw alike.
    struct FirstWrite {
        std::string after;                     // the writes made before this copy, named
        std::optional<PopplerReading> poppler; // of the same write made first; none: that one was refused
        bool drawnOtherwise = false;           // poppler draws this copy's first pages otherwise than that one's
    };
    std::optional<FirstWrite> first;
};

// A write the window refused, nothing written: the user was told.
struct Refusal {
    std::string what;          // "Export PDF"
    bool copy = false;         // an export or Share's copy, which the user may make again; else a save
    std::string after;         // the writes made before it on the same open document, named; empty for none
    bool writtenFirst = false; // the same write made first on the document as it opened was written
    std::string why;
};

// The kinds of fault a copy or a file shows, each counted apart.
enum class Fault {
    // Failures.
    pages,        // ravlen reopens a copy with other pages than were saved, or not at all
    marks,        // ravlen reopens a copy with other marks than were saved
    damaged,      // qpdf finds errors, or warns of what the original does not show, in a copy of a file without errors
    unanswered,   // qpdf or poppler gives no answer on a copy, where it did on the original
    popplerPages, // poppler reads fewer pages of a copy, or cannot read it
    popplerWords, // poppler reads fewer words of a copy
    popplerOtherwise, // poppler reads a saved copy otherwise: page sizes, rotations, words changed
    layers,           // a copy drops the original's layers and poppler draws it differently
    signature,        // a signature that held no longer verifies
    unsaveable,       // the file opened but no save could write it
    changedByWrite,   // a write after others reads, draws or is refused otherwise than made first
    other,            // the checks stopped on an error, a crash or a hang
    // Notes, no failure.
    fewerWordsWarned, // a copy poppler reads fewer words of, as the window warned before writing
    refusedCopy,      // an export or Share's copy the window refused, the user told
    readOtherwise,    // an export or Save As poppler reads with other words, none lost
};
inline constexpr Fault allFaults[] = {Fault::pages,
                                      Fault::marks,
                                      Fault::damaged,
                                      Fault::unanswered,
                                      Fault::popplerPages,
                                      Fault::popplerWords,
                                      Fault::popplerOtherwise,
                                      Fault::layers,
                                      Fault::signature,
                                      Fault::unsaveable,
                                      Fault::changedByWrite,
                                      Fault::other,
                                      Fault::fewerWordsWarned,
                                      Fault::refusedCopy,
                                      Fault::readOtherwise};
bool isFailure(Fault fault);
// The word a child reports it by ("pages", "damaged", …), and back.
std::string token(Fault fault);
std::optional<Fault> faultNamed(const std::string& token);
// What the summary says of the files that show it.
std::string summary(Fault fault);

struct Finding {
    Fault fault;
    std::string text;
    friend bool operator==(const Finding&, const Finding&) = default;
};

// Everything a copy shows that it should not, against the original.
std::vector<Finding> judgeCopy(const Original& original, const WrittenCopy& copy);
// What a refusal shows: a refused export or Share's copy is noted, with what
// qpdf says of the original; a write refused after others where the same
// write made first was written is a failure.
std::vector<Finding> judgeRefusal(const Original& original, const Refusal& refusal);

// What the child reported of one file.
struct FileReport {
    enum class Result { ok, locked, noPages, unopened, unsaveable, refused, error, ended };
    Result result = Result::ok;
    std::string detail; // the result's own words
    int marks = 0;      // marks round-tripped
    std::vector<Finding> findings;
    std::string signedNote; // the revision an update appends to keeps the round trip's deleted marks
};

enum class Tally { passed, refused, unopened, failed };

struct FileVerdict {
    Tally tally = Tally::passed;
    bool keptBySignature = false; // an earlier revision's marks (signed, or kept by an update), by design
    std::vector<Fault> failures;  // each kind once, in the order of allFaults
    std::string text;
};

FileVerdict judgeFile(const FileReport& report);

} // namespace stress
