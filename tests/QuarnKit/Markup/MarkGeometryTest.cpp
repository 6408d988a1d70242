#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/InkStroke.h"
#include "QuarnKit/Markup/MarkGeometry.h"
#include "QuarnKit/Markup/MarkOrder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quarnkit;
using platform::PdfDocument;
namespace annots = platform::PdfAnnotations;

namespace {

void expectRect(const PdfRect& got, const PdfRect& want)
{
    EXPECT_NEAR(got.x, want.x, 1e-9);
    EXPECT_NEAR(got.y, want.y, 1e-9);
    EXPECT_NEAR(got.width, want.width, 1e-9);
    EXPECT_NEAR(got.height, want.height, 1e-9);
}

PdfAnnotation lineMark(double width)
{
    PdfAnnotation a = *AnnotationFactory::line({0, 0}, {100, 0}, RGBA::ink, width, false);
    return a;
}

} // namespace

TEST(MarkupGeometry, ResizeByHandles)
{
    const PdfRect box{100, 100, 100, 50};
    expectRect(MarkupGeometry::resize(box, MarkHandle::start, {0, 0}, false, 4), box);
    expectRect(MarkupGeometry::resize({200, 150, -100, -50}, MarkHandle::end, {0, 0}, false, 4), box);
    // Dragging bottom-right past the fixed top-left corner: a minSize box hanging from it.
    expectRect(MarkupGeometry::resize(box, MarkHandle::bottomRight, {50, 200}, false, 8), {100, 142, 8, 8});
    expectRect(MarkupGeometry::resize(box, MarkHandle::bottomRight, {260, 60}, false, 8), {100, 60, 160, 90});
    // With keepAspect the box reaches the pointer in both directions.
    expectRect(MarkupGeometry::resize(box, MarkHandle::bottomRight, {300, 140}, true, 8), {100, 50, 200, 100});
    expectRect(MarkupGeometry::resize(box, MarkHandle::topLeft, {90, 250}, true, 8), {-100, 100, 300, 150});
    // A box with no height uses aspect 1.
    expectRect(MarkupGeometry::resize({0, 0, 100, 0}, MarkHandle::topRight, {50, 80}, true, 4), {0, 0, 80, 80});
    // Edges: the opposite edge stays, the box stays centred across.
    expectRect(MarkupGeometry::resize(box, MarkHandle::right, {300, 0}, false, 4), {100, 100, 200, 50});
    expectRect(MarkupGeometry::resize(box, MarkHandle::top, {0, 200}, true, 4), {50, 100, 200, 100});
    expectRect(MarkupGeometry::resize(box, MarkHandle::left, {400, 0}, false, 4), {196, 100, 4, 50});
}

TEST(MarkupGeometry, ClampAndSegments)
{
    expectRect(MarkupGeometry::clamp({-20, 30, 50, 50}, {0, 0, 100, 100}), {0, 30, 50, 50});
    expectRect(MarkupGeometry::clamp({90, 90, 50, 50}, {0, 0, 100, 100}), {50, 50, 50, 50});
    expectRect(MarkupGeometry::clamp({40, 40, 300, 20}, {10, 10, 100, 100}), {10, 40, 300, 20});
    EXPECT_DOUBLE_EQ(MarkupGeometry::distanceToSegment({5, 5}, {0, 0}, {10, 0}), 5);
    EXPECT_DOUBLE_EQ(MarkupGeometry::distanceToSegment({-3, 4}, {0, 0}, {10, 0}), 5);
    EXPECT_DOUBLE_EQ(MarkupGeometry::distanceToSegment({3, 4}, {0, 0}, {0, 0}), 5);
}

TEST(MarkupGeometry, PastePlacementSteppingOffIdenticalMarks)
{
    const PdfRect page{0, 0, 612, 792};
    const PdfRect r{100, 100, 50, 50};
    EXPECT_EQ(MarkupGeometry::pasteOffset({r}, {{300, 300, 50, 50}}, 12, page), (PdfPoint{0, 0}));
    EXPECT_EQ(MarkupGeometry::pasteOffset({r}, {r}, 12, page), (PdfPoint{12, -12}));
    EXPECT_EQ(MarkupGeometry::pasteOffset({r}, {r, {112.2, 87.9, 50, 50}}, 12, page), (PdfPoint{24, -24}));
    EXPECT_EQ(MarkupGeometry::pasteOffset({}, {r}, 12, page), (PdfPoint{0, 0}));
    // At the right edge the clamped offset is what is compared and returned.
    const PdfRect edge{562, 400, 50, 50};
    EXPECT_EQ(MarkupGeometry::pasteOffset({edge}, {edge}, 12, page), (PdfPoint{0, -12}));
    expectRect(MarkupGeometry::pasteBounds(r, {r}, 12, page), {112, 88, 50, 50});

    // A corner where every spot is taken: the marks stay on the page.
    const PdfRect corner{562, 0, 50, 50};
    const PdfPoint stuck = MarkupGeometry::pasteOffset({corner}, {corner}, 12, page);
    EXPECT_EQ(stuck, (PdfPoint{0, 0}));
}

