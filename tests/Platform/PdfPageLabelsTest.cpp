#include "Platform/PdfPageLabels.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using Style = PdfPageLabelRange::Style;

namespace {

// A PDF of `pages` empty pages whose catalog carries `pageLabels` (object 3
// onwards may hold extra objects, numbered after the pages).
QByteArray pdfWithLabels(int pages, const std::string& pageLabels, const std::vector<std::string>& extra = {})
{
    std::vector<std::string> objects;
    objects.push_back("<< /Type /Catalog /Pages 2 0 R " + pageLabels + " >>");
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(3 + i) + " 0 R ";
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    for (int i = 0; i < pages; ++i) objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>");
    for (const auto& o : extra) objects.push_back(o);
    return testsupport::writePdf(objects);
}

std::vector<std::string> labelsOf(const PdfDocument& doc)
{
    const auto ranges = pageLabelRanges(doc);
    std::vector<std::string> labels;
    for (int i = 0; i < doc.pageCount(); ++i) labels.push_back(pageLabel(ranges, i));
    return labels;
}

} // namespace

TEST(PdfPageLabelsTest, NumbersInEveryStyle)
{
    struct Case {
        Style style;
        int value;
        const char* text;
    } cases[] = {
        {Style::decimal, 7, "7"},
        {Style::upperRoman, 14, "XIV"},
        {Style::lowerRoman, 1994, "mcmxciv"},
        {Style::lowerRoman, 4, "iv"},
        {Style::upperLetters, 1, "A"},
        {Style::upperLetters, 26, "Z"},
        {Style::upperLetters, 27, "AA"},
        {Style::lowerLetters, 54, "bbb"},
        {Style::none, 5, ""},
        {Style::upperRoman, 2000000000, "2000000000"}, // no megabytes of M
    };
    for (const Case& c : cases) EXPECT_EQ(formatPageNumber(c.style, c.value), c.text) << c.value;
}

TEST(PdfPageLabelsTest, RangesWithPrefixesAndStartValues)
{
    const auto doc = PdfDocument::openBytes(pdfWithLabels(
        8, "/PageLabels << /Nums [0 << /S /r >> 2 << /S /D >> 4 << /S /A /P (App-) /St 3 >> 6 << /P (Cover) >> ] >>"));
    EXPECT_EQ(labelsOf(*doc), (std::vector<std::string>{"i", "ii", "1", "2", "App-C", "App-D", "Cover", "Cover"}));
}

TEST(PdfPageLabelsTest, NumberTreeWithKids)
{
    // The root holds only kids; one kid is an indirect node with its own kid.
    const auto doc = PdfDocument::openBytes(
        pdfWithLabels(5, "/PageLabels << /Kids [ << /Limits [0 1] /Nums [0 << /S /R >>] >> 8 0 R ] >>",
                      {"<< /Limits [2 4] /Kids [ << /Nums [2 << /S /a /St 2 >> 4 << /S /D /St 10 >>] >> ] >>"}));
    EXPECT_EQ(labelsOf(*doc), (std::vector<std::string>{"I", "II", "b", "c", "10"}));
}

TEST(PdfPageLabelsTest, DamagedOrMissingTrees)
{
    struct Case {
        const char* name;
        std::string labels;
        std::vector<std::string> expected;
    } cases[] = {
        {"none", "", {"", "", ""}},
        {"starts after the first page", "/PageLabels << /Nums [1 << /S /D >>] >>", {"", "1", "2"}},
        {"odd entries and junk skipped", "/PageLabels << /Nums [0 (x) 1 << /S /D /St -4 >> 2] >>", {"", "1", "2"}},
        {"kids that point at themselves", "/PageLabels 6 0 R", {"", "", ""}},
    };
    for (const Case& c : cases) {
        const auto doc =
            PdfDocument::openBytes(pdfWithLabels(3, c.labels, {"<< /Kids [6 0 R 6 0 R] /Nums [9 << /S /D >>] >>"}));
        EXPECT_EQ(labelsOf(*doc), c.expected) << c.name;
    }
}

TEST(PdfPageLabelsTest, LabelsOfAFileFromATypesetter)
{
    const auto doc = PdfDocument::openFile(testsupport::corpusPath("GeoTopo-komprimiert.pdf"));
    const auto ranges = pageLabelRanges(*doc);
    EXPECT_EQ(pageLabel(ranges, 0), "i");
    EXPECT_EQ(pageLabel(ranges, 2), "iii");
    EXPECT_EQ(pageLabel(ranges, 3), "1");
    EXPECT_EQ(pageLabel(ranges, doc->pageCount() - 1), std::to_string(doc->pageCount() - 3));
}
