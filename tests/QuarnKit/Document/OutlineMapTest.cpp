#include "QuarnKit/Document/OutlineMap.h"

#include "DocumentMetadataTestPdf.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using platform::PdfDocument;
using platform::PdfOutlineItem;
using quarnkit::OutlineMap;
using quarnkit::OutlinePath;
using quarnkit::OutlineRow;

namespace {

using Paths = std::set<OutlinePath>;

PdfOutlineItem item(const std::string& title, std::optional<int> page, std::vector<PdfOutlineItem> children = {},
                    bool open = false)
{
    PdfOutlineItem i;
    i.title = title;
    i.page = page;
    i.children = std::move(children);
    i.open = open;
    return i;
}

// A (page 0) with A1 (page 2) and A2 (page 5), then B (page 8).
OutlineMap sampleMap() { return OutlineMap({item("A", 0, {item("A1", 2), item("A2", 5)}), item("B", 8)}, 10); }

std::vector<std::string> titles(const std::vector<OutlineRow>& rows)
{
    std::vector<std::string> out;
    for (const OutlineRow& row : rows) out.push_back(std::string(row.depth, '>') + row.entry.title.toStdString());
    return out;
}

} // namespace

TEST(OutlineMapModel, EmptyOutline)
{
    const OutlineMap map({}, 5);
    EXPECT_TRUE(map.isEmpty());
    EXPECT_TRUE(map.visibleRows({}).empty());
    for (int page = 0; page < 5; ++page) EXPECT_FALSE(map.highlighted(page, {}).has_value());

    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(3));
    EXPECT_TRUE(OutlineMap(*doc).isEmpty());
}

TEST(OutlineMapModel, CurrentAndHighlightedFollowTheExpandedSet)
{
    const OutlineMap map = sampleMap();
    EXPECT_EQ(map.current(3), (OutlinePath{0, 0}));
    EXPECT_EQ(map.highlighted(3, {}), (OutlinePath{0}));
    EXPECT_EQ(map.highlighted(3, {{0}}), (OutlinePath{0, 0}));
    EXPECT_EQ(map.highlighted(1, {{0}}), (OutlinePath{0}));
    EXPECT_EQ(map.highlighted(9, {}), (OutlinePath{1}));
    EXPECT_EQ(map.highlighted(6, {{0}}), (OutlinePath{0, 1}));
}

TEST(OutlineMapModel, LaterEntryOnTheSamePageWins)
{
    const OutlineMap map({item("One", 0), item("Two", 0), item("Three", 4)}, 6);
    EXPECT_EQ(map.current(0), (OutlinePath{1}));
    EXPECT_EQ(map.current(3), (OutlinePath{1}));
    EXPECT_EQ(map.current(4), (OutlinePath{2}));
    // A child on its parent's page wins over the parent.
    const OutlineMap nested({item("Parent", 2, {item("Child", 2)})}, 6);
    EXPECT_EQ(nested.current(2), (OutlinePath{0, 0}));
    EXPECT_FALSE(nested.current(1).has_value());
}

