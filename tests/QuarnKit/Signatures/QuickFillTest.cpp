// The date, checkmark and cross stamps on upright, turned and tiny pages.
#include "QuarnKit/Signatures/QuickFill.h"
#include "QuarnKit/Markup/MarkupGeometry.h"
#include "QuarnKit/Signatures/SignatureInk.h"

#include <gtest/gtest.h>

using namespace quarnkit;

namespace {

const PdfRect letter{0, 0, 612, 792};

PdfRect pointsBox(const PdfAnnotation& a)
{
    std::vector<PdfPoint> all;
    for (const auto& s : a.inkList) all.insert(all.end(), s.begin(), s.end());
    return MarkupGeometry::bounds(all, 0);
}

} // namespace

TEST(QuickFill, DateIsTextOnAnUprightPageAndInkOnATurnedOne)
{
    struct Case {
        int rotation;
        const char* subtype;
    };
    const Case cases[] = {{0, "FreeText"}, {360, "FreeText"}, {90, "Ink"}, {180, "Ink"}, {270, "Ink"}, {-90, "Ink"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rotation);
        const auto a = QuickFill::date(" 12/7/26\n", {300, 400}, letter, c.rotation, SignatureInk::color);
        ASSERT_TRUE(a);
        EXPECT_EQ(a->subtype, c.subtype);
        if (a->subtype == "FreeText") {
            EXPECT_EQ(a->contents, "12/7/26");
            EXPECT_EQ(a->fontName, "Helv");
            EXPECT_EQ(a->fontSize, 12);
            EXPECT_NEAR(a->rect.midX(), 300, 1e-9);
            EXPECT_NEAR(a->rect.midY(), 400, 1e-9);
            continue;
        }
        // Lettered 8.64 high on the shown page: across the page's x on a quarter turn.
        const PdfRect ink = pointsBox(*a);
        const bool quarter = c.rotation % 180 != 0;
        const double across = quarter ? ink.width : ink.height, along = quarter ? ink.height : ink.width;
        EXPECT_GT(across, 5);
        EXPECT_LT(across, 8.64);
        EXPECT_GT(along, 3 * across);
        EXPECT_NEAR(ink.midX(), 300, 1);
        EXPECT_NEAR(ink.midY(), 400, 1);
    }
    for (int rotation : {0, 90})
        EXPECT_FALSE(QuickFill::date(" \n ", {300, 400}, letter, rotation, SignatureInk::color));
}

TEST(QuickFill, DateNearTheRightEdgeKeepsItsWidthAndEndsInsideThePage)
{
    const auto middle = QuickFill::date("12/7/26", {300, 400}, letter, 0, SignatureInk::color);
    const auto edge = QuickFill::date("12/7/26", {610, 400}, letter, 0, SignatureInk::color);
    ASSERT_TRUE(middle && edge);
    EXPECT_EQ(edge->rect.width, middle->rect.width); // not narrowed, which would cut the date short
    EXPECT_NEAR(edge->rect.maxX(), 608, 1e-9);
    const auto corner = QuickFill::date("12/7/26", {0, 0}, letter, 0, SignatureInk::color);
    ASSERT_TRUE(corner);
    EXPECT_EQ(corner->rect.x, 4);
    EXPECT_EQ(corner->rect.y, 4);
}

