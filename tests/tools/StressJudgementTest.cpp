// How the stress tool judges a written copy and a file: every row is what
// ravlen, poppler and qpdf read of a copy, and the faults it must be counted for.
#include "tools/stress/Judgement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

namespace {

using namespace stress;

const std::string letter = "size: 612 x 792 pts (letter) rot: 0 ";

PopplerReading reading(std::vector<std::string> text)
{
    PopplerReading r;
    r.read = true;
    r.pages = int(text.size());
    r.geometry.assign(text.size(), letter);
    r.text = std::move(text);
    return r;
}

Original original()
{
    Original o;
    o.poppler = reading({"Quarterly report Alpha beta gamma", "Delta epsilon 2,603 words"});
    o.qpdf = QpdfCheck::clean;
    o.layers.read = true;
    return o;
}

WrittenCopy copyBy(Road road)
{
    WrittenCopy c;
    c.what = "the copy";
    c.road = road;
    c.pages = 2;
    c.pagesReopened = 2;
    c.marks = 9;
    c.marksReopened = 9;
    c.poppler = original().poppler;
    c.qpdf = QpdfCheck::clean;
    return c;
}

const std::string glued = "expected dictionary key but found non-name object; inserting key /QPDFFake#";
const std::string linearized = "end of first page section (/E) mismatch: /E = #; computed = #..#";

Layers layers(std::vector<std::string> names, std::vector<std::string> hidden)
{
    return Layers{true, std::move(names), std::move(hidden)};
}

std::multiset<Fault> kinds(const std::vector<Finding>& findings)
{
    std::multiset<Fault> out;
    for (const Finding& f : findings) out.insert(f.fault);
    return out;
}

std::string names(const std::multiset<Fault>& faults)
{
    std::string out;
    for (const Fault f : faults) out += token(f) + " ";
    return out.empty() ? "(none)" : out;
}

TEST(StressJudgement, ACopyIsCountedForEachWayItReadsWorseThanTheOriginal)
{
    using Change = std::function<void(Original&, WrittenCopy&)>;
    // Written after an export; the same write made first written (read as
    // the original) or refused, then `change`.
    const auto after = [](bool writtenFirst, std::function<void(WrittenCopy&)> change) -> Change {
        return [=](Original& o, WrittenCopy& c) {
            c.first = WrittenCopy::FirstWrite{"Export PDF", std::nullopt, false};
            if (writtenFirst) c.first->poppler = o.poppler;
            if (change) change(c);
        };
    };
    const auto signature = [](bool originalValid, bool copyValid) -> Change {
        return [=](Original& o, WrittenCopy& c) {
            o.signatureValid = originalValid;
            c.signatureHolds = copyValid;
        };
    };
    const struct {
        const char* what;
        Road road;
        Change change;
        std::set<Fault> expected; // each kind once
    } rows[] = {
        {"a save read as the original", Road::save, [](Original&, WrittenCopy&) {}, {}},
        {"an export read as the original", Road::exportFlattened, [](Original&, WrittenCopy&) {}, {}},
        // ravlen's own reading of the copy
        {"a save ravlen reopens with a page fewer",
         Road::save,
         [](Original&, WrittenCopy& c) { c.pagesReopened = 1; },
         {Fault::pages}},
        {"a save ravlen cannot reopen",
         Road::save,
         [](Original&, WrittenCopy& c) {
             c.pagesReopened.reset();
             c.unopenedBecause = "no document catalog";
         },
         {Fault::pages}},
        {"an export ravlen reopens with a page fewer",
         Road::exportPDF,
         [](Original&, WrittenCopy& c) { c.pagesReopened = 1; },
         {Fault::pages}},
        {"the PDF layer's copy ravlen reopens with a page fewer",
         Road::memory,
         [](Original&, WrittenCopy& c) { c.pagesReopened = 1; },
         {Fault::pages}},
        {"a save that lost the file's 9 marks",
         Road::save,
         [](Original&, WrittenCopy& c) { c.marksReopened = 0; },
         {Fault::marks}},
        {"a save whose added mark did not come back",
         Road::save,
         [](Original&, WrittenCopy& c) {
             c.marks = 10;
             c.marksReopened = 9;
         },
         {Fault::marks}},
        {"an export that lost a mark",
         Road::exportPDF,
         [](Original&, WrittenCopy& c) { c.marksReopened = 8; },
         {Fault::marks}},
        {"marks that were not counted",
         Road::exportFlattened,
         [](Original&, WrittenCopy& c) {
             c.marks.reset();
             c.marksReopened = 0;
         },
         {}},
        // qpdf's check of the copy against its check of the original
        {"a first save qpdf finds errors in, of a clean file",
         Road::save,
         [](Original&, WrittenCopy& c) {
             c.qpdf = QpdfCheck::errors;
             c.qpdfComplaints = {"unable to find trailer dictionary while recovering damaged file"};
         },
         {Fault::damaged}},
        {"a first save qpdf warns of a key glued to its value, of a clean file",
         Road::save,
         [](Original&, WrittenCopy& c) {
             c.qpdf = QpdfCheck::warnings;
             c.qpdfComplaints = {glued};
         },
         {Fault::damaged}},
        {"a save qpdf warns of a glued key, of a file it warns about otherwise",
         Road::save,
         [](Original& o, WrittenCopy& c) {
             o.qpdf = QpdfCheck::warnings;
             o.qpdfComplaints = {linearized};
             c.qpdf = QpdfCheck::warnings;
             c.qpdfComplaints = {glued, linearized};
         },
         {Fault::damaged}},
        {"a save qpdf warns of what it warned of in the original",
         Road::save,
         [](Original& o, WrittenCopy& c) {
             o.qpdf = c.qpdf = QpdfCheck::warnings;
             o.qpdfComplaints = c.qpdfComplaints = {glued};
         },
         {}},
        {"a save qpdf warns of less than in the original",
         Road::exportPDF,
         [](Original& o, WrittenCopy& c) {
             o.qpdf = c.qpdf = QpdfCheck::warnings;
             o.qpdfComplaints = {glued, linearized};
             c.qpdfComplaints = {glued};
         },
         {}},
        {"an export qpdf finds errors in, of a file it only warns about",
         Road::exportPDF,
         [](Original& o, WrittenCopy& c) {
             o.qpdf = QpdfCheck::warnings;
             c.qpdf = QpdfCheck::errors;
         },
         {Fault::damaged}},
        {"a Save As qpdf finds errors in, of a file it finds clean",
         Road::saveAs,
         [](Original&, WrittenCopy& c) { c.qpdf = QpdfCheck::errors; },
         {Fault::damaged}},
        {"the PDF layer's copy qpdf finds errors in",
         Road::memory,
         [](Original&, WrittenCopy& c) { c.qpdf = QpdfCheck::errors; },
         {Fault::damaged}},
        {"a copy with errors of a file with errors",
         Road::save,
         [](Original& o, WrittenCopy& c) {
             o.qpdf = QpdfCheck::errors;
             c.qpdf = QpdfCheck::errors;
         },
         {}},
        {"a copy qpdf warns about, of a clean file",
         Road::save,
         [](Original&, WrittenCopy& c) { c.qpdf = QpdfCheck::warnings; },
         {}},
        {"a copy with errors of a file qpdf gave no answer on",
         Road::save,
         [](Original& o, WrittenCopy& c) {
             o.qpdf = QpdfCheck::noAnswer;
             c.qpdf = QpdfCheck::errors;
         },
         {}},
        {"a copy qpdf gives no answer on, of a clean file",
         Road::exportPDF,
         [](Original&, WrittenCopy& c) { c.qpdf = QpdfCheck::noAnswer; },
         {Fault::unanswered}},
        // what poppler reads of the copy
        {"the PDF layer's copy poppler finds no pages in",
         Road::memory,
         [](Original&, WrittenCopy& c) { c.poppler = PopplerReading{}; },
         {Fault::popplerPages}},
        {"a save poppler reads a page fewer of",
         Road::save,
         [](Original&, WrittenCopy& c) { c.poppler = reading({"Quarterly report Alpha beta gamma"}); },
         {Fault::popplerPages}},
        {"a save poppler reads a page more of",
         Road::save,
         [](Original&, WrittenCopy& c) {
             c.poppler = reading({"Quarterly report Alpha beta gamma", "Delta epsilon 2,603 words", ""});
         },
         {Fault::popplerOtherwise}},
        {"the PDF layer's copy whose words poppler no longer finds",
         Road::memory,
         [](Original&, WrittenCopy& c) {
             c.poppler = reading({"", ""});
         },
         {Fault::popplerWords}},
        {"the PDF layer's copy poppler reads the marks' words on too",
         Road::memory,
         [](Original&, WrittenCopy& c) {
             c.poppler = reading({"Quarterly report Alpha beta gamma Round trip A note", "Delta epsilon 2,603 words"});
         },
         {}},
        {"the PDF layer's copy of right-to-left words poppler reads in another order",
         Road::memory,
         [](Original& o, WrittenCopy& c) {
             o.poppler = reading({"\u202b \u064a\u0628\u064e\u062d\u202c \u202b\u202a habibi\u202c"});
             c.poppler = reading({"\u202b \u064a\u0628\u064e\u062d\u202c habibi \u202b\u202c"});
             c.pages = 1;
             c.pagesReopened = 1;
         },
         {}},
        {"the PDF layer's copy poppler reads pages of that it could not find in the original",
         Road::memory,
         [](Original& o, WrittenCopy&) { o.poppler = reading({}); },
         {}},
        {"an export poppler reads pages of that it could not find in the original",
         Road::exportPDF,
         [](Original& o, WrittenCopy&) { o.poppler = reading({}); },
         {Fault::readOtherwise}},
        {"a flattened export whose field's tick glyph is drawn as a path",
         Road::exportFlattened,
         [](Original& o, WrittenCopy& c) {
             o.poppler.text[0] += " \u25cf \u2713";
             c.poppler.text[0] += " ";
         },
         {Fault::readOtherwise}},
        {"a flattened export whose field's value lost its letters",
         Road::exportFlattened,
         [](Original& o, WrittenCopy& c) {
             o.poppler.text[0] += " Banana";
             c.poppler.text[0] += " b";
         },
         {Fault::popplerWords}},
        {"a save whose glyphs poppler reads as other letters",
         Road::save,
         [](Original& o, WrittenCopy& c) {
             o.poppler = reading({"BX BX BX"});
             c.poppler = reading({"XF XF XF"});
             c.pages = 1;
             c.pagesReopened = 1;
         },
         {Fault::popplerWords}},
        {"a save poppler reads the same letters of in another order",
         Road::save,
         [](Original&, WrittenCopy& c) {
             c.poppler = reading({"Alpha beta gamma Quarterly report", "Delta epsilon 2,603 words"});
         },
         {Fault::popplerOtherwise}},
        {"a save poppler reads a page of another size of",
         Road::save,
         [](Original&, WrittenCopy& c) { c.poppler.geometry[1] = "size: 595 x 842 pts (A4) rot: 0 "; },
         {Fault::popplerOtherwise}},
        {"an export poppler reads fewer words of",
         Road::exportPDF,
         [](Original&, WrittenCopy& c) { c.poppler.text[1] = "Delta"; },
         {Fault::popplerWords}},
        {"a flattened export poppler reads the fields' values on too",
         Road::exportFlattened,
         [](Original&, WrittenCopy& c) { c.poppler.text[0] = "Quarterly report:Bob Alpha beta gamma"; },
         {Fault::readOtherwise}},
        {"a flattened export of a turned page, drawn upright",
         Road::exportFlattened,
         [](Original& o, WrittenCopy&) { o.poppler.geometry[0] = "size: 612 x 792 pts (letter) rot: 90 "; },
         {}},
        {"a Save As poppler reads a page fewer of",
         Road::saveAs,
         [](Original&, WrittenCopy& c) { c.poppler = reading({"Quarterly report Alpha beta gamma"}); },
         {Fault::popplerPages}},
        {"a Save As poppler reads fewer words of, as the window warned",
         Road::saveAs,
         [](Original&, WrittenCopy& c) {
             c.poppler.text[1] = "";
             c.warned = true;
         },
         {Fault::fewerWordsWarned}},
        {"a Save As poppler reads fewer words of, the window silent",
         Road::saveAs,
         [](Original&, WrittenCopy& c) { c.poppler.text[1] = ""; },
         {Fault::popplerWords}},
        {"an export poppler reads fewer words of, as the window warned",
         Road::exportPDF,
         [](Original&, WrittenCopy& c) {
             c.poppler.text[1] = "Delta";
             c.warned = true;
         },
         {Fault::fewerWordsWarned}},
        {"Share's copy poppler reads pages of that it could not find in the damaged original",
         Road::share,
         [](Original& o, WrittenCopy&) { o.poppler = reading({}); },
         {Fault::readOtherwise}},
        // a write after others on one open document, against the same write made first
        {"a save after an export read as the same save made first", Road::save, after(true, {}), {}},
        {"a save after an export drawn otherwise than the same save made first",
         Road::save,
         after(true, [](WrittenCopy& c) { c.first->drawnOtherwise = true; }),
         {Fault::changedByWrite}},
        {"a save after an export, its words lost, where the same save made first kept them",
         Road::save,
         after(true, [](WrittenCopy& c) { c.poppler.text[1] = ""; }),
         {Fault::popplerWords, Fault::changedByWrite}},
        {"a save after Share's copy that loses a page, as the same save made first did",
         Road::save,
         after(true,
               [](WrittenCopy& c) {
                   c.poppler = reading({"Quarterly report Alpha beta gamma"});
                   c.first->poppler = c.poppler;
               }),
         {Fault::popplerPages}},
        {"a save after an export, where the same save made first was refused",
         Road::save,
         after(false, {}),
         {Fault::changedByWrite}},
        {"a Save As poppler reads more pages of than of the damaged original",
         Road::saveAs,
         [](Original&, WrittenCopy& c) {
             c.poppler = reading({"Quarterly report Alpha beta gamma", "Delta epsilon 2,603 words", "More"});
         },
         {}},
        {"a copy poppler cannot read, of a file it cannot read either",
         Road::save,
         [](Original& o, WrittenCopy& c) {
             o.poppler = PopplerReading{};
             c.poppler = PopplerReading{};
         },
         {}},
        {"a copy poppler gives no answer on",
         Road::save,
         [](Original&, WrittenCopy& c) {
             c.poppler.answered = false;
             c.poppler.text.clear();
         },
         {Fault::unanswered}},
        {"a copy of a file poppler gives no answer on",
         Road::save,
         [](Original& o, WrittenCopy& c) {
             o.poppler.answered = false;
             c.poppler.text.clear();
         },
         {}},
        // layers
        {"a flattened copy that drops the layers, drawn differently",
         Road::exportFlattened,
         [](Original& o, WrittenCopy& c) {
             o.layers = layers({"Hidden", "Shown"}, {"Hidden"});
             c.layers = layers({}, {});
             c.drawnDifferently = true;
         },
         {Fault::layers}},
        {"a flattened copy that shows a hidden layer, drawn differently",
         Road::exportFlattened,
         [](Original& o, WrittenCopy& c) {
             o.layers = layers({"Hidden", "Shown"}, {"Hidden"});
             c.layers = layers({"Hidden", "Shown"}, {});
             c.drawnDifferently = true;
         },
         {Fault::layers}},
        {"a flattened copy that draws only what is shown, without layers",
         Road::exportFlattened,
         [](Original& o, WrittenCopy& c) {
             o.layers = layers({"Hidden", "Shown"}, {"Hidden"});
             c.layers = layers({}, {});
         },
         {}},
        {"an export that keeps the layers, drawn differently",
         Road::exportPDF,
         [](Original& o, WrittenCopy& c) {
             o.layers = layers({"Hidden", "Shown"}, {"Hidden"});
             c.layers = o.layers;
             c.drawnDifferently = true;
         },
         {}},
        {"a copy drawn differently of a file without layers",
         Road::exportFlattened,
         [](Original&, WrittenCopy& c) {
             c.layers = layers({}, {});
             c.drawnDifferently = true;
         },
         {}},
        // a signature: pdfsig's verdict on the original and on the copy
        {"a save after which the signature no longer verifies", Road::save, signature(true, false), {Fault::signature}},
        {"a save after which the signature still verifies", Road::save, signature(true, true), {}},
        {"a round trip's copy, written into memory, whose signature no longer verifies",
         Road::memory,
         signature(true, false),
         {Fault::signature}},
        {"a copy whose signature does not verify, of a file whose signature did not either",
         Road::memory,
         signature(false, false),
         {}},
        // several at once: the signed, encrypted file an export left to be destroyed
        {"a save poppler finds no pages in, ravlen fewer marks and qpdf errors",
         Road::save,
         [](Original&, WrittenCopy& c) {
             c.poppler = PopplerReading{};
             c.marks = 10;
             c.marksReopened = 1;
             c.qpdf = QpdfCheck::errors;
         },
         {Fault::marks, Fault::damaged, Fault::popplerPages}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Original o = original();
        WrittenCopy c = copyBy(row.road);
        row.change(o, c);
        const std::vector<Finding> findings = judgeCopy(o, c);
        const std::multiset<Fault> found = kinds(findings);
        const std::multiset<Fault> expected(row.expected.begin(), row.expected.end());
        EXPECT_EQ(names(found), names(expected));
        for (const Finding& f : findings) {
            EXPECT_NE(f.text.find(c.what), std::string::npos) << "each finding names its copy: " << f.text;
        }
    }
}

TEST(StressJudgement, ARefusalIsJudgedByWhatTheSameWriteMadeFirstDid)
{
    const struct {
        const char* what;
        Refusal refusal;
        std::set<Fault> expected;
    } rows[] = {
        {"the first save, refused", {"Save", false, "", false, "damaged"}, {}},
        {"the first export, refused", {"Export PDF", true, "", false, "reads otherwise"}, {Fault::refusedCopy}},
        {"a save refused after an export, the same save made first written",
         {"Save", false, "Export PDF", true, "reads otherwise"},
         {Fault::changedByWrite}},
        {"a save refused after an export, as the same save made first was",
         {"Save", false, "Export PDF", false, "damaged"},
         {}},
        {"Share's copy refused after an export, the same copy made first written",
         {"Share's copy", true, "Export PDF", true, ""},
         {Fault::changedByWrite, Fault::refusedCopy}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::vector<Finding> findings = judgeRefusal(original(), row.refusal);
        EXPECT_EQ(names(kinds(findings)), names({row.expected.begin(), row.expected.end()}));
        for (const Finding& f : findings) {
            EXPECT_NE(f.text.find(row.refusal.what + " refused" + (row.refusal.after.empty() ? "" : " after ")),
                      std::string::npos)
                << f.text;
        }
    }
}

TEST(StressJudgement, QpdfsCheckIsReadFromHowItEnded)
{
    const struct {
        bool answered, exited;
        int code;
        QpdfCheck expected;
    } rows[] = {
        {true, true, 0, QpdfCheck::clean},     {true, true, 3, QpdfCheck::warnings},
        {true, true, 2, QpdfCheck::errors},    {true, true, 1, QpdfCheck::noAnswer},
        {true, false, 0, QpdfCheck::noAnswer}, {false, false, 0, QpdfCheck::noAnswer},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.answered) + std::to_string(row.exited) + std::to_string(row.code));
        EXPECT_EQ(qpdfCheck(row.answered, row.exited, row.code), row.expected);
    }
}

TEST(StressJudgement, QpdfsComplaintsAreComparedWithoutWhereTheyAre)
{
    const std::string path = "/tmp/ravlen-stress-x/copy.pdf";
    const struct {
        const char* what;
        std::string output;
        std::vector<std::string> expected;
    } rows[] = {
        {"a clean file", "checking " + path + "\nPDF Version: 1.7\nNo syntax or stream encoding errors found\n", {}},
        {"a key glued to its value",
         "checking " + path + "\nWARNING: " + path
             + " (object 3 0, offset 208): unknown token while reading object; treating as string\nWARNING: " + path
             + " (object 3 0, offset 203): expected dictionary key but found non-name object; inserting key "
               "/QPDFFake1\nqpdf: operation succeeded with warnings\n",
         {glued, "unknown token while reading object; treating as string"}},
        {"the same complaint of two objects, once",
         "WARNING: " + path + " (object 3 0, offset 208): unknown token while reading object; treating as string\n"
             + "WARNING: " + path
             + " (object 12 0, offset 1208): unknown token while reading object; treating as string\n",
         {"unknown token while reading object; treating as string"}},
        {"a file qpdf cannot recover",
         "WARNING: " + path + ": file is damaged\nqpdf: " + path
             + ": unable to find trailer dictionary while recovering damaged file\n",
         {"file is damaged", "unable to find trailer dictionary while recovering damaged file"}},
        {"an object on its own and in an object stream",
         "WARNING: " + path + ", object 15 0 at offset 745: /Type key should be /Page but is not; overriding\nWARNING: "
             + path + " object stream 32, object 15 0 at offset 80: /Type key should be /Page but is not; overriding\n",
         {"/Type key should be /Page but is not; overriding"}},
        {"a linearized file's numbers",
         "WARNING: " + path + ": end of first page section (/E) mismatch: /E = 38863; computed = 46477..46479\n",
         {linearized}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(qpdfComplaints(row.output, path), row.expected);
    }
}

TEST(StressJudgement, AFileIsTalliedByItsWorstFinding)
{
    using Result = FileReport::Result;
    const Finding lostPages{Fault::popplerPages, "the round trip's copy: poppler reads 0 pages of 4"};
    const Finding damaged{Fault::damaged, "the copy saved with no edit: qpdf finds errors"};
    const Finding warned{Fault::fewerWordsWarned, "the copy Save As wrote: poppler reads fewer words"};
    const Finding otherwise{Fault::readOtherwise, "Export Flattened PDF: other words on page 1"};
    const Finding layers{Fault::layers, "Export Flattened PDF: the layers are gone"};
    const Finding refusedExport{Fault::refusedCopy, "Export PDF refused (reads otherwise)"};
    const Finding changed{Fault::changedByWrite, "the copy saved after Export PDF: other words than made first"};
    const std::string byDesign = "by design";
    const struct {
        const char* what;
        FileReport report;
        Tally tally;
        std::set<Fault> failures;
        bool keptBySignature;
        std::string says, neverSays;
    } rows[] = {
        {"a file that went through", {Result::ok, "", 11, {}, ""}, Tally::passed, {}, false, "11 marks", "FAILED"},
        {"a file with no password we know", {Result::locked, "", 0, {}, ""}, Tally::passed, {}, false, "locked", ""},
        {"a PDF without pages", {Result::noPages, "none", 0, {}, ""}, Tally::passed, {}, false, "no pages", ""},
        {"a signed file whose signed revision keeps the marks",
         {Result::ok, "", 0, {}, "a deleted highlight mark is still in the file"},
         Tally::passed,
         {},
         true,
         byDesign,
         ""},
        {"a file saved by an update whose revision before keeps the marks",
         {Result::ok,
          "",
          0,
          {},
          "a deleted highlight mark is still in the file, in the revision the update appends to"},
         Tally::passed,
         {},
         true,
         byDesign,
         ""},
        {"a signed file whose round trip poppler reads no pages of",
         {Result::ok, "", 0, {lostPages}, "a deleted highlight mark is still in the file"},
         Tally::failed,
         {Fault::popplerPages},
         false,
         "poppler reads 0 pages",
         byDesign},
        {"a refused save", {Result::refused, "damaged", 0, {}, ""}, Tally::refused, {}, false, "left as it was", ""},
        {"a save refused after a first save wrote damage",
         {Result::refused, "damaged", 0, {damaged}, ""},
         Tally::failed,
         {Fault::damaged},
         false,
         "qpdf finds errors",
         "left as it was"},
        {"a refused save whose Save As shows fewer words, as warned",
         {Result::refused, "damaged", 0, {warned}, ""},
         Tally::refused,
         {},
         false,
         "fewer words",
         ""},
        {"a file whose export reads other words",
         {Result::ok, "", 11, {otherwise}, ""},
         Tally::passed,
         {},
         false,
         "",
         ""},
        {"a file whose flattened copy drops its layers",
         {Result::ok, "", 11, {layers, otherwise}, ""},
         Tally::failed,
         {Fault::layers},
         false,
         "layers are gone",
         ""},
        {"a file whose export was refused, the user told",
         {Result::ok, "", 11, {refusedExport}, ""},
         Tally::passed,
         {},
         false,
         "Export PDF refused",
         "FAILED"},
        {"a refused file whose save after an export reads otherwise",
         {Result::refused, "damaged", 0, {refusedExport, changed}, ""},
         Tally::failed,
         {Fault::changedByWrite},
         false,
         "other words than made first",
         "left as it was"},
        {"a file that opened but could not be written",
         {Result::unsaveable, "no room", 0, {}, ""},
         Tally::failed,
         {Fault::unsaveable},
         false,
         "no room",
         ""},
        {"a file whose checks stopped on an error",
         {Result::error, "page 2 render: no image", 0, {}, ""},
         Tally::failed,
         {Fault::other},
         false,
         "no image",
         ""},
        {"a file whose checks crashed",
         {Result::ended, "crashed (signal 11)", 0, {}, ""},
         Tally::failed,
         {Fault::other},
         false,
         "crashed",
         ""},
        {"a file neither ravlen nor poppler opens",
         {Result::unopened, "no header", 0, {}, ""},
         Tally::unopened,
         {},
         false,
         "no header",
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const FileVerdict verdict = judgeFile(row.report);
        EXPECT_EQ(int(verdict.tally), int(row.tally)) << verdict.text;
        EXPECT_EQ(names({verdict.failures.begin(), verdict.failures.end()}),
                  names({row.failures.begin(), row.failures.end()}));
        EXPECT_EQ(verdict.keptBySignature, row.keptBySignature) << verdict.text;
        EXPECT_NE(verdict.text.find(row.says), std::string::npos) << verdict.text;
        if (!row.neverSays.empty()) {
            EXPECT_EQ(verdict.text.find(row.neverSays), std::string::npos) << verdict.text;
        }
    }
}

TEST(StressJudgement, EachFaultIsReportedAndSummedUnderItsOwnName)
{
    std::set<std::string> tokens, summaries;
    for (const Fault f : allFaults) {
        EXPECT_EQ(faultNamed(token(f)), f);
        EXPECT_EQ(token(f).find(' '), std::string::npos) << "a report line's word: " << token(f);
        tokens.insert(token(f));
        summaries.insert(summary(f));
    }
    EXPECT_EQ(tokens.size(), std::size(allFaults));
    EXPECT_EQ(summaries.size(), std::size(allFaults));
    EXPECT_FALSE(faultNamed("nonsense"));
}

} // namespace
