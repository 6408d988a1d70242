// The page map read once per document: every page's object and geometry, and
// each page object's place, stay those of the page tree as pages are added,
// moved and renumbered.
#include "Platform/MemoryUse.h"
#include "Platform/PdfPageAssembly.h"
#include "Platform/PdfPageEditing.h"
#include "Platform/PdfPageGeometries.h"
#include "Platform/PdfPageIdentity.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

using platform::PdfDocument;

namespace {

// Pages of three sizes in turn, so that a geometry read for the wrong page shows.
std::shared_ptr<PdfDocument> mixedSizes(int pages)
{
    auto doc = PdfDocument::createEmpty();
    const double widths[] = {612, 420, 842};
    for (int i = 0; i < pages; ++i) {
        const auto page = PdfDocument::createBlank(widths[i % 3], 500 + i);
        platform::appendPages(*doc, *page, 0, 1);
    }
    return doc;
}

// Everything the map answers agrees with reading each page on its own.
void expectMapMatchesPages(const PdfDocument& doc)
{
    const auto ids = platform::pageIds(doc);
    const auto geometries = platform::pageGeometries(doc);
    ASSERT_EQ(int(ids.size()), doc.pageCount());
    ASSERT_EQ(geometries.size(), ids.size());
    for (int i = 0; i < int(ids.size()); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(platform::pageId(doc, i), ids[i]);
        EXPECT_EQ(platform::pageIndex(doc, ids[i]), i);
        const platform::PdfPageGeometry loaded = doc.pageGeometry(i);
        ASSERT_TRUE(geometries[i].has_value());
        EXPECT_EQ(geometries[i]->displaySize.width, loaded.displaySize.width);
        EXPECT_EQ(geometries[i]->displaySize.height, loaded.displaySize.height);
    }
}

} // namespace

