#include "QuarnKit/Document/DocumentSearch.h"

#include "DocumentMetadataTestPdf.h"
#include "Platform/PdfTextReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

using platform::PdfDocument;
using quarnkit::DocumentSearch;
using quarnkit::FindOptions;
using quarnkit::PageSearchText;
using quarnkit::SearchMatch;
namespace TextMatch = quarnkit::TextMatch;
using Range = TextMatch::Range;

namespace {

const FindOptions anyCase{false, false};
const FindOptions exactCase{true, false};
const FindOptions wholeWords{false, true};

std::vector<Range> find(const QString& query, const QString& text, const FindOptions& options = anyCase)
{
    return TextMatch::ranges(query, text, options);
}

// Runs the owner's event loop until `done` holds (or a generous limit passes,
// so that a broken search fails instead of hanging).
void pumpUntil(const std::function<bool()>& done) { testsupport::waitFor(done, 120000); }

// Everything one search reported, in order.
struct Outcome {
    std::vector<std::vector<SearchMatch>> batches;
    int finishes = 0;
    bool batchAfterFinish = false;

    std::vector<SearchMatch> matches() const
    {
        std::vector<SearchMatch> all;
        for (const auto& batch : batches) all.insert(all.end(), batch.begin(), batch.end());
        return all;
    }
};

void startInto(DocumentSearch& search, Outcome& outcome, const QString& query, const FindOptions& options)
{
    search.start(
        query, options,
        [&outcome](const std::vector<SearchMatch>& batch) {
            if (outcome.finishes) outcome.batchAfterFinish = true;
            outcome.batches.push_back(batch);
        },
        [&outcome] { ++outcome.finishes; });
}

// Starts a search that its own first batch cancels, while the readers are
// still at work however fast they are.
void startCancelledByFirstBatch(DocumentSearch& search, Outcome& outcome, const QString& query)
{
    search.start(
        query, anyCase,
        [&search, &outcome](const std::vector<SearchMatch>& batch) {
            outcome.batches.push_back(batch);
            search.cancel();
        },
        [&outcome] { ++outcome.finishes; });
}

Outcome searchAll(std::shared_ptr<const PdfDocument> doc, const QString& query, const FindOptions& options = anyCase,
                  int readers = 0)
{
    DocumentSearch search(std::move(doc), readers);
    Outcome outcome;
    startInto(search, outcome, query, options);
    pumpUntil([&] { return outcome.finishes > 0; });
    EXPECT_FALSE(search.isRunning());
    return outcome;
}

platform::PdfChar glyph(char32_t code, double x, double y, double width = 6, double height = 10)
{
    return {code, {{x, y + height}, {x + width, y + height}, {x, y}, {x + width, y}}};
}

platform::PdfTextLine line(const std::u32string& text, double y)
{
    platform::PdfTextLine l;
    double x = 72;
    for (char32_t c : text) {
        l.chars.push_back(glyph(c, x, y));
        x += 6;
    }
    return l;
}

} // namespace

// ---------------------------------------------------------------- matching rules

TEST(TextMatchRules, CaseFolding)
{
    EXPECT_EQ(find("PDF", "a pdf file").size(), 1u);
    EXPECT_TRUE(find("PDF", "a pdf file", exactCase).empty());
    EXPECT_EQ(find("PDF", "a PDF file", exactCase), (std::vector<Range>{{2, 3}}));
    // Beyond ASCII: accented and Greek letters, final sigma included.
    EXPECT_EQ(find(QStringLiteral("\u00C9T\u00C9"), QStringLiteral("l'\u00E9t\u00E9")).size(), 1u);
    EXPECT_EQ(
        find(QStringLiteral("\u03A3\u039F\u03A6\u039F\u03A3"), QStringLiteral("\u03C3\u03BF\u03C6\u03BF\u03C2")).size(),
        1u);
}

TEST(TextMatchRules, MatchesDoNotOverlapAndQueriesAreTrimmed)
{
    EXPECT_EQ(find("aa", "aaaa"), (std::vector<Range>{{0, 2}, {2, 2}}));
    EXPECT_TRUE(find("   ", "a   b").empty());
    EXPECT_TRUE(find("", "abc").empty());
    EXPECT_EQ(find(" cat\n", "a cat"), (std::vector<Range>{{2, 3}}));
    EXPECT_TRUE(find("cat", "").empty());
}