TEST(MarkupGeometry, AStampStepsOffEveryFrameItWouldCover)
{
    const PdfRect page{0, 0, 612, 792};
    const PdfRect r{100, 100, 20, 20};
    const struct {
        std::vector<PdfRect> taken;
        PdfPoint offset;
    } cases[] = {
        {{}, {0, 0}},
        {{{121, 100, 20, 20}}, {0, 0}},      // beside it, not over it
        {{{110, 105, 20, 20}}, {24, -24}},   // partly under it: off it altogether
        {{{90, 90, 80, 40}}, {36, -36}},     // a wider frame: off its bottom edge
        {{r, {112, 88, 20, 20}}, {36, -36}}, // two in a row
    };
    for (const auto& c : cases) EXPECT_EQ(MarkupGeometry::clearOffset(r, c.taken, 12, page), c.offset);
}

TEST(MarkFrame, HandlesAndLineBounds)
{
    EXPECT_EQ(MarkEditing::handles(*AnnotationFactory::rectangle({0, 0}, {10, 10}, RGBA::ink, 1, false)).size(), 8u);
    EXPECT_EQ(MarkEditing::handles(lineMark(1)), (std::vector<MarkHandle>{MarkHandle::start, MarkHandle::end}));
    EXPECT_TRUE(MarkEditing::handles(*AnnotationFactory::highlight({0, 0, 10, 10}, RGBA::ink)).empty());
    PdfAnnotation link;
    link.subtype = "Link";
    EXPECT_TRUE(MarkEditing::handles(link).empty());
    EXPECT_FALSE(MarkEditing::lineEnds(link));
    EXPECT_EQ(handlePoint(MarkHandle::topLeft, {0, 0, 10, 20}), (PdfPoint{0, 20}));
    EXPECT_EQ(handlePoint(MarkHandle::end, {0, 0, 10, 20}), (PdfPoint{5, 10}));

    const MarkFrame f = MarkFrame::of(lineMark(1));
    expectRect(f.withEnds({0, 0}, {100, 0}, 1, true).bounds, {-18, -18, 136, 36});
    expectRect(f.withEnds({0, 0}, {100, 0}, 1, false).bounds, {-6, -6, 112, 12});
    const MarkFrame wide = f.withEnds({0, 0}, {100, 0}, 5, false);
    expectRect(wide.bounds, {-12, -12, 124, 24});
    EXPECT_EQ(*wide.start, (PdfPoint{12, 12}));
}

TEST(MarkFrame, MovingAndPaddingKeepStrokesInPlace)
{
    PdfAnnotation ink = *AnnotationFactory::ink({{10, 10}, {30, 50}}, RGBA::ink, 2);
    const auto before = ink.inkList;
    MarkFrame::of(ink).padded(4).apply(ink);
    EXPECT_EQ(ink.inkList, before);
    expectRect(ink.rect, {2, 2, 36, 56});

    MarkFrame::of(ink).offset({5, -5}).apply(ink);
    EXPECT_EQ(ink.inkList[0][0], (PdfPoint{15, 5}));

    PdfAnnotation line = lineMark(2);
    MarkFrame::of(line).padded(4).apply(line);
    EXPECT_EQ(*line.lineStart, (PdfPoint{0, 0}));
    MarkFrame::of(line).offset({1, 2}).apply(line);
    EXPECT_EQ(*line.lineEnd, (PdfPoint{101, 2}));

    PdfAnnotation high = *AnnotationFactory::highlight({10, 10, 40, 12}, RGBA::ink);
    MarkFrame::of(high).offset({100, 0}).apply(high);
    EXPECT_EQ(high.quads[0].ul, (PdfPoint{110, 22}));
}

