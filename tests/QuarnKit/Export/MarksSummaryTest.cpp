#include "QuarnKit/Export/MarksSummary.h"

#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/Redaction.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quarnkit;
using platform::PdfAnnotation;
using platform::PdfDocument;

namespace {

// Three pages; the first carries the words "the *main* point".
std::shared_ptr<PdfDocument> makeDocument()
{
    const std::string text = "BT /F1 24 Tf 72 700 Td (the *main* point) Tj ET";
    auto page = [](int contents) {
        return "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> /Contents "
               + std::to_string(contents) + " 0 R >>";
    };
    auto stream = [](const std::string& s) {
        return "<< /Length " + std::to_string(s.size()) + " >>\nstream\n" + s + "\nendstream";
    };
    return PdfDocument::openBytes(testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [4 0 R 6 0 R 8 0 R] /Count 3 >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        page(5),
        stream(text),
        page(7),
        stream(""),
        page(9),
        stream(""),
    }));
}

platform::PdfRect lineBounds(const PdfDocument& doc) { return doc.textPage(0).blocks.at(0).lines.at(0).bounds; }

PdfAnnotation box(double x, double top, const RGBA& color = RGBA::ink)
{
    return *AnnotationFactory::rectangle({x, top - 40}, {x + 40, top}, color, 2, false);
}

void add(PdfDocument& doc, int page, PdfAnnotation a, const std::string& contents = {})
{
    a.contents = contents;
    platform::PdfAnnotations::add(doc, page, a);
}

} // namespace

TEST(MarksSummary, ReproducesTheDocumentedExample)
{
    auto doc = makeDocument();
    add(*doc, 0, *AnnotationFactory::highlight(lineBounds(*doc), RGBA{1, 0.85, 0.22, 1}), "Check this");
    add(*doc, 2, *AnnotationFactory::ellipse({100, 100}, {200, 160}, RGBA::crimson, 2, false));
    const QString expected = QStringLiteral("# Marks in Report\n"
                                            "\n"
                                            "2 marks on 2 pages.\n"
                                            "\n"
                                            "## Page 1\n"
                                            "\n"
                                            "- **Highlight**, Yellow: \u201Cthe \\*main\\* point\u201D\n"
                                            "  > Check this\n"
                                            "\n"
                                            "## Page 3\n"
                                            "\n"
                                            "- **Ellipse**, Crimson\n");
    EXPECT_EQ(MarksSummary::markdown(*doc, {0, 1, 2}, "Report"), expected);
}

TEST(MarksSummary, NoMarksAndOneMark)
{
    auto doc = makeDocument();
    EXPECT_EQ(MarksSummary::markdown(*doc, {0, 1}, "Report"), "# Marks in Report\n\nNo marks on these pages.\n");
    add(*doc, 1, box(100, 500));
    EXPECT_TRUE(MarksSummary::markdown(*doc, {1}, "R").contains("\n1 mark on 1 page.\n"));
    EXPECT_EQ(MarksSummary::markdown(*doc, {0}, "Q#1 [new]"),
              "# Marks in Q\\#1 \\[new\\]\n\nNo marks on these pages.\n");
}

TEST(MarksSummary, PagesAreListedOnceInOrderButCountedAsListed)
{
    auto doc = makeDocument();
    add(*doc, 0, box(100, 500));
    add(*doc, 2, box(100, 500));
    const auto entries = MarksSummary::entries(*doc, {2, 0, 2, 9, -1});
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].page, 0);
    EXPECT_EQ(entries[1].page, 2);
    EXPECT_EQ(MarksSummary::count(*doc, {2, 0, 2, 9}), 3);
}

TEST(MarksSummary, MarksAreReadInRowsFromLeftToRight)
{
    struct Case {
        double rightTop;
        std::vector<QString> colors;
    };
    // The right mark's top 1.5 points above the left one's: one row, left first.
    // 2.5 points above: the higher one first.
    for (const Case& c : std::vector<Case>{{701.5, {"Moss", "Crimson"}}, {702.5, {"Crimson", "Moss"}}}) {
        auto doc = makeDocument();
        add(*doc, 1, box(300, c.rightTop, RGBA::crimson));
        add(*doc, 1, box(100, 700, RGBA::moss));
        std::vector<QString> colors;
        for (const auto& e : MarksSummary::entries(*doc, {1})) colors.push_back(e.colorName);
        EXPECT_EQ(colors, c.colors) << c.rightTop;
    }
}