TEST(TextMatchRules, WholeWords)
{
    EXPECT_EQ(find("cat", "the cat sat", wholeWords), (std::vector<Range>{{4, 3}}));
    EXPECT_EQ(find("cat", "(cat)", wholeWords), (std::vector<Range>{{1, 3}}));
    EXPECT_EQ(find("cat", "the cat.", wholeWords).size(), 1u);
    EXPECT_TRUE(find("cat", "cats", wholeWords).empty());
    EXPECT_TRUE(find("cat", "concat", wholeWords).empty());
    // Punctuation at the query's edge needs no boundary on that side.
    EXPECT_EQ(find("-cat", "a-cat", wholeWords), (std::vector<Range>{{1, 4}}));
    EXPECT_TRUE(find("-cat", "-cats", wholeWords).empty());
    // A rejected occurrence does not hide a later one.
    EXPECT_EQ(find("cat", "cats cat", wholeWords), (std::vector<Range>{{5, 3}}));
    // Digits and combining marks belong to words.
    EXPECT_TRUE(find("cat", "cat9", wholeWords).empty());
    EXPECT_TRUE(find("cat", QStringLiteral("cat\u0301"), wholeWords).empty());
    // A character beyond the Basic Multilingual Plane is a boundary.
    EXPECT_EQ(find("cat", QStringLiteral("\U0001D400cat"), wholeWords).size(), 1u);
}

TEST(TextMatchRules, IsWholeWordRejectsImpossibleRanges)
{
    EXPECT_FALSE(TextMatch::isWholeWord({-1, 3}, "cat", "cat"));
    EXPECT_FALSE(TextMatch::isWholeWord({1, 3}, "cat", "cat"));
    EXPECT_TRUE(TextMatch::isWholeWord({0, 3}, "cat", "cat"));
    EXPECT_TRUE(TextMatch::isWholeWord({0, 3}, "cat", "   "));
}

// ---------------------------------------------------------------- page text

TEST(PageSearchTextMapping, LinesJoinAndMatchesMapToOneQuadPerLine)
{
    platform::PdfTextPage page;
    page.blocks.push_back({{line(U"the brown", 700), line(U"fox", 680)}, {}});
    const PageSearchText text(page);
    EXPECT_EQ(text.text(), "the brown fox");
    const auto ranges = TextMatch::ranges("brown fox", text.text(), anyCase);
    ASSERT_EQ(ranges.size(), 1u);
    const auto quads = text.quads(ranges[0]);
    ASSERT_EQ(quads.size(), 2u);
    // "brown" is glyphs 4…8 of the first line; "fox" all of the second.
    EXPECT_DOUBLE_EQ(quads[0].ll.x, 72 + 4 * 6);
    EXPECT_DOUBLE_EQ(quads[0].lr.x, 72 + 9 * 6);
    EXPECT_DOUBLE_EQ(quads[0].ll.y, 700);
    EXPECT_DOUBLE_EQ(quads[1].ll.x, 72);
    EXPECT_DOUBLE_EQ(quads[1].lr.x, 72 + 3 * 6);
    EXPECT_DOUBLE_EQ(quads[1].ll.y, 680);
}

TEST(PageSearchTextMapping, LigaturesAndAstralCharacters)
{
    platform::PdfTextPage page;
    page.blocks.push_back({{line(U"\uFB01nd \U0001D400x", 700)}, {}});
    const PageSearchText text(page);
    EXPECT_EQ(text.text(), QStringLiteral("find \U0001D400x"));
    const auto fi = TextMatch::ranges("fi", text.text(), anyCase);
    ASSERT_EQ(fi.size(), 1u);
    const auto ligature = text.quads(fi[0]);
    ASSERT_EQ(ligature.size(), 1u);
    EXPECT_DOUBLE_EQ(ligature[0].ll.x, 72);
    EXPECT_DOUBLE_EQ(ligature[0].lr.x, 78);
    // A surrogate pair is one glyph.
    const auto astral = text.quads(TextMatch::ranges(QStringLiteral("\U0001D400x"), text.text(), anyCase).at(0));
    ASSERT_EQ(astral.size(), 1u);
    EXPECT_DOUBLE_EQ(astral[0].ll.x, 72 + 4 * 6);
    EXPECT_DOUBLE_EQ(astral[0].lr.x, 72 + 6 * 6);
}

TEST(PageSearchTextMapping, BlankGlyphsAtTheLineEdgesAreLeftOut)
{
    platform::PdfTextPage page;
    page.blocks.push_back({{line(U"end ", 700), line(U" start", 680)}, {}});
    const PageSearchText text(page);
    EXPECT_EQ(text.text(), "end  start");
    const auto quads = text.quads({0, 10});
    ASSERT_EQ(quads.size(), 2u);
    EXPECT_DOUBLE_EQ(quads[0].lr.x, 72 + 3 * 6);
    EXPECT_DOUBLE_EQ(quads[1].ll.x, 72 + 6);
    EXPECT_TRUE(text.quads({-1, 0}).empty());
}