TEST(MarkFrame, ResizedScalesStrokesIntoTheNewRoom)
{
    PdfAnnotation ink = *AnnotationFactory::ink({{10, 10}, {30, 50}}, RGBA::ink, 2); // pad 4: bounds (6,6)-(34,54)
    MarkFrame::of(ink).resized({6, 6, 48, 88}).apply(ink);
    EXPECT_EQ(ink.inkList[0][0], (PdfPoint{10, 10}));
    EXPECT_EQ(ink.inkList[0][1], (PdfPoint{50, 90}));

    // A vertical stroke has no width: centred in the new room, scaled only vertically.
    PdfAnnotation vertical = *AnnotationFactory::ink({{10, 10}, {10, 50}}, RGBA::ink, 2);
    MarkFrame::of(vertical).resized({0, 0, 100, 48}).apply(vertical);
    EXPECT_NEAR(vertical.inkList[0][0].x, 50, 1e-9);
    EXPECT_NEAR(vertical.inkList[0][1].y, 44, 1e-9);

    PdfAnnotation box = *AnnotationFactory::rectangle({0, 0}, {10, 10}, RGBA::ink, 1, false);
    MarkFrame frame = MarkFrame::of(box);
    EXPECT_FALSE(frame.strokeBounds());
    EXPECT_EQ(frame.resized({5, 5, 20, 20}).bounds, (PdfRect{5, 5, 20, 20}));
}

TEST(MarkEditing, HitsFollowStrokesAndBorders)
{
    PdfAnnotation line = *AnnotationFactory::line({0, 0}, {100, 0}, RGBA::ink, 4, false);
    EXPECT_TRUE(MarkEditing::hits(line, {50, 6.9}, 5));
    EXPECT_FALSE(MarkEditing::hits(line, {50, 7.1}, 5));

    PdfAnnotation box = *AnnotationFactory::rectangle({0, 0}, {100, 100}, RGBA::ink, 4, false);
    EXPECT_TRUE(MarkEditing::hits(box, {104.9, 50}, 5));
    EXPECT_FALSE(MarkEditing::hits(box, {105.5, 50}, 5));

    PdfAnnotation ink = *AnnotationFactory::ink({{0, 0}, {50, 50}, {100, 0}}, RGBA::ink, 2);
    EXPECT_TRUE(MarkEditing::hits(ink, {25, 27}, 2));
    EXPECT_FALSE(MarkEditing::hits(ink, {50, 10}, 2)); // inside its bounds, away from the stroke
}

TEST(MarkEditing, SetHeadSwitchesTheEndingAndRefitsTheBounds)
{
    PdfAnnotation line = lineMark(1);
    MarkEditing::setHead(true, line);
    EXPECT_EQ(line.endEnding, "ClosedArrow");
    EXPECT_EQ(line.startEnding, "None");
    expectRect(line.rect, {-18, -18, 136, 36});
    EXPECT_EQ(*line.lineEnd, (PdfPoint{100, 0}));
    MarkEditing::setHead(false, line);
    expectRect(line.rect, {-6, -6, 112, 12});

    PdfAnnotation box = *AnnotationFactory::rectangle({0, 0}, {10, 10}, RGBA::ink, 1, false);
    const PdfAnnotation before = box;
    MarkEditing::setHead(true, box);
    EXPECT_EQ(box, before);
}

