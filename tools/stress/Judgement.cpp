#include "tools/stress/Judgement.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>
#include <map>

#include <QList>
#include <QString>

namespace stress {

namespace {

struct FaultName {
    Fault fault;
    const char* token;
    const char* summary;
};

constexpr FaultName faultNames[] = {
    {Fault::pages, "pages", "a copy ravlen reopens with other pages than were saved, or cannot reopen"},
    {Fault::marks, "marks", "a copy ravlen reopens with other marks than were saved"},
    {Fault::damaged, "damaged",
     "a copy qpdf --check finds errors in, or warns of what it does not find in the original, of a file without "
     "errors"},
    {Fault::unanswered, "unanswered",
     "a copy qpdf or poppler gives no answer on in its time, where it answered on the original"},
    {Fault::popplerPages, "poppler-pages", "a copy poppler reads fewer pages of, or cannot read"},
    {Fault::popplerWords, "poppler-words", "a copy poppler reads fewer words of"},
    {Fault::popplerOtherwise, "poppler-otherwise",
     "a saved copy poppler reads otherwise: more pages, pages of another size or rotation, words changed"},
    {Fault::layers, "layers", "a copy that drops the original's layers, which poppler draws differently"},
    {Fault::signature, "signature", "a signed file whose signature no longer verifies after a save or a copy"},
    {Fault::unsaveable, "unsaveable", "a file that opened but could not be written"},
    {Fault::changedByWrite, "changed-by-write",
     "a write made after others on one open document (an export, Share's copy, a refused save) that reads, draws "
     "or is refused otherwise than the same write made first: a write changed the open document"},
    {Fault::other, "other", "a file whose checks stopped: an error, a crash or a hang"},
    {Fault::fewerWordsWarned, "fewer-words-warned",
     "a copy poppler reads fewer words of, as the window warned before writing it (Save As or an export of a file "
     "that may show less)"},
    {Fault::refusedCopy, "refused-copy",
     "an export or Share's copy the window refused, the user told (for a person to judge where qpdf finds the "
     "original sound)"},
    {Fault::readOtherwise, "read-otherwise",
     "an export or Save As copy poppler reads other words of, none lost (for a person to judge)"},
};

const FaultName& nameOf(Fault fault)
{
    for (const FaultName& n : faultNames)
        if (n.fault == fault) return n;
    return faultNames[std::size(faultNames) - 1];
}

// The letters and digits of `original` that `copy` lacks, counted with
// their repeats: words merged or split, or read in another order, lose none,
// nor do symbols another drawing shows otherwise (a tick's glyph drawn as a
// path, the direction marks poppler puts around right-to-left words); a word
// gone, or drawn with other letters, does.
size_t missingLetters(const std::string& original, const std::string& copy)
{
    std::map<char32_t, size_t> have;
    for (const char32_t c : QString::fromStdString(copy).toUcs4())
        if (QChar::isLetterOrNumber(c)) ++have[c];
    size_t missing = 0;
    for (const char32_t c : QString::fromStdString(original).toUcs4()) {
        if (!QChar::isLetterOrNumber(c)) continue;
        if (have[c] > 0) --have[c];
        else ++missing;
    }
    return missing;
}

std::vector<std::string> wordsOf(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find(' ', start), text.size());
        if (end > start) out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// A few of the words of `original` that `copy` lacks, for the finding's text.
std::string someMissingWords(const std::string& original, const std::string& copy)
{
    std::map<std::string, int> have;
    for (const auto& word : wordsOf(copy)) ++have[word];
    std::string out;
    int listed = 0, missing = 0;
    for (const auto& word : wordsOf(original)) {
        if (have[word] > 0) {
            --have[word];
            continue;
        }
        ++missing;
        if (listed < 5) {
            out += (listed ? ", \"" : "\"") + word + "\"";
            ++listed;
        }
    }
    if (missing > listed) out += ", …";
    return missing == 0 ? "" : std::to_string(missing) + " words missing: " + out;
}

std::string count(int n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); }

// The pages whose words poppler reads otherwise: those with words lost, and
// those only changed (merged, reordered, added).
struct WordChanges {
    std::vector<int> lost, changed; // 0-based pages
    std::string firstLoss;          // what the first page with a loss lacks
};

// Over the pages both have: a page lost is counted as such.
WordChanges wordChanges(const PopplerReading& original, const PopplerReading& copy)
{
    WordChanges changes;
    for (size_t i = 0; i < original.text.size() && i < size_t(copy.pages); ++i) {
        const std::string& was = original.text[i];
        const std::string now = i < copy.text.size() ? copy.text[i] : std::string();
        if (was == now) continue;
        if (missingLetters(was, now) > 0) {
            if (changes.lost.empty()) changes.firstLoss = someMissingWords(was, now);
            changes.lost.push_back(int(i));
        } else {
            changes.changed.push_back(int(i));
        }
    }
    return changes;
}

std::string pageList(const std::vector<int>& pages)
{
    std::string out = pages.size() == 1 ? "page " : "pages ";
    for (size_t i = 0; i < pages.size() && i < 5; ++i) out += (i ? ", " : "") + std::to_string(pages[i] + 1);
    if (pages.size() > 5) out += ", … (" + std::to_string(pages.size()) + " pages)";
    return out;
}

std::string complaintList(const std::vector<std::string>& complaints)
{
    std::string out;
    for (size_t i = 0; i < complaints.size() && i < 3; ++i) out += (i ? "; " : "") + complaints[i];
    if (complaints.size() > 3) out += "; …";
    return out;
}

std::string layerList(const std::vector<std::string>& names)
{
    if (names.empty()) return "none";
    std::string out;
    for (size_t i = 0; i < names.size() && i < 4; ++i) out += (i ? ", \"" : "\"") + names[i] + "\"";
    if (names.size() > 4) out += ", …";
    return out;
}

std::string qpdfWords(QpdfCheck check)
{
    return check == QpdfCheck::clean                                    ? "qpdf finds no damage in the original"
           : check == QpdfCheck::errors || check == QpdfCheck::warnings ? "qpdf finds damage in the original"
                                                                        : "qpdf gave no answer on the original";
}

void judgePoppler(const Original& original, const WrittenCopy& copy, std::vector<Finding>& findings)
{
    const PopplerReading& was = original.poppler;
    const PopplerReading& now = copy.poppler;
    if (!was.answered || !was.read) return; // poppler gives no answer on the original, or cannot read it either
    const auto add = [&](Fault fault, const std::string& text) {
        findings.push_back({fault, copy.what + ": " + text});
    };
    if (!now.answered) {
        add(Fault::unanswered, "poppler gives no answer on it in its time");
        return;
    }
    if (!now.read) {
        add(Fault::popplerPages, "poppler cannot read it");
        return;
    }
    if (now.pages < was.pages) {
        add(Fault::popplerPages, "poppler reads " + std::to_string(now.pages) + " pages of it, "
                                     + std::to_string(was.pages) + " of the original");
    } else if (now.pages > was.pages) {
        // More pages than poppler found in the original, whose page tree it
        // could not follow whole, is no loss; only a save must read the same.
        const std::string text = "poppler reads " + std::to_string(now.pages) + " pages of it, "
                                 + std::to_string(was.pages) + " of the original";
        if (copy.road == Road::save) add(Fault::popplerOtherwise, text);
        else if (copy.road != Road::memory && copy.road != Road::saveAs) add(Fault::readOtherwise, text);
    }
    if (copy.road == Road::save) {
        // A flattened page is drawn upright, and a Save As of a damaged
        // file may place pages anew; a save keeps every page as it was.
        for (size_t i = 0; i < was.geometry.size() && i < now.geometry.size(); ++i)
            if (now.geometry[i] != was.geometry[i]) {
                add(Fault::popplerOtherwise, "poppler reads page " + std::to_string(i + 1) + " as " + now.geometry[i]
                                                 + "instead of " + was.geometry[i]);
                break;
            }
    }
    const WordChanges words = wordChanges(was, now);
    if (!words.lost.empty()) {
        const std::string text = "poppler reads fewer words on " + pageList(words.lost) + " (" + words.firstLoss + ")";
        add(copy.warned ? Fault::fewerWordsWarned : Fault::popplerWords, text);
    }
    if (!words.changed.empty()) {
        const std::string text = "poppler reads other words on " + pageList(words.changed) + ", none lost";
        switch (copy.road) {
        case Road::save: add(Fault::popplerOtherwise, text); break;
        case Road::share:
        case Road::saveAs:
        case Road::exportPDF:
        case Road::exportFlattened: add(Fault::readOtherwise, text); break;
        case Road::memory: break; // the round trip's marks add their own words
        }
    }
}

// A copy written after other writes against the same write made first on
// the document as it opened: at most one finding, the first way they differ.
void judgeAgainstFirst(const WrittenCopy& copy, std::vector<Finding>& findings)
{
    const WrittenCopy::FirstWrite& first = *copy.first;
    const auto add = [&](const std::string& how) {
        findings.push_back({Fault::changedByWrite,
                            copy.what + ": after " + first.after + ", " + how + ": a write changed the open document"});
    };
    if (!first.poppler) return add("written where the same write made first was refused");
    const PopplerReading& was = *first.poppler;
    const PopplerReading& now = copy.poppler;
    const bool read = was.answered && was.read && now.answered;
    const std::string ofFirst = " of the same write made first";
    if (read && now.pages != was.pages)
        add("poppler reads " + count(now.pages, "page") + " of it, " + std::to_string(was.pages) + ofFirst);
    else if (read && now.geometry != was.geometry) add("poppler reads other page sizes or rotations than" + ofFirst);
    else if (read && now.text != was.text) {
        const std::string lost = wordChanges(was, now).firstLoss;
        add("poppler reads other words than" + ofFirst + " (" + (lost.empty() ? "none lost" : lost) + ")");
    } else if (first.drawnOtherwise) add("poppler draws it otherwise than the same write made first");
}

} // namespace

