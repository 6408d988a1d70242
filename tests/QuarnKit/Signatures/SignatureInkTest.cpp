// Signature ink: pad strokes smoothed and normalised, outlines hatched into
// strokes, marks placed on upright and turned pages.
#include "QuarnKit/Signatures/SignatureInk.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace quarnkit;
using SignatureInk::FillRule;

namespace {

OutlinePath square(double x0, double y0, double x1, double y1, bool counterClockwise)
{
    OutlinePath p;
    p.moveTo({x0, y0});
    if (counterClockwise) {
        p.lineTo({x1, y0});
        p.lineTo({x1, y1});
        p.lineTo({x0, y1});
    } else {
        p.lineTo({x0, y1});
        p.lineTo({x1, y1});
        p.lineTo({x1, y0});
    }
    p.close();
    return p;
}

OutlinePath joined(OutlinePath a, const OutlinePath& b)
{
    a.elements.insert(a.elements.end(), b.elements.begin(), b.elements.end());
    return a;
}

// Whether any horizontal piece of the strokes runs through the box.
bool inkCrosses(const InkStrokes& strokes, const PdfRect& box)
{
    for (const auto& s : strokes)
        for (size_t i = 1; i < s.size(); ++i) {
            if (s[i].y != s[i - 1].y || s[i].y <= box.minY() || s[i].y >= box.maxY()) continue;
            const double x0 = std::min(s[i].x, s[i - 1].x), x1 = std::max(s[i].x, s[i - 1].x);
            if (x0 < box.maxX() && x1 > box.minX()) return true;
        }
    return false;
}

} // namespace