TEST(PdfPageMap, FollowsEveryChangeOfThePageTree)
{
    const struct Case {
        const char* name;
        std::function<void(PdfDocument&)> change;
    } cases[] = {
        {"pages appended", [](PdfDocument& doc) { platform::appendPages(doc, *mixedSizes(4), 0, 4); }},
        {"own pages appended", [](PdfDocument& doc) { platform::appendPages(doc, doc, 2, 3); }},
        {"first page moved last", [](PdfDocument& doc) { platform::movePage(doc, 0, doc.pageCount() - 1); }},
        {"last page moved first", [](PdfDocument& doc) { platform::movePage(doc, doc.pageCount() - 1, 0); }},
        {"every other page kept",
         [](PdfDocument& doc) {
             platform::keepPages(doc, {0, 2, 4, 6});
         }},
        {"saved with garbage collected",
         [](PdfDocument& doc) {
             platform::PdfSaveOptions options;
             options.garbageCollect = true;
             doc.save(options);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto doc = mixedSizes(7);
        expectMapMatchesPages(*doc); // builds the map before the change
        const auto before = platform::pageIds(*doc);
        c.change(*doc);
        expectMapMatchesPages(*doc);
        // A page that is still there is still found, wherever it went.
        int found = 0;
        for (const platform::PdfPageId& page : before) found += platform::pageIndex(*doc, page).has_value();
        EXPECT_EQ(found, std::min(int(before.size()), doc->pageCount()));
    }
}

TEST(PdfPageMap, ALongDocumentIsMappedWholeAndAPageObjectNotInItIsNotFound)
{
    auto doc = mixedSizes(3);
    for (int i = 0; i < 8; ++i) platform::appendPages(*doc, *doc, 0, doc->pageCount()); // 768 pages
    ASSERT_EQ(doc->pageCount(), 768);
    platform::movePage(*doc, 700, 5);
    expectMapMatchesPages(*doc);
    EXPECT_EQ(platform::pageGeometries(*doc)[5]->displaySize.height, doc->pageGeometry(5).displaySize.height);
    EXPECT_FALSE(platform::pageIndex(*doc, platform::PdfPageId{}).has_value());
    EXPECT_FALSE(platform::pageIndex(*doc, platform::PdfPageId{1, 0}).has_value()); // the catalog
}

TEST(PdfPageMap, ALongDocumentOpensWithItsFirstPagesAndMapsTheRestLater)
{
    const struct Case {
        const char* name;
        int pages, claimed, objects;
    } cases[] = {
        {"every page there", 2000, 2000, 0},
        {"a count the tree does not hold", 1500, 1800, 1900},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto doc = PdfDocument::openBytes(testsupport::makeBlankPagesPdf(c.pages, 1499, c.claimed, c.objects));
        ASSERT_FALSE(platform::pagesMapped(*doc));
        EXPECT_EQ(doc->pageCount(), c.claimed); // as claimed, until the pages are read
        // The first pages as they are, every other one with page 1's size for now.
        const auto first = platform::firstPageGeometries(*doc, 4);
        ASSERT_EQ(int(first.size()), c.claimed);
        ASSERT_TRUE(first[1499].has_value());
        EXPECT_EQ(first[1499]->displaySize.width, 612);
        // One page's object needs no map.
        EXPECT_EQ(platform::pageId(*doc, 1499), (platform::PdfPageId{3 + 1499, 0}));
        EXPECT_FALSE(platform::pagesMapped(*doc));

        platform::mapPages(*doc);
        EXPECT_TRUE(platform::pagesMapped(*doc));
        EXPECT_EQ(doc->pageCount(), c.pages); // a lying tree was rebuilt from its pages
        const auto all = platform::firstPageGeometries(*doc, 4);
        ASSERT_EQ(int(all.size()), c.pages);
        EXPECT_EQ(all[1499]->displaySize.width, 792);
        EXPECT_EQ(all[1499]->displaySize.height, 612);
        expectMapMatchesPages(*doc);
        // An edit keeps the map current, as for any document.
        platform::movePage(*doc, 1499, 0);
        EXPECT_EQ(platform::pageGeometries(*doc)[0]->displaySize.width, 792);
        EXPECT_TRUE(platform::pagesMapped(*doc));
    }
}

TEST(PdfPageMap, AnEditBeforeTheMapMeetsTheTreeAsItIs)
{
    // The root claims 1,800 pages of 1,500: the edit finds the tree mended first.
    auto doc = PdfDocument::openBytes(testsupport::makeBlankPagesPdf(1500, 1499, 1800, 1900));
    ASSERT_FALSE(platform::pagesMapped(*doc));
    platform::movePage(*doc, 1499, 0);
    EXPECT_TRUE(platform::pagesMapped(*doc));
    EXPECT_EQ(doc->pageCount(), 1500);
    EXPECT_EQ(doc->pageGeometry(0).displaySize.width, 792);
    expectMapMatchesPages(*doc);
}

TEST(PdfPageMap, AShortDocumentIsMappedAtOnce)
{
    auto doc = PdfDocument::openBytes(testsupport::makeBlankPagesPdf(999, 500));
    EXPECT_TRUE(platform::pagesMapped(*doc));
    EXPECT_EQ(platform::firstPageGeometries(*doc, 4)[500]->displaySize.width, 792);
}

// Pages drawn or read one after another, as a long scroll does on the
// workers, leave only the last few of them parsed: each page's dictionary,
// resources and content would otherwise stay in memory to the end (and
// MuPDF, finding a page, reads every page dictionary before it in its
// branch of the tree).
TEST(PdfPageMap, ALongDocumentLetsGoOfThePagesItLeaves)
{
    struct Row {
        const char* road;
        std::function<void(const PdfDocument&, int)> read;
    };
    const Row rows[] = {
        {"drawn", [](const PdfDocument& doc, int page) { doc.displayList(page)->renderRgb32(0.1, {}); }},
        {"text read", [](const PdfDocument& doc, int page) { EXPECT_FALSE(doc.textPage(page).blocks.empty()); }},
        {"rendered", [](const PdfDocument& doc, int page) { EXPECT_FALSE(doc.render(page, 0.1).isNull()); }},
    };
    for (const Row& row : rows) {
        auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(1200));
        ASSERT_FALSE(platform::pagesMapped(*doc)) << row.road;
        platform::mapPages(*doc); // as a worker does soon after opening
        ASSERT_LT(platform::parsedObjectCount(*doc), 10) << row.road;
        // On a worker, as the window's tiles and texts are read.
        // Down to page 400, then back to the first pages.
        std::thread worker([&] {
            for (int page = 0; page < 400; ++page) row.read(*doc, page);
            for (int page = 0; page < 20; ++page) row.read(*doc, page % 2);
        });
        worker.join();
        EXPECT_LT(platform::parsedObjectCount(*doc), 60) << row.road;
        // What was let go is read again from the file when it is needed.
        EXPECT_EQ(doc->textPage(3).text(), "Page 4\n") << row.road;
    }
}

TEST(PdfPageMap, ALongDocumentReadWholeKeepsNoneOfItsPagesParsed)
{
    // Settling reads every object and the map every page: a page not on
    // screen then costs its few bytes in the map, not its dictionary.
    auto doc = PdfDocument::openBytes(testsupport::makeBlankPagesPdf(2000, 1499));
    ASSERT_FALSE(platform::pagesMapped(*doc));
    while (!doc->settle(300)) doc->render(0, 0.2);
    platform::mapPages(*doc);
    EXPECT_LT(platform::parsedObjectCount(*doc), 50);
    expectMapMatchesPages(*doc);

    // What was let go is read again from the file; an edit stays.
    platform::movePage(*doc, 1499, 0);
    platform::setPageRotation(*doc, platform::pageId(*doc, 1), 90);
    while (!doc->settle(300)) {}
    platform::mapPages(*doc);
    const auto saved = PdfDocument::openBytes(doc->save());
    platform::mapPages(*saved);
    ASSERT_EQ(saved->pageCount(), 2000);
    EXPECT_EQ(saved->pageGeometry(0).displaySize.width, 792);
    EXPECT_EQ(saved->pageGeometry(1).rotation, 90);
    expectMapMatchesPages(*saved);
}
