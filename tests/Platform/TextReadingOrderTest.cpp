// A page's text in reading order: right-to-left lines read as the file was
// written, from pieces the engine gives in the order they were drawn.
#include "Platform/PdfDocument.h"
#include "Platform/TextReadingOrder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

namespace {

// The lines of a page's text that hold anything.
QStringList linesOf(const platform::PdfTextPage& page)
{
    QStringList lines = QString::fromStdString(page.text()).split(QLatin1Char('\n'));
    lines.removeAll(QString());
    return lines;
}

} // namespace

TEST(TextReadingOrder, RightToLeftLinesReadAsWritten)
{
    // The paragraphs right-to-left.fodt holds, as typed.
    const QStringList written = {
        QStringLiteral("مرحبا بالعالم، هذه صفحة 42 من كتاب PDF الجديد."),
        QStringLiteral("שלום עולם, זהו עמוד 7 בעברית."),
        QStringLiteral("حَبِيبِي يَا نُورَ الْعَيْن"),
        QStringLiteral("קריאה מימין לשמאל, שורה 2."),
        QStringLiteral("The word كتاب means book, and שלום means peace."),
    };
    struct Row {
        const char* name;
        std::string file;
        QStringList lines;
    };
    const Row rows[] = {
        {"right-to-left paragraphs and a left-to-right one", testsupport::testDataPath("right-to-left.pdf"), written},
        {"the same, its lines running up a rotated page", testsupport::testDataPath("right-to-left-rotated.pdf"),
         written},
        // The words' spaces drawn apart, before the letters; left-to-right
        // paragraphs, whose full stop at the right end comes first.
        {"spaces drawn apart",
         testsupport::testDataPath("hebrew-plain-text.pdf"),
         {QStringLiteral(".שלום עולם. זהו עמוד בעברית לבדיקה"), QStringLiteral(".קריאה מימין לשמאל")}},
        // A glyph standing for a whole word keeps the word's letters in order;
        // glyphs the file gives no letters for stay where they are drawn.
        {"glyphs standing for several letters",
         testsupport::corpusPath("habibi.pdf"),
         {QStringLiteral("حَبيبي habibi\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD حَبيبي \uFFFD")}},
    };
    for (const Row& row : rows) {
        const auto doc = platform::PdfDocument::openFile(row.file);
        const platform::PdfTextPage read = platform::inReadingOrder(doc->textPage(0));
        EXPECT_EQ(linesOf(read), row.lines) << row.name;
    }
}

// Each character keeps the box it is drawn in: the first letter read of a
// right-to-left line stands at its right end.
TEST(TextReadingOrder, CharactersKeepTheirBoxes)
{
    const auto doc = platform::PdfDocument::openFile(testsupport::testDataPath("right-to-left.pdf"));
    const platform::PdfTextPage drawn = doc->textPage(0);
    const platform::PdfTextPage read = platform::inReadingOrder(drawn);
    const platform::PdfTextLine& first = read.blocks.front().lines.front();
    ASSERT_GT(first.chars.size(), 2u);
    EXPECT_EQ(first.chars.front().code, U'\u0645'); // م
    for (const platform::PdfChar& c : first.chars)
        EXPECT_LE(c.quad.bounds().midX(), first.chars.front().quad.bounds().midX() + 0.01);
    // Nothing is lost or made up: the same characters in the same boxes.
    const auto all = [](const platform::PdfTextPage& page) {
        std::vector<std::pair<char32_t, double>> chars;
        for (const auto& block : page.blocks)
            for (const auto& line : block.lines)
                for (const auto& c : line.chars) chars.emplace_back(c.code, c.quad.ul.x + 1000 * c.quad.ul.y);
        std::sort(chars.begin(), chars.end());
        return chars;
    };
    EXPECT_EQ(all(read), all(drawn));
}

// A page without right-to-left letters is read as the engine gives it.
TEST(TextReadingOrder, LeftToRightPagesAreLeftAsTheyAre)
{
    for (const char* name : {"pdflatex-4-pages.pdf", "multicolumn.pdf", "libreoffice-form.pdf"}) {
        const auto doc = platform::PdfDocument::openFile(testsupport::corpusPath(name));
        const platform::PdfTextPage drawn = doc->textPage(0);
        EXPECT_EQ(platform::inReadingOrder(drawn).text(), drawn.text()) << name;
    }
}