TEST(SignatureInk, SmoothingThinsAndRunsThroughTheKeptPoints)
{
    using Points = std::vector<PdfPoint>;
    struct Case {
        const char* name;
        Points in;
        Points out;
    };
    const Case cases[] = {
        {"nothing", {}, {}},
        {"one point is a dot", {{10, 10}}, {{10, 10}, {10.5, 10}}},
        {"two points stay", {{0, 0}, {30, 40}}, {{0, 0}, {30, 40}}},
        {"jitter within 0.75 is one dot", {{10, 10}, {10.3, 10.2}, {10.5, 9.6}, {10.1, 10.1}}, {{10, 10}, {10.5, 10}}},
        {"the end is where the mouse ended", {{0, 0}, {5, 0}, {5.5, 0}}, {{0, 0}, {5.5, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SignatureInk::smooth(c.in, 1.2), c.out);
    }

    const std::vector<PdfPoint> zigzag{{0, 0}, {10, 10}, {20, 0}, {30, 10}};
    const auto curve = SignatureInk::smooth(zigzag, 1.2);
    EXPECT_EQ(curve.front(), zigzag.front());
    EXPECT_EQ(curve.back(), zigzag.back());
    for (const auto& kept : zigzag) // every segment ends on its kept point
        EXPECT_NE(std::find_if(curve.begin(), curve.end(),
                               [&](PdfPoint p) { return std::hypot(p.x - kept.x, p.y - kept.y) < 1e-9; }),
                  curve.end());
    for (size_t i = 1; i < curve.size(); ++i)
        EXPECT_LT(std::hypot(curve[i].x - curve[i - 1].x, curve[i].y - curve[i - 1].y), 1.2 * 1.5);
}

TEST(SignatureInk, AClickIsADotOfTwoPointNineByTwoPointFour)
{
    const auto s = SignatureInk::drawn({{{100, 50}}, {}}, Signature::Kind::initials);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->source, Signature::Source::drawn);
    EXPECT_EQ(s->kind, Signature::Kind::initials);
    EXPECT_FALSE(s->text);
    EXPECT_NEAR(s->aspect, 2.9 / 2.4, 1e-9);
    EXPECT_NEAR(s->lineWidth, 2.4 / 2.9, 1e-9);
    const InkStrokes unit{{{0.4138, 0.5}, {0.5862, 0.5}}};
    EXPECT_EQ(s->strokes, unit);

    EXPECT_FALSE(SignatureInk::drawn({}, Signature::Kind::signature));
    EXPECT_FALSE(SignatureInk::drawn({{}, {}}, Signature::Kind::signature));
    EXPECT_FALSE(SignatureInk::drawn({{{1, 1}}}, Signature::Kind::signature, 0));
}

TEST(SignatureInk, NormalisingRoundsIntoTheUnitBox)
{
    const auto n = SignatureInk::normalize({{{0, 0}, {100, 20}}, {}, {{50, 10}}}, 2);
    ASSERT_TRUE(n);
    // The box is the points' grown by one pen half: 102 × 22.
    EXPECT_NEAR(n->aspect, 102.0 / 22, 1e-12);
    EXPECT_NEAR(n->lineWidth, 2.0 / 102, 1e-12);
    const InkStrokes unit{{{0.0098, 0.0455}, {0.9902, 0.9545}}, {}, {{0.5, 0.5}}};
    EXPECT_EQ(n->strokes, unit);
    EXPECT_FALSE(SignatureInk::normalize({{{5, 5}}}, 0.0005)); // a box of 0.0005: too small
}

TEST(SignatureInk, ARingHatchedKeepsItsHole)
{
    struct Case {
        FillRule rule;
        bool innerReversed; // as font outlines draw holes
        bool holeEmpty;
    };
    const Case cases[] = {
        {FillRule::evenOdd, true, true},
        {FillRule::nonZero, true, true},
        {FillRule::evenOdd, false, true},
        {FillRule::nonZero, false, false}, // same-direction contours fill the hole
    };
    const PdfRect hole{30, 30, 40, 40};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.rule) << (c.innerReversed ? " reversed" : " same way"));
        const OutlinePath ring = joined(square(0, 0, 100, 100, true), square(30, 30, 70, 70, !c.innerReversed));
        const InkStrokes strokes = SignatureInk::hatch(ring, 1, 1.7, c.rule);
        ASSERT_FALSE(strokes.empty());
        EXPECT_EQ(inkCrosses(strokes, hole.insetBy(1, 1)), !c.holeEmpty);
        EXPECT_TRUE(inkCrosses(strokes, {5, 5, 20, 90})); // the ring itself is inked
    }

    // A real ring-shaped glyph: Helvetica's O, whose hole is its middle.
    const auto helvetica = platform::OutlineFont::base14("Helvetica");
    ASSERT_TRUE(helvetica);
    const auto o = SignatureInk::outline("O", *helvetica, 100);
    ASSERT_TRUE(o);
    const PdfRect box = o->bounds();
    const PdfRect middle{box.midX() - 15, box.midY() - 15, 30, 30};
    for (const FillRule rule : {FillRule::evenOdd, FillRule::nonZero}) {
        const InkStrokes strokes = SignatureInk::hatch(*o, 100 * SignatureInk::hatchSpacing, 1.5455, rule);
        EXPECT_FALSE(inkCrosses(strokes, middle)) << int(rule);
        EXPECT_TRUE(inkCrosses(strokes, {box.minX(), middle.minY(), 8, 30})) << int(rule);
    }
}

TEST(SignatureInk, HatchZigzagsDownThroughEachShape)
{
    // Two bars side by side: one stroke each, running top down, ends inset by half the pen.
    const OutlinePath bars = joined(square(0, 0, 10, 5, true), square(20, 0, 30, 5, true));
    const InkStrokes strokes = SignatureInk::hatch(bars, 1, 1.7, FillRule::nonZero);
    ASSERT_EQ(strokes.size(), 2u);
    for (const auto& s : strokes) {
        ASSERT_EQ(s.size(), 10u); // five scanlines, two ends each
        EXPECT_EQ(s.front().y, 4.5);
        EXPECT_EQ(s.back().y, 0.5);
        EXPECT_EQ(s[1].x, s[2].x); // the next line starts at the nearer end
    }
    EXPECT_EQ(strokes[0][0].x, 0.85);
    EXPECT_EQ(strokes[0][1].x, 9.15);

    // A sliver narrower than the pen becomes a short dash at its middle.
    const InkStrokes dash = SignatureInk::hatch(square(10, 0, 11, 2, true), 1, 1.7, FillRule::nonZero);
    ASSERT_EQ(dash.size(), 1u);
    EXPECT_NEAR(dash[0][0].x, 10.45, 1e-12);
    EXPECT_NEAR(dash[0][1].x, 10.55, 1e-12);

    EXPECT_TRUE(SignatureInk::hatch(bars, 0, 1.7, FillRule::nonZero).empty());
    EXPECT_TRUE(SignatureInk::hatch(OutlinePath{}, 1, 1.7, FillRule::nonZero).empty());
}

