// Where pages sit in the four display modes, with and without a cover.
#include "QuarnKit/Viewer/PageLayout.h"

#include "QuarnKit/Viewer/LinkSafety.h"

#include <gtest/gtest.h>

using namespace quarnkit;

// ---------------------------------------------------------------- layout of the four modes

TEST(PageLayout, RowsOfTheFourModesAndTheCover)
{
    using Rows = std::vector<std::vector<int>>;
    EXPECT_EQ(PageLayout::groupRows(3, false, false), (Rows{{0}, {1}, {2}}));
    EXPECT_EQ(PageLayout::groupRows(3, false, true), (Rows{{0}, {1}, {2}})); // the cover needs spreads
    EXPECT_EQ(PageLayout::groupRows(5, true, false), (Rows{{0, 1}, {2, 3}, {4}}));
    EXPECT_EQ(PageLayout::groupRows(5, true, true), (Rows{{0}, {1, 2}, {3, 4}}));
    EXPECT_EQ(PageLayout::groupRows(0, true, true), Rows{});
}

TEST(PageLayout, ContinuousStacksPagesWithPageBreaks)
{
    PageLayout layout;
    layout.sizes = {{612, 792}, {300, 400}, {612, 792}};
    layout.mode = PdfDisplayMode::singlePageContinuous;
    layout.build();
    ASSERT_EQ(layout.rowCount(), 3);
    EXPECT_EQ(layout.pageRects[0], QRectF(0, 8, 612, 792));
    EXPECT_EQ(layout.pageRects[1], QRectF(156, 816, 300, 400)); // centred
    EXPECT_EQ(layout.pageRects[2], QRectF(0, 1232, 612, 792));
    EXPECT_EQ(layout.contentSize, QSizeF(612, 2032));
    EXPECT_EQ(layout.rowAtOrBelow(0), 0);
    EXPECT_EQ(layout.rowAtOrBelow(805), 1);
    EXPECT_EQ(layout.pagesIn(QRectF(0, 700, 612, 200)), (std::vector<int>{0, 1}));
}

// The row being read is the one the band of the view shows: the first showing
// half of itself or half the band, else the one showing most; a sliver above
// a row shown whole never wins, whatever the rows' heights.
TEST(PageLayout, TheRowReadIsTheRowTheViewShows)
{
    PageLayout layout;
    layout.sizes = {{612, 792}, {300, 400}, {612, 792}}; // rows 8-800, 816-1216, 1232-2024
    layout.mode = PdfDisplayMode::singlePageContinuous;
    layout.build();
    const struct {
        double top, bottom;
        int row;
    } rows[] = {
        {0, 600, 0},     // the first page alone
        {520, 1120, 1},  // 280 of the first page, less than half the view; the short page whole
        {1000, 1600, 1}, // more than half the short page still shown
        {1100, 1700, 2}, // less than half of it: the page below
        {780, 830, 0},   // no row shows half of itself or of the band: the one showing most
        {1900, 2500, 2}, // past the end
    };
    for (const auto& row : rows)
        EXPECT_EQ(layout.rowRead(row.top, row.bottom), row.row) << row.top << " to " << row.bottom;
    layout.mode = PdfDisplayMode::singlePage;
    layout.shownRow = 1;
    layout.build();
    EXPECT_EQ(layout.rowRead(0, 600), 1); // one row at a time: the row shown
}

// Page Down shows the rest of the row read a screen at a time, never past its
// edge, then leaves it to the next row; Page Up the same way back.
TEST(PageLayout, PageDownShowsTheRestOfTheRowThenLeavesIt)
{
    PageLayout layout;
    layout.sizes = {{612, 792}, {300, 400}, {612, 792}}; // rows 8-800, 816-1216, 1232-2024
    layout.build();
    const struct {
        int row;
        double top;
        bool back;
        std::optional<double> to;
    } rows[] = {
        {0, 0, false, 200},     // a screen on, stopped at the row's end
        {0, 200, false, {}},    // its end shows: the next row
        {0, 199.5, false, {}},  // within a pixel of it
        {2, 1232, false, 1424}, //
        {2, 1424, true, 1232},  // back, stopped at the row's top
        {2, 1900, true, 1300},  // a screen back
        {2, 1232, true, {}},    // its top shows: the row before
        {1, 816, false, {}},    // a row shorter than the view
        {1, 700, true, {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(layout.screenWithinRow(row.row, row.top, row.top + 600, row.back, 1), row.to)
            << row.row << " from " << row.top << (row.back ? " back" : "");
}

TEST(PageLayout, SpreadsShareASpineAndTheCoverSitsRight)
{
    PageLayout layout;
    layout.sizes.assign(4, {600, 800});
    layout.mode = PdfDisplayMode::twoUpContinuous;
    layout.build();
    EXPECT_EQ(layout.pageRects[0], QRectF(0, 8, 600, 800));
    EXPECT_EQ(layout.pageRects[1], QRectF(608, 8, 600, 800));
    EXPECT_EQ(layout.contentSize.width(), 1208);

    layout.asBook = true;
    layout.build();
    ASSERT_EQ(layout.rowCount(), 3);
    EXPECT_EQ(layout.pageRects[0], QRectF(608, 8, 600, 800)); // the cover, alone, on the right
    EXPECT_EQ(layout.pageRects[1], QRectF(0, 824, 600, 800));
    EXPECT_EQ(layout.pageRects[2], QRectF(608, 824, 600, 800));
    EXPECT_EQ(layout.pageRects[3], QRectF(0, 1640, 600, 800)); // a lone last page on the left
}

TEST(PageLayout, NonContinuousModesLayOutOneRow)
{
    PageLayout layout;
    layout.sizes.assign(5, {600, 800});
    layout.mode = PdfDisplayMode::twoUp;
    layout.shownRow = 1;
    layout.build();
    EXPECT_TRUE(layout.pageRects[0].isEmpty());
    EXPECT_EQ(layout.pageRects[2], QRectF(0, 8, 600, 800));
    EXPECT_EQ(layout.pageRects[3], QRectF(608, 8, 600, 800));
    EXPECT_TRUE(layout.pageRects[4].isEmpty());
    EXPECT_EQ(layout.contentSize, QSizeF(1208, 816));
    layout.mode = PdfDisplayMode::singlePage;
    layout.shownRow = 99; // clamped
    layout.build();
    EXPECT_EQ(layout.shownRow, 4);
    EXPECT_EQ(layout.pageRects[4], QRectF(0, 8, 600, 800));
}

TEST(LinkSafety, OnlyWebAndMailLinksLeaveTheDocument)
{
    const struct {
        const char* url;
        bool safe;
    } cases[] = {
        {"https://example.org/a?b", true},
        {"HTTP://example.org", true},
        {"mailto:ada@example.org", true},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"smb://host/share", false},
        {"launch:calc", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(externalLinkTarget(QUrl(QString::fromLatin1(c.url))).has_value(), c.safe) << c.url;
}