QpdfCheck qpdfCheck(bool answered, bool exited, int exitCode)
{
    if (!answered || !exited) return QpdfCheck::noAnswer;
    switch (exitCode) {
    case 0: return QpdfCheck::clean;
    case 3: return QpdfCheck::warnings;
    case 2: return QpdfCheck::errors;
    default: return QpdfCheck::noAnswer;
    }
}

std::vector<std::string> qpdfComplaints(const std::string& output, const std::string& path)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < output.size()) {
        const size_t end = std::min(output.find('\n', start), output.size());
        std::string line = output.substr(start, end - start);
        start = end + 1;
        // "WARNING: FILE (object 3 0, offset 208): message", "qpdf: FILE: message".
        const char* const prefixes[] = {"WARNING: ", "ERROR: ", "qpdf: "};
        const auto prefix = std::find_if(std::begin(prefixes), std::end(prefixes),
                                         [&](const char* p) { return line.rfind(p, 0) == 0; });
        if (prefix == std::end(prefixes) || line.find("operation succeeded") != std::string::npos) continue;
        line.erase(0, std::string(*prefix).size());
        if (!path.empty())
            for (size_t at; (at = line.find(path)) != std::string::npos;) line.erase(at, path.size());
        // An object's place: "FILE, object 15 0 at offset 745: message",
        // or in an object stream "FILE object stream 32, object 15 0 at offset 80: message".
        const bool placed = line.rfind(", object ", 0) == 0 || line.rfind(" object stream ", 0) == 0;
        if (line.rfind(" (", 0) == 0 && line.find("): ") != std::string::npos) line.erase(0, line.find("): ") + 3);
        else if (placed && line.find(": ") != std::string::npos) line.erase(0, line.find(": ") + 2);
        else if (line.rfind(": ", 0) == 0) line.erase(0, 2);
        std::string complaint;
        for (size_t i = 0; i < line.size(); ++i) {
            const bool digit = std::isdigit(static_cast<unsigned char>(line[i]));
            if (!digit) complaint += line[i];
            else if (i == 0 || !std::isdigit(static_cast<unsigned char>(line[i - 1]))) complaint += '#';
        }
        if (!complaint.empty()) out.push_back(complaint);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

bool isFailure(Fault fault)
{
    return fault != Fault::fewerWordsWarned && fault != Fault::refusedCopy && fault != Fault::readOtherwise;
}

std::string token(Fault fault) { return nameOf(fault).token; }

std::optional<Fault> faultNamed(const std::string& token)
{
    for (const FaultName& n : faultNames)
        if (token == n.token) return n.fault;
    return std::nullopt;
}

std::string summary(Fault fault) { return nameOf(fault).summary; }

std::vector<Finding> judgeCopy(const Original& original, const WrittenCopy& copy)
{
    std::vector<Finding> findings;
    const auto add = [&](Fault fault, const std::string& text) {
        findings.push_back({fault, copy.what + ": " + text});
    };

    if (!copy.pagesReopened)
        add(Fault::pages,
            "ravlen cannot reopen it" + (copy.unopenedBecause.empty() ? "" : ": " + copy.unopenedBecause));
    else if (*copy.pagesReopened != copy.pages)
        add(Fault::pages, "ravlen reopens it with " + count(*copy.pagesReopened, "page") + ", "
                              + std::to_string(copy.pages) + " were saved");
    if (copy.marks && copy.pagesReopened && copy.marksReopened != copy.marks)
        add(Fault::marks, "ravlen reopens it with "
                              + (copy.marksReopened ? count(*copy.marksReopened, "mark") : "marks it cannot list")
                              + ", " + std::to_string(*copy.marks) + " were saved");

    // Damage qpdf finds in the copy and not in the original is the write's
    // (a key glued to its value is only warned of); where qpdf finds errors
    // in the original, or gives no answer, it cannot tell.
    if (original.qpdf == QpdfCheck::clean || original.qpdf == QpdfCheck::warnings) {
        std::vector<std::string> added;
        std::set_difference(copy.qpdfComplaints.begin(), copy.qpdfComplaints.end(), original.qpdfComplaints.begin(),
                            original.qpdfComplaints.end(), std::back_inserter(added));
        const std::string of =
            original.qpdf == QpdfCheck::clean ? "a clean original" : "an original it only warns about";
        if (copy.qpdf == QpdfCheck::errors)
            add(Fault::damaged,
                "qpdf --check finds errors in it, of " + of
                    + (copy.qpdfComplaints.empty() ? "" : " (" + complaintList(copy.qpdfComplaints) + ")"));
        else if (copy.qpdf == QpdfCheck::warnings && !added.empty())
            add(Fault::damaged,
                "qpdf --check warns of what it does not find in the original (" + complaintList(added) + ")");
        else if (copy.qpdf == QpdfCheck::noAnswer)
            add(Fault::unanswered, "qpdf --check gives no answer on it, and did on the original");
    }

    judgePoppler(original, copy, findings);

    // Layers kept, or dropped with only what was shown drawn, show as the
    // window does; dropped otherwise, hidden content shows or covers.
    if (original.layers.read && !original.layers.names.empty() && copy.layers && copy.layers->read
        && *copy.layers != original.layers && copy.drawnDifferently)
        add(Fault::layers, "its layers are " + layerList(copy.layers->names) + ", hidden "
                               + layerList(copy.layers->hidden) + "; the original's " + layerList(original.layers.names)
                               + ", hidden " + layerList(original.layers.hidden) + "; poppler draws it differently");

    // Any write of a signed file (a save, a copy written into memory) keeps
    // its signed bytes: a signature that verified must still verify.
    if (original.signatureValid && copy.signatureHolds == false)
        add(Fault::signature, "the signature no longer verifies");

    if (copy.first) judgeAgainstFirst(copy, findings);
    return findings;
}

std::vector<Finding> judgeRefusal(const Original& original, const Refusal& refusal)
{
    std::vector<Finding> findings;
    const std::string text = refusal.what + " refused" + (refusal.after.empty() ? "" : " after " + refusal.after)
                             + (refusal.why.empty() ? "" : " (" + refusal.why + ")");
    if (!refusal.after.empty() && refusal.writtenFirst)
        findings.push_back({Fault::changedByWrite,
                            text + ", where the same write made first was written: a write changed the open document"});
    if (refusal.copy) findings.push_back({Fault::refusedCopy, text + "; " + qpdfWords(original.qpdf)});
    return findings;
}

FileVerdict judgeFile(const FileReport& report)
{
    using Result = FileReport::Result;
    FileVerdict verdict;
    for (const Fault fault : allFaults) {
        const bool shown =
            std::any_of(report.findings.begin(), report.findings.end(),
                        [&](const Finding& f) { return f.fault == fault; })
            || (fault == Fault::unsaveable && report.result == Result::unsaveable)
            || (fault == Fault::other && (report.result == Result::error || report.result == Result::ended));
        if (shown && isFailure(fault)) verdict.failures.push_back(fault);
    }
    const bool failed = !verdict.failures.empty();

    std::string text;
    switch (report.result) {
    case Result::ok:
        text = report.marks > 0 || report.signedNote.empty()
                   ? "ok, " + std::to_string(report.marks) + " marks round-tripped"
                   : "ok";
        break;
    case Result::locked: text = "locked"; break;
    case Result::noPages: text = "no pages, and none saved: " + report.detail; break;
    case Result::unopened: text = "not opened: " + report.detail; break;
    case Result::unsaveable: text = "opened but could not be saved: " + report.detail; break;
    case Result::refused:
        // A save refused after an earlier one wrote the file did not leave it as it was.
        text = (failed ? "then a save was refused: " : "refused, the file left as it was: ") + report.detail;
        break;
    case Result::error:
    case Result::ended: text = report.detail; break;
    }
    if (failed) {
        std::string faults;
        for (const Finding& f : report.findings)
            if (isFailure(f.fault)) faults += "[" + token(f.fault) + "] " + f.text + "; ";
        text = "FAILED: " + faults + text;
    }
    for (const Finding& f : report.findings)
        if (!isFailure(f.fault)) text += "; [" + token(f.fault) + "] " + f.text;
    if (!report.signedNote.empty()) {
        // By design only while every copy reads whole: a broken copy is no signed revision.
        verdict.keptBySignature = !failed;
        text += failed ? "; " + report.signedNote + " (no excuse here: its copies fail)"
                       : "; by design, " + report.signedNote + " (an update keeps the revision before it)";
    }
    verdict.text = text;
    verdict.tally = failed                              ? Tally::failed
                    : report.result == Result::unopened ? Tally::unopened
                    : report.result == Result::refused  ? Tally::refused
                                                        : Tally::passed;
    return verdict;
}

} // namespace stress