// ---------------------------------------------------------------- document search

TEST(DocumentSearchRun, BlankQueryFinishesBeforeStartReturns)
{
    DocumentSearch search(PdfDocument::openBytes(testsupport::makeTextPdf(2)));
    Outcome outcome;
    startInto(search, outcome, " \n\t ", anyCase);
    EXPECT_EQ(outcome.finishes, 1);
    EXPECT_FALSE(search.isRunning());
    pumpUntil([] { return true; });
    QCoreApplication::processEvents();
    EXPECT_TRUE(outcome.batches.empty());
    EXPECT_EQ(outcome.finishes, 1);
}

TEST(DocumentSearchRun, CountsMatchesOnEveryPageInPageOrder)
{
    std::shared_ptr<const PdfDocument> doc =
        PdfDocument::openBytes(testsupport::makeTextPdf(50, "needle in a haystack"));
    const Outcome outcome = searchAll(doc, "Needle");
    const auto matches = outcome.matches();
    ASSERT_EQ(matches.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(matches[std::size_t(i)].page, i);
        EXPECT_EQ(matches[std::size_t(i)].text, "needle");
        EXPECT_EQ(matches[std::size_t(i)].quads.size(), 1u);
    }
    EXPECT_EQ(outcome.finishes, 1);
    EXPECT_FALSE(outcome.batchAfterFinish);
    // The first page with a match goes out on its own, before the rest is read.
    ASSERT_GE(outcome.batches.size(), 2u);
    EXPECT_EQ(outcome.batches[0].size(), 1u);
    EXPECT_EQ(outcome.batches[0][0].page, 0);
}

TEST(DocumentSearchRun, MatchCaseAndWholeWordsOverManyPages)
{
    std::shared_ptr<const PdfDocument> doc = PdfDocument::openBytes(testsupport::makeTextPdf(50));
    // "Page 1" and "Page 10" … "Page 19".
    EXPECT_EQ(searchAll(doc, "Page 1").matches().size(), 11u);
    const auto whole = searchAll(doc, "page 1", wholeWords).matches();
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].page, 0);
    // No match at all still finishes, once.
    const Outcome none = searchAll(doc, "page 1", exactCase);
    EXPECT_TRUE(none.matches().empty());
    EXPECT_EQ(none.finishes, 1);
}

TEST(DocumentSearchRun, QuadsLieOnTheGlyphs)
{
    std::shared_ptr<const PdfDocument> doc = PdfDocument::openBytes(testsupport::makeTextPdf(1, "find the word here"));
    const auto matches = searchAll(doc, "word").matches();
    ASSERT_EQ(matches.size(), 1u);
    const platform::PdfTextPage page = doc->textPage(0);
    // The first and last glyph of "word" on the second line of text.
    const platform::PdfTextLine* wordLine = nullptr;
    for (const auto& block : page.blocks)
        for (const auto& l : block.lines)
            if (QString::fromStdString(l.text()).contains("word")) wordLine = &l;
    ASSERT_NE(wordLine, nullptr);
    const int at = int(QString::fromStdString(wordLine->text()).indexOf("word"));
    ASSERT_EQ(matches[0].quads.size(), 1u);
    EXPECT_EQ(matches[0].quads[0].ul, wordLine->chars[std::size_t(at)].quad.ul);
    EXPECT_EQ(matches[0].quads[0].lr, wordLine->chars[std::size_t(at + 3)].quad.lr);
    const platform::PdfRect bounds = matches[0].bounds();
    EXPECT_GT(bounds.width, 10);
    EXPECT_NEAR(bounds.midY(), 664, 8); // the 12-point line set at y = 660
}

TEST(DocumentSearchRun, PhraseRunningOnToTheNextLine)
{
    handmade::Page page;
    page.content = handmade::textLines({"the quick brown", "fox jumps"});
    std::shared_ptr<const PdfDocument> doc = PdfDocument::openBytes(handmade::makePdf({page}));
    const auto matches = searchAll(doc, "brown fox").matches();
    ASSERT_EQ(matches.size(), 1u);
    ASSERT_EQ(matches[0].quads.size(), 2u);
    EXPECT_GT(matches[0].quads[0].bounds().minY(), matches[0].quads[1].bounds().maxY() - 1);
    EXPECT_LT(matches[0].quads[1].bounds().minX(), matches[0].quads[0].bounds().minX());
}

