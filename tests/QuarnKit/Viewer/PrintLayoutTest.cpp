#include "QuarnKit/Viewer/PrintLayout.h"

#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

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

TEST(PrintLayout, EachPageGoesOnASheetInsideItsMarginsTurnedToFit)
{
    // On a Letter sheet a Letter page fits the 540-point width between the
    // margins: x from 36 to 576, y from 46.6 to 745.4 (top down). A landscape
    // page is turned a quarter clockwise into the same place, so its top-left
    // corner comes to the top right.
    const auto document = quarnkit::QuarnDocument::fromData(testsupport::makeDarkPagesPdf({{612, 792}, {792, 612}}));
    ASSERT_TRUE(document);
    QTemporaryDir dir;
    const QString path = dir.filePath("sheets.pdf");
    ASSERT_TRUE(quarnkit::printingJob(*document, {0, 1}, QSizeF(612, 792), testsupport::chosen(path))());
    const auto sheets = platform::PdfDocument::openFile(path.toStdString());
    ASSERT_EQ(sheets->pageCount(), 2);
    const struct {
        QPoint at;
        bool dark[2]; // on the portrait page's sheet, on the landscape page's
    } cases[] = {
        {{20, 396}, {false, false}},  // left margin
        {{592, 396}, {false, false}}, // right margin
        {{306, 40}, {false, false}},  // above the page
        {{306, 752}, {false, false}}, // below it
        {{42, 396}, {true, true}},    // just inside the left edge
        {{570, 396}, {true, true}},   // just inside the right edge
        {{306, 740}, {true, true}},   // just above the bottom edge
        {{70, 80}, {false, true}},    // the page's top-left corner: the white square, unless turned
        {{542, 80}, {true, false}},   // the top right: where the turned page's square goes
    };
    for (int sheet = 0; sheet < 2; ++sheet) {
        const platform::PdfRect media = sheets->pageGeometry(sheet).mediaBox;
        EXPECT_NEAR(media.width, 612, 0.01);
        EXPECT_NEAR(media.height, 792, 0.01);
        const QImage image = sheets->render(sheet, 1.0);
        ASSERT_EQ(image.size(), QSize(612, 792));
        for (const auto& c : cases)
            EXPECT_EQ(image.pixelColor(c.at).lightness() < 128, c.dark[sheet])
                << sheet << " at " << c.at.x() << "," << c.at.y();
    }
    // A sheet too small for its margins prints nothing.
    EXPECT_FALSE(
        quarnkit::printingJob(*document, {0}, QSizeF(70, 70), testsupport::chosen(dir.filePath("none.pdf")))());
    // A page that cannot be drawn is no file that could not be written.
    const quarnkit::PrintOutcome undrawn =
        quarnkit::printingJob(*document, {0, 7}, QSizeF(612, 792), testsupport::chosen(dir.filePath("none.pdf")))();
    EXPECT_FALSE(undrawn);
    EXPECT_EQ(undrawn.reason.toStdString(), "");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("none.pdf")));
}