TEST(MarkOrder, StackingKeepsLinksAndPopupsInPlace)
{
    // A page whose /Annots starts with a link and holds a note with its popup.
    const std::string pdf =
        "%PDF-1.4\n1 0 obj <</Type/Catalog/Pages 2 0 R>> endobj\n"
        "2 0 obj <</Type/Pages/Kids[3 0 R]/Count 1>> endobj\n"
        "3 0 obj <</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Annots[4 0 R 5 0 R 6 0 R]>> endobj\n"
        "4 0 obj <</Type/Annot/Subtype/Link/Rect[0 0 10 10]>> endobj\n"
        "5 0 obj <</Type/Annot/Subtype/Text/Rect[20 20 42 42]/Contents(old)/Popup 6 0 R>> endobj\n"
        "6 0 obj <</Type/Annot/Subtype/Popup/Rect[50 50 200 120]/Parent 5 0 R>> endobj\n"
        "trailer <</Root 1 0 R>>\n%%EOF\n";
    auto doc = PdfDocument::openBytes(QByteArray::fromStdString(pdf));
    const int a = annots::add(*doc, 0, *AnnotationFactory::rectangle({100, 100}, {200, 200}, RGBA::ink, 1, false));
    const int b = annots::add(*doc, 0, *AnnotationFactory::ellipse({100, 100}, {200, 200}, RGBA::ink, 1, false));

    auto numbers = [&] {
        std::vector<int> out;
        for (const auto& x : MarkOrder::stack(*doc, 0)) out.push_back(x.objectNumber);
        return out;
    };
    EXPECT_EQ(numbers(), (std::vector<int>{4, 5, a, b}));
    EXPECT_FALSE(MarkOrder::toFront(MarkOrder::stack(*doc, 0), b)); // already on top
    EXPECT_FALSE(MarkOrder::toBack(MarkOrder::stack(*doc, 0), 5));  // already the first mark
    EXPECT_FALSE(MarkOrder::toFront(MarkOrder::stack(*doc, 0), 9999));

    const auto back = MarkOrder::toBack(MarkOrder::stack(*doc, 0), b);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, (std::vector<int>{4, b, 5, a})); // behind the marks, above the link
    EXPECT_TRUE(MarkOrder::restore(*doc, 0, *back));
    EXPECT_EQ(annots::order(*doc, 0), (std::vector<int>{4, 6, b, 5, a})); // the popup keeps its slot

    EXPECT_EQ(MarkOrder::toFront(MarkOrder::stack(*doc, 0), 5), (std::vector<int>{4, b, a, 5}));
    ASSERT_TRUE(MarkOrder::restore(*doc, 0, {4, b, a, 5}));

    const QByteArray unchanged = doc->save();
    MarkOrder::restore(*doc, 0, numbers());
    EXPECT_EQ(doc->save(), unchanged); // nothing to rewrite
    MarkOrder::restore(*doc, 0, {4, 5, a, b});
    EXPECT_EQ(numbers(), (std::vector<int>{4, 5, a, b}));
    const auto saved = PdfDocument::openBytes(doc->save());
    EXPECT_EQ(annots::find(*saved, 0, 6)->subtype, "Popup"); // the popup is still on the page
}

TEST(InkStroke, SmoothingAndReduction)
{
    const std::vector<PdfPoint> two{{0, 0}, {3, 4}};
    EXPECT_EQ(InkStroke::smooth(two), two);
    EXPECT_EQ(InkStroke::simplify(two, 0.3), two);

    const std::vector<PdfPoint> straight{{0, 0}, {5, 0}, {10, 0}};
    const auto smoothed = InkStroke::smooth(straight);
    EXPECT_EQ(smoothed.front(), (PdfPoint{0, 0}));
    EXPECT_EQ(smoothed.back(), (PdfPoint{10, 0}));
    EXPECT_EQ(smoothed.size(), 1u + 5u); // one segment of length 10: ceil(5) steps
    for (const auto& p : smoothed) EXPECT_NEAR(p.y, 0, 1e-12);
    EXPECT_EQ(InkStroke::simplify(smoothed, 0.3), (std::vector<PdfPoint>{{0, 0}, {10, 0}}));

    // Deviation of exactly the tolerance is not kept (strictly greater).
    EXPECT_EQ(InkStroke::simplify({{0, 0}, {5, 0.3}, {10, 0}}, 0.3), (std::vector<PdfPoint>{{0, 0}, {10, 0}}));
    EXPECT_EQ(InkStroke::simplify({{0, 0}, {5, 0.31}, {10, 0}}, 0.3).size(), 3u);

    // Long segments are capped at 16 points each.
    const auto capped = InkStroke::smooth({{0, 0}, {500, 0}, {1000, 0}});
    EXPECT_EQ(capped.size(), 1u + 16u);
    EXPECT_EQ(InkStroke::points({{0, 0}, {500, 0}, {1000, 0}}), (std::vector<PdfPoint>{{0, 0}, {1000, 0}}));
}

TEST(InkPath, PointsOfPaths)
{
    const std::vector<PdfPoint> ps{{1, 2}, {3, 4}, {5, 1}};
    EXPECT_EQ(InkPath::points(InkPath::polyline(ps)), ps);
    EXPECT_TRUE(InkPath::points(QPainterPath()).empty());
    QPainterPath rect;
    rect.moveTo(0, 0);
    rect.lineTo(10, 0);
    rect.lineTo(10, 10);
    rect.lineTo(0, 10);
    rect.closeSubpath();
    const auto closed = InkPath::points(rect);
    ASSERT_EQ(closed.size(), 5u);
    EXPECT_EQ(closed.back(), closed.front());
    QPainterPath curve;
    curve.moveTo(0, 0);
    curve.cubicTo(1, 1, 2, 2, 3, 0);
    curve.quadTo(4, 4, 5, 0);
    EXPECT_EQ(InkPath::points(curve), (std::vector<PdfPoint>{{0, 0}, {3, 0}, {5, 0}}));
}