TEST(DocumentSearchRun, RealFile)
{
    std::shared_ptr<const PdfDocument> doc = PdfDocument::openFile(testsupport::corpusPath("pdflatex-4-pages.pdf"));
    EXPECT_EQ(searchAll(doc, "Kjift", exactCase).matches().size(), 23u);
    const auto phrase = searchAll(doc, "this text", exactCase).matches();
    EXPECT_EQ(phrase.size(), 46u);
    const auto acrossLines =
        std::count_if(phrase.begin(), phrase.end(), [](const SearchMatch& m) { return m.quads.size() == 2; });
    EXPECT_EQ(acrossLines, 2);
    const auto caseless = searchAll(doc, "THIS TEXT").matches().size();
    EXPECT_GT(caseless, phrase.size()); // "This text" begins sentences
    EXPECT_TRUE(searchAll(doc, "info", wholeWords).matches().empty());
    EXPECT_GT(searchAll(doc, "info").matches().size(), 0u);
}

TEST(DocumentSearchRun, LockedOrEmptyDocumentsFindNothing)
{
    std::shared_ptr<const PdfDocument> locked =
        PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    ASSERT_TRUE(locked->isLocked());
    const Outcome outcome = searchAll(locked, "the");
    EXPECT_TRUE(outcome.matches().empty());
    EXPECT_EQ(outcome.finishes, 1);
    EXPECT_EQ(searchAll(PdfDocument::createEmpty(), "x").finishes, 1);
}

// ---------------------------------------------------------------- sessions and cancelling

TEST(DocumentSearchSessions, NewSearchSilencesTheOldOne)
{
    std::shared_ptr<const PdfDocument> doc = PdfDocument::openBytes(testsupport::makeTextPdf(300, "common words"));
    Outcome first, second;
    int firstCallsAtRestart = 0;
    {
        DocumentSearch search(doc);
        const auto before = search.session();
        startInto(search, first, "common", anyCase);
        EXPECT_TRUE(search.isRunning());
        EXPECT_GT(search.session(), before);
        // Let the first search queue its reports (the owner's loop is not
        // run meanwhile), then replace it: what was queued must be dropped.
        // The time is the point: the search is replaced part way through.
        QThread::msleep(50);
        const auto restartedAt = search.session();
        startInto(search, second, "words", anyCase);
        EXPECT_GT(search.session(), restartedAt);
        firstCallsAtRestart = int(first.batches.size()) + first.finishes;
        pumpUntil([&] { return second.finishes > 0; });
    }
    // Whatever the old worker still queued is dropped, even after the object is gone.
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(firstCallsAtRestart, 0);
    EXPECT_TRUE(first.batches.empty());
    EXPECT_EQ(first.finishes, 0);
    EXPECT_EQ(second.matches().size(), 300u);
    EXPECT_EQ(second.finishes, 1);
}

TEST(DocumentSearchSessions, CancelStopsEveryHandler)
{
    std::shared_ptr<const PdfDocument> doc = PdfDocument::openBytes(testsupport::makeTextPdf(300, "common words"));
    Outcome outcome;
    {
        DocumentSearch search(doc);
        startInto(search, outcome, "common", anyCase);
        QThread::msleep(20); // the time is the point: cancelled part way through
        search.cancel();
        EXPECT_FALSE(search.isRunning());
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    }
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_TRUE(outcome.batches.empty());
    EXPECT_EQ(outcome.finishes, 0);
}

TEST(DocumentSearchSessions, DestroyingARunningSearchIsSafe)
{
    std::shared_ptr<const PdfDocument> doc = PdfDocument::openBytes(testsupport::makeTextPdf(300, "common words"));
    Outcome outcome;
    auto search = std::make_unique<DocumentSearch>(doc);
    startInto(*search, outcome, "words", anyCase);
    QThread::msleep(5); // the time is the point: destroyed part way through
    search.reset();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(outcome.finishes, 0);
}

TEST(DocumentSearchSessions, HandlerMayStartTheNextSearch)
{
    std::shared_ptr<const PdfDocument> doc = PdfDocument::openBytes(testsupport::makeTextPdf(40, "alpha beta"));
    DocumentSearch search(doc);
    Outcome second;
    int firstBatches = 0;
    bool restarted = false;
    search.start(
        "alpha", anyCase,
        [&](const std::vector<SearchMatch>&) {
            ++firstBatches;
            if (!restarted) {
                restarted = true;
                startInto(search, second, "beta", anyCase);
            }
        },
        [] { ADD_FAILURE() << "the replaced search finished"; });
    pumpUntil([&] { return second.finishes > 0; });
    EXPECT_EQ(firstBatches, 1);
    EXPECT_EQ(second.matches().size(), 40u);
}