TEST(SignatureInk, CurvesFlattenIntoBoundedPieces)
{
    struct Case {
        std::vector<PdfPoint> polygon;
        double tolerance;
        int steps;
    };
    const Case cases[] = {
        {{{0, 0}, {1, 0}, {1, 1}}, 1, 2},
        {{{0, 0}, {10, 0}, {10, 10}}, 1, 20},
        {{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, 0.5, 60},
        {{{0, 0}, {100, 0}, {100, 100}}, 1, 64},
    };
    for (const auto& c : cases) EXPECT_EQ(SignatureInk::curveSteps(c.polygon, c.tolerance), c.steps);

    // A quarter circle as one cubic: its flattened edges stay on the circle.
    OutlinePath arc;
    arc.moveTo({100, 0});
    arc.cubicTo({100, 55.23}, {55.23, 100}, {0, 100});
    const auto edges = SignatureInk::edges(arc, 1);
    EXPECT_EQ(edges.size(), 64u + 1); // the curve and the closing edge back down
    for (size_t i = 0; i + 1 < edges.size(); ++i) EXPECT_NEAR(std::hypot(edges[i].high.x, edges[i].high.y), 100, 0.1);
}

TEST(SignatureInk, PlacementFitsTheMarkInsideThePage)
{
    struct Case {
        const char* name;
        PdfSize size;
        PdfPoint around;
        PdfRect page;
        int rotation;
        std::optional<PdfRect> expected;
    };
    const PdfRect letter{0, 0, 612, 792};
    const Case cases[] = {
        {"upright", {180, 72}, {306, 396}, letter, 0, PdfRect{216, 360, 180, 72}},
        {"100 × 100 page", {180, 72}, {50, 50}, {0, 0, 100, 100}, 0, PdfRect{4, 31.6, 92, 36.8}},
        {"100 × 100 page, corner", {180, 72}, {0, 100}, {0, 0, 100, 100}, 0, PdfRect{4, 59.2, 92, 36.8}},
        {"quarter turn", {180, 72}, {306, 396}, letter, 90, PdfRect{270, 306, 72, 180}},
        {"three quarters", {180, 72}, {306, 396}, letter, 270, PdfRect{270, 306, 72, 180}},
        {"half turn", {180, 72}, {306, 396}, letter, 180, PdfRect{216, 360, 180, 72}},
        {"near the edge", {180, 72}, {600, 10}, letter, 0, PdfRect{428, 4, 180, 72}},
        {"offset page box", {60, 44}, {0, 0}, {100, 200, 300, 300}, 0, PdfRect{104, 204, 60, 44}},
        {"8 points wide", {180, 72}, {4, 50}, {0, 0, 8, 100}, 0, std::nullopt},
        {"6 points high", {180, 72}, {50, 3}, {0, 0, 100, 6}, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = SignatureInk::placement(c.size, c.around, c.page, c.rotation);
        ASSERT_EQ(r.has_value(), c.expected.has_value());
        if (!r) continue;
        EXPECT_NEAR(r->x, c.expected->x, 1e-9);
        EXPECT_NEAR(r->y, c.expected->y, 1e-9);
        EXPECT_NEAR(r->width, c.expected->width, 1e-9);
        EXPECT_NEAR(r->height, c.expected->height, 1e-9);
    }
}

TEST(SignatureInk, MarksTurnWithThePage)
{
    // A stroke from left to right across the signature, placed on each turn of
    // a page; on screen it must still run left to right, that is along the
    // page's x for 0, up the page for 90, right to left for 180, down for 270.
    Signature s;
    s.strokes = {{{0, 0.5}, {1, 0.5}}};
    s.lineWidth = 0.01;
    struct Case {
        int rotation;
        PdfRect rect;
        PdfPoint start, end;
    };
    const Case cases[] = {
        {0, {100, 100, 180, 72}, {100, 136}, {280, 136}},   {90, {100, 100, 72, 180}, {136, 100}, {136, 280}},
        {180, {100, 100, 180, 72}, {280, 136}, {100, 136}}, {270, {100, 100, 72, 180}, {136, 280}, {136, 100}},
        {-90, {100, 100, 72, 180}, {136, 280}, {136, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rotation);
        const auto a = SignatureInk::annotation(s, c.rect, c.rotation, SignatureInk::color);
        ASSERT_TRUE(a);
        ASSERT_EQ(a->inkList.size(), 1u);
        EXPECT_EQ(a->inkList[0].front(), c.start);
        EXPECT_EQ(a->inkList[0].back(), c.end);
        EXPECT_NEAR(*a->borderWidth, 1.8, 1e-9); // 180 upright × 0.01, within the drawn clamp
    }
}

TEST(SignatureInk, InkMarkBoundsAndDots)
{
    const auto a = SignatureInk::ink({{{10, 20}, {50, 60}}, {}, {{70, 30}}}, 2, SignatureInk::color);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->subtype, "Ink");
    EXPECT_EQ(a->rect, (PdfRect{7, 17, 66, 46})); // the points' box grown by 2 / 2 + 2
    EXPECT_EQ(*a->borderWidth, 2);
    EXPECT_EQ(a->color, (platform::PdfColor{0.16, 0.15, 0.14}));
    ASSERT_EQ(a->inkList.size(), 2u); // the empty stroke is dropped
    const std::vector<PdfPoint> dot{{70, 30}, {70.2, 30}};
    EXPECT_EQ(a->inkList[1], dot);

    EXPECT_FALSE(SignatureInk::ink({{}, {}}, 2, SignatureInk::color));
    EXPECT_FALSE(SignatureInk::ink({{{1, 1}}}, 0, SignatureInk::color));
}

TEST(SignatureInk, TypedTextNeedsWordsAndAnInstalledFont)
{
    const auto fonts = SignatureFont::installed();
    ASSERT_EQ(fonts.size(), SignatureFont::candidates().size()) << "install the fonts of scripts/install-deps.sh";
    const SignatureFont missing{"Nowhere", "Nowhere-Regular", "fonts/truetype/nowhere/Nowhere.ttf"};
    EXPECT_FALSE(missing.font());
    EXPECT_FALSE(SignatureInk::typed("Ada", missing, Signature::Kind::signature));
    for (const char* blank : {"", "   ", " \n\t "})
        EXPECT_FALSE(SignatureInk::typed(blank, fonts.front(), Signature::Kind::signature));

    const auto s = SignatureInk::typed("  Ada Lovelace\n", fonts.front(), Signature::Kind::signature);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->text, "Ada Lovelace");
    EXPECT_EQ(s->source, Signature::Source::typed);
    EXPECT_GT(s->aspect, 3);
    // The box is the outline's, give or take the pen; the pen is the hatch width.
    const auto outline = SignatureInk::outline("Ada Lovelace", *fonts.front().font(), 100);
    ASSERT_TRUE(outline);
    const double pen = 100 * SignatureInk::hatchSpacing * SignatureInk::hatchOverlap;
    EXPECT_NEAR(pen / s->lineWidth, outline->bounds().width, pen);
    EXPECT_NEAR(pen / s->lineWidth / s->aspect, outline->bounds().height, 3 * pen);
}

TEST(SignatureInk, PreviewImageFitsTheSignatureInItsMiddle)
{
    Signature s;
    s.strokes = {{{0, 0.5}, {1, 0.5}}};
    s.aspect = 4;
    s.lineWidth = 0.02;
    const QImage image = SignatureInk::image(s, {100, 100}, SignatureInk::color, 2);
    ASSERT_EQ(image.size(), QSize(200, 200));
    EXPECT_EQ(image.devicePixelRatio(), 2);
    // A 96-wide box (the rect inset by 2) centred: the line runs across the middle row.
    const QColor middle = image.pixelColor(100, 100);
    EXPECT_GT(middle.alpha(), 200);
    EXPECT_NEAR(middle.redF(), 0.16, 0.02);
    EXPECT_EQ(image.pixelColor(100, 80).alpha(), 0);
    EXPECT_EQ(image.pixelColor(1, 100).alpha(), 0); // inside the margin, beyond the round cap
    EXPECT_GT(image.pixelColor(8, 100).alpha(), 0);
    EXPECT_TRUE(SignatureInk::image(s, {3, 3}, SignatureInk::color).pixelColor(1, 1).alpha() == 0);
}