TEST(OutlineMapModel, VisibleRowsSkipChildrenOfCollapsedEntries)
{
    const OutlineMap map({item("A", 0, {item("A1", 1, {item("A1a", 1)})}), item("B", 2)}, 3);
    EXPECT_EQ(titles(map.visibleRows({})), (std::vector<std::string>{"A", "B"}));
    // The child is expanded but its parent is not: neither the child nor its children show.
    EXPECT_EQ(titles(map.visibleRows({{0, 0}})), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(titles(map.visibleRows({{0}})), (std::vector<std::string>{"A", ">A1", "B"}));
    EXPECT_EQ(titles(map.visibleRows({{0}, {0, 0}})), (std::vector<std::string>{"A", ">A1", ">>A1a", "B"}));
}

TEST(OutlineMapModel, TitlesAndInitialExpansion)
{
    const OutlineMap map({item("  \n", 0, {}, true), item(" Chapter\t", 1, {item("x", 1)}, true),
                          item("Closed", 1, {item("y", 1)}, false)},
                         3);
    EXPECT_EQ(map.entries()[0].title, "Untitled");
    EXPECT_EQ(map.entries()[1].title, "Chapter");
    // Open without children does not count; closed does not count.
    EXPECT_EQ(map.initiallyExpanded(), (Paths{{1}}));
}

TEST(OutlineMapModel, PagesOutsideTheDocumentAreNone)
{
    const OutlineMap map({item("Gone", 7), item("Here", 1)}, 3);
    EXPECT_FALSE(map.entries()[0].pageIndex.has_value());
    EXPECT_FALSE(map.entries()[0].destination.has_value());
    EXPECT_EQ(map.entries()[1].pageIndex, 1);
    EXPECT_EQ(map.current(2), (OutlinePath{1}));
}

TEST(OutlineMapPdf, ReadsDestinationsActionsAndLinks)
{
    const int extra = handmade::firstExtraObject(10);
    const auto obj = [](int n) { return std::to_string(n) + " 0 R"; };
    const std::vector<std::string> objects{
        "<< /Type /Outlines /First " + obj(extra + 1) + " /Last " + obj(extra + 3) + " /Count 3 >>",
        "<< /Title (   ) /Parent " + obj(extra) + " /Next " + obj(extra + 2) + " /Dest [" + obj(handmade::pageObject(0))
            + " /XYZ 0 792 0] >>",
        "<< /Title (Goes) /Parent " + obj(extra) + " /Prev " + obj(extra + 1) + " /Next " + obj(extra + 3)
            + " /A << /S /GoTo /D [" + obj(handmade::pageObject(3)) + " /Fit] >> >>",
        "<< /Title (Web) /Parent " + obj(extra) + " /Prev " + obj(extra + 2)
            + " /A << /S /URI /URI (https://example.com/) >> >>",
    };
    auto doc =
        PdfDocument::openBytes(handmade::makePdf(handmade::blankPages(10), {}, objects, "/Outlines " + obj(extra)));
    const OutlineMap map(*doc);
    ASSERT_EQ(map.entries().size(), 3u);
    EXPECT_EQ(map.entries()[0].title, "Untitled");
    EXPECT_EQ(map.entries()[0].pageIndex, 0);
    EXPECT_EQ(map.entries()[1].title, "Goes");
    EXPECT_EQ(map.entries()[1].pageIndex, 3);
    EXPECT_EQ(map.entries()[2].title, "Web");
    EXPECT_FALSE(map.entries()[2].pageIndex.has_value());
    // The web link is never the page's entry.
    for (int page = 3; page < 10; ++page) EXPECT_EQ(map.current(page), (OutlinePath{1}));
}

TEST(OutlineMapPdf, FlatOutlineOfPdflatex)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("pdflatex-outline.pdf"));
    const OutlineMap map(*doc);
    ASSERT_FALSE(map.isEmpty());
    const auto rows = map.visibleRows(map.initiallyExpanded());
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(titles(rows), (std::vector<std::string>{"Foo", "Bar", "Baz", "Foo", "Bar", "Baz", "Foo", "Bar", "Baz"}));
    for (const OutlineRow& row : rows) EXPECT_EQ(row.depth, 0);
    EXPECT_EQ(rows[0].entry.pageIndex, 1);
    EXPECT_EQ(rows[4].entry.pageIndex, 2);
    EXPECT_EQ(rows[8].entry.pageIndex, 3);
    ASSERT_TRUE(rows[0].entry.destination && rows[0].entry.destination->point);
    // The cover page comes before every entry.
    EXPECT_FALSE(map.highlighted(0, {}).has_value());
    // The last entry that starts on a page holds it.
    EXPECT_EQ(map.highlighted(1, {}), (OutlinePath{3}));
    EXPECT_EQ(map.highlighted(2, {}), (OutlinePath{6}));
    EXPECT_EQ(map.highlighted(3, {}), (OutlinePath{8}));
}

TEST(OutlineMapPdf, NestedOutlineWithOpenAndClosedEntries)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("mistitled_outlines_example.pdf"));
    const OutlineMap map(*doc);
    ASSERT_EQ(map.entries().size(), 5u);
    EXPECT_EQ(map.initiallyExpanded(), (Paths{{0}, {0, 2}, {1}, {4}}));

    const auto rows = map.visibleRows(map.initiallyExpanded());
    EXPECT_EQ(titles(rows), (std::vector<std::string>{
                                "First",         ">Second",       ">Third",         ">Fourth",       ">>Fifth",
                                ">>Sixth",       ">Seventh",      "Tenth",          ">Eleventh",     ">Twelfth",
                                ">Thirteenth",   ">Fourteenth",   "Fifteenth",      "Eighteenth",    "Nineteenth",
                                ">Twentieth",    ">Twenty-first", ">Twenty-second", ">Twenty-third", ">Twenty-fourth",
                                ">Twenty-fifth", ">Twenty-sixth", ">Twenty-seventh"}));
    EXPECT_EQ(titles(map.visibleRows({})),
              (std::vector<std::string>{"First", "Tenth", "Fifteenth", "Eighteenth", "Nineteenth"}));

    // Page 4 (index 3): the last entry starting there is Twenty-seventh.
    EXPECT_EQ(map.current(3), (OutlinePath{4, 7}));
    EXPECT_EQ(map.highlighted(3, map.initiallyExpanded()), (OutlinePath{4, 7}));
    EXPECT_EQ(map.highlighted(3, {}), (OutlinePath{4}));
    // Seventh opened, Fourth closed: Eighth and Ninth show, Fifth and Sixth do not.
    const Paths open{{0}, {0, 3}};
    EXPECT_EQ(titles(map.visibleRows(open)),
              (std::vector<std::string>{"First", ">Second", ">Third", ">Fourth", ">Seventh", ">>Eighth", ">>Ninth",
                                        "Tenth", "Fifteenth", "Eighteenth", "Nineteenth"}));
    EXPECT_EQ(map.highlighted(2, open), (OutlinePath{4}));
}