TEST(DocumentSearchRun, EveryCorpusFileCanBeSearched)
{
    for (const std::string& path : testsupport::corpusPdfs()) {
        SCOPED_TRACE(path);
        std::shared_ptr<const PdfDocument> doc;
        try {
            doc = PdfDocument::openFile(path);
        } catch (const platform::PdfError&) {
            continue; // files that do not open are the opener's business
        }
        const Outcome outcome = searchAll(doc, "e");
        EXPECT_EQ(outcome.finishes, 1);
        for (const SearchMatch& match : outcome.matches()) {
            ASSERT_FALSE(match.quads.empty());
            ASSERT_LT(match.page, doc->pageCount());
        }
    }
}

TEST(DocumentSearchRun, RotatedRightToLeftPage)
{
    std::shared_ptr<const PdfDocument> doc = PdfDocument::openFile(testsupport::corpusPath("habibi-rotated.pdf"));
    const auto matches = searchAll(doc, "habibi", wholeWords).matches();
    ASSERT_FALSE(matches.empty());
    const platform::PdfPageGeometry geometry = doc->pageGeometry(matches[0].page);
    const platform::PdfRect bounds = matches[0].bounds();
    EXPECT_GT(bounds.width * bounds.height, 0);
    EXPECT_TRUE(geometry.mediaBox.contains({bounds.midX(), bounds.midY()}));
    EXPECT_FALSE(searchAll(doc, QStringLiteral("\u062D\u064E\u0628\u064A\u0628\u064A")).matches().empty());
}

// Pages are read on one thread or several, by readers of their own of an
// unchanged document or from recordings of a changed one: every way, the
// matches are those of reading each page in turn, in page order.
TEST(DocumentSearchRun, ReadersOnSeveralThreadsFindWhatOnePageAtATimeFinds)
{
    const struct Case {
        const char* name;
        bool changed; // an edit since opening: the document has no copy to offer
    } cases[] = {{"unchanged", false}, {"changed", true}};
    for (const char* file :
         {"pdflatex-4-pages.pdf", "google-doc-document.pdf", "multicolumn.pdf", "GeoTopo-komprimiert.pdf"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(file) + ", " + c.name);
            std::shared_ptr<PdfDocument> doc = PdfDocument::openFile(testsupport::corpusPath(file));
            if (c.changed) doc->setInfoString("Title", "Edited");
            EXPECT_EQ(platform::PdfTextReader::open(*doc) != nullptr, !c.changed);
            std::vector<std::pair<int, Range>> expected;
            for (int page = 0; page < doc->pageCount(); ++page) {
                const PageSearchText text(doc->textPage(page));
                for (const Range& range : TextMatch::ranges("e", text.text(), anyCase))
                    expected.emplace_back(page, range);
            }
            ASSERT_FALSE(expected.empty());
            for (int readers : {1, 4}) {
                SCOPED_TRACE(readers);
                std::vector<std::pair<int, Range>> found;
                for (const SearchMatch& match : searchAll(doc, "e", anyCase, readers).matches())
                    found.emplace_back(match.page, match.range);
                EXPECT_EQ(found, expected);
            }
        }
    }
}

TEST(DocumentSearchSessions, CancellingALongSearchWithManyReadersEndsIt)
{
    std::shared_ptr<const PdfDocument> doc = PdfDocument::openBytes(testsupport::makeTextPdf(400, "needle"));
    for (int round = 0; round < 5; ++round) {
        DocumentSearch search(doc);
        Outcome outcome;
        startCancelledByFirstBatch(search, outcome, "needle");
        pumpUntil([&] { return !outcome.batches.empty(); });
        EXPECT_FALSE(search.isRunning());
        QCoreApplication::processEvents();
        EXPECT_EQ(outcome.batches.size(), 1u);
        EXPECT_EQ(outcome.finishes, 0);
    } // each search is destroyed with its readers possibly mid-page
}

// After a cancel every reader leaves the document, though the search object
// that started them lives on and nothing starts another search.
TEST(DocumentSearchSessions, CancelledReadersLetGoOfTheDocument)
{
    std::shared_ptr<const PdfDocument> doc = PdfDocument::openBytes(testsupport::makeTextPdf(2000, "needle"));
    DocumentSearch search(doc, 4);
    Outcome outcome;
    startCancelledByFirstBatch(search, outcome, "needle");
    pumpUntil([&] { return !outcome.batches.empty(); });
    EXPECT_TRUE(testsupport::waitFor([&] { return doc.use_count() == 2; })); // this test's and the search's
    EXPECT_EQ(outcome.batches.size(), 1u);
    EXPECT_EQ(outcome.finishes, 0);
}