TEST(MarksSummary, EntriesTakeTheirWordsColoursAndNotes)
{
    auto doc = makeDocument();
    add(*doc, 1, *Redaction::mark({100, 100}, {200, 200}), "Redaction");
    add(*doc, 1, box(100, 500), "a\n\n  b  \n");
    add(*doc, 1, *AnnotationFactory::highlight({300, 300, 80, 20}, RGBA::highlighter)); // over no text
    auto text = *AnnotationFactory::freeText({72, 650}, "Words", RGBA::amber, 14, TextFont::sans, {0, 0, 612, 792});
    text.color = platform::PdfColor{0, 0, 1};
    add(*doc, 1, text, "Words");

    const auto entries = MarksSummary::entries(*doc, {1});
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0], (SummaryEntry{1, "Text", "Amber", std::nullopt, QString("Words")}));
    EXPECT_EQ(entries[1], (SummaryEntry{1, "Rectangle", "Ink", std::nullopt, QString("a\n\n  b")}));
    EXPECT_EQ(entries[2], (SummaryEntry{1, "Highlight", "Yellow", std::nullopt, std::nullopt}));
    EXPECT_EQ(entries[3], (SummaryEntry{1, "Redaction", "Black", std::nullopt, std::nullopt}));

    const QString md = MarksSummary::markdown(*doc, {1}, "T");
    EXPECT_TRUE(md.contains("- **Rectangle**, Ink\n  > a\n  >\n  > b\n"));
    EXPECT_TRUE(md.contains("- **Highlight**, Yellow\n"));
    EXPECT_TRUE(md.contains("- **Redaction**, Black\n"));
}

TEST(MarksSummary, EscapesMarkdownsActiveCharacters)
{
    EXPECT_EQ(MarksSummary::escaped("a\\b`c*d_e[f]g<h#i>j!"), "a\\\\b\\`c\\*d\\_e\\[f\\]g\\<h\\#i>j!");
}

TEST(ColorName, PaletteNamesFirstThenHueWords)
{
    struct Case {
        std::optional<RGBA> color;
        QString name;
    };
    const std::vector<Case> cases = {
        {std::nullopt, "No color"},
        {RGBA{0.36, 0.56, 0.41, 1}, "Moss"},
        {RGBA{0.345, 0.478, 0.902, 0.2}, "Ink"},
        {RGBA{0.886, 0.231, 0.184, 1}, "Red"},
        {RGBA{1, 0, 0, 1}, "Red"},
        {RGBA{0.5, 0.5, 0.5, 1}, "Gray"},
        {RGBA{0.95, 0.95, 0.95, 1}, "White"},
        {RGBA{0.1, 0.02, 0.02, 1}, "Black"},
        {RGBA{1, 0.5, 0, 1}, "Orange"},
        {RGBA{1, 0.85, 0.22, 1}, "Yellow"},
        {RGBA{0, 0.8, 0, 1}, "Green"},
        {RGBA{0, 0.6, 0.6, 1}, "Teal"},
        {RGBA{0.1, 0.2, 1, 1}, "Blue"},
        {RGBA{0.6, 0.1, 0.9, 1}, "Purple"},
        {RGBA{0.9, 0.1, 0.6, 1}, "Pink"},
        {RGBA{0.9, 0.1, 0.15, 1}, "Red"},
    };
    for (const Case& c : cases) EXPECT_EQ(ColorName::describe(c.color), c.name) << c.name.toStdString();
}

TEST(MarkCensus, CountsMarksAndRedactionsPerPage)
{
    auto doc = makeDocument();
    add(*doc, 1, box(100, 500));
    add(*doc, 1, *Redaction::mark({100, 100}, {200, 200}));
    add(*doc, 2, *Redaction::mark({100, 100}, {200, 200}));
    const MarkCensus census(*doc);
    EXPECT_EQ(census.marks, (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(census.redactions, (std::vector<int>{0, 1, 1}));
    EXPECT_TRUE(census.hasMarks());
    EXPECT_TRUE(census.hasRedactions());
    EXPECT_EQ(census.marksIn({1, 1, 99}), 2);
    EXPECT_EQ(census.redactionsIn({0, 1, 2, 2}), 2);
    EXPECT_EQ(census.pagesWithMarksIn({0, 1, 1, -4}), 1);
    EXPECT_EQ(census.pagesWithRedactionsIn({0, 1, 2}), 2);

    const MarkCensus empty(*PdfDocument::createEmpty());
    EXPECT_TRUE(empty.marks.empty());
    EXPECT_FALSE(empty.hasMarks());
    EXPECT_FALSE(MarkCensus(*makeDocument()).hasRedactions());
}
