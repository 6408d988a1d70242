#include "QuarnKit/Viewer/PrintLayout.h"

#include <gtest/gtest.h>

using quarnkit::placeOnSheet;
using quarnkit::printedPages;

TEST(PrintLayout, TheChosenRangesNameThePagesPrinted)
{
    const struct {
        int pageCount;
        std::vector<std::pair<int, int>> ranges;
        std::vector<int> pages;
    } cases[] = {
        {4, {}, {0, 1, 2, 3}},
        {4, {{2, 2}}, {1}},
        {4, {{3, 4}, {1, 1}}, {0, 2, 3}},
        {4, {{2, 9}}, {1, 2, 3}},
        {4, {{1, 2}, {2, 3}}, {0, 1, 2}},
        {4, {{5, 9}}, {}},
        {0, {}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(printedPages(c.pageCount, c.ranges), c.pages);
}

TEST(PrintLayout, APageFillsTheSheetCentredAndTurnedToItsOrientation)
{
    const QRectF portrait(0, 0, 600, 800);
    const struct {
        platform::PdfSize page;
        QRectF area;
        QRectF rect;
        bool turned;
    } cases[] = {
        {{300, 400}, portrait, QRectF(0, 0, 600, 800), false},
        {{300, 300}, portrait, QRectF(0, 100, 600, 600), false},
        {{800, 600}, portrait, QRectF(0, 0, 600, 800), true},
        {{400, 100}, QRectF(10, 20, 600, 800), QRectF(210, 20, 200, 800), true},
        {{301, 300}, portrait, QRectF(0, 100.997, 600, 598.007), false}, // within a point: never turned
    };
    for (const auto& c : cases) {
        const auto placed = placeOnSheet(c.page, c.area);
        EXPECT_EQ(placed.turned, c.turned);
        EXPECT_NEAR(placed.rect.x(), c.rect.x(), 0.01);
        EXPECT_NEAR(placed.rect.y(), c.rect.y(), 0.01);
        EXPECT_NEAR(placed.rect.width(), c.rect.width(), 0.01);
        EXPECT_NEAR(placed.rect.height(), c.rect.height(), 0.01);
    }
    EXPECT_TRUE(placeOnSheet({0, 100}, portrait).rect.isEmpty());
}