TEST(QuickFill, ADateOnANarrowPageNarrowsItsBoxAndWrapsRatherThanVanishing)
{
    const struct {
        const char* name;
        PdfRect page;
        std::string date;
        double width;
        const char* drawn; // its lines, as MuPDF reads them
    } cases[] = {
        {"80 points wide", {0, 0, 80, 300}, "2026-12-07", 72, "2026-12-07\n\n"},
        {"60 points wide", {0, 0, 60, 300}, "7 Dec 2026", 52, "7 Dec\n2026\n\n"},
        // Never narrower than any text box; on a page narrower still its right edge wins.
        {"30 points wide", {0, 0, 30, 300}, "12/7/26", 28, "12/7/26\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto date = QuickFill::date(c.date, {c.page.midX(), c.page.midY()}, c.page, 0, SignatureInk::color);
        ASSERT_TRUE(date);
        EXPECT_EQ(date->subtype, "FreeText");
        EXPECT_EQ(date->rect.width, c.width);
        EXPECT_EQ(date->rect.maxX(), c.page.maxX() - 4);
        auto doc = platform::PdfDocument::createBlank(c.page.width, c.page.height);
        const int mark = platform::PdfAnnotations::add(*doc, 0, *date);
        EXPECT_EQ(platform::PdfAnnotations::drawnText(*doc, 0, mark), c.drawn);
    }
}

TEST(QuickFill, DateColoursFollowTheInk)
{
    const auto dark = QuickFill::date("12/7/26", {300, 400}, letter, 0, SignatureInk::color);
    ASSERT_TRUE(dark);
    EXPECT_EQ(dark->fontColor, (platform::PdfColor{0.16, 0.15, 0.14}));
    EXPECT_FALSE(dark->interiorColor);
    EXPECT_EQ(dark->borderWidth, 0);

    const auto light = QuickFill::date("12/7/26", {300, 400}, letter, 0, RGBA::white);
    ASSERT_TRUE(light);
    EXPECT_EQ(light->fontColor, (platform::PdfColor{1, 1, 1}));
    EXPECT_EQ(light->interiorColor, (platform::PdfColor{0.12, 0.12, 0.12}));
}

TEST(QuickFill, CheckmarkAndCrossShrinkToSmallPages)
{
    struct Case {
        const char* name;
        PdfRect page;
        int rotation;
        std::optional<double> checkSide, crossSide;
    };
    const Case cases[] = {
        {"letter", letter, 0, 16, 14},
        {"20 points wide", {0, 0, 20, 300}, 0, 12, 12},
        {"20 points wide, turned", {0, 0, 20, 300}, 90, 12, 12},
        {"8 points wide", {0, 0, 8, 300}, 0, std::nullopt, std::nullopt},
        {"7 points high", {0, 0, 300, 7}, 0, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PdfPoint center{c.page.midX(), c.page.midY()};
        const auto check = QuickFill::checkmark(center, c.page, c.rotation, SignatureInk::color);
        const auto cross = QuickFill::cross(center, c.page, c.rotation, SignatureInk::color);
        const auto date = QuickFill::date("12/7/26", center, c.page, c.rotation, SignatureInk::color);
        ASSERT_EQ(check.has_value(), c.checkSide.has_value());
        ASSERT_EQ(cross.has_value(), c.crossSide.has_value());
        if (!check) {
            EXPECT_FALSE(date); // nothing fits inside the margin
            continue;
        }
        // The strokes span 0.88 and 0.8 of the square's side.
        EXPECT_NEAR(std::max(pointsBox(*check).width, pointsBox(*check).height), 0.88 * *c.checkSide, 1e-9);
        EXPECT_NEAR(pointsBox(*cross).width, 0.8 * *c.crossSide, 1e-9);
        EXPECT_EQ(check->borderWidth, 2.2);
        EXPECT_EQ(cross->borderWidth, 2.0);
        EXPECT_EQ(cross->inkList.size(), 2u);
        EXPECT_NEAR(check->rect.minX(), pointsBox(*check).minX() - 3.1, 1e-9); // half the pen and 2
        EXPECT_TRUE(c.page.contains({pointsBox(*check).minX(), pointsBox(*check).minY()}));
        EXPECT_TRUE(c.page.contains({pointsBox(*check).maxX(), pointsBox(*check).maxY()}));
    }
}

TEST(QuickFill, CheckmarkTurnsWithThePage)
{
    // The tick's long arm rises to the right on screen: on a page turned a
    // quarter clockwise that is upwards along the page's y.
    const auto upright = QuickFill::checkmark({100, 100}, letter, 0, SignatureInk::color);
    const auto turned = QuickFill::checkmark({100, 100}, letter, 90, SignatureInk::color);
    ASSERT_TRUE(upright && turned);
    const auto& u = upright->inkList[0];
    const auto& t = turned->inkList[0];
    ASSERT_EQ(u.size(), 3u);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_GT(u[2].x - u[1].x, 0); // the long arm goes right …
    EXPECT_GT(u[2].y - u[1].y, 0); // … and up
    EXPECT_GT(t[2].y - t[1].y, 0); // right on screen is up the turned page
    EXPECT_LT(t[2].x - t[1].x, 0); // up on screen is towards the page's left
    EXPECT_EQ(t[0], (PdfPoint{92 + 16 - 0.52 * 16, 92 + 0.06 * 16}));
}

TEST(QuickFill, DateStringIsTheLocalesShortDate)
{
    const QDate day(2026, 12, 7);
    EXPECT_EQ(QuickFill::dateString(day, QLocale(QLocale::English, QLocale::UnitedStates)), "12/7/26");
    EXPECT_EQ(QuickFill::dateString(day, QLocale(QLocale::German, QLocale::Germany)), "07.12.26");
}
